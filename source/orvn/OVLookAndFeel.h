#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace orvn::gui
{
// The one look-and-feel of the editor: a dark palette, its own buttons, bubbles, combo boxes,
// sliders and tooltips, and plain 12-point widget fonts in the default typeface.
//
// A slider whose component property "bipolar" is 1 (or true) is drawn from its centre: a rotary
// knob fills from the top towards its pointer, a horizontal slider shows a mark at its middle.
class OVLookAndFeel : public juce::LookAndFeel_V4
{
public:
    // The slider's increment and decrement buttons: invisible, lying over the value text.
    class TransparentButton : public juce::TextButton
    {
    public:
        TransparentButton() = default;

        void paint (juce::Graphics&) override {}
    };

    OVLookAndFeel();
    ~OVLookAndFeel() override;

    // The size every widget font of this look-and-feel has.
    static constexpr float widgetFontHeight = 12.0f;

    // True when the slider's "bipolar" property, read as an integer, is 1.
    static bool isBipolar (const juce::Slider& slider);

    //==============================================================================================
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    void drawBubble (juce::Graphics&, juce::BubbleComponent&, const juce::Point<float>& positionOfTip,
                     const juce::Rectangle<float>& body) override;

    juce::Font getPopupMenuFont() override;

    void drawComboBox (juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY,
                       int buttonW, int buttonH, juce::ComboBox&) override;
    juce::Font getComboBoxFont (juce::ComboBox&) override;

    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos, float minSliderPos,
                           float maxSliderPos, juce::Slider::SliderStyle, juce::Slider&) override;
    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    juce::Button* createSliderButton (juce::Slider&, bool isIncrement) override;
    juce::Label* createSliderTextBox (juce::Slider&) override;
    juce::Font getSliderPopupFont (juce::Slider&) override;
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;

    void drawTooltip (juce::Graphics&, const juce::String& text, int width, int height) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OVLookAndFeel)
};
} // namespace orvn::gui
