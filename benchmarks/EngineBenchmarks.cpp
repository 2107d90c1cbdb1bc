// Throughput of one processor instance at 48 kHz, stereo, 512-sample blocks, with JUCE's reverb on
// the same buffers as a yardstick. Reported counters:
//   rtf      processing time / audio time (0.01 = one hundred times faster than real time)
//   xReverb  processing time / the reverb's processing time for the same audio

#include <benchmark/benchmark.h>

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include "engine/CpuFeatures.h"
#include "engine/Granulizer.h"
#include "processor/QuorilAudioProcessor.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int warmUpBlocks = 400; // about 4 s: the grain buffers fill up
double reverbSecondsPerBlock = 0.0;

void fillInput (juce::AudioBuffer<float>& buffer, juce::Random& random, int blockIndex)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        float* data = buffer.getWritePointer (ch);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float t = (float) (blockIndex * blockSize + i);
            data[i] = 0.3f * std::sin (0.0291f * t * (1.0f + 0.01f * (float) ch)) + 0.1f * (random.nextFloat() - 0.5f);
        }
    }
}

// Engine settings as the random generator makes them for a new instance (rand() / 32767 draws
// through the setting ranges), with the given density.
void generateSettings (QuorilAudioProcessor& p, int density, unsigned seed)
{
    std::srand (seed);
    auto draw = [] { return (float) std::rand() / 32767.0f; };

    for (int pole = 0; pole < 4; ++pole)
    {
        for (int ch = 0; ch < 2; ++ch)
        {
            auto& r = p.resonatorSettings[(size_t) pole][(size_t) ch];
            r.freq = p.resonatorFreqRange.convertFrom0to1 (draw());
            r.feed = p.resonatorFeedRange.convertFrom0to1 (draw());

            auto& g = p.granulizerSettings[(size_t) pole][(size_t) ch];
            g.density = density;
            g.envelope = 2;
            const float ms = draw() > 0.5f ? p.grainSizeShortRange.convertFrom0to1 (draw())
                                           : p.grainSizeLongRange.convertFrom0to1 (draw());
            setGrainSize (g, (double) ms, p.sampleRate);
            g.speed = draw() > 0.5f ? p.grainSpeedNarrowRange.convertFrom0to1 (draw())
                                    : p.grainSpeedWideRange.convertFrom0to1 (draw());
            g.sizeRnd = p.sizeJitterRange.convertFrom0to1 (draw());
            g.ampRnd = draw();
            g.speedRnd = draw() > 0.5f ? p.speedJitterFineRange.convertFrom0to1 (draw())
                                       : p.speedJitterWideRange.convertFrom0to1 (draw());
        }
    }

    for (auto& d : p.diffuserSettings)
        d.feed = p.diffuserFeedRange.convertFrom0to1 (draw());
}

// Runs process() once per benchmark iteration on a new input block (filling it is not timed) and
// returns the time per block.
template <typename Process>
double timePerBlock (benchmark::State& state, juce::AudioBuffer<float>& buffer, juce::Random& random, int& blockIndex, Process&& process)
{
    double seconds = 0.0;
    long blocks = 0;

    for (auto _ : state)
    {
        state.PauseTiming();
        fillInput (buffer, random, blockIndex++);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        process();
        seconds += std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
        ++blocks;
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }

    return seconds / (double) blocks;
}

void report (benchmark::State& state, double perBlock)
{
    state.counters["rtf"] = perBlock / ((double) blockSize / sampleRate);

    if (reverbSecondsPerBlock > 0.0)
        state.counters["xReverb"] = perBlock / reverbSecondsPerBlock;
}

void BM_JuceReverb (benchmark::State& state)
{
    juce::dsp::Reverb reverb;
    reverb.prepare ({ sampleRate, (juce::uint32) blockSize, 2 });
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::Random random (1);
    int blockIndex = 0;

    reverbSecondsPerBlock = timePerBlock (state, buffer, random, blockIndex, [&]
    {
        juce::dsp::AudioBlock<float> block (buffer);
        reverb.process (juce::dsp::ProcessContextReplacing<float> (block));
    });
    report (state, reverbSecondsPerBlock);
}

// A processor at the benchmark's rate and block size with generated settings, warmed up, on the
// AVX2 or the SSE2 path (the AVX2 path is allowed again afterwards).
struct WarmProcessor
{
    WarmProcessor (int density, bool avx2)
        : pathChosen ((quoril::engine::allowAvx2 = avx2, true))
    {
        p.prepareToPlay (sampleRate, blockSize);
        generateSettings (p, density, 1234u);

        for (int i = 0; i < warmUpBlocks; ++i)
            processNextBlock();
    }

