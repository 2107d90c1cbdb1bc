// The plug-in's menus in a host that loads the bundle as a DAW does, opened with real input under
// the virtual display: the host's own code runs on while a menu is open, the host may close the
// view under the menu, and a menu worked in the next view still acts.

#include "HostFixture.h"
#include "UserInput.h"
#include "support/MessageLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace quoril::hosttest;

namespace
{
void pump (int milliseconds) { testsupport::runMessageLoop (milliseconds); }

bool isShown (unsigned long id)
{
    const auto shown = shownTopLevelWindows();
    return std::any_of (shown.begin(), shown.end(), [id] (const ScreenWindow& w) { return w.id == id; });
}

struct TickCounter : juce::Timer
{
    TickCounter() { startTimer (10); }
    void timerCallback() override { ++ticks; }
    int ticks = 0;
};

} // namespace

// The user opens the footer's main menu and leaves it open. A menu that ran a message loop of its
// own inside the plug-in would keep the host's dispatch call from returning until it closed: the
// host's own code (not only its timers, which such a loop still runs) must go on meanwhile.
TEST (HostMenu, TheHostRunsOnWhileAMenuIsOpenAndCanCloseTheViewUnderIt)
{
    storePanelWidth (800);
    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);

    auto window = std::make_unique<HostWindow> (instance->createEditorIfNeeded());
    ASSERT_EQ (window->getContentComponent()->getWidth(), 800);
    pump (300);
    const auto origin = window->getContentComponent()->getScreenPosition();
    const auto menuButton = origin + juce::Point<int> (2 + 539 + 12, 418 + 28 + 12);

    std::atomic<unsigned long> menuId { 0 };
    std::atomic<bool> userDone { false }, hostLooked { false }, userClosedMenu { false };
    std::thread user ([&]
    {
        const auto before = shownTopLevelWindows();
        if (clickAt (menuButton.x, menuButton.y))
            if (const auto menu = newWindow (before))
                menuId = menu->id;

        // Should the host never get back to its own code, the user closes the menu after a while
        // (a menu sees a press by polling: the button is held long enough).
        for (int i = 0; i < 150 && ! hostLooked && menuId != 0; ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
        for (int attempt = 0; attempt < 10 && ! hostLooked && menuId != 0 && isShown (menuId); ++attempt)
        {
            userClosedMenu = true;
            clickAt (0, 0, 300);
        }
        userDone = true;

        // A loop inside the plug-in may never give the host's thread back (it does not dispatch
        // the events that the host's run loop holds for it): then the test ends here, failed.
        for (int i = 0; i < 250 && ! hostLooked; ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
        if (! hostLooked)
        {
            std::fprintf (stderr, "The host's thread is still held inside the plug-in after its menu was opened.\n");
            std::_Exit (1);
        }
    });

    TickCounter timer;
    int returnsWhileShown = 0, ticksWhenShown = 0;
    juce::uint32 shownAt = 0;
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    while (juce::Time::getMillisecondCounter() < deadline && ! userDone)
    {
        pump (5);
        if (menuId == 0)
            continue;
        if (userClosedMenu || ! isShown (menuId))
            break;
        const auto now = juce::Time::getMillisecondCounter();
        if (shownAt == 0)
        {
            shownAt = now;
            ticksWhenShown = timer.ticks;
        }
        ++returnsWhileShown;
        if (now - shownAt > 600)
            break;
    }
    hostLooked = true;
    const auto ticksWhileShown = timer.ticks - ticksWhenShown;
    const bool stillShown = menuId != 0 && ! userClosedMenu && isShown (menuId);
    while (! userDone)
        pump (5);
    user.join();

    ASSERT_NE (menuId.load(), 0ul) << "the menu did not open";
    EXPECT_GT (returnsWhileShown, 20) << "the host's code waited for the menu to close";
    EXPECT_GT (ticksWhileShown, 20) << "the host's timer";
    ASSERT_TRUE (stillShown) << "the menu closed before the host looked";

    // The host closes the view with the menu open; the menu goes with it.
    window.reset();
    EXPECT_EQ (instance->getActiveEditor(), nullptr);
    EXPECT_TRUE (testsupport::runMessageLoopUntil ([&] { return ! isShown (menuId); }, 3000)) << "the menu outlived its view";

    // A menu worked in the next view still acts: FACTORY > its second entry from the preset list.
    window = std::make_unique<HostWindow> (instance->createEditorIfNeeded());
    pump (300);
    const auto presetName = window->getContentComponent()->getScreenPosition() + juce::Point<int> (2 + 297 + 101, 418 + 28 + 12);
    std::atomic<bool> chosen { false }, done { false };
    std::thread chooser ([&] { chosen = chooseFromSubMenu (presetName.x, presetName.y, 0.25f, 0.15f); done = true; });
    while (! done)
        pump (10);
    chooser.join();
    pump (100);
    EXPECT_TRUE (chosen) << "the preset list could not be worked";
    EXPECT_TRUE (stateHolds (*instance, "Drill2"));

    window.reset();
    pump (100);
    instance->releaseResources();
}
