#include "MainComponent.h"

#include "../processor/QuorilAudioProcessor.h"
#include "QuorilBinaryData.h"

// The header buttons of each pole: edit, stereo link, copy and paste.

namespace
{
const char* const cornerNames[] = { "top left", "top right", "bottom left", "bottom right" };

bool isPole (int pole) noexcept
{
    return pole >= 0 && pole < 4;
}
} // namespace

void MainComponent::createEngineHeaders (int pole)
{
    if (! isPole (pole))
        return;

    auto& header = engineHeaders[(size_t) pole];
    const juce::String corner (cornerNames[pole]);
    const auto linkId = processor.parameterTable->ids[ParameterTable::linkIndex (pole)];

    header.editButton = makeIconButton (QuorilBinaryData::edit_svg, QuorilBinaryData::edit_svgSize, true);
    header.editButton->setClickingTogglesState (true);
    header.editButton->setToggleState (pole == processor.selectedPole, juce::dontSendNotification);
    addAndMakeVisible (*header.editButton);
    header.editButton->onClick = [this, pole] { onEditEngineClicked (pole); };
    header.editButton->setTooltip ("Edit " + corner + " engine parameters.");

    header.linkButton = makeIconButton (QuorilBinaryData::link_svg, QuorilBinaryData::link_svgSize, true);
    header.linkButton->setClickingTogglesState (true);
    header.linkButton->setTooltip ("Toggle " + corner + " engine stereo link on or off.");
    addAndMakeVisible (*header.linkButton);
    header.linkAttachment = makeButtonAttachment (processor.parameters, linkId, *header.linkButton);

    header.copyButton = makeIconButton (QuorilBinaryData::copy_svg, QuorilBinaryData::copy_svgSize, true);
    addAndMakeVisible (*header.copyButton);
    header.copyButton->onClick = [this, pole] { onCopyEngineClicked (pole); };
    header.copyButton->setTooltip ("Copy " + corner + " engine parameters.");

    header.pasteButton = makeIconButton (QuorilBinaryData::paste_svg, QuorilBinaryData::paste_svgSize, true);
    addAndMakeVisible (*header.pasteButton);
    header.pasteButton->onClick = [this, pole] { onPasteEngineClicked (pole); };
    header.pasteButton->setTooltip ("Paste engine parameters.");
}

// Shows the pole's engine editor and lights its Edit button only. A click on a lit Edit button
// first toggles it off; this turns it on again, so exactly the clicked pole stays lit.
void MainComponent::onEditEngineClicked (int pole)
{
    if (! isPole (pole))
        return;

    processor.selectedPole = pole;

    for (int k = 0; k < 4; ++k)
        if (auto* editor = editorsPanel.editors[k])
            editor->setVisible (k == pole);

    for (int k = 0; k < 4; ++k)
        if (auto& button = engineHeaders[(size_t) k].editButton)
            button->setToggleState (k == pole, juce::dontSendNotification);
}

void MainComponent::onCopyEngineClicked (int pole)
{
    processor.copyPoleSettings (pole);
}

// The pasted diffusion amount and stereo link reach the knob and the link button through their
// parameter attachments; the engine editor picks up the records at its next poll. The records
// are no host parameters, so the host is told of them apart.
void MainComponent::onPasteEngineClicked (int pole)
{
    if (! processor.poleClipboard.valid)
        return;

    processor.pastePoleSettings (pole);
    processor.noteStateChange();
}
