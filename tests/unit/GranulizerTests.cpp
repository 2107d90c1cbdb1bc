#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"
#include "engine/CpuFeatures.h"

namespace
{
// One grain on a segment that starts at 0: with size = bufferLength - 1 every drawn start is 0
// and, without size jitter, every length is int(size).
Granulizer makePinnedGranulizer (float speed = 1.0f, int envelope = 2, int bufferLength = 1000)
{
    Granulizer g;
    g.bufferLength = bufferLength;

    GranulizerSettings s;
    s.density = 1;
    s.envelope = envelope;
    s.size = (float) (bufferLength - 1);
    s.speed = speed;
    g.setParameters (s);
    return g;
}

float windowAt (const Granulizer& g, float pos, int start)
{
    const float phase = juce::jlimit (0.0f, 1.0f, (pos - (float) start) * g.grains[0].invLength);
    return g.windowTable[(int) (phase * 2047.0f)];
}
} // namespace

TEST (Granulizer, WindowTables)
{
    Granulizer g;
    EXPECT_EQ (g.windowTable[0], 0.0f);
    EXPECT_EQ (g.windowTable[1], 0.0009765625f);
    EXPECT_EQ (g.windowTable[1023], 1023.0f * 0.0009765625f);
    EXPECT_EQ (g.windowTable[1024], 1.0f);
    EXPECT_EQ (g.windowTable[2047], 0.0009765625f);

    EXPECT_EQ (g.hannTable[0], 0.0f);
    EXPECT_EQ (g.hannTable[2047], 0.0f);
    EXPECT_FLOAT_EQ (g.hannTable[1023], 0.99999941f);
    EXPECT_EQ (g.hannTable[512], (1.0f - (float) std::cos (512.0 * 6.283185307179586 / 2047.0)) * 0.5f);
    EXPECT_EQ (g.hannTable[100], g.hannTable[1947]);
}

TEST (Granulizer, EnvelopeTwoInstallsTheHannWindowForGood)
{
    Granulizer g;
    GranulizerSettings s;
    s.envelope = 1;
    g.setParameters (s);
    g.processSample (0.0f);
    EXPECT_EQ (g.windowTable[1024], 1.0f) << "envelope 1 keeps the ramp window";
    EXPECT_FALSE (g.windowHoldsHann());

    s.envelope = 2;
    g.setParameters (s);
    g.processSample (0.0f);
    EXPECT_TRUE (g.windowHoldsHann());
    EXPECT_EQ (0, std::memcmp (g.windowTable, g.hannTable, sizeof (g.windowTable)));

    // Other values keep whatever the table holds: the Hann window from now on.
    s.envelope = 0;
    g.setParameters (s);
    g.processSample (0.0f);
    EXPECT_EQ (0, std::memcmp (g.windowTable, g.hannTable, sizeof (g.windowTable)));

    // A copy carries the table and the flag.
    Granulizer copy (g);
    EXPECT_TRUE (copy.windowHoldsHann());
    EXPECT_EQ (copy.windowTable[700], g.hannTable[700]);
}

TEST (Granulizer, RedrawsOnlyWhenDensitySizeOrAJitterChanges)
{
    Granulizer g;
    GranulizerSettings s;
    g.setParameters (s); // the same as constructed: no redraw
    EXPECT_FALSE (g.grains[0].pending);

    auto expectRedraw = [&] (auto change, bool redraws)
    {
        for (auto& grain : g.grains)
            grain.pending = false;

        change (s);
        g.setParameters (s);
        EXPECT_EQ (g.grains[0].pending, redraws);
        EXPECT_FALSE (g.grains[s.density].pending) << "only slots below density are drawn";
    };

    expectRedraw ([] (auto& r) { r.speed = 1.5f; }, false);
    expectRedraw ([] (auto& r) { r.envelope = 2; }, false);
    expectRedraw ([] (auto& r) { r.outGain = 0.5f; }, false);
    expectRedraw ([] (auto& r) { r.freeze = true; }, false);
    expectRedraw ([] (auto& r) { r.density = 9; }, true);
    expectRedraw ([] (auto& r) { r.size = 800.0f; }, true);
    expectRedraw ([] (auto& r) { r.sizeRnd = 0.1f; }, true);
    expectRedraw ([] (auto& r) { r.speedRnd = 0.1f; }, true);
    expectRedraw ([] (auto& r) { r.ampRnd = 0.3f; }, true);
    expectRedraw ([] (auto& r) { r.size = std::numeric_limits<float>::quiet_NaN(); }, true);
    expectRedraw ([] (auto&) {}, true); // NaN differs from NaN
    EXPECT_EQ (g.settings.speed, 1.5f);
    EXPECT_TRUE (g.settings.freeze);
}

