// The host learns when the plug-in's state needs saving. A listener on the hosted instance hears a
// change of state beyond the parameters after a user's edits in the real window (driven with X
// input under the virtual display) and after a program change with the window closed, and never
// after the host's own restore.

#include "HostFixture.h"
#include "UserInput.h"
#include "support/MessageLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace quoril::hosttest;

namespace
{
// While no window of the plug-in is open its client runs its own message thread, so the notice
// may arrive on that thread.
struct SaveNoticeLog : juce::AudioProcessorListener
{
    explicit SaveNoticeLog (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
    ~SaveNoticeLog() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.nonParameterStateChanged)
        {
            lastNoticeMs = juce::Time::getMillisecondCounterHiRes();
            ++notices;
        }
    }

    juce::AudioProcessor& processor;
    std::atomic<int> notices { 0 };
    std::atomic<double> lastNoticeMs { 0.0 };
};

void pump (int milliseconds) { testsupport::runMessageLoop (milliseconds); }

// Runs the message loop until the log has heard more than `seen` notices, or for `milliseconds`;
// returns how many it has heard.
int noticesAfter (const SaveNoticeLog& log, int seen, int milliseconds = 3000)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    while (log.notices.load() <= seen && juce::Time::getMillisecondCounter() < deadline)
        pump (20);
    return log.notices.load();
}

// The notices a host would hear within long enough for many ticks of the plug-in's timer.
int noticesWithin (const SaveNoticeLog& log, int milliseconds = 1500)
{
    pump (milliseconds);
    return log.notices.load();
}

void processProgramChange (juce::AudioPluginInstance& instance, int program)
{
    juce::AudioBuffer<float> buffer (2, 256);
    buffer.clear();
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (1, program), 0);
    instance.processBlock (buffer, midi);
}

// A MIDI slot in the tests' private home, made before an instance lists its slots.
struct MidiSlot
{
    MidiSlot()
    {
        folder.createDirectory();
        EXPECT_TRUE (folder.getChildFile ("Slot.qpst").replaceWithText (
            "<Quoril><PARAM id=\"dry_wet\" value=\"0.25\"/><Metadata preset_name=\"FromSlot\"/></Quoril>"));
    }
    ~MidiSlot() { folder.deleteRecursively(); }

    const juce::File folder { juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                  .getChildFile ("Orvane_Studio/Presets/Quoril/MIDI") };
};

// Acts as the user on a thread of its own while this one runs the message loop, which the
// plug-in's windows and menus need in order to answer the input.
bool actAsUser (const std::function<bool()>& script)
{
    std::atomic<bool> done { false }, ok { false };
    std::thread user ([&] { ok = script(); done = true; });
    const auto deadline = juce::Time::getMillisecondCounter() + 15000;
    while (! done && juce::Time::getMillisecondCounter() < deadline)
        pump (10);
    user.join();
    return ok;
}

void pause (int milliseconds) { std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds)); }

} // namespace

// The host takes the state a few blocks after a program change, as a periodic backup or an undo
// step may: the notice still comes, within a few milliseconds of the block. Each try starts from
// the host's restore of the state before the change, which asks for nothing.
TEST (HostSaveNotice, AProgramChangeWithNoWindowAsksForASaveEvenWhenTheStateIsTakenAtOnce)
{
    MidiSlot slot;
    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);
    SaveNoticeLog log (*instance);
    juce::MemoryBlock saved;
    instance->getStateInformation (saved);
    EXPECT_EQ (noticesWithin (log), 0) << "a new instance has nothing to save";

    std::vector<double> latencies;
    for (int attempt = 0; attempt < 5; ++attempt)
    {
        SCOPED_TRACE (attempt);
        const int seen = log.notices.load();
        const auto blockStart = juce::Time::getMillisecondCounterHiRes();
        processProgramChange (*instance, 0);
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer none;
        for (int block = 0; block < 3; ++block)
            instance->processBlock (buffer, none);
        ASSERT_TRUE (stateHolds (*instance, "FromSlot")) << "the state taken at once";

        ASSERT_EQ (noticesAfter (log, seen), seen + 1);
        latencies.push_back (log.lastNoticeMs.load() - blockStart);

        instance->setStateInformation (saved.getData(), (int) saved.getSize());
        ASSERT_FALSE (stateHolds (*instance, "FromSlot"));
        EXPECT_EQ (noticesWithin (log, 300), seen + 1) << "the host's own restore";
    }
    std::sort (latencies.begin(), latencies.end());
    std::printf ("Program change to the host's notice, 5 tries: %.1f to %.1f ms, median %.1f ms\n",
                 latencies.front(), latencies.back(), latencies[2]);
    EXPECT_LT (latencies[2], 50.0);

    instance->releaseResources();
}

