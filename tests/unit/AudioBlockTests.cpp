#include <gtest/gtest.h>

#include "reference/ReferenceEngine.h"
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
    float x = 0.5f, y = 0.95f, minX = 1.0f, maxX = 0.0f;
    bool xRising = true, yRising = true;
    int xTurns = 0;
    for (int step = 0; step < 200; ++step)
    {
        p.advanceTrajectory();
        xTurns += xRising != p.xRising ? 1 : 0;
        reference::ReferenceEngine::advanceAxis (x, xRising, 0.5f, 1.0f, p.parameterTable->raw (ParameterTable::xTrajRange));
        reference::ReferenceEngine::advanceAxis (y, yRising, p.parameterTable->raw (ParameterTable::yPos), 0.1f, p.parameterTable->raw (ParameterTable::yTrajRange));
        ASSERT_TRUE (p.currentX.load() == x && p.currentY.load() == y && p.xRising == xRising) << step;
        minX = std::min (minX, x);
        maxX = std::max (maxX, x);
    }
    EXPECT_FLOAT_EQ (minX, 0.4f);
    EXPECT_FLOAT_EQ (maxX, 0.6f);
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
    EXPECT_TRUE (p.currentX.load() == 0.4f && p.currentY.load() == 0.6f && ! p.xRising && ! p.yRising);

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
    EXPECT_TRUE (p.trajectoryCounter == 0 && p.xRising && p.yRising && p.dryWetValue == 0.3f);
    EXPECT_FLOAT_EQ (p.currentX.load(), 0.25f);
    EXPECT_FLOAT_EQ (p.dryWetLastTarget, 0.8f);

    // The clock runs across blocks of any size, steps at samples 0 and 278 of 500.
    PreparedProcessor one (48000.0, 512), two (48000.0, 512);
    for (auto* q : { &one.p, &two.p })
        setParameter (*q, "trajectory", 1.0f), setParameter (*q, "x_traj_amount", 0.2f);
    juce::Random n1 (1), n2 (1);
    enginetest::runBlocks (one.p, 1, 500, n1);
    for (int size : { 1, 99, 0, 278, 122 })
        enginetest::runBlocks (two.p, 1, size, n2);
    EXPECT_TRUE (one.p.trajectoryCounter == 500 - 278 && two.p.trajectoryCounter == one.p.trajectoryCounter);
    EXPECT_EQ (two.p.currentX.load(), one.p.currentX.load());
    EXPECT_FLOAT_EQ (one.p.currentX.load(), 0.5f + 2.0f * 0.2f * 0.01f);

    // Off again: the raw position is published with both directions rising.
    setParameter (one.p, "trajectory", 0.0f);
    one.p.xRising = false;
    enginetest::runBlocks (one.p, 1, 100, n1);
    EXPECT_TRUE (one.p.currentX.load() == 0.5f && one.p.xRising);
}

// Dry/wet 0 passes the input bit for bit while the poles sound (in and out gain act on the wet
// path only); with silent poles the dry signal is scaled by the smoothed amount, which glides
// towards a rising target and reaches a falling one on the second sample.
TEST (AudioBlock, DryWetMixesTheDrySignalByTheSmoothedAmount)
{
    PreparedProcessor prepared;
    auto& p = prepared.p;
    setParameter (p, "in_gain", 6.0f);
    setParameter (p, "out_gain", -40.0f);
    juce::Random noise (4);
    juce::AudioBuffer<float> input (2, 256), buffer (2, 256);
    juce::MidiBuffer midi;

    for (float target : { 0.0f, 1.0f, 0.25f })
    {
        setParameter (p, "dry_wet", target);
        float value = p.dryWetValue, lastTarget = p.dryWetLastTarget;
        for (int block = 0; block < 20; ++block)
        {
            enginetest::fillSignal (input, block * 256, noise);
            buffer.makeCopyOf (input);
            p.processBlock (buffer, midi);
            for (int i = 0; i < 256; ++i)
            {
                reference::ReferenceEngine::dryWetStep (value, lastTarget, target, p.dryWetCoefficient);
                for (int ch = 0; ch < 2; ++ch)
                    ASSERT_EQ (buffer.getSample (ch, i), (0.0f - input.getSample (ch, i)) * value + input.getSample (ch, i)) << target << " " << i;
            }
        }
        EXPECT_TRUE (target == 1.0f ? (value > 0.5f && value < 1.0f) : value == target);
        EXPECT_EQ (p.outputLevel.load() > 0.0f, target == 0.0f) << "the level measures the processed signal";
        for (auto& pole : p.granulizerSettings)
            for (auto& s : pole)
                s.density = 0;
        p.prepareToPlay (44100.0, 512); // no tails left either
    }
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
    EXPECT_TRUE (p.granulizers[1][1].settings.speed == 1.5f && p.resonatorStates[1][1].freq == 300.0f);
    EXPECT_EQ (p.granulizers[2][1].settings.speed, p.granulizerSettings[2][1].speed) << "other poles unlinked";

    setParameter (p, "stereo_link_b", 0.0f);
    enginetest::runBlocks (p, 1, 64, noise);
    EXPECT_EQ (p.granulizers[1][1].settings.speed, 0.75f);
    EXPECT_EQ (p.resonatorStates[1][1].coefficient, quoril::engine::resonatorCoefficient (600.0f, 44100.0));
    EXPECT_EQ (p.granulizerSettings[1][1].speed, 0.75f) << "the stored record is untouched";
}

TEST (AudioBlock, SampleRateChangesOddAndZeroLengthBlocks)
{
    QuorilAudioProcessor unprepared; // passes the input through
    juce::AudioBuffer<float> buffer (2, 64), copy (2, 64);
    juce::Random noise (8), random (6);
    enginetest::fillSignal (buffer, 0, noise);
    copy.makeCopyOf (buffer);
    juce::MidiBuffer midi;
    unprepared.processBlock (buffer, midi);
    EXPECT_EQ (0, std::memcmp (buffer.getReadPointer (1), copy.getReadPointer (1), 64 * sizeof (float)));

    PreparedProcessor prepared (48000.0, 512);
    auto& p = prepared.p;
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
    const int counter = p.trajectoryCounter, writeIndex = p.granulizers[0][0].writeIndex;
    enginetest::runBlocks (p, 1, 0, noise);
    EXPECT_TRUE (p.trajectoryCounter == counter && p.granulizers[0][0].writeIndex == writeIndex && p.outputLevel.load() == 0.0f);
}