    ~WarmProcessor() { quoril::engine::allowAvx2 = true; }

    void processNextBlock()
    {
        fillInput (buffer, random, blockIndex++);
        p.processBlock (buffer, midi);
    }

    juce::ScopedNoDenormals noDenormals;
    bool pathChosen;
    QuorilAudioProcessor p;
    juce::AudioBuffer<float> buffer { 2, blockSize };
    juce::MidiBuffer midi;
    juce::Random random { 1 };
    int blockIndex = 0;
};

void BM_ProcessBlock (benchmark::State& state)
{
    WarmProcessor warm ((int) state.range (0), state.range (1) != 0);
    report (state, timePerBlock (state, warm.buffer, warm.random, warm.blockIndex, [&] { warm.p.processBlock (warm.buffer, warm.midi); }));
}

// The blocks that --count= runs after the warm-up, kept apart for instruction counting (valgrind
// --tool=callgrind --toggle-collect='*processCountedBlocks*').
[[gnu::noinline]] void processCountedBlocks (WarmProcessor& warm, int numBlocks)
{
    for (int i = 0; i < numBlocks; ++i)
        warm.processNextBlock();
}

// BM_ProcessBlock's set-up and warm-up, then numBlocks blocks untimed.
void countBlocks (int density, bool avx2, int numBlocks)
{
    WarmProcessor warm (density, avx2);
    processCountedBlocks (warm, numBlocks);
}

// One granulizer alone, 512-sample blocks at 48 kHz; the counter is the time per grain and sample.
void BM_Granulizer (benchmark::State& state)
{
    const bool wide = state.range (1) != 0;
    quoril::engine::allowAvx2 = wide;
    Granulizer g;
    g.sampleRate = sampleRate;
    g.bufferLength = 192001;
    g.buffer.setSize (1, g.bufferLength);
    g.buffer.clear();

    GranulizerSettings s;
    s.density = (int) state.range (0);
    s.envelope = 2;
    s.size = 9000.0f;
    s.speed = 1.01f;
    s.sizeRnd = 0.2f;
    s.speedRnd = 0.3f;
    s.ampRnd = 0.5f;
    g.setParameters (s);

    std::vector<float> in ((size_t) blockSize), out ((size_t) blockSize);
    juce::Random random (3);
    for (auto& x : in)
        x = random.nextFloat() - 0.5f;

    for (int i = 0; i < 800; ++i)
        g.processBlock (in.data(), out.data(), blockSize);

    for (auto _ : state)
    {
        g.processBlock (in.data(), out.data(), blockSize);
        benchmark::DoNotOptimize (out.data());
    }

    state.counters["nsPerGrainSample"] = benchmark::Counter ((double) state.iterations() * blockSize * s.density,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    quoril::engine::allowAvx2 = true;
}
} // namespace

// Arguments: density, AVX2 paths allowed.
BENCHMARK (BM_Granulizer)->Args ({ 8, 0 })->Args ({ 8, 1 })->Args ({ 64, 0 })->Args ({ 64, 1 })->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_JuceReverb)->Unit (benchmark::kMicrosecond)->MinTime (1.0);
// Arguments: density on every pole, AVX2 paths allowed (1) or SSE2 only (0).
BENCHMARK (BM_ProcessBlock)->Args ({ 8, 1 })->Args ({ 64, 1 })->Args ({ 8, 0 })->Args ({ 64, 0 })->Unit (benchmark::kMicrosecond)->MinTime (2.0);

int main (int argc, char** argv)
{
    // Keep the processor's folders and settings file out of the user's home.
    std::string home = "/tmp/quoril-bench-home-XXXXXX";
    if (mkdtemp (home.data()) != nullptr)
    {
        setenv ("HOME", home.c_str(), 1);
        unsetenv ("XDG_CONFIG_HOME");
    }

    {
        juce::ScopedJuceInitialiser_GUI juce;

        // --count=DENSITY,AVX2,BLOCKS: BM_ProcessBlock's work for a fixed number of blocks,
        // without the timing loop (for instruction counts).
        if (argc > 1 && std::strncmp (argv[1], "--count=", 8) == 0)
        {
            int density = 8, avx2 = 1, numBlocks = 100;
            std::sscanf (argv[1] + 8, "%d,%d,%d", &density, &avx2, &numBlocks);
            countBlocks (density, avx2 != 0, numBlocks);
        }
        else
        {
            benchmark::Initialize (&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        }
    }

    juce::File (juce::String (home)).deleteRecursively();
    return 0;
}
