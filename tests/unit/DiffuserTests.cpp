#include <gtest/gtest.h>

#include "support/EngineTestSupport.h"

namespace
{
Diffuser makePreparedDiffuser (float baseMs = 26.0f)
{
    Diffuser d;
    d.configure (baseMs, ::powf (1.26f, 2.0f));
    d.prepare (44100.0);
    return d;
}
} // namespace

TEST (AllpassDelay, ImpulseResponse)
{
    AllpassDelay stage;
    stage.buffer.setSize (1, 100);
    stage.buffer.clear();
    stage.gain = 0.5f;
    stage.delay = 10;

    std::vector<float> out;
    for (int i = 0; i < 25; ++i)
        out.push_back (stage.processSample (i == 0 ? 1.0f : 0.0f));

    EXPECT_EQ (out[0], -0.5f);           // -g
    EXPECT_EQ (out[10], 1.0f - 0.25f);   // 1 - g^2
    EXPECT_EQ (out[20], 0.5f * 0.75f);   // g (1 - g^2)
    EXPECT_EQ (out[5], 0.0f);
    EXPECT_EQ (stage.writeIndex, 25);
}

TEST (AllpassDelay, DelayLongerThanTheLineWrapsAroundIt)
{
    AllpassDelay stage;
    stage.buffer.setSize (1, 8);
    stage.buffer.clear();
    stage.gain = 0.0f;
    stage.delay = 8 * 3 + 2; // reads two samples back, wrapped three times

    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (stage.processSample ((float) (i + 1)), i >= 2 ? (float) (i - 1) : 0.0f) << i;

    EXPECT_EQ (stage.readIndex(), 4);
}

TEST (Diffuser, WithoutFeedbackItIsTheThreeStagesInSeries)
{
    auto d = makePreparedDiffuser();
    d.feed = 0.0f;
    d.damp = 1.0f;
    auto stages = makePreparedDiffuser();

    juce::Random random (11);
    for (int i = 0; i < 5000; ++i)
    {
        const float s = random.nextFloat() - 0.5f;
        const float expected = stages.stages[2].processSample (stages.stages[1].processSample (stages.stages[0].processSample (s)));
        ASSERT_EQ (d.processSample (s), expected) << i;
    }
}

TEST (Diffuser, FeedbackAndDampingStep)
{
    auto d = makePreparedDiffuser();
    d.feed = 0.5f;
    d.damp = 0.25f;
    d.lastOut = 0.8f;
    d.feedbackState = 0.2f;

    auto stages = makePreparedDiffuser();
    const float fb = 0.8f * 0.5f * 0.25f + (1.0f - 0.25f) * 0.2f;
    const float in = (1.0f - 0.5f * 0.65f) * 0.3f + fb;
    const float expected = stages.stages[2].processSample (stages.stages[1].processSample (stages.stages[0].processSample (in)));

    EXPECT_EQ (d.processSample (0.3f), expected);
    EXPECT_EQ (d.feedbackState, fb);
    EXPECT_EQ (d.lastOut, expected);

    // damp 0: the feedback state never changes.
    d.damp = 0.0f;
    d.processSample (0.9f);
    EXPECT_EQ (d.feedbackState, fb);
}

TEST (Diffuser, BlockProcessingMatchesSampleProcessing)
{
    auto a = makePreparedDiffuser (26.1f);
    auto b = makePreparedDiffuser (26.1f);
    a.feed = b.feed = 0.7f;
    a.damp = b.damp = 0.7f;

    juce::Random random (5);
    std::vector<float> io (3000);
    std::vector<float> expected (io.size());
    for (size_t i = 0; i < io.size(); ++i)
    {
        io[i] = random.nextFloat() - 0.5f;
        expected[i] = a.processSample (io[i]);
    }

    for (size_t start = 0; start < io.size(); start += 500)
        b.processBlock (io.data() + start, 500);

    for (size_t i = 0; i < io.size(); ++i)
        ASSERT_EQ (io[i], expected[i]) << i;
}
