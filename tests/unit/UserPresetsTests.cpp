#include "PresetTestSupport.h"

#include <sys/stat.h>

using namespace quoril::test;

namespace
{
struct MidiPresets : ::testing::Test
{
    void SetUp() override { folder = freshMidiFolder(); }
    void TearDown() override { folder.deleteRecursively(); }

    void write (const juce::String& name, const juce::String& text)
    {
        ASSERT_TRUE (folder.getChildFile (name).replaceWithText (text));
    }

    juce::File folder;
};
} // namespace

TEST (PresetFolder, LivesInTheUsersApplicationDataAndIsCreatedWithItsMidiFolder)
{
    const auto expected = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                              .getChildFile ("Orvane_Studio/Presets/Quoril");
    EXPECT_EQ (presetsFolderPath(), expected.getFullPathName());

    expected.deleteRecursively();
    QuorilAudioProcessor p;
    EXPECT_TRUE (expected.getChildFile ("MIDI").isDirectory());
    EXPECT_TRUE (p.midiPresetFiles.isEmpty());
}

TEST_F (MidiPresets, SlotsAreQpstFilesInNaturalOrderIgnoringCase)
{
    for (auto name : { "Pad10.qpst", "pad2.qpst", "Bass.qpst", "notes.txt", "Lead.QPST", ".hidden.qpst", "back\\slash.qpst" })
        write (name, "<Quoril/>");
    folder.getChildFile ("folder.qpst").createDirectory();

    // The extension matches in any case, as the directory iterator does; hidden files count.
    const juce::StringArray expected { ".hidden.qpst", "back\\slash.qpst", "Bass.qpst", "Lead.QPST", "pad2.qpst", "Pad10.qpst" };
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFiles(), expected);

    // The list is taken once, at construction.
    QuorilAudioProcessor p;
    write ("Zed.qpst", "<Quoril/>");
    EXPECT_EQ (p.midiPresetFiles, expected);

    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, 1), folder.getChildFile ("back\\slash.qpst"));
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, 5), folder.getChildFile ("Pad10.qpst"));
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, 6), juce::File());
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, -1), juce::File());
}

TEST_F (MidiPresets, ReadingRefusesFilesThatAreNotSmallWellFormedDocuments)
{
    write ("good.qpst", stateDocument (0.25f, 0.75f, "Good"));
    write ("broken.qpst", "<Quoril><PARAM id=");
    write ("binary.qpst", juce::String::repeatedString ("\x01\x02", 100));
    write ("empty.qpst", "");

    juce::MemoryOutputStream deep;
    deep << "<Quoril>";
    for (int i = 0; i < 100000; ++i) deep << "<a>";
    for (int i = 0; i < 100000; ++i) deep << "</a>";
    deep << "</Quoril>";
    write ("deep.qpst", deep.toString());

    // Depth hidden behind quotes, comments and closing tags inside comments still counts.
    juce::MemoryOutputStream hidden;
    hidden << "<Quoril>";
    for (int i = 0; i < 1000; ++i) hidden << "<a x=\"/>\"><!-- </a> -->";
    hidden << "</Quoril>";
    write ("hidden.qpst", hidden.toString());

    juce::MemoryOutputStream huge;
    huge << "<Quoril>";
    while ((juce::int64) huge.getDataSize() <= maxPresetFileBytes)
        huge << "<PARAM id=\"x_pos\" value=\"0.5\"/>";
    huge << "</Quoril>";
    write ("huge.qpst", huge.toString());

    // An external entity must not make the parser read another file (here one that never ends).
    write ("entity.qpst", "<?xml version=\"1.0\"?><!DOCTYPE Quoril SYSTEM \"/dev/zero\"><Quoril a=\"&ext;\"/>");

    auto good = readPresetFile (folder.getChildFile ("good.qpst"));
    ASSERT_NE (good, nullptr);
    EXPECT_EQ (good->getTagName(), "Quoril");

    // A document stored as UTF-16 with its byte-order mark is read like its UTF-8 text.
    {
        const auto utf16 = folder.getChildFile ("utf16.qpst");
        ASSERT_TRUE (utf16.replaceWithText (stateDocument (0.25f, 0.75f, "Wide"), true, true));
        auto wide = readPresetFile (utf16);
        ASSERT_NE (wide, nullptr);
        EXPECT_EQ (wide->getTagName(), "Quoril");
        ASSERT_NE (wide->getChildByName ("Metadata"), nullptr);
        EXPECT_EQ (wide->getChildByName ("Metadata")->getStringAttribute ("preset_name"), "Wide");
    }

    // A shallow document with a comment and a quoted '>' is read.
    write ("commented.qpst", "<Quoril><!-- <x> --><Metadata preset_name=\"a>b\"/></Quoril>");
    EXPECT_NE (readPresetFile (folder.getChildFile ("commented.qpst")), nullptr);

    for (auto name : { "broken.qpst", "binary.qpst", "empty.qpst", "deep.qpst", "hidden.qpst", "huge.qpst", "missing.qpst" })
        EXPECT_EQ (readPresetFile (folder.getChildFile (name)), nullptr) << name;

    EXPECT_EQ (readPresetFile (juce::File()), nullptr);
    EXPECT_EQ (readPresetFile (folder), nullptr);

    // A named pipe would block the reader; it is refused without opening it.
    const auto fifo = folder.getChildFile ("pipe.qpst");
    ASSERT_EQ (mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (readPresetFile (fifo), nullptr);

    auto entity = readPresetFile (folder.getChildFile ("entity.qpst"));
    if (entity != nullptr)
    {
        EXPECT_LT (entity->getStringAttribute ("a").length(), 16);
    }
}

TEST_F (MidiPresets, ProgramChangeWithoutEditorLoadsTheSlotAndIgnoresBadPrograms)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("pad2.qpst", "this is not xml");
    write ("Pad10.qpst", stateDocument (0.125f, 0.375f, "Pad10"));

    QuorilAudioProcessor p;
    ASSERT_EQ (p.midiPresetFiles, juce::StringArray ({ "Bass.qpst", "pad2.qpst", "Pad10.qpst" }));

    const auto dryWet = [&] { return p.parameterTable->raw (ParameterTable::dryWet); };

    p.loadMidiPreset (-1);
    EXPECT_EQ (p.midiProgram.load(), 0);
    EXPECT_FLOAT_EQ (dryWet(), 0.5f);

    for (int program : { 3, 127, 1 }) // past the list, far past it, an unparsable file
    {
        p.loadMidiPreset (program);
        EXPECT_EQ (p.midiProgram.load(), program);
        EXPECT_FLOAT_EQ (dryWet(), 0.5f) << program;
        EXPECT_FALSE (p.isSuspended());
        EXPECT_FALSE (p.midiPresetLoadPending.load());
    }

    p.loadMidiPreset (-5);
    EXPECT_EQ (p.midiProgram.load(), 1) << "a negative program leaves the last one";

    if (! hasStateDocument (p))
        GTEST_SKIP() << "the processor has no state document";

    p.loadMidiPreset (2);
    EXPECT_FALSE (p.isSuspended());
    EXPECT_FLOAT_EQ (dryWet(), 0.125f);
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::xPos), 0.375f);
    EXPECT_FLOAT_EQ (p.resonatorSettings[1][0].freq, 432.0f);
    EXPECT_EQ (p.getPresetName(), "Pad10");
}

