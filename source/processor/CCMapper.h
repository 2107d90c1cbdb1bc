#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

// Type of the controller map tree and tag of its XML element: "Quoril_MIDI_MAP".
extern const juce::String midiMapTreeType;
// Property of a binding that holds its controller number.
extern const juce::String ccPropertyName;

// Binds MIDI controllers to host parameters.
//
// mapTree is the editable map: one child per binding, whose type is the parameter id and whose
// "cc" property is the controller number. It is edited on the message thread only.
//
// The audio thread never walks mapTree. Whenever the tree changes, the message thread builds an
// immutable table of the bindings (controller, parameter id), grouped by controller, and
// publishes it through an atomic pointer. The audio thread announces itself in a reader count
// before it loads that pointer; a replaced table is deleted on the message thread only once no
// reader is inside. The audio side takes no lock and allocates nothing.
//
// Changes made through this class's own operations are published at once. Direct edits of
// mapTree (removing all children, for example) are published from the message loop, or at once
// by calling refreshBindings().
class CCMapper : private juce::ValueTree::Listener,
                 private juce::AsyncUpdater
{
public:
    CCMapper();
    ~CCMapper() override;

    // Audio thread: applies the block's controller messages to the bound parameters.
    void processMidi (const juce::MidiBuffer& midi, juce::AudioProcessorValueTreeState& parameters);
    // Audio thread: sets every parameter bound to the controller from a 7-bit value.
    void applyControllerValue (int controller, int value, juce::AudioProcessorValueTreeState& parameters);

    // Message thread. Each returns whether the map changed: binding a parameter to the controller
    // it already has, or clearing one that has none, changes nothing.
    bool assignToLastCC (const juce::String& parameterId);
    bool clearMapping (const juce::String& parameterId);
    bool loadFromXml (const juce::XmlElement& xml);

    // A map as Quoril itself keeps one: the first binding of each parameter to a controller a
    // message can carry, holding only that controller.
    static juce::ValueTree ownBindings (const juce::ValueTree& map);

    // Message thread: publishes the current mapTree to the audio thread now.
    void refreshBindings();

    // Number of bindings the audio thread currently applies (bindings with a controller 0..127).
    int getNumPublishedBindings() const noexcept;

    // Moves of bound parameters as host edits.
    //
    // The audio thread sets a bound parameter itself (the host sees that as an output change of
    // the block, which many hosts ignore) and notes the value in the parameter's slot: two atomic
    // stores. A message-thread timer of the processor calls sendHostEdits, which passes each
    // parameter moved since its last call on to the host as a knob turned in the window is:
    // a gesture begins at the first move, each call sends the latest value once (a sweep gives
    // one edit per call, not one per message), and the gesture ends after hostEditRestCalls calls
    // without a move. Under host automation the host decides which value wins, as for the knobs.
    //
    // A noted move is only news while the parameter still holds the value it gave it: a call sends
    // it only then (holding it back for up to hostEditRestCalls calls while the parameter holds
    // another value), and tells the host without setting the parameter again, so a value the
    // host's automation or a restore set since is never put back. A state applied (restore, preset, MIDI
    // slot) drops the moves noted before it, and the next call ends the gestures they opened; the
    // host's client ignores a gesture ended inside the restore itself.
    //
    // Message thread, before the audio thread first runs: slots for numParameters parameters, by
    // their index in the processor.
    void prepareHostEdits (int numParameters);
    // Message thread: one tick of the timer; returns the number of edits sent.
    int sendHostEdits (const juce::Array<juce::AudioProcessorParameter*>& processorParameters);
    // Any thread, the audio thread included (atomic stores only): drops the moves not sent yet and
    // has the next sendHostEdits end the open gestures first.
    void dropUnsentMoves() noexcept;
    // With the message loop held, once the timer is stopped (the processor going): drops the moves
    // not sent yet and ends the open gestures now.
    void endHostEdits (const juce::Array<juce::AudioProcessorParameter*>& processorParameters);

    static constexpr int hostEditIntervalMs = 40;
    static constexpr int hostEditRestCalls = 8; // the controller rests: 320 ms without a move

    juce::ValueTree mapTree;
    std::atomic<int> lastCC { -1 };

    // The file dialog that saves or loads this map, and the question it may ask before a file is
    // replaced. They belong to the map, not to the window that opened them: the window may close
    // while they are up, and the user's answer still acts on this map. They close, answering
    // nothing, when the map goes.
    std::unique_ptr<juce::FileChooser> fileDialog;
    std::unique_ptr<juce::Component> fileDialogQuestion;

private:
    struct Binding
    {
        int controller;
        juce::String parameterId;
    };

    // Bindings sorted by controller, keeping the map's order within one controller;
    // the bindings of controller c are items[firstOf[c]] up to items[firstOf[c + 1]].
    struct BindingTable
    {
        std::vector<Binding> items;
        std::array<int, 129> firstOf {};
    };

    class ReadScope;

    struct MovedParameter
    {
        std::atomic<float> value { 0.0f };
        std::atomic<bool> moved { false };
        int callsAtRest = 0;    // message thread only
        int callsHeldBack = 0;  // message thread only
        bool inGesture = false; // message thread only
    };

    void endGestures (const juce::Array<juce::AudioProcessorParameter*>& processorParameters);
    void applyFromTable (const BindingTable& table, int controller, int value,
                         juce::AudioProcessorValueTreeState& parameters);
    void publish (std::unique_ptr<BindingTable> table);
    void reclaimRetiredTables();

    void handleAsyncUpdate() override;
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override;
    void valueTreeChildAdded (juce::ValueTree&, juce::ValueTree&) override;
    void valueTreeChildRemoved (juce::ValueTree&, juce::ValueTree&, int) override;
    void valueTreeChildOrderChanged (juce::ValueTree&, int, int) override;
    void valueTreeRedirected (juce::ValueTree&) override;

    std::atomic<const BindingTable*> published { nullptr };
    std::atomic<int> activeReaders { 0 };
    std::unique_ptr<BindingTable> current;
    std::vector<std::unique_ptr<BindingTable>> retired;
    std::unique_ptr<MovedParameter[]> movedParameters;
    int numMovedParameters = 0;
    std::atomic<bool> gesturesToEnd { false };

    JUCE_DECLARE_NON_COPYABLE (CCMapper)
};
