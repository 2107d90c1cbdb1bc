// The stereo pole bank of PoleBank.cpp for processors with AVX2: four resonator chains per
// register instead of two, and the block sine eight lanes wide. The operations and their order
// are those of the SSE2 code, so both give the same results. Only this file is compiled for AVX2;
// PoleBank.cpp dispatches to it after checking the processor.

#include "PoleBank.h"
#include "FastSine.h"
#include "ResonatorState.h"
#include "Diffuser.h"
#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "Avx2Begin.h"

#include "DiffuserRun.h"
#include "Lanes8.h"
#include "SineLanes.h"

namespace quoril::engine
{
namespace
{
inline __m256 sineOf8 (__m256 x) noexcept { return sineOfLanes<Lanes8> (x); }
} // namespace

void shapeGrainSumsWide (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept
{
    const __m256 scale = _mm256_set1_ps (0.9f);
    int i = 0;

    for (; i + 8 <= numSamples; i += 8)
    {
        const __m256 p0 = _mm256_mul_ps (scale, sineOf8 (_mm256_loadu_ps (grainSums[0] + i)));
        const __m256 p1 = _mm256_mul_ps (scale, sineOf8 (_mm256_loadu_ps (grainSums[1] + i)));
        const __m256 p2 = _mm256_mul_ps (scale, sineOf8 (_mm256_loadu_ps (grainSums[2] + i)));
        const __m256 p3 = _mm256_mul_ps (scale, sineOf8 (_mm256_loadu_ps (grainSums[3] + i)));

        // Two 4 x 4 transposes: samples i..i+3 from the low halves, i+4..i+7 from the high ones.
        for (int half = 0; half < 2; ++half)
        {
            __m128 r0 = half == 0 ? _mm256_castps256_ps128 (p0) : _mm256_extractf128_ps (p0, 1);
            __m128 r1 = half == 0 ? _mm256_castps256_ps128 (p1) : _mm256_extractf128_ps (p1, 1);
            __m128 r2 = half == 0 ? _mm256_castps256_ps128 (p2) : _mm256_extractf128_ps (p2, 1);
            __m128 r3 = half == 0 ? _mm256_castps256_ps128 (p3) : _mm256_extractf128_ps (p3, 1);
            _MM_TRANSPOSE4_PS (r0, r1, r2, r3);

            float* out = shaped + (i + half * 4) * 8 + channel * 4;
            _mm_storeu_ps (out, r0);
            _mm_storeu_ps (out + 8, r1);
            _mm_storeu_ps (out + 16, r2);
            _mm_storeu_ps (out + 24, r3);
        }
    }

    if (i < numSamples)
    {
        const float* rest[4] = { grainSums[0] + i, grainSums[1] + i, grainSums[2] + i, grainSums[3] + i };
        shapeGrainSumsSse2 (rest, shaped + i * 8, channel, numSamples - i);
    }
}

namespace
{
template <typename Sink>
void runPolesWide (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                   const float* const* weights, Sink& sink, int numSamples) noexcept
{
    // sections[k][h] holds chains 4h .. 4h + 3 (h = 0: left channel's poles, 1: right's).
    __m256d sections[6][2];
    __m256d coefficient[2];
    alignas (32) float feedback[8];
    alignas (32) float last[8];

    for (int h = 0; h < 2; ++h)
    {
        const auto* const* s = states + 4 * h;

        for (int k = 0; k < 6; ++k)
            sections[k][h] = _mm256_setr_pd (s[0]->allpassStates[k], s[1]->allpassStates[k], s[2]->allpassStates[k], s[3]->allpassStates[k]);

        coefficient[h] = _mm256_setr_pd ((double) s[0]->coefficient, (double) s[1]->coefficient,
                                         (double) s[2]->coefficient, (double) s[3]->coefficient);
    }

    for (int j = 0; j < 8; ++j)
    {
        feedback[j] = resonatorFeedback (states[j]->feed);
        last[j] = states[j]->lastOut;
    }

    const __m256 feedbackAll = _mm256_load_ps (feedback);
    __m256 lastAll = _mm256_load_ps (last);
    const __m128 one = _mm_set1_ps (1.0f);

    for (int i = 0; i < numSamples; ++i)
    {
        sink.before (i);
        const __m256 in = _mm256_add_ps (_mm256_mul_ps (feedbackAll, lastAll), _mm256_loadu_ps (shaped + i * 8));
        __m256d v[2] = { _mm256_cvtps_pd (_mm256_castps256_ps128 (in)), _mm256_cvtps_pd (_mm256_extractf128_ps (in, 1)) };

        for (int k = 5; k >= 0; --k)
        {
            for (int h = 0; h < 2; ++h)
            {
                const __m256d s = sections[k][h];
                const __m256d updated = _mm256_add_pd (_mm256_mul_pd (coefficient[h], s), v[h]);
                sections[k][h] = updated;
                v[h] = _mm256_cvtps_pd (_mm256_cvtpd_ps (_mm256_sub_pd (s, _mm256_mul_pd (coefficient[h], updated))));
            }
        }

        lastAll = _mm256_set_m128 (_mm256_cvtpd_ps (v[1]), _mm256_cvtpd_ps (v[0]));
        const __m256 out = sineOf8 (lastAll);

        const __m128 d = _mm_loadu_ps (diffInterleaved + i * 4);
        const __m128 keep = _mm_sub_ps (one, d);

        for (int ch = 0; ch < 2; ++ch)
        {
            const __m128 o = ch == 0 ? _mm256_castps256_ps128 (out) : _mm256_extractf128_ps (out, 1);
            const float* w = weights[ch] + i * 8;
            const __m128 left = _mm_loadu_ps (w), right = _mm_loadu_ps (w + 4);
            const __m128 termsDirect = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (keep, o)), right);
            const __m128 termsSend = _mm_mul_ps (_mm_mul_ps (left, _mm_mul_ps (d, o)), right);
            const __m128 low = _mm_unpacklo_ps (termsDirect, termsSend);
            const __m128 high = _mm_unpackhi_ps (termsDirect, termsSend);
            __m128 sum = _mm_add_ps (low, _mm_movehl_ps (low, low));
            sum = _mm_add_ps (sum, high);
            sum = _mm_add_ps (sum, _mm_movehl_ps (high, high));
            sink.after (ch, i, _mm_cvtss_f32 (sum), _mm_cvtss_f32 (_mm_shuffle_ps (sum, sum, 1)));
        }
    }

    sink.end (numSamples);

    alignas (32) double quad[4];

    for (int h = 0; h < 2; ++h)
    {
        for (int k = 0; k < 6; ++k)
        {
            _mm256_store_pd (quad, sections[k][h]);

            for (int c = 0; c < 4; ++c)
                states[4 * h + c]->allpassStates[k] = quad[c];
        }
    }

    _mm256_store_ps (last, lastAll);

    for (int j = 0; j < 8; ++j)
        states[j]->lastOut = last[j];
}
} // namespace

void runStereoPolesWide (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                         const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept
{
    SeparateParts sink { direct, send };
    runPolesWide (states, shaped, diffInterleaved, weights, sink, numSamples);
}

void runStereoEngineWide (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                          const float* const* weights, Diffuser& left, Diffuser& right, float* const* out, int numSamples) noexcept
{
    runThroughDiffusers (left, right, out, [&] (auto& sink) { runPolesWide (states, shaped, diffInterleaved, weights, sink, numSamples); });
}
} // namespace quoril::engine

#include "Avx2End.h"
