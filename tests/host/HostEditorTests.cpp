// The plug-in's editor as a DAW shows it: the VST3 view opened while audio runs on a thread of its
// own, embedded in a desktop window, resized by the host, closed and opened again, and two
// instances with open editors side by side. Runs under a virtual X display.

// The framework's own X connection (XWindowSystem) tells the host's errors from the plug-in's; the
// test framework comes first, before the X headers' macros.
#include <gtest/gtest.h>
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "HostFixture.h"
#include "ScreenGrab.h"
#include "support/MessageLoop.h"

#include <juce_gui_extra/juce_gui_extra.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace quoril::hosttest;

namespace
{
constexpr double sampleRate = 44100.0;
constexpr int blockSize = 512;

// The DAW's audio thread: processes every instance, block after block, until stopped, and watches
// each output sample. With automation it also moves parameters between blocks, as a DAW playing
// automation lanes does: the position, a diffusion amount, and now and then the trajectory switch
// and a stereo link, which the open editor shows.
class AudioThread
{
public:
    explicit AudioThread (std::vector<juce::AudioPluginInstance*> toProcess, bool automate = false)
        : instances (std::move (toProcess)), automation (automate)
    {
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread() { stop(); }

    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }

    std::int64_t blocks() const { return blocksDone.load(); }
    bool allFinite() const { return ! nonFiniteSeen.load(); }
    float peak() const { return peakSeen.load(); }

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        juce::Random noise (7);
        double phase = 0.0;

        while (running)
        {
            for (auto* instance : instances)
            {
                for (int i = 0; i < blockSize; ++i)
                {
                    const auto s = 0.4f * (float) std::sin (phase) + 0.05f * (noise.nextFloat() * 2.0f - 1.0f);
                    phase = std::fmod (phase + juce::MathConstants<double>::twoPi * 220.0 / sampleRate, juce::MathConstants<double>::twoPi);
                    buffer.setSample (0, i, s);
                    buffer.setSample (1, i, -s);
                }

                if (automation)
                    automate (*instance, blocksDone.load());

                midi.clear();
                instance->processBlock (buffer, midi);

                float blockPeak = peakSeen.load();
                for (int ch = 0; ch < 2; ++ch)
                    for (int i = 0; i < blockSize; ++i)
                    {
                        const auto v = buffer.getSample (ch, i);
                        if (! std::isfinite (v))
                            nonFiniteSeen = true;
                        else
                            blockPeak = std::max (blockPeak, std::abs (v));
                    }
                peakSeen = blockPeak;
            }

            ++blocksDone;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    }

    static void automate (juce::AudioPluginInstance& instance, std::int64_t block)
    {
        enum { xPos = 1, yPos = 2, trajectory = 3, poleADiff = 10, stereoLinkB = 15 };
        const auto& params = instance.getParameters();
        const auto t = (double) block * 0.05;
        params[xPos]->setValue (0.5f + 0.45f * (float) std::sin (t));
        params[yPos]->setValue (0.5f + 0.45f * (float) std::cos (t * 0.7));
        params[poleADiff]->setValue (0.5f + 0.5f * (float) std::sin (t * 0.3));
        if (block % 64 == 0)
            params[stereoLinkB]->setValue ((block / 64) % 2 == 0 ? 1.0f : 0.0f);
        if (block % 128 == 0)
            params[trajectory]->setValue ((block / 128) % 2 == 0 ? 0.0f : 1.0f);
    }

    std::vector<juce::AudioPluginInstance*> instances;
    const bool automation;
    std::atomic<bool> running { true }, nonFiniteSeen { false };
    std::atomic<std::int64_t> blocksDone { 0 };
    std::atomic<float> peakSeen { 0.0f };
    std::thread thread;
};

// Runs the message loop: the plug-in's timers and repaints reach it through the host's run loop.
void pump (int milliseconds)
{
    testsupport::runMessageLoop (milliseconds);
}

// Runs the message loop until the audio thread has finished a few more blocks: the two threads
// never wait for each other.
bool audioKeepsRunning (const AudioThread& audio)
{
    const auto start = audio.blocks();
    const auto deadline = juce::Time::getMillisecondCounter() + 5000;
    while (audio.blocks() < start + 4)
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        pump (5);
    }
    return true;
}

