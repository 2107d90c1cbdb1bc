#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"

namespace
{
std::vector<int> delaysOf (const Diffuser& d)
{
    return { d.stages[0].delay, d.stages[1].delay, d.stages[2].delay };
}
} // namespace

TEST (EngineBuild, RecordsEnginesAndDiffusersPerPoleAndChannel)
{
    QuorilAudioProcessor p;
    ASSERT_EQ (p.granulizers.size(), 4u);
    ASSERT_EQ (p.resonatorStates.size(), 4u);
    ASSERT_EQ (p.granulizerSettings.size(), 4u);
    ASSERT_EQ (p.resonatorSettings.size(), 4u);

    for (int pole = 0; pole < 4; ++pole)
    {
        ASSERT_EQ (p.granulizers[(size_t) pole].size(), 2u);
        ASSERT_EQ (p.resonatorStates[(size_t) pole].size(), 2u);
        ASSERT_EQ (p.granulizerSettings[(size_t) pole].size(), 2u);
        ASSERT_EQ (p.resonatorSettings[(size_t) pole].size(), 2u);

        for (int ch = 0; ch < 2; ++ch)
        {
            const auto& g = p.granulizers[(size_t) pole][(size_t) ch];
            EXPECT_EQ (g.bufferLength, 176400);
            EXPECT_EQ (g.buffer.getNumSamples(), 176400);
            EXPECT_EQ (g.retrigger, 1);
            EXPECT_EQ (g.settings.density, 8);
            EXPECT_EQ (g.settings.size, 441.0f);

            const auto& r = p.resonatorStates[(size_t) pole][(size_t) ch];
            EXPECT_EQ (r.sampleRate, 44100.0);
            EXPECT_EQ (r.coefficient, 0.9f);
            EXPECT_EQ (r.lastOut, 0.0f);

            // Not touched by the random settings.
            EXPECT_EQ (p.granulizerSettings[(size_t) pole][(size_t) ch].outGain, 1.0f);
            EXPECT_FALSE (p.granulizerSettings[(size_t) pole][(size_t) ch].freeze);
        }
    }

    EXPECT_EQ (p.diffuserSettings[0].damp, 0.7f);
    EXPECT_EQ (p.diffuserSettings[1].damp, 0.7f);
}

TEST (EngineBuild, DiffuserStagesAtConstruction)
{
    QuorilAudioProcessor p;
    EXPECT_EQ (delaysOf (*p.diffusers[0]), (std::vector<int> { 1146, 1444, 1820 }));
    EXPECT_EQ (delaysOf (*p.diffusers[1]), (std::vector<int> { 1151, 1450, 1827 }));
    EXPECT_EQ (p.diffusers[0]->stageDelaysMs[1], 26.0f * 1.26f);
    EXPECT_EQ (p.diffusers[1]->stageDelaysMs[2], 1.5875999927520752f * 26.1f);
    EXPECT_EQ (p.diffusers[1]->stages[2].gain, 0.76f);
    EXPECT_EQ (p.diffusers[0]->stages[0].buffer.getNumSamples(), 0) << "no delay line before preparation";
}

