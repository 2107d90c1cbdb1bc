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
    const int density = std::clamp (g.settings.density, 0, 64);

    for (int k = 0; k < density; ++k)
    {
        Grain& gr = g.grains[k];
        const int effectiveLength = std::max (1, gr.length);

        if (gr.start + effectiveLength >= length)
        {
            if (gr.pending)
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
            continue;
        }

        const float phase = clamp01 ((gr.pos - (float) gr.start) * gr.invLength);
        const float w = g.windowTable[(int) (phase * 2047.0f)];

        if (gr.pos < 0.0f || gr.pos > (float) (length - 1))
            gr.pos = 0.0f;

        const float p = gr.pos;
        const int i = (int) p;
        const float frac = p - (float) i;
        const float a = buf[i];
        const float b = p < (float) (length - 1) ? buf[i + 1] : buf[0];
        const float s = (b - a) * frac + a;
        gr.lastPos = p;
        sum += s * (w * gr.amplitude);
        gr.pos = (g.settings.speed + gr.rateOffset) + p;

        const float end = (float) (gr.start + effectiveLength);
        while (gr.pos >= end)
            gr.pos = (gr.pos - end) + (float) gr.start;

        if (gr.pending && (gr.lastPos > gr.pos || g.retrigger != 0))
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
    const int i = (int) r;
    const float frac = r - (float) i;
    const int j = i + 1 >= length ? 0 : i + 1;
    const float rd = (buf[j] - buf[i]) * frac + buf[i];
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

    void advanceTrajectory (const ParameterTable& t)
    {
        auto axis = [] (float current, bool& rising, float pos, float rate, float range)
        {
            const float step = rate * 0.01f;
            const float next = rising ? current + step : current - step;
            const float lo = clamp01 (pos - range), hi = clamp01 (pos + range);
            return std::tuple { next, lo, hi };
        };

        auto [nx, xlo, xhi] = axis (currentX, xRising, t.raw (ParameterTable::xPos), t.raw (ParameterTable::xTrajAmount), t.raw (ParameterTable::xTrajRange));
        auto [ny, ylo, yhi] = axis (currentY, yRising, t.raw (ParameterTable::yPos), t.raw (ParameterTable::yTrajAmount), t.raw (ParameterTable::yTrajRange));

        if (xlo > nx || nx > xhi)
            xRising = ! xRising;
        if (ylo > ny || ny > yhi)
            yRising = ! yRising;

        currentX = xlo > nx ? xlo : std::min (xhi, nx);
        currentY = ylo > ny ? ylo : std::min (yhi, ny);
    }

    // The block on the whole buffer, with the processor's parameters and settings records.
    void process (juce::AudioBuffer<float>& buffer, const QuorilAudioProcessor& p)
    {
        juce::ScopedNoDenormals noDenormals;
        const auto& t = *p.parameterTable;
        const int n = buffer.getNumSamples();
        const int nIn = 2;

        xRamp.process (t.raw (ParameterTable::xPos), n);
        yRamp.process (t.raw (ParameterTable::yPos), n);
        for (int k = 0; k < 4; ++k)
            diffRamps[k].process (t.raw (ParameterTable::diffIndex (k)), n);

        bool linked[4];
        for (int k = 0; k < 4; ++k)
            linked[k] = t.raw (ParameterTable::linkIndex (k)) > 0.5f;
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

            for (size_t k = 0; k < 4; ++k)
            {
                const size_t src = linked[k] ? 0 : (size_t) ch;
                granulizers[k][(size_t) ch].setParameters (p.granulizerSettings[k][src]);
                resonators[k][(size_t) ch].freq = p.resonatorSettings[k][src].freq;
                resonators[k][(size_t) ch].feed = p.resonatorSettings[k][src].feed;
            }

            for (size_t k = 0; k < 4; ++k)
            {
                auto& r = resonators[k][(size_t) ch];
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

                const float x = data[i];
                float direct[4], send[4];

                for (size_t k = 0; k < 4; ++k)
                {
                    const float g = granulizerSample (granulizers[k][(size_t) ch], x);
                    const float out = resonatorSample (resonators[k][(size_t) ch], g);
                    const float d = diffRamps[k].values()[i];
                    direct[k] = (1.0f - d) * out;
                    send[k] = d * out;
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
            for (int i = 0; i < n; ++i)
            {
                const double x = data[i];
                const double y = (x - b.previousInput) + b.coefficient * b.previousOutput;
                b.previousInput = x;
                b.previousOutput = y;
                data[i] = (float) y;
            }
            double sum = 0.0;
            for (int i = 0; i < n; ++i)
                sum += data[i] * data[i];
            level += n > 0 ? (float) std::sqrt (sum / n) : 0.0f;
        }

        const float T = t.raw (ParameterTable::dryWet);
        const float a = dryWetCoefficient;
        for (int i = 0; i < n; ++i)
        {
            const bool rising = T >= dryWetLastTarget;
            dryWetValue = (float) ((1.0 - (double) a) * (double) dryWetLastTarget + (double) (a * dryWetValue));
            dryWetLastTarget = T;
            if ((rising && dryWetValue > T) || (! rising && dryWetValue < T))
                dryWetValue = T;
            for (int ch = 0; ch < nIn; ++ch)
            {
                const float wet = buffer.getSample (ch, i), dry = dryBuffer.getSample (ch, i);
                buffer.setSample (ch, i, (wet - dry) * dryWetValue + dry);
            }
        }

        level /= (float) nIn;
    }

    juce::dsp::Gain<float> inputGain, outputGain;
    ParameterRamp xRamp, yRamp;
    ParameterRamp diffRamps[4];
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
