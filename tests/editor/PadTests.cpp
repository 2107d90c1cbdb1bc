// The X/Y pad: value <-> dot mapping, drags, host gestures (also around the controller menu),
// the drawing of trajectory, glow and level ring, and the controller menu's effect on the map.

#include "EditorTestSupport.h"

#include "editor/QuorilPad.h"

#include <limits>

using namespace editortest;

namespace
{
struct PadFixture
{
    PadFixture()
        : x (*p.parameters.getParameter ("x_pos")),
          y (*p.parameters.getParameter ("y_pos")),
          pad (std::make_unique<QuorilPad> (x, y, p))
    {
    }

    void setXY (float xValue, float yValue)
    {
        x.setValueNotifyingHost (xValue);
        y.setValueNotifyingHost (yValue);
    }

    void setTrajectory (bool on) { p.parameters.getParameter ("trajectory")->setValueNotifyingHost (on ? 1.0f : 0.0f); }

    // What the audio side publishes for the pad, then the pad's timer tick.
    void publish (float currentX, float currentY, float xMin, float xMax, float yMin, float yMax, float level)
    {
        p.currentX = currentX;
        p.currentY = currentY;
        p.trajectoryBounds.xMin = xMin;
        p.trajectoryBounds.xMax = xMax;
        p.trajectoryBounds.yMin = yMin;
        p.trajectoryBounds.yMax = yMax;
        p.outputLevel = level;
        pad->timerCallback();
    }

    juce::MouseEvent event (juce::Point<int> position, juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier)
    {
        return mouseEvent (*pad, position.toFloat(), mods);
    }

    void drag (std::initializer_list<juce::Point<int>> points)
    {
        auto it = points.begin();
        pad->mouseDown (event (*it));
        for (++it; it != points.end(); ++it)
            pad->mouseDrag (event (*it));
        pad->mouseUp (event (*(points.end() - 1)));
    }

    QuorilAudioProcessor p;
    juce::RangedAudioParameter& x;
    juce::RangedAudioParameter& y;
    std::unique_ptr<QuorilPad> pad;
};

// Chooses the n-th item of the open controller menu (from no highlight, one "up" reaches the last
// item; the next "down"s wrap to the wanted one), or dismisses it when n is 0.
std::function<void (juce::Component&)> chooseItem (int n)
{
    if (n <= 0)
        return pressKeys ({ { false, juce::KeyPress::escapeKey } });

    std::vector<MenuKey> keys { { false, juce::KeyPress::upKey } };
    for (int i = 0; i < n; ++i)
        keys.push_back ({ false, juce::KeyPress::downKey });
    keys.push_back ({ false, juce::KeyPress::returnKey });
    return pressKeys (keys);
}

int green (const juce::Image& image, int px, int py) { return image.getPixelAt (px, py).getGreen(); }
} // namespace

TEST (Pad, ValuesPlaceTheDotAndDragsSetTheValues)
{
    PadFixture f;
    f.setXY (0.25f, 0.75f);
    f.pad->setBounds (0, 0, 262, 262);
    EXPECT_NEAR (f.pad->getDotPosition().x, 69.5f, 1.0e-3f) << "the first layout pulls the values";
    EXPECT_NEAR (f.pad->getDotPosition().y, 192.5f, 1.0e-3f);

    for (const auto& [value, position] : { std::pair { 0.5f, 131.0f }, { 0.0f, 8.0f }, { 1.0f, 254.0f } })
    {
        f.setXY (value, 1.0f - value);
        EXPECT_FLOAT_EQ (f.pad->getDotPosition().x, position) << value;
        EXPECT_FLOAT_EQ (f.pad->getDotPosition().y, 262.0f - position) << value;
    }

    // The dot's centre sits 8 left of and above the pointer; values land on the parameters' 0.001 steps.
    struct Case { juce::Point<int> pointer; float x, y; };
    const Case drags[] = {
        { { 139, 139 }, 0.5f, 0.5f },    { { 0, 0 }, 0.0f, 0.0f },       { { -40, -900 }, 0.0f, 0.0f },
        { { 16, 16 }, 0.0f, 0.0f },      { { 17, 261 }, 0.004f, 0.996f }, { { 262, 262 }, 1.0f, 1.0f },
        { { 5000, 300 }, 1.0f, 1.0f },   { { 400, 77 }, 1.0f, 0.248f },
    };
    for (const auto& c : drags)
    {
        SCOPED_TRACE (c.pointer.toString());
        f.setXY (0.3f, 0.3f);
        f.drag ({ { 100, 100 }, { 120, 200 }, c.pointer });
        EXPECT_NEAR (f.x.getValue(), c.x, 0.0006f);
        EXPECT_NEAR (f.y.getValue(), c.y, 0.0006f);
        EXPECT_NEAR (f.pad->getDotPosition().x, 8.0f + f.x.getValue() * 246.0f, 1.0e-3f);
        EXPECT_NEAR (f.pad->getDotPosition().y, 8.0f + f.y.getValue() * 246.0f, 1.0e-3f);
    }

    // A press alone sets the values too; a later layout leaves the dot where it is.
    f.pad->mouseDown (f.event ({ 139, 16 }));
    f.pad->mouseUp (f.event ({ 139, 16 }));
    EXPECT_FLOAT_EQ (f.x.getValue(), 0.5f);
    EXPECT_FLOAT_EQ (f.y.getValue(), 0.0f);
    f.pad->setBounds (0, 0, 400, 400);
    EXPECT_EQ (f.pad->getDotPosition(), juce::Point<float> (131.0f, 8.0f));
}

