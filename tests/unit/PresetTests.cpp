#include "support/EngineTestSupport.h"
#include "support/HostileInputs.h"

#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <thread>

using namespace enginetest;

namespace
{
// A draw is one of the 32768 steps 0/32767 .. 32767/32767 (the top 15 bits of a wider generator).
float unitOf (int drawn) { return (float) (int) (drawn / ((RAND_MAX + 1LL) / 32768)) / 32767.0f; }

const char* const factoryNames[] = { "Drill1", "Drill2", "Orbit1", "Orbit2", "Orbit3", "Sweep1", "Sweep2", "Travel1", "Travel2", "Travel3" };

struct MidiPresets : ::testing::Test
{
    void SetUp() override
    {
        folder = juce::File (presetsFolderPath()).getChildFile ("MIDI");
        folder.deleteRecursively();
        folder.createDirectory();
    }
    void TearDown() override { folder.deleteRecursively(); }
    void write (const juce::String& name, const juce::String& text) { ASSERT_TRUE (folder.getChildFile (name).replaceWithText (text)); }
    float dryWet (QuorilAudioProcessor& p) const { return p.parameterTable->raw (ParameterTable::dryWet); }

    juce::File folder;
};
} // namespace

// Ten draws per channel in a fixed order (channel 0 then 1, poles A to D), then the two
// diffusers; sizes in samples at the processor's rate; the other fields untouched.
TEST (RandomSettings, DrawOrderRangesAndUntouchedFields)
{
    QuorilAudioProcessor p, again;
    p.sampleRate = 48000.0;
    for (auto& pole : p.granulizerSettings)
        for (auto& r : pole)
            r.outGain = 0.25f, r.freeze = true;
    p.diffuserSettings[1].damp = 0.6f;

    std::srand (987);
    std::vector<int> drawn (82);
    for (auto& d : drawn)
        d = std::rand();
    std::srand (987);
    p.randomizeSettings();

    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
        {
            SCOPED_TRACE (testing::Message() << "pole " << pole << " channel " << ch);
            const auto* r = drawn.data() + pole * 20 + ch * 10;
            const auto& g = p.granulizerSettings[pole][ch];
            EXPECT_FLOAT_EQ (p.resonatorSettings[pole][ch].freq, 80.0f + 880.0f * unitOf (r[0]));
            EXPECT_FLOAT_EQ (p.resonatorSettings[pole][ch].feed, 0.9f * unitOf (r[1]));
            const float ms = unitOf (r[2]) > 0.5f ? 20.0f + 80.0f * unitOf (r[3]) : 100.0f + 499.0f * unitOf (r[3]);
            EXPECT_FLOAT_EQ (g.size, (float) ((double) (ms * 0.001f) * 48000.0));
            EXPECT_FLOAT_EQ (g.speed, unitOf (r[4]) > 0.5f ? 0.95f + (1.025f - 0.95f) * unitOf (r[5]) : 0.5f + 1.5f * unitOf (r[5]));
            EXPECT_FLOAT_EQ (g.sizeRnd, 0.25f * unitOf (r[6]));
            EXPECT_EQ (g.ampRnd, unitOf (r[7]));
            EXPECT_FLOAT_EQ (g.speedRnd, unitOf (r[8]) > 0.5f ? 0.01f * unitOf (r[9]) : 0.5f * unitOf (r[9]));
            EXPECT_TRUE (g.density == 8 && g.envelope == 2 && g.outGain == 0.25f && g.freeze);
        }
    EXPECT_FLOAT_EQ (p.diffuserSettings[0].feed, 0.1f + 0.8f * unitOf (drawn[80]));
    EXPECT_FLOAT_EQ (p.diffuserSettings[1].feed, 0.1f + 0.8f * unitOf (drawn[81]));
    EXPECT_EQ (p.diffuserSettings[1].damp, 0.6f);

    // The same seed gives the same settings.
    again.sampleRate = 48000.0;
    std::srand (987);
    again.randomizeSettings();
    EXPECT_TRUE (again.granulizerSettings[3][1].size == p.granulizerSettings[3][1].size
                 && again.resonatorSettings[3][1].freq == p.resonatorSettings[3][1].freq);
    EXPECT_EQ (again.diffuserSettings[1].feed, p.diffuserSettings[1].feed);
}

