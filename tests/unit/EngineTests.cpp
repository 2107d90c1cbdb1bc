#include <gtest/gtest.h>

#include "reference/ReferenceEngine.h"
#include "support/EngineTestSupport.h"
#include "engine/CpuFeatures.h"

namespace
{
std::vector<int> delaysOf (const Diffuser& d) { return { d.stages[0].delay, d.stages[1].delay, d.stages[2].delay }; }
} // namespace

TEST (Granulizer, WindowTablesAndRedrawRules)
{
    Granulizer g;
    EXPECT_TRUE (g.windowTable[0] == 0.0f && g.windowTable[1024] == 1.0f && g.windowTable[2047] == 0.0009765625f);
    EXPECT_TRUE (g.hannTable[0] == 0.0f && g.hannTable[2047] == 0.0f && g.hannTable[100] == g.hannTable[1947]);
    EXPECT_FLOAT_EQ (g.hannTable[1023], 0.99999941f);

    // Only density, size and the three jitters redraw the grains (NaN differs from itself).
    GranulizerSettings s;
    g.setParameters (s);
    EXPECT_FALSE (g.grains[0].pending);
    const std::pair<std::function<void (GranulizerSettings&)>, bool> changes[] = {
        { [] (auto& r) { r.speed = 1.5f; }, false },  { [] (auto& r) { r.envelope = 2; }, false },
        { [] (auto& r) { r.outGain = 0.5f; }, false }, { [] (auto& r) { r.freeze = true; }, false },
        { [] (auto& r) { r.density = 9; }, true },     { [] (auto& r) { r.size = 800.0f; }, true },
        { [] (auto& r) { r.sizeRnd = 0.1f; }, true },  { [] (auto& r) { r.speedRnd = 0.1f; }, true },
        { [] (auto& r) { r.ampRnd = 0.3f; }, true },   { [] (auto& r) { r.size = std::nanf (""); }, true },
        { [] (auto&) {}, true },
    };
    for (const auto& [change, redraws] : changes)
    {
        for (auto& grain : g.grains)
            grain.pending = false;
        change (s);
        g.setParameters (s);
        EXPECT_EQ (g.grains[0].pending, redraws);
        EXPECT_FALSE (g.grains[s.density].pending) << "only slots below density are drawn";
    }
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
        EXPECT_TRUE (grain.newStart >= 0 && grain.newStart < g.bufferLength - 2000);
        EXPECT_TRUE (grain.newLength <= 2000 && grain.newLength >= 2000 - (int) (0.25f * 1559.0f) - 1);
        EXPECT_TRUE (std::abs (grain.rateOffset) <= 0.25f && grain.amplitude >= 0.0f && grain.amplitude <= 1.0f);
    }

    // At 441 samples lengths do not spread whatever the jitter; below it they only grow.
    for (float size : { 441.0f, 300.0f })
    {
        s.size = size;
        g.setParameters (s);
        for (const auto& grain : g.grains)
            EXPECT_TRUE (size == 441.0f ? grain.newLength == 441 : grain.newLength >= 300);
    }
}

// The sample path, the block path (eight and four lanes) and the literal arithmetic agree: short
// rings that read where the block records, odd densities and density 0, a negative speed, steps
// that wrap, the ramp window, a freeze and an envelope change half-way.
TEST (Granulizer, SampleBlockAndLiteralPathsAgree)
{
    struct Case { int density, ringLength; float size, speed; int envelope; };
    const Case cases[] = { { 12, 176400, 3000.0f, 1.3f, 2 }, { 16, 2000, 900.0f, 0.7f, 2 }, { 64, 3000, 1400.0f, 1.9f, 2 },
                           { 8, 1000, 999.0f, 1.0f, 1 },     { 8, 5000, 700.0f, -0.6f, 2 }, { 3, 4000, 3000.0f, 1.0f, 1 },
                           { 0, 1000, 500.0f, 1.0f, 2 },     { 2, 100, 99.0f, 7.5f, 1 } };

    for (bool wide : { true, false })
        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (wide ? "eight lanes, density " : "four lanes, density ") + juce::String (c.density));
            quoril::engine::allowAvx2 = wide;
            juce::Random random (7);
            Granulizer a;
            a.bufferLength = c.ringLength;
            GranulizerSettings s { c.density, c.envelope, c.size, c.speed, 0.2f, 0.3f, 0.5f };
            a.setParameters (s);
            Granulizer b (a), r (a);

            std::vector<float> in (6000), outA (in.size()), outB (in.size());
            for (auto& x : in)
                x = random.nextFloat() - 0.5f;

            for (size_t start = 0; start < in.size(); start += 500)
            {
                if (start == 3000)
                {
                    s.freeze = true;
                    s.envelope = 3 - c.envelope;
                    for (auto* g : { &a, &b, &r })
                        g->setParameters (s);
                }
                for (size_t i = start; i < start + 500; ++i)
                    outA[i] = a.processSample (in[i]);
                b.processBlock (in.data() + start, outB.data() + start, 500);
                for (size_t i = start; i < start + 500; ++i)
                {
                    ASSERT_EQ (outA[i], outB[i]) << i;
                    ASSERT_EQ (outA[i], reference::granulizerSample (r, in[i])) << i;
                }
            }
            EXPECT_TRUE (a.writeIndex == 3000 % c.ringLength && b.writeIndex == a.writeIndex) << "frozen half-way";
            for (int k = 0; k < Granulizer::maxGrains; ++k)
                EXPECT_TRUE (a.grains[k].pos == b.grains[k].pos && a.grains[k].start == b.grains[k].start && a.grains[k].pending == b.grains[k].pending) << k;
        }
    quoril::engine::allowAvx2 = true;
}

