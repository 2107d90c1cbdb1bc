#pragma once

#include <gtest/gtest.h>

#include "processor/QuorilAudioProcessor.h"

namespace quoril::test
{
// The engine build fills the settings records; a processor without them gets the plain
// records, so that the state code has something to save and restore.
inline void ensureRecords (QuorilAudioProcessor& p)
{
    if (p.granulizerSettings.size() != 4)
        p.granulizerSettings.assign (4, std::vector<GranulizerSettings> (2));
    if (p.resonatorSettings.size() != 4)
        p.resonatorSettings.assign (4, std::vector<ResonatorSettings> (2));
}

inline juce::MemoryBlock blobOf (QuorilAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

inline juce::String xmlTextOf (const juce::MemoryBlock& blob)
{
    if (blob.getSize() < 9)
        return {};
    return juce::String::fromUTF8 (static_cast<const char*> (blob.getData()) + 8, (int) blob.getSize() - 9);
}

// A blob as the processor writes it, around any XML text.
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

inline void restore (QuorilAudioProcessor& p, const juce::MemoryBlock& blob)
{
    p.setStateInformation (blob.getData(), (int) blob.getSize());
}

inline float valueOf (QuorilAudioProcessor& p, const juce::String& id)
{
    return p.parameters.getRawParameterValue (id)->load();
}

inline void setValue (QuorilAudioProcessor& p, const juce::String& id, float plainValue)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (plainValue));
}

inline juce::MidiBuffer controllers (std::initializer_list<std::array<int, 3>> channelControllerValue)
{
    juce::MidiBuffer midi;
    int position = 0;
    for (const auto& m : channelControllerValue)
        midi.addEvent (juce::MidiMessage::controllerEvent (m[0], m[1], m[2]), position++);
    return midi;
}
} // namespace quoril::test
