#include "support/EngineTestSupport.h"
#include "processor/UntrustedXml.h"
#include "support/HostileInputs.h"

#include <cstring>
#include <thread>

using namespace enginetest;

namespace
{
juce::StringArray attributeNames (const juce::ValueTree& node)
{
    juce::StringArray names;
    for (int i = 0; i < node.getNumProperties(); ++i)
        names.add (node.getPropertyName (i).toString());
    return names;
}

juce::ValueTree parse (const juce::String& xml) { return juce::ValueTree::fromXml (xml); }

// What a restore may change: the document, the map and an engine record.
juce::String snapshot (QuorilAudioProcessor& p)
{
    return p.createStateTree().toXmlString() + p.midiMap.mapTree.toXmlString() + juce::String (p.granulizerSettings[0][0].density);
}

void prepareDistinctState (QuorilAudioProcessor& p)
{
    p.midiMap.lastCC = 74;
    p.midiMap.assignToLastCC ("x_pos");
    setParameter (p, "out_gain", -3.5f);
    p.granulizerSettings[0][0].density = 12;
}
} // namespace

TEST (StateTree, FreshDocumentHoldsParametersEngineNodesAndPresetNameInOrder)
{
    QuorilAudioProcessor p;
    const auto doc = p.createStateTree();
    ASSERT_TRUE (doc.hasType ("Quoril"));
    ASSERT_EQ (doc.getNumChildren(), 37);

    const char* ids[] = { "dry_wet", "in_gain", "out_gain", "pole_a_diff", "pole_b_diff", "pole_c_diff", "pole_d_diff",
                          "stereo_link_a", "stereo_link_b", "stereo_link_c", "stereo_link_d", "trajectory", "x_pos",
                          "x_traj_amount", "x_traj_range", "y_pos", "y_traj_amount", "y_traj_range" };
    for (int i = 0; i < 18; ++i)
        EXPECT_TRUE (doc.getChild (i).hasType ("PARAM") && doc.getChild (i)["id"] == ids[i] && doc.getChild (i).hasProperty ("value")) << i;

    const juce::StringArray resonator { "channel", "pole", "freq", "feed" }, diffuser { "channel", "feed", "damp" },
        granulizer { "channel", "pole", "density", "envelope", "size", "speed", "size_rnd", "speed_rnd", "amp_rnd", "out_gain" };
    int index = 18;
    for (int channel = 0; channel < 2; ++channel)
    {
        for (int pole = 0; pole < 4; ++pole)
            for (const auto& [type, attributes] : { std::pair { "Resonator", resonator }, std::pair { "Granulizer", granulizer } })
            {
                const auto node = doc.getChild (index++);
                EXPECT_TRUE (node.hasType (type) && (int) node["channel"] == channel && (int) node["pole"] == pole) << index;
                EXPECT_EQ (attributeNames (node), attributes);
            }
        const auto node = doc.getChild (index++);
        EXPECT_TRUE (node.hasType ("Diffuser") && (int) node["channel"] == channel);
        EXPECT_EQ (attributeNames (node), diffuser);
    }
    EXPECT_TRUE (doc.getChild (36).hasType ("Metadata"));
    EXPECT_EQ (doc.getChild (36)["preset_name"].toString(), "INIT");
}

TEST (StateTree, GrainSizeTravelsInMillisecondsAndItsSamplesFollowTheRate)
{
    QuorilAudioProcessor p;
    auto& record = p.granulizerSettings[2][1];
    auto sizeNode = [] (const juce::ValueTree& doc) { return doc.getChild (18 + 9 + 2 * 2 + 1); };

    setGrainSize (record, 10.0, p.sampleRate);
    EXPECT_EQ (record.size, 441.0f);
    auto doc = p.createStateTree();
    EXPECT_EQ (sizeNode (doc).createXml()->getStringAttribute ("size"), "10.0");
    setGrainSize (record, 0.0, p.sampleRate);
    p.applyStateTree (parse (doc.toXmlString()));
    EXPECT_EQ (record.size, 441.0f);

    // A new rate changes the samples, never the milliseconds. Without "size", 100 ms.
    p.prepareToPlay (48000.0, 256);
    EXPECT_EQ (record.size, 480.0f);
    EXPECT_EQ (sizeNode (p.createStateTree()).createXml()->getStringAttribute ("size"), "10.0");
    sizeNode (doc).removeProperty ("size", nullptr);
    p.applyStateTree (doc);
    EXPECT_EQ (record.size, 4800.0f);
    EXPECT_EQ (record.sizeMs, 100.0);

    // A rate that is no positive number counts as 44.1 kHz; samples are held to the float range.
    EXPECT_EQ (grainSizeSamples (100.0, 0.0), 4410.0f);
    EXPECT_EQ (grainSizeSamples (1.0e300, 96000.0), FLT_MAX);
}

