#include <gtest/gtest.h>

#include "reference/ReferenceEngine.h"
#include "support/EngineTestSupport.h"
#include "engine/CpuFeatures.h"
#include "engine/FastSine.h"
#include "engine/PoleBank.h"

// The optimised processBlock against the plain sample-by-sample arithmetic: bit for bit with the
// runtime's sine, and within 3e-5 with the block sine.
namespace
{
struct PreciseSine
{
    explicit PreciseSine (bool on) { quoril::engine::usePreciseSine = on; }
    ~PreciseSine() { quoril::engine::usePreciseSine = false; }
};

enum class Config
{
    pinnedSingleGrain,
    generatedDensity8,
    busyDensity64
};

void configure (QuorilAudioProcessor& p, Config config)
{
    juce::Random random (2024);

    if (config == Config::pinnedSingleGrain)
    {
        // One grain per pole, no jitter, every segment starting at 0: on a ring shortened to 4000
        // samples the grain loops over the whole ring, one sample behind the input.
        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                p.granulizers[pole][ch].bufferLength = 4000;
                auto& g = p.granulizerSettings[pole][ch];
                g = GranulizerSettings {};
                g.density = 1;
                g.envelope = 2;
                g.size = 3999.0f;
                g.speed = 1.0f;
                p.resonatorSettings[pole][ch] = { 80.0f + 200.0f * (float) pole + 10.0f * (float) ch, 0.9f };
            }

        p.diffuserSettings[0].feed = p.diffuserSettings[1].feed = 0.5f;
        return;
    }

    enginetest::applyAudibleSettings (p, random, config == Config::generatedDensity8 ? 8 : 64);

    if (config == Config::busyDensity64)
    {
        enginetest::setParameter (p, "trajectory", 1.0f);
        enginetest::setParameter (p, "x_traj_amount", 0.9f);
        enginetest::setParameter (p, "stereo_link_b", 1.0f);
        enginetest::setParameter (p, "dry_wet", 0.8f);
        enginetest::setParameter (p, "pole_c_diff", 0.9f);
        p.resonatorSettings[3][1].feed = 0.99f; // the loudest resonance the engine allows
    }
}

// Runs the processor and the reference side by side; returns the largest difference seen.
float compare (Config config, bool preciseSine, int numBlocks, int blockSize = 512)
{
    PreciseSine sineMode (preciseSine);
    QuorilAudioProcessor p;
    p.prepareToPlay (48000.0, blockSize);
    configure (p, config);

    juce::Random noise (77);
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;

    // One block draws the grains; the reference starts from the state after it.
    enginetest::fillSignal (buffer, 0, noise);
    p.processBlock (buffer, midi);
    reference::ReferenceEngine ref (p);

    float maxDifference = 0.0f;
    float loudestLevel = 0.0f;

    for (int block = 1; block <= numBlocks; ++block)
    {
        // Parameter moves between blocks reach both sides.
        if (block % 40 == 0)
        {
            enginetest::setParameter (p, "x_pos", block % 80 == 0 ? 0.2f : 0.85f);
            enginetest::setParameter (p, "pole_a_diff", block % 80 == 0 ? 0.1f : 0.7f);
        }

        enginetest::fillSignal (buffer, block * blockSize, noise);
        juce::AudioBuffer<float> expected (buffer);
        ref.process (expected, p);
        p.processBlock (buffer, midi);
        loudestLevel = std::max (loudestLevel, ref.level);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
            {
                const float got = buffer.getSample (ch, i), want = expected.getSample (ch, i);

                if (preciseSine && got != want)
                {
                    ADD_FAILURE() << "block " << block << " channel " << ch << " sample " << i << ": " << got << " vs " << want;
                    return std::abs (got - want);
                }

                maxDifference = std::max (maxDifference, std::abs (got - want));
            }

        if (preciseSine)
        {
            EXPECT_EQ (p.outputLevel.load(), ref.level);
            EXPECT_EQ (p.currentX.load(), ref.currentX);
            EXPECT_EQ (p.dryWetValue, ref.dryWetValue);
        }
    }

    EXPECT_GT (loudestLevel, 1.0e-4f) << "the engine must be heard for the comparison to mean something";

    if (preciseSine)
    {
        for (size_t pole = 0; pole < 4; ++pole)
            for (size_t ch = 0; ch < 2; ++ch)
            {
                const auto& g = p.granulizers[pole][ch];
                const auto& r = ref.granulizers[pole][ch];
                for (int k = 0; k < Granulizer::maxGrains; ++k)
                {
                    EXPECT_EQ (g.grains[k].pos, r.grains[k].pos);
                    EXPECT_EQ (g.grains[k].start, r.grains[k].start);
                    EXPECT_EQ (g.grains[k].length, r.grains[k].length);
                }
                EXPECT_EQ (g.writeIndex, r.writeIndex);
                EXPECT_EQ (p.resonatorStates[pole][ch].allpassStates[3], ref.resonators[pole][ch].allpassStates[3]);
            }

        EXPECT_EQ (p.diffusers[1]->feedbackState, ref.diffusers[1].feedbackState);
        EXPECT_EQ (p.dcBlockers[0].previousOutput, ref.dcBlockers[0].previousOutput);
    }

    return maxDifference;
}
} // namespace