TEST (RandomSettings, OnePoleChangesOnlyThatPole)
{
    QuorilAudioProcessor p, before;
    before.granulizerSettings = p.granulizerSettings;
    before.resonatorSettings = p.resonatorSettings;
    before.diffuserSettings[0] = p.diffuserSettings[0];

    p.randomizePole (-1);
    p.randomizePole (4);
    p.randomizePole (2);
    for (int pole : { 0, 1, 3 })
        EXPECT_TRUE (samePole (p, pole, before, pole)) << pole;
    for (size_t ch = 0; ch < 2; ++ch)
        EXPECT_NE (p.resonatorSettings[2][ch].freq, before.resonatorSettings[2][ch].freq) << ch;
    EXPECT_EQ (p.diffuserSettings[0].feed, before.diffuserSettings[0].feed);
}

TEST (FactoryPresets, TenNamedDocumentsOfTheirShapeEachApplies)
{
    struct Shape { int granulizers, resonators, diffusers, gainResonators; };
    const Shape shapes[] = { { 15, 15, 3, 7 }, { 15, 15, 3, 7 }, { 12, 12, 3, 0 }, { 14, 14, 3, 0 }, { 14, 14, 3, 0 },
                             { 15, 15, 3, 7 }, { 15, 15, 3, 7 }, { 8, 8, 2, 0 },   { 8, 8, 2, 0 },   { 12, 12, 3, 0 } };
    QuorilAudioProcessor p;
    ASSERT_EQ (p.factoryPresets.presets.size(), 10u);
    ASSERT_EQ (p.factoryPresets.names, juce::StringArray (factoryNames, 10));

    for (size_t i = 0; i < 10; ++i)
    {
        SCOPED_TRACE (factoryNames[i]);
        const auto& doc = *p.factoryPresets.presets[i];
        std::map<juce::String, int> count;
        for (auto* child : doc.getChildIterator())
            count[child->getTagName()] += 1, count["gain"] += child->hasAttribute ("gain") ? 1 : 0;
        EXPECT_EQ (count["PARAM"], 18);
        EXPECT_EQ (count["Granulizer"], shapes[i].granulizers);
        EXPECT_EQ (count["Resonator"], shapes[i].resonators);
        EXPECT_EQ (count["Diffuser"], shapes[i].diffusers);
        EXPECT_EQ (count["gain"], shapes[i].gainResonators);

        for (int pole = 0; pole < 4; ++pole) // amounts away from what the preset sets
        {
            setParameter (p, p.parameterTable->ids[ParameterTable::diffIndex (pole)], 0.1f);
            setParameter (p, p.parameterTable->ids[ParameterTable::linkIndex (pole)], 1.0f);
        }
        p.applyStateTree (juce::ValueTree::fromXml (doc));
        EXPECT_EQ (p.getPresetName(), factoryNames[i]);
        EXPECT_EQ (p.parameterTable->raw (ParameterTable::trajectory), 1.0f);
        for (int pole = 0; pole < 4; ++pole)
            EXPECT_TRUE (p.parameterTable->raw (ParameterTable::diffIndex (pole)) == 0.5f && p.parameterTable->raw (ParameterTable::linkIndex (pole)) == 0.0f);

        // The last 18 engine nodes (before the 8 valueless PARAMs and Metadata) win over earlier duplicates.
        const int n = doc.getNumChildElements();
        for (int k = n - 9 - 18; k < n - 9; ++k)
        {
            const auto* node = doc.getChildElement (k);
            const auto pole = (size_t) node->getIntAttribute ("pole"), ch = (size_t) node->getIntAttribute ("channel");
            const float expected = node->getTagName() == "Resonator" ? p.resonatorSettings[pole][ch].freq
                                 : node->getTagName() == "Granulizer" ? p.granulizerSettings[pole][ch].speed : p.diffuserSettings[ch].feed;
            EXPECT_FLOAT_EQ (expected, (float) node->getDoubleAttribute (node->getTagName() == "Resonator" ? "freq" : node->getTagName() == "Granulizer" ? "speed" : "feed")) << k;
        }
    }

    // The managers skip texts that do not parse; the name node's tag is found in any case.
    quoril::QuorilFactoryPresetsManager manager ("Metadata", "preset_name");
    for (auto* text : { "<Quoril><METADATA preset_name=\"Upper\"/></Quoril>", "<Quoril/>", "not xml", "<Doc><broken" })
        manager.addPreset (text);
    EXPECT_EQ (manager.names, juce::StringArray ({ "Upper", "" }));
}

