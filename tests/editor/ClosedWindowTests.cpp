// A host may close the window while one of its menus or file dialogs is up (its own message loop
// runs inside ours), or between a menu's closing and the action the framework posts for it. What
// then runs must not touch the window's freed components. Run these under AddressSanitizer too.

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

// Works the framework's own file dialog as soon as it is open: runs the given step (the host
// closing the window), then picks the file and confirms. Cancels any dialog after two seconds.
struct FileDialogDriver : juce::Timer
{
    FileDialogDriver (juce::File toPick, std::function<void()> whileOpen) : file (std::move (toPick)), step (std::move (whileOpen))
    {
        startTimer (5);
    }

    static juce::FileChooserDialogBox* findDialog()
    {
        auto& desktop = juce::Desktop::getInstance();
        for (int i = desktop.getNumComponents(); --i >= 0;)
            if (auto* box = dynamic_cast<juce::FileChooserDialogBox*> (desktop.getComponent (i)))
                return box;
        return nullptr;
    }

    static juce::FileBrowserComponent* findBrowser (juce::Component& c)
    {
        if (auto* browser = dynamic_cast<juce::FileBrowserComponent*> (&c))
            return browser;
        for (auto* child : c.getChildren())
            if (auto* browser = findBrowser (*child))
                return browser;
        return nullptr;
    }

    void timerCallback() override
    {
        auto* box = findDialog();
        if (box != nullptr && ! acted && box->isCurrentlyModal())
        {
            acted = true;
            step();
            auto* browser = findBrowser (*box);
            ASSERT_NE (browser, nullptr);
            browser->setRoot (file.getParentDirectory());
            browser->setFileName (file.getFileName());
            box->exitModalState (1);
        }
        else if (++ticks > 400 && box != nullptr)
        {
            box->exitModalState (0);
        }
    }

    juce::File file;
    std::function<void()> step;
    bool acted = false;
    int ticks = 0;
};

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
    runMessageLoop (20);

    EXPECT_TRUE (driver.acted);
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
        runMessageLoop (50);

        EXPECT_TRUE (driver.acted);
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

        FileDialogDriver driver (file, [&] { closeWindow (open); });
        if (loading)
            manager.loadMidiMap();
        else
            manager.saveMidiMap();

        EXPECT_TRUE (driver.acted);
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
