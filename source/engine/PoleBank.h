#pragma once

struct ResonatorState;
class Diffuser;

// The stereo engine after the granulizers, run for both channels at once: the eight resonators
// (four poles by two channels) in SIMD lanes, their shaping, the X/Y blend and the diffusers.
// Every value is computed with the operations and the order of the sample-by-sample chain.
namespace quoril::engine
{
// shaped[i * 8 + channel * 4 + pole] = 0.9 sin(grainSums[pole][i]) for the four poles of a channel.
void shapeGrainSums (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept;

// Blend weights of a channel from its per-sample position (X, Y):
// weights[i * 8 .. i * 8 + 7] = 1 - X, X, Y, X, 1 - Y, 1 - Y, 1 - X, Y.
void makeBlendWeights (const float* positionX, const float* positionY, float* weights, int numSamples) noexcept;

// diffInterleaved[i * 4 + pole] = diffRamps[pole][i].
void interleaveDiffusion (const float* const* diffRamps, float* diffInterleaved, int numSamples) noexcept;

// The eight resonators in lockstep on the shaped grain sums (states[channel * 4 + pole]), the
// shaping of their outputs and the blend of each channel into its direct part and diffuser send.
void runStereoPoles (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                     const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept;

// The paths behind shapeGrainSums and runStereoPoles, by instruction set; the public functions
// choose between them.
void shapeGrainSumsSse2 (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept;
void shapeGrainSumsWide (const float* const* grainSums, float* shaped, int channel, int numSamples) noexcept;
void runStereoPolesSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                         const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept;
void runStereoPolesWide (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                         const float* const* weights, float* const* direct, float* const* send, int numSamples) noexcept;

void runStereoEngineSse2 (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                          const float* const* weights, Diffuser& left, Diffuser& right, float* const* out, int numSamples) noexcept;
void runStereoEngineWide (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                          const float* const* weights, Diffuser& left, Diffuser& right, float* const* out, int numSamples) noexcept;

// runStereoPoles and both channels' diffusers in one pass: out[channel][i] = the diffuser's
// output for the send plus the direct part (direct and send are scratch for unprepared diffusers).
void runStereoEngine (ResonatorState* const* states, const float* shaped, const float* diffInterleaved,
                      const float* const* weights, Diffuser& left, Diffuser& right, float* const* direct,
                      float* const* send, float* const* out, int numSamples) noexcept;

// Both channels' diffusers on their send sums, in place.
void runDiffuserPair (Diffuser& left, Diffuser& right, float* leftIo, float* rightIo, int numSamples) noexcept;
} // namespace quoril::engine