// The window at the design size, so that its controls sit at their design positions on the screen.
TEST (HostSaveNotice, EditsInTheWindowAskForASaveTheHostsRestoreDoesNot)
{
    MidiSlot slot;
    storePanelWidth (800);
    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);
    SaveNoticeLog log (*instance);
    juce::MemoryBlock saved;
    instance->getStateInformation (saved);

    auto window = std::make_unique<juce::DocumentWindow> ("Quoril", juce::Colours::black, 0);
    window->setUsingNativeTitleBar (true);
    window->setContentOwned (instance->createEditorIfNeeded(), true);
    window->setTopLeftPosition (10, 10);
    window->setVisible (true);
    ASSERT_EQ (window->getContentComponent()->getWidth(), 800);
    EXPECT_EQ (noticesWithin (log, 1000), 0) << "opening the window";

    const auto origin = window->getContentComponent()->getScreenPosition();
    const auto screen = [origin] (int x, int y) { return origin + juce::Point<int> (x, y); };
    int seen = 0;

    // GRAIN SIZE of the first pole's left channel (the shown engine editor), dragged upwards.
    const auto knob = screen (533 + 27 + 16, 2 + 63 + 16);
    // A short drag, then at once the host takes the state: the edit was announced before the
    // capture, and nothing is asked after it, so a save there leaves the project unmodified.
    ASSERT_TRUE (actAsUser ([knob] { return dragFrom (knob.x, knob.y, knob.x, knob.y - 60, 1); }));
    juce::MemoryBlock captured;
    instance->getStateInformation (captured);
    EXPECT_GT (seen = log.notices.load(), 0) << "engine knob";
    EXPECT_EQ (noticesWithin (log, 400), seen) << "after the capture";

    const auto generateAll = screen (2 + 116 + 16, 2 + 81 + 16);
    ASSERT_TRUE (actAsUser ([generateAll] { return clickAt (generateAll.x, generateAll.y); }));
    EXPECT_GT (noticesAfter (log, seen), seen) << "generate all";
    seen = noticesWithin (log, 400);

    // The preset name opens the list; FACTORY opens its sub-menu on hover; its second entry loads.
    const auto presetName = screen (2 + 297 + 101, 418 + 28 + 12);
    ASSERT_TRUE (actAsUser ([presetName] { return chooseFromSubMenu (presetName.x, presetName.y, 0.25f, 0.15f); }))
        << "the preset list could not be worked";
    EXPECT_GT (noticesAfter (log, seen), seen) << "preset from the list";
    EXPECT_TRUE (stateHolds (*instance, "Drill2"));
    seen = noticesWithin (log, 400);

    // The host restores the state it saved before; the window's poll shows it.
    instance->setStateInformation (saved.getData(), (int) saved.getSize());
    ASSERT_FALSE (stateHolds (*instance, "Drill2"));
    EXPECT_EQ (noticesWithin (log), seen) << "the host's own restore";

    window.reset();
    pump (200);
    ASSERT_EQ (instance->getActiveEditor(), nullptr);
    processProgramChange (*instance, 0);
    EXPECT_EQ (noticesAfter (log, seen), seen + 1) << "program change with the window closed";
    ASSERT_TRUE (stateHolds (*instance, "FromSlot"));

    instance->releaseResources();
}
