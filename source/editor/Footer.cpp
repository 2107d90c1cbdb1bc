#include "Footer.h"

#include "../orvn/AttachedMenus.h"
#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"

#include "QuorilBinaryData.h"

#include <cstdlib>
#include <ctime>

// QUORIL_VERSION_STRING comes from the build (the project's version).

namespace quoril
{
namespace
{
std::unique_ptr<orvn::gui::IconButtonControl> makeFooterButton (const char* svgData, int svgSize)
{
    // The footer's icons keep their white copy: the button recolours it to its look-and-feel's
    // "on" text colour.
    auto button = makeIconButton (svgData, svgSize, false);
    button->setClickingTogglesState (false);
    return button;
}
} // namespace

Footer::Footer (QuorilAudioProcessor& p)
    : processor (p),
      previousButton (makeFooterButton (QuorilBinaryData::prev_svg, QuorilBinaryData::prev_svgSize)),
      nextButton (makeFooterButton (QuorilBinaryData::next_svg, QuorilBinaryData::next_svgSize)),
      menuButton (makeFooterButton (QuorilBinaryData::menu_svg, QuorilBinaryData::menu_svgSize)),
      logo (makeIconDrawable (QuorilBinaryData::logo_svg, QuorilBinaryData::logo_svgSize)),
      wordmark (makeIconDrawable (QuorilBinaryData::wordmark_svg, QuorilBinaryData::wordmark_svgSize)),
      ccMapperUIManager (&p.midiMap)
{
    presetButton.setClickingTogglesState (false);

    addAndMakeVisible (*previousButton);
    addAndMakeVisible (*nextButton);
    addAndMakeVisible (presetButton);
    addAndMakeVisible (*menuButton);

    if (logo != nullptr)
        addAndMakeVisible (*logo);

    if (wordmark != nullptr)
        addAndMakeVisible (*wordmark);

    previousButton->onClick = [this] { onPreviousPresetClicked(); };
    nextButton->onClick = [this] { onNextPresetClicked(); };
    presetButton.onClick = [this] { onPresetListClicked(); };
    menuButton->onClick = [this] { onMenuClicked(); };

    // Bindings learnt or loaded through the manager are saved state the host does not see.
    ccMapperUIManager.onMapChanged = [&processor = p] { processor.noteStateChange(); };
}

Footer::~Footer() = default;

void Footer::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff191919));
}

void Footer::resized()
{
    const int width = getWidth();
    const int height = getHeight();

    const int third = width / 3;
    const int rest = width - third;
    const int rightWidth = rest / 2;
    const int rightX = third + (rest - rightWidth);
    const int middleWidth = rest - rightWidth;

    // Drawable::setTransformToFit does nothing for a box without area.
    if (wordmark != nullptr)
        wordmark->setTransformToFit (juce::Rectangle<int> (0, (height - 18) / 2, third, 18).toFloat(),
                                     juce::RectanglePlacement::centred);

    if (logo != nullptr)
        logo->setTransformToFit (juce::Rectangle<int> (rightX + (rightWidth - third) / 2, (height - 24) / 2, third, 24).toFloat(),
                                 juce::RectanglePlacement::centred);

    auto middle = juce::Rectangle<int> (third, (height - 24) / 2, middleWidth, 24);
    previousButton->setBounds (middle.removeFromLeft (juce::jmin (24, middle.getWidth())));
    middle.removeFromLeft (juce::jmin (8, middle.getWidth()));
    nextButton->setBounds (middle.removeFromRight (juce::jmin (24, middle.getWidth())));
    middle.removeFromRight (juce::jmin (8, middle.getWidth()));
    presetButton.setBounds (middle);

    menuButton->setBounds (nextButton->getBounds().translated (32, 0));
}

//==============================================================================
juce::PopupMenu Footer::createMainMenu()
{
    // The framework runs a chosen item's action from a message it posts once the menu has closed;
    // by then the host may have closed the window, and this footer with it. The items of a window
    // that has gone do nothing.
    const auto whileShown = [safeThis = juce::Component::SafePointer<Footer> (this)] (std::function<void (Footer&)> action)
    {
        return [safeThis, action = std::move (action)]
        {
            if (auto* footer = safeThis.getComponent())
                action (*footer);
        };
    };

    juce::PopupMenu midiMapMenu;
    midiMapMenu.addItem ("LOAD", true, false, whileShown ([] (Footer& f) { f.ccMapperUIManager.loadMidiMap (&f); }));
    midiMapMenu.addItem ("SAVE", true, false, whileShown ([] (Footer& f) { f.ccMapperUIManager.saveMidiMap (&f); }));
    midiMapMenu.addItem ("CLEAR", true, false, whileShown ([] (Footer& f) { f.onClearMidiMap(); }));

    juce::PopupMenu menu;
    menu.setLookAndFeel (&getLookAndFeel());
    menu.addItem ("RESEED", true, false, whileShown ([] (Footer& f) { f.onReseed(); }));
    menu.addSubMenu ("MIDI MAP", midiMapMenu, true);
    menu.addItem ("OPEN PRESETS DIRECTORY", true, false, whileShown ([] (Footer& f) { f.onOpenPresetsDirectory(); }));
    menu.addItem ("SHOW PREFERENCES FILE", true, false, whileShown ([] (Footer& f) { f.onShowPreferencesFile(); }));

    const auto version = (juce::String ("Quoril") + " " + "v " + QUORIL_VERSION_STRING).toUpperCase();
    menu.addItem (versionItemId, version, false, false);
    return menu;
}

juce::PopupMenu::Options Footer::menuOptions (juce::Component& attachTo, int maximumColumns)
{
    // A menu whose footer is deleted while it is open returns no choice and runs no item (the
    // items and the result handlers check for the footer themselves as well).
    return juce::PopupMenu::Options()
        .withTargetComponent (&attachTo)
        .withItemThatMustBeVisible (1)
        .withMinimumWidth (40)
        .withMaximumNumColumns (maximumColumns)
        .withStandardItemHeight (0)
        .withDeletionCheck (*this);
}

void Footer::showMenu()
{
    // Returns while the menu is open; a chosen item runs its own action once it has closed.
    orvnlib::AttachedMenus::show (createMainMenu(), menuOptions (*menuButton, 0));
}

void Footer::onMenuClicked() { showMenu(); }

void Footer::onReseed()
{
    // rand draws the engine settings when poles are regenerated; the processor's generator
    // draws the trajectory's random values. Nothing is regenerated here.
    std::srand ((unsigned int) std::time (nullptr));
    processor.parameterGroups.random.setSeedRandomly();
}

void Footer::onOpenPresetsDirectory()
{
    juce::File (presetsFolderPath()).revealToUser();
}

void Footer::onShowPreferencesFile()
{
    if (auto* settings = processor.getSettingsFile())
        settings->getFile().revealToUser();
}

void Footer::onClearMidiMap()
{
    if (processor.midiMap.mapTree.getNumChildren() == 0)
        return;

    processor.midiMap.mapTree.removeAllChildren (nullptr);
    // The audio thread stops applying the old bindings now, not at the next message loop pass.
    processor.midiMap.refreshBindings();
    processor.noteStateChange();
}
} // namespace quoril
