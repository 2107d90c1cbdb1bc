#include "HostFixture.h"

#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

using namespace quoril::hosttest;

namespace
{
// JUCE's VST3 host keeps the component's state as base64 text in a "VST3PluginState" document.
juce::MemoryBlock componentStateOf (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock outer, component;
    instance.getStateInformation (outer);
    if (auto xml = juce::AudioProcessor::getXmlFromBinary (outer.getData(), (int) outer.getSize()))
        if (auto* element = xml->getChildByName ("IComponent"))
            component.fromBase64Encoding (element->getAllSubText());
    return component;
}

void setComponentState (juce::AudioPluginInstance& instance, const juce::MemoryBlock& component)
{
    juce::XmlElement state ("VST3PluginState");
    state.createNewChildElement ("IComponent")->addTextElement (component.toBase64Encoding());
    juce::MemoryBlock outer;
    juce::AudioProcessor::copyXmlToBinary (state, outer);
    instance.setStateInformation (outer.getData(), (int) outer.getSize());
}

// The plug-in's blob ("VC2!", length, text, zero byte) followed by the client's private chunk.
struct ComponentState
{
    explicit ComponentState (const juce::MemoryBlock& component)
    {
        const auto* bytes = static_cast<const char*> (component.getData());
        const auto length = component.getSize() < 9 ? 0 : (size_t) juce::ByteOrder::littleEndianInt (bytes + 4);
        if (component.getSize() < 9 || std::memcmp (bytes, "VC2!", 4) != 0 || 9 + length > component.getSize())
            return;
        text = juce::String::fromUTF8 (bytes + 8, (int) length);
        zeroByteFound = bytes[8 + length] == 0;
        privateChunk = juce::MemoryBlock (bytes + 9 + length, component.getSize() - 9 - length);
    }

    juce::MemoryBlock withText (const juce::String& newText) const
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) newText.getNumBytesAsUTF8());
        out.write (newText.toRawUTF8(), newText.getNumBytesAsUTF8());
        out.writeByte (0);
        out.write (privateChunk.getData(), privateChunk.getSize());
        out.flush();
        return block;
    }

    juce::MemoryBlock withBinding (const juce::String& binding) const
    {
        return withText (text.replace ("<Quoril_MIDI_MAP/>", "<Quoril_MIDI_MAP>" + binding + "</Quoril_MIDI_MAP>"));
    }

    juce::String text;
    bool zeroByteFound = false;
    juce::MemoryBlock privateChunk;
};

// Processes blocks of noise, with the given MIDI in the first; whether the last block came out
// as it went in, and its output RMS relative to the input's.
std::pair<bool, float> process (juce::AudioPluginInstance& instance, const juce::MidiBuffer& first, int numBlocks)
{
    static juce::Random noise (42);
    juce::AudioBuffer<float> buffer (2, 256), input (2, 256);
    for (int block = 0; block < numBlocks; ++block)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < 256; ++s)
                input.setSample (ch, s, (noise.nextFloat() * 2.0f - 1.0f) * 0.4f);
        buffer.makeCopyOf (input);
        juce::MidiBuffer midi (block == 0 ? first : juce::MidiBuffer());
        instance.processBlock (buffer, midi);
    }
    bool same = true;
    for (int ch = 0; ch < 2; ++ch)
        same = same && std::memcmp (buffer.getReadPointer (ch), input.getReadPointer (ch), 256 * sizeof (float)) == 0;
    return { same, buffer.getRMSLevel (0, 0, 256) / input.getRMSLevel (0, 0, 256) };
}
} // namespace