TEST (Granulizer, DrawnSegmentsLieInsideTheRing)
{
    Granulizer g;
    GranulizerSettings s;
    s.density = 64;
    s.size = 2000.0f;
    s.sizeRnd = 0.25f;
    s.speedRnd = 0.5f;
    s.ampRnd = 1.0f;
    g.setParameters (s);

    for (const auto& grain : g.grains)
    {
        EXPECT_TRUE (grain.pending);
        EXPECT_GE (grain.newStart, 0);
        EXPECT_LT (grain.newStart, g.bufferLength - 2000);
        EXPECT_LE (grain.newLength, 2000);
        EXPECT_GE (grain.newLength, 2000 - (int) (0.25f * 1559.0f) - 1);
        EXPECT_LE (std::abs (grain.rateOffset), 0.25f);
        EXPECT_GE (grain.amplitude, 0.0f);
        EXPECT_LE (grain.amplitude, 1.0f);
    }

    // Size 441: no spread whatever the jitter; below 441 lengths grow.
    s.size = 441.0f;
    g.setParameters (s);
    for (const auto& grain : g.grains)
        EXPECT_EQ (grain.newLength, 441);

    s.size = 300.0f;
    g.setParameters (s);
    for (const auto& grain : g.grains)
        EXPECT_GE (grain.newLength, 300);
}

TEST (Granulizer, PinnedGrainReplaysTheInputThroughTheWindow)
{
    auto g = makePinnedGranulizer (0.5f);
    EXPECT_EQ (g.grains[0].newStart, 0);
    EXPECT_EQ (g.grains[0].newLength, 999);

    // First sample: the constructed one-sample segment plays, then the new segment is installed
    // at once because the granulizer was just built.
    EXPECT_EQ (g.processSample (0.0f), 0.0f);
    EXPECT_EQ (g.grains[0].start, 0);
    EXPECT_EQ (g.grains[0].length, 999);
    EXPECT_FALSE (g.grains[0].pending);
    EXPECT_EQ (g.retrigger, 0);

    // Input t * 0.001 at sample t; the grain reads half a sample further at every step.
    for (int t = 1; t < 600; ++t)
    {
        const float pos = g.grains[0].pos;
        EXPECT_EQ (pos, 0.5f * (float) (t - 1));
        const float w = windowAt (g, pos, 0);
        const int i = (int) pos;
        const float a = (float) i * 0.001f;
        const float b = (float) (i + 1) * 0.001f;
        const float expected = ((b - a) * (pos - (float) i) + a) * (w * 1.0f);
        ASSERT_EQ (g.processSample ((float) t * 0.001f), expected) << t;
    }
}

TEST (Granulizer, RedrawTakesOverAtTheNextWrapAndSpeedAppliesAtOnce)
{
    auto g = makePinnedGranulizer (1.0f);
    for (int t = 0; t < 10; ++t)
        g.processSample (1.0f);

    auto s = g.settings;
    s.ampRnd = 0.5f;
    s.speed = 2.0f;
    g.setParameters (s);
    EXPECT_TRUE (g.grains[0].pending);
    EXPECT_GE (g.grains[0].amplitude, 0.5f);

    const float before = g.grains[0].pos;
    g.processSample (1.0f);
    EXPECT_EQ (g.grains[0].pos, before + 2.0f);
    EXPECT_TRUE (g.grains[0].pending) << "no take-over before the wrap";

    int steps = 0;
    while (g.grains[0].pending && steps++ < 1000)
        g.processSample (1.0f);

    EXPECT_FALSE (g.grains[0].pending);
    EXPECT_EQ (g.grains[0].pos, 0.0f) << "the new segment starts at its start";
}

TEST (Granulizer, FreezeDensityZeroAndOutputGain)
{
    auto g = makePinnedGranulizer();
    for (int t = 0; t < 300; ++t)
        g.processSample (0.25f);

    // Freeze: nothing is recorded, the grain goes on playing.
    auto s = g.settings;
    s.freeze = true;
    g.setParameters (s);
    const int frozenWriteIndex = g.writeIndex;
    float sum = 0.0f;
    for (int t = 0; t < 100; ++t)
        sum += std::abs (g.processSample (-1.0f));
    EXPECT_EQ (g.writeIndex, frozenWriteIndex);
    EXPECT_EQ (g.buffer.getSample (0, frozenWriteIndex), 0.0f);
    EXPECT_GT (sum, 0.0f);

    // Output gain scales the sum, 0 silences it while the grain moves on.
    s.freeze = false;
    s.outGain = 0.0f;
    g.setParameters (s);
    const float pos = g.grains[0].pos;
    EXPECT_EQ (g.processSample (0.5f), 0.0f);
    EXPECT_EQ (g.grains[0].pos, pos + 1.0f);

    // Density 0: silence, but the input is still recorded.
    s.outGain = 1.0f;
    s.density = 0;
    g.setParameters (s);
    const int w = g.writeIndex;
    EXPECT_EQ (g.processSample (0.75f), 0.0f);
    EXPECT_EQ (g.buffer.getSample (0, w), 0.75f);
}

