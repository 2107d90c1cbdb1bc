#include "PresetTestSupport.h"

#include <cmath>
#include <cstdlib>

using namespace quoril::test;

namespace
{
bool within (float v, float lo, float hi) { return v >= lo && v <= hi; }
// A draw is one of the 32768 steps 0/32767 .. 32767/32767; a wider runtime generator gives
// its top 15 bits.
float unitOf (int drawn) { return (float) (int) (drawn / ((RAND_MAX + 1LL) / 32768)) / 32767.0f; }
bool onDrawGrid (float v) { const double steps = (double) v * 32767.0; return std::abs (steps - std::round (steps)) < 1.0e-3; }

struct RandomSettings : ::testing::Test
{
    void SetUp() override { ensureSettingsRecords (p); }
    QuorilAudioProcessor p;
};
} // namespace

TEST_F (RandomSettings, StayInTheirRangesAndUseBothRangesOfEachCoin)
{
    p.sampleRate = 48000.0;

    for (auto& pole : p.granulizerSettings)
        for (auto& r : pole) { r.outGain = 0.25f; r.freeze = true; }

    p.diffuserSettings[0].damp = 0.3f;
    p.diffuserSettings[1].damp = 0.6f;

    int shortSizes = 0, narrowSpeeds = 0, fineJitters = 0, records = 0;
    std::srand (1234);

    for (int round = 0; round < 100; ++round)
    {
        p.randomizeSettings();

        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                const auto& g = p.granulizerSettings[pole][ch];
                const auto& r = p.resonatorSettings[pole][ch];
                ++records;

                EXPECT_EQ (g.density, 8);
                EXPECT_EQ (g.envelope, 2);
                EXPECT_EQ (g.outGain, 0.25f);
                EXPECT_TRUE (g.freeze);
                // Sizes are samples at the processor's rate: 20 ms .. 599 ms at 48 kHz.
                EXPECT_PRED3 (within, g.size, 960.0f - 0.01f, 28752.0f + 0.01f);
                EXPECT_PRED3 (within, g.speed, 0.5f, 2.0f);
                EXPECT_PRED3 (within, g.sizeRnd, 0.0f, 0.25f);
                EXPECT_PRED3 (within, g.ampRnd, 0.0f, 1.0f);
                EXPECT_PRED1 (onDrawGrid, g.ampRnd);
                EXPECT_PRED3 (within, g.speedRnd, 0.0f, 0.5f);
                EXPECT_PRED3 (within, r.freq, 80.0f, 960.0f);
                EXPECT_PRED3 (within, r.feed, 0.0f, 0.9f);

                shortSizes += g.size <= 4800.0f ? 1 : 0;
                narrowSpeeds += (g.speed >= 0.95f && g.speed <= 1.025f) ? 1 : 0;
                fineJitters += g.speedRnd <= 0.01f ? 1 : 0;
            }

        for (const auto& d : p.diffuserSettings)
            EXPECT_PRED3 (within, d.feed, 0.1f, 0.9f);
    }

    EXPECT_FLOAT_EQ (p.diffuserSettings[0].damp, 0.3f);
    EXPECT_FLOAT_EQ (p.diffuserSettings[1].damp, 0.6f);

    // Each coin picks either range about half the time.
    for (int count : { shortSizes, narrowSpeeds, fineJitters })
    {
        EXPECT_GT (count, records / 4);
        EXPECT_LT (count, records * 3 / 4);
    }
}

// The generator's sequence is consumed in a fixed order: ten draws per channel, channel 0 then
// channel 1, poles A to D, then the two diffusers.
TEST_F (RandomSettings, DrawOrder)
{
    constexpr unsigned seed = 987;
    std::srand (seed);
    std::vector<int> drawn (82);
    for (auto& d : drawn)
        d = std::rand();

    std::srand (seed);
    p.randomizeSettings();

    for (size_t pole = 0; pole < 4; ++pole)
    {
        for (size_t ch = 0; ch < 2; ++ch)
        {
            SCOPED_TRACE (testing::Message() << "pole " << pole << " channel " << ch);
            const auto* r = drawn.data() + pole * 20 + ch * 10;
            const auto& g = p.granulizerSettings[pole][ch];
            const auto& res = p.resonatorSettings[pole][ch];

            EXPECT_FLOAT_EQ (res.freq, 80.0f + 880.0f * unitOf (r[0]));
            EXPECT_FLOAT_EQ (res.feed, 0.9f * unitOf (r[1]));

            const float sizeMs = unitOf (r[2]) > 0.5f ? 20.0f + 80.0f * unitOf (r[3])
                                                       : 100.0f + 499.0f * unitOf (r[3]);
            EXPECT_FLOAT_EQ (g.size, (float) ((double) (sizeMs * 0.001f) * 44100.0));

            const float speed = unitOf (r[4]) > 0.5f ? 0.95f + (1.025f - 0.95f) * unitOf (r[5])
                                                      : 0.5f + 1.5f * unitOf (r[5]);
            EXPECT_FLOAT_EQ (g.speed, speed);
            EXPECT_FLOAT_EQ (g.sizeRnd, 0.25f * unitOf (r[6]));
            EXPECT_EQ (g.ampRnd, unitOf (r[7]));

            const float speedJitter = unitOf (r[8]) > 0.5f ? 0.01f * unitOf (r[9]) : 0.5f * unitOf (r[9]);
            EXPECT_FLOAT_EQ (g.speedRnd, speedJitter);
        }
    }

    EXPECT_FLOAT_EQ (p.diffuserSettings[0].feed, 0.1f + 0.8f * unitOf (drawn[80]));
    EXPECT_FLOAT_EQ (p.diffuserSettings[1].feed, 0.1f + 0.8f * unitOf (drawn[81]));
}

TEST_F (RandomSettings, SameSeedGivesTheSameSettings)
{
    QuorilAudioProcessor other;
    ensureSettingsRecords (other);

    std::srand (55);
    p.randomizeSettings();
    std::srand (55);
    other.randomizeSettings();

    for (int pole = 0; pole < 4; ++pole)
        EXPECT_TRUE (samePole (p, pole, other, pole)) << pole;

    EXPECT_EQ (p.diffuserSettings[1].feed, other.diffuserSettings[1].feed);

    // The two channels of a pole draw independently.
    EXPECT_NE (p.resonatorSettings[0][0].freq, p.resonatorSettings[0][1].freq);
}

TEST_F (RandomSettings, OnePoleChangesOnlyThatPole)
{
    QuorilAudioProcessor before;
    ensureSettingsRecords (before);
    before.granulizerSettings = p.granulizerSettings;
    before.resonatorSettings = p.resonatorSettings;
    const auto feeds = std::make_pair (p.diffuserSettings[0].feed, p.diffuserSettings[1].feed);

    p.randomizePole (-1);
    p.randomizePole (4);
    for (int pole = 0; pole < 4; ++pole)
        EXPECT_TRUE (samePole (p, pole, before, pole)) << "out-of-range poles change nothing";

    p.randomizePole (2);

    for (int pole : { 0, 1, 3 })
        EXPECT_TRUE (samePole (p, pole, before, pole)) << pole;

    for (size_t ch = 0; ch < 2; ++ch)
        EXPECT_NE (p.resonatorSettings[2][ch].freq, before.resonatorSettings[2][ch].freq) << ch;

    EXPECT_EQ (p.diffuserSettings[0].feed, feeds.first);
    EXPECT_EQ (p.diffuserSettings[1].feed, feeds.second);
}