TEST (StateTree, TypesMatchExactlyAndNodesOutsideThePolesAndChannelsAreSkipped)
{
    QuorilAudioProcessor p;
    p.granulizerSettings[0][0].density = 5;
    setParameter (p, "x_pos", 0.25f);
    p.applyStateTree (parse (R"(<quoril><PARAM id="x_pos" value="0.75"/><Granulizer pole="0" channel="0" density="9"/></quoril>)"));
    EXPECT_EQ (valueOf (p, "x_pos"), 0.25f);
    p.applyStateTree (parse (R"(<Quoril><granulizer pole="0" channel="0" density="9"/><Granulizer pole="0" channel="0" speed="1.5"/></Quoril>)"));
    EXPECT_EQ (p.granulizerSettings[0][0].density, 5);
    EXPECT_EQ (p.granulizerSettings[0][0].speed, 1.5f);

    const auto before = p.granulizerSettings;
    const auto resonatorsBefore = p.resonatorSettings;
    const float otherDiffuser = p.diffuserSettings[0].feed;
    p.applyStateTree (parse (R"(<Quoril><Granulizer pole="4" channel="0" density="3" size="50"/>
        <Granulizer pole="-1" channel="0" density="3"/><Granulizer pole="0" channel="2" density="3"/>
        <Resonator pole="0" channel="-1" freq="1000"/><Resonator pole="9999999999" channel="0" freq="1000"/>
        <Diffuser channel="2" feed="0.3"/><Diffuser channel="1" pole="7" feed="0.25"/></Quoril>)"));
    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
            EXPECT_TRUE (p.granulizerSettings[pole][ch].density == before[pole][ch].density
                         && p.resonatorSettings[pole][ch].freq == resonatorsBefore[pole][ch].freq) << pole << ch;
    EXPECT_EQ (p.diffuserSettings[1].feed, 0.25f) << "a diffuser ignores \"pole\"";
    EXPECT_EQ (p.diffuserSettings[0].feed, otherDiffuser);

    // Saving leaves such nodes as they were.
    const auto outside = p.createStateTree().getChildWithProperty ("pole", "4");
    EXPECT_EQ (attributeNames (outside), (juce::StringArray { "pole", "channel", "density", "size" }));
}

TEST (StateTree, NonFiniteNumbersCountAsAbsentAndDensityIsHeldToTheSlots)
{
    QuorilAudioProcessor p;
    p.resonatorSettings[0][0] = { 300.0f, 0.75f };
    p.granulizerSettings[0][0].speed = 1.25f;
    p.diffuserSettings[0].damp = 0.5f;
    setParameter (p, "x_pos", 0.25f);
    setParameter (p, "in_gain", -6.0f);

    p.applyStateTree (parse (R"(<Quoril><PARAM id="x_pos" value="nan"/><PARAM id="in_gain" value="-inf"/>
        <Resonator pole="0" channel="0" freq="nan" feed="inf"/><Diffuser channel="0" damp="1e39"/>
        <Granulizer pole="0" channel="0" speed="-inf" size="1e300" size_rnd="abc" density="999"/>
        <Granulizer pole="1" channel="1" density="-4" envelope="7"/><Resonator pole="3" channel="1" freq="5000" gain="2"/></Quoril>)"));
    EXPECT_EQ (valueOf (p, "x_pos"), 0.5f); // absent: the default
    EXPECT_EQ (valueOf (p, "in_gain"), 0.0f);
    EXPECT_EQ (p.resonatorSettings[0][0].freq, 300.0f);
    EXPECT_EQ (p.resonatorSettings[0][0].feed, 0.75f);
    EXPECT_EQ (p.granulizerSettings[0][0].speed, 1.25f);
    EXPECT_EQ (p.granulizerSettings[0][0].size, 4410.0f);
    EXPECT_EQ (p.granulizerSettings[0][0].sizeRnd, 0.0f); // text that is no number reads 0
    EXPECT_EQ (p.granulizerSettings[0][0].density, 64);
    EXPECT_EQ (p.granulizerSettings[1][1].density, 0);
    EXPECT_EQ (p.granulizerSettings[1][1].envelope, 7);
    EXPECT_EQ (p.resonatorSettings[3][1].freq, 5000.0f);
    EXPECT_EQ (p.diffuserSettings[0].damp, 0.5f);
    EXPECT_TRUE (p.createStateTree().getChildWithProperty ("gain", "2").isValid()) << "unread attributes are kept";
}

TEST (StateTree, ParametersTheDocumentDoesNotNameSurviveTheNextSaveAndRestore)
{
    QuorilAudioProcessor p;
    setParameter (p, "x_pos", 0.8f);
    p.createStateTree(); // nothing waits to be written
    p.applyStateTree (parse (R"(<Quoril><PARAM id="in_gain" value="-12"/><Metadata preset_name="p"/></Quoril>)"));
    EXPECT_NEAR (valueOf (p, "in_gain"), -12.0f, 1.0e-4f);
    EXPECT_EQ (valueOf (p, "x_pos"), 0.5f); // the framework resets what the document does not name
    setParameter (p, "y_pos", 0.9f);

    QuorilAudioProcessor q;
    setParameter (q, "x_pos", 0.1f);
    setParameter (q, "y_pos", 0.2f);
    restore (q, blobOf (p));
    for (const auto& id : p.parameterTable->ids)
        EXPECT_EQ (valueOf (q, id), valueOf (p, id)) << id;
}

TEST (StateBlob, FreshInstanceWritesHeaderLengthOneLineDocumentMapAndZeroByte)
{
    QuorilAudioProcessor p;
    const auto blob = blobOf (p);
    const auto* bytes = static_cast<const unsigned char*> (blob.getData());
    ASSERT_GT (blob.getSize(), 9u);
    EXPECT_EQ (0, std::memcmp (bytes, "VC2!", 4));
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), (juce::uint32) blob.getSize() - 9);
    EXPECT_EQ (bytes[blob.getSize() - 1], 0);

    const auto text = xmlTextOf (blob);
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Quoril>"));
    EXPECT_TRUE (text.endsWith ("<Metadata preset_name=\"INIT\"/><Quoril_MIDI_MAP/></Quoril>"));
    EXPECT_FALSE (text.containsAnyOf ("\r\n\t"));
    EXPECT_EQ ((size_t) text.getNumBytesAsUTF8(), blob.getSize() - 9);
}

