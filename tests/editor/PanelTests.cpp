// The generate panel, the global controls and the trajectory controls: what their buttons and
// knobs write, and what the 100 ms refresh reads back.

#include "EditorTestSupport.h"

#include <cmath>
#include <limits>

#include "editor/EditorShared.h"
#include "editor/EditorsPanel.h"
#include "editor/GlobalControls.h"
#include "editor/TrajectoryControls.h"
#include "editor/WorldControls.h"

using namespace editortest;

namespace
{
std::vector<float> allParameterValues (QuorilAudioProcessor& p)
{
    std::vector<float> values;
    for (int i = 0; i < ParameterTable::numParameters; ++i)
        values.push_back (parameterAt (p, i).getValue());
    return values;
}

// Values no random draw produces, so that any draw shows as a change.
void markAllRecords (QuorilAudioProcessor& p)
{
    for (auto& pole : p.granulizerSettings)
        for (auto& g : pole)
        {
            setGrainSize (g, -1.0, p.sampleRate);
            g.speed = g.sizeRnd = g.speedRnd = g.ampRnd = -1.0f;
        }
    for (auto& pole : p.resonatorSettings)
        for (auto& r : pole)
            r.freq = r.feed = -1.0f;
    for (auto& d : p.diffuserSettings)
        d.feed = -1.0f;
}
} // namespace

//==============================================================================
// A corner button draws new settings for its pole only, both channels on their own; the middle
// button for every pole and both diffusers. Neither moves a host parameter nor stays down.
TEST (Panels, RegenerateButtonsDrawOnlyTheirPolesSettings)
{
    for (int button = 0; button < 5; ++button)
    {
        SCOPED_TRACE (button == 4 ? "all engines" : "corner " + std::to_string (button));
        QuorilAudioProcessor p, untouched;
        quoril::WorldControls world (p);
        markAllRecords (p);
        markAllRecords (untouched);
        const auto parametersBefore = allParameterValues (p);
        auto& clicked = button == 4 ? *world.regenerateAllButton : *world.regenerateButtons[(size_t) button];

        click (clicked);

        for (int pole = 0; pole < 4; ++pole)
        {
            const bool drawn = button == 4 || pole == button;
            for (int channel = 0; channel < 2; ++channel)
                EXPECT_EQ (recordOf (p, pole, channel) != recordOf (untouched, pole, channel), drawn) << pole << channel;
            if (drawn)
            {
                EXPECT_NE (recordOf (p, pole, 0), recordOf (p, pole, 1)) << pole;
            }
        }
        for (const auto& d : p.diffuserSettings)
        {
            if (button == 4)
            {
                EXPECT_GE (d.feed, 0.1f);
                EXPECT_LE (d.feed, 0.9f);
            }
            else
            {
                EXPECT_EQ (d.feed, -1.0f);
            }
        }
        EXPECT_EQ (allParameterValues (p), parametersBefore);
        EXPECT_FALSE (clicked.getToggleState());
    }
}

//==============================================================================
TEST (Panels, DiffusionKnobsWriteTheFeedOfTheirChannelOnly)
{
    struct Case { int channel; double position; float feed; };
    const Case cases[] = { { 0, 0.0, 0.1f }, { 0, 1.0, 0.9f }, { 0, 0.75, 0.7f },
                           { 1, 0.0, 0.1f }, { 1, 1.0, 0.9f }, { 1, 0.25, 0.3f } };

    for (const auto& c : cases)
    {
        QuorilAudioProcessor p;
        quoril::GlobalControls global (p);
        auto& knob = c.channel == 0 ? *global.diffusionLeft : *global.diffusionRight;
        knob.setValue (0.5, juce::dontSendNotification);

        p.diffuserSettings[0] = { 0.123f, 0.25f };
        p.diffuserSettings[1] = { 0.456f, 0.75f };
        DiffuserSettings expected[2] = { p.diffuserSettings[0], p.diffuserSettings[1] };
        expected[(size_t) c.channel].feed = c.feed;
        const auto parametersBefore = allParameterValues (p);

        knob.setValue (c.position, juce::sendNotificationSync);

        for (size_t ch = 0; ch < 2; ++ch)
        {
            EXPECT_NEAR (p.diffuserSettings[ch].feed, expected[ch].feed, 1.0e-6f) << c.channel << " " << c.position;
            EXPECT_EQ (p.diffuserSettings[ch].damp, expected[ch].damp);
        }
        EXPECT_EQ (allParameterValues (p), parametersBefore);
    }
}

