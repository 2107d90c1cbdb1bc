#include "QuorilAudioProcessor.h"

void QuorilAudioProcessor::createDefaultState() {}
juce::ValueTree QuorilAudioProcessor::createStateTree() { return parameters.copyState(); }
void QuorilAudioProcessor::applyStateTree (const juce::ValueTree&) {}
