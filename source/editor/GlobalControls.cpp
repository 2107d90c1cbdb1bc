#include "GlobalControls.h"

#include "../processor/QuorilAudioProcessor.h"

namespace quoril
{
GlobalControls::GlobalControls (QuorilAudioProcessor& p) : processor (p) {}
GlobalControls::~GlobalControls() = default;

void GlobalControls::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff191919));
}

void GlobalControls::refreshDiffusionSliders() {}
} // namespace quoril
