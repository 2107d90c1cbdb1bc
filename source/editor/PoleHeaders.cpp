#include "MainComponent.h"

#include "../processor/QuorilAudioProcessor.h"

// The header buttons of each pole: edit, stereo link, copy and paste.

void MainComponent::createEngineHeaders (int) {}
void MainComponent::onEditEngineClicked (int) {}
void MainComponent::onCopyEngineClicked (int) {}
void MainComponent::onPasteEngineClicked (int) {}