TEST (HostState, TheClientSavesTheBlobWithItsPrivateChunkAndRestoresIt)
{
    auto source = createInstance(), target = createInstance();
    ASSERT_TRUE (source != nullptr && target != nullptr);
    source->getParameters()[1]->setValueNotifyingHost (0.25f); // x_pos
    source->getParameters()[9]->setValueNotifyingHost (0.75f); // dry_wet

    const ComponentState state (componentStateOf (*source));
    ASSERT_TRUE (state.zeroByteFound);
    EXPECT_TRUE (state.text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Quoril>"));
    ASSERT_GT (state.privateChunk.getSize(), 15u);
    EXPECT_EQ (0, std::memcmp (static_cast<const char*> (state.privateChunk.getData()) + state.privateChunk.getSize() - 15, "JUCEPrivateData", 15));

    // A binding carried by the state comes back with it; damaged state changes nothing.
    setComponentState (*target, state.withBinding ("<y_pos cc=\"21\"/>"));
    EXPECT_FLOAT_EQ (target->getParameters()[1]->getValue(), 0.25f);
    EXPECT_FLOAT_EQ (target->getParameters()[9]->getValue(), 0.75f);
    EXPECT_TRUE (ComponentState (componentStateOf (*target)).text.endsWith ("<Quoril_MIDI_MAP><y_pos cc=\"21\"/></Quoril_MIDI_MAP></Quoril>"));
    setComponentState (*target, state.withText (state.text.dropLastCharacters (20)));
    EXPECT_FLOAT_EQ (target->getParameters()[9]->getValue(), 0.75f);
}

TEST (HostState, AControllerBoundThroughTheRestoredStateMovesItsParameter)
{
    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);
    setComponentState (*instance, ComponentState (componentStateOf (*instance)).withBinding ("<x_pos cc=\"74\"/>"));
    instance->prepareToPlay (44100.0, 256);
    process (*instance, juce::MidiBuffer (juce::MidiMessage::controllerEvent (1, 74, 127)), 2);
    instance->releaseResources();
    EXPECT_TRUE (ComponentState (componentStateOf (*instance)).text.contains ("<PARAM id=\"x_pos\" value=\"1.0\"/>"));
}

// A DAW restores the state (session load, undo, preset recall) on its own thread, while with no
// window open the plug-in's message loop runs on a thread of its own. Two saved states with
// different maps, back to back, then again while a third thread processes blocks with a bound
// controller moving: no crash, and the last state restored is the one that holds.
TEST (HostState, StatesRestoredBackToBackFromTheHostsThreadWhileTheLoopRuns)
{
    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    const ComponentState fresh (componentStateOf (*instance));
    const juce::MemoryBlock states[] { fresh.withBinding ("<x_pos cc=\"74\"/>"),
                                       fresh.withBinding ("<y_pos cc=\"21\"/><dry_wet cc=\"74\"/>") };
    instance->prepareToPlay (44100.0, 256);

    for (const bool processing : { false, true })
    {
        std::atomic<bool> running { processing };
        std::thread audio ([&]
        {
            juce::AudioBuffer<float> buffer (2, 256);
            for (int value = 0; running; value = (value + 1) % 128)
            {
                buffer.clear();
                juce::MidiBuffer midi (juce::MidiMessage::controllerEvent (1, 74, value));
                instance->processBlock (buffer, midi);
            }
        });

        constexpr int restores = 7000;
        const auto start = juce::Time::getMillisecondCounterHiRes();
        for (int i = 0; i < restores; ++i)
            setComponentState (*instance, states[i % 2]);
        const auto ms = juce::Time::getMillisecondCounterHiRes() - start;
        running = false;
        audio.join();

        std::cout << (processing ? "[blocks processed] " : "[no blocks] ") << restores << " restores in " << ms / 1000.0
                  << " s, " << ms / restores << " ms each" << std::endl;
        EXPECT_TRUE (ComponentState (componentStateOf (*instance)).text.contains ("<Quoril_MIDI_MAP><y_pos cc=\"21\"/><dry_wet cc=\"74\"/>"));
    }

    instance->releaseResources();
}

namespace
{
// What the host hears of x_pos (index 1), with the threads it heard it on.
struct EditLog : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int i, float value) override { add (i, juce::String (value, 2)); }
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int i) override { add (i, "begin"); }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int i) override { add (i, "end"); }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

    void add (int index, const juce::String& event)
    {
        const juce::ScopedLock lock (section);
        if (index != 1)
            return;
        events.add (event);
        threads.addIfNotAlreadyThere (juce::Thread::getCurrentThreadId());
    }

    // Runs the host's message loop until the event is heard; the milliseconds that took, or -1.
    double await (const juce::String& event)
    {
        const auto start = juce::Time::getMillisecondCounterHiRes();
        const auto heard = [&] { const juce::ScopedLock lock (section); return events.contains (event); };
        return testsupport::runMessageLoopUntil (heard, 3000) ? juce::Time::getMillisecondCounterHiRes() - start : -1.0;
    }

    juce::CriticalSection section;
    juce::StringArray events;
    juce::Array<juce::Thread::ThreadID> threads;
};
} // namespace