TEST (StateBlob, SaveAndRestoreRoundTripsAtEitherRate)
{
    for (const double rate : { 44100.0, 48000.0 })
    {
        SCOPED_TRACE (rate);
        QuorilAudioProcessor source, target;
        prepareDistinctState (source);
        source.prepareToPlay (rate, 256);
        target.prepareToPlay (rate, 256);
        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                setGrainSize (source.granulizerSettings[pole][ch], 10.0 * (double) (pole + 1) + 0.37 * (double) ch, rate);
                source.granulizerSettings[pole][ch].speed = 0.7f + 0.1f * (float) pole;
                source.resonatorSettings[pole][ch].freq = 100.0f + 10.0f * (float) (pole * 2 + ch);
            }
        source.diffuserSettings[1] = { 0.3f, 0.6f };
        restore (target, blobOf (source));

        for (const auto& id : source.parameterTable->ids)
            EXPECT_EQ (valueOf (target, id), valueOf (source, id)) << id;
        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                const auto& a = source.granulizerSettings[pole][ch];
                const auto& b = target.granulizerSettings[pole][ch];
                EXPECT_TRUE (b.size == a.size && b.sizeMs == a.sizeMs);
                EXPECT_TRUE (b.speed == a.speed && b.density == a.density && b.envelope == a.envelope);
                EXPECT_EQ (target.resonatorSettings[pole][ch].freq, source.resonatorSettings[pole][ch].freq);
            }
        EXPECT_EQ (target.diffuserSettings[1].feed, 0.3f);
        EXPECT_EQ (target.diffuserSettings[1].damp, 0.6f);
        EXPECT_EQ (target.midiMap.mapTree.toXmlString(), source.midiMap.mapTree.toXmlString());
    }
}