TEST (Panels, DiffusionRefreshShowsTheRecordsAndLeavesThemAlone)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();

    struct Case { float feed; double position; const char* tooltip; };
    const Case cases[] = { { 0.7f, 0.75, "0.70" }, { 0.1f, 0.0, "0.10" }, { 0.9f, 1.0, "0.90" },
                           // outside the range: the knob at its end
                           { 1.5f, 1.0, "1.50" }, { -0.2f, 0.0, "-0.20" }, { 0.0f, 0.0, "0.00" } };

    for (const auto& c : cases)
    {
        QuorilAudioProcessor p;
        quoril::GlobalControls global (p);
        p.diffuserSettings[0].feed = c.feed;
        p.diffuserSettings[1].feed = 0.5f;

        global.refreshDiffusionSliders();

        EXPECT_NEAR (global.diffusionLeft->getValue(), c.position, 1.0e-6) << c.feed;
        EXPECT_EQ (global.diffusionLeft->getTooltip(), c.tooltip);
        EXPECT_NEAR (global.diffusionRight->getValue(), 0.5, 1.0e-6);
        EXPECT_EQ (global.diffusionRight->getTooltip(), "0.50");

        // The refresh sends no change back into the records.
        EXPECT_EQ (p.diffuserSettings[0].feed, c.feed);
        EXPECT_EQ (p.diffuserSettings[1].feed, 0.5f);
    }

    // A damaged record that is not a number shows the knob at the bottom and stays as it is.
    QuorilAudioProcessor p;
    quoril::GlobalControls global (p);
    global.diffusionRight->setValue (0.5, juce::dontSendNotification);
    p.diffuserSettings[1].feed = nan;
    global.refreshDiffusionSliders();
    EXPECT_EQ (global.diffusionRight->getValue(), 0.0);
    EXPECT_TRUE (std::isnan (p.diffuserSettings[1].feed));
}

TEST (Panels, OnlyDryWetIsBipolarAndAllKnobsUseTheHighlightFill)
{
    QuorilAudioProcessor p;
    quoril::GlobalControls global (p);
    quoril::TrajectoryControls trajectory (p);

    const std::pair<orvnlib::OrvnKnob*, bool> knobs[] = {
        { global.inAmpKnob.get(), false }, { global.outAmpKnob.get(), false }, { global.dryWetKnob.get(), true },
        { global.diffusionLeft.get(), false }, { global.diffusionRight.get(), false },
        { trajectory.xRateKnob.get(), false }, { trajectory.xRangeKnob.get(), false },
        { trajectory.yRateKnob.get(), false }, { trajectory.yRangeKnob.get(), false },
    };

    for (const auto& [knob, bipolar] : knobs)
    {
        EXPECT_EQ ((bool) knob->getProperties().getWithDefault ("bipolar", false), bipolar);
        EXPECT_EQ (knob->findColour (juce::Slider::rotarySliderFillColourId), highlightColour);
    }
}

//==============================================================================
namespace
{
float snapToStep (float value, float start, float step)
{
    return start + step * std::floor ((value - start) / step + 0.5f);
}
} // namespace

