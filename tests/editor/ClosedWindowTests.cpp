// Menus and file dialogs open and return at once: the host's loop goes on while they are up, and
// the host may close the window meanwhile, or between a menu's closing and the result the
// framework posts for it, or delete the plug-in itself. What then runs must not touch the
// window's freed components, nor a freed processor. Run these under AddressSanitizer too.

#include "EditorTestSupport.h"

#include "orvn/CCMapperUIManager.h"

using namespace editortest;

namespace
{
using K = juce::KeyPress;

// The host closes the view: the editor is deleted at once.
void closeWindow (OpenEditor& open)
{
    open.processor.editorBeingDeleted (open.editor.get());
    open.editor.reset();
}

// MIDI MAP > CLEAR in the main menu, and FACTORY > the third entry in the preset list.
const std::vector<MenuKey> chooseClear { { false, K::downKey }, { false, K::downKey }, { false, K::rightKey },
                                         { true, K::downKey }, { true, K::downKey }, { true, K::returnKey } };
const std::vector<MenuKey> chooseThirdFactoryPreset { { false, K::downKey }, { false, K::rightKey }, { true, K::downKey },
                                                      { true, K::downKey }, { true, K::returnKey } };

void bind (QuorilAudioProcessor& p, const juce::String& id, int cc)
{
    p.midiMap.lastCC = cc;
    p.midiMap.assignToLastCC (id);
}
} // namespace

TEST (ClosedWindow, APresetChosenFromTheListOfAWindowThatWentIsNotLoaded)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    const auto before = p.getPresetName();

    MenuDriver driver ([&] (juce::Component& menu)
    {
        closeWindow (open);
        pressKeys (chooseThirdFactoryPreset) (menu);
    });
    open.main().footer.showPresetList();

    EXPECT_TRUE (driver.finish());
    EXPECT_EQ (open.editor, nullptr);
    EXPECT_EQ (p.getPresetName(), before);
}

// The menu's item runs from a message posted when the menu closes: the window may go while the
// menu is open, or after the choice but before that message. Either way the item does nothing.
TEST (ClosedWindow, MainMenuItemsOfAWindowThatWentDoNothing)
{
    for (const bool closeBeforeTheChoice : { true, false })
    {
        SCOPED_TRACE (closeBeforeTheChoice ? "closed while the menu is open" : "closed before the item's message");
        QuorilAudioProcessor p;
        bind (p, "x_pos", 5);
        OpenEditor open (p);

        MenuDriver driver ([&] (juce::Component& menu)
        {
            if (closeBeforeTheChoice)
                closeWindow (open);
            else
                juce::MessageManager::callAsync ([&open] { closeWindow (open); });

            pressKeys (chooseClear) (menu);
        });
        open.main().footer.showMenu();

        EXPECT_TRUE (driver.finish());
        EXPECT_EQ (open.editor, nullptr);
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=5");
    }
}

// The user chose the file: it is still loaded into, or saved from, the processor's map.
TEST (ClosedWindow, AMapFileChosenInTheDialogOfAWindowThatWentStillActsOnTheProcessorsMap)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("quoril-closed-window");
    folder.deleteRecursively();
    ASSERT_TRUE (folder.createDirectory());
    const auto file = folder.getChildFile ("map.mpcc");

    for (const bool loading : { true, false })
    {
        SCOPED_TRACE (loading ? "load" : "save");
        QuorilAudioProcessor p;
        bind (p, "x_pos", 74);
        bind (p, "in_gain", 7);
        file.deleteFile();

        if (loading)
        {
            ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
            p.midiMap.mapTree.removeAllChildren (nullptr);
            p.midiMap.refreshBindings();
        }

        OpenEditor open (p);
        auto& manager = open.main().footer.ccMapperUIManager;
        manager.useNativeDialogs = false;

        FileDialogDriver driver ([&, choose = FileDialogDriver::choose (file)] (auto& box, auto& browser)
        {
            closeWindow (open);
            choose (box, browser);
        });
        if (loading)
            manager.loadMidiMap();
        else
            manager.saveMidiMap();

        EXPECT_TRUE (driver.finish());
        EXPECT_EQ (open.editor, nullptr);

        QuorilAudioProcessor reader;
        if (! loading)
        {
            EXPECT_TRUE (orvnlib::CCMapperUIManager (&reader.midiMap).loadMapFile (file));
        }

        EXPECT_EQ (bindingsOf ((loading ? p : reader).midiMap.mapTree), "x_pos=74,in_gain=7");
    }

    folder.deleteRecursively();
}

