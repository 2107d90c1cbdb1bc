#include "PresetTestSupport.h"

#include <cmath>

using namespace quoril::test;

namespace
{
const char* const presetNames[] = { "Drill1", "Drill2", "Orbit1", "Orbit2", "Orbit3",
                                    "Sweep1", "Sweep2", "Travel1", "Travel2", "Travel3" };

struct Shape { int granulizers, resonators, diffusers, gainResonators; };
const Shape shapes[] = { { 15, 15, 3, 7 }, { 15, 15, 3, 7 }, { 12, 12, 3, 0 }, { 14, 14, 3, 0 }, { 14, 14, 3, 0 },
                         { 15, 15, 3, 7 }, { 15, 15, 3, 7 }, { 8, 8, 2, 0 },   { 8, 8, 2, 0 },   { 12, 12, 3, 0 } };

int countTag (const juce::XmlElement& root, const juce::String& tag)
{
    int n = 0;
    for (auto* child : root.getChildIterator())
        n += child->getTagName() == tag ? 1 : 0;
    return n;
}
} // namespace

TEST (FactoryPresets, TenDocumentsOfTheFixedShapeInTheirOrder)
{
    QuorilAudioProcessor p;
    const auto& presets = p.factoryPresets;

    ASSERT_EQ (presets.presets.size(), 10u);
    ASSERT_EQ (presets.names.size(), 10);

    for (int i = 0; i < 10; ++i)
    {
        SCOPED_TRACE (presetNames[i]);
        EXPECT_EQ (presets.names[i], presetNames[i]);

        const auto& root = *presets.presets[(size_t) i];
        EXPECT_EQ (root.getTagName(), "Quoril");
        EXPECT_EQ (root.getNumAttributes(), 0);
        EXPECT_EQ (countTag (root, "PARAM"), 18);
        EXPECT_EQ (countTag (root, "Granulizer"), shapes[i].granulizers);
        EXPECT_EQ (countTag (root, "Resonator"), shapes[i].resonators);
        EXPECT_EQ (countTag (root, "Diffuser"), shapes[i].diffusers);
        EXPECT_EQ (countTag (root, "Controller_Map") + countTag (root, "Quoril_MIDI_MAP"), 0);

        // Children: ten valued PARAMs, the engine nodes, eight valueless PARAMs, Metadata.
        const juce::StringArray firstIds { "in_gain", "x_pos", "y_pos", "trajectory", "x_traj_amount",
                                           "x_traj_range", "y_traj_amount", "y_traj_range", "out_gain", "dry_wet" };
        const juce::StringArray lastIds { "pole_a_diff", "pole_b_diff", "pole_c_diff", "pole_d_diff",
                                          "stereo_link_a", "stereo_link_b", "stereo_link_c", "stereo_link_d" };
        const int n = root.getNumChildElements();
        for (int k = 0; k < 10; ++k)
        {
            const auto* param = root.getChildElement (k);
            EXPECT_EQ (param->getTagName(), "PARAM");
            EXPECT_EQ (param->getStringAttribute ("id"), firstIds[k]);
            EXPECT_TRUE (param->hasAttribute ("value"));
        }
        EXPECT_EQ (root.getChildElement (0)->getStringAttribute ("value"), "0");
        EXPECT_EQ (root.getChildElement (3)->getStringAttribute ("value"), "1");

        for (int k = 0; k < 8; ++k)
        {
            const auto* param = root.getChildElement (n - 9 + k);
            EXPECT_EQ (param->getTagName(), "PARAM");
            EXPECT_EQ (param->getStringAttribute ("id"), lastIds[k]);
            EXPECT_FALSE (param->hasAttribute ("value"));
        }

        EXPECT_EQ (root.getChildElement (n - 1)->getTagName(), "Metadata");

        // The engine nodes end with one complete set: Diffuser, then Granulizer and Resonator per pole, per channel.
        const int setStart = n - 9 - 18;
        for (int ch = 0; ch < 2; ++ch)
        {
            const auto* diffuser = root.getChildElement (setStart + ch * 9);
            EXPECT_EQ (diffuser->getTagName(), "Diffuser");
            EXPECT_EQ (diffuser->getIntAttribute ("channel", -1), ch);

            for (int pole = 0; pole < 4; ++pole)
            {
                const auto* g = root.getChildElement (setStart + ch * 9 + 1 + pole * 2);
                const auto* r = root.getChildElement (setStart + ch * 9 + 2 + pole * 2);
                EXPECT_EQ (g->getTagName(), "Granulizer");
                EXPECT_EQ (r->getTagName(), "Resonator");
                EXPECT_EQ (g->getIntAttribute ("pole", -1), pole);
                EXPECT_EQ (r->getIntAttribute ("pole", -1), pole);
                EXPECT_EQ (g->getIntAttribute ("channel", -1), ch);
                EXPECT_EQ (r->getIntAttribute ("channel", -1), ch);
            }
        }

        int gainResonators = 0;
        for (auto* child : root.getChildIterator())
        {
            if (child->getTagName() == "Granulizer")
            {
                EXPECT_EQ (child->getStringAttribute ("density"), "8");
                EXPECT_EQ (child->getStringAttribute ("envelope"), "2");
                EXPECT_EQ (child->getStringAttribute ("out_gain"), "1.0");
            }
            else if (child->getTagName() == "Resonator" && child->hasAttribute ("gain"))
                ++gainResonators;
        }
        EXPECT_EQ (gainResonators, shapes[i].gainResonators);
    }
}