// A bound controller moved on the host's audio thread is heard by the host as a knob turned in the
// window: a gesture around the values, ended once the controller rests, from the plug-in's message
// thread (the host's own while the window is open); a sweep comes in few edits.
TEST (HostState, ABoundControllersMovesReachTheHostAsEdits)
{
    for (const bool withWindow : { false, true })
    {
        SCOPED_TRACE (withWindow ? "window open" : "no window");
        auto instance = createInstance (44100.0, 256);
        ASSERT_NE (instance, nullptr);
        const auto bound = ComponentState (componentStateOf (*instance)).withBinding ("<x_pos cc=\"74\"/>");
        setComponentState (*instance, bound);
        instance->prepareToPlay (44100.0, 256);
        auto window = withWindow ? std::make_unique<HostWindow> (instance->createEditorIfNeeded()) : nullptr;
        testsupport::runMessageLoop (300);
        EditLog log;
        instance->addListener (&log);

        // The audio thread: a block every 5 ms, with the controller value asked for, if any.
        std::atomic<int> pending { -1 }, processed { -1 };
        std::atomic<bool> running { true };
        std::atomic<juce::Thread::ThreadID> audioThread { nullptr };
        std::thread audio ([&]
        {
            audioThread = juce::Thread::getCurrentThreadId();
            juce::AudioBuffer<float> buffer (2, 256);
            for (juce::MidiBuffer midi; running; midi.clear(), std::this_thread::sleep_for (std::chrono::milliseconds (5)))
            {
                const auto value = pending.exchange (-1);
                if (value >= 0)
                    midi.addEvent (juce::MidiMessage::controllerEvent (1, 74, value), 0);
                instance->processBlock (buffer, midi);
                if (value >= 0)
                    processed = value;
            }
        });
        const auto send = [&] (int value) { for (pending = value; pending.load() >= 0;) testsupport::runMessageLoop (1); };

        send (127);
        const auto toMax = log.await ("1.00");
        send (0);
        const auto toZero = log.await ("0.00"), rest = log.await ("end");
        std::cout << "[" << (withWindow ? "window" : "no window") << "] move to host edit: " << toMax << " ms, " << toZero
                  << " ms; gesture ends " << rest << " ms after the last move" << std::endl;
        EXPECT_TRUE (toMax >= 0 && toMax < 300 && toZero >= 0 && toZero < 300 && rest >= toZero) << toMax << " " << toZero;
        EXPECT_EQ (log.events.joinIntoString (" "), "begin 1.00 0.00 end");

        log.events.clear();
        for (int value = 1; value <= 127; ++value) // one message a block
            send (value);
        log.await ("end");
        std::cout << "sweep of 127 messages: " << log.events.size() - 2 << " edits" << std::endl;
        EXPECT_TRUE (log.events.size() < 40 && log.events[0] == "begin" && log.events.joinIntoString (" ").endsWith ("1.00 end"))
            << log.events.joinIntoString (" ");

        // Restored right after a move, before the plug-in's next tick: neither the plug-in nor the
        // host holds the moved value afterwards.
        instance->removeListener (&log);
        for (pending = 100; processed.load() != 100;)
            std::this_thread::yield();
        setComponentState (*instance, bound);
        testsupport::runMessageLoop (300);
        EXPECT_FLOAT_EQ (instance->getParameters()[1]->getValue(), 0.5f);
        EXPECT_TRUE (ComponentState (componentStateOf (*instance)).text.contains ("<PARAM id=\"x_pos\" value=\"0.5\"/>"));

        running = false;
        audio.join();
        instance->removeListener (&log);
        ASSERT_EQ (log.threads.size(), 1);
        EXPECT_NE (log.threads[0], audioThread.load());
        if (withWindow)
        {
            EXPECT_EQ (log.threads[0], juce::Thread::getCurrentThreadId()) << "the host's message thread";
        }
        window.reset();
        instance->releaseResources();
    }
}

