#include "QuorilAudioProcessor.h"

namespace
{
// Copies element by element so that the destination keeps its size: the audio thread may be
// reading it at the same moment.
template <typename Record>
void copyRecords (const std::vector<Record>& source, std::vector<Record>& destination)
{
    const auto count = juce::jmin (source.size(), destination.size());

    for (size_t i = 0; i < count; ++i)
        destination[i] = source[i];
}

// The tree's value of a parameter, or its live value when the PARAM node has none yet (a
// loaded document may name a parameter without a value, which sets it to its default).
float treeValueOf (const juce::Value& value, float liveValue)
{
    const auto stored = value.getValue();
    return stored.isVoid() ? liveValue : (float) (double) stored;
}

bool isPole (int pole, const QuorilAudioProcessor& processor)
{
    return pole >= 0 && pole < 4
        && pole < (int) processor.granulizerSettings.size()
        && pole < (int) processor.resonatorSettings.size();
}
} // namespace

void QuorilAudioProcessor::copyPoleSettings (int pole)
{
    if (! isPole (pole, *this))
        return;

    // The amounts are read from the parameter tree, where each PARAM node holds the real value.
    auto link = parameters.getParameterAsValue (parameterTable->ids[ParameterTable::linkIndex (pole)]);
    auto diff = parameters.getParameterAsValue (parameterTable->ids[ParameterTable::diffIndex (pole)]);

    poleClipboard.granulizer = granulizerSettings[(size_t) pole];
    poleClipboard.resonator = resonatorSettings[(size_t) pole];
    poleClipboard.diff = treeValueOf (diff, parameterTable->raw (ParameterTable::diffIndex (pole)));
    poleClipboard.link = treeValueOf (link, parameterTable->raw (ParameterTable::linkIndex (pole)));
    poleClipboard.valid = true;
}

void QuorilAudioProcessor::pastePoleSettings (int pole)
{
    if (! isPole (pole, *this) || ! poleClipboard.valid)
        return;

    auto diff = parameters.getParameterAsValue (parameterTable->ids[ParameterTable::diffIndex (pole)]);
    auto link = parameters.getParameterAsValue (parameterTable->ids[ParameterTable::linkIndex (pole)]);

    // The copied sizes' samples may be of another rate: they are derived anew before the
    // record is written.
    auto granulizerRecords = poleClipboard.granulizer;
    for (auto& record : granulizerRecords)
        deriveGrainSize (record, sampleRate);

    copyRecords (granulizerRecords, granulizerSettings[(size_t) pole]);
    copyRecords (poleClipboard.resonator, resonatorSettings[(size_t) pole]);

    // Writing the tree's values carries them into the parameters, their listeners and the host.
    diff.setValue ((double) poleClipboard.diff);
    link.setValue ((double) poleClipboard.link);
}