// A host that saves, reopens and saves again must get the same bytes, at any rate and for any
// size, also for sizes that come from a document written elsewhere (milliseconds of any length).
TEST (StateBlob, SaveReopenSaveIsByteForByteEqualForAnySettings)
{
    constexpr int settingsPerRate = 300;
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        SCOPED_TRACE (rate);
        QuorilAudioProcessor source, target;
        source.prepareToPlay (rate, 256);
        target.prepareToPlay (rate, 256);
        juce::Random random (4410 + (juce::int64) rate);
        int mismatches = 0, movedSizes = 0;

        for (int i = 0; i < settingsPerRate; ++i)
        {
            applyGeneratedSettings (source, random);
            if (i % 2 == 1) // any size up to two seconds, not only those the generator makes
                for (auto& pole : source.granulizerSettings)
                    for (auto& g : pole)
                        setGrainSize (g, (double) (random.nextFloat() * 2000.0f), rate);

            if (i % 3 == 2) // a document from elsewhere: sizes in milliseconds of full precision
            {
                auto doc = source.createStateTree();
                for (auto node : doc)
                    if (node.hasType ("Granulizer"))
                        node.setProperty ("size", juce::String (1.0 + 999.0 * random.nextDouble(), 17), nullptr);
                source.applyStateTree (parse (doc.toXmlString()));
            }

            const auto saved = blobOf (source);
            restore (target, saved);
            mismatches += blobOf (target) == saved ? 0 : 1;
            for (size_t pole = 0; pole < 4; ++pole)
                for (size_t ch = 0; ch < 2; ++ch)
                    movedSizes += target.granulizerSettings[pole][ch].size == source.granulizerSettings[pole][ch].size ? 0 : 1;
        }
        EXPECT_EQ (mismatches, 0) << "of " << settingsPerRate << " settings";
        EXPECT_EQ (movedSizes, 0) << "of " << settingsPerRate * 8 << " sizes";
    }
}