TEST (FactoryPresets, ManagersReadTheirNamesAndSkipTextsThatDoNotParse)
{
    orvn::FactoryPresetsManager base ("preset_name");
    base.addPreset ("<Doc preset_name=\"Alpha\"/>");
    base.addPreset ("<Doc Preset_Name=\"wrong case\"/>");
    base.addPreset ("<Doc><broken");
    base.addPreset ("");
    ASSERT_EQ (base.presets.size(), 2u);
    EXPECT_EQ (base.names, juce::StringArray ({ "Alpha", "" }));

    quoril::QuorilFactoryPresetsManager manager ("Metadata", "preset_name");
    manager.addPreset ("<Quoril preset_name=\"root\"><METADATA preset_name=\"Upper\"/><Metadata preset_name=\"second\"/></Quoril>");
    manager.addPreset ("<Quoril><PARAM id=\"x_pos\"/></Quoril>");
    manager.addPreset ("not xml at all");
    ASSERT_EQ (manager.presets.size(), 2u);
    EXPECT_EQ (manager.names, juce::StringArray ({ "Upper", "" }));
}

TEST (FactoryPresets, EachAppliesWithDefaultAmountsTrajectoryOnAndItsLastNodes)
{
    QuorilAudioProcessor p;
    if (! hasStateDocument (p))
        GTEST_SKIP() << "the processor has no state document";

    for (size_t i = 0; i < p.factoryPresets.presets.size(); ++i)
    {
        SCOPED_TRACE (presetNames[i]);
        const auto& doc = *p.factoryPresets.presets[i];

        // Make every amount differ from its default first.
        for (int pole = 0; pole < 4; ++pole)
        {
            p.parameters.getParameter (p.parameterTable->ids[ParameterTable::diffIndex (pole)])->setValueNotifyingHost (0.1f);
            p.parameters.getParameter (p.parameterTable->ids[ParameterTable::linkIndex (pole)])->setValueNotifyingHost (1.0f);
        }

        p.applyStateTree (juce::ValueTree::fromXml (doc));

        EXPECT_EQ (p.getPresetName(), presetNames[i]);
        EXPECT_EQ (p.parameterTable->raw (ParameterTable::trajectory), 1.0f);
        EXPECT_EQ (p.parameterTable->raw (ParameterTable::inGain), 0.0f);
        for (int pole = 0; pole < 4; ++pole)
        {
            EXPECT_FLOAT_EQ (p.parameterTable->raw (ParameterTable::diffIndex (pole)), 0.5f);
            EXPECT_EQ (p.parameterTable->raw (ParameterTable::linkIndex (pole)), 0.0f);
        }

        // The final set of engine nodes wins over the earlier duplicates.
        const int n = doc.getNumChildElements();
        for (int k = n - 9 - 18; k < n - 9; ++k)
        {
            const auto* node = doc.getChildElement (k);
            const auto pole = (size_t) node->getIntAttribute ("pole");
            const auto ch = (size_t) node->getIntAttribute ("channel");

            if (node->getTagName() == "Resonator")
                EXPECT_FLOAT_EQ (p.resonatorSettings[pole][ch].freq, (float) node->getDoubleAttribute ("freq"));
            else if (node->getTagName() == "Granulizer")
                EXPECT_FLOAT_EQ (p.granulizerSettings[pole][ch].speed, (float) node->getDoubleAttribute ("speed"));
            else
                EXPECT_FLOAT_EQ (p.diffuserSettings[ch].feed, (float) node->getDoubleAttribute ("feed"));
        }
    }
}

// Program-level noise through every preset: audible, finite and below full scale.
TEST (FactoryPresets, EachSoundsWithoutClippingOnNoise)
{
    QuorilAudioProcessor p;
    if (! hasEngine (p) || ! hasStateDocument (p))
        GTEST_SKIP() << "the processor has no sound engine or state document";

    constexpr double rate = 44100.0;
    constexpr int blockSize = 512;
    constexpr int numBlocks = (int) (6 * rate) / blockSize;
    const float noiseScale = 0.25f * std::sqrt (3.0f); // uniform noise at -12 dBFS RMS

    for (size_t i = 0; i < p.factoryPresets.presets.size(); ++i)
    {
        SCOPED_TRACE (presetNames[i]);
        p.applyStateTree (juce::ValueTree::fromXml (*p.factoryPresets.presets[i]));
        p.prepareToPlay (rate, blockSize);

        juce::Random noise (1000 + (juce::int64) i);
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        float peak = 0.0f, wetLevel = 0.0f;
        bool finite = true;

        for (int block = 0; block < numBlocks; ++block)
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < blockSize; ++s)
                    buffer.setSample (ch, s, (noise.nextFloat() * 2.0f - 1.0f) * noiseScale);

            p.processBlock (buffer, midi);

            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < blockSize; ++s)
                {
                    const auto v = buffer.getSample (ch, s);
                    finite = finite && std::isfinite (v);
                    peak = juce::jmax (peak, std::abs (v));
                }

            if (block >= numBlocks - 100)
                wetLevel += p.outputLevel.load() / 100.0f;
        }

        EXPECT_TRUE (finite);
        EXPECT_LT (peak, 1.0f);
        EXPECT_GT (wetLevel, 0.01f) << "the processed signal is silent";
    }
}
