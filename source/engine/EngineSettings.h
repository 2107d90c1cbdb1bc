#pragma once

// Engine settings records. They are plain data, written by the editor, random generation,
// paste and state loads on the message thread and read by the audio thread once per block.

struct GranulizerSettings
{
    int density = 8;        // grain slots in use
    int envelope = 0;       // 2 selects the Hann window
    float size = 441.0f;    // nominal grain length in samples
    float speed = 1.0f;     // step per sample, 1 = recorded pitch
    float sizeRnd = 0.0f;   // grain length jitter
    float speedRnd = 0.0f;  // grain rate jitter
    float ampRnd = 0.0f;    // grain amplitude jitter
    float outGain = 1.0f;   // gain of the grain sum
    bool freeze = false;    // no input is recorded while set
};

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