// The slot list is read when an instance is made, so the files come first. The host cannot read
// back parameters the plug-in changes while processing, so the loaded state is heard instead.
TEST (HostMidiPresets, ProgramChangeLoadsTheFileOfItsSlot)
{
    auto folder = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Orvane_Studio/Presets/Quoril/MIDI");
    auto document = [] (const char* dryWet, const char* outGain)
    {
        return juce::String ("<Quoril><PARAM id=\"dry_wet\" value=\"") + dryWet + "\"/><PARAM id=\"out_gain\" value=\"" + outGain + "\"/></Quoril>";
    };
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("b-dry.qpst").replaceWithText (document ("0", "0")));
    ASSERT_TRUE (folder.getChildFile ("A-quiet.qpst").replaceWithText (document ("1", "-70")));

    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);
    auto program = [] (int n) { return juce::MidiBuffer (juce::MidiMessage::programChange (1, n)); };
    ASSERT_FALSE (process (*instance, {}, 4).first) << "the default state processes the input";
    EXPECT_TRUE (process (*instance, program (1), 2).first) << "slot 1 sets dry/wet to 0";
    EXPECT_TRUE (process (*instance, program (2), 2).first) << "past the last slot nothing loads";
    EXPECT_LT (process (*instance, program (0), 100).second, 0.01f) << "slot 0: fully wet at the lowest gain";
    instance->releaseResources();
    instance.reset();
    folder.deleteRecursively();
}

namespace
{
// Three MIDI slots made before the instance that lists them, removed with the test.
struct ThreeSlots
{
    ThreeSlots()
    {
        for (const auto* name : { "Bass", "Lead", "Pad" })
            EXPECT_TRUE (folder.createDirectory() && folder.getChildFile (juce::String (name) + ".qpst").replaceWithText (
                             "<Quoril><PARAM id=\"dry_wet\" value=\"0.25\"/><Metadata preset_name=\"" + juce::String (name) + "\"/></Quoril>"));
    }
    ~ThreeSlots() { folder.deleteRecursively(); }
    juce::File folder = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Orvane_Studio/Presets/Quoril/MIDI");
};

bool loaded (juce::AudioPluginInstance& instance, const juce::String& slot)
{
    return stateHolds (instance, ("preset_name=\"" + slot + "\"").toRawUTF8());
}
} // namespace

