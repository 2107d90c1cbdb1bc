#include "WorldControls.h"

#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"
#include "QuorilBinaryData.h"

namespace quoril
{
namespace
{
struct CornerIcon
{
    const char* svg;
    int svgSize;
    const char* name;
};

// Indexed by pole: top left, top right, bottom left, bottom right.
const CornerIcon cornerIcons[4] = {
    { QuorilBinaryData::corner_top_left_svg, QuorilBinaryData::corner_top_left_svgSize, "top left" },
    { QuorilBinaryData::corner_top_right_svg, QuorilBinaryData::corner_top_right_svgSize, "top right" },
    { QuorilBinaryData::corner_bottom_left_svg, QuorilBinaryData::corner_bottom_left_svgSize, "bottom left" },
    { QuorilBinaryData::corner_bottom_right_svg, QuorilBinaryData::corner_bottom_right_svgSize, "bottom right" },
};

constexpr int allButtonSize = 32;
constexpr int cornerButtonSize = 24;
} // namespace

WorldControls::WorldControls (QuorilAudioProcessor& p)
    : orvn::gui::GenericPanelView ("GENERATE"),
      processor (p)
{
    regenerateAllButton = makeIconButton (QuorilBinaryData::globe_svg, QuorilBinaryData::globe_svgSize, true);
    regenerateAllButton->setClickingTogglesState (false);
    addAndMakeVisible (*regenerateAllButton);
    regenerateAllButton->onClick = [this] { onRegenerateAllClicked(); };
    regenerateAllButton->setTooltip ("Regenerate all engines.");

    for (int index = 0; index < 4; ++index)
        createRegenerateButtons (index);
}

WorldControls::~WorldControls()
{
    for (int index = 3; index >= 0; --index)
        regenerateButtons[(size_t) index].reset();

    regenerateAllButton.reset();
}

void WorldControls::createRegenerateButtons (int index)
{
    if (index < 0 || index >= 4)
        return;

    const auto& icon = cornerIcons[index];
    auto& button = regenerateButtons[(size_t) index];

    button = makeIconButton (icon.svg, icon.svgSize, true);
    button->setClickingTogglesState (false);
    button->onClick = [this, index] { onRegenerateEngineClicked (index); };
    addAndMakeVisible (*button);
    button->setTooltip ("Regenerate " + juce::String (icon.name) + " engine.");
}

void WorldControls::onRegenerateAllClicked()
{
    processor.randomizeSettings();
    processor.noteStateChange();
}

void WorldControls::onRegenerateEngineClicked (int index)
{
    processor.randomizePole (index);
    processor.noteStateChange();
}

void WorldControls::resized()
{
    const int top = layoutHeader();
    const int w = getWidth();
    const int area = juce::jmax (0, getHeight() - top);

    if (regenerateAllButton != nullptr)
        regenerateAllButton->setBounds ((w - allButtonSize) / 2, top + (area - allButtonSize) / 2,
                                        allButtonSize, allButtonSize);

    // One quadrant of the area below the header per corner button.
    const int upper = area / 2;
    const int left = w / 2;
    const int columnX[2] = { (left - cornerButtonSize) / 2, left + (w - left - cornerButtonSize) / 2 };
    const int rowY[2] = { top + (upper - cornerButtonSize) / 2, top + upper + (area - upper - cornerButtonSize) / 2 };

    for (int index = 0; index < 4; ++index)
        if (auto& button = regenerateButtons[(size_t) index])
            button->setBounds (columnX[index % 2], rowY[index / 2], cornerButtonSize, cornerButtonSize);
}
} // namespace quoril
