#pragma once

#include <gtest/gtest.h>

#include "processor/QuorilAudioProcessor.h"

namespace quoril::test
{
// A processor always carries 4 x 2 settings records; make sure a bare one does too.
inline void ensureSettingsRecords (QuorilAudioProcessor& p)
{
    if (p.granulizerSettings.size() != 4)
        p.granulizerSettings.assign (4, std::vector<GranulizerSettings> (2));
    if (p.resonatorSettings.size() != 4)
        p.resonatorSettings.assign (4, std::vector<ResonatorSettings> (2));
}

// Whether the processor has its sound engine (granulizers) and its state document nodes.
inline bool hasEngine (const QuorilAudioProcessor& p) { return ! p.granulizers.empty(); }
inline bool hasStateDocument (const QuorilAudioProcessor& p)
{
    return p.parameters.state.getChildWithName ("Granulizer").isValid();
}

inline bool sameRecord (const GranulizerSettings& a, const GranulizerSettings& b)
{
    return a.density == b.density && a.envelope == b.envelope && a.size == b.size && a.speed == b.speed
        && a.sizeRnd == b.sizeRnd && a.speedRnd == b.speedRnd && a.ampRnd == b.ampRnd
        && a.outGain == b.outGain && a.freeze == b.freeze;
}

inline bool sameRecord (const ResonatorSettings& a, const ResonatorSettings& b)
{
    return a.freq == b.freq && a.feed == b.feed;
}

inline bool samePole (const QuorilAudioProcessor& a, int poleA, const QuorilAudioProcessor& b, int poleB)
{
    for (size_t ch = 0; ch < 2; ++ch)
        if (! sameRecord (a.granulizerSettings[(size_t) poleA][ch], b.granulizerSettings[(size_t) poleB][ch])
            || ! sameRecord (a.resonatorSettings[(size_t) poleA][ch], b.resonatorSettings[(size_t) poleB][ch]))
            return false;
    return true;
}

// The preset folder's MIDI sub-folder, emptied.
inline juce::File freshMidiFolder()
{
    auto folder = juce::File (presetsFolderPath()).getChildFile ("MIDI");
    folder.deleteRecursively();
    folder.createDirectory();
    return folder;
}

// A state document naming a few parameters, with a preset name.
inline juce::String stateDocument (float dryWet, float xPos, const juce::String& name)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Quoril>"
           "<PARAM id=\"dry_wet\" value=\"" + juce::String (dryWet) + "\"/>"
           "<PARAM id=\"x_pos\" value=\"" + juce::String (xPos) + "\"/>"
           "<Resonator freq=\"432.0\" feed=\"0.25\" pole=\"1\" channel=\"0\"/>"
           "<Metadata preset_name=\"" + name + "\"/></Quoril>";
}
} // namespace quoril::test

namespace juce
{
inline void PrintTo (const StringArray& a, std::ostream* os) { *os << "[" << a.joinIntoString (", ") << "]"; }
} // namespace juce
