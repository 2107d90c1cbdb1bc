// Which actions of the window ask the host for a save: every one that changes state the host's
// parameters do not carry, and none that only changes host parameters, copies, or shows what a
// restore by the host brought.

#include "EditorTestSupport.h"

#include "support/EngineTestSupport.h"

#include <thread>

using namespace editortest;

namespace
{
// Counts the processor's requests for a save, whether its timer sent them during a click's
// message loop or the test's own tick did.
struct NoticeLog : juce::AudioProcessorListener
{
    explicit NoticeLog (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
    ~NoticeLog() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        notices += details.nonParameterStateChanged ? 1 : 0;
    }

    juce::AudioProcessor& processor;
    int notices = 0;
};

struct Action
{
    const char* name;
    std::function<void()> perform;
};
} // namespace

TEST (StateChangeNotice, EveryEditInTheWindowAsksForASaveButARestoreAndItsPollDoNot)
{
    const juce::File presets (presetsFolderPath());
    presets.getChildFile ("MIDI").createDirectory();
    ASSERT_TRUE (presets.getChildFile ("Mine.qpst").replaceWithText (enginetest::stateDocument (0.3f, 0.2f, "Mine")));
    ASSERT_TRUE (presets.getChildFile ("MIDI/Slot.qpst").replaceWithText (enginetest::stateDocument (0.7f, 0.6f, "Slot")));

    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& main = open.main();
    auto& footer = main.footer;
    auto& poleEditor = *main.editorsPanel.editors[0];
    NoticeLog log (p);
    // No tick of the processor's timer here: an edit in the window has told the host already.
    const auto noticed = [&log] { return std::exchange (log.notices, 0) > 0; };
    EXPECT_FALSE (noticed());

    // The host restores a state with other settings, a name and a binding; the window's poll then
    // moves its knobs to the restored records.
    {
        QuorilAudioProcessor other;
        other.randomizeSettings();
        other.setPresetName ("Restored");
        other.midiMap.lastCC = 9;
        other.midiMap.assignToLastCC ("y_pos");
        juce::MemoryBlock blob;
        other.getStateInformation (blob);
        const auto knobBefore = poleEditor.grainKnobsLeft[PoleEditor::grainSize]->getValue();
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        main.timerCallback();
        runMessageLoop (50);
        main.timerCallback();
        ASSERT_EQ (footer.presetButton.getButtonText(), "Restored");
        ASSERT_NE (poleEditor.grainKnobsLeft[PoleEditor::grainSize]->getValue(), knobBefore) << "the poll moved the knob";
        EXPECT_FALSE (noticed());
    }

    // Host parameters reach the host by themselves; copying and an empty paste change nothing saved.
    for (const auto& action : std::vector<Action> {
             { "in amp knob", [&] { main.globalControls.inAmpKnob->setValue (0.2, juce::sendNotificationSync); } },
             { "trajectory dice", [&] { click (*main.trajectoryControls.randomizeButton); } },
             { "stereo link", [&] { click (*open.header (1).linkButton); } },
             { "paste before any copy", [&] { click (*open.header (1).pasteButton); } },
             { "copy", [&] { click (*open.header (0).copyButton); } } })
    {
        SCOPED_TRACE (action.name);
        action.perform();
        EXPECT_FALSE (noticed());
    }

    auto& learningKnob = *main.globalControls.dryWetKnob;
    const auto mapFile = presets.getChildFile ("Map.mpcc");
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (
        juce::ValueTree::fromXml ("<Quoril_MIDI_MAP><x_pos cc=\"5\"/></Quoril_MIDI_MAP>"), mapFile));
    const bool nativeDialog = juce::FileChooser::isPlatformDialogAvailable();
    const int numFactory = p.factoryPresets.names.size();

    for (const auto& action : std::vector<Action> {
             { "engine knob", [&] { poleEditor.grainKnobsLeft[PoleEditor::grainSize]->setValue (0.9, juce::sendNotificationSync); } },
             { "right resonator knob", [&] { poleEditor.resonatorKnobsRight[PoleEditor::resonatorFeed]->setValue (0.1, juce::sendNotificationSync); } },
             { "diffusion knob", [&] { main.globalControls.diffusionRight->setValue (0.05, juce::sendNotificationSync); } },
             { "generate all poles", [&] { click (*main.worldControls.regenerateAllButton); } },
             { "generate one pole", [&] { click (*main.worldControls.regenerateButtons[2]); } },
             { "paste", [&] { click (*open.header (3).pasteButton); } },
             { "factory preset from the list", [&] { footer.handlePresetMenuResult (2, {}); } },
             { "next preset", [&] { click (*footer.nextButton); } },
             { "previous preset", [&] { click (*footer.previousButton); } },
             { "user preset from the list", [&] { footer.handlePresetMenuResult (numFactory + 1, footer.getUserPresetNames()); } },
             { "program change while the window is open", [&] { p.loadMidiPreset (0); main.timerCallback(); } },
             { "pad learn", [&] { main.pad->performControllerMenuItem (QuorilPad::mapXItem); } },
             { "pad clear", [&] { main.pad->performControllerMenuItem (QuorilPad::clearXItem); } },
             { "knob learn", [&] { learningKnob.handleCCMenuResult (orvnlib::OrvnKnob::assignItemId); runMessageLoop (20); } },
             { "knob clear", [&] { learningKnob.handleCCMenuResult (orvnlib::OrvnKnob::clearItemId); runMessageLoop (20); } },
             { "map cleared from the menu", [&] { footer.onClearMidiMap(); } },
             { "map file loaded", [&] { FileDialogDriver driver (FileDialogDriver::choose (mapFile)); footer.ccMapperUIManager.loadMidiMap(); driver.finish(); } } })
    {
        SCOPED_TRACE (action.name);
        if (nativeDialog && juce::String (action.name) == "map file loaded")
            continue; // a desktop's own file dialog cannot be worked from here
        action.perform();
        EXPECT_TRUE (noticed());
        // The window's next poll shows the change and asks for nothing more.
        main.timerCallback();
        EXPECT_FALSE (noticed());
    }
    EXPECT_EQ (p.getPresetName(), "Slot");
    if (! nativeDialog)
    {
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=5");
    }

    presets.getChildFile ("Mine.qpst").deleteFile();
    mapFile.deleteFile();
    presets.getChildFile ("MIDI").deleteRecursively();
}