// A document from outside may hold far more than Quoril's own fields, all kept by every save, and
// a save fills in every engine node and adds the parameters the document did not name: when that
// would make a state too large to read again, Quoril saves its own fields only (the preset name
// cut to a file name's length), and reopening keeps every edit.
TEST (StateBlob, TheStateSavedAfterAnyDocumentReadsBackWithEveryEdit)
{
    const std::pair<const char*, std::string> documents[] = {
        { "the most elements, one naming a parameter", hostile::limitDocument (hostile::Limit::elements) },
        { "the most attributes", hostile::limitDocument (hostile::Limit::documentAttributes) },
        { "one engine node many times", "<Quoril>" + hostile::repeated ("<Granulizer pole=\"1\" channel=\"0\"/>", 200) + "</Quoril>" },
        { "a preset name the writer makes six times longer", "<Quoril><Metadata preset_name='" + std::string (20000, '"') + "'/></Quoril>" },
        { "one binding many times", "<Quoril><Quoril_MIDI_MAP>" + hostile::repeated ("<x_pos cc=\"74\"/><e/>", 120)
                                        + "</Quoril_MIDI_MAP></Quoril>" },
        { "a state of Quoril's own, with what it does not read", "<Quoril a=\"1\"><Resonator pole=\"0\" channel=\"0\" gain=\"0.8\"/><e/></Quoril>" },
    };

    for (const auto& [what, text] : documents)
    {
        SCOPED_TRACE (what);
        ASSERT_NE (parseUntrustedXml (text.data(), text.size()), nullptr);

        QuorilAudioProcessor p;
        restore (p, blobWithText (juce::String::fromUTF8 (text.data(), (int) text.size())));

        // Edits after the load: a parameter, an engine record, a binding.
        setParameter (p, "dry_wet", 0.25f);
        p.granulizerSettings[1][0].density = 5;
        setGrainSize (p.granulizerSettings[1][0], 123.25, p.getSampleRate() > 0 ? p.getSampleRate() : 44100.0);
        p.midiMap.lastCC = 12;
        p.midiMap.assignToLastCC ("y_pos");

        const auto saved = blobOf (p);
        QuorilAudioProcessor reopened;
        restore (reopened, saved);

        EXPECT_EQ (valueOf (reopened, "dry_wet"), 0.25f);
        EXPECT_EQ (valueOf (reopened, "out_gain"), valueOf (p, "out_gain"));
        EXPECT_EQ (reopened.granulizerSettings[1][0].density, 5);
        EXPECT_EQ (reopened.granulizerSettings[1][0].sizeMs, 123.25);
        EXPECT_TRUE (samePole (p, 1, reopened, 1));
        const auto name = p.getPresetName();
        EXPECT_EQ (reopened.getPresetName(), name.length() > 255 ? name.substring (0, 255) : name);
        EXPECT_EQ (xmlTextOf (blobOf (reopened)).contains ("<x_pos cc=\"74\"/>"), juce::String (what).contains ("binding"));
        EXPECT_TRUE (xmlTextOf (blobOf (reopened)).contains ("<y_pos cc=\"12\"/>"));
    }

    // A preset name the reader would refuse once written (a file name that is not UTF-8 gives
    // halves of surrogate pairs): the state is saved without what is refused of the name.
    {
        const auto character = [] (juce::juce_wchar c) { return juce::String::charToString (c); };
        QuorilAudioProcessor p;
        p.setPresetName ("Pad" + character (0xd800) + character (1) + character (0xfdd0));
        setParameter (p, "dry_wet", 0.25f);
        QuorilAudioProcessor reopened;
        restore (reopened, blobOf (p));
        EXPECT_EQ (valueOf (reopened, "dry_wet"), 0.25f);
        EXPECT_EQ (reopened.getPresetName(), "Pad" + character (1));
    }

    // A map a preset brought along is not saved in place of the controller map.
    {
        QuorilAudioProcessor p;
        p.applyStateTree (parse ("<Quoril><Quoril_MIDI_MAP><x_pos cc=\"74\"/></Quoril_MIDI_MAP></Quoril>"));
        p.midiMap.lastCC = 12;
        p.midiMap.assignToLastCC ("y_pos");
        QuorilAudioProcessor reopened;
        restore (reopened, blobOf (p));
        const auto text = xmlTextOf (blobOf (reopened));
        EXPECT_TRUE (text.contains ("<y_pos cc=\"12\"/>")) << text;
        EXPECT_FALSE (text.contains ("x_pos cc")) << text;
    }

    // A state that reads back is saved whole, with what Quoril does not read.
    QuorilAudioProcessor p;
    restore (p, blobWithText (juce::String (documents[std::size (documents) - 1].second)));
    const auto own = xmlTextOf (blobOf (p));
    EXPECT_TRUE (own.contains ("gain=\"0.8\"")) << own;
    EXPECT_TRUE (own.contains ("<e/>")) << own;
}

// A host may restore a state before it sets the rate (VST3 allows it), and a project's rate may
// change: what was saved saves again byte for byte, and the engine plays the milliseconds saved.
TEST (StateBlob, RestoreBeforeTheRateOrAtAnotherRateSavesTheSameBytes)
{
    struct Case { double savedAt, restoredAt, preparedAt; }; // restoredAt 0: a new instance not yet prepared
    const Case cases[] = { { 48000.0, 0.0, 48000.0 },     { 96000.0, 0.0, 96000.0 },   { 44100.0, 44100.0, 48000.0 },
                           { 48000.0, 0.0, 96000.0 },     { 96000.0, 48000.0, 44100.0 }, { 44100.0, 0.0, 44100.0 } };
    juce::Random random (2191);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.savedAt) + " saved, " + juce::String (c.restoredAt) + " restored, "
                      + juce::String (c.preparedAt) + " prepared");
        QuorilAudioProcessor source;
        source.prepareToPlay (c.savedAt, 256);
        applyGeneratedSettings (source, random);
        auto doc = source.createStateTree(); // and sizes from a document written elsewhere
        doc.getChildWithName ("Granulizer").setProperty ("size", 242.91, nullptr);
        source.applyStateTree (parse (doc.toXmlString()));
        const auto saved = blobOf (source);

        for (int reopen = 0; reopen < 3; ++reopen)
        {
            QuorilAudioProcessor target;
            if (c.restoredAt > 0.0)
                target.prepareToPlay (c.restoredAt, 256);
            restore (target, reopen == 0 ? saved : blobOf (source));
            target.prepareToPlay (c.preparedAt, 256);
            ASSERT_EQ (xmlTextOf (blobOf (target)), xmlTextOf (saved)) << "reopen " << reopen;
            EXPECT_EQ (target.granulizerSettings[0][0].sizeMs, 242.91);
            for (size_t pole = 0; pole < 4; ++pole)
                for (size_t ch = 0; ch < 2; ++ch)
                    EXPECT_EQ (target.granulizerSettings[pole][ch].size,
                               grainSizeSamples (source.granulizerSettings[pole][ch].sizeMs, c.preparedAt));
            restore (source, blobOf (target)); // the next reopen starts from this save
        }
    }
}

