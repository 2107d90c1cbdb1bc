#include "QuorilPad.h"

#include "../orvn/AttachedMenus.h"
#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"

#include <cmath>

namespace
{
// Limits a value to lower..upper, without jlimit's debug assertion: before the first layout the
// pad has no size, so for a moment the upper limit can lie below the lower one; the lower one
// wins then. A value that is not a number gives the lower limit.
float limit (float lower, float upper, float value) noexcept
{
    if (value > upper)
        value = upper;

    return value >= lower ? value : lower;
}

// Position of a value 0..1 along a side of the given length, with a margin at both ends.
float valueToPosition (float value, float margin, float length) noexcept
{
    return limit (margin, length, margin + value * (length - 2.0f * margin));
}

// A published edge of the trajectory's range, 0..1 across the pad. Values far outside the pad are
// drawn as if just outside it (the pad clips them anyway), and one that is not finite as 0, so
// that nothing unbounded reaches the renderer.
float rangeEdge (const std::atomic<float>& edge) noexcept
{
    const auto value = edge.load();
    return std::isfinite (value) ? limit (-1.0f, 2.0f, value) : 0.0f;
}

// The pad's background: the highlight at alpha 0.1 over black, blended once by the renderer
// itself so that one opaque fill gives the same pixels as the two layers.
juce::Colour backgroundColour()
{
    static const juce::Colour colour = []
    {
        juce::Image pixel (juce::Image::ARGB, 1, 1, false, juce::SoftwareImageType());
        {
            juce::Graphics g (pixel);
            g.fillAll (juce::Colours::black);
            g.fillAll (highlightColour.withAlpha (0.1f));
        }
        return pixel.getPixelAt (0, 0);
    }();
    return colour;
}
} // namespace

QuorilPad::QuorilPad (juce::RangedAudioParameter& xParameter, juce::RangedAudioParameter& yParameter, QuorilAudioProcessor& p)
    : processor (p),
      xAttachment (xParameter, [this] (float v) { onXParameterChanged (v); }, nullptr),
      yAttachment (yParameter, [this] (float v) { onYParameterChanged (v); }, nullptr),
      glowGradient (highlightColour, 0.0f, 0.0f, highlightColour.withAlpha (0.0f), 1.0f, 0.0f, true)
{
    particles.fill ({ -10.0f, -10.0f });
    startTimer (50);
}

QuorilPad::~QuorilPad()
{
    stopTimer();
    // A host closing the window in the middle of a drag still gets the end of the gesture.
    endGestures();
}

//==============================================================================
void QuorilPad::onXParameterChanged (float value)
{
    dotPosition.x = valueToPosition (value, dotRadius, (float) getWidth());
}

void QuorilPad::onYParameterChanged (float value)
{
    dotPosition.y = valueToPosition (value, dotRadius, (float) getHeight());
}

void QuorilPad::beginGestures()
{
    if (gestureOpen)
        return;

    gestureOpen = true;
    xAttachment.beginGesture();
    yAttachment.beginGesture();
}

void QuorilPad::endGestures()
{
    if (! gestureOpen)
        return;

    gestureOpen = false;
    xAttachment.endGesture();
    yAttachment.endGesture();
}

//==============================================================================
void QuorilPad::mouseDown (const juce::MouseEvent& event)
{
    beginGestures();

    if (event.mods.isRightButtonDown())
    {
        showControllerMenu();
        return;
    }

    mouseDrag (event);
}