std::unique_ptr<HostWindow> openEditor (juce::AudioPluginInstance& instance)
{
    auto* editor = instance.createEditorIfNeeded();
    if (editor == nullptr)
        return {};
    return std::make_unique<HostWindow> (editor);
}

struct PreparedInstance
{
    PreparedInstance()
    {
        instance = createInstance (sampleRate, blockSize);
        if (instance != nullptr)
        {
            instance->prepareToPlay (sampleRate, blockSize);
            // Trajectory on, so the pad draws the moving follower as well.
            instance->getParameters()[3]->setValueNotifyingHost (1.0f);
        }
    }

    ~PreparedInstance()
    {
        if (instance != nullptr)
            instance->releaseResources();
    }

    std::unique_ptr<juce::AudioPluginInstance> instance;
};
} // namespace

TEST (HostEditor, OpensAtTheStoredWidthKeepsItsAspectAndRemembersTheLastWidth)
{
    storePanelWidth (1000);
    PreparedInstance prepared;
    ASSERT_NE (prepared.instance, nullptr);
    auto& instance = *prepared.instance;
    ASSERT_TRUE (instance.hasEditor());
    AudioThread audio ({ &instance });

    auto window = openEditor (instance);
    ASSERT_NE (window, nullptr);
    auto& editor = window->editor();
    EXPECT_EQ (editor.getWidth(), 1000);
    EXPECT_EQ (editor.getHeight(), 625);
    pump (300);
    EXPECT_TRUE (audioKeepsRunning (audio));

    // The plug-in drew into the host's window, scaled by 1.25: black edges, the grey column
    // around the pad, and the black bar at the column's middle (design x 399..401).
    auto* peer = window->getPeer();
    ASSERT_NE (peer, nullptr);
    const auto windowId = (unsigned long) (juce::pointer_sized_int) peer->getNativeHandle();
    std::vector<std::uint32_t> pixels;
    const auto at = [&] (int x, int y) { return pixels[(size_t) y * 1000 + (size_t) x]; };
    // The plug-in paints its window asynchronously; give a slow machine a few seconds.
    for (int attempt = 0; attempt < 30; ++attempt)
    {
        pixels = grabWindow (windowId, 1000, 625);
        if (pixels.size() == (size_t) 1000 * 625 && at (491, 25) == 0x191919u)
            break;
        pump (100);
    }
    ASSERT_EQ (pixels.size(), (size_t) 1000 * 625) << "the window could not be read";
    EXPECT_EQ (at (1, 300), 0x000000u);
    EXPECT_EQ (at (998, 400), 0x000000u);
    EXPECT_EQ (at (491, 25), 0x191919u) << "design (393, 20)";
    EXPECT_EQ (at (500, 25), 0x000000u) << "design (400, 20)";
    EXPECT_EQ (at (491, 400), 0x191919u) << "design (393, 320)";

    // The pad keeps repainting on its own timer, which runs through the host's run loop: its
    // follower and particles move between two looks at the window.
    pump (400);
    const auto later = grabWindow (windowId, 1000, 625);
    ASSERT_EQ (later.size(), pixels.size());
    int changed = 0;
    for (int y = 47; y < 373; ++y)
        for (int x = 337; x < 663; ++x)
            changed += later[(size_t) y * 1000 + (size_t) x] != at (x, y) ? 1 : 0;
    EXPECT_GT (changed, 20) << "the pad did not repaint";
    for (int y = 0; y < 625; y += 25)
        EXPECT_EQ (later[(size_t) y * 1000 + 1], 0x000000u) << "left margin, row " << y;

    // The host asks for sizes of any shape; the plug-in's constrainer keeps width over height 1.6.
    struct Resize { int askedWidth, askedHeight, width, height; };
    const Resize resizes[] = { { 1000, 700, 1000, 625 }, { 1200, 500, 800, 500 }, { 1280, 900, 1280, 800 }, { 640, 640, 640, 400 } };
    for (const auto& r : resizes)
    {
        SCOPED_TRACE (juce::String (r.askedWidth) + " x " + juce::String (r.askedHeight));
        editor.setSize (r.askedWidth, r.askedHeight);
        pump (120);
        EXPECT_EQ (editor.getWidth(), r.width);
        EXPECT_EQ (editor.getHeight(), r.height);
        EXPECT_EQ (window->getContentComponent()->getBounds(), juce::Rectangle<int> (0, 0, r.width, r.height));
    }

    window.reset();
    pump (50);
    EXPECT_EQ (instance.getActiveEditor(), nullptr);

    // Opened again, the window takes the width it was last given.
    window = openEditor (instance);
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->editor().getWidth(), 640);
    EXPECT_EQ (window->editor().getHeight(), 400);
    pump (150);
    window.reset();

    EXPECT_TRUE (audioKeepsRunning (audio));
    audio.stop();
    EXPECT_TRUE (audio.allFinite());
    EXPECT_GT (audio.peak(), 1.0e-3f) << "the plug-in passed no sound";
}