namespace
{
int ulpsApart (float a, float b)
{
    juce::int32 x, y;
    std::memcpy (&x, &a, 4);
    std::memcpy (&y, &b, 4);
    return std::abs (x - y);
}
} // namespace

// Documents written before sizes were saved in double precision: the milliseconds passed through
// a float. They still load to within one unit in the last place of the size that was saved, and
// every factory preset's size loads as the float nearest to its milliseconds at the rate.
TEST (StateTree, DocumentsWithSingleFloatSizesStillLoadToTheSizeSaved)
{
    QuorilAudioProcessor p;
    juce::Random random (108);
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        SCOPED_TRACE (rate);
        p.sampleRate = rate;
        int worst = 0;
        for (int i = 0; i < 2000; ++i)
        {
            const float saved = (1.0f + 699.0f * random.nextFloat()) * (float) rate / 1000.0f;
            const double ms = (double) (float) ((double) (saved * 1000.0f) / rate);
            p.applyStateTree (parse ("<Quoril><Granulizer pole=\"0\" channel=\"0\" size=\"" + juce::var (ms).toString() + "\"/></Quoril>"));
            worst = std::max (worst, ulpsApart (p.granulizerSettings[0][0].size, saved));
        }
        EXPECT_LE (worst, 1);

        for (const auto& preset : p.factoryPresets.presets)
            for (auto* node : preset->getChildWithTagNameIterator ("Granulizer"))
            {
                const auto ms = node->getDoubleAttribute ("size");
                p.applyStateTree (parse ("<Quoril><Granulizer pole=\"0\" channel=\"0\" size=\"" + node->getStringAttribute ("size") + "\"/></Quoril>"));
                EXPECT_EQ (p.granulizerSettings[0][0].size, (float) ((long double) ms * (long double) rate / 1000.0L)) << ms;
            }
    }
}

