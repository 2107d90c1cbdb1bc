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

void EditorsPanel::refreshEditors()
{
    for (auto* editor : editors)
    {
        if (! editor->isVisible())
            continue;

        // Exactly 0.5 counts as unlinked, as in the engine.
        const auto linkValue = processor.parameterTable->raw (ParameterTable::linkIndex (editor->poleIndex));
        const bool enabled = linkValue <= 0.5f;

        // setEnabled does nothing (and repaints nothing) when the state is unchanged.
        for (auto* knob : editor->grainKnobsRight)
            knob->setEnabled (enabled);

        for (auto* knob : editor->resonatorKnobsRight)
            knob->setEnabled (enabled);

        editor->updateValueTexts();
    }
}

void EditorsPanel::connectControllerLearn (juce::ChangeListener& manager)
{
    for (auto* editor : editors)
    {
        auto& knob = *editor->diffSend->knob;
        knob.parameterID = processor.parameterTable->ids[ParameterTable::diffIndex (editor->poleIndex)];
        knob.addChangeListener (&manager);
    }
}

void EditorsPanel::disconnectControllerLearn (juce::ChangeListener& manager)
{
    for (auto* editor : editors)
    {
        auto& knob = *editor->diffSend->knob;
        knob.removeChangeListener (&manager);
        knob.parameterID.clear();
    }
}
} // namespace quoril
