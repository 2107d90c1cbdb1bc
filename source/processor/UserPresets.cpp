#include "QuorilAudioProcessor.h"

juce::StringArray QuorilAudioProcessor::getMidiPresetFiles() const { return {}; }
juce::File QuorilAudioProcessor::getMidiPresetFile (int) const { return {}; }
void QuorilAudioProcessor::loadMidiPreset (int) {}
void QuorilAudioProcessor::setPresetName (const juce::String&) {}
juce::String QuorilAudioProcessor::getPresetName() const { return {}; }
