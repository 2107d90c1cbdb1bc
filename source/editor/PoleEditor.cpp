#include "PoleEditor.h"

#include "../processor/QuorilAudioProcessor.h"

PoleEditor::PoleEditor (QuorilAudioProcessor& p, int pole)
    : orvn::gui::GenericPanelView ("ENGINE EDITOR"),
      processor (p),
      poleIndex (pole)
{
}

PoleEditor::~PoleEditor() = default;

void PoleEditor::updateValueTexts() {}
