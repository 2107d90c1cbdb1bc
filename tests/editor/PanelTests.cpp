// The generate panel, the global controls and the trajectory controls: layout at the design
// size, what their buttons and knobs write, and what the 100 ms refresh reads back.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "editor/EditorShared.h"
#include "editor/GlobalControls.h"
#include "editor/TrajectoryControls.h"
#include "editor/WorldControls.h"
#include "processor/QuorilAudioProcessor.h"

namespace
{
using Rect = juce::Rectangle<int>;

struct Placement
{
    const char* name;
    const juce::Component* component;
    Rect bounds;
};

void expectPlacements (std::initializer_list<Placement> placements)
{
    for (const auto& p : placements)
    {
        ASSERT_NE (p.component, nullptr) << p.name;
        EXPECT_EQ (p.component->getBounds(), p.bounds) << p.name;
    }
}

// A click as the framework delivers it: posted, then handled by the message loop.
void click (juce::Button& button)
{
    button.triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

// Every engine-setting record of one pole and channel, in one comparable tuple.
auto poleRecord (const QuorilAudioProcessor& p, int pole, int channel)
{
    const auto& g = p.granulizerSettings[(size_t) pole][(size_t) channel];
    const auto& r = p.resonatorSettings[(size_t) pole][(size_t) channel];
    return std::make_tuple (g.density, g.envelope, g.size, g.speed, g.sizeRnd, g.speedRnd, g.ampRnd,
                            g.outGain, g.freeze, r.freq, r.feed);
}

// Values no random draw produces, so that any draw shows as a change.
void markAllRecords (QuorilAudioProcessor& p)
{
    for (auto& pole : p.granulizerSettings)
        for (auto& g : pole)
            g.size = g.speed = g.sizeRnd = g.speedRnd = g.ampRnd = -1.0f;

    for (auto& pole : p.resonatorSettings)
        for (auto& r : pole)
            r.freq = r.feed = -1.0f;

    for (auto& d : p.diffuserSettings)
        d.feed = -1.0f;
}

juce::RangedAudioParameter& parameterAt (QuorilAudioProcessor& p, int index)
{
    return *p.parameters.getParameter (p.parameterTable->ids[index]);
}

std::vector<float> allParameterValues (QuorilAudioProcessor& p)
{
    std::vector<float> values;
    for (int i = 0; i < ParameterTable::numParameters; ++i)
        values.push_back (parameterAt (p, i).getValue());
    return values;
}
} // namespace

//==============================================================================
TEST (Panels, ChildrenSitAtTheirDesignRectangles)
{
    QuorilAudioProcessor p;

    quoril::WorldControls world (p);
    world.setSize (265, 165);
    expectPlacements ({
        { "header", world.header.get(), { 0, 0, 265, 30 } },
        { "all engines", world.regenerateAllButton.get(), { 116, 81, 32, 32 } },
        { "top left", world.regenerateButtons[0].get(), { 54, 51, 24, 24 } },
        { "top right", world.regenerateButtons[1].get(), { 186, 51, 24, 24 } },
        { "bottom left", world.regenerateButtons[2].get(), { 54, 119, 24, 24 } },
        { "bottom right", world.regenerateButtons[3].get(), { 186, 119, 24, 24 } },
    });

    quoril::GlobalControls global (p);
    global.setSize (796, 80);
    expectPlacements ({
        { "IN AMP caption", &global.inAmpCaption, { 0, 0, 199, 32 } },
        { "DIFFUSION caption", &global.diffusionCaption, { 199, 0, 199, 32 } },
        { "OUT AMP caption", &global.outAmpCaption, { 398, 0, 199, 32 } },
        { "DRY/WET caption", &global.dryWetCaption, { 597, 0, 199, 32 } },
        { "in amp", global.inAmpKnob.get(), { 79, 36, 40, 40 } },
        { "diffusion L", global.diffusionLeft.get(), { 228, 36, 40, 40 } },
        { "L caption", &global.leftCaption, { 272, 36, 16, 40 } },
        { "R caption", &global.rightCaption, { 308, 36, 16, 40 } },
        { "diffusion R", global.diffusionRight.get(), { 328, 36, 40, 40 } },
        { "out amp", global.outAmpKnob.get(), { 477, 36, 40, 40 } },
        { "dry/wet", global.dryWetKnob.get(), { 676, 36, 40, 40 } },
    });

    quoril::TrajectoryControls trajectory (p);
    trajectory.setSize (265, 165);
    expectPlacements ({
        { "header", trajectory.header.get(), { 0, 0, 265, 30 } },
        { "switch", trajectory.onOffButton.get(), { 12, 40, 24, 24 } },
        { "random", trajectory.randomizeButton.get(), { 60, 40, 24, 24 } },
        { "RANGE", &trajectory.rangeLabel, { 96, 30, 84, 45 } },
        { "RATE", &trajectory.rateLabel, { 180, 30, 85, 45 } },
        { "X", &trajectory.xLabel, { 0, 75, 96, 45 } },
        { "Y", &trajectory.yLabel, { 0, 120, 96, 45 } },
        { "x range", trajectory.xRangeKnob.get(), { 120, 79, 36, 36 } },
        { "x rate", trajectory.xRateKnob.get(), { 204, 79, 36, 36 } },
        { "y range", trajectory.yRangeKnob.get(), { 120, 124, 36, 36 } },
        { "y rate", trajectory.yRateKnob.get(), { 204, 124, 36, 36 } },
    });

    // Too narrow for the middle button: it sits at a negative x, nothing is clamped.
    world.setSize (20, 165);
    EXPECT_EQ (world.regenerateAllButton->getX(), -6);
}

//==============================================================================
TEST (Panels, CornerButtonRegeneratesOnlyItsPole)
{
    for (int pole = 0; pole < 4; ++pole)
    {
        QuorilAudioProcessor p;
        quoril::WorldControls world (p);
        markAllRecords (p);
        const float diffuserFeed[2] = { p.diffuserSettings[0].feed = 0.3f, p.diffuserSettings[1].feed = 0.6f };

        click (*world.regenerateButtons[(size_t) pole]);

        QuorilAudioProcessor untouched;
        markAllRecords (untouched);

        for (int other = 0; other < 4; ++other)
            for (int channel = 0; channel < 2; ++channel)
            {
                if (other == pole)
                    EXPECT_NE (poleRecord (p, other, channel), poleRecord (untouched, other, channel)) << pole << channel;
                else
                    EXPECT_EQ (poleRecord (p, other, channel), poleRecord (untouched, other, channel)) << pole << other;
            }

        // Both channels draw on their own.
        EXPECT_NE (poleRecord (p, pole, 0), poleRecord (p, pole, 1)) << pole;

        EXPECT_EQ (p.diffuserSettings[0].feed, diffuserFeed[0]);
        EXPECT_EQ (p.diffuserSettings[1].feed, diffuserFeed[1]);
        EXPECT_FALSE (world.regenerateButtons[(size_t) pole]->getToggleState());
    }
}

TEST (Panels, MiddleButtonRegeneratesEveryPoleAndBothDiffusers)
{
    QuorilAudioProcessor p;
    quoril::WorldControls world (p);
    markAllRecords (p);
    QuorilAudioProcessor untouched;
    markAllRecords (untouched);
    const auto parametersBefore = allParameterValues (p);

    click (*world.regenerateAllButton);

    for (int pole = 0; pole < 4; ++pole)
        for (int channel = 0; channel < 2; ++channel)
            EXPECT_NE (poleRecord (p, pole, channel), poleRecord (untouched, pole, channel)) << pole << channel;

    for (const auto& d : p.diffuserSettings)
    {
        EXPECT_GE (d.feed, 0.1f);
        EXPECT_LE (d.feed, 0.9f);
    }

    EXPECT_FALSE (world.regenerateAllButton->getToggleState());
    EXPECT_FALSE (world.regenerateAllButton->getClickingTogglesState());
    for (auto& button : world.regenerateButtons)
        EXPECT_FALSE (button->getClickingTogglesState());

    // Engine settings only: no host parameter moves.
    EXPECT_EQ (allParameterValues (p), parametersBefore);
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
        const auto otherBefore = p.diffuserSettings[1 - c.channel];
        const float dampBefore = p.diffuserSettings[c.channel].damp;
        const auto parametersBefore = allParameterValues (p);

        knob.setValue (c.position, juce::sendNotificationSync);

        EXPECT_NEAR (p.diffuserSettings[c.channel].feed, c.feed, 1.0e-6f) << c.channel << " " << c.position;
        EXPECT_EQ (p.diffuserSettings[c.channel].damp, dampBefore);
        EXPECT_EQ (p.diffuserSettings[1 - c.channel].feed, otherBefore.feed);
        EXPECT_EQ (p.diffuserSettings[1 - c.channel].damp, otherBefore.damp);
        EXPECT_EQ (allParameterValues (p), parametersBefore);
    }
}

