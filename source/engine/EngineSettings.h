#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>

// Engine settings records. They are plain data, written by the editor, random generation,
// paste and state loads on the message thread and read by the audio thread once per block.

struct GranulizerSettings
{
    int density = 8;        // grain slots in use
    int envelope = 0;       // 2 selects the Hann window
    float size = 441.0f;    // grain length in samples at the current rate, derived from sizeMs
    float speed = 1.0f;     // step per sample, 1 = recorded pitch
    float sizeRnd = 0.0f;   // grain length jitter
    float speedRnd = 0.0f;  // grain rate jitter
    float ampRnd = 0.0f;    // grain amplitude jitter
    float outGain = 1.0f;   // gain of the grain sum
    bool freeze = false;    // no input is recorded while set
    double sizeMs = 10.0;   // grain length in milliseconds as the user set it: what is saved and shown
};

// The grain size keeps the milliseconds the user set; the samples the engine reads are derived
// from them at the current rate and from nothing else, so no order of restore and rate change,
// and no number of them, moves the milliseconds. Every writer of a size goes through
// setGrainSize, and a new rate through deriveGrainSize.

// Samples for a length in milliseconds at rate. A rate that is no positive finite number counts
// as 44.1 kHz; samples beyond the float range are held to its ends.
inline float grainSizeSamples (double ms, double rate) noexcept
{
    const double usedRate = std::isfinite (rate) && rate > 0.0 ? rate : 44100.0;
    return (float) std::clamp (ms * usedRate / 1000.0, -(double) FLT_MAX, (double) FLT_MAX);
}

// Sets the milliseconds, then the samples derived from them: the audio thread reads only the
// samples, a plain float written once.
inline void setGrainSize (GranulizerSettings& record, double ms, double rate) noexcept
{
    record.sizeMs = ms;
    record.size = grainSizeSamples (ms, rate);
}

inline void deriveGrainSize (GranulizerSettings& record, double rate) noexcept
{
    record.size = grainSizeSamples (record.sizeMs, rate);
}

struct ResonatorSettings
{
    float freq = 220.0f;    // Hz
    float feed = 0.9f;      // feedback
};

struct DiffuserSettings
{
    float feed = 0.0f;
    float damp = 1.0f;
};
