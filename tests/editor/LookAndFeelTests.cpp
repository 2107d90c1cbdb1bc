// The editor's look-and-feel: its colour table, its fonts and typeface, and what its drawing
// operations put on screen, checked as colours at known pixels of rendered widgets.

#include "EditorTestSupport.h"

#include "QuorilBinaryData.h"
#include "editor/EditorShared.h"
#include "orvn/OVLookAndFeel.h"
#include "orvn/OrvnKnob.h"

using namespace editortest;

namespace
{
using orvn::gui::OVLookAndFeel;

juce::Image drawInto (int width, int height, const std::function<void (juce::Graphics&)>& draw)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    draw (g);
    return image;
}

int differingPixels (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return -1;
    int n = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            n += a.getPixelAt (x, y) != b.getPixelAt (x, y) ? 1 : 0;
    return n;
}

bool sameImage (const juce::Image& a, const juce::Image& b) { return differingPixels (a, b) == 0; }
bool isBlank (const juce::Image& image) { return sameImage (image, juce::Image (juce::Image::ARGB, image.getWidth(), image.getHeight(), true)); }

::testing::AssertionResult near (juce::Colour actual, juce::Colour expected, int tolerance = 3)
{
    const auto diff = [] (juce::uint8 a, juce::uint8 b) { return std::abs ((int) a - (int) b); };
    const auto worst = juce::jmax (diff (actual.getAlpha(), expected.getAlpha()), diff (actual.getRed(), expected.getRed()),
                                   diff (actual.getGreen(), expected.getGreen()), diff (actual.getBlue(), expected.getBlue()));
    if (worst <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "colour " << actual.toDisplayString (true) << ", expected "
                                         << expected.toDisplayString (true);
}

// The opaque colour that `top` drawn over the opaque `bottom` gives.
juce::Colour over (juce::Colour bottom, juce::Colour top) { return bottom.overlaidWith (top); }

juce::Typeface::Ptr orbitron()
{
    return juce::Typeface::createSystemTypefaceFor (QuorilBinaryData::Orbitron_500Medium_ttf,
                                                    (size_t) QuorilBinaryData::Orbitron_500Medium_ttfSize);
}

// Keeps a component on a look-and-feel for the length of a test.
template <typename ComponentType>
struct Styled
{
    template <typename... Args>
    explicit Styled (Args&&... args) : component (std::forward<Args> (args)...)
    {
        component.setLookAndFeel (&lf);
    }

    ~Styled() { component.setLookAndFeel (nullptr); }
    juce::Image snapshot() { return editortest::snapshot (component); }

    OVLookAndFeel lf;
    ComponentType component;
};
} // namespace

//==================================================================================================
// Colours that the drawing checks below and the window pictures do not already show.
TEST (LookAndFeel, ColoursOfTextBoxesMenusAndButtonTexts)
{
    OVLookAndFeel lf;
    using S = juce::Slider;
    using B = juce::TextButton;
    const std::pair<int, juce::uint32> table[] = {
        { S::rotarySliderFillColourId, 0xff2660a4 }, { S::textBoxTextColourId, 0xff2660a4 }, { B::textColourOnId, 0xff2660a4 },
        { B::textColourOffId, 0xffffffff }, { S::backgroundColourId, 0xff343434 }, { S::textBoxBackgroundColourId, 0xff000000 },
        { S::textBoxOutlineColourId, 0xff343434 }, { juce::PopupMenu::backgroundColourId, 0xff111111 },
        { juce::PopupMenu::highlightedBackgroundColourId, 0xff343434 }, { juce::TooltipWindow::textColourId, 0xffffffff },
    };
    for (const auto& [id, argb] : table)
        EXPECT_EQ (lf.findColour (id), juce::Colour (argb)) << "colour id 0x" << juce::String::toHexString (id);
}