TEST (StateBlob, DataThatIsNoReadableBlobChangesNothing)
{
    QuorilAudioProcessor source, p;
    prepareDistinctState (source);
    source.midiMap.mapTree.getChild (0).setProperty ("cc", 5, nullptr);
    setParameter (source, "out_gain", 3.0f);
    source.granulizerSettings[0][0].density = 40;
    const auto good = blobOf (source);
    prepareDistinctState (p);
    const auto before = snapshot (p);

    auto withLength = [&] (juce::uint32 n)
    {
        auto copy = good;
        std::memcpy ((char*) copy.getData() + 4, &n, 4);
        return copy;
    };
    auto badMagic = good;
    static_cast<char*> (badMagic.getData())[3] = '?';
    const auto deep = "<Quoril><Quoril_MIDI_MAP/>" + juce::String::repeatedString ("<a>", 200000);
    const unsigned char brokenUtf8[] = { 'V', 'C', '2', '!', 4, 0, 0, 0, '<', '0', 0xfc, 0xff };

    const std::pair<const char*, juce::MemoryBlock> cases[] = {
        { "header only", juce::MemoryBlock (good.getData(), 8) },
        { "wrong magic", badMagic },
        { "zero length", withLength (0) },
        { "huge length", withLength (0x80000010u) },
        { "cut inside the text", juce::MemoryBlock (good.getData(), good.getSize() - 40) },
        { "unclosed document", blobWithText ("<Quoril><PARAM id=\"out_gain\" value=\"3\"/>") },
        { "no xml", blobWithText ("not xml at all") },
        { "entity", blobWithText ("<!DOCTYPE Quoril [<!ENTITY e \"&e;\">]><Quoril>&e;<Quoril_MIDI_MAP/></Quoril>") },
        { "nested too deep", blobWithText (deep) },
        { "instruction inside an element", blobWithText ("<Quoril><?pi?>8<Quoril_MIDI_MAP/></Quoril>") },
        { "instruction behind a broken tag", blobWithText ("<Quoril>\n<x\n?a<?b?>c'</Quoril>") },
        { "broken UTF-8 at the end", juce::MemoryBlock (brokenUtf8, sizeof (brokenUtf8)) },
    };
    for (const auto& [name, blob] : cases)
    {
        restore (p, blob);
        EXPECT_EQ (snapshot (p), before) << name;
    }
    p.setStateInformation (nullptr, 100);
    EXPECT_EQ (snapshot (p), before);

    // A length field that is merely too large, on whole data, still restores everything.
    restore (p, withLength ((juce::uint32) good.getSize() + 1000));
    EXPECT_EQ (valueOf (p, "out_gain"), 3.0f);
    EXPECT_EQ (p.granulizerSettings[0][0].density, 40);
    EXPECT_EQ ((int) p.midiMap.mapTree.getChild (0)["cc"], 5);

    // Nesting within the bound is read, comments and quoted brackets included.
    restore (p, blobWithText ("<Quoril><PARAM id=\"out_gain\" value=\"2\"/>" + juce::String::repeatedString ("<a b=\"c>\"><!-- <d> --><e/>", maxUntrustedXmlDepth - 2)
                              + juce::String::repeatedString ("</a>", maxUntrustedXmlDepth - 2) + "</Quoril>"));
    EXPECT_EQ (valueOf (p, "out_gain"), 2.0f);
}

// Hostile texts, in a blob with its zero byte and in one that ends with the text.
TEST (StateBlob, HostileTextIsRefusedQuicklyAndChangesNothing)
{
    QuorilAudioProcessor p;
    prepareDistinctState (p);
    p.setPresetName ("Kept");
    const auto before = snapshot (p);

    for (const auto& input : hostile::xmlInputs())
    {
        for (const bool withZero : { true, false })
        {
            juce::MemoryBlock blob;
            juce::MemoryOutputStream out (blob, false);
            out.writeInt (0x21324356);
            out.writeInt ((int) input.bytes.size());
            out.write (input.bytes.data(), input.bytes.size());
            if (withZero)
                out.writeByte (0);
            out.flush();

            EXPECT_TRUE (hostile::returnsQuickly ([&] { restore (p, blob); })) << input.what;
            EXPECT_EQ (snapshot (p), before) << input.what;
        }
    }
}

TEST (StateBlob, MapElementInAnyCaseAndAnotherRootRestoresOnlyTheMap)
{
    QuorilAudioProcessor p;
    prepareDistinctState (p);
    restore (p, blobWithText (R"(<Other><PARAM id="out_gain" value="1"/><quoril_midi_map><y_pos cc="3"/></quoril_midi_map></Other>)"));
    EXPECT_EQ (valueOf (p, "out_gain"), -3.5f);
    EXPECT_TRUE (xmlTextOf (blobOf (p)).endsWith ("<quoril_midi_map><y_pos cc=\"3\"/></quoril_midi_map></Quoril>"));

    // Without a map element the bindings stay.
    restore (p, blobWithText (R"(<Quoril><PARAM id="out_gain" value="1"/></Quoril>)"));
    EXPECT_EQ (valueOf (p, "out_gain"), 1.0f);
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 1);
}

