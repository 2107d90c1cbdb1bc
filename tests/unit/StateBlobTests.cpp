#include "StateTestHelpers.h"

#include <cstring>
#include <functional>

using namespace quoril::test;

namespace
{
const char* header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> ";

struct Snapshot
{
    explicit Snapshot (QuorilAudioProcessor& p)
        : document (p.createStateTree().toXmlString()),
          map (p.midiMap.mapTree.toXmlString()),
          density (p.granulizerSettings[0][0].density)
    {
    }

    bool operator== (const Snapshot& o) const { return document == o.document && map == o.map && density == o.density; }

    juce::String document, map;
    int density;
};

// A processor with a binding and values that differ from the defaults.
void prepareDistinctState (QuorilAudioProcessor& p)
{
    ensureRecords (p);
    p.midiMap.lastCC = 74;
    p.midiMap.assignToLastCC ("x_pos");
    setValue (p, "out_gain", -3.5f);
    p.granulizerSettings[0][0].density = 12;
}
} // namespace

TEST (StateBlob, FreshInstanceWritesHeaderLengthOneLineDocumentMapAndZeroByte)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    const auto blob = blobOf (p);
    const auto* bytes = static_cast<const unsigned char*> (blob.getData());

    ASSERT_GT (blob.getSize(), 9u);
    EXPECT_EQ (juce::String::fromUTF8 ((const char*) bytes, 4), "VC2!");
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), (juce::uint32) blob.getSize() - 9);
    EXPECT_EQ (bytes[blob.getSize() - 1], 0);

    const auto text = xmlTextOf (blob);
    EXPECT_TRUE (text.startsWith (juce::String (header) + "<Quoril>"));
    EXPECT_TRUE (text.endsWith ("<Metadata preset_name=\"INIT\"/><Quoril_MIDI_MAP/></Quoril>"));
    EXPECT_FALSE (text.containsAnyOf ("\r\n\t"));
    EXPECT_EQ ((size_t) text.getNumBytesAsUTF8(), blob.getSize() - 9);

    auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getNumChildElements(), 38);
}

TEST (StateBlob, SaveAndRestoreRoundTripsAtEitherRate)
{
    for (const double rate : { 44100.0, 48000.0 })
    {
        SCOPED_TRACE (rate);
        QuorilAudioProcessor source;
        prepareDistinctState (source);
        source.prepareToPlay (rate, 256);
        for (int pole = 0; pole < 4; ++pole)
            for (int channel = 0; channel < 2; ++channel)
            {
                auto& g = source.granulizerSettings[(size_t) pole][(size_t) channel];
                g.size = 441.0f * (float) (pole + 1) + (float) channel;
                g.speed = 0.7f + 0.1f * (float) pole;
                g.envelope = 2;
                source.resonatorSettings[(size_t) pole][(size_t) channel].freq = 100.0f + 10.0f * (float) (pole * 2 + channel);
            }
        source.diffuserSettings[1] = { 0.3f, 0.6f };

        const auto blob = blobOf (source);

        QuorilAudioProcessor target;
        ensureRecords (target);
        target.prepareToPlay (rate, 256);
        restore (target, blob);

        for (const auto& id : source.parameterTable->ids)
            EXPECT_EQ (valueOf (target, id), valueOf (source, id)) << id;

        for (int pole = 0; pole < 4; ++pole)
            for (int channel = 0; channel < 2; ++channel)
            {
                const auto& a = source.granulizerSettings[(size_t) pole][(size_t) channel];
                const auto& b = target.granulizerSettings[(size_t) pole][(size_t) channel];
                const float ms = (float) ((double) (a.size * 1000.0f) / rate);
                EXPECT_EQ (b.size, (float) ((double) (ms * 0.001f) * rate));
                EXPECT_NEAR (b.size, a.size, 0.001f);
                EXPECT_EQ (b.speed, a.speed);
                EXPECT_EQ (b.density, a.density);
                EXPECT_EQ (b.envelope, a.envelope);
                EXPECT_EQ (target.resonatorSettings[(size_t) pole][(size_t) channel].freq,
                           source.resonatorSettings[(size_t) pole][(size_t) channel].freq);
            }
        EXPECT_EQ (target.diffuserSettings[1].feed, 0.3f);
        EXPECT_EQ (target.diffuserSettings[1].damp, 0.6f);
        EXPECT_EQ (target.midiMap.mapTree.toXmlString(), source.midiMap.mapTree.toXmlString());
    }
}