// Noise through every preset for six seconds: audible, finite and below full scale.
TEST (FactoryPresets, EachSoundsWithoutClippingOnNoise)
{
    QuorilAudioProcessor p;
    for (size_t i = 0; i < p.factoryPresets.presets.size(); ++i)
    {
        SCOPED_TRACE (factoryNames[i]);
        p.applyStateTree (juce::ValueTree::fromXml (*p.factoryPresets.presets[i]));
        p.prepareToPlay (44100.0, 512);
        juce::Random noise (1000 + (juce::int64) i);
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        float wetLevel = 0.0f;
        constexpr int numBlocks = 6 * 44100 / 512;
        for (int block = 0; block < numBlocks; ++block)
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < 512; ++s)
                    buffer.setSample (ch, s, (noise.nextFloat() * 2.0f - 1.0f) * 0.25f * std::sqrt (3.0f)); // -12 dBFS RMS
            p.processBlock (buffer, midi);
            ASSERT_TRUE (enginetest::allFinite (buffer)) << block;
            ASSERT_LT (buffer.getMagnitude (0, 512), 1.0f) << block;
            if (block >= numBlocks - 100)
                wetLevel += p.outputLevel.load() / 100.0f;
        }
        EXPECT_GT (wetLevel, 0.01f) << "the processed signal is silent";
    }
}

TEST_F (MidiPresets, SlotsAreQpstFilesInNaturalOrderTakenAtConstruction)
{
    for (auto name : { "Pad10.qpst", "pad2.qpst", "Bass.qpst", "notes.txt", "Lead.QPST", ".hidden.qpst", "back\\slash.qpst" })
        write (name, "<Quoril/>");
    folder.getChildFile ("folder.qpst").createDirectory();
    const juce::StringArray expected { ".hidden.qpst", "back\\slash.qpst", "Bass.qpst", "Lead.QPST", "pad2.qpst", "Pad10.qpst" };
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFiles(), expected);

    QuorilAudioProcessor p;
    write ("Zed.qpst", "<Quoril/>");
    EXPECT_EQ (p.midiPresetFiles, expected);
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, 5), folder.getChildFile ("Pad10.qpst"));
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, 6), juce::File());
    EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (expected, -1), juce::File());
}

