#include <gtest/gtest.h>

#include "processor/QuorilAudioProcessor.h"

namespace
{
struct ParameterRow
{
    const char* id;
    const char* name;
    float start, end, interval, skew, defaultValue;
};

const ParameterRow expectedParameters[] = {
    { "in_gain", "Input Gain", -70.0f, 6.0f, 0.001f, 1.5f, 0.0f },
    { "x_pos", "X Position", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "y_pos", "Y Position", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "trajectory", "Trajectory", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
    { "x_traj_amount", "X Trajectory Rate", 0.001f, 1.0f, 0.001f, 0.5f, 0.1f },
    { "x_traj_range", "X Trajectory Range", 0.1f, 1.0f, 0.001f, 1.0f, 1.0f },
    { "y_traj_amount", "Y Trajectory Rate", 0.001f, 1.0f, 0.001f, 0.5f, 0.1f },
    { "y_traj_range", "Y Trajectory Range", 0.1f, 1.0f, 0.001f, 1.0f, 1.0f },
    { "out_gain", "Out Gain", -70.0f, 12.0f, 0.001f, 1.5f, 0.0f },
    { "dry_wet", "Dry/Wet", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "pole_a_diff", "Pole A Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "pole_b_diff", "Pole B Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "pole_c_diff", "Pole C Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "pole_d_diff", "Pole D Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
    { "stereo_link_a", "Pole A Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
    { "stereo_link_b", "Pole B Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
    { "stereo_link_c", "Pole C Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
    { "stereo_link_d", "Pole D Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
};

juce::AudioParameterFloat& floatParameter (QuorilAudioProcessor& p, const juce::String& id)
{
    auto* param = dynamic_cast<juce::AudioParameterFloat*> (p.parameters.getParameter (id));
    EXPECT_NE (param, nullptr) << id;
    return *param;
}
} // namespace

TEST (ParameterTable, HoldsTheEighteenParametersInOrderWithTheirRangesAndDefaults)
{
    QuorilAudioProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 18);
    ASSERT_EQ (p.parameterTable->ids.size(), 18);
    ASSERT_EQ (p.parameterTable->rawValues.size(), 18);

    for (int i = 0; i < 18; ++i)
    {
        const auto& row = expectedParameters[i];
        SCOPED_TRACE (row.id);
        auto* param = dynamic_cast<juce::AudioParameterFloat*> (params[i]);
        ASSERT_NE (param, nullptr);

        EXPECT_EQ (param->getParameterID(), row.id);
        EXPECT_EQ (param->getVersionHint(), 1);
        EXPECT_EQ (param->getName (100), row.name);
        EXPECT_EQ (p.parameterTable->ids[i], row.id);

        const auto& range = param->range;
        EXPECT_EQ (range.start, row.start);
        EXPECT_EQ (range.end, row.end);
        EXPECT_EQ (range.interval, row.interval);
        EXPECT_EQ (range.skew, row.skew);
        EXPECT_FALSE (range.symmetricSkew);

        EXPECT_FLOAT_EQ (param->get(), row.defaultValue);
        EXPECT_FLOAT_EQ (p.parameterTable->raw (i), row.defaultValue);
        EXPECT_EQ (p.parameterTable->rawValues[i], p.parameters.getRawParameterValue (row.id));
        EXPECT_TRUE (param->isAutomatable());
        EXPECT_FALSE (param->isMetaParameter());

        const bool isGain = (i == 0 || i == 8);
        EXPECT_EQ (param->getLabel(), isGain ? "dB" : "");
    }
}

TEST (ParameterTable, GainTextsAsTheHostShowsThem)
{
    QuorilAudioProcessor p;
    auto& inGain = floatParameter (p, "in_gain");
    auto& outGain = floatParameter (p, "out_gain");

    EXPECT_EQ (gainToText (-70.0f, 0), "-INF dB");
    EXPECT_EQ (gainToText (-69.999f, 0), "-70.00 dB");
    EXPECT_EQ (gainToText (-12.5f, 0), "-12.50 dB");
    EXPECT_EQ (gainToText (0.0f, 0), "+0.00 dB");
    EXPECT_EQ (gainToText (6.0f, 0), "+6.00 dB");
    EXPECT_EQ (gainToText (12.0f, 0), "+12.00 dB");

    // Through the parameters, as a host asks; a short maximum length still gets the whole text.
    EXPECT_EQ (static_cast<juce::AudioProcessorParameter&> (inGain).getText (inGain.convertTo0to1 (-70.0f), 100), "-INF dB");
    EXPECT_EQ (static_cast<juce::AudioProcessorParameter&> (inGain).getText (inGain.convertTo0to1 (6.0f), 3), "+6.00 dB");
    EXPECT_EQ (static_cast<juce::AudioProcessorParameter&> (outGain).getText (outGain.convertTo0to1 (12.0f), 100), "+12.00 dB");
    EXPECT_EQ (static_cast<juce::AudioProcessorParameter&> (outGain).getText (outGain.convertTo0to1 (0.0f), 100), "+0.00 dB");
    EXPECT_EQ (outGain.getCurrentValueAsText(), "+0.00 dB");
}

TEST (ParameterTable, SwitchesSnapToOffOrOn)
{
    QuorilAudioProcessor p;
    for (auto* id : { "trajectory", "stereo_link_a", "stereo_link_b", "stereo_link_c", "stereo_link_d" })
    {
        SCOPED_TRACE (id);
        auto& param = floatParameter (p, id);
        param.setValueNotifyingHost (0.3f);
        EXPECT_EQ (param.get(), 0.0f);
        param.setValueNotifyingHost (0.7f);
        EXPECT_EQ (param.get(), 1.0f);
        EXPECT_EQ (p.parameters.getRawParameterValue (id)->load(), 1.0f);
    }
}

TEST (ProcessorShell, AcceptsOnlyStereoInWithStereoOut)
{
    QuorilAudioProcessor p;
    using Set = juce::AudioChannelSet;

    auto layout = [] (Set in, Set out)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (in);
        l.outputBuses.add (out);
        return l;
    };

    EXPECT_TRUE (p.checkBusesLayoutSupported (layout (Set::stereo(), Set::stereo())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::mono(), Set::mono())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::stereo(), Set::mono())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::mono(), Set::stereo())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::disabled(), Set::stereo())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::stereo(), Set::disabled())));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layout (Set::create5point1(), Set::create5point1())));

    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
}

