#pragma once

#include <juce_core/juce_core.h>

namespace quoril
{
// The extension of user preset files, without the dot: "qpst".
const juce::String& presetFileExtension();

// The user preset folder (the MIDI sub-folder is not part of the user list).
juce::File userPresetsFolder();

// The name a preset file lists under: its file name without the last extension, so that
// "Dark.Pad.qpst" lists as "Dark.Pad".
juce::String presetNameFromFile (const juce::File& file);

// The file in the user preset folder that lists under the given name: "<name>.qpst", else the
// file of another letter case of the extension that lists under it.
juce::File userPresetFile (const juce::String& name);
} // namespace quoril