TEST (Panels, TrajectoryRandomDrawsFourValuesEachInItsOwnGesture)
{
    for (bool ableton : { false, true })
    {
        QuorilAudioProcessor p;
        p.parameterGroups.hostIsAbletonLive = ableton;
        quoril::TrajectoryControls trajectory (p);

        auto& trajectorySwitch = parameterAt (p, ParameterTable::trajectory);
        trajectorySwitch.setValueNotifyingHost (0.0f);

        const auto& group = *p.parameterGroups.groups[0];
        ASSERT_EQ (group.size(), 4);
        std::vector<juce::AudioProcessorParameter*> watched;
        for (const auto& id : group)
            watched.push_back (p.parameters.getParameter (id));
        ParameterLog events (watched);

        auto expected = p.parameterGroups.random; // the same sequence the click will draw
        click (*trajectory.randomizeButton);

        juce::StringArray expectedLog;
        for (int i = 0; i < 4; ++i)
        {
            const int index = ParameterTable::xTrajAmount + i; // group order is table order here
            auto& parameter = parameterAt (p, index);
            EXPECT_EQ (parameter.paramID, group[i]);

            const float v = expected.nextFloat();
            const float raw = p.parameterTable->raw (index);
            const bool isRate = (i % 2) == 0;
            const float unsnapped = isRate ? 0.001f + 0.999f * v * v : 0.1f + 0.9f * v;
            const float start = isRate ? 0.001f : 0.1f;

            EXPECT_NEAR (raw, unsnapped, 0.0005f + 1.0e-6f) << group[i];
            EXPECT_NEAR (raw, snapToStep (raw, start, 0.001f), 1.0e-6f) << group[i];
            EXPECT_NEAR (parameter.getValue(), parameter.convertTo0to1 (parameter.convertFrom0to1 (v)), 1.0e-6f);

            const auto n = juce::String (parameter.getParameterIndex());
            if (! ableton)
                expectedLog.add ("b" + n);
            expectedLog.add ("v" + n);
            if (! ableton)
                expectedLog.add ("e" + n);
        }

        EXPECT_EQ (events.all, expectedLog) << events.all.joinIntoString (" ");

        // The next click continues the same sequence.
        const float next = expected.nextFloat();
        click (*trajectory.randomizeButton);
        EXPECT_NEAR (parameterAt (p, ParameterTable::xTrajAmount).getValue(),
                     parameterAt (p, ParameterTable::xTrajAmount).convertTo0to1 (
                         parameterAt (p, ParameterTable::xTrajAmount).convertFrom0to1 (next)), 1.0e-6f);

        // The switch stays off, and the die button does not stay down.
        EXPECT_EQ (trajectorySwitch.getValue(), 0.0f);
        EXPECT_FALSE (trajectory.onOffButton->getToggleState());
        EXPECT_FALSE (trajectory.randomizeButton->getToggleState());
    }
}

TEST (Panels, TrajectorySwitchFollowsItsParameterBothWays)
{
    QuorilAudioProcessor p;
    quoril::TrajectoryControls trajectory (p);
    auto& trajectorySwitch = parameterAt (p, ParameterTable::trajectory);
    auto& button = *trajectory.onOffButton;

    trajectorySwitch.setValueNotifyingHost (1.0f);
    EXPECT_TRUE (button.getToggleState());
    trajectorySwitch.setValueNotifyingHost (0.0f);
    EXPECT_FALSE (button.getToggleState());

    click (button);
    EXPECT_EQ (trajectorySwitch.getValue(), 1.0f);
    EXPECT_TRUE (button.getToggleState());
    click (button);
    EXPECT_EQ (trajectorySwitch.getValue(), 0.0f);
    EXPECT_FALSE (button.getToggleState());
}

//==============================================================================
// Which knobs learn, and that a learned controller drives them, is checked on the whole window.
TEST (Panels, ControllerLearnRegistersOnceAndStopsWhenDisconnected)
{
    QuorilAudioProcessor p;
    quoril::TrajectoryControls trajectory (p);
    quoril::EditorsPanel editors (p);
    ChangeLog manager;

    trajectory.connectControllerLearn (manager);
    trajectory.connectControllerLearn (manager); // a second call registers nothing twice
    editors.connectControllerLearn (manager);

    auto& rate = *trajectory.xRateKnob;
    rate.handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
    runMessageLoop (20);
    EXPECT_EQ (manager.count(), 1);

    auto& send = *editors.editors[3]->diffSend->knob;
    EXPECT_EQ (send.parameterID, "pole_d_diff");
    editors.disconnectControllerLearn (manager);
    EXPECT_TRUE (send.parameterID.isEmpty());
    send.handleCCMenuResult (orvnlib::OrvnKnob::clearItemId);
    runMessageLoop (20);
    EXPECT_EQ (manager.count(), 1) << "a disconnected manager hears nothing";
}
