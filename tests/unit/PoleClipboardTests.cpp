#include "PresetTestSupport.h"

using namespace quoril::test;

namespace
{
struct PoleClipboardTest : ::testing::Test
{
    void SetUp() override
    {
        ensureSettingsRecords (p);

        // Distinct values per pole and channel.
        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                auto& g = p.granulizerSettings[pole][ch];
                g.size = 1000.0f + (float) (pole * 10 + ch);
                g.speed = 1.0f + 0.1f * (float) pole;
                g.ampRnd = 0.05f * (float) ch;
                p.resonatorSettings[pole][ch].freq = 100.0f + (float) (pole * 100 + ch);
            }
    }

    juce::Value amount (int index) { return p.parameters.getParameterAsValue (p.parameterTable->ids[index]); }
    float raw (int index) const { return p.parameterTable->raw (index); }

    QuorilAudioProcessor p;
};
} // namespace

TEST_F (PoleClipboardTest, PasteBeforeAnyCopyChangesNothing)
{
    QuorilAudioProcessor before;
    ensureSettingsRecords (before);
    before.granulizerSettings = p.granulizerSettings;
    before.resonatorSettings = p.resonatorSettings;

    for (int pole = -1; pole <= 4; ++pole)
        p.pastePoleSettings (pole);

    for (int pole = 0; pole < 4; ++pole)
    {
        EXPECT_TRUE (samePole (p, pole, before, pole)) << pole;
        EXPECT_FLOAT_EQ (raw (ParameterTable::diffIndex (pole)), 0.5f);
        EXPECT_EQ (raw (ParameterTable::linkIndex (pole)), 0.0f);
    }
}

TEST_F (PoleClipboardTest, CopyAPasteIntoDCarriesBothChannelsAmountAndLink)
{
    amount (ParameterTable::diffIndex (0)) = 0.3;
    amount (ParameterTable::linkIndex (0)) = 1.0;
    ASSERT_FLOAT_EQ (raw (ParameterTable::diffIndex (0)), 0.3f);

    QuorilAudioProcessor before;
    ensureSettingsRecords (before);
    before.granulizerSettings = p.granulizerSettings;
    before.resonatorSettings = p.resonatorSettings;

    p.copyPoleSettings (0);
    p.pastePoleSettings (3);
    p.pastePoleSettings (1);

    EXPECT_TRUE (samePole (p, 3, before, 0));
    EXPECT_TRUE (samePole (p, 1, before, 0));
    EXPECT_TRUE (samePole (p, 0, before, 0));
    EXPECT_TRUE (samePole (p, 2, before, 2));
    EXPECT_FLOAT_EQ (p.resonatorSettings[3][1].freq, 101.0f) << "channel 1 keeps its own record";

    // The amounts reach the parameters themselves, not only the tree.
    for (int pole : { 1, 3 })
    {
        EXPECT_FLOAT_EQ (raw (ParameterTable::diffIndex (pole)), 0.3f);
        EXPECT_EQ (raw (ParameterTable::linkIndex (pole)), 1.0f);
    }
    EXPECT_FLOAT_EQ (raw (ParameterTable::diffIndex (2)), 0.5f);
    EXPECT_EQ (raw (ParameterTable::linkIndex (2)), 0.0f);
}

TEST_F (PoleClipboardTest, PasteIntoTheSamePoleRestoresTheCopy)
{
    amount (ParameterTable::diffIndex (1)) = 0.8;
    p.copyPoleSettings (1);
    const auto copied = p.granulizerSettings[1];
    const auto copiedFeed = p.resonatorSettings[1][0].feed;

    p.granulizerSettings[1][1].speed = 1.9f;
    p.resonatorSettings[1][0].feed = copiedFeed + 0.05f;
    amount (ParameterTable::diffIndex (1)) = 0.2;
    amount (ParameterTable::linkIndex (1)) = 1.0;

    p.pastePoleSettings (1);
    EXPECT_TRUE (sameRecord (p.granulizerSettings[1][1], copied[1]));
    EXPECT_EQ (p.resonatorSettings[1][0].feed, copiedFeed);
    EXPECT_FLOAT_EQ (raw (ParameterTable::diffIndex (1)), 0.8f);
    EXPECT_EQ (raw (ParameterTable::linkIndex (1)), 0.0f);
    EXPECT_EQ (p.granulizerSettings[1].size(), 2u);
}

// A loaded document can leave a parameter's node without a value; the copy then takes the
// parameter's live value rather than zero.
TEST_F (PoleClipboardTest, CopyOfAnAmountWithoutTreeValueTakesTheLiveValue)
{
    auto node = p.parameters.state.getChildWithProperty ("id", "pole_c_diff");
    ASSERT_TRUE (node.isValid());
    node.removeProperty ("value", nullptr);
    ASSERT_FLOAT_EQ (raw (ParameterTable::diffIndex (2)), 0.5f);

    amount (ParameterTable::diffIndex (0)) = 0.9;
    p.copyPoleSettings (2);
    p.pastePoleSettings (0);
    EXPECT_FLOAT_EQ (raw (ParameterTable::diffIndex (0)), 0.5f);
}
