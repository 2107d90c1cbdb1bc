#pragma once

#include <cstdint>
#include <vector>

struct ResonatorState;

// Scratch memory of the block processing, sized by prepareToPlay for the largest block so that
// the audio thread never allocates: one signal array per pole and channel (the grain sums; on
// the one-channel path also the resonator's input, chain output and shaped output, in place),
// the blend position, per channel the direct and diffuser parts of the blend, and the stereo
// path's interleaved arrays.
class EngineWorkspace
{
public:
    static constexpr int numChains = 8; // 4 poles x 2 channels, chain = channel * 4 + pole

    void prepare (int maximumSamples);
    int capacity() const noexcept { return size; }

    float* chains[numChains] {};
    float* positionX = nullptr;
    float* positionY = nullptr;
    float* direct[2] {};
    float* diffused[2] {};

    // The stereo path's interleaved arrays (see PoleBank.h): shaped grain sums, 8 per sample;
    // diffusion amounts, 4 per sample; blend weights per channel, 8 per sample.
    float* shaped = nullptr;
    float* diffInterleaved = nullptr;
    float* weights[2] {};

private:
    std::vector<float> storage;
    int size = 0;
};

// Runs numChains resonators in lockstep over numSamples samples. signals[j] holds the shaped
// grain sum 0.9 sin(g) of chain j on entry and the chain output v on return; states[j] is the
// chain's resonator, whose coefficient and feedback are taken as they stand.
void runResonatorChains (ResonatorState* const* states, float* const* signals, int numChains, int numSamples) noexcept;