TEST (EnginePreparation, RescalesOnlyWhenTheRateChanges)
{
    QuorilAudioProcessor p;
    p.granulizers[0][0].grains[0].length = 441;

    p.prepareToPlay (44100.0, 512);
    EXPECT_EQ (p.granulizers[0][0].bufferLength, 176400);
    EXPECT_EQ (p.granulizers[0][0].grains[0].length, 441);
    EXPECT_EQ (delaysOf (*p.diffusers[0]), (std::vector<int> { 1146, 1444, 1820 }));
    EXPECT_EQ (p.diffusers[0]->stages[0].buffer.getNumSamples(), 44100);

    p.prepareToPlay (48000.0, 512);
    for (const auto& pole : p.granulizers)
        for (const auto& g : pole)
        {
            EXPECT_EQ (g.bufferLength, 192001);
            EXPECT_EQ (g.buffer.getNumSamples(), 192001);
            EXPECT_EQ (g.sampleRate, 48000.0);
        }
    EXPECT_EQ (p.granulizers[0][0].grains[0].length, 481);
    EXPECT_EQ (p.granulizers[0][0].grains[1].length, 2);
    EXPECT_EQ (p.granulizers[0][0].grains[0].invLength, 1.0f / 481.0f);
    EXPECT_EQ (delaysOf (*p.diffusers[0]), (std::vector<int> { 1248, 1572, 1981 }));
    EXPECT_EQ (delaysOf (*p.diffusers[1]), (std::vector<int> { 1253, 1579, 1989 }));
    EXPECT_EQ (p.diffusers[1]->stages[0].buffer.getNumSamples(), 48000);

    p.prepareToPlay (48000.0, 256); // same rate: nothing rescaled
    EXPECT_EQ (p.granulizers[1][1].bufferLength, 192001);
    EXPECT_EQ (delaysOf (*p.diffusers[0]), (std::vector<int> { 1248, 1572, 1981 }));

    p.prepareToPlay (44100.0, 512); // each change truncates anew
    EXPECT_EQ (p.granulizers[3][0].bufferLength, 176401);
    EXPECT_EQ (p.diffusers[0]->stages[0].delay, 1147);

    QuorilAudioProcessor q;
    q.prepareToPlay (88200.0, 512);
    EXPECT_EQ (q.granulizers[0][0].bufferLength, 352801);
    QuorilAudioProcessor r;
    r.prepareToPlay (96000.0, 512);
    EXPECT_EQ (r.granulizers[2][1].bufferLength, 384001);
}

TEST (EnginePreparation, ClearsTheSignalMemory)
{
    QuorilAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    juce::Random noise (3);
    enginetest::runBlocks (p, 4, 512, noise);

    auto& g = p.granulizers[2][1];
    ASSERT_NE (g.writeIndex, 0);
    g.grains[3].start = 77;
    g.grains[3].newStart = 99;
    g.grains[3].pos = 123.0f;
    p.resonatorStates[1][0].allpassStates[4] = 0.5;
    p.resonatorStates[1][0].lastOut = 0.5f;
    p.dcBlockers[1].previousOutput = 0.25;
    p.diffusers[0]->lastOut = 0.1f;
    p.diffusers[0]->feedbackState = 0.1f;

    p.prepareToPlay (44100.0, 512);
    EXPECT_EQ (g.writeIndex, 0);
    EXPECT_EQ (g.buffer.getMagnitude (0, 0, g.bufferLength), 0.0f);
    EXPECT_EQ (g.grains[3].start, 0);
    EXPECT_EQ (g.grains[3].newStart, 0);
    EXPECT_EQ (g.grains[3].pos, 123.0f) << "play positions stay";
    EXPECT_EQ (p.resonatorStates[1][0].allpassStates[4], 0.0);
    EXPECT_EQ (p.resonatorStates[1][0].lastOut, 0.0f);
    EXPECT_EQ (p.dcBlockers[1].previousOutput, 0.0);
    EXPECT_EQ (p.diffusers[0]->lastOut, 0.0f);
    EXPECT_EQ (p.diffusers[0]->feedbackState, 0.0f);
    EXPECT_EQ (p.diffusers[0]->stages[2].buffer.getMagnitude (0, 0, 44100), 0.0f);
    EXPECT_EQ (p.diffusers[0]->stages[2].writeIndex, 0);
    EXPECT_DOUBLE_EQ (p.dcBlockers[0].coefficient, 1.0 - 125.66370614359172 / 44100.0);
    EXPECT_NEAR (p.dcBlockers[0].coefficient, 0.99715048, 1e-8);
}