// The plug-in is deleted while a map dialog, or the question before a file is replaced, is still
// open: it closes with the plug-in, and nothing is written or read.
TEST (ClosedWindow, AMapDialogStillOpenWhenThePluginGoesClosesWithIt)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("closing-plugin");
    ASSERT_TRUE (folder.createDirectory());
    const auto existing = folder.getChildFile ("map.mpcc");

    for (const juce::String step : { "load dialog", "save dialog", "question" })
    {
        SCOPED_TRACE (step);
        ASSERT_TRUE (existing.replaceWithText ("kept"));
        auto p = std::make_unique<QuorilAudioProcessor>();
        bind (*p, "x_pos", 74);
        auto open = std::make_unique<OpenEditor> (*p);
        auto& manager = open->main().footer.ccMapperUIManager;
        manager.useNativeDialogs = false;

        // The user types "map" (saved as map.mpcc, which is there) and confirms: the question.
        FileDialogDriver driver ([&] (auto& box, auto& browser)
        {
            if (step != "question")
                return;
            browser.setRoot (folder);
            browser.setFileName ("map");
            FileDialogDriver::pressOk (box, browser);
        });

        if (step == "load dialog")
            manager.loadMidiMap();
        else
            manager.saveMidiMap();

        const auto isOpen = [&]
        {
            auto* modal = juce::Component::getCurrentlyModalComponent();
            return step == "question" ? dynamic_cast<juce::AlertWindow*> (modal) != nullptr
                                      : dynamic_cast<juce::FileChooserDialogBox*> (modal) != nullptr;
        };
        ASSERT_TRUE (runMessageLoopUntil (isOpen));

        closeWindow (*open);
        open.reset();
        p.reset();
        runMessageLoop (50);

        EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
        EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
        EXPECT_EQ (existing.loadFileAsString(), "kept");
        EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    }

    folder.deleteRecursively();
}

// The host closes the window with one of its menus open (a sub-menu too): the menu closes with it
// at once, before the host's loop runs again, and leaves no window behind. A menu of another window
// of the plug-in stays open.
TEST (ClosedWindow, AMenuOpenWhenItsWindowGoesClosesWithIt)
{
    QuorilAudioProcessor p, other;
    OpenEditor otherWindow (other);
    auto& desktop = juce::Desktop::getInstance();
    const auto shownWindows = [&desktop]
    {
        int shown = 0;
        for (int i = 0; i < desktop.getNumComponents(); ++i)
            shown += desktop.getComponent (i)->isVisible() ? 1 : 0;
        return shown;
    };
    const auto right = juce::ModifierKeys (juce::ModifierKeys::rightButtonModifier);
    const auto altLeft = juce::ModifierKeys (juce::ModifierKeys::altModifier | juce::ModifierKeys::leftButtonModifier);

    const std::pair<const char*, std::function<void (MainComponent&)>> shows[] = {
        { "main menu", [] (MainComponent& m) { m.footer.menuButton->onClick(); } },
        { "preset list with FACTORY open", [] (MainComponent& m)
          {
              m.footer.presetButton.onClick();
              pressKeys ({ { false, K::downKey }, { false, K::rightKey } }) (*juce::Component::getCurrentlyModalComponent());
          } },
        { "pad's controller menu", [&] (MainComponent& m) { m.pad->mouseDown (mouseEvent (*m.pad, { 20.0f, 20.0f }, right)); } },
        { "knob's controller menu", [&] (MainComponent& m)
          {
              auto& knob = *m.globalControls.dryWetKnob;
              knob.mouseDown (mouseEvent (knob, { 10.0f, 10.0f }, altLeft));
          } },
    };

    for (const auto& [name, show] : shows)
    {
        SCOPED_TRACE (name);
        const int shownAtFirst = shownWindows();
        OpenEditor open (p);
        otherWindow.main().footer.showMenu();
        const juce::Component::SafePointer<juce::Component> otherMenu (juce::Component::getCurrentlyModalComponent());
        const int shownBefore = shownWindows();
        show (open.main());
        ASSERT_GE (shownWindows(), shownBefore + (juce::String (name).contains ("FACTORY") ? 2 : 1)) << "the menu did not open";

        closeWindow (open);
        EXPECT_EQ (shownWindows(), shownBefore);
        ASSERT_NE (otherMenu, nullptr);
        EXPECT_TRUE (otherMenu->isVisible() && otherMenu->isCurrentlyModal (false)) << "the other window's menu";

        juce::PopupMenu::dismissAllActiveMenus();
        EXPECT_TRUE (runMessageLoopUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }));
        EXPECT_EQ (shownWindows(), shownAtFirst);
    }
}

