#pragma once

// A plain, sample-by-sample implementation of the audio block written straight from the
// arithmetic the engine is defined by: single precision except the resonator sections, the DC
// blocker, the level sum and the dry/wet step; the runtime's sinf; every grain and stage in
// order. It works on its own copy of a processor's state, so the optimised processBlock can be
// compared with it block by block. It carries only the guards that ordinary settings never reach,
// so it is meant for sound settings.

#include "processor/QuorilAudioProcessor.h"
#include "engine/Diffuser.h"
#include "engine/Granulizer.h"
#include "engine/ParameterRamp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace reference
{
inline float clamp01 (float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// Takes over a grain's drawn segment when it fits in the ring.
inline void takeOver (Grain& gr, int length)
{
    if (gr.newStart + gr.newLength < length)
    {
        gr.start = gr.newStart;
        gr.length = gr.newLength;
        gr.pos = (float) gr.newStart;
        gr.invLength = gr.newLength > 0 ? 1.0f / (float) gr.newLength : 0.0f;
    }
    gr.pending = false;
}

inline float granulizerSample (Granulizer& g, float x)
{
    const int length = g.bufferLength;
    float* buf = g.buffer.getWritePointer (0);
    if (! g.settings.freeze)
    {
        buf[g.writeIndex] = x;
        if (++g.writeIndex >= length)
            g.writeIndex = 0;
    }
    if (g.settings.envelope == 2)
        std::memcpy (g.windowTable, g.hannTable, sizeof (g.windowTable));

    float sum = 0.0f;
    for (int k = 0; k < std::clamp (g.settings.density, 0, 64); ++k)
    {
        Grain& gr = g.grains[k];
        const int effectiveLength = std::max (1, gr.length);
        if (gr.start + effectiveLength >= length)
        {
            if (gr.pending)
                takeOver (gr, length);
            continue;
        }

        const float w = g.windowTable[(int) (clamp01 ((gr.pos - (float) gr.start) * gr.invLength) * 2047.0f)];
        if (gr.pos < 0.0f || gr.pos > (float) (length - 1))
            gr.pos = 0.0f;

        const float p = gr.pos;
        const int i = (int) p;
        const float a = buf[i], b = p < (float) (length - 1) ? buf[i + 1] : buf[0];
        gr.lastPos = p;
        sum += ((b - a) * (p - (float) i) + a) * (w * gr.amplitude);
        gr.pos = (g.settings.speed + gr.rateOffset) + p;

        const float end = (float) (gr.start + effectiveLength);
        while (gr.pos >= end)
            gr.pos = (gr.pos - end) + (float) gr.start;
        if (gr.pending && (gr.lastPos > gr.pos || g.retrigger != 0))
            takeOver (gr, length);
    }
    g.retrigger = 0;
    return sum * g.settings.outGain;
}

inline float allpassSample (AllpassDelay& a, float x)
{
    const int length = a.buffer.getNumSamples();
    float* buf = a.buffer.getWritePointer (0);
    float r = (float) a.writeIndex - (float) a.delay;
    while (r < 0.0f)
        r += (float) length;
    const int i = (int) r, j = i + 1 >= length ? 0 : i + 1;
    const float rd = (buf[j] - buf[i]) * (r - (float) i) + buf[i];
    const float v = a.gain * rd + x;
    buf[a.writeIndex] = v;
    if (++a.writeIndex >= length)
        a.writeIndex = 0;
    return rd - a.gain * v;
}

inline float diffuserStep (Diffuser& f, float send)
{
    f.feedbackState = f.lastOut * f.feed * f.damp + (1.0f - f.damp) * f.feedbackState;
    const float in = (1.0f - f.feed * 0.65f) * send + f.feedbackState;
    const float y = allpassSample (f.stages[2], allpassSample (f.stages[1], allpassSample (f.stages[0], in)));
    f.lastOut = y;
    return y;
}

inline float resonatorSample (ResonatorState& r, float g)
{
    float v = std::clamp (r.feed, 0.0f, 0.99f) * r.lastOut + 0.9f * sinf (g);
    const double c = (double) r.coefficient;
    for (int k = 5; k >= 0; --k)
    {
        const double s = r.allpassStates[k];
        r.allpassStates[k] = c * s + (double) v;
        v = (float) (s - c * r.allpassStates[k]);
    }

    r.lastOut = v;
    return sinf (v);
}

// The processor's mutable state, copied, and the block run on it.
struct ReferenceEngine
{
    explicit ReferenceEngine (const QuorilAudioProcessor& p)
        : inputGain (p.inputGain), outputGain (p.outputGain),
          xRamp (*p.xPosRamp), yRamp (*p.yPosRamp),
          diffRamps { *p.diffRamps[0], *p.diffRamps[1], *p.diffRamps[2], *p.diffRamps[3] },
          granulizers (p.granulizers), resonators (p.resonatorStates),
          diffusers { *p.diffusers[0], *p.diffusers[1] },
          dcBlockers { p.dcBlockers[0], p.dcBlockers[1] },
          dryWetCoefficient (p.dryWetCoefficient), dryWetValue (p.dryWetValue), dryWetLastTarget (p.dryWetLastTarget),
          trajectoryPeriod (p.trajectoryPeriod), trajectoryCounter (p.trajectoryCounter),
          trajectoryX (p.trajectoryX), trajectoryY (p.trajectoryY),
          currentX (p.currentX.load()), currentY (p.currentY.load()), xRising (p.xRising), yRising (p.yRising),
          dryBuffer (p.dryBuffer)
    {
    }

    static void advanceAxis (float& current, bool& rising, float pos, float rate, float range)
    {
        const float next = rising ? current + rate * 0.01f : current - rate * 0.01f;
        const float lo = clamp01 (pos - range), hi = clamp01 (pos + range);
        if (lo > next || next > hi)
            rising = ! rising;
        current = lo > next ? lo : std::min (hi, next);
    }

    void advanceTrajectory (const ParameterTable& t)
    {
        advanceAxis (currentX, xRising, t.raw (ParameterTable::xPos), t.raw (ParameterTable::xTrajAmount), t.raw (ParameterTable::xTrajRange));
        advanceAxis (currentY, yRising, t.raw (ParameterTable::yPos), t.raw (ParameterTable::yTrajAmount), t.raw (ParameterTable::yTrajRange));
    }

    // The block on the whole buffer, with the processor's parameters and settings records.
    void process (juce::AudioBuffer<float>& buffer, const QuorilAudioProcessor& p)
    {
        juce::ScopedNoDenormals noDenormals;
        const auto& t = *p.parameterTable;
        const int n = buffer.getNumSamples(), nIn = 2;
        xRamp.process (t.raw (ParameterTable::xPos), n);
        yRamp.process (t.raw (ParameterTable::yPos), n);
        for (int k = 0; k < 4; ++k)
            diffRamps[k].process (t.raw (ParameterTable::diffIndex (k)), n);

        const bool trajectoryOn = t.raw (ParameterTable::trajectory) > 0.5f;
        for (int ch = 0; ch < nIn; ++ch)
            dryBuffer.copyFrom (ch, 0, buffer, ch, 0, n);

        auto gain = [&] (juce::dsp::Gain<float>& g, float db)
        {
            g.setGainDecibels (db);
            juce::dsp::AudioBlock<float> block (buffer);
            g.process (juce::dsp::ProcessContextReplacing<float> (block));
        };
        gain (inputGain, t.raw (ParameterTable::inGain));

        for (int ch = 0; ch < nIn; ++ch)
        {
            auto& f = diffusers[ch];
            f.feed = p.diffuserSettings[ch].feed;
            f.damp = p.diffuserSettings[ch].damp;

            // A linked pole runs both channels from the left channel's records.
            for (size_t k = 0; k < 4; ++k)
            {
                const size_t src = t.raw (ParameterTable::linkIndex ((int) k)) > 0.5f ? 0 : (size_t) ch;
                auto& r = resonators[k][(size_t) ch];
                granulizers[k][(size_t) ch].setParameters (p.granulizerSettings[k][src]);
                r.freq = p.resonatorSettings[k][src].freq;
                r.feed = p.resonatorSettings[k][src].feed;
                r.coefficient = (float) std::clamp (1.0 - ((double) r.freq / r.sampleRate) * 4.0, 0.0, 1.0);
            }

            float* data = buffer.getWritePointer (ch);
            for (int i = 0; i < n; ++i)
            {
                if (ch == 0)
                {
                    if (trajectoryCounter == 0)
                    {
                        if (trajectoryOn)
                        {
                            advanceTrajectory (t);
                            trajectoryX = currentX;
                            trajectoryY = currentY;
                        }
                        else
                        {
                            currentX = t.raw (ParameterTable::xPos);
                            currentY = t.raw (ParameterTable::yPos);
                            xRising = yRising = true;
                        }
                    }

                    if (++trajectoryCounter >= trajectoryPeriod)
                        trajectoryCounter = 0;
                }

                float direct[4], send[4];
                for (size_t k = 0; k < 4; ++k)
                {
                    const float out = resonatorSample (resonators[k][(size_t) ch], granulizerSample (granulizers[k][(size_t) ch], data[i]));
                    direct[k] = (1.0f - diffRamps[k].values()[i]) * out;
                    send[k] = diffRamps[k].values()[i] * out;
                }

                const float X = trajectoryOn ? trajectoryX : clamp01 (xRamp.values()[i]);
                const float Y = trajectoryOn ? trajectoryY : clamp01 (yRamp.values()[i]);
                const float D = (1.0f - X) * direct[0] * (1.0f - Y) + X * direct[1] * (1.0f - Y) + Y * direct[2] * (1.0f - X) + X * direct[3] * Y;
                const float S = (1.0f - X) * send[0] * (1.0f - Y) + X * send[1] * (1.0f - Y) + Y * send[2] * (1.0f - X) + X * send[3] * Y;
                data[i] = diffuserStep (f, S) + D;
            }
        }

        gain (outputGain, t.raw (ParameterTable::outGain));
        level = 0.0f;
        for (int ch = 0; ch < nIn; ++ch)
        {
            auto& b = dcBlockers[ch];
            float* data = buffer.getWritePointer (ch);
            double sum = 0.0;
            for (int i = 0; i < n; ++i)
            {
                const double x = data[i];
                b.previousOutput = (x - b.previousInput) + b.coefficient * b.previousOutput;
                b.previousInput = x;
                data[i] = (float) b.previousOutput;
            }
            for (int i = 0; i < n; ++i)
                sum += data[i] * data[i];
            level += n > 0 ? (float) std::sqrt (sum / n) : 0.0f;
        }

        for (int i = 0; i < n; ++i)
        {
            dryWetStep (dryWetValue, dryWetLastTarget, t.raw (ParameterTable::dryWet), dryWetCoefficient);
            for (int ch = 0; ch < nIn; ++ch)
            {
                const float wet = buffer.getSample (ch, i), dry = dryBuffer.getSample (ch, i);
                buffer.setSample (ch, i, (wet - dry) * dryWetValue + dry);
            }
        }
        level /= (float) nIn;
    }

    // One step of the dry/wet smoothing: a glide towards a rising target, a drop to a falling one.
    static void dryWetStep (float& value, float& lastTarget, float target, float a)
    {
        const bool rising = target >= lastTarget;
        value = (float) ((1.0 - (double) a) * (double) lastTarget + (double) (a * value));
        lastTarget = target;
        if ((rising && value > target) || (! rising && value < target))
            value = target;
    }

    juce::dsp::Gain<float> inputGain, outputGain;
    ParameterRamp xRamp, yRamp, diffRamps[4];
    std::vector<std::vector<Granulizer>> granulizers;
    std::vector<std::vector<ResonatorState>> resonators;
    Diffuser diffusers[2];
    DcBlocker dcBlockers[2];
    float dryWetCoefficient, dryWetValue, dryWetLastTarget;
    int trajectoryPeriod, trajectoryCounter;
    float trajectoryX, trajectoryY, currentX, currentY;
    bool xRising, yRising;
    juce::AudioBuffer<float> dryBuffer;
    float level = 0.0f;
};
} // namespace reference
