// The host is asked to save when the user changed state that its parameters do not show: changes
// are gathered into one notice per timer tick, a restore by the host asks for nothing, and a
// program change loaded on the audio thread asks only when it applied a state.
#include "support/EngineTestSupport.h"

#include <thread>

using namespace enginetest;

namespace
{
// Counts the "state needs saving" notices the processor sends its listeners (as the plug-in
// client, which passes them on to the host, is one).
struct NoticeLog : juce::AudioProcessorListener
{
    explicit NoticeLog (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
    ~NoticeLog() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        notices += details.nonParameterStateChanged ? 1 : 0;
        others += details.nonParameterStateChanged ? 0 : 1;
    }

    juce::AudioProcessor& processor;
    int notices = 0, others = 0;
};

juce::MidiBuffer programChange (int program)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (1, program), 0);
    return midi;
}
} // namespace

TEST (StateChangeNotice, ChangesOfOneTickGiveOneNoticeAndARestoreGivesNone)
{
    QuorilAudioProcessor p;
    NoticeLog log (p);
    EXPECT_FALSE (p.sendStateChangeNotice()) << "a new instance has nothing to save";

    // Many changes, from the message thread and from another thread, before one tick.
    p.noteStateChange();
    p.noteStateChange();
    std::thread ([&p] { p.noteStateChange(); }).join();
    EXPECT_TRUE (p.sendStateChangeNotice());
    EXPECT_FALSE (p.sendStateChangeNotice());
    EXPECT_EQ (log.notices, 1);

    // The host's restore of a state with other settings, a name and a binding asks for nothing.
    QuorilAudioProcessor other;
    other.randomizeSettings();
    other.setPresetName ("Other");
    other.midiMap.lastCC = 7;
    other.midiMap.assignToLastCC ("x_pos");
    juce::MemoryBlock blob;
    other.getStateInformation (blob);
    p.setStateInformation (blob.getData(), (int) blob.getSize());
    ASSERT_EQ (p.getPresetName(), "Other");
    juce::MessageManager::getInstance()->runDispatchLoopUntil (3 * QuorilAudioProcessor::stateChangeNoticeIntervalMs);
    EXPECT_EQ (log.notices, 1);

    // The processor's own timer delivers a change, once.
    p.noteStateChange();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (3 * QuorilAudioProcessor::stateChangeNoticeIntervalMs);
    EXPECT_EQ (log.notices, 2);
    EXPECT_EQ (log.others, 0);
}

TEST (StateChangeNotice, AProgramChangeWithoutAWindowAsksOnlyWhenItAppliedAState)
{
    const auto folder = juce::File (presetsFolderPath()).getChildFile ("MIDI");
    folder.createDirectory();
    ASSERT_TRUE (folder.getChildFile ("A.qpst").replaceWithText (stateDocument (0.25f, 0.75f, "A")));
    ASSERT_TRUE (folder.getChildFile ("B.qpst").replaceWithText ("<Other><Metadata preset_name=\"B\"/></Other>"));
    ASSERT_TRUE (folder.getChildFile ("C.qpst").replaceWithText ("not a document"));

    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 64);
    juce::AudioBuffer<float> buffer (2, 64);

    for (int program : { 1, 2, 3 }) // another document, unreadable text, no slot
    {
        auto midi = programChange (program);
        p.processBlock (buffer, midi);
        EXPECT_FALSE (p.sendStateChangeNotice()) << program;
    }

    auto midi = programChange (0);
    p.processBlock (buffer, midi);
    ASSERT_EQ (p.getPresetName(), "A");
    EXPECT_TRUE (p.sendStateChangeNotice());

    folder.deleteRecursively();
}
