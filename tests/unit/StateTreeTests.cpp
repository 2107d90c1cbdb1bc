#include "StateTestHelpers.h"

using namespace quoril::test;

namespace
{
juce::StringArray attributeNames (const juce::ValueTree& node)
{
    juce::StringArray names;
    for (int i = 0; i < node.getNumProperties(); ++i)
        names.add (node.getPropertyName (i).toString());
    return names;
}

juce::ValueTree parse (const juce::String& xml)
{
    return juce::ValueTree::fromXml (xml);
}
} // namespace

TEST (StateTree, FreshDocumentHoldsParametersEngineNodesAndPresetNameInOrder)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    const auto doc = p.createStateTree();

    ASSERT_TRUE (doc.hasType ("Quoril"));
    ASSERT_EQ (doc.getNumChildren(), 37);
    EXPECT_EQ (doc.getNumProperties(), 0);

    const char* ids[] = { "dry_wet", "in_gain", "out_gain", "pole_a_diff", "pole_b_diff", "pole_c_diff",
                          "pole_d_diff", "stereo_link_a", "stereo_link_b", "stereo_link_c", "stereo_link_d",
                          "trajectory", "x_pos", "x_traj_amount", "x_traj_range", "y_pos", "y_traj_amount",
                          "y_traj_range" };
    for (int i = 0; i < 18; ++i)
    {
        const auto child = doc.getChild (i);
        EXPECT_TRUE (child.hasType ("PARAM"));
        EXPECT_EQ (child["id"].toString(), ids[i]);
        EXPECT_TRUE (child.hasProperty ("value")) << ids[i];
    }

    const juce::StringArray resonatorAttributes { "channel", "pole", "freq", "feed" };
    const juce::StringArray granulizerAttributes { "channel", "pole", "density", "envelope", "size", "speed",
                                                   "size_rnd", "speed_rnd", "amp_rnd", "out_gain" };
    const juce::StringArray diffuserAttributes { "channel", "feed", "damp" };

    int index = 18;
    for (int channel = 0; channel < 2; ++channel)
    {
        for (int pole = 0; pole < 4; ++pole)
        {
            const auto resonator = doc.getChild (index++);
            const auto granulizer = doc.getChild (index++);
            ASSERT_TRUE (resonator.hasType ("Resonator"));
            ASSERT_TRUE (granulizer.hasType ("Granulizer"));
            EXPECT_EQ (attributeNames (resonator), resonatorAttributes);
            EXPECT_EQ (attributeNames (granulizer), granulizerAttributes);
            for (const auto& node : { resonator, granulizer })
            {
                EXPECT_EQ ((int) node["channel"], channel);
                EXPECT_EQ ((int) node["pole"], pole);
            }
        }

        const auto diffuser = doc.getChild (index++);
        ASSERT_TRUE (diffuser.hasType ("Diffuser"));
        EXPECT_EQ (attributeNames (diffuser), diffuserAttributes);
        EXPECT_EQ ((int) diffuser["channel"], channel);
    }

    const auto metadata = doc.getChild (36);
    ASSERT_TRUE (metadata.hasType ("Metadata"));
    EXPECT_EQ (metadata["preset_name"].toString(), "INIT");

    // The saved document is a copy: changing it leaves the live tree alone.
    doc.getChild (36).setProperty ("preset_name", "changed", nullptr);
    EXPECT_EQ (p.parameters.state.getChild (36)["preset_name"].toString(), "INIT");
}

TEST (StateTree, GrainSizeTravelsInMillisecondsAtTheCurrentRate)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    p.granulizerSettings[2][1].size = 441.0f;

    auto sizeNode = [] (const juce::ValueTree& doc) { return doc.getChild (18 + 9 + 2 * 2 + 1); };

    auto doc = p.createStateTree();
    ASSERT_EQ ((int) sizeNode (doc)["pole"], 2);
    ASSERT_EQ ((int) sizeNode (doc)["channel"], 1);
    EXPECT_EQ (sizeNode (doc).createXml()->getStringAttribute ("size"), "10.0");
    p.granulizerSettings[2][1].size = 0.0f;
    p.applyStateTree (parse (doc.toXmlString()));
    EXPECT_EQ (p.granulizerSettings[2][1].size, 441.0000305f);

    p.sampleRate = 48000.0;
    p.granulizerSettings[2][1].size = 441.0f;
    doc = p.createStateTree();
    EXPECT_EQ ((double) sizeNode (doc)["size"], 9.1875);
    p.granulizerSettings[2][1].size = 0.0f;
    p.applyStateTree (parse (doc.toXmlString()));
    EXPECT_EQ (p.granulizerSettings[2][1].size, 441.0f);

    // Saved at 48 kHz, applied at 44.1 kHz: the milliseconds are kept, the samples follow the rate.
    p.sampleRate = 44100.0;
    p.applyStateTree (parse (doc.toXmlString()));
    EXPECT_NEAR (p.granulizerSettings[2][1].size, 405.16875f, 0.001f);

    // Without "size" a node sets 100 ms.
    sizeNode (doc).removeProperty ("size", nullptr);
    p.applyStateTree (doc);
    EXPECT_EQ (p.granulizerSettings[2][1].size, 4410.0f);
    p.sampleRate = 48000.0;
    p.applyStateTree (doc);
    EXPECT_EQ (p.granulizerSettings[2][1].size, 4800.0f);
}

