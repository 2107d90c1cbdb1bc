#include "support/EngineTestSupport.h"
#include "support/MessageLoop.h"

#include <thread>

using namespace enginetest;

namespace
{
struct ChangeCounter : juce::AudioProcessorParameter::Listener
{
    explicit ChangeCounter (juce::AudioProcessorParameter& p) : parameter (p) { parameter.addListener (this); }
    ~ChangeCounter() override { parameter.removeListener (this); }
    void parameterValueChanged (int, float) override { ++changes; }
    void parameterGestureChanged (int, bool) override {}

    juce::AudioProcessorParameter& parameter;
    int changes = 0;
};

float normalisedOf (QuorilAudioProcessor& p, const juce::String& id) { return p.parameters.getParameter (id)->getValue(); }

void bind (QuorilAudioProcessor& p, const juce::String& id, int controller)
{
    p.midiMap.lastCC = controller;
    p.midiMap.assignToLastCC (id);
}
} // namespace

TEST (ControllerMap, LastValueWinsOnAnyChannelAndControllersApplyInAscendingOrder)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 7);
    ChangeCounter counter (*p.parameters.getParameter ("x_pos"));
    p.midiMap.processMidi (controllers ({ { 1, 7, 10 }, { 1, 7, 90 }, { 1, 7, 40 } }), p.parameters);
    EXPECT_EQ (counter.changes, 1);
    EXPECT_FLOAT_EQ (valueOf (p, "x_pos"), 0.315f);
    p.midiMap.processMidi (controllers ({ { 16, 7, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 1.0f);
    p.midiMap.processMidi (controllers ({ { 9, 7, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.0f);

    // 20 arrives first, 5 second; 5 is applied first, so 20's value stays; 5 is the last moved.
    bind (p, "y_pos", 20);
    p.midiMap.mapTree.appendChild (juce::ValueTree ("y_pos").setProperty ("cc", 5, nullptr), nullptr);
    p.midiMap.refreshBindings();
    p.midiMap.processMidi (controllers ({ { 1, 20, 127 }, { 1, 5, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "y_pos"), 1.0f);
    EXPECT_EQ (p.midiMap.lastCC.load(), 5);
}

TEST (ControllerMap, OtherMessagesAndController123ChangeNothing)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 123);
    bind (p, "y_pos", 1);
    ChangeCounter xCounter (*p.parameters.getParameter ("x_pos")), yCounter (*p.parameters.getParameter ("y_pos"));

    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, 1.0f), 0);
    midi.addEvent (juce::MidiMessage::pitchWheel (1, 100), 1);
    midi.addEvent (juce::MidiMessage::programChange (1, 4), 2);
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 123, 0), 3);
    const juce::uint8 truncated[] = { 0xb0, 0x01 };
    midi.addEvent (truncated, 2, 4);
    p.midiMap.processMidi (midi, p.parameters);
    EXPECT_EQ (xCounter.changes + yCounter.changes, 0);
    EXPECT_EQ (p.midiMap.lastCC.load(), 1);
}

TEST (ControllerMap, SharedControllersClearingAndDirectTreeEdits)
{
    QuorilAudioProcessor p;
    p.midiMap.processMidi (controllers ({ { 1, 11, 5 } }), p.parameters); // an empty map still follows the last moved
    p.midiMap.assignToLastCC ("x_pos");
    p.midiMap.assignToLastCC ("x_pos");
    p.midiMap.assignToLastCC ("dry_wet");
    EXPECT_EQ (p.midiMap.mapTree.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader()),
               "<Quoril_MIDI_MAP><x_pos cc=\"11\"/><dry_wet cc=\"11\"/></Quoril_MIDI_MAP>");
    p.midiMap.processMidi (controllers ({ { 3, 11, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos") + normalisedOf (p, "dry_wet"), 2.0f);

    p.midiMap.clearMapping ("x_pos");
    p.midiMap.processMidi (controllers ({ { 3, 11, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "dry_wet"), 0.0f);

    // Removing every child directly (as the editor's clear does) reaches the audio side too.
    p.midiMap.mapTree.removeAllChildren (nullptr);
    testsupport::runMessageLoop (20);
    EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 0);
    p.midiMap.processMidi (controllers ({ { 3, 11, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "dry_wet"), 0.0f);
}

TEST (ControllerMap, LoadedMapsKeepTheirTagAndAttributesAndIgnoreUnknownParameters)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 2);
    EXPECT_FALSE (p.midiMap.loadFromXml (*juce::parseXML ("<Quoril><y_pos cc=\"1\"/></Quoril>")));
    EXPECT_EQ (p.midiMap.mapTree.getChild (0).getType().toString(), "x_pos");

    ASSERT_TRUE (p.midiMap.loadFromXml (*juce::parseXML (
        R"(<quoril_MIDI_map><no_such_parameter cc="4"/><y_pos cc="4" label="pad"/><in_gain/><out_gain cc="abc"/><dry_wet cc="1e12"/></quoril_MIDI_map>)")));
    EXPECT_EQ (p.midiMap.lastCC.load(), 2);

    // Children without a number bind controller 0; the old binding is gone.
    p.midiMap.processMidi (controllers ({ { 1, 4, 127 }, { 1, 0, 127 }, { 1, 2, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "y_pos") + normalisedOf (p, "in_gain") + normalisedOf (p, "out_gain"), 3.0f);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.5f);
    EXPECT_TRUE (xmlTextOf (blobOf (p)).contains (R"(<quoril_MIDI_map><no_such_parameter cc="4"/><y_pos cc="4" label="pad"/><in_gain/>)"));
}

// The message thread rebuilds the bindings while the audio side applies them: no crash, no
// stall (and nothing for a sanitizer to report).
TEST (ControllerMap, EditingTheMapWhileControllersArriveIsSafe)
{
    QuorilAudioProcessor p;
    std::atomic<bool> running { true };
    const auto midi = controllers ({ { 1, 1, 64 }, { 1, 2, 100 }, { 1, 3, 1 } });
    std::thread audio ([&]
    {
        while (running)
            p.midiMap.processMidi (midi, p.parameters);
    });

    auto map = juce::parseXML ("<Quoril_MIDI_MAP><x_pos cc=\"1\"/><y_pos cc=\"2\"/><dry_wet cc=\"3\"/></Quoril_MIDI_MAP>");
    for (int i = 0; i < 2000; ++i)
    {
        p.midiMap.loadFromXml (*map);
        p.midiMap.clearMapping ("y_pos");
        p.midiMap.assignToLastCC ("in_gain");
        p.midiMap.mapTree.removeAllChildren (nullptr);
        p.midiMap.refreshBindings();
    }
    running = false;
    audio.join();
    EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 0);
}

// The host hears a bound controller's moves as a knob turned in the window: a gesture around the
// latest value of each tick, ended once the controller rests.
TEST (ControllerMap, MovesReachTheHostCoalescedInsideOneGesture)
{
    struct HostLog : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
        {
            events.add (juce::String (index) + "=" + juce::String (value, 3));
        }
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override { events.add ("begin " + juce::String (index)); }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override { events.add ("end " + juce::String (index)); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        juce::StringArray events;
    };

    HostLog log;
    auto processor = std::make_unique<QuorilAudioProcessor>();
    auto& p = *processor;
    bind (p, "x_pos", 7);
    bind (p, "dry_wet", 8);
    const auto saved = blobOf (p);
    const int x = p.parameters.getParameter ("x_pos")->getParameterIndex();
    const int dryWet = p.parameters.getParameter ("dry_wet")->getParameterIndex();
    p.addListener (&log);
    const auto tick = [&] (std::initializer_list<std::array<int, 3>> moves)
    {
        for (const auto& move : moves)
            p.midiMap.processMidi (controllers ({ move }), p.parameters); // a block each
        log.events.clear();
        const int edits = p.midiMap.sendHostEdits (p.getParameters());
        return juce::String (edits) + ": " + log.events.joinIntoString (", ");
    };
    const auto on = [] (int index, const char* text) { return juce::String (index) + text; };

    EXPECT_EQ (tick ({ { 1, 7, 10 }, { 1, 7, 90 }, { 1, 7, 127 } }), "1: begin " + on (x, ", ") + on (x, "=1.000"));
    EXPECT_EQ (tick ({ { 1, 7, 0 } }), "1: " + on (x, "=0.000"));
    EXPECT_EQ (tick ({ { 1, 8, 127 }, { 1, 9, 64 } }), "1: begin " + on (dryWet, ", ") + on (dryWet, "=1.000"))
        << "controller 9 is bound to nothing";

    // Resting: each gesture ends after the rest, counted from its own parameter's last move.
    for (int i = 2; i < CCMapper::hostEditRestCalls; ++i)
        EXPECT_EQ (tick ({}), "0: ") << i;
    EXPECT_EQ (tick ({}), "0: end " + juce::String (x));
    EXPECT_EQ (tick ({}), "0: end " + juce::String (dryWet));
    EXPECT_EQ (tick ({}), "0: ");
    EXPECT_EQ (tick ({ { 1, 7, 64 } }), "1: begin " + on (x, ", ") + on (x, "=0.504")) << "a new gesture";

    // A move is sent only while the parameter holds its value: a restore before the tick drops it
    // and has the gesture end; a value that host automation set since stays and is not reported over.
    p.midiMap.processMidi (controllers ({ { 1, 7, 127 } }), p.parameters);
    restore (p, saved);
    EXPECT_EQ (tick ({}), "0: end " + juce::String (x)) << "restored before the tick";
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.5f);
    EXPECT_EQ (tick ({ { 1, 7, 127 } }), "1: begin " + on (x, ", ") + on (x, "=1.000")) << "the next move is sent";
    p.midiMap.processMidi (controllers ({ { 1, 7, 0 } }), p.parameters);
    p.parameters.getParameter ("x_pos")->setValueNotifyingHost (0.25f);
    EXPECT_EQ (tick ({}), "0: ") << "automation since the move";
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.25f);
    p.parameters.getParameter ("x_pos")->setValueNotifyingHost (0.0f);
    EXPECT_EQ (tick ({}), "1: " + on (x, "=0.000")) << "a host handing back an older output change for a moment";

    // The gesture still open when the processor goes is ended.
    log.events.clear();
    processor.reset();
    EXPECT_EQ (log.events.joinIntoString (", "), "end " + juce::String (x));
}
