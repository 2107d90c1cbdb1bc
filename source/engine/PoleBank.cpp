#include "PoleBank.h"

#include "CpuFeatures.h"

#include "Diffuser.h"
#include "FastSine.h"
#include "ResonatorState.h"

#include <cmath>
#include <emmintrin.h>

namespace quoril::engine
{
namespace
{
// sin of four lanes: the block sine where it applies, the runtime's sinf otherwise.
inline __m128 sineOf (__m128 x) noexcept
{
    const __m128 absMask = _mm_castsi128_ps (_mm_set1_epi32 (0x7fffffff));

    if (! usePreciseSine && _mm_movemask_ps (_mm_cmple_ps (_mm_and_ps (x, absMask), _mm_set1_ps (8192.0f))) == 0xf)
        return sin4 (x);

    alignas (16) float lanes[4];
    _mm_store_ps (lanes, x);

    for (float& v : lanes)
        v = std::sin (v);

    return _mm_load_ps (lanes);
}

inline float lane (__m128 v, int index) noexcept
{
    alignas (16) float lanes[4];
    _mm_store_ps (lanes, v);
    return lanes[index];
}
} // namespace

void shapeGrainSums (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept
{
    if (useAvx2())
        shapeGrainSumsWide (grainSums, shaped, channel, numSamples);
    else
        shapeGrainSumsSse2 (grainSums, shaped, channel, numSamples);
}

void runStereoPoles (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                     const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept
{
    if (useAvx2())
        runStereoPolesWide (states, shaped, diffInterleaved, weights, direct, send, numSamples);
    else
        runStereoPolesSse2 (states, shaped, diffInterleaved, weights, direct, send, numSamples);
}

void shapeGrainSumsSse2 (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept
{
    const __m128 scale = _mm_set1_ps (0.9f);
    const float* g0 = grainSums[0];
    const float* g1 = grainSums[1];
    const float* g2 = grainSums[2];
    const float* g3 = grainSums[3];
    int i = 0;

    for (; i + 4 <= numSamples; i += 4)
    {
        __m128 p0 = _mm_mul_ps (scale, sineOf (_mm_loadu_ps (g0 + i)));
        __m128 p1 = _mm_mul_ps (scale, sineOf (_mm_loadu_ps (g1 + i)));
        __m128 p2 = _mm_mul_ps (scale, sineOf (_mm_loadu_ps (g2 + i)));
        __m128 p3 = _mm_mul_ps (scale, sineOf (_mm_loadu_ps (g3 + i)));
        _MM_TRANSPOSE4_PS (p0, p1, p2, p3);

        float* out = shaped + i * 8 + channel * 4;
        _mm_storeu_ps (out, p0);
        _mm_storeu_ps (out + 8, p1);
        _mm_storeu_ps (out + 16, p2);
        _mm_storeu_ps (out + 24, p3);
    }

    for (; i < numSamples; ++i)
        _mm_storeu_ps (shaped + i * 8 + channel * 4, _mm_mul_ps (scale, sineOf (_mm_setr_ps (g0[i], g1[i], g2[i], g3[i]))));
}

void makeBlendWeights (const float* positionX, const float* positionY, float* weights, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const float x = positionX[i], y = positionY[i];
        float* w = weights + i * 8;
        w[0] = 1.0f - x;
        w[1] = x;
        w[2] = y;
        w[3] = x;
        w[4] = 1.0f - y;
        w[5] = 1.0f - y;
        w[6] = 1.0f - x;
        w[7] = y;
    }
}

void interleaveDiffusion (const float* const* diffRamps, float* diffInterleaved, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
        for (int pole = 0; pole < 4; ++pole)
            diffInterleaved[i * 4 + pole] = diffRamps[pole][i];
}

void runStereoPolesSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                         const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept
{
    // Section states in pairs of chains: sections[k][q] holds chains 2q and 2q + 1.
    __m128d sections[6][4];
    __m128d coefficient[4];
    alignas (16) float feedback[8];
    alignas (16) float last[8];

    for (int q = 0; q < 4; ++q)
    {
        const auto& a = *states[2 * q];
        const auto& b = *states[2 * q + 1];

        for (int k = 0; k < 6; ++k)
            sections[k][q] = _mm_setr_pd (a.allpassStates[k], b.allpassStates[k]);

        coefficient[q] = _mm_setr_pd ((double) a.coefficient, (double) b.coefficient);
    }

    for (int j = 0; j < 8; ++j)
    {
        feedback[j] = resonatorFeedback (states[j]->feed);
        last[j] = states[j]->lastOut;
    }

    const __m128 feedbackLeft = _mm_load_ps (feedback), feedbackRight = _mm_load_ps (feedback + 4);
    __m128 lastLeft = _mm_load_ps (last), lastRight = _mm_load_ps (last + 4);
    const __m128 one = _mm_set1_ps (1.0f);

    const float* weightsLeft = weights[0];
    const float* weightsRight = weights[1];
    float* directLeft = direct[0];
    float* directRight = direct[1];
    float* sendLeft = send[0];
    float* sendRight = send[1];

    for (int i = 0; i < numSamples; ++i)
    {
        // Resonator input: feedback tap plus the shaped grain sum, per chain.
        const __m128 inLeft = _mm_add_ps (_mm_mul_ps (feedbackLeft, lastLeft), _mm_loadu_ps (shaped + i * 8));
        const __m128 inRight = _mm_add_ps (_mm_mul_ps (feedbackRight, lastRight), _mm_loadu_ps (shaped + i * 8 + 4));

        __m128d v[4] = { _mm_cvtps_pd (inLeft), _mm_cvtps_pd (_mm_movehl_ps (inLeft, inLeft)),
                         _mm_cvtps_pd (inRight), _mm_cvtps_pd (_mm_movehl_ps (inRight, inRight)) };

        // Six allpass sections, last index first; the signal between them is single precision.
        for (int k = 5; k >= 0; --k)
        {
            for (int q = 0; q < 4; ++q)
            {
                const __m128d s = sections[k][q];
                const __m128d updated = _mm_add_pd (_mm_mul_pd (coefficient[q], s), v[q]);
                sections[k][q] = updated;
                v[q] = _mm_cvtps_pd (_mm_cvtpd_ps (_mm_sub_pd (s, _mm_mul_pd (coefficient[q], updated))));
            }
        }

        lastLeft = _mm_movelh_ps (_mm_cvtpd_ps (v[0]), _mm_cvtpd_ps (v[1]));
        lastRight = _mm_movelh_ps (_mm_cvtpd_ps (v[2]), _mm_cvtpd_ps (v[3]));

        const __m128 d = _mm_loadu_ps (diffInterleaved + i * 4);
        const __m128 keep = _mm_sub_ps (one, d);

        // Blend of one channel: the terms (1-X) a0 (1-Y), X a1 (1-Y), Y a2 (1-X), X a3 Y of the
        // direct parts a and the sends, each sum added up in that order.
        auto blend = [&] (__m128 out, const float* w, float& directOut, float& sendOut)
        {
            const __m128 left = _mm_loadu_ps (w), right = _mm_loadu_ps (w + 4);
            const __m128 termsDirect = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (keep, out)), right);
            const __m128 termsSend = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (d, out)), right);
            const __m128 low = _mm_unpacklo_ps (termsDirect, termsSend);   // D0 S0 D1 S1
            const __m128 high = _mm_unpackhi_ps (termsDirect, termsSend);  // D2 S2 D3 S3
            __m128 sum = _mm_add_ps (low, _mm_movehl_ps (low, low));       // D0+D1, S0+S1
            sum = _mm_add_ps (sum, high);
            sum = _mm_add_ps (sum, _mm_movehl_ps (high, high));
            directOut = _mm_cvtss_f32 (sum);
            sendOut = lane (sum, 1);
        };