TEST (Pad, EveryGestureBegunIsEndedOnce)
{
    PadFixture f;
    f.pad->setBounds (0, 0, 262, 262);
    const auto xi = juce::String (f.x.getParameterIndex()), yi = juce::String (f.y.getParameterIndex());

    {
        ParameterLog log ({ &f.x, &f.y });
        f.drag ({ { 50, 50 }, { 60, 70 }, { 200, 10 } });
        EXPECT_EQ (log.gestures, juce::StringArray ("b" + xi, "b" + yi, "e" + xi, "e" + yi))
            << "x first, on both the begin and the end";
    }

    {
        // A second press before the release, a release without a press, a drag outside any gesture.
        ParameterLog log ({ &f.x, &f.y });
        f.pad->mouseDown (f.event ({ 50, 50 }));
        f.pad->mouseDown (f.event ({ 60, 60 }));
        f.pad->mouseUp (f.event ({ 60, 60 }));
        f.pad->mouseUp (f.event ({ 60, 60 }));
        const auto valueBefore = f.x.getValue();
        f.pad->mouseDrag (f.event ({ 200, 200 }));
        EXPECT_EQ (f.x.getValue(), valueBefore) << "a drag outside a gesture sets nothing";
        EXPECT_TRUE (log.balanced());
        EXPECT_EQ (log.begins(), 2);
    }

    {
        // The window closes in the middle of a drag.
        ParameterLog log ({ &f.x, &f.y });
        f.pad->mouseDown (f.event ({ 50, 50 }));
        f.pad->mouseDrag (f.event ({ 70, 50 }));
        f.pad.reset();
        EXPECT_TRUE (log.balanced());
        EXPECT_EQ (log.begins(), 2);
    }
}