void QuorilPad::mouseDrag (const juce::MouseEvent& event)
{
    // Values are set only inside a gesture that a press on the pad began: a drag after the
    // controller menu (whose gestures have ended) moves nothing.
    if (! gestureOpen)
        return;

    const auto m = dotRadius;
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const auto pointer = event.getPosition().toFloat();

    // The dot's centre sits m to the left of and above the pointer.
    dotPosition.x = limit (m, w - m, pointer.x - m);
    dotPosition.y = limit (m, h - m, pointer.y - m);

    const auto travelX = w - 2.0f * m;
    const auto travelY = h - 2.0f * m;
    const auto x = travelX > 0.0f ? limit (0.0f, 1.0f, (dotPosition.x - m) / travelX) : 0.0f;
    const auto y = travelY > 0.0f ? limit (0.0f, 1.0f, (dotPosition.y - m) / travelY) : 0.0f;

    xAttachment.setValueAsPartOfGesture (x);
    yAttachment.setValueAsPartOfGesture (y);
}

void QuorilPad::mouseUp (const juce::MouseEvent&)
{
    // The release of the right click that opened the controller menu arrives while the menu is
    // still open; the menu's closing ends the gestures.
    if (controllerMenuOpen)
        return;

    endGestures();
}

//==============================================================================
juce::PopupMenu QuorilPad::createControllerMenu() const
{
    juce::PopupMenu menu;
    menu.addItem (mapXItem, "MAP X TO LAST MOVED CC");
    menu.addItem (mapYItem, "MAP Y TO LAST MOVED CC");
    menu.addItem (clearXItem, "CLEAR X CC MAPPING");
    menu.addItem (clearYItem, "CLEAR Y CC MAPPING");
    return menu;
}

void QuorilPad::performControllerMenuItem (int itemId)
{
    const auto& ids = processor.parameterTable->ids;
    const auto& xId = ids[ParameterTable::xPos];
    const auto& yId = ids[ParameterTable::yPos];
    auto& map = processor.midiMap;

    // The map's own operations hand the changed bindings to the audio thread at once.
    bool changed = false;

    switch (itemId)
    {
        case mapXItem:   changed = map.assignToLastCC (xId); break;
        case mapYItem:   changed = map.assignToLastCC (yId); break;
        case clearXItem: changed = map.clearMapping (xId); break;
        case clearYItem: changed = map.clearMapping (yId); break;
        default: break;
    }

    if (changed)
        processor.noteStateChange();
}

void QuorilPad::showControllerMenu()
{
    // Opens at the pointer, and closes with the pad's window.
    const auto options = juce::PopupMenu::Options()
                             .withTargetComponent (this)
                             .withMousePosition()
                             .withMaximumNumColumns (1)
                             .withStandardItemHeight (20);

    controllerMenuOpen = true;

    orvnlib::AttachedMenus::show (createControllerMenu(), options, [safeThis = juce::Component::SafePointer<QuorilPad> (this)] (int result)
    {
        // The window may have closed while the menu was open; the destructor has ended the gestures then.
        auto* pad = safeThis.getComponent();

        if (pad == nullptr)
            return;

        // The gestures end as the menu closes; a mouse-up that still arrives later finds them
        // ended and does nothing.
        pad->controllerMenuOpen = false;
        pad->endGestures();
        pad->performControllerMenuItem (result);
    });
}

//==============================================================================
void QuorilPad::timerCallback()
{
    const auto r = followerRadius;
    followerPosition.x = valueToPosition (processor.currentX.load(), r, padWidth);
    followerPosition.y = valueToPosition (processor.currentY.load(), r, padHeight);
    repaint();
}

void QuorilPad::resized()
{
    if (needsInitialUpdate)
    {
        needsInitialUpdate = false;
        xAttachment.sendInitialUpdate();
        yAttachment.sendInitialUpdate();
    }

    padWidth = (float) getWidth();
    padHeight = (float) getHeight();
    glowWidth = padWidth * 0.5f;
    glowHeight = padHeight * 0.5f;
    particleScale = glowWidth / 7.0f;

    for (int i = 0; i < 12; ++i)
    {
        gridRows[(size_t) i] = { 0.0f, (float) i * (padHeight / 12.0f), padWidth, 1.0f };
        gridColumns[(size_t) i] = { (float) i * (padWidth / 12.0f), 0.0f, 1.0f, padHeight };
    }
}