// Damaged or hostile data: flipped bytes, cut ends, wrong lengths, odd numbers in attributes,
// duplicated or dropped markup. Nothing breaks, and whatever is accepted saves and restores.
TEST (StateMutation, DamagedBlobsNeverBreakThePlugIn)
{
    QuorilAudioProcessor source, p;
    source.midiMap.lastCC = 1;
    source.midiMap.assignToLastCC ("x_pos");
    const auto valid = blobOf (source);
    const auto validText = xmlTextOf (valid);
    p.prepareToPlay (44100.0, 64);
    juce::Random random (0x5eed);
    const char* numbers[] = { "nan", "-inf", "inf", "1e308", "-1e39", "99999999999", "-2147483648", "", "x", "64.5" };
    const char* attributes[] = { "value", "pole", "channel", "density", "size", "freq", "cc", "speed", "damp" };

    for (int i = 0; i < 3000; ++i)
    {
        auto blob = valid;
        auto* data = static_cast<char*> (blob.getData());
        auto text = validText;
        const int start = text.indexOfChar (random.nextInt (text.length()), '<'), end = text.indexOfChar (start, '>');
        const juce::String attribute = juce::String (attributes[random.nextInt (9)]) + "=\"";
        const int at = text.indexOf (random.nextInt (text.length()), attribute);

        switch (random.nextInt (7))
        {
            case 0: for (int k = random.nextInt (8) + 1; --k >= 0;) data[random.nextInt ((int) blob.getSize())] = (char) random.nextInt (256); break;
            case 1: blob.setSize ((size_t) random.nextInt ((int) blob.getSize() + 1)); break;
            case 2: { const auto n = (juce::uint32) random.nextInt(); std::memcpy (data + 4, &n, 4); break; }
            case 3: if (at >= 0) text = text.replaceSection (at + attribute.length(), text.indexOfChar (at + attribute.length(), '"') - at - attribute.length(), numbers[random.nextInt (10)]); blob = blobWithText (text); break;
            case 4: if (start >= 0 && end > start) text = text.replaceSection (start, 0, text.substring (start, end + 1)); blob = blobWithText (text); break;
            case 5: if (start >= 0 && end > start) text = text.replaceSection (start, end + 1 - start, {}); blob = blobWithText (text); break;
            default: blob = blobWithText (text.replace ("Quoril_MIDI_MAP><x_pos", "Quoril_MIDI_MAP><x_pos cc=\"-5\"/><in_gain cc=\"300\"/><nothing cc=\"1\"/><x_pos")); break;
        }

        restore (p, blob);
        p.applyStateTree (parse (xmlTextOf (blob)));
        p.midiMap.processMidi (controllers ({ { 1, random.nextInt (128), random.nextInt (128) } }), p.parameters);
        for (auto* param : p.getParameters())
            ASSERT_TRUE (std::isfinite (param->getValue())) << i;
        for (const auto& pole : p.granulizerSettings)
            for (const auto& r : pole)
                ASSERT_TRUE (r.density >= 0 && r.density <= 64) << i;

        juce::AudioBuffer<float> buffer (2, 64);
        juce::Random noise (i);
        fillSignal (buffer, 0, noise);
        auto midi = controllers ({ { 1, 1, 127 }, { 1, 74, 3 } });
        p.processBlock (buffer, midi);
        ASSERT_TRUE (allFinite (buffer)) << i;

        if (i % 100 == 0)
        {
            QuorilAudioProcessor copy;
            restore (copy, blobOf (p));
            for (const auto& id : p.parameterTable->ids)
                ASSERT_EQ (valueOf (copy, id), valueOf (p, id)) << i << " " << id;
        }
    }
}

// A MIDI-slot load on the audio thread while the host saves and restores on the message thread.
TEST (StateMutation, LoadsOnTheAudioThreadAndSavesOnTheMessageThreadDoNotCollide)
{
    QuorilAudioProcessor p;
    const auto valid = blobOf (p);
    const auto preset = parse (R"(<Quoril><PARAM id="x_pos" value="0.25"/><Granulizer pole="1" channel="1" density="3"/></Quoril>)");
    std::atomic<bool> running { true };
    std::thread audio ([&]
    {
        do
            p.applyStateTree (preset.createCopy());
        while (running);
    });

    bool everySaveParsed = true;
    for (int i = 0; i < 300; ++i)
    {
        const auto blob = blobOf (p);
        everySaveParsed = everySaveParsed && juce::AudioProcessor::getXmlFromBinary (blob.getData(), (int) blob.getSize()) != nullptr;
        if (i % 3 == 0)
            restore (p, valid);
    }
    running = false;
    audio.join(); // joined before any check, so a failure cannot leave the thread running
    EXPECT_TRUE (everySaveParsed);
    const int density = p.granulizerSettings[1][1].density;
    const float x = p.parameters.getRawParameterValue ("x_pos")->load();
    EXPECT_TRUE ((density == 3 && x == 0.25f) || (density == 8 && x == 0.5f)) << "the preset's or the restored state's, whole";
}
