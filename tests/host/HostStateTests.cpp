#include "HostFixture.h"

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