TEST_F (MidiPresets, UnsafeFilesAreRefused)
{
    juce::String huge ("<Quoril>");
    huge += juce::String::repeatedString ("<PARAM id=\"x_pos\" value=\"0.5\"/>", (int) (maxPresetFileBytes / 30) + 1) + "</Quoril>";
    const std::pair<const char*, juce::String> refused[] = {
        { "broken.qpst", "<Quoril><PARAM id=" },
        { "binary.qpst", juce::String::repeatedString ("\x01\x02", 100) },
        { "empty.qpst", "" },
        { "deep.qpst", "<Quoril>" + juce::String::repeatedString ("<a>", 100000) + juce::String::repeatedString ("</a>", 100000) + "</Quoril>" },
        { "hidden.qpst", "<Quoril>" + juce::String::repeatedString ("<a x=\"/>\"><!-- </a> -->", 1000) + "</Quoril>" }, // depth behind quotes and comments
        { "huge.qpst", huge },
        { "instruction.qpst", "<?xml version=\"1.0\"?><Quoril><?" "?>8</Quoril>" }, // the reader would loop for ever
    };
    for (const auto& [name, text] : refused)
    {
        write (name, text);
        EXPECT_EQ (readPresetFile (folder.getChildFile (name)), nullptr) << name;
    }
    for (const auto& file : { folder.getChildFile ("missing.qpst"), juce::File(), folder })
        EXPECT_EQ (readPresetFile (file), nullptr);
    const auto fifo = folder.getChildFile ("pipe.qpst"); // would block a reader
    ASSERT_EQ (mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (readPresetFile (fifo), nullptr);

    // An external entity is never read (here a file that never ends).
    write ("entity.qpst", "<?xml version=\"1.0\"?><!DOCTYPE Quoril SYSTEM \"/dev/zero\"><Quoril a=\"&ext;\"/>");
    if (auto entity = readPresetFile (folder.getChildFile ("entity.qpst")))
    {
        EXPECT_LT (entity->getStringAttribute ("a").length(), 16);
    }

    // Shallow documents are read, in UTF-16 with a byte-order mark too.
    write ("commented.qpst", "<Quoril><!-- <x> --><Metadata preset_name=\"a>b\"/></Quoril>");
    EXPECT_NE (readPresetFile (folder.getChildFile ("commented.qpst")), nullptr);
    ASSERT_TRUE (folder.getChildFile ("utf16.qpst").replaceWithText (stateDocument (0.25f, 0.75f, "Wide"), true, true));
    auto wide = readPresetFile (folder.getChildFile ("utf16.qpst"));
    ASSERT_TRUE (wide != nullptr && wide->getChildByName ("Metadata") != nullptr);
    EXPECT_EQ (wide->getChildByName ("Metadata")->getStringAttribute ("preset_name"), "Wide");
}

// Hostile slot files, and a slot whose name starts with '~' (read from the folder, not from home),
// through program changes on the audio thread with no editor open.
TEST_F (MidiPresets, HostileSlotsChangeNothingAndNamesAreTakenLiterally)
{
    const auto inputs = hostile::xmlInputs();
    for (size_t i = 0; i < inputs.size(); ++i)
        ASSERT_TRUE (folder.getChildFile (juce::String::formatted ("hostile%02d.qpst", (int) i))
                         .replaceWithData (inputs[i].bytes.data(), inputs[i].bytes.size()));
    ASSERT_TRUE (juce::File (folder.getFullPathName() + "/~tilde.qpst").replaceWithText (stateDocument (0.375f, 0.25f, "Tilde")));
    juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("tilde.qpst").replaceWithText (stateDocument (0.5f, 0.5f, "Home"));

    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 64);
    p.setPresetName ("Kept");
    const auto before = xmlTextOf (blobOf (p));
    juce::AudioBuffer<float> buffer (2, 64);

    const auto programChange = [&] (int program)
    {
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::programChange (1, program), 0);
        buffer.clear();
        return hostile::returnsQuickly ([&] { p.processBlock (buffer, midi); });
    };
    for (size_t i = 0; i < inputs.size(); ++i)
    {
        const int slot = p.midiPresetFiles.indexOf (juce::String::formatted ("hostile%02d.qpst", (int) i));
        ASSERT_GE (slot, 0);
        EXPECT_TRUE (programChange (slot)) << inputs[i].what;
        EXPECT_EQ (xmlTextOf (blobOf (p)), before) << inputs[i].what;
        EXPECT_FALSE (p.isSuspended());
    }

    EXPECT_TRUE (programChange (p.midiPresetFiles.indexOf ("~tilde.qpst")));
    EXPECT_EQ (p.getPresetName(), "Tilde");
    EXPECT_FLOAT_EQ (dryWet (p), 0.375f);

    // Names that are no single file name give no file.
    for (const auto* name : { "", ".", "..", "../x.qpst", "a/b.qpst" })
        EXPECT_EQ (QuorilAudioProcessor::getMidiPresetFile (juce::StringArray (name), 0), juce::File()) << name;
}

