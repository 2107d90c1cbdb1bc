#include "../processor/QuorilAudioProcessor.h"

void QuorilAudioProcessor::randomizeSettings() {}
void QuorilAudioProcessor::randomizePole (int) {}
