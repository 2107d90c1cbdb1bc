#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"
#include "engine/CpuFeatures.h"

#include <chrono>
#include <limits>

// Engine settings reach the engine unchecked from saved states and presets. Whatever they hold,
// the engine must not hang, must not output NaN or Inf, and must recover once they are sound.
namespace
{
constexpr float inf = std::numeric_limits<float>::infinity();
const float notANumber = std::numeric_limits<float>::quiet_NaN();
const std::vector<float> badFloats { notANumber, inf, -inf, 0.0f, -1.0f, -1.0e30f, 1.0e30f, 3.0e9f, 1.0e-30f, 0.3f, 7.0f };
const std::vector<int> badInts { -1, 0, 65, 1000, std::numeric_limits<int>::max(), std::numeric_limits<int>::min() };

using FloatField = std::function<float& (QuorilAudioProcessor&, int pole, int ch)>;

bool engineStateIsFinite (const QuorilAudioProcessor& p)
{
    for (const auto& pole : p.resonatorStates)
        for (const auto& r : pole)
        {
            if (! std::isfinite (r.lastOut))
                return false;
            for (double s : r.allpassStates)
                if (! std::isfinite (s))
                    return false;
        }

    for (const auto& d : p.diffusers)
        if (! std::isfinite (d->lastOut) || ! std::isfinite (d->feedbackState))
            return false;

    return std::isfinite (p.dcBlockers[0].previousOutput) && std::isfinite (p.dcBlockers[1].previousOutput);
}

void expectSoundWithBadValuesOnePath (const char* name, const std::function<void (QuorilAudioProcessor&, float)>& apply,
                                      const std::vector<float>& values)
{
    SCOPED_TRACE (name);
    QuorilAudioProcessor p;
    juce::Random random (17);
    p.prepareToPlay (48000.0, 512);
    enginetest::applyAudibleSettings (p, random);
    enginetest::setParameter (p, "dry_wet", 1.0f);

    juce::Random noise (23);
    auto finite = [] (const juce::AudioBuffer<float>& b) { ASSERT_TRUE (enginetest::allFinite (b)); };
    enginetest::runBlocks (p, 4, 512, noise, finite);

    auto sound = p.granulizerSettings;
    auto soundResonators = p.resonatorSettings;
    DiffuserSettings soundDiffusers[2] = { p.diffuserSettings[0], p.diffuserSettings[1] };

    for (float value : values)
    {
        SCOPED_TRACE (value);
        apply (p, value);
        const auto started = std::chrono::steady_clock::now();
        enginetest::runBlocks (p, 6, 512, noise, finite);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_LT (std::chrono::duration<double> (elapsed).count(), 2.0) << "six blocks took too long";

        for (const auto& pole : p.granulizers)
            for (const auto& g : pole)
                for (const auto& grain : g.grains)
                    ASSERT_FALSE (grain.lastPos < 0.0f || grain.lastPos > (float) (g.bufferLength - 1)) << "read outside the ring";

        // Back to sound settings: nothing of the bad value stays behind.
        p.granulizerSettings = sound;
        p.resonatorSettings = soundResonators;
        p.diffuserSettings[0] = soundDiffusers[0];
        p.diffuserSettings[1] = soundDiffusers[1];
        enginetest::runBlocks (p, 3, 512, noise, finite);
        EXPECT_TRUE (engineStateIsFinite (p));
    }

    enginetest::runBlocks (p, 40, 512, noise, finite);
    EXPECT_GT (p.outputLevel.load(), 0.0f);
    EXPECT_TRUE (engineStateIsFinite (p));
}

// Through the AVX2 paths (where the processor has them) and the SSE2 paths.
void expectSoundWithBadValues (const char* name, const std::function<void (QuorilAudioProcessor&, float)>& apply,
                               const std::vector<float>& values)
{
    for (bool wide : { true, false })
    {
        SCOPED_TRACE (wide ? "AVX2 paths" : "SSE2 paths");
        quoril::engine::allowAvx2 = wide;
        expectSoundWithBadValuesOnePath (name, apply, values);
    }

    quoril::engine::allowAvx2 = true;
}

void forAllRecords (QuorilAudioProcessor& p, const std::function<void (GranulizerSettings&, ResonatorSettings&)>& f)
{
    for (size_t pole = 0; pole < 4; ++pole)
        for (size_t ch = 0; ch < 2; ++ch)
            f (p.granulizerSettings[pole][ch], p.resonatorSettings[pole][ch]);
}
} // namespace

TEST (EngineGuards, GranulizerFloatSettings)
{
    using Setter = void (*) (GranulizerSettings&, float);
    const std::pair<const char*, Setter> fields[] = {
        { "size", [] (GranulizerSettings& s, float v) { s.size = v; } },
        { "speed", [] (GranulizerSettings& s, float v) { s.speed = v; } },
        { "size_rnd", [] (GranulizerSettings& s, float v) { s.sizeRnd = v; } },
        { "speed_rnd", [] (GranulizerSettings& s, float v) { s.speedRnd = v; } },
        { "amp_rnd", [] (GranulizerSettings& s, float v) { s.ampRnd = v; } },
        { "out_gain", [] (GranulizerSettings& s, float v) { s.outGain = v; } },
    };

    for (const auto& [name, setter] : fields)
        expectSoundWithBadValues (name, [setter = setter] (QuorilAudioProcessor& p, float v)
                                  { forAllRecords (p, [&] (GranulizerSettings& g, ResonatorSettings&) { setter (g, v); }); },
                                  badFloats);
}

