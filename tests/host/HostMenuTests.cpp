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
#include <optional>
#include <thread>
#include <unistd.h>

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

// A window manager on the test's display for one test (openbox, as desktops run one); its process
// alone is stopped when the test ends.
struct WindowManager
{
    WindowManager()
    {
        if (juce::File (path).existsAsFile() && process.start (juce::StringArray { path, "--sm-disable" }, 0))
            runs = testsupport::runMessageLoopUntil ([] { return windowManagerRuns(); }, 5000);
    }

    // Asked to quit, it takes its properties off the root window, as the next tests expect.
    ~WindowManager()
    {
        juce::ChildProcess quit;
        if (process.isRunning() && quit.start (juce::StringArray { path, "--exit" }, 0))
            quit.waitForProcessToFinish (5000);
        if (! process.waitForProcessToFinish (5000))
            process.kill();
    }

    static constexpr const char* path = "/usr/bin/openbox";
    juce::ChildProcess process;
    bool runs = false;
};

// The tests' PATH holds no desktop file dialog for as long as this lives.
struct NoDesktopDialogs
{
    NoDesktopDialogs() { setenv ("PATH", "/nonexistent", 1); }
    ~NoDesktopDialogs() { setenv ("PATH", path.toRawUTF8(), 1); }
    const juce::String path { std::getenv ("PATH") != nullptr ? std::getenv ("PATH") : "" };
};

// A host window that its host keeps above all others, as Ardour keeps its plug-in windows.
std::unique_ptr<HostWindow> openWindowKeptAbove (juce::AudioPluginInstance& instance)
{
    auto window = std::make_unique<HostWindow> (instance.createEditorIfNeeded(), true);
    // Framed by the window manager, and placed: only then does the view know where it is.
    const auto client = (unsigned long) (juce::pointer_sized_uint) window->getWindowHandle();
    testsupport::runMessageLoopUntil ([client] { return topLevelOf (client) != client; }, 5000);
    pump (500);
    return window;
}

// Whether the top-level window front lies above the one holding the client window back.
bool stackedAbove (unsigned long front, unsigned long back)
{
    const auto shown = shownTopLevelWindows();
    const auto at = [&shown] (unsigned long id)
    {
        return std::find_if (shown.begin(), shown.end(), [id] (const ScreenWindow& w) { return w.id == id; }) - shown.begin();
    };
    const auto backTop = topLevelOf (back);
    return at (front) < (long) shown.size() && at (backTop) < (long) shown.size() && at (front) > at (backTop);
}

// The user opens MIDI MAP > LOAD with the mouse; returns the top-level window of the dialog that
// opened (0 when none did within ten seconds).
unsigned long openLoadDialog (HostWindow& window)
{
    const auto before = shownTopLevelWindows();
    std::atomic<bool> chosen { false };

    // A loaded machine may be slow to show the menu: the user tries again.
    for (int attempt = 0; attempt < 3 && ! chosen; ++attempt)
    {
        const auto menuButton = window.getContentComponent()->getScreenPosition() + juce::Point<int> (2 + 539 + 12, 418 + 28 + 12);
        std::atomic<bool> done { false };
        std::thread user ([&] { chosen = chooseFromSubMenu (menuButton.x, menuButton.y, 0.3f, 0.17f); done = true; });
        while (! done)
            pump (10);
        user.join();
        pump (200);
    }
    if (! chosen)
        return 0;

    unsigned long dialog = 0;
    testsupport::runMessageLoopUntil ([&]
    {
        for (const auto& w : shownTopLevelWindows())
            if (w.width > 200 && w.height > 200 && clientWindowOf (w.id) != 0
                && std::none_of (before.begin(), before.end(), [&w] (const ScreenWindow& k) { return k.id == w.id; }))
                dialog = w.id;
        return dialog != 0;
    }, 10000);
    return dialog;
}

// The dialog's client window is the host window's own and lies above it (within five seconds).
bool heldInFront (unsigned long dialog, HostWindow& window)
{
    const auto host = (unsigned long) (juce::pointer_sized_uint) window.getWindowHandle();
    return testsupport::runMessageLoopUntil ([&]
    {
        return transientForOf (clientWindowOf (dialog)) == host && stackedAbove (dialog, host);
    }, 5000);
}
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

// In a host that keeps its plug-in window above all others, MIDI MAP > LOAD opens its dialog in
// front of that window: the desktop's (zenity), or the plug-in's own when the PATH holds none. The
// plug-in's own is modal: a view it hid behind would take no input; and the window's next view,
// opened while the dialog stays, takes it in front of itself. The dialog goes with the plug-in.
static void checkMapDialogInFront (bool desktopDialog)
{
    if (! juce::File (WindowManager::path).existsAsFile() || (desktopDialog && ! juce::File ("/usr/bin/zenity").existsAsFile()))
        GTEST_SKIP() << "openbox or zenity is not installed";
    WindowManager manager;
    ASSERT_TRUE (manager.runs) << "openbox did not start";
    storePanelWidth (800);
    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    auto window = openWindowKeptAbove (*instance);

    const auto dialog = [&]
    {
        std::optional<NoDesktopDialogs> noDesktopDialogs;
        if (! desktopDialog)
            noDesktopDialogs.emplace();
        return openLoadDialog (*window);
    }();
    ASSERT_NE (dialog, 0ul) << "no dialog opened";
    if ((processOf (clientWindowOf (dialog)) != (long) getpid()) != desktopDialog)
        GTEST_SKIP() << "the plug-in looked for a desktop dialog before this test";
    EXPECT_TRUE (heldInFront (dialog, *window)) << "the first window";

    if (! desktopDialog)
    {
        window.reset();
        window = openWindowKeptAbove (*instance);
        EXPECT_TRUE (heldInFront (dialog, *window)) << "the next window";
    }

    window.reset();
    instance.reset();
    EXPECT_TRUE (menuCloses (dialog));
}

TEST (HostMenu, TheDesktopsMapDialogOpensInFrontOfAWindowKeptAbove) { checkMapDialogInFront (true); }
TEST (HostMenu, ThePluginsOwnMapDialogStaysInFrontOfItsWindowAndOfTheNextOne) { checkMapDialogInFront (false); }