// An edit followed at once by the host taking the state (for a backup, an undo step or a save) is
// announced all the same: an edit in the window before the host gets control back, a program change
// on the audio thread at the message thread's next turn. Nothing is asked after that, so a save
// right after an edit leaves nothing to save; and an action that leaves the saved state as it was
// (a preset loaded again among them) asks for nothing at all.
TEST (StateChangeNotice, AnEditFollowedAtOnceByACaptureIsAnnouncedAndActionsThatChangeNothingAreNot)
{
    const juce::File slots (presetsFolderPath() + "/MIDI");
    slots.createDirectory();
    ASSERT_TRUE (slots.getChildFile ("Slot.qpst").replaceWithText (enginetest::stateDocument (0.7f, 0.6f, "Slot")));
    QuorilAudioProcessor closed;
    closed.prepareToPlay (44100.0, 256);
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& main = open.main();
    auto& footer = main.footer;
    auto& knob = *main.globalControls.dryWetKnob;
    NoticeLog log (p);
    const auto noticed = [&log] { return std::exchange (log.notices, 0) > 0; };

    const auto programChangeOnTheAudioThread = [&closed]
    {
        std::thread ([&closed]
        {
            juce::AudioBuffer<float> buffer (2, 256);
            juce::MidiBuffer midi;
            midi.addEvent (juce::MidiMessage::programChange (1, 0), 0);
            closed.processBlock (buffer, midi);
        }).join();
    };
    struct Edit
    {
        const char* name;
        QuorilAudioProcessor& processor;
        std::function<void()> perform;
        bool toldBeforeTheCapture;
    };
    for (const auto& edit : std::vector<Edit> {
             { "engine knob", p, [&] { main.editorsPanel.editors[0]->grainKnobsLeft[PoleEditor::grainSize]->setValue (0.2, juce::sendNotificationSync); }, true },
             { "generate all poles", p, [&] { click (*main.worldControls.regenerateAllButton); }, true },
             { "pad learn", p, [&] { main.pad->performControllerMenuItem (QuorilPad::mapXItem); }, true },
             { "program change on the audio thread", closed, programChangeOnTheAudioThread, false } })
    {
        SCOPED_TRACE (edit.name);
        NoticeLog heard (edit.processor);
        edit.perform();
        juce::MemoryBlock blob;
        edit.processor.getStateInformation (blob);
        EXPECT_EQ (heard.notices > 0, edit.toldBeforeTheCapture);
        EXPECT_TRUE (runMessageLoopUntil ([&heard] { return heard.notices > 0; }, 1000));
        const int told = heard.notices;
        runMessageLoop (5 * QuorilAudioProcessor::stateChangeNoticeIntervalMs);
        EXPECT_EQ (heard.notices, told) << "nothing more to ask after the capture";
    }
    ASSERT_EQ (closed.getPresetName(), "Slot");
    slots.deleteRecursively();
    noticed();

    p.midiMap.mapTree.removeAllChildren (nullptr);
    p.midiMap.lastCC = 12;
    ASSERT_TRUE (p.midiMap.assignToLastCC ("in_gain"));
    const auto sameMap = presetsFolderPath() + "/Same.mpcc";
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, juce::File (sameMap)));
    // A document without a name: the name a load gives it from its file is part of what is saved.
    const auto unnamed = juce::File (presetsFolderPath()).getChildFile ("Unnamed.qpst");
    ASSERT_TRUE (unnamed.replaceWithText (enginetest::stateDocument (0.4f, 0.5f, "")));
    ASSERT_TRUE (slots.createDirectory());
    ASSERT_TRUE (slots.getChildFile ("Slot.qpst").replaceWithText (enginetest::stateDocument (0.7f, 0.6f, "Slot")));
    const auto loadTwice = [&noticed] (std::function<void()> load) { load(); noticed(); load(); };
    noticed();

    for (const auto& action : std::vector<Action> {
             { "knob clear with nothing bound", [&] { knob.handleCCMenuResult (orvnlib::OrvnKnob::clearItemId); runMessageLoop (20); } },
             { "pad clear with nothing bound", [&] { main.pad->performControllerMenuItem (QuorilPad::clearXItem);
                                                     main.pad->performControllerMenuItem (QuorilPad::clearYItem); } },
             { "knob learn of the controller it has", [&] { main.globalControls.inAmpKnob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
                                                            runMessageLoop (20); } },
             { "map file holding the bindings the map has", [&] { EXPECT_FALSE (footer.ccMapperUIManager.loadMapFile (juce::File (sameMap))); } },
             { "map cleared from the menu when empty", [&] { p.midiMap.mapTree.removeAllChildren (nullptr);
                                                             noticed();
                                                             footer.onClearMidiMap(); } },
             { "factory preset chosen again", [&] { loadTwice ([&] { footer.handlePresetMenuResult (2, {}); }); } },
             { "unnamed user preset chosen again", [&] { loadTwice ([&] { const auto names = footer.getUserPresetNames();
                                                                          footer.loadUserPreset (names, names.indexOf ("Unnamed")); });
                                                         EXPECT_EQ (p.getPresetName(), "Unnamed"); } },
             { "program change to the slot loaded", [&] { loadTwice ([&] { p.loadMidiPreset (0); main.timerCallback(); });
                                                          EXPECT_EQ (p.getPresetName(), "Slot"); } } })
    {
        SCOPED_TRACE (action.name);
        action.perform();
        EXPECT_FALSE (noticed());
    }
    juce::File (sameMap).deleteFile();
    unnamed.deleteFile();
    slots.deleteRecursively();
}