TEST (EngineGuards, GranulizerCombinationsThatMakeZeroLengthsAndHugeSteps)
{
    // A size below one sample with a fast speed: zero-length segments that must not loop.
    expectSoundWithBadValues ("tiny size, fast", [] (QuorilAudioProcessor& p, float v)
                              {
                                  forAllRecords (p, [&] (GranulizerSettings& g, ResonatorSettings&)
                                                 {
                                                     g.size = 0.5f;
                                                     g.sizeRnd = 1.0f;
                                                     g.speed = v;
                                                     g.density = 64;
                                                 });
                              },
                              { 1.0f, 3.0f, 1.0e6f, -1.0e6f, inf, notANumber });

    // A size beyond the ring: negative ranges of starts, lengths beyond the ring.
    expectSoundWithBadValues ("huge size with jitter", [] (QuorilAudioProcessor& p, float v)
                              {
                                  forAllRecords (p, [&] (GranulizerSettings& g, ResonatorSettings&)
                                                 {
                                                     g.size = v;
                                                     g.sizeRnd = 0.5f;
                                                     g.speedRnd = 100.0f;
                                                 });
                              },
                              { 3.0e5f, 1.0e9f, -3.0e5f, 2.0e38f });
}

TEST (EngineGuards, GranulizerIntegerSettings)
{
    std::vector<float> asFloats;
    for (int v : badInts)
        asFloats.push_back ((float) v);

    expectSoundWithBadValues ("density", [] (QuorilAudioProcessor& p, float v)
                              { forAllRecords (p, [&] (GranulizerSettings& g, ResonatorSettings&) { g.density = (int) std::max (-2.0e9f, std::min (2.0e9f, v)); }); },
                              asFloats);
    expectSoundWithBadValues ("envelope", [] (QuorilAudioProcessor& p, float v)
                              { forAllRecords (p, [&] (GranulizerSettings& g, ResonatorSettings&) { g.envelope = (int) std::max (-2.0e9f, std::min (2.0e9f, v)); }); },
                              asFloats);

    // A host's negative maximum block size must not leave processBlock without room (it hung).
    QuorilAudioProcessor p;
    p.prepareToPlay (48000.0, -32);
    juce::Random noise (4);
    enginetest::runBlocks (p, 2, 64, noise, [] (const juce::AudioBuffer<float>& b) { ASSERT_TRUE (enginetest::allFinite (b)); });
}

TEST (EngineGuards, ResonatorSettings)
{
    expectSoundWithBadValues ("freq", [] (QuorilAudioProcessor& p, float v)
                              { forAllRecords (p, [&] (GranulizerSettings&, ResonatorSettings& r) { r.freq = v; }); },
                              badFloats);
    expectSoundWithBadValues ("feed", [] (QuorilAudioProcessor& p, float v)
                              { forAllRecords (p, [&] (GranulizerSettings&, ResonatorSettings& r) { r.feed = v; }); },
                              badFloats);
}

TEST (EngineGuards, DiffuserSettings)
{
    expectSoundWithBadValues ("diffuser feed", [] (QuorilAudioProcessor& p, float v)
                              { p.diffuserSettings[0].feed = p.diffuserSettings[1].feed = v; },
                              badFloats);
    expectSoundWithBadValues ("diffuser damp", [] (QuorilAudioProcessor& p, float v)
                              { p.diffuserSettings[0].damp = p.diffuserSettings[1].damp = v; },
                              badFloats);
    expectSoundWithBadValues ("diffuser feed 1 with damp 1", [] (QuorilAudioProcessor& p, float v)
                              {
                                  p.diffuserSettings[0].feed = p.diffuserSettings[1].feed = v;
                                  p.diffuserSettings[0].damp = p.diffuserSettings[1].damp = 1.0f;
                              },
                              { 1.0f, 1.5f, -1.5f });
}

TEST (EngineGuards, GranulizerWrapAndReadStayInsideTheRing)
{
    Granulizer g;
    g.bufferLength = 1000;
    g.settings.density = 4;
    g.retrigger = 0;
    auto& grains = g.grains;
    grains[0] = { 5.0f, 10, 0, 1.0e7f, 1.0f, false, 0, 0, 0.0f, 0.0f };          // zero length, huge step
    grains[1] = { inf, 0, 500, 0.0f, 1.0f, false, 0, 0, 0.0f, 1.0f / 500.0f };   // infinite position
    grains[2] = { notANumber, 0, 500, 0.0f, 1.0f, false, 0, 0, 0.0f, 1.0f / 500.0f };   // NaN position
    grains[3] = { 20.0f, -50, 10, 0.0f, 1.0f, true, 100, -30, 0.0f, 0.1f };      // negative start, pending negative length

    for (int i = 0; i < 2000; ++i)
    {
        ASSERT_TRUE (std::isfinite (g.processSample (0.5f)));
        for (int k = 0; k < 4; ++k)
            ASSERT_FALSE (grains[k].lastPos < 0.0f || grains[k].lastPos > 999.0f) << k;
    }
}