TEST (StateBlob, DataThatIsNoReadableBlobChangesNothing)
{
    QuorilAudioProcessor source;
    prepareDistinctState (source);
    source.midiMap.mapTree.getChild (0).setProperty ("cc", 5, nullptr);
    setValue (source, "out_gain", 3.0f);
    source.granulizerSettings[0][0].density = 40;
    const auto good = blobOf (source);

    QuorilAudioProcessor p;
    prepareDistinctState (p);
    const Snapshot before (p);

    auto withBytes = [&] (std::function<void (juce::MemoryBlock&)> change)
    {
        auto copy = good;
        change (copy);
        return copy;
    };
    auto setLength = [] (juce::MemoryBlock& b, juce::uint32 n) { std::memcpy ((char*) b.getData() + 4, &n, 4); };

    const juce::MemoryBlock cases[] = {
        juce::MemoryBlock (good.getData(), 8),
        withBytes ([] (auto& b) { static_cast<char*> (b.getData())[3] = '?'; }),
        withBytes ([&] (auto& b) { setLength (b, 0); }),
        withBytes ([&] (auto& b) { setLength (b, 0x80000010u); }),
        juce::MemoryBlock (good.getData(), good.getSize() - 40), // cut inside the text
        blobWithText ("<Quoril><PARAM id=\"out_gain\" value=\"3\"/>"),
        blobWithText ("not xml at all"),
        blobWithText ("<!DOCTYPE Quoril [<!ENTITY e \"&e;\">]><Quoril>&e;<Quoril_MIDI_MAP/></Quoril>"),
    };

    for (const auto& blob : cases)
    {
        restore (p, blob);
        EXPECT_TRUE (Snapshot (p) == before) << xmlTextOf (blob).substring (0, 60);
    }
    // Broken UTF-8 at the end of the text (the XML reader would read past the data).
    const unsigned char broken[] = { 'V', 'C', '2', '!', 4, 0, 0, 0, '<', '0', 0xfc, 0xff };
    p.setStateInformation (broken, (int) sizeof (broken));
    EXPECT_TRUE (Snapshot (p) == before);
    p.setStateInformation (nullptr, 100);
    EXPECT_TRUE (Snapshot (p) == before);

    // A length field that is merely too large, on whole data, still restores everything.
    restore (p, withBytes ([&] (auto& b) { setLength (b, (juce::uint32) b.getSize() + 1000); }));
    EXPECT_EQ (valueOf (p, "out_gain"), 3.0f);
    EXPECT_EQ (p.granulizerSettings[0][0].density, 40);
    EXPECT_EQ ((int) p.midiMap.mapTree.getChild (0)["cc"], 5);
}

TEST (StateBlob, MapElementIsFoundInAnyCaseAndAnotherRootRestoresOnlyTheMap)
{
    QuorilAudioProcessor p;
    prepareDistinctState (p);

    restore (p, blobWithText (R"(<Other><PARAM id="out_gain" value="1"/><quoril_midi_map><y_pos cc="3"/></quoril_midi_map></Other>)"));
    EXPECT_EQ (valueOf (p, "out_gain"), -3.5f);
    EXPECT_EQ (p.midiMap.mapTree.getType().toString(), "quoril_midi_map");
    EXPECT_EQ (p.midiMap.mapTree.getChild (0).getType().toString(), "y_pos");
    EXPECT_TRUE (xmlTextOf (blobOf (p)).endsWith ("<quoril_midi_map><y_pos cc=\"3\"/></quoril_midi_map></Quoril>"));

    // Without a map element the bindings stay.
    restore (p, blobWithText (R"(<Quoril><PARAM id="out_gain" value="1"/></Quoril>)"));
    EXPECT_EQ (valueOf (p, "out_gain"), 1.0f);
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 1);
    EXPECT_FALSE (p.parameters.state.getChildWithName ("quoril_midi_map").isValid());
}

TEST (StateBlob, SecondMapElementStaysInTheDocumentAndComesBackFirst)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    restore (p, blobWithText (R"(<Quoril><Quoril_MIDI_MAP><x_pos cc="1"/></Quoril_MIDI_MAP><Quoril_MIDI_MAP><x_pos cc="2"/></Quoril_MIDI_MAP></Quoril>)"));
    EXPECT_EQ ((int) p.midiMap.mapTree.getChild (0)["cc"], 1);

    p.midiMap.mapTree.getChild (0).setProperty ("cc", 9, nullptr);
    const auto text = xmlTextOf (blobOf (p));
    EXPECT_LT (text.indexOf ("cc=\"2\""), text.indexOf ("cc=\"9\""));

    QuorilAudioProcessor q;
    restore (q, blobOf (p));
    EXPECT_EQ ((int) q.midiMap.mapTree.getChild (0)["cc"], 2);
}

TEST (StateBlob, DeeplyNestedTextIsRefusedWithoutExhaustingTheStack)
{
    QuorilAudioProcessor p;
    prepareDistinctState (p);
    const Snapshot before (p);

    juce::String deep;
    deep.preallocateBytes (1500000);
    deep << "<Quoril><Quoril_MIDI_MAP/>";
    for (int i = 0; i < 200000; ++i)
        deep << "<a>";
    restore (p, blobWithText (deep));
    EXPECT_TRUE (Snapshot (p) == before);

    // Nesting within the bound is read as usual.
    juce::String nested ("<Quoril><PARAM id=\"out_gain\" value=\"2\"/>");
    for (int i = 0; i < 200; ++i)
        nested << "<a b=\"<c>\"><!-- <d> --><e/>";
    for (int i = 0; i < 200; ++i)
        nested << "</a>";
    restore (p, blobWithText (nested + "</Quoril>"));
    EXPECT_EQ (valueOf (p, "out_gain"), 2.0f);
    EXPECT_GT (blobOf (p).getSize(), 3000u);
}
