#include "OVLookAndFeel.h"

#include <cmath>

namespace orvn::gui
{
namespace
{
juce::Font widgetFont()
{
    return juce::Font (OVLookAndFeel::widgetFontHeight, juce::Font::plain);
}

// The knob's proportions of its radius, as single-precision constants (the nearest floats below
// 0.2 and above 0.64, which the knob's geometry is drawn with).
constexpr float capInsetProportion = 0.19999999f;
constexpr float pointerInnerProportion = 0.3f;
constexpr float pointerOuterProportion = 0.64000005f;
constexpr float pointerThicknessProportion = 0.04f;

// Top of the knob in the slider's angle convention (clockwise from twelve o'clock).
constexpr float knobTopAngle = juce::MathConstants<float>::twoPi;
} // namespace

OVLookAndFeel::OVLookAndFeel()
{
    const juce::Colour panel (0xff191919);

    setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xff2660a4));
    setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xff2660a4));
    setColour (juce::TextButton::textColourOnId, juce::Colour (0xff2660a4));
    setColour (juce::ResizableWindow::backgroundColourId, panel);
    setColour (juce::Slider::backgroundColourId, juce::Colour (0xff343434));
    setColour (juce::BubbleComponent::backgroundColourId, juce::Colour (0xff000000));
    setColour (juce::BubbleComponent::outlineColourId, juce::Colour (0xff343434));
    setColour (juce::TooltipWindow::textColourId, juce::Colour (0xffffffff));
    setColour (juce::TooltipWindow::backgroundColourId, juce::Colour (0xff000000));
    setColour (juce::TooltipWindow::outlineColourId, juce::Colour (0xff343434));
    setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0xff000000));
    setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0xff343434));
    setColour (juce::ComboBox::backgroundColourId, panel.brighter (0.1f));
    setColour (juce::PopupMenu::backgroundColourId, panel.darker (0.4f));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0xff343434));
    setColour (juce::TextButton::buttonColourId, panel.brighter (0.1f));
    setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff000000));
    setColour (juce::TextButton::textColourOffId, juce::Colour (0xffffffff));
}

OVLookAndFeel::~OVLookAndFeel() = default;

bool OVLookAndFeel::isBipolar (const juce::Slider& slider)
{
    return (int) slider.getProperties().getWithDefault ("bipolar", 0) == 1;
}

//==================================================================================================
void OVLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                                          bool /*shouldDrawButtonAsHighlighted*/, bool shouldDrawButtonAsDown)
{
    const auto w = (float) juce::jmax (0, button.getWidth() - 1);
    const auto fullH = juce::jmax (0, button.getHeight() - 1);
    const auto h = (float) (fullH - juce::jmin (fullH, 1));
    constexpr float cornerSize = 4.0f;

    g.setColour (juce::Colour (0xff000000));
    g.fillRoundedRectangle (0.5f, 1.5f, w, h, cornerSize);

    auto face = backgroundColour.withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f);

    if (shouldDrawButtonAsDown)
        face = face.darker (0.4f);

    g.setColour (face);

    const auto left = button.isConnectedOnLeft();
    const auto right = button.isConnectedOnRight();
    const auto top = button.isConnectedOnTop();
    const auto bottom = button.isConnectedOnBottom();

    if (! (left || right || top || bottom))
    {
        g.fillRoundedRectangle (0.5f, 0.5f, w, h, cornerSize);
        return;
    }

    juce::Path path;
    path.addRoundedRectangle (0.5f, 0.5f, w, h, cornerSize, cornerSize,
                              ! (left || top), ! (right || top), ! (left || bottom), ! (right || bottom));
    g.fillPath (path);
}

juce::Font OVLookAndFeel::getTextButtonFont (juce::TextButton&, int)
{
    return widgetFont();
}

//==================================================================================================
void OVLookAndFeel::drawBubble (juce::Graphics& g, juce::BubbleComponent& bubble, const juce::Point<float>&,
                                const juce::Rectangle<float>& body)
{
    constexpr float cornerSize = 2.0f;

    g.setColour (bubble.findColour (juce::BubbleComponent::outlineColourId));
    g.fillRoundedRectangle (body, cornerSize);
    g.setColour (bubble.findColour (juce::BubbleComponent::backgroundColourId));
    g.fillRoundedRectangle (body.reduced (1.0f), cornerSize);
}

