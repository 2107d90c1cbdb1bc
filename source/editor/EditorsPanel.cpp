#include "EditorsPanel.h"

#include "../processor/QuorilAudioProcessor.h"

namespace quoril
{
EditorsPanel::EditorsPanel (QuorilAudioProcessor& p) : processor (p)
{
    for (int pole = 0; pole < 4; ++pole)
    {
        auto* editor = editors.add (new PoleEditor (processor, pole));
        addChildComponent (editor);
        editor->setVisible (pole == processor.selectedPole);
    }

    refreshEditors();
}

EditorsPanel::~EditorsPanel() = default;

void EditorsPanel::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff191919));
}

void EditorsPanel::resized()
{
    for (auto* editor : editors)
        editor->setBounds (getLocalBounds());
}

void EditorsPanel::refreshEditors() {}
} // namespace quoril
