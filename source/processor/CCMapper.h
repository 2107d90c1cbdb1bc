#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// Type of the controller map tree and tag of its XML element: "Quoril_MIDI_MAP".
extern const juce::String midiMapTreeType;
// Property of a binding that holds its controller number.
extern const juce::String ccPropertyName;

// Binds MIDI controllers to host parameters. The message thread edits the map; the audio
// thread applies it once per block.
class CCMapper
{
public:
    CCMapper();

    void processMidi (const juce::MidiBuffer& midi, juce::AudioProcessorValueTreeState& parameters);
    void applyControllerValue (int controller, int value, juce::AudioProcessorValueTreeState& parameters);

    void assignToLastCC (const juce::String& parameterId);
    void clearMapping (const juce::String& parameterId);
    bool loadFromXml (const juce::XmlElement& xml);

    juce::ValueTree mapTree;
    int lastCC = -1;
};
