#pragma once

// Helpers shared by the unit tests: settings, signals and blocks for the engine; blobs, documents
// and MIDI for the state and preset code.
#include <juce_audio_processors/juce_audio_processors.h>
#include <gtest/gtest.h>

#include "engine/Diffuser.h"
#include "engine/Granulizer.h"
#include "engine/ParameterRamp.h"
#include "processor/QuorilAudioProcessor.h"

#include <array>
#include <cmath>
#include <functional>

namespace enginetest
{
inline void setParameter (QuorilAudioProcessor& p, const juce::String& id, float value)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

inline float valueOf (QuorilAudioProcessor& p, const juce::String& id) { return p.parameters.getRawParameterValue (id)->load(); }

// Settings as the random generator makes them, from a fixed seed.
inline void applyGeneratedSettings (QuorilAudioProcessor& p, juce::Random& random, int density = 8)
{
    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
        {
            auto& r = p.resonatorSettings[pole][ch];
            r.freq = 80.0f + 880.0f * random.nextFloat();
            r.feed = 0.9f * random.nextFloat();

            auto& g = p.granulizerSettings[pole][ch];
            g.density = density;
            g.envelope = 2;
            const float ms = random.nextBool() ? 20.0f + 80.0f * random.nextFloat() : 100.0f + 499.0f * random.nextFloat();
            setGrainSize (g, (double) ms, p.sampleRate);
            g.speed = random.nextBool() ? 0.95f + 0.075f * random.nextFloat() : 0.5f + 1.5f * random.nextFloat();
            g.sizeRnd = 0.25f * random.nextFloat();
            g.ampRnd = random.nextFloat();
            g.speedRnd = random.nextBool() ? 0.01f * random.nextFloat() : 0.5f * random.nextFloat();
        }

    for (auto& d : p.diffuserSettings)
        d.feed = 0.1f + 0.8f * random.nextFloat();
}

// Settings that sound from the first blocks on: every segment starts at ring index 0 (size =
// ring length - 1 leaves no other start) and grains play no faster than the input is recorded.
inline void applyAudibleSettings (QuorilAudioProcessor& p, juce::Random& random, int density = 8)
{
    applyGeneratedSettings (p, random, density);

    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
        {
            setGrainSize (p.granulizerSettings[pole][ch], (p.granulizers[pole][ch].bufferLength - 1) * 1000.0 / p.sampleRate, p.sampleRate);
            p.granulizerSettings[pole][ch].speed = 0.5f + 0.5f * random.nextFloat();
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
        fillSignal (buffer, (offset += blockSize) - blockSize, noise);
        p.processBlock (buffer, midi);
        if (check)
            check (buffer);
    }
}

//==============================================================================
inline juce::MemoryBlock blobOf (QuorilAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

inline void restore (QuorilAudioProcessor& p, const juce::MemoryBlock& blob) { p.setStateInformation (blob.getData(), (int) blob.getSize()); }

inline juce::String xmlTextOf (const juce::MemoryBlock& blob)
{
    return blob.getSize() < 9 ? juce::String() : juce::String::fromUTF8 (static_cast<const char*> (blob.getData()) + 8, (int) blob.getSize() - 9);
}

// A blob as the processor writes it, around any text.
inline juce::MemoryBlock blobWithText (const juce::String& text)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out (block, false);
    out.writeInt (0x21324356);
    out.writeInt ((int) text.getNumBytesAsUTF8());
    out.write (text.toRawUTF8(), text.getNumBytesAsUTF8());
    out.writeByte (0);
    out.flush();
    return block;
}

inline juce::MidiBuffer controllers (std::initializer_list<std::array<int, 3>> channelControllerValue)
{
    juce::MidiBuffer midi;
    int position = 0;
    for (const auto& m : channelControllerValue)
        midi.addEvent (juce::MidiMessage::controllerEvent (m[0], m[1], m[2]), position++);
    return midi;
}

inline bool samePole (const QuorilAudioProcessor& a, int poleA, const QuorilAudioProcessor& b, int poleB)
{
    auto fields = [] (const QuorilAudioProcessor& p, int pole, size_t ch)
    {
        const auto& g = p.granulizerSettings[(size_t) pole][ch];
        const auto& r = p.resonatorSettings[(size_t) pole][ch];
        return std::tuple (g.density, g.envelope, g.size, g.sizeMs, g.speed, g.sizeRnd, g.speedRnd, g.ampRnd, g.outGain, g.freeze, r.freq, r.feed);
    };
    return fields (a, poleA, 0) == fields (b, poleB, 0) && fields (a, poleA, 1) == fields (b, poleB, 1);
}

// A state document naming two parameters, one resonator and a preset name.
inline juce::String stateDocument (float dryWet, float xPos, const juce::String& name)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Quoril><PARAM id=\"dry_wet\" value=\"" + juce::String (dryWet)
         + "\"/><PARAM id=\"x_pos\" value=\"" + juce::String (xPos)
         + "\"/><Resonator freq=\"432.0\" feed=\"0.25\" pole=\"1\" channel=\"0\"/><Metadata preset_name=\"" + name + "\"/></Quoril>";
}
} // namespace enginetest

namespace juce
{
inline void PrintTo (const StringArray& a, std::ostream* os) { *os << "[" << a.joinIntoString (", ") << "]"; }
} // namespace juce