// JUCE resolves a font's typeface through the default look-and-feel, which is why the editor
// installs its look-and-feel as the default.
TEST (LookAndFeel, WidgetTextIsPlainTwelvePointInTheEmbeddedTypeface)
{
    OVLookAndFeel lf;
    lf.setDefaultSansSerifTypeface (orbitron());
    juce::TextButton button;
    juce::ComboBox box;
    juce::Slider slider;
    for (const auto& font : { lf.getTextButtonFont (button, 40), lf.getPopupMenuFont(), lf.getComboBoxFont (box),
                              lf.getSliderPopupFont (slider) })
    {
        EXPECT_FLOAT_EQ (font.getHeight(), 12.0f);
        EXPECT_EQ (font.getStyleFlags(), juce::Font::plain);
        EXPECT_EQ (lf.getTypefaceForFont (font)->getName(), "Orbitron");
    }

    auto render = [] (bool embedded)
    {
        Styled<juce::TextButton> styled ("QUORIL 0.5");
        if (embedded)
            styled.lf.setDefaultSansSerifTypeface (orbitron());
        juce::LookAndFeel::setDefaultLookAndFeel (&styled.lf);
        styled.component.setBounds (0, 0, 120, 24);
        auto image = styled.snapshot();
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        juce::Typeface::clearTypefaceCache();
        return image;
    };
    const auto withOrbitron = render (true), withoutIt = render (false);
    EXPECT_GT (differingPixels (withOrbitron, withoutIt), 20) << "the button text is drawn with the typeface given to the look-and-feel";
}

//==================================================================================================
namespace
{
// A 60 x 60 knob: radius 28 around (30, 30); the value ring is the 2-pixel band between the body
// (radius 26) and the track's edge.
constexpr int knobSize = 60;
const juce::Colour track (0xff464646), body (0xff282828), cap (0xff2f2f2f);

juce::Image renderKnob (double value, const juce::var& bipolar, bool enabled)
{
    Styled<orvnlib::OrvnKnob> knob (highlightColour);
    knob.component.setBounds (0, 0, knobSize, knobSize);
    knob.component.setValue (value, juce::dontSendNotification);
    knob.component.setEnabled (enabled);
    if (! bipolar.isVoid())
        knob.component.getProperties().set ("bipolar", bipolar);

    return knob.snapshot();
}

juce::Colour wedgeOnTrack (bool enabled)
{
    return over (track, highlightColour.withAlpha ((juce::uint8) (enabled ? 204 : 102)));
}

// Which of track and value wedge a ring pixel is closer to.
bool looksLikeWedge (juce::Colour pixel)
{
    const auto distance = [] (juce::Colour a, juce::Colour b)
    {
        return std::abs (a.getRed() - b.getRed()) + std::abs (a.getGreen() - b.getGreen())
             + std::abs (a.getBlue() - b.getBlue());
    };
    return distance (pixel, wedgeOnTrack (true)) < distance (pixel, track);
}
} // namespace

TEST (LookAndFeel, KnobPartsAndTheirColoursEnabledAndDisabled)
{
    for (const bool enabled : { true, false })
    {
        SCOPED_TRACE (enabled ? "enabled" : "disabled");
        // At 0.5 the pointer stands at the top and the wedge covers the left half of the range.
        const auto image = renderKnob (0.5, {}, enabled);

        EXPECT_TRUE (near (image.getPixelAt (3, 29), wedgeOnTrack (enabled))) << "value ring, left";
        EXPECT_TRUE (near (image.getPixelAt (56, 29), track)) << "value ring, right";
        EXPECT_TRUE (near (image.getPixelAt (5, 29), body)) << "body";
        EXPECT_TRUE (near (image.getPixelAt (29, 29), cap)) << "cap";
        EXPECT_TRUE (near (image.getPixelAt (29, 52), juce::Colours::black)) << "cap shadow below the cap";
        EXPECT_TRUE (near (image.getPixelAt (29, 23), cap)) << "no shadow above the cap";

        const auto pointer = enabled ? highlightColour : over (cap, highlightColour.withAlpha ((juce::uint8) 128));
        for (const int y : { 13, 15, 20 })
        {
            EXPECT_TRUE (near (image.getPixelAt (29, y), pointer)) << "pointer at y " << y;
            EXPECT_TRUE (near (image.getPixelAt (30, y), pointer)) << "pointer at y " << y;
        }

        EXPECT_EQ (image.getPixelAt (29, 57).getAlpha(), 0) << "the range leaves the bottom of the track open";
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);
    }
}

