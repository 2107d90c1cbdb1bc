#include <gtest/gtest.h>

#include "reference/ReferenceEngine.h"
#include "support/EngineTestSupport.h"
#include "engine/CpuFeatures.h"
#include "engine/FastSine.h"

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
