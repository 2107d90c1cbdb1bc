#include "QuorilAudioProcessor.h"

void QuorilAudioProcessor::copyPoleSettings (int) {}
void QuorilAudioProcessor::pastePoleSettings (int) {}
