#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/Diffuser.h"
#include "engine/Granulizer.h"
#include "engine/ParameterRamp.h"
#include "processor/QuorilAudioProcessor.h"

#include <cmath>
#include <functional>

namespace enginetest
{
inline void setParameter (QuorilAudioProcessor& p, const juce::String& id, float value)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

// Settings as the random generator makes them, from a fixed seed.
inline void applyGeneratedSettings (QuorilAudioProcessor& p, juce::Random& random, int density = 8)
{
    for (int pole = 0; pole < 4; ++pole)
    {
        for (int ch = 0; ch < 2; ++ch)
        {
            auto& r = p.resonatorSettings[(size_t) pole][(size_t) ch];
            r.freq = 80.0f + 880.0f * random.nextFloat();
            r.feed = 0.9f * random.nextFloat();

            auto& g = p.granulizerSettings[(size_t) pole][(size_t) ch];
            g.density = density;
            g.envelope = 2;
            const float ms = random.nextBool() ? 20.0f + 80.0f * random.nextFloat() : 100.0f + 499.0f * random.nextFloat();
            g.size = (float) ((double) (ms * 0.001f) * p.sampleRate);
            g.speed = random.nextBool() ? 0.95f + 0.075f * random.nextFloat() : 0.5f + 1.5f * random.nextFloat();
            g.sizeRnd = 0.25f * random.nextFloat();
            g.ampRnd = random.nextFloat();
            g.speedRnd = random.nextBool() ? 0.01f * random.nextFloat() : 0.5f * random.nextFloat();
        }
    }

    for (auto& d : p.diffuserSettings)
        d.feed = 0.1f + 0.8f * random.nextFloat();
}

// Settings that are sure to sound from the first blocks on: every segment starts at buffer
// index 0 (size = ring length - 1 leaves no room for other starts) and grains play no faster
// than the input is recorded. Jitters as generated.
inline void applyAudibleSettings (QuorilAudioProcessor& p, juce::Random& random, int density = 8)
{
    applyGeneratedSettings (p, random, density);

    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
        {
            auto& g = p.granulizerSettings[pole][ch];
            g.size = (float) (p.granulizers[pole][ch].bufferLength - 1);
            g.speed = 0.5f + 0.5f * random.nextFloat();
        }
}

// A deterministic stereo test signal: two detuned sines with a little noise.
inline void fillSignal (juce::AudioBuffer<float>& buffer, int offset, juce::Random& noise)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (ch, i, 0.4f * std::sin (0.031f * (float) (offset + i) * (1.0f + 0.1f * (float) ch))
                                         + 0.05f * (noise.nextFloat() - 0.5f));
}

inline bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (ch, i)))
                return false;

    return true;
}

// Runs numBlocks blocks of blockSize samples of the test signal; calls check after each.
inline void runBlocks (QuorilAudioProcessor& p, int numBlocks, int blockSize, juce::Random& noise,
                       const std::function<void (const juce::AudioBuffer<float>&)>& check = {})
{
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    static int offset = 0;

    for (int b = 0; b < numBlocks; ++b)
    {
        fillSignal (buffer, offset, noise);
        offset += blockSize;
        p.processBlock (buffer, midi);

        if (check)
            check (buffer);
    }
}
} // namespace enginetest