TEST (Diffuser, SampleAndBlockPathsAgreeWithTheLiteralArithmetic)
{
    auto make = []
    {
        Diffuser d;
        d.configure (26.1f, ::powf (1.26f, 2.0f));
        d.prepare (44100.0);
        return d;
    };

    for (auto [feed, damp] : { std::pair { 0.0f, 1.0f }, std::pair { 0.7f, 0.7f }, std::pair { 0.5f, 0.0f } })
    {
        auto a = make(), b = make(), r = make();
        for (auto* d : { &a, &b, &r })
            d->feed = feed, d->damp = damp;
        juce::Random random (5);
        std::vector<float> io (3000), expected (io.size());
        for (size_t i = 0; i < io.size(); ++i)
        {
            io[i] = random.nextFloat() - 0.5f;
            expected[i] = reference::diffuserStep (r, io[i]);
            ASSERT_EQ (a.processSample (io[i]), expected[i]) << i;
        }
        for (size_t start = 0; start < io.size(); start += 500)
            b.processBlock (io.data() + start, 500);
        for (size_t i = 0; i < io.size(); ++i)
            ASSERT_EQ (io[i], expected[i]) << i;
    }

    // A delay longer than the line wraps around it.
    AllpassDelay stage, literal;
    for (auto* s : { &stage, &literal })
        s->buffer.setSize (1, 8), s->buffer.clear(), s->gain = 0.5f, s->delay = 26;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ (stage.processSample ((float) (i + 1)), reference::allpassSample (literal, (float) (i + 1))) << i;
}

TEST (EnginePreparation, DelaysAndRingLengthsFollowTheRate)
{
    QuorilAudioProcessor p;
    EXPECT_EQ (delaysOf (*p.diffusers[0]), (std::vector<int> { 1146, 1444, 1820 }));
    EXPECT_EQ (delaysOf (*p.diffusers[1]), (std::vector<int> { 1151, 1450, 1827 }));
    p.granulizers[0][0].grains[0].length = 441;
    p.granulizers[0][0].grains[0].invLength = 1.0f / 441.0f;

    struct Step { double rate; int ringLength; std::vector<int> left, right; int grainLength; };
    const Step steps[] = { { 44100.0, 176400, { 1146, 1444, 1820 }, { 1151, 1450, 1827 }, 441 },
                           { 48000.0, 192001, { 1248, 1572, 1981 }, { 1253, 1579, 1989 }, 481 },
                           { 48000.0, 192001, { 1248, 1572, 1981 }, { 1253, 1579, 1989 }, 481 }, // same rate: kept
                           { 44100.0, 176401, { 1147, 1445, 1821 }, { 1152, 1451, 1828 }, 442 } }; // rescaled anew
    for (const auto& s : steps)
    {
        SCOPED_TRACE (s.rate);
        p.prepareToPlay (s.rate, 512);
        for (const auto& pole : p.granulizers)
            for (const auto& g : pole)
                ASSERT_TRUE (g.bufferLength == s.ringLength && g.buffer.getNumSamples() >= s.ringLength);
        EXPECT_EQ (delaysOf (*p.diffusers[0]), s.left);
        EXPECT_EQ (delaysOf (*p.diffusers[1]), s.right);
        EXPECT_EQ (p.granulizers[0][0].grains[0].length, s.grainLength);
        EXPECT_EQ (p.granulizers[0][0].grains[0].invLength, 1.0f / (float) s.grainLength);
    }

    for (auto [rate, length] : { std::pair { 88200.0, 352801 }, std::pair { 96000.0, 384001 } })
    {
        QuorilAudioProcessor q;
        q.prepareToPlay (rate, 512);
        EXPECT_EQ (q.granulizers[2][1].bufferLength, length);
    }
}