TEST (StateTree, RootAndNodeTypesMustMatchExactly)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    p.granulizerSettings[0][0].density = 5;
    setValue (p, "x_pos", 0.25f);

    p.applyStateTree (parse (R"(<quoril><PARAM id="x_pos" value="0.75"/><Granulizer pole="0" channel="0" density="9"/></quoril>)"));
    EXPECT_EQ (valueOf (p, "x_pos"), 0.25f);
    EXPECT_EQ (p.granulizerSettings[0][0].density, 5);
    EXPECT_EQ (p.parameters.state.getNumChildren(), 37);

    p.applyStateTree (parse (R"(<Quoril><granulizer pole="0" channel="0" density="9"/><Granulizer pole="0" channel="0" speed="1.5"/></Quoril>)"));
    EXPECT_EQ (p.granulizerSettings[0][0].density, 5);
    EXPECT_EQ (p.granulizerSettings[0][0].speed, 1.5f);
}

TEST (StateTree, NodesOutsideThePolesAndChannelsAreSkipped)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    const auto before = p.granulizerSettings;
    const auto resonatorBefore = p.resonatorSettings;
    const auto diffuserBefore = p.diffuserSettings[1].feed;
    const auto otherDiffuserBefore = p.diffuserSettings[0].feed;

    p.applyStateTree (parse (R"(<Quoril>
        <Granulizer pole="4" channel="0" density="3" size="50"/>
        <Granulizer pole="-1" channel="0" density="3"/>
        <Granulizer pole="0" channel="2" density="3"/>
        <Resonator pole="0" channel="-1" freq="1000"/>
        <Resonator pole="9999999999" channel="0" freq="1000"/>
        <Diffuser channel="2" feed="0.3"/>
        <Diffuser channel="1" pole="7" feed="0.25"/>
      </Quoril>)"));

    for (int pole = 0; pole < 4; ++pole)
        for (int channel = 0; channel < 2; ++channel)
        {
            EXPECT_EQ (p.granulizerSettings[(size_t) pole][(size_t) channel].density, before[(size_t) pole][(size_t) channel].density);
            EXPECT_EQ (p.resonatorSettings[(size_t) pole][(size_t) channel].freq, resonatorBefore[(size_t) pole][(size_t) channel].freq);
        }
    EXPECT_NE (diffuserBefore, 0.25f);
    EXPECT_EQ (p.diffuserSettings[1].feed, 0.25f); // a diffuser ignores "pole"
    EXPECT_EQ (p.diffuserSettings[0].feed, otherDiffuserBefore);

    // Saving leaves such nodes as they were.
    const auto doc = p.createStateTree();
    const auto outside = doc.getChildWithProperty ("pole", "4");
    ASSERT_TRUE (outside.isValid());
    EXPECT_EQ (attributeNames (outside), (juce::StringArray { "pole", "channel", "density", "size" }));
    EXPECT_EQ (outside["density"].toString(), "3");

    // Without any records (engine not built) nothing is read or written.
    p.granulizerSettings.clear();
    p.resonatorSettings.clear();
    p.applyStateTree (doc);
    EXPECT_EQ (p.createStateTree().getNumChildren(), doc.getNumChildren());
}