TEST_F (MidiPresets, ProgramChangesLoadTheirSlotAndIgnoreBadPrograms)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("pad2.qpst", "this is not xml");
    write ("Pad10.qpst", stateDocument (0.125f, 0.375f, "Pad10"));
    QuorilAudioProcessor p;

    p.loadMidiPreset (-1);
    EXPECT_EQ (p.midiProgram.load(), 0);
    for (int program : { 3, 127, 1 }) // past the list, far past it, an unparsable file
    {
        p.loadMidiPreset (program);
        EXPECT_EQ (p.midiProgram.load(), program);
        EXPECT_FLOAT_EQ (dryWet (p), 0.5f) << program;
    }
    p.loadMidiPreset (-5);
    EXPECT_EQ (p.midiProgram.load(), 1) << "a negative program leaves the last one";

    p.loadMidiPreset (2);
    EXPECT_FALSE (p.isSuspended());
    EXPECT_FLOAT_EQ (dryWet (p), 0.125f);
    EXPECT_FLOAT_EQ (p.resonatorSettings[1][0].freq, 432.0f);
    EXPECT_EQ (p.getPresetName(), "Pad10");

    // With the editor open a program change only raises the pending flag.
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditorIfNeeded());
    p.loadMidiPreset (0);
    EXPECT_TRUE (p.midiPresetLoadPending.load());
    EXPECT_FLOAT_EQ (dryWet (p), 0.125f);
    p.editorBeingDeleted (editor.get());
}

// Inside processBlock the last program change of the block loads before the audio is processed.
TEST_F (MidiPresets, ProgramChangeInABlockLoadsBeforeTheBlockIsProcessed)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("Lead.qpst", stateDocument (0.0f, 0.25f, "Lead"));
    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 256);
    juce::AudioBuffer<float> buffer (2, 256), input (2, 256);
    juce::Random noise (3);
    fillSignal (input, 0, noise);
    buffer.makeCopyOf (input);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (1, 0), 10);
    midi.addEvent (juce::MidiMessage::programChange (1, 1), 20);
    p.dryWetValue = p.dryWetLastTarget = 0.0f; // the crossfade already at the loaded amount
    p.processBlock (buffer, midi);
    EXPECT_EQ (p.midiProgram.load(), 1);
    EXPECT_EQ (p.getPresetName(), "Lead");
    EXPECT_FALSE (p.isSuspended());
    EXPECT_EQ (0, std::memcmp (buffer.getReadPointer (0), input.getReadPointer (0), 256 * sizeof (float))) << "processed with dry/wet 0";
}

// A load on the audio thread asks the host for a save only when it applied a state.
TEST_F (MidiPresets, AProgramChangeNotesAChangeOnlyWhenItAppliedAState)
{
    write ("A.qpst", stateDocument (0.25f, 0.75f, "A"));
    write ("B.qpst", "<Other><Metadata preset_name=\"B\"/></Other>");
    write ("C.qpst", "not a document");
    QuorilAudioProcessor p;

    // Loaded as on the audio thread, which leaves the notice to the message thread's next turn.
    const auto loadOnAnotherThread = [&p] (int program) { std::thread ([&p, program] { p.loadMidiPreset (program); }).join(); };
    for (int program : { 1, 2, 3 }) // another document, unreadable text, no slot
    {
        loadOnAnotherThread (program);
        EXPECT_FALSE (p.sendStateChangeNotice()) << program;
    }
    loadOnAnotherThread (0);
    ASSERT_EQ (p.getPresetName(), "A");
    EXPECT_TRUE (p.sendStateChangeNotice());
}

