#include "QuorilAudioProcessor.h"

#include <cstdlib>

namespace
{
// Draws are whole numbers 0..32767 divided by 32767 in single precision, so 0 and 1 are both
// reachable. Where the runtime generator has a wider range, its top 15 bits are taken.
static_assert ((RAND_MAX + 1LL) % 32768 == 0, "the runtime generator's range must be a multiple of 32768");

float drawUnit()
{
    const int drawn = (int) (std::rand() / ((RAND_MAX + 1LL) / 32768));
    return (float) drawn / 32767.0f;
}

// A coin above one half picks the first range, anything else the second.
const juce::NormalisableRange<float>& pickRange (const juce::NormalisableRange<float>& first,
                                                 const juce::NormalisableRange<float>& second)
{
    return drawUnit() > 0.5f ? first : second;
}
} // namespace

void QuorilAudioProcessor::randomizePole (int pole)
{
    if (pole < 0 || pole >= (int) granulizerSettings.size() || pole >= (int) resonatorSettings.size())
        return;

    auto& granulizerRecords = granulizerSettings[(size_t) pole];
    auto& resonatorRecords = resonatorSettings[(size_t) pole];
    const auto numChannels = juce::jmin (granulizerRecords.size(), resonatorRecords.size());

    for (size_t ch = 0; ch < numChannels; ++ch)
    {
        auto& resonator = resonatorRecords[ch];
        auto& granulizer = granulizerRecords[ch];

        resonator.freq = resonatorFreqRange.convertFrom0to1 (drawUnit());
        resonator.feed = resonatorFeedRange.convertFrom0to1 (drawUnit());

        granulizer.density = 8;
        granulizer.envelope = 2; // Hann window

        const auto& sizeRange = pickRange (grainSizeShortRange, grainSizeLongRange);
        const auto sizeMs = sizeRange.convertFrom0to1 (drawUnit());
        setGrainSize (granulizer, (double) sizeMs, sampleRate);

        const auto& speedRange = pickRange (grainSpeedNarrowRange, grainSpeedWideRange);
        granulizer.speed = speedRange.convertFrom0to1 (drawUnit());

        granulizer.sizeRnd = sizeJitterRange.convertFrom0to1 (drawUnit());
        granulizer.ampRnd = drawUnit();

        const auto& speedJitterRange = pickRange (speedJitterFineRange, speedJitterWideRange);
        granulizer.speedRnd = speedJitterRange.convertFrom0to1 (drawUnit());
    }
}

void QuorilAudioProcessor::randomizeSettings()
{
    for (int pole = 0; pole < 4; ++pole)
        randomizePole (pole);

    for (auto& diffuser : diffuserSettings)
        diffuser.feed = diffuserFeedRange.convertFrom0to1 (drawUnit());
}