TEST (StateTree, DensityIsHeldToTheGrainSlotsAndOtherValuesAreAppliedAsTheyCome)
{
    QuorilAudioProcessor p;
    ensureRecords (p);

    p.applyStateTree (parse (R"(<Quoril>
        <Granulizer pole="1" channel="0" density="100" envelope="7"/>
        <Granulizer pole="1" channel="1" density="-4"/>
        <Granulizer pole="2" channel="0" density="17"/>
        <Resonator pole="3" channel="1" freq="5000" feed="1.5" gain="2"/>
      </Quoril>)"));

    EXPECT_EQ (p.granulizerSettings[1][0].density, 64);
    EXPECT_EQ (p.granulizerSettings[1][0].envelope, 7);
    EXPECT_EQ (p.granulizerSettings[1][1].density, 0);
    EXPECT_EQ (p.granulizerSettings[2][0].density, 17);
    EXPECT_EQ (p.resonatorSettings[3][1].freq, 5000.0f);
    EXPECT_EQ (p.resonatorSettings[3][1].feed, 1.5f);

    const auto doc = p.createStateTree();
    const auto resonator = doc.getChildWithProperty ("gain", "2");
    ASSERT_TRUE (resonator.isValid()); // an attribute nobody reads is kept
    EXPECT_EQ ((double) resonator["freq"], 5000.0);
    EXPECT_EQ (doc.getNumChildren(), 4 + 18);
}

TEST (StateTree, NumbersThatAreNotFiniteCountAsAbsent)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    p.resonatorSettings[0][0].freq = 300.0f;
    p.resonatorSettings[0][0].feed = 0.75f;
    p.granulizerSettings[0][0].speed = 1.25f;
    p.diffuserSettings[0].damp = 0.5f;
    setValue (p, "x_pos", 0.25f);
    setValue (p, "in_gain", -6.0f);

    p.applyStateTree (parse (R"(<Quoril>
        <PARAM id="x_pos" value="nan"/>
        <PARAM id="in_gain" value="-inf"/>
        <Resonator pole="0" channel="0" freq="nan" feed="inf"/>
        <Granulizer pole="0" channel="0" speed="-inf" size="1e300" size_rnd="abc" density="999"/>
        <Diffuser channel="0" damp="1e39"/>
      </Quoril>)"));

    EXPECT_EQ (valueOf (p, "x_pos"), 0.5f);  // default
    EXPECT_EQ (valueOf (p, "in_gain"), 0.0f); // default
    EXPECT_EQ (p.resonatorSettings[0][0].freq, 300.0f);
    EXPECT_EQ (p.resonatorSettings[0][0].feed, 0.75f);
    EXPECT_EQ (p.granulizerSettings[0][0].speed, 1.25f);
    EXPECT_EQ (p.granulizerSettings[0][0].size, 4410.0f);
    EXPECT_EQ (p.granulizerSettings[0][0].sizeRnd, 0.0f); // text that is no number reads 0
    EXPECT_EQ (p.granulizerSettings[0][0].density, 64);
    EXPECT_EQ (p.diffuserSettings[0].damp, 0.5f);

    for (auto* param : p.getParameters())
        EXPECT_TRUE (std::isfinite (param->getValue()));
}

TEST (StateTree, ParametersTheDocumentDoesNotNameSurviveTheNextSaveAndRestore)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    setValue (p, "x_pos", 0.8f);
    setValue (p, "y_pos", 0.5f); // at its default, as after the load below
    p.createStateTree();          // the tree is flushed: nothing waits to be written

    p.applyStateTree (parse (R"(<Quoril><PARAM id="in_gain" value="-12"/><Metadata preset_name="p"/></Quoril>)"));
    EXPECT_NEAR (valueOf (p, "in_gain"), -12.0f, 1.0e-4f);
    EXPECT_EQ (valueOf (p, "x_pos"), 0.5f); // the framework resets what the document does not name

    auto doc = p.createStateTree();
    for (const auto& child : doc)
        if (child.hasType ("PARAM"))
            EXPECT_TRUE (child.hasProperty ("value")) << child["id"].toString();

    setValue (p, "y_pos", 0.9f);
    const auto blob = blobOf (p);

    QuorilAudioProcessor q;
    ensureRecords (q);
    setValue (q, "x_pos", 0.1f);
    setValue (q, "y_pos", 0.2f);
    restore (q, blob);

    for (const auto& id : p.parameterTable->ids)
        EXPECT_EQ (valueOf (q, id), valueOf (p, id)) << id;
    EXPECT_FLOAT_EQ (valueOf (q, "y_pos"), 0.9f);
}

TEST (StateTree, DocumentsOfParametersOnlyAndDuplicateNodesKeepTheirShape)
{
    QuorilAudioProcessor p;
    ensureRecords (p);
    p.granulizerSettings[1][0].speed = 1.5f;

    p.applyStateTree (parse (R"(<Quoril><PARAM id="dry_wet" value="0.25"/></Quoril>)"));
    EXPECT_EQ (valueOf (p, "dry_wet"), 0.25f);
    EXPECT_EQ (p.granulizerSettings[1][0].speed, 1.5f);
    EXPECT_EQ (p.createStateTree().getNumChildren(), 18);

    p.applyStateTree (parse (R"(<Quoril>
        <Granulizer pole="1" channel="0" speed="0.5"/>
        <Granulizer pole="1" channel="0" speed="0.75"/></Quoril>)"));
    EXPECT_EQ (p.granulizerSettings[1][0].speed, 0.75f);

    const auto doc = p.createStateTree();
    EXPECT_EQ ((double) doc.getChild (0)["speed"], 0.75);
    EXPECT_EQ ((double) doc.getChild (1)["speed"], 0.75);
}