// A selection is only recorded, and loads at the next block as a program change would, unless the
// block holds one naming a slot; a restore brings its program back as the current one and loads
// nothing, not even a selection still waiting.
TEST_F (MidiPresets, ASelectionLoadsAtTheNextBlockARestoreLoadsNothing)
{
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass"));
    write ("Lead.qpst", stateDocument (0.5f, 0.5f, "Lead"));
    write ("Pad.qpst", stateDocument (0.125f, 0.375f, "Pad"));
    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 64);
    juce::AudioBuffer<float> buffer (2, 64);
    const auto block = [&] (int program)
    {
        auto midi = program >= 0 ? juce::MidiBuffer (juce::MidiMessage::programChange (1, program)) : juce::MidiBuffer();
        p.processBlock (buffer, midi);
        return p.getPresetName();
    };

    p.setCurrentProgram (3); // past the slots
    p.setCurrentProgram (2);
    EXPECT_TRUE (p.getCurrentProgram() == 2 && p.getPresetName() == "INIT");
    EXPECT_EQ (block (-1), "Pad");
    p.setCurrentProgram (1);
    EXPECT_EQ (block (0), "Bass") << "the block's own program change wins";
    EXPECT_EQ (block (-1), "Bass") << "and the selection is dropped";
    EXPECT_EQ (p.getCurrentProgram(), 1) << "the host's program stays the one it selected";
    p.setCurrentProgram (1);
    EXPECT_EQ (block (9), "Lead") << "a program change naming no slot does not drop it";

    p.setCurrentProgram (2);
    const auto saved = blobOf (p);
    p.setCurrentProgram (0);
    p.midiPresetLoadPending = true;
    restore (p, saved);
    EXPECT_EQ (block (-1), "Lead");
    EXPECT_TRUE (p.getCurrentProgram() == 2 && ! p.midiPresetLoadPending.load());

    // Restored into a fresh instance, within the programs it has; a program that a preset file
    // carries is neither the current one nor saved.
    for (const auto& [stored, expected] : { std::pair { "2", 2 }, { "7", 2 }, { "-3", 0 }, { "x", 0 }, { "1e300", 2 } })
    {
        QuorilAudioProcessor fresh;
        restore (fresh, blobWithText (xmlTextOf (saved).replace ("program=\"2\"", juce::String ("program=\"") + stored + "\"")));
        EXPECT_EQ (fresh.getCurrentProgram(), expected) << stored;
    }
    write ("Bass.qpst", stateDocument (0.25f, 0.75f, "Bass").replace ("<Metadata ", "<Metadata program=\"1\" "));
    QuorilAudioProcessor fresh;
    fresh.loadMidiPreset (0);
    EXPECT_TRUE (fresh.getPresetName() == "Bass" && fresh.getCurrentProgram() == 0);
    EXPECT_FALSE (xmlTextOf (blobOf (fresh)).contains ("program="));
}

TEST (PresetName, SetAppendsMetadataWhenMissingAndTheTagIsExact)
{
    QuorilAudioProcessor p;
    auto& state = p.parameters.state;
    state.removeChild (state.getChildWithName ("Metadata"), nullptr);
    EXPECT_EQ (p.getPresetName(), "");
    p.setPresetName ("Lead");
    EXPECT_EQ (state.getChild (state.getNumChildren() - 1).getType().toString(), "Metadata");
    EXPECT_EQ (p.getPresetName(), "Lead");

    state.getChildWithName ("Metadata").removeProperty ("preset_name", nullptr);
    state.appendChild (juce::ValueTree ("metadata").setProperty ("preset_name", "lower", nullptr), nullptr);
    EXPECT_EQ (p.getPresetName(), "");
    p.setPresetName ("Pad");
    EXPECT_EQ (p.getPresetName(), "Pad");
    EXPECT_EQ (state.getChildWithName ("metadata")["preset_name"].toString(), "lower");
}

TEST (PoleClipboard, CopyAndPasteCarryBothChannelsTheAmountAndTheLink)
{
    QuorilAudioProcessor p, before;
    before.granulizerSettings = p.granulizerSettings;
    before.resonatorSettings = p.resonatorSettings;
    for (int pole = -1; pole <= 4; ++pole) // nothing copied yet: nothing changes
        p.pastePoleSettings (pole);
    for (int pole = 0; pole < 4; ++pole)
        EXPECT_TRUE (samePole (p, pole, before, pole) && p.parameterTable->raw (ParameterTable::diffIndex (pole)) == 0.5f);

    p.parameters.getParameterAsValue ("pole_a_diff") = 0.3;
    p.parameters.getParameterAsValue ("stereo_link_a") = 1.0;
    p.copyPoleSettings (0);
    p.pastePoleSettings (3);
    EXPECT_TRUE (samePole (p, 3, before, 0));
    EXPECT_TRUE (samePole (p, 2, before, 2));
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::diffIndex (3)), 0.3f);
    EXPECT_EQ (p.parameterTable->raw (ParameterTable::linkIndex (3)), 1.0f);
    EXPECT_EQ (p.parameterTable->raw (ParameterTable::linkIndex (2)), 0.0f);

    // A node left without a value by a loaded document: the copy takes the live value.
    p.parameters.state.getChildWithProperty ("id", "pole_c_diff").removeProperty ("value", nullptr);
    p.copyPoleSettings (2);
    p.pastePoleSettings (0);
    EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::diffIndex (0)), 0.5f);
}
