#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include "EngineSettings.h"

class Granulizer
{
public:
    Granulizer() = default;
};