TEST (Pad, RightClickEndsItsGesturesWhenTheMenuCloses)
{
    PadFixture f;
    f.pad->setBounds (0, 0, 262, 262);
    f.p.midiMap.lastCC = 74;
    ParameterLog log ({ &f.x, &f.y });
    const auto x0 = f.x.getValue(), y0 = f.y.getValue();
    const auto right = juce::ModifierKeys (juce::ModifierKeys::rightButtonModifier);

    {
        MenuDriver driver (chooseItem (0));
        f.pad->mouseDown (f.event ({ 20, 20 }, right));
        // The click's release reaches the pad while the menu is still open.
        f.pad->mouseUp (f.event ({ 20, 20 }, right));
        EXPECT_TRUE (f.pad->isGestureOpen()) << "open until the menu closes";
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_FALSE (f.pad->isGestureOpen()) << "ended as the menu closed";
    EXPECT_EQ (log.begins(), 2);
    EXPECT_TRUE (log.balanced());
    f.pad->mouseUp (f.event ({ 20, 20 }, right));
    EXPECT_TRUE (log.balanced()) << "a late mouse-up ends nothing twice";
    EXPECT_EQ (f.p.midiMap.mapTree.getNumChildren(), 0) << "a dismissed menu does nothing";

    {
        MenuDriver driver (chooseItem (1));
        f.pad->mouseDown (f.event ({ 20, 20 }, right));
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_EQ (log.begins(), 4);
    EXPECT_TRUE (log.balanced());
    EXPECT_EQ (f.x.getValue(), x0) << "a right click moves nothing";
    EXPECT_EQ (f.y.getValue(), y0);
    EXPECT_EQ (bindingsOf (f.p.midiMap.mapTree), "x_pos=74") << "the first item";
    EXPECT_EQ (f.p.midiMap.getNumPublishedBindings(), 1) << "the binding reaches the audio side before the click returns";

    {
        // The window closes while the menu is open: the gestures end with the pad, and the
        // choice made afterwards ("CLEAR X CC MAPPING") finds no pad to act for.
        MenuDriver driver ([&f] (juce::Component& menu)
        {
            f.pad.reset();
            chooseItem (3) (menu);
        });
        f.pad->mouseDown (f.event ({ 20, 20 }, right));
        EXPECT_TRUE (driver.finish());
    }
    EXPECT_EQ (log.begins(), 6);
    EXPECT_TRUE (log.balanced());
    EXPECT_EQ (bindingsOf (f.p.midiMap.mapTree), "x_pos=74");
}

TEST (Pad, ControllerMenuItemsBindAndClear)
{
    PadFixture f;
    auto& map = f.p.midiMap;
    const auto menu = f.pad->createControllerMenu();

    juce::StringArray items;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        items.add (juce::String (it.getItem().itemID) + (it.getItem().isEnabled ? " " : " (disabled) ") + it.getItem().text);
    EXPECT_EQ (items.joinIntoString ("|"), juce::String (QuorilPad::mapXItem) + " MAP X TO LAST MOVED CC|"
                                               + juce::String (QuorilPad::mapYItem) + " MAP Y TO LAST MOVED CC|"
                                               + juce::String (QuorilPad::clearXItem) + " CLEAR X CC MAPPING|"
                                               + juce::String (QuorilPad::clearYItem) + " CLEAR Y CC MAPPING");

    struct Step { int lastCC, item; const char* map; int published; };
    const Step steps[] = {
        { -1, QuorilPad::mapXItem, "x_pos=-1", 0 },  // before any controller: bound to -1, matching nothing
        { 74, QuorilPad::mapYItem, "x_pos=-1,y_pos=74", 1 },
        { 10, QuorilPad::mapXItem, "x_pos=10,y_pos=74", 2 },
        { 10, 0, "x_pos=10,y_pos=74", 2 },            // menu dismissed
        { 10, 99, "x_pos=10,y_pos=74", 2 },
        { 10, QuorilPad::clearYItem, "x_pos=10", 1 },
        { 10, QuorilPad::clearYItem, "x_pos=10", 1 },  // nothing to clear
        { 10, QuorilPad::clearXItem, "", 0 },
    };

    for (const auto& s : steps)
    {
        map.lastCC = s.lastCC;
        f.pad->performControllerMenuItem (s.item);
        EXPECT_EQ (bindingsOf (map.mapTree), s.map) << s.item;
        EXPECT_EQ (map.getNumPublishedBindings(), s.published) << s.item;
    }
}

TEST (Pad, TrajectoryMovesTheGlowAndShowsItsRange)
{
    // The dot at the top of the middle grid column, the follower at its bottom, inside the range.
    auto render = [] (bool trajectoryOn)
    {
        PadFixture f;
        f.setXY (0.5f, 0.0f);
        f.setTrajectory (trajectoryOn);
        f.pad->setBounds (0, 0, 262, 262);
        f.publish (0.5f, 1.0f, 0.4f, 0.6f, 0.9f, 1.0f, 0.0f);
        EXPECT_EQ (f.pad->getFollowerPosition(), juce::Point<float> (131.0f, 258.0f));
        return snapshot (*f.pad);
    };

    const auto off = render (false), on = render (true);
    savePng (on, "pad");

    // How much brighter the grid column at x = 131 is than the background beside it.
    auto glowAt = [] (const juce::Image& image, int py) { return green (image, 131, py) - green (image, 125, py); };
    const int nearDot = 30, nearFollower = 236;

    EXPECT_GT (glowAt (off, nearDot), 20);
    EXPECT_LE (glowAt (off, nearFollower), 3);
    EXPECT_GT (glowAt (on, nearFollower), 20);
    EXPECT_LE (glowAt (on, nearDot), 3);

    // The range's tint: (115, 245) lies inside it, (80, 245) outside; neither is on the grid.
    EXPECT_GT (green (on, 115, 245), green (on, 80, 245));
    EXPECT_EQ (green (off, 115, 245), green (off, 80, 245));
    EXPECT_EQ (green (off, 80, 245), green (on, 80, 245));

    // The follower is drawn only when the trajectory is on.
    EXPECT_GT (green (on, 131, 257), 120);
    EXPECT_LT (green (off, 131, 257), 40);
}

TEST (Pad, LevelRingGrowsWithTheOutputLevel)
{
    auto render = [] (float level)
    {
        PadFixture f;
        f.setXY (0.5f, 0.5f);
        f.pad->setBounds (0, 0, 262, 262);
        f.p.outputLevel = level;
        return snapshot (*f.pad);
    };

    const auto silent = render (0.0f), loud = render (1.0f), beyond = render (4.0f);
    const auto broken = render (std::numeric_limits<float>::quiet_NaN());

    // (176, 85) lies on a circle of radius 64 around the dot at (131, 131), off the grid.
    EXPECT_EQ (green (silent, 176, 85), green (silent, 150, 60)) << "no ring at silence";
    EXPECT_GT (green (loud, 176, 85), 150);
    EXPECT_EQ (loud.getPixelAt (176, 85), beyond.getPixelAt (176, 85)) << "levels above 1 draw as 1";
    EXPECT_EQ (broken.getPixelAt (176, 85), silent.getPixelAt (176, 85)) << "a level that is no number draws as silence";
    // Inside the ring, off the grid: untouched.
    EXPECT_EQ (green (loud, 160, 100), green (loud, 150, 60));
}

TEST (Pad, PublishedValuesThatAreNoNumbersDrawSafely)
{
    constexpr auto inf = std::numeric_limits<float>::infinity();
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();

    PadFixture f;
    f.setTrajectory (true);
    f.pad->setBounds (0, 0, 262, 262);
    f.publish (nan, inf, -inf, nan, 1.0e30f, inf, -inf);
    EXPECT_EQ (f.pad->getFollowerPosition(), juce::Point<float> (4.0f, 262.0f));

    const auto image = snapshot (*f.pad);
    EXPECT_EQ (image.getPixelAt (150, 60).getAlpha(), 255);
}
