#include "EngineWorkspace.h"
#include "ResonatorState.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

void EngineWorkspace::prepare (int maximumSamples)
{
    const int newSize = std::max (0, maximumSamples);

    // Each array starts on a 64-byte boundary.
    const auto stride = (size_t) ((newSize + 15) & ~15);
    constexpr int numArrays = numChains + 2 + 2 + 2 + 8 + 4 + 8 + 8;
    storage.assign (stride * numArrays + 16, 0.0f);

    auto* base = storage.data();
    while ((reinterpret_cast<std::uintptr_t> (base) & 63) != 0)
        ++base;

    auto next = [&] { auto* p = base; base += stride; return p; };

    for (auto*& chain : chains)
        chain = next();

    positionX = next();
    positionY = next();

    for (int ch = 0; ch < 2; ++ch)
    {
        direct[ch] = next();
        diffused[ch] = next();
    }

    auto nextSpan = [&] (int arrays) { auto* p = base; base += stride * (size_t) arrays; return p; };
    shaped = nextSpan (8);
    diffInterleaved = nextSpan (4);
    weights[0] = nextSpan (8);
    weights[1] = nextSpan (8);

    size = newSize;
}

namespace
{
template <std::size_t N>
void runChains (ResonatorState* const* states, float* const* signals, int numSamples) noexcept
{
    alignas (64) double sections[6][N];
    alignas (64) double coefficient[N];
    alignas (32) float feedback[N];
    alignas (32) float last[N];
    float* io[N];

    for (std::size_t j = 0; j < N; ++j)
    {
        const auto& r = *states[j];

        for (int k = 0; k < 6; ++k)
            sections[k][j] = r.allpassStates[k];

        coefficient[j] = (double) r.coefficient;
        feedback[j] = quoril::engine::resonatorFeedback (r.feed);
        last[j] = r.lastOut;
        io[j] = signals[j];
    }

    for (int i = 0; i < numSamples; ++i)
    {
        alignas (32) float v[N];

        for (std::size_t j = 0; j < N; ++j)
            v[j] = feedback[j] * last[j] + io[j][i];

        for (int k = 5; k >= 0; --k)
        {
            for (std::size_t j = 0; j < N; ++j)
            {
                const double s = sections[k][j];
                const double updated = coefficient[j] * s + (double) v[j];
                sections[k][j] = updated;
                v[j] = (float) (s - coefficient[j] * updated);
            }
        }

        for (std::size_t j = 0; j < N; ++j)
        {
            last[j] = v[j];
            io[j][i] = v[j];
        }
    }

    for (std::size_t j = 0; j < N; ++j)
    {
        auto& r = *states[j];

        for (int k = 0; k < 6; ++k)
            r.allpassStates[k] = sections[k][j];

        r.lastOut = last[j];
    }
}
} // namespace

void runResonatorChains (ResonatorState* const* states, float* const* signals, int numChains, int numSamples) noexcept
{
    if (numChains == 8)
    {
        runChains<8> (states, signals, numSamples);
        return;
    }

    for (int j = 0; j + 4 <= numChains; j += 4)
        runChains<4> (states + j, signals + j, numSamples);

    for (int j = numChains - numChains % 4; j < numChains; ++j)
        runChains<1> (states + j, signals + j, numSamples);
}
