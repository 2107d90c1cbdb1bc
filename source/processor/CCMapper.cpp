#include "CCMapper.h"

const juce::String midiMapTreeType = juce::String ("Quoril") + "_MIDI_MAP";
const juce::String ccPropertyName = "cc";

CCMapper::CCMapper() : mapTree (juce::Identifier (midiMapTreeType)) {}

void CCMapper::processMidi (const juce::MidiBuffer&, juce::AudioProcessorValueTreeState&) {}
void CCMapper::applyControllerValue (int, int, juce::AudioProcessorValueTreeState&) {}
void CCMapper::assignToLastCC (const juce::String&) {}
void CCMapper::clearMapping (const juce::String&) {}
bool CCMapper::loadFromXml (const juce::XmlElement&) { return false; }
