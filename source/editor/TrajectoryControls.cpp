#include "TrajectoryControls.h"

#include "../processor/QuorilAudioProcessor.h"

namespace quoril
{
TrajectoryControls::TrajectoryControls (QuorilAudioProcessor& p)
    : orvn::gui::GenericPanelView ("TRAJECTORY"),
      processor (p)
{
}

TrajectoryControls::~TrajectoryControls() = default;
} // namespace quoril