TEST (Panels, DiffusionRefreshShowsTheRecordsAndLeavesThemAlone)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();

    struct Case { float feed; double position; const char* tooltip; };
    const Case cases[] = {
        { 0.7f, 0.75, "0.70" },
        { 0.1f, 0.0, "0.10" },
        { 0.9f, 1.0, "0.90" },
        { 1.5f, 1.0, "1.50" },   // outside the range: the knob at its end
        { -0.2f, 0.0, "-0.20" },
        { 0.0f, 0.0, "0.00" },
    };

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
        EXPECT_TRUE (knob->parameterID.isEmpty());
    }
}

//==============================================================================
namespace
{
// Records value changes and gestures of the parameters it listens to, as "b3 v3 e3 ...".
struct ParameterEvents : juce::AudioProcessorParameter::Listener
{
    void parameterValueChanged (int index, float) override { log.add ("v" + juce::String (index)); }
    void parameterGestureChanged (int index, bool starting) override
    {
        log.add ((starting ? "b" : "e") + juce::String (index));
    }

    juce::StringArray log;
};

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

        ParameterEvents events;
        const auto& group = *p.parameterGroups.groups[0];
        ASSERT_EQ (group.size(), 4);
        for (const auto& id : group)
            p.parameters.getParameter (id)->addListener (&events);

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

