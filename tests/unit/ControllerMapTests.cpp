#include "StateTestHelpers.h"

#include <thread>

using namespace quoril::test;

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

float normalisedOf (QuorilAudioProcessor& p, const juce::String& id)
{
    return p.parameters.getParameter (id)->getValue();
}

void bind (QuorilAudioProcessor& p, const juce::String& id, int controller)
{
    p.midiMap.lastCC = controller;
    p.midiMap.assignToLastCC (id);
}
} // namespace

TEST (ControllerMap, LastValueOfAControllerWinsAndIsAppliedOnce)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 7);
    ChangeCounter counter (*p.parameters.getParameter ("x_pos"));

    p.midiMap.processMidi (controllers ({ { 1, 7, 10 }, { 1, 7, 90 }, { 1, 7, 40 } }), p.parameters);
    EXPECT_EQ (counter.changes, 1);
    EXPECT_FLOAT_EQ (valueOf (p, "x_pos"), 0.315f);

    // 127 gives exactly 1.0 and 0 gives 0.0, on any channel.
    p.midiMap.processMidi (controllers ({ { 16, 7, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 1.0f);
    p.midiMap.processMidi (controllers ({ { 9, 7, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.0f);
}

TEST (ControllerMap, ControllersApplyInAscendingOrderAndTheLastMovedIsRemembered)
{
    QuorilAudioProcessor p;
    bind (p, "y_pos", 20);
    bind (p, "y_pos", 20);
    p.midiMap.mapTree.appendChild (juce::ValueTree ("y_pos").setProperty ("cc", 5, nullptr), nullptr);
    p.midiMap.refreshBindings();

    // 20 arrives first, 5 second; 5 is applied first, so 20's value stays.
    p.midiMap.processMidi (controllers ({ { 1, 20, 127 }, { 1, 5, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "y_pos"), 1.0f);
    EXPECT_EQ (p.midiMap.lastCC.load(), 5);

    p.midiMap.processMidi (controllers ({ { 1, 5, 0 }, { 1, 20, 0 }, { 1, 5, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "y_pos"), 0.0f);
    EXPECT_EQ (p.midiMap.lastCC.load(), 5);
}

TEST (ControllerMap, OtherMessagesAndController123ChangeNothing)
{
    QuorilAudioProcessor p;
    bind (p, "x_pos", 123);
    bind (p, "y_pos", 1);
    p.midiMap.lastCC = 1;
    ChangeCounter xCounter (*p.parameters.getParameter ("x_pos"));
    ChangeCounter yCounter (*p.parameters.getParameter ("y_pos"));

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

TEST (ControllerMap, AssignClearAndSharedControllers)
{
    QuorilAudioProcessor p;
    EXPECT_EQ (p.midiMap.lastCC.load(), -1);

    // An empty map still follows the last controller moved.
    p.midiMap.processMidi (controllers ({ { 1, 10, 5 } }), p.parameters);
    p.midiMap.assignToLastCC ("x_pos");
    p.midiMap.processMidi (controllers ({ { 1, 11, 5 } }), p.parameters);
    p.midiMap.assignToLastCC ("x_pos");
    p.midiMap.assignToLastCC ("dry_wet");
    EXPECT_EQ (p.midiMap.mapTree.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader()),
               "<Quoril_MIDI_MAP><x_pos cc=\"11\"/><dry_wet cc=\"11\"/></Quoril_MIDI_MAP>");

    p.midiMap.processMidi (controllers ({ { 3, 11, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "dry_wet"), 1.0f);

    p.midiMap.clearMapping ("x_pos");
    p.midiMap.clearMapping ("in_gain");
    p.midiMap.processMidi (controllers ({ { 3, 11, 0 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "dry_wet"), 0.0f);

    // Removing every child directly (the footer's clear) reaches the audio side too.
    p.midiMap.mapTree.removeAllChildren (nullptr);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
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

    // Children without a number bind controller 0.
    p.midiMap.processMidi (controllers ({ { 1, 4, 127 }, { 1, 0, 127 }, { 1, 2, 127 } }), p.parameters);
    EXPECT_EQ (normalisedOf (p, "y_pos"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "in_gain"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "out_gain"), 1.0f);
    EXPECT_EQ (normalisedOf (p, "x_pos"), 0.5f); // the old binding is gone

    const auto text = xmlTextOf (blobOf (p));
    EXPECT_TRUE (text.contains (R"(<quoril_MIDI_map><no_such_parameter cc="4"/><y_pos cc="4" label="pad"/><in_gain/>)"));
}

TEST (ControllerMap, RestoredBindingMovesItsParameter)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    restore (p, blobWithText (R"(<Quoril><Quoril_MIDI_MAP><x_traj_range cc="74"/></Quoril_MIDI_MAP></Quoril>)"));
    p.midiMap.processMidi (controllers ({ { 1, 74, 0 } }), p.parameters);
    EXPECT_FLOAT_EQ (valueOf (p, "x_traj_range"), 0.1f);
}

// The message thread rebuilds the bindings while the audio side applies them; run under a
// sanitizer this shows any unsafe access, and it must never crash or stall.
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
