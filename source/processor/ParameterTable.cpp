#include "ParameterTable.h"

namespace
{
struct ParameterRow
{
    const char* id;
    const char* name;
    float start, end, interval, skew, defaultValue;
    bool isGain;
};

const ParameterRow parameterRows[ParameterTable::numParameters] = {
    { "in_gain",       "Input Gain",          -70.0f,  6.0f, 0.001f, 1.5f, 0.0f, true },
    { "x_pos",         "X Position",           0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "y_pos",         "Y Position",           0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "trajectory",    "Trajectory",           0.0f,   1.0f, 1.0f,   1.0f, 0.0f, false },
    { "x_traj_amount", "X Trajectory Rate",    0.001f, 1.0f, 0.001f, 0.5f, 0.1f, false },
    { "x_traj_range",  "X Trajectory Range",   0.1f,   1.0f, 0.001f, 1.0f, 1.0f, false },
    { "y_traj_amount", "Y Trajectory Rate",    0.001f, 1.0f, 0.001f, 0.5f, 0.1f, false },
    { "y_traj_range",  "Y Trajectory Range",   0.1f,   1.0f, 0.001f, 1.0f, 1.0f, false },
    { "out_gain",      "Out Gain",            -70.0f, 12.0f, 0.001f, 1.5f, 0.0f, true },
    { "dry_wet",       "Dry/Wet",              0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "pole_a_diff",   "Pole A Diff",          0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "pole_b_diff",   "Pole B Diff",          0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "pole_c_diff",   "Pole C Diff",          0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "pole_d_diff",   "Pole D Diff",          0.0f,   1.0f, 0.001f, 1.0f, 0.5f, false },
    { "stereo_link_a", "Pole A Stereo Link",   0.0f,   1.0f, 1.0f,   1.0f, 0.0f, false },
    { "stereo_link_b", "Pole B Stereo Link",   0.0f,   1.0f, 1.0f,   1.0f, 0.0f, false },
    { "stereo_link_c", "Pole C Stereo Link",   0.0f,   1.0f, 1.0f,   1.0f, 0.0f, false },
    { "stereo_link_d", "Pole D Stereo Link",   0.0f,   1.0f, 1.0f,   1.0f, 0.0f, false },
};
} // namespace

juce::String gainToText (float value, int /*maximumLength*/)
{
    if (value <= -70.0f)
        return "-INF dB";

    return juce::String (value >= 0.0f ? "+" : "") + juce::String ((double) value, 2) + " dB";
}

ParameterTable::ParameterTable (juce::AudioProcessorValueTreeState& parameters)
{
    for (const auto& row : parameterRows)
    {
        juce::NormalisableRange<float> range (row.start, row.end, row.interval, row.skew);
        auto attributes = juce::AudioParameterFloatAttributes();

        if (row.isGain)
            attributes = attributes.withLabel ("dB").withStringFromValueFunction (gainToText);

        parameters.createAndAddParameter (std::make_unique<juce::AudioParameterFloat> (
            juce::ParameterID { row.id, 1 }, row.name, range, row.defaultValue, attributes));

        ids.add (row.id);
        rawValues.add (parameters.getRawParameterValue (row.id));
    }
}