        EXPECT_EQ (events.log, expectedLog) << events.log.joinIntoString (" ");

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

        for (const auto& id : group)
            p.parameters.getParameter (id)->removeListener (&events);
    }
}

TEST (Panels, TrajectorySwitchFollowsItsParameterBothWays)
{
    QuorilAudioProcessor p;
    quoril::TrajectoryControls trajectory (p);
    auto& trajectorySwitch = parameterAt (p, ParameterTable::trajectory);
    auto& button = *trajectory.onOffButton;

    EXPECT_TRUE (button.getClickingTogglesState());

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
namespace
{
struct LearnListener : juce::ChangeListener
{
    void changeListenerCallback (juce::ChangeBroadcaster* source) override { sources.add (source); }
    juce::Array<juce::ChangeBroadcaster*> sources;
};
} // namespace

TEST (Panels, ControllerLearnReachesTheManagerFromHostParameterKnobsOnly)
{
    QuorilAudioProcessor p;
    quoril::GlobalControls global (p);
    quoril::TrajectoryControls trajectory (p);
    LearnListener manager;

    global.connectControllerLearn (manager);
    trajectory.connectControllerLearn (manager);
    trajectory.connectControllerLearn (manager); // a second call registers nothing twice

    const std::pair<orvnlib::OrvnKnob*, const char*> learning[] = {
        { global.inAmpKnob.get(), "in_gain" }, { global.outAmpKnob.get(), "out_gain" },
        { global.dryWetKnob.get(), "dry_wet" },
        { trajectory.xRateKnob.get(), "x_traj_amount" }, { trajectory.xRangeKnob.get(), "x_traj_range" },
        { trajectory.yRateKnob.get(), "y_traj_amount" }, { trajectory.yRangeKnob.get(), "y_traj_range" },
    };

    for (const auto& [knob, id] : learning)
    {
        EXPECT_EQ (knob->parameterID, id);
        manager.sources.clear();
        knob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        ASSERT_EQ (manager.sources.size(), 1) << id;
        EXPECT_EQ (manager.sources[0], static_cast<juce::ChangeBroadcaster*> (knob)) << id;
        knob->assignRequested = false;
    }

    // The diffusion knobs are no host parameters: no id, no listener.
    for (auto* knob : { global.diffusionLeft.get(), global.diffusionRight.get() })
    {
        EXPECT_TRUE (knob->parameterID.isEmpty());
        manager.sources.clear();
        knob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        EXPECT_TRUE (manager.sources.isEmpty());
    }
}

//==============================================================================
namespace
{
struct IconPixels
{
    int white = 0, highlight = 0;
};

IconPixels countIconPixels (const juce::Drawable& drawable)
{
    juce::Image image (juce::Image::ARGB, 48, 48, true);
    {
        juce::Graphics g (image);
        drawable.drawWithin (g, { 0.0f, 0.0f, 48.0f, 48.0f }, juce::RectanglePlacement::centred, 1.0f);
    }

    IconPixels count;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto c = image.getPixelAt (x, y);
            if (c.getAlpha() < 250)
                continue;
            if (c.getRed() == 255 && c.getGreen() == 255 && c.getBlue() == 255)
                ++count.white;
            else if (c.withAlpha ((juce::uint8) 255) == highlightColour)
                ++count.highlight;
        }
    return count;
}
} // namespace

TEST (Panels, IconsAreWhiteAndTheirPressedCopiesHighlighted)
{
    QuorilAudioProcessor p;
    quoril::WorldControls world (p);
    quoril::TrajectoryControls trajectory (p);

    std::vector<std::pair<const char*, juce::DrawableButton*>> buttons = {
        { "globe", world.regenerateAllButton.get() },
        { "power", trajectory.onOffButton.get() }, { "die", trajectory.randomizeButton.get() },
    };
    for (auto& corner : world.regenerateButtons)
        buttons.emplace_back ("corner", corner.get());

    for (const auto& [name, button] : buttons)
    {
        ASSERT_NE (button->getNormalImage(), nullptr) << name;
        ASSERT_NE (button->getDownImage(), nullptr) << name;

        const auto normal = countIconPixels (*button->getNormalImage());
        const auto down = countIconPixels (*button->getDownImage());
        EXPECT_GT (normal.white, 40) << name;
        EXPECT_EQ (normal.highlight, 0) << name;
        EXPECT_EQ (down.white, 0) << name;
        EXPECT_GT (down.highlight, 40) << name;
    }
}
