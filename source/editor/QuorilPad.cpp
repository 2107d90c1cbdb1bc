#include "QuorilPad.h"

#include "../processor/QuorilAudioProcessor.h"

QuorilPad::QuorilPad (juce::RangedAudioParameter&, juce::RangedAudioParameter&, QuorilAudioProcessor& p)
    : processor (p)
{
    startTimer (50);
}

QuorilPad::~QuorilPad() = default;

void QuorilPad::timerCallback()
{
    repaint();
}
