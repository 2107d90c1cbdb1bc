#include <gtest/gtest.h>

#include "engine/CpuFeatures.h"
#include "engine/FastSine.h"
#include "engine/PoleBank.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

// The block sine over the whole float range: each reduction (single precision up to 8192, double
// precision up to 2^24, the table of 2/pi bits beyond) against the runtime's sinf.
namespace
{
constexpr float tolerance = 3.0e-7f;

float worstDifference (const std::vector<float>& in, const std::vector<float>& out, float scale)
{
    float worst = 0.0f;

    for (size_t i = 0; i < in.size(); ++i)
    {
        const float difference = std::abs (out[i] - scale * std::sin (in[i]));
        EXPECT_LE (difference, tolerance) << "x = " << in[i];
        worst = std::max (worst, difference);
    }

    return worst;
}

// Random arguments with magnitudes spread evenly over the octaves up to `limit`, both signs.
std::vector<float> randomArguments (juce::Random& random, double limit, int count)
{
    std::vector<float> values;

    for (int i = 0; i < count; ++i)
    {
        const double magnitude = std::exp (random.nextDouble() * std::log (limit));
        values.push_back ((float) (random.nextBool() ? magnitude : -magnitude));
    }

    return values;
}

// A few values on either side of v, one float step apart.
void addNeighbours (std::vector<float>& values, float v, int steps)
{
    float below = v, above = v;
    values.push_back (v);

    for (int k = 0; k < steps; ++k)
    {
        below = std::nextafter (below, 0.0f);
        above = std::nextafter (above, std::numeric_limits<float>::infinity());
        for (float w : { below, above, -below, -above })
            if (std::isfinite (w))
                values.push_back (w);
    }
}
} // namespace

TEST (FastSine, WholeFloatRangeAgainstTheRuntimeSine)
{
    juce::Random random (4242);
    const struct
    {
        const char* what;
        std::vector<float> values;
    } cases[] = {
        { "random up to 1e7", randomArguments (random, 1.0e7, 200000) },
        { "random over the whole range", randomArguments (random, 3.4e38, 200000) },
        { "the double-precision reduction at its worst", [] {
              // Integers near multiples of pi/2 leave the smallest remainders.
              std::vector<float> v;
              for (double k = 5300.0; k < 1.0e7; k *= 1.37)
                  addNeighbours (v, (float) std::nearbyint (k * 1.5707963267948966), 3);
              return v;
          }() },
    };

    for (const auto& c : cases)
    {
        std::vector<float> out (c.values.size());
        quoril::engine::sineBlock (c.values.data(), out.data(), (int) out.size(), 1.0f);
        std::cout << c.what << ": largest difference " << worstDifference (c.values, out, 1.0f) << std::endl;
    }
}

TEST (FastSine, EdgesOfTheReductionRanges)
{
    std::vector<float> values;

    for (float edge : { 8192.0f, 16777216.0f, 33554432.0f, 1.0e9f, std::numeric_limits<float>::max(),
                        std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(), 0.7853982f })
        addNeighbours (values, edge, 6);

    // Each power of two starts a new entry of the table of 2/pi bits.
    for (int e = 24; e < 128; ++e)
        addNeighbours (values, std::ldexp (1.0f, e), 2);

    std::vector<float> out (values.size());
    quoril::engine::sineBlock (values.data(), out.data(), (int) out.size(), 0.9f);
    std::cout << "largest difference at the edges: " << worstDifference (values, out, 0.9f) << std::endl;
}

TEST (FastSine, EachLaneDependsOnItsOwnArgumentOnly)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float samples[] = { 0.0f, -1.5f, 8191.9f, 8192.001f, -3.0e5f, 16777216.0f, -7.3e20f, 3.4e38f, inf, -inf, std::nanf ("") };
    constexpr int numSamples = (int) (sizeof (samples) / sizeof (samples[0]));

    // Every sample alone (through the tail of the block), then in blocks of four and eight next to
    // every other kind of sample.
    float alone[numSamples];
    for (int i = 0; i < numSamples; ++i)
        quoril::engine::sineBlock (samples + i, alone + i, 1, 1.0f);

    for (int i = 0; i < numSamples; ++i)
    {
        if (! std::isfinite (samples[i]))
        {
            EXPECT_TRUE (std::isnan (alone[i])) << samples[i];
        }

        for (int neighbour = 0; neighbour < numSamples; ++neighbour)
        {
            float block[8], out[8];
            for (int k = 0; k < 8; ++k)
                block[k] = k % 3 == 1 ? samples[i] : samples[neighbour];

            quoril::engine::sineBlock (block, out, 8, 1.0f);

            for (int k = 1; k < 8; k += 3)
                EXPECT_EQ (0, std::memcmp (out + k, alone + i, sizeof (float))) << samples[i] << " next to " << samples[neighbour];
        }
    }
}

TEST (FastSine, WideAndNarrowShapingAgreeOverTheWholeRange)
{
    if (! quoril::engine::cpuHasAvx2())
        GTEST_SKIP() << "no AVX2 here";

    constexpr int n = 4099;
    juce::Random random (8);
    std::vector<float> sums[4];
    for (auto& s : sums)
        s = randomArguments (random, 3.4e38, n);
    sums[1][5] = std::numeric_limits<float>::infinity();
    sums[3][40] = std::nanf ("");
    const float* pointers[4] = { sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data() };

    std::vector<float> wide ((size_t) n * 8), narrow ((size_t) n * 8);
    quoril::engine::shapeGrainSumsWide (pointers, wide.data(), 0, n);
    quoril::engine::shapeGrainSumsSse2 (pointers, narrow.data(), 0, n);

    for (int i = 0; i < n; ++i)
        for (int pole = 0; pole < 4; ++pole)
        {
            const size_t at = (size_t) i * 8 + (size_t) pole;
            ASSERT_EQ (0, std::memcmp (&wide[at], &narrow[at], sizeof (float))) << i << " " << pole;

            if (std::isfinite (sums[(size_t) pole][(size_t) i]))
            {
                ASSERT_LE (std::abs (wide[at] - 0.9f * std::sin (sums[(size_t) pole][(size_t) i])), tolerance);
            }
        }
}
