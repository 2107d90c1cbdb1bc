#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

class Diffuser
{
public:
    Diffuser() = default;
};
