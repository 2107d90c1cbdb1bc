#pragma once

#include <juce_events/juce_events.h>

namespace orvnlib
{
// A control that can ask for a MIDI controller binding of a host parameter. The control sets a
// request flag and broadcasts; the listener (CCMapperUIManager) reads the flags, clears the one it
// acts on and performs the request. The control itself never clears them.
class MIDITarget : public juce::ChangeBroadcaster
{
public:
    ~MIDITarget() override = default;

    juce::String parameterID;
    bool assignRequested = false;
    bool clearRequested = false;
};
} // namespace orvnlib
