#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"

using enginetest::setParameter;

namespace
{
struct PreparedProcessor
{
    explicit PreparedProcessor (double rate = 44100.0, int blockSize = 512)
    {
        p.prepareToPlay (rate, blockSize);
        juce::Random random (42);
        enginetest::applyAudibleSettings (p, random);
    }

    QuorilAudioProcessor p;
};
} // namespace

TEST (Trajectory, TravelsBackAndForthWithinTheRangeAndTurnsAtItsBounds)
{
    QuorilAudioProcessor p;
    setParameter (p, "x_traj_range", 0.1f);
    setParameter (p, "x_traj_amount", 1.0f);
    setParameter (p, "y_pos", 0.95f);
    setParameter (p, "y_traj_range", 0.1f);
    p.currentX = 0.5f;
    p.currentY = 0.95f;

    float minX = 1.0f, maxX = 0.0f, maxY = 0.0f;
    int xTurns = 0;
    for (int step = 0; step < 200; ++step)
    {
        const bool wasRising = p.xRising;
        const float before = p.currentX;
        p.advanceTrajectory();
        if (p.xRising == wasRising)
            ASSERT_NEAR (std::abs (p.currentX - before), 0.01f, 1.0e-6f) << step;
        xTurns += p.xRising != wasRising ? 1 : 0;
        minX = std::min (minX, p.currentX.load());
        maxX = std::max (maxX, p.currentX.load());
        maxY = std::max (maxY, p.currentY.load());
    }
    EXPECT_FLOAT_EQ (minX, 0.4f);
    EXPECT_FLOAT_EQ (maxX, 0.6f);
    EXPECT_EQ (maxY, 1.0f);
    EXPECT_GE (xTurns, 9);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.xMin.load(), 0.4f);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.xMax.load(), 0.6f);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.yMin.load(), 0.85f);
    EXPECT_EQ (p.trajectoryBounds.yMax.load(), 1.0f);

    // A point outside a moved range jumps to the bound and turns ...
    setParameter (p, "y_pos", 0.5f);
    p.currentX = 0.1f;
    p.currentY = 0.9f;
    p.xRising = p.yRising = true;
    p.advanceTrajectory();
    EXPECT_FLOAT_EQ (p.currentX.load(), 0.4f);
    EXPECT_FALSE (p.xRising);
    EXPECT_FLOAT_EQ (p.currentY.load(), 0.6f);
    EXPECT_FALSE (p.yRising);

    // ... while landing exactly on a bound turns only at the next step.
    setParameter (p, "x_pos", 0.75f);
    setParameter (p, "x_traj_range", 0.25f);
    setParameter (p, "x_traj_amount", 0.5f);
    const float step = p.parameterTable->raw (ParameterTable::xTrajAmount) * 0.01f;
    p.currentX = 1.0f - step;
    p.xRising = true;
    ASSERT_EQ (p.currentX.load() + step, 1.0f);
    p.advanceTrajectory();
    EXPECT_TRUE (p.currentX.load() == 1.0f && p.xRising);
    p.advanceTrajectory();
    EXPECT_TRUE (p.currentX.load() == 1.0f && ! p.xRising);
}

TEST (Trajectory, PreparationFiguresAndTheClockAcrossBlocks)
{
    QuorilAudioProcessor p;
    for (auto [rate, period, coefficient] : { std::tuple { 44100.0, 256, 0.99962217f }, std::tuple { 48000.0, 278, 0.99965286f },
                                              std::tuple { 96000.0, 557, 0.99982643f } })
    {
        p.prepareToPlay (rate, 512);
        EXPECT_EQ (p.trajectoryPeriod, period);
        EXPECT_FLOAT_EQ (p.dryWetCoefficient, coefficient);
    }

    // A preparation publishes the position, resets the clock and keeps the crossfade where it is.
    setParameter (p, "x_pos", 0.25f);
    setParameter (p, "dry_wet", 0.8f);
    p.trajectoryCounter = 17;
    p.xRising = p.yRising = false;
    p.dryWetValue = 0.3f;
    p.prepareToPlay (44100.0, 256);
    EXPECT_EQ (p.trajectoryCounter, 0);
    EXPECT_FLOAT_EQ (p.currentX.load(), 0.25f);
    EXPECT_TRUE (p.xRising && p.yRising);
    EXPECT_FLOAT_EQ (p.dryWetLastTarget, 0.8f);
    EXPECT_EQ (p.dryWetValue, 0.3f);

    // The clock runs across blocks of any size, steps at samples 0 and 278 of 500.
    PreparedProcessor one (48000.0, 512), two (48000.0, 512);
    for (auto* q : { &one.p, &two.p })
        setParameter (*q, "trajectory", 1.0f), setParameter (*q, "x_traj_amount", 0.2f);
    juce::Random n1 (1), n2 (1);
    enginetest::runBlocks (one.p, 1, 500, n1);
    for (int size : { 1, 99, 0, 278, 122 })
        enginetest::runBlocks (two.p, 1, size, n2);
    EXPECT_EQ (one.p.trajectoryCounter, 500 - 278);
    EXPECT_EQ (two.p.trajectoryCounter, one.p.trajectoryCounter);
    EXPECT_EQ (two.p.currentX.load(), one.p.currentX.load());
    EXPECT_FLOAT_EQ (one.p.currentX.load(), 0.5f + 2.0f * 0.2f * 0.01f);

    // Off again: the raw position is published with both directions rising.
    setParameter (one.p, "trajectory", 0.0f);
    one.p.xRising = false;
    enginetest::runBlocks (one.p, 1, 100, n1);
    EXPECT_EQ (one.p.currentX.load(), 0.5f);
    EXPECT_TRUE (one.p.xRising);
}