// The slots are the host's programs. JUCE's host selects one as a DAW does, through the plug-in's
// program-change parameter; Ardour 7.3 passes a track's program change as the controller's
// setParamNormalized on that parameter from its audio thread, with the same value in that block's
// input parameter changes (the controller here is one of the plug-in's own, connected to the
// hosted component). A state restored afterwards stays as restored.
TEST (HostMidiPresets, TheSlotsAreTheHostsProgramsAndADawsSelectionLoadsOne)
{
    using namespace Steinberg;
    ThreeSlots slots;
    auto instance = createInstance (44100.0, 256), fresh = createInstance (44100.0, 256);
    ASSERT_TRUE (instance != nullptr && fresh != nullptr);
    ASSERT_EQ (instance->getNumPrograms(), 3);
    EXPECT_EQ (instance->getProgramName (0) + "," + instance->getProgramName (1) + "," + instance->getProgramName (2), "Bass,Lead,Pad");

    instance->prepareToPlay (44100.0, 256);
    for (const auto& [program, slot] : { std::pair { 2, "Pad" }, { 0, "Bass" } })
    {
        instance->setCurrentProgram (program);
        process (*instance, {}, 1);
        EXPECT_TRUE (loaded (*instance, slot)) << "loaded by the next block: " << slot;
    }
    {
        HostWindow window (instance->createEditorIfNeeded()); // and with no block, by the window
        instance->setCurrentProgram (1);
        EXPECT_TRUE (testsupport::runMessageLoopUntil ([&] { return loaded (*instance, "Lead"); }, 2000));
    }

    struct : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override { component = client.getIComponentPtr(); }
        Vst::IComponent* component = nullptr;
    } hosted;
    instance->getExtensions (hosted);
    juce::DynamicLibrary module;
    ASSERT_TRUE (hosted.component != nullptr && module.open (bundle().getChildFile ("Contents/x86_64-linux/Quoril.so").getFullPathName()));
    auto* factory = ((IPluginFactory* (*)()) module.getFunction ("GetPluginFactory"))();
    TUID controllerClass;
    Vst::IEditController* controller = nullptr;
    ASSERT_EQ (hosted.component->getControllerClassId (controllerClass), kResultOk);
    ASSERT_EQ (factory->createInstance (controllerClass, Vst::IEditController::iid, (void**) &controller), kResultOk);
    factory->release();
    FUnknownPtr<Vst::IConnectionPoint> componentPoint (hosted.component), controllerPoint (controller);
    ASSERT_TRUE (controller->initialize (nullptr) == kResultOk && controllerPoint->connect (componentPoint) == kResultOk);
    Vst::ParameterInfo info {};
    for (int32 i = 0; i < controller->getParameterCount() && (info.flags & Vst::ParameterInfo::kIsProgramChange) == 0; ++i)
        controller->getParameterInfo (i, info);
    ASSERT_TRUE ((info.flags & Vst::ParameterInfo::kIsProgramChange) != 0 && info.stepCount == 2);
    juce::AudioProcessorParameter* queued = nullptr; // the host's queue for the block's input changes
    for (auto* parameter : instance->getParameters())
        if (auto* withId = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter); withId != nullptr && withId->getParameterID() == juce::String (info.id))
            queued = parameter;
    ASSERT_NE (queued, nullptr);
    std::thread ([&]
    {
        controller->setParamNormalized (info.id, 1.0); // program 2
        queued->setValue (1.0f);
        process (*instance, {}, 1);
    }).join();
    EXPECT_TRUE (loaded (*instance, "Pad")) << "Ardour's calls: loaded by the block that carried them";
    controllerPoint->disconnect (componentPoint);
    controller->terminate();

    // Restored over the selection, also once the host has put its program parameter back; a fresh
    // instance reports the saved program.
    instance->setCurrentProgram (1);
    process (*instance, {}, 1);
    instance->getParameters()[9]->setValueNotifyingHost (0.75f); // dry_wet
    const auto saved = componentStateOf (*instance);
    instance->setCurrentProgram (2);
    process (*instance, {}, 1);
    fresh->prepareToPlay (44100.0, 256);
    for (auto* restored : { instance.get(), fresh.get() })
    {
        setComponentState (*restored, saved);
        EXPECT_EQ (restored->getCurrentProgram(), 1);
        restored->setCurrentProgram (1);
        process (*restored, {}, 4);
        EXPECT_TRUE (stateHolds (*restored, "<PARAM id=\"dry_wet\" value=\"0.75") && loaded (*restored, "Lead"));
        restored->releaseResources();
    }
    instance.reset(); // the controller goes after the component: it still listens to its program parameter
    controller->release();
}

// A text nested far beyond any state, once as a saved state and once as a MIDI slot file: the
// host goes on, and the plug-in's state stays as it was.
TEST (HostState, DeeplyNestedTextAsStateOrMidiSlotChangesNothing)
{
    const auto deep = "<Quoril <!--\"-->>" + juce::String::repeatedString ("<a>", 300000);
    auto folder = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Orvane_Studio/Presets/Quoril/MIDI");
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("deep.qpst").replaceWithText (deep));

    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->getParameters()[9]->setValueNotifyingHost (0.75f); // dry_wet
    const ComponentState before (componentStateOf (*instance));
    ASSERT_TRUE (before.text.contains ("<PARAM id=\"dry_wet\""));

    setComponentState (*instance, before.withText (deep));
    EXPECT_EQ (ComponentState (componentStateOf (*instance)).text, before.text);
    EXPECT_FLOAT_EQ (instance->getParameters()[9]->getValue(), 0.75f);

    instance->prepareToPlay (44100.0, 256);
    process (*instance, juce::MidiBuffer (juce::MidiMessage::programChange (1, 0)), 2);
    instance->releaseResources();
    EXPECT_EQ (ComponentState (componentStateOf (*instance)).text, before.text);
    instance.reset();
    folder.deleteRecursively();
}