TEST (HostEditor, OpensAndClosesManyTimesWhileAudioAndAutomationRun)
{
    storePanelWidth (800);
    PreparedInstance prepared;
    ASSERT_NE (prepared.instance, nullptr);
    auto& instance = *prepared.instance;
    AudioThread audio ({ &instance }, true);

    for (int round = 0; round < 25; ++round)
    {
        SCOPED_TRACE (round);
        auto window = openEditor (instance);
        ASSERT_NE (window, nullptr);

        // Every other round the window closes at once, before any timer of the editor has fired;
        // the others stay open past several pad and panel timer periods and get resized.
        if (round % 2 == 1)
        {
            pump (1);
        }
        else
        {
            pump (160);
            const int width = 640 + 40 * round;
            window->editor().setSize (width, width);
            pump (120);
            EXPECT_EQ (window->editor().getHeight(), (int) (width / 1.6));
        }

        window.reset();
        EXPECT_EQ (instance.getActiveEditor(), nullptr);
        ASSERT_TRUE (audioKeepsRunning (audio)) << "the audio thread stalled";
    }

    pump (150);
    audio.stop();
    EXPECT_TRUE (audio.allFinite());
    EXPECT_GT (audio.peak(), 1.0e-3f);
}

TEST (HostEditor, TwoInstancesWithOpenEditors)
{
    storePanelWidth (800);
    PreparedInstance first, second;
    ASSERT_TRUE (first.instance != nullptr && second.instance != nullptr);
    AudioThread audio ({ first.instance.get(), second.instance.get() }, true);

    for (int round = 0; round < 4; ++round)
    {
        SCOPED_TRACE (round);
        auto a = openEditor (*first.instance);
        auto b = openEditor (*second.instance);
        ASSERT_TRUE (a != nullptr && b != nullptr);
        b->setTopLeftPosition (300, 200);
        pump (250);

        // Each editor belongs to its own instance; resizing one leaves the other alone.
        a->editor().setSize (960, 700);
        pump (100);
        EXPECT_EQ (a->editor().getHeight(), 600);
        EXPECT_EQ (b->editor().getWidth(), 800);

        // Close in either order, and reopen one while the other stays open.
        (round % 2 == 0 ? a : b).reset();
        pump (120);
        if (a == nullptr)
            a = openEditor (*first.instance);
        else
            b = openEditor (*second.instance);
        ASSERT_TRUE (a != nullptr && b != nullptr);
        pump (150);

        a.reset();
        b.reset();
        ASSERT_TRUE (audioKeepsRunning (audio));
    }

    audio.stop();
    EXPECT_TRUE (audio.allFinite());
    EXPECT_GT (audio.peak(), 1.0e-3f);
}