TEST (LookAndFeel, KnobWedgeRunsFromTheStartOrFromTheTopWhenBipolar)
{
    // Probes on the value ring: left (9 o'clock), right (3 o'clock), upper left, upper right.
    struct Case { const char* name; double value; juce::var bipolar; bool left, right, upperLeft, upperRight; };
    const Case cases[] = {
        { "plain at minimum: empty wedge", 0.0, {}, false, false, false, false }, { "plain 0.25", 0.25, {}, true, false, false, false },
        { "plain 0.9", 0.9, {}, true, true, true, true }, { "bipolar 0.1: pointer to top", 0.1, true, true, false, true, false },
        { "bipolar 0.25", 0.25, true, false, false, true, false }, { "bipolar 0.5: no wedge", 0.5, true, false, false, false, false },
        { "bipolar 0.75", 0.75, true, false, false, false, true }, { "bipolar 0.9: top to pointer", 0.9, true, false, true, false, true },
        { "bipolar as integer 1", 0.9, 1, false, true, false, true }, { "bipolar false is plain", 0.9, false, true, true, true, true },
        { "bipolar 2 is plain", 0.9, 2, true, true, true, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto image = renderKnob (c.value, c.bipolar, true);
        EXPECT_EQ (looksLikeWedge (image.getPixelAt (3, 29)), c.left);
        EXPECT_EQ (looksLikeWedge (image.getPixelAt (56, 29)), c.right);
        EXPECT_EQ (looksLikeWedge (image.getPixelAt (10, 10)), c.upperLeft);
        EXPECT_EQ (looksLikeWedge (image.getPixelAt (49, 10)), c.upperRight);
    }
}

TEST (LookAndFeel, KnobPositionOutsideItsRangeDrawsAtTheNearestEnd)
{
    // A slider holding a value that is not a number passes it on as its position; an unbounded
    // position must not turn the arcs into endless loops.
    Styled<orvnlib::OrvnKnob> knob (highlightColour);
    knob.component.setBounds (0, 0, knobSize, knobSize);
    const auto start = juce::MathConstants<float>::pi * 1.2f, end = juce::MathConstants<float>::pi * 2.8f;

    const auto render = [&] (float position)
    {
        return drawInto (knobSize, knobSize, [&] (juce::Graphics& g) {
            knob.lf.drawRotarySlider (g, 0, 0, knobSize, knobSize, position, start, end, knob.component);
        });
    };

    const auto atStart = render (0.0f), atEnd = render (1.0f);
    constexpr auto inf = std::numeric_limits<float>::infinity();

    for (const auto bipolar : { false, true })
    {
        knob.component.getProperties().set ("bipolar", bipolar);
        for (const auto position : { std::numeric_limits<float>::quiet_NaN(), -inf, -1.0e30f, -1.0f })
            EXPECT_TRUE (sameImage (render (position), bipolar ? render (0.0f) : atStart)) << position;
        for (const auto position : { inf, 1.0e30f, 2.0f })
            EXPECT_TRUE (sameImage (render (position), bipolar ? render (1.0f) : atEnd)) << position;
    }

    // A knob whose value is not a number paints like one at its minimum.
    knob.component.getProperties().remove ("bipolar");
    knob.component.setValue (std::numeric_limits<double>::quiet_NaN(), juce::dontSendNotification);
    const auto nanImage = knob.snapshot();
    knob.component.setValue (0.0, juce::dontSendNotification);
    EXPECT_TRUE (sameImage (nanImage, knob.snapshot()));
}

//==================================================================================================
TEST (LookAndFeel, ButtonFaceByStateAndSquareCornersOnConnectedEdges)
{
    struct Case { const char* name; juce::Button::ButtonState state; bool toggled, enabled; juce::Colour face; };
    const juce::Colour normal (0xff2d2d2d);
    const Case cases[] = {
        { "normal", juce::Button::buttonNormal, false, true, normal },
        { "hovered looks normal", juce::Button::buttonOver, false, true, normal },
        { "pressed is darkened by 0.4", juce::Button::buttonDown, false, true, juce::Colour (0xff202020) },
        { "toggled on", juce::Button::buttonNormal, true, true, juce::Colours::black },
        { "disabled: half alpha over the shadow", juce::Button::buttonNormal, false, false,
          over (juce::Colours::black, normal.withAlpha ((juce::uint8) 127)) },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Styled<juce::TextButton> button;
        button.component.setBounds (0, 0, 40, 24);
        button.component.setToggleState (c.toggled, juce::dontSendNotification);
        button.component.setEnabled (c.enabled);
        button.component.setState (c.state);
        const auto image = button.snapshot();

        EXPECT_TRUE (near (image.getPixelAt (20, 12), c.face));
        EXPECT_TRUE (near (image.getPixelAt (2, 12), c.face)) << "no outline";
        EXPECT_TRUE (near (image.getPixelAt (20, 23), juce::Colours::black.withAlpha ((juce::uint8) 128), 30))
            << "a one-pixel shadow below the face";
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << "rounded corner";
    }

    using B = juce::Button;
    struct Corners { int edges; bool topLeftSquare, topRightSquare; };
    for (const auto& c : { Corners { 0, false, false }, Corners { B::ConnectedOnLeft, true, false },
                           Corners { B::ConnectedOnRight, false, true }, Corners { B::ConnectedOnTop, true, true },
                           Corners { B::ConnectedOnBottom, false, false } })
    {
        Styled<juce::TextButton> button;
        button.component.setBounds (0, 0, 40, 24);
        button.component.setConnectedEdges (c.edges);
        const auto image = button.snapshot();
        EXPECT_EQ (image.getPixelAt (1, 1).getAlpha() == 255, c.topLeftSquare) << c.edges;
        EXPECT_EQ (image.getPixelAt (38, 1).getAlpha() == 255, c.topRightSquare) << c.edges;
    }
}

//==================================================================================================
TEST (LookAndFeel, LinearSliderDrawsOnlyHorizontalStyles)
{
    const juce::Colour thumb (0xff42a2c8);

    struct Case { juce::Slider::SliderStyle style; bool bipolar; bool drawn; };
    const Case cases[] = {
        { juce::Slider::LinearHorizontal, false, true },
        { juce::Slider::LinearHorizontal, true, true },
        { juce::Slider::LinearBar, false, true },
        { juce::Slider::TwoValueHorizontal, false, true },
        { juce::Slider::ThreeValueHorizontal, true, true },
        { juce::Slider::LinearVertical, false, false },
        { juce::Slider::LinearBarVertical, false, false },
        { juce::Slider::TwoValueVertical, false, false },
        { juce::Slider::Rotary, false, false },
        { juce::Slider::IncDecButtons, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ((int) c.style);
        Styled<juce::Slider> slider (c.style, juce::Slider::NoTextBox);
        slider.component.getProperties().set ("bipolar", c.bipolar);

        const auto image = drawInto (100, 20, [&] (juce::Graphics& g) {
            slider.lf.drawLinearSlider (g, 0, 0, 100, 20, 70.0f, 0.0f, 100.0f, c.style, slider.component);
        });

        if (! c.drawn)
        {
            EXPECT_TRUE (isBlank (image));
            continue;
        }

        // A 4-high groove, a 4-wide thumb with its shadow, and a centre mark tinted when bipolar.
        EXPECT_TRUE (near (image.getPixelAt (10, 8), juce::Colours::black)) << "groove";
        EXPECT_TRUE (near (image.getPixelAt (10, 11), juce::Colours::black)) << "groove";
        EXPECT_EQ (image.getPixelAt (10, 7).getAlpha(), 0) << "groove top";
        EXPECT_TRUE (near (image.getPixelAt (69, 5), thumb)) << "thumb";
        EXPECT_TRUE (near (image.getPixelAt (69, 19), juce::Colours::black.withAlpha ((juce::uint8) 204), 4)) << "shadow";
        EXPECT_EQ (image.getPixelAt (66, 5).getAlpha(), 0) << "thumb's left edge";
        const auto centre = c.bipolar ? over (juce::Colours::black, thumb.withAlpha ((juce::uint8) 153)) : juce::Colours::black;
        EXPECT_TRUE (near (image.getPixelAt (49, 9), centre)) << "centre mark";
    }
}

TEST (LookAndFeel, IncDecSliderTextFillsItAndItsButtonsAreInvisible)
{
    Styled<juce::Slider> slider (juce::Slider::IncDecButtons, juce::Slider::TextBoxLeft);
    slider.component.setBounds (0, 0, 80, 20);

    const auto layout = slider.lf.getSliderLayout (slider.component);
    EXPECT_EQ (layout.sliderBounds, juce::Rectangle<int> (0, 0, 80, 20));
    EXPECT_EQ (layout.textBoxBounds, juce::Rectangle<int> (0, 0, 80, 20));

    int buttons = 0;
    for (auto* child : slider.component.getChildren())
    {
        if (auto* button = dynamic_cast<OVLookAndFeel::TransparentButton*> (child))
        {
            ++buttons;
            EXPECT_TRUE (button->getName().isEmpty());
            button->setBounds (0, 0, 20, 20);
            EXPECT_TRUE (isBlank (button->createComponentSnapshot (button->getLocalBounds(), true)));
        }
        else if (auto* label = dynamic_cast<juce::Label*> (child))
        {
            EXPECT_FLOAT_EQ (label->getFont().getHeight(), 12.0f);
            EXPECT_EQ (label->getFont().getStyleFlags(), juce::Font::plain);
        }
    }
    EXPECT_EQ (buttons, 2);
}

//==================================================================================================
TEST (LookAndFeel, ComboBoxFaceEdgeAndCorners)
{
    const juce::Colour face (0xff2d2d2d);
    Styled<juce::ComboBox> box;
    box.component.setBounds (0, 0, 100, 24);
    auto image = box.snapshot();

    EXPECT_TRUE (near (image.getPixelAt (40, 10), face));
    EXPECT_TRUE (near (image.getPixelAt (40, 23), juce::Colours::black)) << "black edge below";
    EXPECT_TRUE (near (image.getPixelAt (40, 0), face)) << "no outline";
    EXPECT_LT (image.getPixelAt (0, 0).getAlpha(), 64) << "rounded corner";

    // The arrow fades when the box is disabled.
    const auto arrowBrightness = [] (const juce::Image& img)
    {
        float brightest = 0.0f;
        for (int y = 6; y < 18; ++y)
            for (int x = 78; x < 96; ++x)
                brightest = juce::jmax (brightest, img.getPixelAt (x, y).getBrightness());
        return brightest;
    };
    const auto enabledArrow = arrowBrightness (image);
    box.component.setEnabled (false);
    const auto disabledArrow = arrowBrightness (box.snapshot());
    EXPECT_GT (enabledArrow, disabledArrow + 0.3f);

    // Inside a choice property the corners are square.
    struct Choice : juce::ChoicePropertyComponent
    {
        Choice() : juce::ChoicePropertyComponent ("choice") {}
        void setIndex (int) override {}
        int getIndex() const override { return 0; }
    } choice;
    juce::ComboBox inner;
    choice.addAndMakeVisible (inner);
    choice.setLookAndFeel (&box.lf);
    image = drawInto (100, 24, [&] (juce::Graphics& g) { box.lf.drawComboBox (g, 100, 24, false, 80, 0, 20, 24, inner); });
    EXPECT_TRUE (near (image.getPixelAt (0, 0), face));
    choice.setLookAndFeel (nullptr);
}

TEST (LookAndFeel, BubbleIsAnOutlinedBoxWithoutArrow)
{
    struct Bubble : juce::BubbleComponent
    {
        void getContentSize (int& w, int& h) override { w = h = 10; }
        void paintContent (juce::Graphics&, int, int) override {}
    } bubble;

    OVLookAndFeel lf;
    bubble.setLookAndFeel (&lf);
    const auto image = drawInto (40, 40, [&] (juce::Graphics& g) {
        lf.drawBubble (g, bubble, { 20.0f, 35.0f }, { 0.0f, 0.0f, 40.0f, 20.0f });
    });
    bubble.setLookAndFeel (nullptr);

    EXPECT_TRUE (near (image.getPixelAt (0, 10), juce::Colour (0xff343434)));
    EXPECT_TRUE (near (image.getPixelAt (20, 10), juce::Colours::black));
    EXPECT_TRUE (isBlank (image.getClippedImage ({ 0, 20, 40, 20 }))) << "nothing towards the tip";
}

TEST (LookAndFeel, TooltipWrapsAtFourHundredAndStartsTenFromTheLeft)
{
    OVLookAndFeel lf;
    const juce::String text ("Diffusion amount of the fourth pole, sent to the shared diffuser before the output "
                             "stage and mixed with the dry signal");
    const int width = 470, height = 44;
    const auto image = drawInto (width, height, [&] (juce::Graphics& g) { lf.drawTooltip (g, text, width, height); });

    EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << "rounded corner";
    EXPECT_TRUE (near (image.getPixelAt (width / 2, 0), juce::Colour (0xff343434))) << "outline";
    EXPECT_TRUE (near (image.getPixelAt (5, height / 2), juce::Colours::black)) << "background";

    int left = width, right = 0;
    juce::Array<int> textRows;
    for (int y = 2; y < height - 2; ++y)
        for (int x = 2; x < width - 2; ++x)
            if (image.getPixelAt (x, y).getBrightness() > 0.5f)
            {
                left = juce::jmin (left, x);
                right = juce::jmax (right, x);
                textRows.addIfNotAlreadyThere (y);
            }

    EXPECT_GE (left, 10);
    EXPECT_LE (left, 13);
    EXPECT_LE (right, 410) << "lines are at most 400 wide";

    // Two lines of text: a gap of rows without text between the first and last text row.
    textRows.sort();
    ASSERT_FALSE (textRows.isEmpty());
    EXPECT_LT (textRows.size(), textRows.getLast() - textRows.getFirst() + 1);
}