void QuorilPad::paint (juce::Graphics& g)
{
    const auto w = padWidth;
    const auto h = padHeight;

    g.fillAll (backgroundColour());

    // Trajectory range and the follower.
    const bool trajectoryOn = processor.parameterTable->raw (ParameterTable::trajectory) > 0.5f;
    const auto follower = juce::Rectangle<float> (2.0f * followerRadius, 2.0f * followerRadius).withCentre (followerPosition);

    if (trajectoryOn)
    {
        const auto& tb = processor.trajectoryBounds;
        const auto xMin = rangeEdge (tb.xMin), xMax = rangeEdge (tb.xMax), yMin = rangeEdge (tb.yMin), yMax = rangeEdge (tb.yMax);
        const juce::Rectangle<float> bounds (xMin * w, yMin * h, xMax * w - xMin * w, yMax * h - yMin * h);

        g.setColour (highlightColour.withAlpha (0.05f));
        g.fillRect (bounds);

        g.setColour (highlightColour.withAlpha (0.8f));
        g.fillEllipse (follower.constrainedWithin (bounds));
    }

    // The position dot.
    const auto dot = juce::Rectangle<float> (2.0f * dotRadius, 2.0f * dotRadius).withCentre (dotPosition);
    g.setColour (highlightColour);
    g.fillEllipse (dot);
    g.setColour (highlightColour.withMultipliedBrightness (0.8f));
    g.fillEllipse (dot.reduced (1.0f));

    // Level 0..1 on a square-root scale; a level that is not a number draws as silence.
    const auto s = std::sqrt (limit (0.0f, 1.0f, processor.outputLevel.load()));
    const auto centre = trajectoryOn ? follower.getCentre() : dotPosition;

    // Level ring around the dot (nothing to stroke at silence).
    const auto ringSize = 2.0f * dotRadius * 8.0f * s;
    if (ringSize > 0.0f)
    {
        g.setColour (highlightColour.withAlpha (0.2f + 0.75f * s));
        g.drawEllipse (juce::Rectangle<float> (ringSize, ringSize).withCentre (dotPosition), 2.0f);
    }

    // Glow: the grid lit around the centre, fading outwards.
    const auto glow = juce::Rectangle<float> (glowWidth, glowHeight).withCentre (centre);
    glowGradient.point1 = glow.getCentre();
    glowGradient.point2 = { glow.getRight(), glow.getCentreY() };
    glowGradient.setColour (0, highlightColour.withAlpha (0.3f + 0.65f * s));
    g.setGradientFill (glowGradient);

    // Beyond its radius the gradient is transparent and leaves the pixels as they are, so only the
    // parts of the grid within its reach (with a margin for the edges' smoothing) are filled.
    const auto reach = glowGradient.point1.getDistanceFrom (glowGradient.point2) + 2.0f;
    const auto lit = juce::Rectangle<float> (2.0f * reach, 2.0f * reach).withCentre (centre);

    for (size_t i = 0; i < gridRows.size(); ++i)
    {
        g.fillRect (gridRows[i].getIntersection (lit));
        g.fillRect (gridColumns[i].getIntersection (lit));
    }

    // Particles wander within the glow and jump back to its centre when they leave it.
    const auto particleSize = juce::jmax (2.0f, s * particleScale);

    for (auto& particle : particles)
    {
        auto x = particle.x + (random.nextFloat() * 0.1f - 0.05f) * glow.getWidth();
        auto y = particle.y + (random.nextFloat() * 0.1f - 0.05f) * glow.getHeight();

        if (x < glow.getX() || x > glow.getRight())
            x = centre.x;
        if (y < glow.getY() || y > glow.getBottom())
            y = centre.y;

        particle = { x, y };
        g.drawEllipse ({ x, y, particleSize, particleSize }, 1.0f);
    }
}