namespace
{
// Closes whatever menu or dialog is still open after a while: a show call that ran a message loop
// of its own would return only then.
struct Watchdog : juce::Timer
{
    Watchdog() { startTimer (1500); }

    void timerCallback() override
    {
        fired = true;
        stopTimer();
        juce::PopupMenu::dismissAllActiveMenus();
        if (auto* modal = juce::Component::getCurrentlyModalComponent())
            modal->exitModalState (0);
    }

    bool fired = false;
};
} // namespace

// A menu or dialog that ran a message loop of its own would hold the host's loop until it
// closed. Each one's call returns with it still open; dismissed, it does nothing.
TEST (OpenMenus, EveryMenuAndDialogReturnsWhileItIsStillOpen)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 5);
    OpenEditor open (p);
    auto& main = open.main();
    auto& footer = main.footer;
    footer.ccMapperUIManager.useNativeDialogs = false;
    auto& knob = *main.globalControls.dryWetKnob;
    auto& pad = *main.pad;
    const auto presetName = p.getPresetName();
    const auto right = juce::ModifierKeys (juce::ModifierKeys::rightButtonModifier);
    const auto altLeft = juce::ModifierKeys (juce::ModifierKeys::altModifier | juce::ModifierKeys::leftButtonModifier);

    const std::pair<const char*, std::function<void()>> shows[] = {
        { "main menu", [&] { footer.menuButton->onClick(); } },
        { "preset list", [&] { footer.presetButton.onClick(); } },
        { "pad's controller menu", [&] { pad.mouseDown (mouseEvent (pad, { 20.0f, 20.0f }, right)); } },
        { "knob's controller menu", [&] { knob.mouseDown (mouseEvent (knob, { 10.0f, 10.0f }, altLeft)); } },
        { "map load dialog", [&] { footer.ccMapperUIManager.loadMidiMap(); } },
        { "map save dialog", [&] { footer.ccMapperUIManager.saveMidiMap(); } },
    };

    for (const auto& [name, show] : shows)
    {
        SCOPED_TRACE (name);
        Watchdog watchdog;
        show();
        EXPECT_NE (juce::Component::getCurrentlyModalComponent(), nullptr) << "open when the call returned";
        EXPECT_FALSE (watchdog.fired);

        juce::PopupMenu::dismissAllActiveMenus();
        if (auto* dialog = dynamic_cast<juce::FileChooserDialogBox*> (juce::Component::getCurrentlyModalComponent()))
            dialog->exitModalState (0);
        EXPECT_TRUE (runMessageLoopUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }));
        runMessageLoop (30);

        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=5");
        EXPECT_EQ (p.getPresetName(), presetName);
        EXPECT_FALSE (knob.assignRequested || knob.clearRequested);
        EXPECT_FALSE (pad.isGestureOpen());
    }
}
