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

float advanceAxis (float current, bool& rising, float pos, float rate, float range)
{
    const float step = rate * 0.01f;
    const float next = rising ? current + step : current - step;
    const float lo = juce::jlimit (0.0f, 1.0f, pos - range);
    const float hi = juce::jlimit (0.0f, 1.0f, pos + range);
    if (lo > next || next > hi)
        rising = ! rising;
    return lo > next ? lo : std::min (hi, next);
}
} // namespace

//==============================================================================
TEST (Trajectory, TravelsBackAndForthWithinTheRange)
{
    QuorilAudioProcessor p;
    setParameter (p, "x_pos", 0.5f);
    setParameter (p, "x_traj_range", 0.1f);
    setParameter (p, "x_traj_amount", 1.0f);
    setParameter (p, "y_pos", 0.95f);
    setParameter (p, "y_traj_range", 0.1f);
    setParameter (p, "y_traj_amount", 0.5f);
    const auto& table = *p.parameterTable;
    const float xPos = table.raw (ParameterTable::xPos), yPos = table.raw (ParameterTable::yPos);
    const float xRate = table.raw (ParameterTable::xTrajAmount), yRate = table.raw (ParameterTable::yTrajAmount);
    const float xRange = table.raw (ParameterTable::xTrajRange), yRange = table.raw (ParameterTable::yTrajRange);
    p.currentX = xPos;
    p.currentY = yPos;

    float minX = 1.0f, maxX = 0.0f;
    int xTurns = 0;
    bool lastRising = p.xRising;
    float expectedX = xPos, expectedY = yPos;
    bool xr = true, yr = true;

    for (int step = 0; step < 200; ++step)
    {
        p.advanceTrajectory();
        expectedX = advanceAxis (expectedX, xr, xPos, xRate, xRange);
        expectedY = advanceAxis (expectedY, yr, yPos, yRate, yRange);
        ASSERT_EQ (p.currentX.load(), expectedX);
        ASSERT_EQ (p.currentY.load(), expectedY);
        minX = std::min (minX, p.currentX.load());
        maxX = std::max (maxX, p.currentX.load());
        xTurns += p.xRising != lastRising ? 1 : 0;
        lastRising = p.xRising;
    }

    EXPECT_FLOAT_EQ (minX, 0.4f);
    EXPECT_FLOAT_EQ (maxX, 0.6f);
    EXPECT_GE (xTurns, 9);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.xMin.load(), 0.4f);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.xMax.load(), 0.6f);
    EXPECT_FLOAT_EQ (p.trajectoryBounds.yMin.load(), 0.85f);
    EXPECT_EQ (p.trajectoryBounds.yMax.load(), 1.0f);
}

TEST (Trajectory, PointOutsideAMovedRangeJumpsToItsBoundAndTurns)
{
    QuorilAudioProcessor p;
    setParameter (p, "x_pos", 0.5f);
    setParameter (p, "x_traj_range", 0.1f);
    setParameter (p, "y_pos", 0.5f);
    setParameter (p, "y_traj_range", 0.1f);

    p.currentX = 0.1f; // below the range, rising
    p.currentY = 0.9f; // above the range, rising
    p.xRising = p.yRising = true;
    p.advanceTrajectory();
    EXPECT_FLOAT_EQ (p.currentX.load(), 0.4f);
    EXPECT_FALSE (p.xRising);
    EXPECT_FLOAT_EQ (p.currentY.load(), 0.6f);
    EXPECT_FALSE (p.yRising);

    // Landing exactly on a bound does not turn.
    setParameter (p, "x_pos", 0.75f);
    setParameter (p, "x_traj_range", 0.25f);
    setParameter (p, "x_traj_amount", 0.5f);
    const float step = p.parameterTable->raw (ParameterTable::xTrajAmount) * 0.01f;
    p.currentX = 1.0f - step;
    p.xRising = true;
    ASSERT_EQ (p.currentX.load() + step, 1.0f);
    p.advanceTrajectory();
    EXPECT_EQ (p.currentX.load(), 1.0f);
    EXPECT_TRUE (p.xRising);
    p.advanceTrajectory();
    EXPECT_EQ (p.currentX.load(), 1.0f);
    EXPECT_FALSE (p.xRising);
}

TEST (Trajectory, ClockRunsAcrossBlocksAtThePeriod)
{
    PreparedProcessor one (48000.0, 512), two (48000.0, 512);
    for (auto* p : { &one.p, &two.p })
    {
        setParameter (*p, "trajectory", 1.0f);
        setParameter (*p, "x_traj_amount", 0.2f);
    }
    ASSERT_EQ (one.p.trajectoryPeriod, 278);

    juce::Random n1 (1), n2 (1);
    enginetest::runBlocks (one.p, 1, 500, n1);
    for (int size : { 1, 99, 0, 278, 122 })
        enginetest::runBlocks (two.p, 1, size, n2);

    // 500 samples: steps at samples 0 and 278.
    EXPECT_EQ (one.p.trajectoryCounter, 500 - 278);
    EXPECT_EQ (two.p.trajectoryCounter, one.p.trajectoryCounter);
    EXPECT_EQ (two.p.currentX.load(), one.p.currentX.load());
    EXPECT_FLOAT_EQ (one.p.currentX.load(), 0.5f + 2.0f * 0.2f * 0.01f);
    EXPECT_EQ (one.p.trajectoryX, one.p.currentX.load());

    // Off again: the raw position is published with both directions rising.
    setParameter (one.p, "trajectory", 0.0f);
    one.p.xRising = false;
    enginetest::runBlocks (one.p, 1, 100, n1);
    EXPECT_EQ (one.p.currentX.load(), 0.5f);
    EXPECT_TRUE (one.p.xRising);
}

