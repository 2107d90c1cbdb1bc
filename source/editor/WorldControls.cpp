#include "WorldControls.h"

#include "../processor/QuorilAudioProcessor.h"

namespace quoril
{
WorldControls::WorldControls (QuorilAudioProcessor& p)
    : orvn::gui::GenericPanelView ("GENERATE"),
      processor (p)
{
}

WorldControls::~WorldControls() = default;
} // namespace quoril