namespace
{
// The host's X error handlers. GTK's would end the process on any error; these log the connection
// each came on.
std::vector<Display*> errorsSeenByHost;
int hostErrorHandler (Display* display, XErrorEvent*) { errorsSeenByHost.push_back (display); return 0; }
int laterHostErrorHandler (Display* display, XErrorEvent*) { errorsSeenByHost.push_back (display); return 0; }

// The window the plug-in's own connection made for its view, inside the host's editor.
::Window pluginViewIn (Display* display, juce::Component& c)
{
    if (auto* embedding = dynamic_cast<juce::XEmbedComponent*> (&c))
    {
        ::Window root, parent, *children = nullptr, view = 0;
        unsigned int count = 0;
        if (XQueryTree (display, (::Window) embedding->getHostWindowID(), &root, &parent, &children, &count) != 0 && count > 0)
            view = children[0];
        if (children != nullptr)
            XFree (children);
        return view;
    }
    for (auto* child : c.getChildren())
        if (const auto view = pluginViewIn (display, *child))
            return view;
    return 0;
}

// The host's own connection to the display (this process's framework, which runs the host's
// windows): errors on it are the host's business.
Display* hostConnection()
{
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    return windowSystem != nullptr ? windowSystem->getDisplay() : nullptr;
}
} // namespace

// An error on the plug-in's own connection to the display, with its window open, never reaches the
// host's handler; an error on another connection still does. The plug-in's view is destroyed under
// it from another connection, so every request the plug-in then makes on it (painting, and
// destroying it when the window closes) fails on the plug-in's connection. Once the plug-in has
// gone the host's handler is in place again, or the one the host put over the plug-in's meanwhile,
// which then sees the plug-in's errors: the requests do fail.
TEST (HostEditor, AnXErrorOnThePluginsOwnConnectionNeverReachesTheHostsHandler)
{
    for (const bool hostReplacesHandler : { false, true })
    {
        SCOPED_TRACE (hostReplacesHandler ? "the host replaced the handler after the window opened" : "the host's handler");
        errorsSeenByHost.clear();
        const auto handlerBefore = XSetErrorHandler (hostErrorHandler);
        auto* own = XOpenDisplay (nullptr);
        ASSERT_NE (own, nullptr);
        {
            auto instance = createInstance (sampleRate, blockSize);
            ASSERT_NE (instance, nullptr);
            auto window = std::make_unique<HostWindow> (instance->createEditorIfNeeded());
            testsupport::runMessageLoop (300);
            if (hostReplacesHandler)
                XSetErrorHandler (laterHostErrorHandler);

            const auto view = pluginViewIn (own, window->editor());
            ASSERT_NE (view, 0ul);
            XDestroyWindow (own, view);
            XSync (own, False);
            testsupport::runMessageLoop (300);

            // An error on another connection still reaches the host's handler.
            XWindowAttributes attributes;
            EXPECT_EQ (XGetWindowAttributes (own, view, &attributes), 0);
            EXPECT_EQ (std::count (errorsSeenByHost.begin(), errorsSeenByHost.end(), own), 1);

            window.reset();
            instance.reset();
            testsupport::runMessageLoop (100);
        }

        const auto fromThePlugin = std::count_if (errorsSeenByHost.begin(), errorsSeenByHost.end(),
                                                  [&] (Display* d) { return d != own && d != hostConnection(); });
        if (hostReplacesHandler)
            EXPECT_GT (fromThePlugin, 0);
        else
            EXPECT_EQ (fromThePlugin, 0);

        EXPECT_EQ (XSetErrorHandler (handlerBefore), hostReplacesHandler ? laterHostErrorHandler : hostErrorHandler);
        XCloseDisplay (own);
    }
}