TEST (Granulizer, ReadAtTheLastIndexPairsWithTheFirstSample)
{
    Granulizer g;
    g.bufferLength = 100;
    g.settings.density = 1;
    g.settings.envelope = 1;
    g.retrigger = 0;
    g.settings.freeze = true;
    auto& grain = g.grains[0];
    grain.start = 0;
    grain.length = 99;
    grain.invLength = 1.0f / 99.0f;
    grain.pos = 99.0f; // the last index, outside the segment: plays once, then wraps
    g.buffer.setSample (0, 99, 0.5f);
    g.buffer.setSample (0, 0, 0.25f);

    const float w = windowAt (g, 99.0f, 0);
    EXPECT_EQ (g.processSample (0.0f), 0.5f * w);
    EXPECT_EQ (grain.pos, 1.0f); // (100 - 99) + 0

    // A position beyond the ring restarts from index 0.
    grain.pos = 150.0f;
    const float w2 = g.windowTable[2047];
    EXPECT_EQ (g.processSample (0.0f), 0.25f * w2);
    EXPECT_EQ (grain.lastPos, 0.0f);
}

TEST (Granulizer, GrainReachingTheEndOfTheRingIsSkippedAndTheRestPlays)
{
    Granulizer g;
    g.bufferLength = 100;
    g.settings.density = 2;
    g.settings.envelope = 1;
    g.settings.outGain = 2.0f;
    g.settings.freeze = true;

    for (int i = 0; i < 100; ++i)
        g.buffer.setSample (0, i, 1.0f);

    g.grains[0].start = 10;
    g.grains[0].length = 90; // 10 + 90 reaches the end
    g.grains[0].pos = 20.0f;
    g.grains[1].start = 0;
    g.grains[1].length = 50;
    g.grains[1].invLength = 1.0f / 50.0f;
    g.grains[1].pos = 25.0f;

    const float w = g.windowTable[(int) ((25.0f * (1.0f / 50.0f)) * 2047.0f)];
    EXPECT_EQ (g.processSample (0.0f), (1.0f * (w * 1.0f)) * 2.0f);
    EXPECT_EQ (g.grains[0].pos, 20.0f) << "the skipped grain does not move";
    EXPECT_EQ (g.grains[1].pos, 26.0f);
    EXPECT_EQ (g.retrigger, 0);

    // It cannot wrap, so a segment drawn for it replaces it at once (silently for that sample).
    g.grains[0].pending = true;
    g.grains[0].newStart = 5;
    g.grains[0].newLength = 40;
    g.processSample (0.0f);
    EXPECT_FALSE (g.grains[0].pending);
    EXPECT_EQ (g.grains[0].start, 5);
    EXPECT_EQ (g.grains[0].pos, 5.0f);
}

TEST (Granulizer, BlockProcessingMatchesSampleProcessing)
{
    struct Case
    {
        int density, ringLength;
        float size, speed;
    };

    // Short rings make grains read where the block is recording; densities that are and are not
    // whole groups of four and eight; a negative speed; a freeze half-way.
    const Case cases[] = { { 12, 176400, 3000.0f, 1.3f }, { 16, 2000, 900.0f, 0.7f }, { 64, 3000, 1400.0f, 1.9f },
                           { 8, 1000, 999.0f, 1.0f }, { 8, 5000, 700.0f, -0.6f }, { 3, 4000, 3000.0f, 1.0f } };

    for (bool wide : { true, false })
    {
        quoril::engine::allowAvx2 = wide;

        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (wide ? "eight lanes, " : "four lanes, ") + "density " + juce::String (c.density)
                          + ", ring " + juce::String (c.ringLength));
            juce::Random random (7);
            Granulizer a;
            a.bufferLength = c.ringLength;
            GranulizerSettings s;
            s.density = c.density;
            s.envelope = 2;
            s.size = c.size;
            s.speed = c.speed;
            s.sizeRnd = 0.2f;
            s.speedRnd = 0.3f;
            s.ampRnd = 0.5f;
            a.setParameters (s);
            Granulizer b (a);

            std::vector<float> in (6000), outA (in.size()), outB (in.size());
            for (auto& x : in)
                x = random.nextFloat() - 0.5f;

            for (size_t start = 0; start < in.size(); start += 500)
            {
                if (start == 3000)
                {
                    s.freeze = true;
                    a.setParameters (s);
                    b.setParameters (s);
                }

                for (size_t i = start; i < start + 500; ++i)
                    outA[i] = a.processSample (in[i]);

                b.processBlock (in.data() + start, outB.data() + start, 500);
            }

            for (size_t i = 0; i < in.size(); ++i)
                ASSERT_EQ (outA[i], outB[i]) << i;

            for (int k = 0; k < Granulizer::maxGrains; ++k)
            {
                EXPECT_EQ (a.grains[k].pos, b.grains[k].pos);
                EXPECT_EQ (a.grains[k].lastPos, b.grains[k].lastPos);
                EXPECT_EQ (a.grains[k].start, b.grains[k].start);
                EXPECT_EQ (a.grains[k].pending, b.grains[k].pending);
            }
            EXPECT_EQ (a.writeIndex, b.writeIndex);
        }
    }

    quoril::engine::allowAvx2 = true;
}