TEST (ReferenceComparison, BitExactWithTheRuntimeSine)
{
    EXPECT_EQ (compare (Config::pinnedSingleGrain, true, 120), 0.0f);
    EXPECT_EQ (compare (Config::generatedDensity8, true, 120), 0.0f);
    EXPECT_EQ (compare (Config::busyDensity64, true, 60), 0.0f);
    EXPECT_EQ (compare (Config::pinnedSingleGrain, true, 300, 37), 0.0f);

    // The four-lane grain path as well.
    quoril::engine::allowAvx2 = false;
    EXPECT_EQ (compare (Config::generatedDensity8, true, 60), 0.0f);
    EXPECT_EQ (compare (Config::busyDensity64, true, 30), 0.0f);
    quoril::engine::allowAvx2 = true;
}

TEST (ReferenceComparison, BlockSineStaysWithinTolerance)
{
    for (auto config : { Config::pinnedSingleGrain, Config::generatedDensity8, Config::busyDensity64 })
    {
        const float difference = compare (config, false, 200);
        EXPECT_LE (difference, 3.0e-5f) << (int) config;
        std::cout << "largest difference, configuration " << (int) config << ": " << difference << std::endl;
    }
}

TEST (FastSine, AgreesWithTheRuntimeSine)
{
    std::vector<float> in, out;
    for (float x = -8200.0f; x <= 8200.0f; x += 0.37f)
        in.push_back (x);
    for (float x = -4.0f; x <= 4.0f; x += 0.0001f)
        in.push_back (x);
    in.push_back (std::numeric_limits<float>::infinity());
    in.push_back (1.0e9f);
    in.push_back (0.0f);

    out.resize (in.size());
    quoril::engine::sineBlock (in.data(), out.data(), (int) in.size(), 0.9f);

    float worst = 0.0f;
    for (size_t i = 0; i < in.size(); ++i)
    {
        if (! std::isfinite (in[i]))
        {
            EXPECT_TRUE (std::isnan (out[i]));
            continue;
        }
        worst = std::max (worst, std::abs (out[i] - 0.9f * std::sin (in[i])));
    }

    EXPECT_LT (worst, 4.0e-7f);
    EXPECT_EQ (out.back(), 0.0f);
}

TEST (PoleBank, WideAndNarrowPathsAgreeBitForBit)
{
    if (! quoril::engine::cpuHasAvx2())
        GTEST_SKIP() << "no AVX2 here";

    using namespace quoril::engine;
    constexpr int n = 301;
    juce::Random random (31);

    // Grain sums, including some beyond the block sine's range.
    std::vector<float> sums[4];
    for (auto& s : sums)
    {
        s.resize (n);
        for (auto& v : s)
            v = (random.nextFloat() - 0.5f) * 6.0f;
    }
    sums[2][17] = 1.0e5f;
    const float* sumPointers[4] = { sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data() };

    std::vector<float> shapedWide ((size_t) n * 8), shapedNarrow ((size_t) n * 8);
    for (int ch = 0; ch < 2; ++ch)
    {
        shapeGrainSumsWide (sumPointers, shapedWide.data(), ch, n);
        shapeGrainSumsSse2 (sumPointers, shapedNarrow.data(), ch, n);
    }
    ASSERT_EQ (0, std::memcmp (shapedWide.data(), shapedNarrow.data(), shapedWide.size() * sizeof (float)));

    std::vector<float> diff ((size_t) n * 4), weights ((size_t) n * 8), x (n), y (n);
    for (auto& v : diff)
        v = random.nextFloat();
    for (int i = 0; i < n; ++i)
    {
        x[(size_t) i] = random.nextFloat();
        y[(size_t) i] = random.nextFloat();
    }
    makeBlendWeights (x.data(), y.data(), weights.data(), n);
    const float* weightPointers[2] = { weights.data(), weights.data() };

    auto run = [&] (bool wide, std::vector<float> (&out)[2], ResonatorState (&states)[8])
    {
        Diffuser left, right;
        left.configure (26.0f, ::powf (1.26f, 2.0f));
        right.configure (26.1f, ::powf (1.26f, 2.0f));
        left.prepare (48000.0);
        right.prepare (48000.0);
        left.feed = right.feed = 0.6f;
        left.damp = right.damp = 0.7f;

        ResonatorState* pointers[8];
        for (int j = 0; j < 8; ++j)
        {
            states[j] = ResonatorState {};
            states[j].coefficient = resonatorCoefficient (100.0f + 100.0f * (float) j, 48000.0);
            states[j].feed = 0.1f * (float) j;
            pointers[j] = &states[j];
        }

        for (auto& o : out)
            o.assign (n, 0.0f);
        float* outPointers[2] = { out[0].data(), out[1].data() };

        if (wide)
            runStereoEngineWide (pointers, shapedWide.data(), diff.data(), weightPointers, left, right, outPointers, n);
        else
            runStereoEngineSse2 (pointers, shapedWide.data(), diff.data(), weightPointers, left, right, outPointers, n);
    };

    std::vector<float> outWide[2], outNarrow[2];
    ResonatorState statesWide[8], statesNarrow[8];
    run (true, outWide, statesWide);
    run (false, outNarrow, statesNarrow);

    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < n; ++i)
            ASSERT_EQ (outWide[ch][(size_t) i], outNarrow[ch][(size_t) i]) << ch << " " << i;

    for (int j = 0; j < 8; ++j)
    {
        EXPECT_EQ (statesWide[j].lastOut, statesNarrow[j].lastOut);
        EXPECT_EQ (statesWide[j].allpassStates[0], statesNarrow[j].allpassStates[0]);
    }
}