TEST (EnginePreparation, ClearsTheSignalMemoryButKeepsPlayPositions)
{
    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    juce::Random noise (3);
    enginetest::runBlocks (p, 4, 512, noise);

    auto& g = p.granulizers[2][1];
    ASSERT_NE (g.writeIndex, 0);
    g.grains[3].start = 77;
    g.grains[3].pos = 123.0f;
    p.resonatorStates[1][0].allpassStates[4] = p.dcBlockers[1].previousOutput = 0.5;
    p.resonatorStates[1][0].lastOut = 0.5f;
    p.diffusers[0]->lastOut = p.diffusers[0]->feedbackState = 0.1f;

    p.prepareToPlay (44100.0, 512);
    EXPECT_TRUE (g.writeIndex == 0 && g.buffer.getMagnitude (0, 0, g.bufferLength) == 0.0f && g.grains[3].start == 0);
    EXPECT_EQ (g.grains[3].pos, 123.0f);
    EXPECT_TRUE (p.resonatorStates[1][0].allpassStates[4] == 0.0 && p.resonatorStates[1][0].lastOut == 0.0f && p.dcBlockers[1].previousOutput == 0.0);
    EXPECT_TRUE (p.diffusers[0]->lastOut + p.diffusers[0]->feedbackState == 0.0f && p.diffusers[0]->stages[2].buffer.getMagnitude (0, 0, 44100) == 0.0f);
    EXPECT_NEAR (p.dcBlockers[0].coefficient, 0.99715048, 1e-8);
}

TEST (ParameterRamps, StepCountsAcrossBlocksAndRetargeting)
{
    for (auto [rate, steps] : { std::pair { 44100.0, 2646 }, std::pair { 48000.0, 2880 } })
    {
        ParameterRamp ramp (0.5f);
        ramp.prepare (rate, 0.06, 512);
        int reachedAt = -1, counted = 0;
        float previous = 0.5f;
        for (int block = 0; block < 8; ++block)
        {
            ramp.process (1.0f, 512);
            for (int i = 0; i < 512; ++i, ++counted)
            {
                EXPECT_GE (ramp.values()[i], previous);
                previous = ramp.values()[i];
                if (previous == 1.0f && reachedAt < 0)
                    reachedAt = counted + 1;
            }
        }
        EXPECT_EQ (reachedAt, steps) << rate;
    }

    // The same target goes on with the ramp; a new one turns back from where it is; a
    // preparation ends a ramp at its target; before any preparation a target is taken at once.
    ParameterRamp ramp (0.0f);
    ramp.prepare (44100.0, 0.06, 64);
    ramp.process (1.0f, 10);
    ramp.process (1.0f, 1);
    EXPECT_FLOAT_EQ (ramp.values()[0], 11.0f / 2646.0f);
    ramp.process (0.0f, 1);
    EXPECT_LT (ramp.values()[0], 11.0f / 2646.0f);
    ramp.prepare (44100.0, 0.06, 64);
    EXPECT_EQ (ramp.smoother.getCurrentValue(), 0.0f);
    ParameterRamp fresh (0.5f);
    fresh.process (1.0f, 4);
    EXPECT_EQ (fresh.values()[0], 1.0f);
}

TEST (Resonator, CoefficientsForTheRate)
{
    const std::pair<float, float> rows[] = { { 80.0f, 0.99274379f }, { 220.0f, 0.98004538f }, { 960.0f, 0.91292518f },
                                             { 11025.0f, 0.0f },     { 20000.0f, 0.0f },       { -5.0f, 1.0f },
                                             { std::nanf (""), 0.0f } };
    for (auto [freq, coefficient] : rows)
        EXPECT_EQ (quoril::engine::resonatorCoefficient (freq, 44100.0), coefficient) << freq;
}
