#pragma once

#include <vector>
#include "../engine/EngineSettings.h"

// One pole's settings as copied by the pole header's copy button: both channels' records,
// the pole's diffusion amount and its stereo link.
struct PoleClipboard
{
    bool valid = false;
    std::vector<GranulizerSettings> granulizer;
    std::vector<ResonatorSettings> resonator;
    float diff = 0.0f;
    float link = 0.0f;
};