//==============================================================================
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
            for (int i = 0; i < 512; ++i)
                ASSERT_EQ (buffer.getSample (ch, i), input.getSample (ch, i)) << block << " " << ch << " " << i;
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

    setParameter (p, "dry_wet", 0.25f);
    const float a = p.dryWetCoefficient;
    float value = p.dryWetValue, lastTarget = p.dryWetLastTarget;

    juce::Random noise (4);
    juce::AudioBuffer<float> input (2, 256), buffer (2, 256);
    juce::MidiBuffer midi;

    for (int block = 0; block < 12; ++block)
    {
        enginetest::fillSignal (input, block * 256, noise);
        buffer.makeCopyOf (input);
        p.processBlock (buffer, midi);

        const float target = 0.25f;
        for (int i = 0; i < 256; ++i)
        {
            const bool rising = target >= lastTarget;
            value = (float) ((1.0 - (double) a) * (double) lastTarget + (double) (a * value));
            lastTarget = target;
            if ((rising && value > target) || (! rising && value < target))
                value = target;

            for (int ch = 0; ch < 2; ++ch)
            {
                const float dry = input.getSample (ch, i);
                ASSERT_EQ (buffer.getSample (ch, i), (0.0f - dry) * value + dry) << block << " " << i;
            }
        }
    }

    EXPECT_EQ (p.outputLevel.load(), 0.0f);
}

TEST (AudioBlock, DryWetGlidesUpAndDropsAtOnce)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    juce::Random noise (2);
    setParameter (p, "dry_wet", 1.0f);
    enginetest::runBlocks (p, 1, 1, noise);
    EXPECT_EQ (p.dryWetValue, 0.5f) << "the first sample after the change uses the old target";
    enginetest::runBlocks (p, 1, 2645, noise);
    EXPECT_NEAR (p.dryWetValue, 0.5f + 0.5f * (1.0f - std::exp (-1.0f)), 0.002f);

    setParameter (p, "dry_wet", 0.0f);
    enginetest::runBlocks (p, 1, 1, noise);
    EXPECT_GT (p.dryWetValue, 0.5f);
    enginetest::runBlocks (p, 1, 1, noise);
    EXPECT_EQ (p.dryWetValue, 0.0f);
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

    // Released: the right channel's own records take effect again.
    setParameter (p, "stereo_link_b", 0.0f);
    enginetest::runBlocks (p, 1, 64, noise);
    EXPECT_EQ (p.granulizers[1][1].settings.speed, 0.75f);
    EXPECT_EQ (p.resonatorStates[1][1].freq, 600.0f);
    EXPECT_EQ (p.resonatorStates[1][1].coefficient, quoril::engine::resonatorCoefficient (600.0f, 44100.0));
    EXPECT_EQ (p.granulizerSettings[1][1].speed, 0.75f) << "the stored record is untouched";
}

TEST (AudioBlock, SampleRateChangesAndOddBlockSizes)
{
    PreparedProcessor prepared (48000.0, 512);
    auto& p = prepared.p;
    juce::Random noise (8);
    auto finite = [] (const juce::AudioBuffer<float>& b) { ASSERT_TRUE (enginetest::allFinite (b)); };

    enginetest::runBlocks (p, 20, 512, noise, finite);
    EXPECT_GT (p.outputLevel.load(), 0.0f);

    p.prepareToPlay (44100.0, 128);
    enginetest::runBlocks (p, 20, 128, noise, finite);
    enginetest::runBlocks (p, 3, 1, noise, finite);
    juce::Random random (6);
    enginetest::applyAudibleSettings (p, random);
    enginetest::runBlocks (p, 20, 128, noise, finite);

    p.prepareToPlay (96000.0, 1024);
    enginetest::runBlocks (p, 20, 1000, noise, finite);

    // A block longer than the host announced is processed in stretches.
    enginetest::runBlocks (p, 2, 5000, noise, finite);
}

TEST (AudioBlock, ZeroLengthBlocks)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    juce::Random noise (8);
    enginetest::runBlocks (p, 100, 512, noise);
    ASSERT_GT (p.outputLevel.load(), 0.0f);
    const int counter = p.trajectoryCounter;
    const auto writeIndex = p.granulizers[0][0].writeIndex;

    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    p.processBlock (empty, midi);

    EXPECT_EQ (p.trajectoryCounter, counter);
    EXPECT_EQ (p.granulizers[0][0].writeIndex, writeIndex);
    EXPECT_EQ (p.outputLevel.load(), 0.0f);
}

TEST (AudioBlock, UnpreparedProcessorPassesTheInputThrough)
{
    QuorilAudioProcessor p;
    juce::AudioBuffer<float> buffer (2, 64);
    juce::Random noise (1);
    enginetest::fillSignal (buffer, 0, noise);
    juce::AudioBuffer<float> copy (buffer);
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);

    for (int i = 0; i < 64; ++i)
        EXPECT_EQ (buffer.getSample (1, i), copy.getSample (1, i));
}