TEST (ProcessorShell, PrepareToPlayFigures)
{
    QuorilAudioProcessor p;

    p.prepareToPlay (44100.0, 512);
    EXPECT_EQ (p.trajectoryPeriod, 256);
    EXPECT_FLOAT_EQ (p.dryWetCoefficient, 0.99962217f);
    EXPECT_EQ (p.dryBuffer.getNumSamples(), 544);
    EXPECT_EQ (p.dryBuffer.getNumChannels(), 2);

    p.prepareToPlay (48000.0, 1024);
    EXPECT_EQ (p.trajectoryPeriod, 278);
    EXPECT_FLOAT_EQ (p.dryWetCoefficient, 0.99965286f);
    EXPECT_EQ (p.dryBuffer.getNumSamples(), 1056);
    EXPECT_EQ (p.sampleRate, 48000.0);

    // A smaller block size shrinks the buffer too.
    p.prepareToPlay (96000.0, 64);
    EXPECT_EQ (p.trajectoryPeriod, 557);
    EXPECT_EQ (p.dryBuffer.getNumSamples(), 96);

    // The coefficient is exp(-1 / (rate * 0.06)) with the product in single precision.
    EXPECT_EQ (p.dryWetCoefficient, (float) std::exp (-1.0 / (double) (96000.0f * 0.06f)));
}

TEST (ProcessorShell, PrepareToPlayPublishesThePositionAndResetsTheClock)
{
    QuorilAudioProcessor p;
    p.parameters.getParameter ("x_pos")->setValueNotifyingHost (0.25f);
    p.parameters.getParameter ("y_pos")->setValueNotifyingHost (0.75f);
    p.parameters.getParameter ("dry_wet")->setValueNotifyingHost (0.8f);
    p.trajectoryCounter = 17;
    p.xRising = p.yRising = false;
    p.dryWetValue = 0.3f;

    p.prepareToPlay (44100.0, 256);

    EXPECT_EQ (p.trajectoryCounter, 0);
    EXPECT_FLOAT_EQ (p.currentX.load(), 0.25f);
    EXPECT_FLOAT_EQ (p.currentY.load(), 0.75f);
    EXPECT_TRUE (p.xRising);
    EXPECT_TRUE (p.yRising);
    EXPECT_FLOAT_EQ (p.dryWetLastTarget, 0.8f);
    EXPECT_EQ (p.dryWetValue, 0.3f); // the crossfade goes on from where it was
}

TEST (SettingsFile, IsAnXmlFileBesideThePresetFolder)
{
    const auto expected = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                              .getChildFile ("Orvane_Studio")
                              .getChildFile ("Quoril.prefs");
    expected.deleteFile();

    {
        QuorilAudioProcessor p;
        auto* settings = p.getSettingsFile();
        ASSERT_NE (settings, nullptr);
        EXPECT_EQ (settings->getFile(), expected);
        EXPECT_EQ (settings->getIntValue (p.panelWidthKey, 800), 800);

        settings->setValue (p.panelWidthKey, 960);
    } // an unsaved change is written when the processor goes

    auto xml = juce::parseXML (expected);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "PROPERTIES");

    QuorilAudioProcessor again;
    EXPECT_EQ (again.getSettingsFile()->getIntValue ("panel_width", 800), 960);
    EXPECT_EQ (again.getSettingsFile()->getIntValue ("PANEL_WIDTH", 800), 800); // keys keep their case
}
