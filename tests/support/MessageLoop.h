#pragma once

// The tests' message loop. The build permits no modal loops, so the framework's
// MessageManager::runDispatchLoopUntil is not there; the tests dispatch messages as a host's own
// event loop does, one at a time, between their own steps.
#include <juce_events/juce_events.h>

#include <functional>

namespace juce
{
// The framework's dispatcher of one message or system event (juce_linux_Messaging.cpp), which
// its own dispatch loops call. Returns false when returnIfNoPendingMessages is set and nothing
// was pending.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace testsupport
{
// Dispatches messages for the given time (at least one pass).
inline void runMessageLoop (int milliseconds)
{
    const auto end = juce::Time::currentTimeMillis() + milliseconds;

    do
    {
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::currentTimeMillis() < end);
}

// Dispatches messages until done() holds, for at most the given time; returns done().
inline bool runMessageLoopUntil (const std::function<bool()>& done, int timeoutMilliseconds = 5000)
{
    const auto end = juce::Time::currentTimeMillis() + timeoutMilliseconds;

    while (! done() && juce::Time::currentTimeMillis() < end)
        runMessageLoop (1);

    return done();
}
} // namespace testsupport
