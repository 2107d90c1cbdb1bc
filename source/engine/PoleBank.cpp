#include "PoleBank.h"

#include "CpuFeatures.h"

#include "Diffuser.h"
#include "DiffuserRun.h"
#include "FastSine.h"
#include "ResonatorState.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

#include "Lanes4.h"
#include "SineLanes.h"

namespace quoril::engine
{
namespace
{
inline __m128 sineOf (__m128 x) noexcept { return sineOfLanes<Lanes4> (x); }

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

namespace
{
template <typename Sink>
void runPolesSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                   const float* const* weights, Sink& sink, int numSamples) noexcept
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

    for (int i = 0; i < numSamples; ++i)
    {
        sink.before (i);

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
        auto blend = [&] (int ch, __m128 out, const float* w)
        {
            const __m128 left = _mm_loadu_ps (w), right = _mm_loadu_ps (w + 4);
            const __m128 termsDirect = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (keep, out)), right);
            const __m128 termsSend = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (d, out)), right);
            const __m128 low = _mm_unpacklo_ps (termsDirect, termsSend);   // D0 S0 D1 S1
            const __m128 high = _mm_unpackhi_ps (termsDirect, termsSend);  // D2 S2 D3 S3
            __m128 sum = _mm_add_ps (low, _mm_movehl_ps (low, low));       // D0+D1, S0+S1
            sum = _mm_add_ps (sum, high);
            sum = _mm_add_ps (sum, _mm_movehl_ps (high, high));
            sink.after (ch, i, _mm_cvtss_f32 (sum), lane (sum, 1));
        };

        blend (0, sineOf (lastLeft), weightsLeft + i * 8);
        blend (1, sineOf (lastRight), weightsRight + i * 8);
    }

    sink.end (numSamples);

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

} // namespace

void runStereoPolesSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                         const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept
{
    SeparateParts sink { direct, send };
    runPolesSse2 (states, shaped, diffInterleaved, weights, sink, numSamples);
}

void runStereoEngineSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                          const float* const* weights, Diffuser& left, Diffuser& right, float* const* out, int numSamples) noexcept
{
    runThroughDiffusers (left, right, out, [&] (auto& sink) { runPolesSse2 (states, shaped, diffInterleaved, weights, sink, numSamples); });
}

void runStereoEngine (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                      const float* const* weights, Diffuser& left, Diffuser& right, float* const* direct,
                      float* const* send, float* const* out, int numSamples) noexcept
{
    if (! DiffuserRun::canRun (left) || ! DiffuserRun::canRun (right))
    {
        runStereoPoles (states, shaped, diffInterleaved, weights, direct, send, numSamples);
        runDiffuserPair (left, right, send[0], send[1], numSamples);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < numSamples; ++i)
                out[ch][i] = send[ch][i] + direct[ch][i];

        return;
    }

    if (useAvx2())
        runStereoEngineWide (states, shaped, diffInterleaved, weights, left, right, out, numSamples);
    else
        runStereoEngineSse2 (states, shaped, diffInterleaved, weights, left, right, out, numSamples);
}

void runDiffuserPair (Diffuser& left, Diffuser& right, float* leftIo, float* rightIo, int numSamples) noexcept
{
    if (! DiffuserRun::canRun (left) || ! DiffuserRun::canRun (right))
    {
        left.processBlock (leftIo, numSamples);
        right.processBlock (rightIo, numSamples);
        return;
    }

    DiffuserRun a (left), b (right);

    for (int i = 0; i < numSamples; ++i)
    {
        leftIo[i] = a.step (leftIo[i]);
        rightIo[i] = b.step (rightIo[i]);
    }

    a.finish (left);
    b.finish (right);
}
} // namespace quoril::engine