//==================================================================================================
juce::Font OVLookAndFeel::getPopupMenuFont()
{
    return widgetFont();
}

//==================================================================================================
void OVLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool, int, int, int, int, juce::ComboBox& box)
{
    const auto cornerSize = box.findParentComponentOfClass<juce::ChoicePropertyComponent>() != nullptr ? 0.0f : 3.0f;
    const auto w = (float) width;
    const auto h1 = (float) juce::jmax (0, height - 1);

    g.setColour (juce::Colour (0xff000000));
    g.fillRoundedRectangle (0.0f, 1.0f, w, h1, cornerSize);
    g.setColour (box.findColour (juce::ComboBox::backgroundColourId));
    g.fillRoundedRectangle (0.0f, 0.0f, w, h1, cornerSize);

    const auto midY = (float) (height / 2);
    juce::Path arrow;
    arrow.startNewSubPath ((float) (width - 20) + 3.0f, midY - 2.0f);
    arrow.lineTo ((float) (width - 13), midY + 3.0f);
    arrow.lineTo ((float) (width - 6) - 3.0f, midY - 2.0f);

    g.setColour (box.findColour (juce::ComboBox::arrowColourId).withAlpha (box.isEnabled() ? 0.9f : 0.2f));
    g.strokePath (arrow, juce::PathStrokeType (1.0f));
}

juce::Font OVLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return widgetFont();
}

//==================================================================================================
void OVLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos, float,
                                      float, juce::Slider::SliderStyle style, juce::Slider& slider)
{
    if (style == juce::Slider::IncDecButtons)
        return;

    const auto ownStyle = slider.getSliderStyle();
    if (ownStyle != juce::Slider::LinearHorizontal && ownStyle != juce::Slider::LinearBar
        && ownStyle != juce::Slider::TwoValueHorizontal && ownStyle != juce::Slider::ThreeValueHorizontal)
        return;

    const auto trackY = y + (height - 4) / 2;
    g.setColour (juce::Colour (0xff000000));
    g.fillRect (x, trackY, width, 4);

    const auto thumb = slider.findColour (juce::Slider::thumbColourId);

    if (isBipolar (slider))
    {
        g.setColour (thumb.withAlpha ((juce::uint8) 153));
        g.fillRect (juce::Rectangle<float> ((float) (x + (width - 4) / 2), (float) (trackY + 1), 4.0f, 2.0f));
    }

    g.setColour (juce::Colour (0xff000000).withAlpha ((juce::uint8) 204));
    g.fillRect (juce::Rectangle<float> (sliderPos - 2.0f, (float) y, 4.0f, (float) height));

    g.setColour (thumb);
    g.fillRect (juce::Rectangle<float> (sliderPos - 2.0f, (float) y + 0.5f, 4.0f, juce::jmax (0.0f, (float) height - 2.0f)));
}

void OVLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                      float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider)
{
    const auto bipolar = isBipolar (slider);

    // A knob always lies inside its range; a value that is not a number draws at the start. An
    // unbounded position would make the arcs below endless.
    sliderPos = std::isnan (sliderPos) ? 0.0f : juce::jlimit (0.0f, 1.0f, sliderPos);

    const auto halfWidth = (float) width * 0.5f;
    const auto halfHeight = (float) height * 0.5f;
    const auto radius = juce::jmin (halfWidth, halfHeight) - 2.0f;
    const auto centreX = (float) x + halfWidth;
    const auto centreY = (float) y + halfHeight;
    const juce::Rectangle<float> knob (centreX - radius, centreY - radius, 2.0f * radius, 2.0f * radius);
    const auto angle = (rotaryEndAngle - rotaryStartAngle) * sliderPos + rotaryStartAngle;

    const auto enabled = slider.isEnabled();
    const auto back = slider.findColour (juce::Slider::backgroundColourId);
    const auto fill = slider.findColour (juce::Slider::rotarySliderFillColourId).withAlpha ((juce::uint8) (enabled ? 255 : 128));
    const auto wedge = fill.withMultipliedAlpha (0.8f);

    // One path serves every shape of the knob, so a paint allocates its storage once: an arc takes
    // three coordinates per 0.05 radians, an ellipse 32, the pointer 16.
    juce::Path path;
    path.preallocateSpace ((int) (std::abs (rotaryEndAngle - rotaryStartAngle) * 60.0f) + 64);

    path.addPieSegment (knob, rotaryStartAngle, rotaryEndAngle, 0.0f);
    g.setColour (back.brighter (0.1f));
    g.fillPath (path);

    float wedgeFrom = rotaryStartAngle, wedgeTo = angle;

    if (bipolar)
    {
        if (slider.valueToProportionOfLength (slider.getValue()) < 0.5)
        {
            wedgeFrom = angle;
            wedgeTo = knobTopAngle;
        }
        else
        {
            wedgeFrom = knobTopAngle;
            wedgeTo = angle;
        }
    }

    path.clear();
    path.addPieSegment (knob, wedgeFrom, wedgeTo, 0.0f);
    g.setColour (wedge);
    g.fillPath (path);

    path.clear();
    path.addEllipse (knob.reduced (2.0f));
    g.setColour (back.darker (0.3f));
    g.fillPath (path);

    const auto cap = knob.reduced (radius * capInsetProportion);
    path.clear();
    path.addEllipse (cap.translated (0.0f, 1.0f));
    g.setColour (juce::Colour (0xff000000));
    g.fillPath (path);

    path.clear();
    path.addEllipse (cap.reduced (1.0f));
    g.setColour (back.darker (0.1f));
    g.fillPath (path);

    path.clear();
    path.addLineSegment ({ 0.0f, -radius * pointerInnerProportion, 0.0f, -radius * pointerOuterProportion },
                         (2.0f * radius) * pointerThicknessProportion);
    g.setColour (fill);
    g.fillPath (path, juce::AffineTransform::rotation (angle).translated (centreX, centreY));
}

juce::Button* OVLookAndFeel::createSliderButton (juce::Slider&, bool)
{
    return new TransparentButton();
}

juce::Label* OVLookAndFeel::createSliderTextBox (juce::Slider& slider)
{
    auto* label = juce::LookAndFeel_V4::createSliderTextBox (slider);
    label->setFont (widgetFont());
    return label;
}

juce::Font OVLookAndFeel::getSliderPopupFont (juce::Slider&)
{
    return widgetFont();
}

juce::Slider::SliderLayout OVLookAndFeel::getSliderLayout (juce::Slider& slider)
{
    if (slider.getSliderStyle() != juce::Slider::IncDecButtons)
        return juce::LookAndFeel_V2::getSliderLayout (slider);

    juce::Slider::SliderLayout layout;
    layout.sliderBounds = slider.getLocalBounds();
    layout.textBoxBounds = slider.getLocalBounds();
    return layout;
}

//==================================================================================================
void OVLookAndFeel::drawTooltip (juce::Graphics& g, const juce::String& text, int width, int height)
{
    constexpr float cornerSize = 5.0f;

    g.setColour (findColour (juce::TooltipWindow::backgroundColourId));
    g.fillRoundedRectangle (0.0f, 0.0f, (float) width, (float) height, cornerSize);

    g.setColour (findColour (juce::TooltipWindow::outlineColourId));
    g.drawRoundedRectangle (0.5f, 0.5f, (float) juce::jmax (0, width - 1), (float) juce::jmax (0, height - 1), cornerSize, 1.0f);

    juce::AttributedString string;
    string.setJustification (juce::Justification::centredLeft);
    string.append (text, widgetFont(), findColour (juce::TooltipWindow::textColourId));

    juce::TextLayout layout;
    layout.createLayoutWithBalancedLineLengths (string, 400.0f);
    layout.draw (g, { 10.0f, 0.0f, (float) width - 10.0f, (float) height });
}
} // namespace orvn::gui