        blend (sineOf (lastLeft), weightsLeft + i * 8, directLeft[i], sendLeft[i]);
        blend (sineOf (lastRight), weightsRight + i * 8, directRight[i], sendRight[i]);
    }

    alignas (16) double pair[2];

    for (int q = 0; q < 4; ++q)
    {
        for (int k = 0; k < 6; ++k)
        {
            _mm_store_pd (pair, sections[k][q]);
            states[2 * q]->allpassStates[k] = pair[0];
            states[2 * q + 1]->allpassStates[k] = pair[1];
        }
    }

    _mm_store_ps (last, lastLeft);
    _mm_store_ps (last + 4, lastRight);

    for (int j = 0; j < 8; ++j)
        states[j]->lastOut = last[j];
}

void runDiffuserPair (Diffuser& left, Diffuser& right, float* leftIo, float* rightIo, int numSamples) noexcept
{
    struct Line
    {
        float* data;
        int length, writeIndex, readIndex;
        float gain;
    };

    struct Run
    {
        Line lines[Diffuser::numStages];
        float feed, damp, keep, inputScale, feedbackState, lastOut;
    };

    auto prepared = [] (const Diffuser& d)
    {
        for (const auto& stage : d.stages)
            if (stage.buffer.getNumSamples() <= 0 || stage.buffer.getNumChannels() < 1)
                return false;

        return true;
    };

    if (! prepared (left) || ! prepared (right))
    {
        left.processBlock (leftIo, numSamples);
        right.processBlock (rightIo, numSamples);
        return;
    }

    auto start = [] (Diffuser& d)
    {
        Run run;

        for (int k = 0; k < Diffuser::numStages; ++k)
        {
            auto& stage = d.stages[k];
            const int length = stage.buffer.getNumSamples();

            if (stage.writeIndex < 0 || stage.writeIndex >= length)
                stage.writeIndex = 0;

            run.lines[k] = { stage.buffer.getWritePointer (0), length, stage.writeIndex, stage.readIndex(), stage.gain };
        }

        run.feed = d.effectiveFeed();
        run.damp = d.effectiveDamp();
        run.keep = 1.0f - run.damp;
        run.inputScale = 1.0f - run.feed * 0.65f;
        run.feedbackState = d.feedbackState;
        run.lastOut = d.lastOut;
        return run;
    };

    auto step = [] (Run& run, float send)
    {
        run.feedbackState = run.lastOut * run.feed * run.damp + run.keep * run.feedbackState;
        float x = run.inputScale * send + run.feedbackState;

        for (auto& line : run.lines)
        {
            const float rd = line.data[line.readIndex];
            const float v = line.gain * rd + x;
            line.data[line.writeIndex] = v;
            x = rd - line.gain * v;

            if (++line.writeIndex == line.length)
                line.writeIndex = 0;

            if (++line.readIndex == line.length)
                line.readIndex = 0;
        }

        run.lastOut = x;
        return x;
    };

    auto finish = [] (Diffuser& d, const Run& run)
    {
        d.feedbackState = run.feedbackState;
        d.lastOut = run.lastOut;

        for (int k = 0; k < Diffuser::numStages; ++k)
            d.stages[k].writeIndex = run.lines[k].writeIndex;
    };

    Run a = start (left), b = start (right);

    for (int i = 0; i < numSamples; ++i)
    {
        leftIo[i] = step (a, leftIo[i]);
        rightIo[i] = step (b, rightIo[i]);
    }

    finish (left, a);
    finish (right, b);
}
} // namespace quoril::engine