TEST (ParameterRamps, CreatedAtTheParameterValuesAndPrepared)
{
    QuorilAudioProcessor p;
    for (auto* ramp : { p.xPosRamp.get(), p.yPosRamp.get(), p.diffRamps[0].get(), p.diffRamps[3].get() })
    {
        ASSERT_NE (ramp, nullptr);
        EXPECT_EQ (ramp->smoother.getCurrentValue(), 0.5f);
        EXPECT_EQ (ramp->buffer.getNumSamples(), 512);
    }

    EXPECT_EQ (*p.parameterGroups.groups[0],
               juce::StringArray ({ "x_traj_amount", "x_traj_range", "y_traj_amount", "y_traj_range" }));

    p.prepareToPlay (44100.0, 1000);
    EXPECT_EQ (p.diffRamps[2]->buffer.getNumSamples(), 1032);

    // Before a preparation a new target is taken at once.
    ParameterRamp fresh (0.5f);
    fresh.process (1.0f, 4);
    EXPECT_EQ (fresh.values()[0], 1.0f);
}

TEST (ParameterRamps, StepCountsAndTheValuesOfARamp)
{
    for (auto [rate, steps] : { std::pair { 44100.0, 2646 }, std::pair { 48000.0, 2880 } })
    {
        ParameterRamp ramp (0.5f);
        ramp.prepare (rate, 0.06, 512);

        // Reaches exactly 1.0 at the last step, across blocks.
        int reachedAt = -1, counted = 0;
        float previous = 0.5f;
        for (int block = 0; block < 8 && reachedAt < 0; ++block)
        {
            ramp.process (1.0f, 512);
            for (int i = 0; i < 512; ++i, ++counted)
            {
                const float v = ramp.values()[i];
                EXPECT_GE (v, previous);
                previous = v;
                if (v == 1.0f && reachedAt < 0)
                    reachedAt = counted + 1;
            }
        }
        EXPECT_EQ (reachedAt, steps) << rate;
        EXPECT_FLOAT_EQ (ramp.smoother.getCurrentValue(), 1.0f);
    }

    // The same target goes on with the ramp; a new one starts a new ramp from where it is.
    ParameterRamp ramp (0.0f);
    ramp.prepare (44100.0, 0.06, 64);
    ramp.process (1.0f, 10);
    const float afterTen = ramp.values()[9];
    EXPECT_FLOAT_EQ (afterTen, 10.0f / 2646.0f);
    ramp.process (1.0f, 1);
    EXPECT_FLOAT_EQ (ramp.values()[0], 11.0f / 2646.0f);
    ramp.process (0.0f, 1);
    EXPECT_LT (ramp.values()[0], 11.0f / 2646.0f);

    // A preparation ends a ramp at its target.
    ramp.prepare (44100.0, 0.06, 64);
    EXPECT_EQ (ramp.smoother.getCurrentValue(), 0.0f);
}

TEST (Resonator, CoefficientsForTheRate)
{
    using quoril::engine::resonatorCoefficient;
    EXPECT_EQ (resonatorCoefficient (80.0f, 44100.0), 0.99274379f);
    EXPECT_EQ (resonatorCoefficient (220.0f, 44100.0), 0.98004538f);
    EXPECT_EQ (resonatorCoefficient (960.0f, 44100.0), 0.91292518f);
    EXPECT_EQ (resonatorCoefficient (11025.0f, 44100.0), 0.0f);
    EXPECT_EQ (resonatorCoefficient (20000.0f, 44100.0), 0.0f);
    EXPECT_EQ (resonatorCoefficient (-5.0f, 44100.0), 1.0f);
    EXPECT_EQ (resonatorCoefficient (std::numeric_limits<float>::quiet_NaN(), 44100.0), 0.0f);
}

TEST (Resonator, SectionsAreOneSampleDelaysAtCoefficientZero)
{
    ResonatorState r;
    r.coefficient = 0.0f;
    r.feed = 0.0f;

    // With c = 0 each section outputs its previous input: six samples of delay.
    std::vector<float> outs;
    for (int i = 0; i < 8; ++i)
        outs.push_back (quoril::engine::processResonator (r, i == 0 ? 1.0f : 0.0f));

    for (int i = 0; i < 8; ++i)
        EXPECT_EQ (outs[(size_t) i], i == 6 ? std::sin (0.9f * std::sin (1.0f)) : 0.0f) << i;
}
