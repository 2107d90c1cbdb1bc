#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

class ParameterRamp
{
public:
    ParameterRamp() = default;
};
