#include "Footer.h"

#include "../processor/QuorilAudioProcessor.h"

namespace quoril
{
Footer::Footer (QuorilAudioProcessor& p) : processor (p)
{
    addAndMakeVisible (presetButton);
}

Footer::~Footer() = default;

void Footer::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff191919));
}

void Footer::loadPendingPresetFile()
{
    processor.midiPresetLoadPending.exchange (false);
}
} // namespace quoril