TEST (AudioBlock, DryWetZeroPassesTheInputBitForBit)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    setParameter (p, "dry_wet", 0.0f);
    setParameter (p, "in_gain", 6.0f);
    setParameter (p, "out_gain", -40.0f);
    p.prepareToPlay (44100.0, 512);

    juce::Random noise (9);
    juce::AudioBuffer<float> input (2, 512), buffer (2, 512);
    juce::MidiBuffer midi;
    for (int block = 0; block < 20; ++block)
    {
        enginetest::fillSignal (input, block * 512, noise);
        buffer.makeCopyOf (input);
        p.processBlock (buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_EQ (0, std::memcmp (buffer.getReadPointer (ch), input.getReadPointer (ch), 512 * sizeof (float))) << block;
    }
    EXPECT_GT (p.outputLevel.load(), 0.0f) << "the level measures the processed signal";
}

TEST (AudioBlock, SilentPolesLeaveTheDrySignalScaledByTheSmoothedAmount)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    for (auto& pole : p.granulizerSettings)
        for (auto& s : pole)
            s.density = 0;

    const float a = p.dryWetCoefficient;
    juce::Random noise (4);
    juce::AudioBuffer<float> input (2, 256), buffer (2, 256);
    juce::MidiBuffer midi;

    // Falling to 0.25 the amount drops at once; rising to 1 it glides.
    for (float target : { 0.25f, 1.0f })
    {
        setParameter (p, "dry_wet", target);
        float value = p.dryWetValue, lastTarget = p.dryWetLastTarget;
        for (int block = 0; block < 12; ++block)
        {
            enginetest::fillSignal (input, block * 256, noise);
            buffer.makeCopyOf (input);
            p.processBlock (buffer, midi);
            for (int i = 0; i < 256; ++i)
            {
                const bool rising = target >= lastTarget;
                value = (float) ((1.0 - (double) a) * (double) lastTarget + (double) (a * value));
                lastTarget = target;
                if ((rising && value > target) || (! rising && value < target))
                    value = target;
                for (int ch = 0; ch < 2; ++ch)
                    ASSERT_EQ (buffer.getSample (ch, i), (0.0f - input.getSample (ch, i)) * value + input.getSample (ch, i)) << i;
            }
        }
        EXPECT_TRUE (target == 1.0f ? (value > 0.25f && value < 1.0f) : value == 0.25f);
    }
    EXPECT_EQ (p.outputLevel.load(), 0.0f);
}

TEST (AudioBlock, StereoLinkRunsTheRightChannelFromTheLeftRecords)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    juce::Random noise (5);
    p.granulizerSettings[1][0].speed = 1.5f;
    p.granulizerSettings[1][1].speed = 0.75f;
    p.resonatorSettings[1][0].freq = 300.0f;
    p.resonatorSettings[1][1].freq = 600.0f;

    setParameter (p, "stereo_link_b", 1.0f);
    enginetest::runBlocks (p, 1, 64, noise);
    EXPECT_EQ (p.granulizers[1][1].settings.speed, 1.5f);
    EXPECT_EQ (p.resonatorStates[1][1].freq, 300.0f);
    EXPECT_EQ (p.granulizers[2][1].settings.speed, p.granulizerSettings[2][1].speed) << "other poles unlinked";

    setParameter (p, "stereo_link_b", 0.0f);
    enginetest::runBlocks (p, 1, 64, noise);
    EXPECT_EQ (p.granulizers[1][1].settings.speed, 0.75f);
    EXPECT_EQ (p.resonatorStates[1][1].coefficient, quoril::engine::resonatorCoefficient (600.0f, 44100.0));
    EXPECT_EQ (p.granulizerSettings[1][1].speed, 0.75f) << "the stored record is untouched";
}

TEST (AudioBlock, SampleRateChangesOddAndZeroLengthBlocks)
{
    // Unprepared, the input passes through.
    {
        QuorilAudioProcessor fresh;
        juce::AudioBuffer<float> buffer (2, 64), copy (2, 64);
        juce::Random noise (1);
        enginetest::fillSignal (buffer, 0, noise);
        copy.makeCopyOf (buffer);
        juce::MidiBuffer midi;
        fresh.processBlock (buffer, midi);
        EXPECT_EQ (0, std::memcmp (buffer.getReadPointer (1), copy.getReadPointer (1), 64 * sizeof (float)));
    }

    PreparedProcessor prepared (48000.0, 512);
    auto& p = prepared.p;
    juce::Random noise (8), random (6);
    auto finite = [] (const juce::AudioBuffer<float>& b) { ASSERT_TRUE (enginetest::allFinite (b)); };
    enginetest::runBlocks (p, 20, 512, noise, finite);
    EXPECT_GT (p.outputLevel.load(), 0.0f);

    p.prepareToPlay (44100.0, 128);
    enginetest::runBlocks (p, 20, 128, noise, finite);
    enginetest::runBlocks (p, 3, 1, noise, finite);
    enginetest::applyAudibleSettings (p, random);
    enginetest::runBlocks (p, 20, 128, noise, finite);
    p.prepareToPlay (96000.0, 1024);
    enginetest::runBlocks (p, 20, 1000, noise, finite);
    enginetest::runBlocks (p, 2, 5000, noise, finite); // longer than announced: in stretches
    ASSERT_GT (p.outputLevel.load(), 0.0f);

    // A zero-length block moves no clock and no ring, and measures silence.
    const int counter = p.trajectoryCounter;
    const auto writeIndex = p.granulizers[0][0].writeIndex;
    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    p.processBlock (empty, midi);
    EXPECT_EQ (p.trajectoryCounter, counter);
    EXPECT_EQ (p.granulizers[0][0].writeIndex, writeIndex);
    EXPECT_EQ (p.outputLevel.load(), 0.0f);
}
