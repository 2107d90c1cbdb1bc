// The footer: its children's layout, its artwork, and the main menu with its actions.

#include "EditorTestSupport.h"

#include "editor/Footer.h"

#include <cstdlib>
#include <ctime>

using namespace editortest;

namespace
{
// The menu's items as "text", with " >" for a sub-menu and " (disabled)", " (ticked)" as they are.
juce::String describe (const juce::PopupMenu& menu)
{
    juce::StringArray items;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        items.add (item.text + (item.subMenu != nullptr ? " >" : "") + (item.isEnabled ? "" : " (disabled)")
                   + (item.isTicked ? " (ticked)" : ""));
    }
    return items.joinIntoString ("|");
}

const juce::PopupMenu::Item* findItem (const juce::PopupMenu& menu, const juce::String& text)
{
    for (juce::PopupMenu::MenuItemIterator it (menu, true); it.next();)
        if (it.getItem().text == text)
            return &it.getItem();
    return nullptr;
}

void runAction (const juce::PopupMenu& menu, const juce::String& text)
{
    const auto* item = findItem (menu, text);
    ASSERT_NE (item, nullptr) << text;
    ASSERT_TRUE (item->action != nullptr) << text;
    item->action();
}
} // namespace

// Where the children sit at the design size is checked with the whole window.
TEST (Footer, ArtworkKeepsItsShapeAndNoChildGetsANegativeSize)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    footer.setBounds (2, 418, 796, 80);

    // Fitted and centred in its box, keeping the aspect ratio of its drawn content.
    const auto checkFit = [] (const juce::Drawable& d, juce::Rectangle<float> box)
    {
        const auto content = d.getDrawableBounds();
        const auto shown = d.getBoundsInParent().toFloat();
        EXPECT_NEAR (shown.getHeight(), box.getHeight(), 2.0f);
        EXPECT_NEAR (shown.getWidth(), box.getHeight() * content.getWidth() / content.getHeight(), 2.0f);
        EXPECT_NEAR (shown.getCentreX(), box.getCentreX(), 1.0f);
        EXPECT_NEAR (shown.getCentreY(), box.getCentreY(), 1.0f);
    };
    checkFit (*footer.wordmark, { 0, 31, 265, 18 });
    checkFit (*footer.logo, { 531, 28, 265, 24 });

    // Other sizes: the menu button stays 32 right of the next button.
    for (const auto width : { 1200, 300, 90, 40, 0 })
    {
        footer.setSize (width, 50);
        EXPECT_EQ (footer.menuButton->getBounds(), footer.nextButton->getBounds().translated (32, 0)) << width;
        for (auto* child : footer.getChildren())
            EXPECT_GE (child->getWidth(), 0) << width;
    }
}

TEST (Footer, ArrowButtonsStepThroughThePresets)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& footer = open.main().footer;

    footer.nextButton->onClick();
    EXPECT_EQ (p.getPresetName(), "Drill1");
    footer.previousButton->onClick();
    EXPECT_EQ (p.getPresetName(), "Travel3");
    savePng (snapshot (footer, 4.0f), "footer");
}

TEST (FooterMenu, ItemsInOrderWithTheDisabledVersionLine)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    const auto menu = footer.createMainMenu();

    EXPECT_EQ (describe (menu), "RESEED|MIDI MAP >|OPEN PRESETS DIRECTORY|SHOW PREFERENCES FILE|QUORIL V 1.4.0 (disabled)");
    EXPECT_EQ (findItem (menu, "QUORIL V 1.4.0")->itemID, -10);
    EXPECT_TRUE (findItem (menu, "QUORIL V 1.4.0")->action == nullptr);

    EXPECT_EQ (describe (*findItem (menu, "MIDI MAP")->subMenu), "LOAD|SAVE|CLEAR");
    for (const auto* text : { "RESEED", "OPEN PRESETS DIRECTORY", "SHOW PREFERENCES FILE", "LOAD", "SAVE", "CLEAR" })
        EXPECT_TRUE (findItem (menu, text)->action != nullptr) << text;
}

TEST (FooterMenu, ReseedSeedsRandFromTheClockAndTheTrajectoryGenerator)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    const auto menu = footer.createMainMenu();

    p.parameterGroups.random.setSeed (42);
    juce::Random fixed (42);

    for (int attempt = 0; attempt < 3; ++attempt)
    {
        const auto before = std::time (nullptr);
        runAction (menu, "RESEED");
        const int drawn = std::rand();
        if (std::time (nullptr) != before)
            continue; // the second turned over; try again

        std::srand ((unsigned int) before);
        EXPECT_EQ (std::rand(), drawn) << "rand is seeded with the current time";
        break;
    }

    EXPECT_NE (p.parameterGroups.random.nextInt64(), fixed.nextInt64()) << "the trajectory generator was reseeded";
}

TEST (FooterMenu, ClearRemovesEveryBindingAndTheAudioThreadStopsAtOnce)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto* inGain = p.parameters.getParameter ("in_gain");

    p.midiMap.processMidi (controller (20, 0), p.parameters);
    p.midiMap.assignToLastCC ("in_gain");
    p.midiMap.assignToLastCC ("x_pos");
    ASSERT_EQ (p.midiMap.getNumPublishedBindings(), 2);

    runAction (footer.createMainMenu(), "CLEAR");
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 0);
    EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 0) << "published without waiting for the message loop";

    const auto value = inGain->getValue();
    p.midiMap.processMidi (controller (20, 127), p.parameters);
    EXPECT_EQ (inGain->getValue(), value);

    // Clearing an empty map changes nothing.
    runAction (footer.createMainMenu(), "CLEAR");
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 0);
    EXPECT_EQ (p.midiMap.mapTree.getType().toString(), "Quoril_MIDI_MAP");
}

TEST (FooterMenu, ShownMenusRunTheChosenItem)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    footer.setBounds (0, 0, 796, 80);
    using K = juce::KeyPress;

    // Main menu: MIDI MAP > CLEAR.
    p.midiMap.lastCC = 5;
    p.midiMap.assignToLastCC ("x_pos");
    {
        MenuDriver driver (pressKeys ({ { false, K::downKey }, { false, K::downKey }, { false, K::rightKey },
                                        { true, K::downKey }, { true, K::downKey }, { true, K::returnKey } }));
        footer.menuButton->onClick();
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 0);

    // Preset list: FACTORY > the third entry; then the list dismissed.
    {
        MenuDriver driver (pressKeys ({ { false, K::downKey }, { false, K::rightKey }, { true, K::downKey },
                                        { true, K::downKey }, { true, K::returnKey } }));
        footer.presetButton.onClick();
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_EQ (p.getPresetName(), "Orbit1");
    {
        MenuDriver driver (pressKeys ({ { false, K::escapeKey } }));
        footer.showPresetList();
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_EQ (p.getPresetName(), "Orbit1") << "a dismissed list loads nothing";
}