TEST_F (MidiPresets, ProgramChangeWithEditorOpenOnlyRaisesThePendingFlag)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("Lead.qpst", stateDocument (0.75f, 0.25f, "Lead"));

    QuorilAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditorIfNeeded());
    ASSERT_NE (p.getActiveEditor(), nullptr);

    p.loadMidiPreset (0);
    p.loadMidiPreset (1);
    EXPECT_TRUE (p.midiPresetLoadPending.load());
    EXPECT_EQ (p.midiProgram.load(), 1);
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::dryWet), 0.5f);
    EXPECT_FALSE (p.isSuspended());

    p.editorBeingDeleted (editor.get());
    editor.reset();
}

// The program change reaches the load from inside processBlock; the last one of the block counts.
TEST_F (MidiPresets, ProgramChangeInABlockLoadsBeforeTheBlockIsProcessed)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("Lead.qpst", stateDocument (0.0f, 0.25f, "Lead"));

    QuorilAudioProcessor p;
    if (! hasEngine (p) || ! hasStateDocument (p))
        GTEST_SKIP() << "the processor has no sound engine or state document";

    p.prepareToPlay (44100.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;

    // An empty block loads nothing.
    buffer.clear();
    p.processBlock (buffer, midi);
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::dryWet), 0.5f);

    midi.addEvent (juce::MidiMessage::programChange (1, 0), 10);
    midi.addEvent (juce::MidiMessage::programChange (1, 1), 20);
    for (int s = 0; s < 256; ++s)
        buffer.setSample (0, s, 0.1f), buffer.setSample (1, s, -0.1f);
    p.processBlock (buffer, midi);

    EXPECT_EQ (p.midiProgram.load(), 1);
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::dryWet), 0.0f);
    EXPECT_EQ (p.getPresetName(), "Lead");
    EXPECT_FALSE (p.isSuspended());
}

TEST (PresetName, SetAppendsMetadataWhenMissingAndGetReadsIt)
{
    QuorilAudioProcessor p;
    auto& state = p.parameters.state;
    state.removeChild (state.getChildWithName ("Metadata"), nullptr);
    EXPECT_EQ (p.getPresetName(), "");

    p.setPresetName ("Lead");
    EXPECT_EQ (state.getChild (state.getNumChildren() - 1).getType().toString(), "Metadata");
    EXPECT_EQ (p.getPresetName(), "Lead");

    // A differently cased child is not the name's node.
    state.getChildWithName ("Metadata").removeProperty ("preset_name", nullptr);
    state.appendChild (juce::ValueTree ("metadata").setProperty ("preset_name", "lower", nullptr), nullptr);
    EXPECT_EQ (p.getPresetName(), "");

    p.setPresetName ("Pad");
    EXPECT_EQ (p.getPresetName(), "Pad");
    EXPECT_EQ (state.getChildWithName ("metadata")["preset_name"].toString(), "lower");
}
