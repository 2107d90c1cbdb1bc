// The editor's shared widgets: icon buttons and their highlighted icon, panel headers and panel
// views, the knob's press and controller menu, and the caption label.

#include "EditorTestSupport.h"

#include "editor/EditorShared.h"
#include "orvn/CaptionLabel.h"
#include "orvn/GenericPanelView.h"
#include "orvn/IconButtonControl.h"
#include "orvn/OVLookAndFeel.h"
#include "orvn/OrvnKnob.h"
#include "orvn/PanelHeaderComponent.h"

using namespace editortest;

namespace
{
using orvn::gui::IconButtonControl;
using orvn::gui::OVLookAndFeel;

const juce::Colour lookAndFeelOnColour (0xff2660a4);

// A white-stroked icon with one white fill, as the editor's icons are drawn.
const char iconSvg[] = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24" width="100%" height="100%"
 fill="none" stroke="#ffffff" stroke-width="2" stroke-linecap="round" stroke-linejoin="round">
 <path d="M4 12h16"/><circle cx="12" cy="12" r="3" fill="#ffffff"/></svg>)";

// The icons the button shows: plain, and the highlighted copy (pressed, and normal while on).
struct IconColours
{
    std::set<juce::uint32> plain, pressed, toggledOn;
};

IconColours iconColours (IconButtonControl& button)
{
    IconColours result;
    result.plain = coloursOf (button.getNormalImage());
    result.pressed = coloursOf (button.getDownImage());
    button.setToggleState (true, juce::dontSendNotification);
    result.toggledOn = coloursOf (button.getNormalImage());
    button.setToggleState (false, juce::dontSendNotification);
    return result;
}
} // namespace

//==================================================================================================
TEST (IconButton, HighlightedIconTakesTheLookAndFeelsOnColourUnlessAlreadyHighlighted)
{
    // Built while the framework's own look-and-feel is the default, as the editor's panels are,
    // then given the editor's look-and-feel either by joining a tree that has it (the editor adds
    // its panels after installing it) or by the tree receiving it afterwards.
    struct Case { const char* name; bool highlightOnImage; bool joinAfterLookAndFeel; juce::Colour highlighted; };
    const Case cases[] = {
        { "footer style, tree styled after joining", false, false, lookAndFeelOnColour },
        { "footer style, joins a styled tree", false, true, lookAndFeelOnColour },
        { "panel style, tree styled after joining", true, false, highlightColour },
        { "panel style, joins a styled tree", true, true, highlightColour },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        OVLookAndFeel lf;
        juce::Component tree;
        auto button = makeIconButton (iconSvg, (int) sizeof (iconSvg) - 1, c.highlightOnImage);

        const auto before = iconColours (*button);
        EXPECT_EQ (before.plain, only (juce::Colours::white));
        EXPECT_EQ (before.pressed, only (c.highlightOnImage ? highlightColour : juce::Colours::white))
            << "the framework's on-colour is white";

        if (c.joinAfterLookAndFeel)
        {
            tree.setLookAndFeel (&lf);
            tree.addAndMakeVisible (*button);
        }
        else
        {
            tree.addAndMakeVisible (*button);
            tree.setLookAndFeel (&lf);
        }

        auto after = iconColours (*button);
        EXPECT_EQ (after.plain, only (juce::Colours::white));
        EXPECT_EQ (after.pressed, only (c.highlighted));
        EXPECT_EQ (after.toggledOn, only (c.highlighted));
        EXPECT_EQ (button->getOnImageColour(), lookAndFeelOnColour);

        // A repeated notification with the same look-and-feel changes nothing.
        button->lookAndFeelChanged();
        tree.sendLookAndFeelChange();
        after = iconColours (*button);
        EXPECT_EQ (after.pressed, only (c.highlighted));
        EXPECT_EQ (after.toggledOn, only (c.highlighted));

        // Back to the framework's look-and-feel: the copy follows, from whatever it showed.
        tree.setLookAndFeel (nullptr);
        EXPECT_EQ (iconColours (*button).pressed, only (c.highlightOnImage ? highlightColour : juce::Colours::white));
        tree.removeChildComponent (button.get());
    }
}

//==================================================================================================
TEST (PanelHeader, BottomLineSpansTwoThirdsAndLabelSitsInsideTheRest)
{
    struct Case { int width, height, lineWidth; juce::Rectangle<int> label; };
    const Case cases[] = {
        { 265, 30, 176, { 2, 2, 261, 25 } }, { 101, 30, 66, { 2, 2, 97, 25 } } /* 2 x (101 / 3), not 101 x 2 / 3 */,
        { 3, 30, 2, { 2, 2, 0, 25 } }, { 2, 30, 0, { 2, 2, 0, 25 } }, { 120, 5, 80, { 2, 2, 116, 0 } },
        { 120, 1, 80, { 2, 2, 116, 0 } },
    };
    const juce::Colour strip (0xff141414), line (0xff6f6f6f);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.width) + " x " + juce::String (c.height));
        OVLookAndFeel lf;
        orvn::gui::PanelHeaderComponent header ("TRAJECTORY");
        header.setLookAndFeel (&lf);
        header.setBounds (0, 0, c.width, c.height);
        EXPECT_EQ (header.titleLabel.getBounds(), c.label);

        const auto image = snapshot (header);
        for (int x = 0; x < c.width; ++x)
            EXPECT_EQ (image.getPixelAt (x, c.height - 1), x < c.lineWidth ? line : strip) << "bottom row at x " << x;
        EXPECT_EQ (image.getPixelAt (0, 0), c.height > 1 ? strip : line);
        header.setLookAndFeel (nullptr);
    }
}

TEST (PanelView, HeaderTakesTheTopThirtyWhateverTheHeight)
{
    for (const int height : { 165, 30, 10 })
    {
        orvn::gui::GenericPanelView panel ("GENERATE");
        panel.setBounds (0, 0, 265, height);
        EXPECT_EQ (panel.header->getBounds(), juce::Rectangle<int> (0, 0, 265, 30)) << height;
        EXPECT_EQ (panel.layoutHeader(), 30);
        EXPECT_EQ (panel.header->titleLabel.getText(), "GENERATE");
    }
}

//==================================================================================================
TEST (Knob, PressesStartADragUnlessAltOrRightWithAParameterOpensTheMenu)
{
    using M = juce::ModifierKeys;
    const M left (M::leftButtonModifier), right (M::rightButtonModifier), alt (M::altModifier | M::leftButtonModifier),
        altRight (M::altModifier | M::rightButtonModifier);

    struct Case { const char* name; juce::ModifierKeys mods; const char* parameterID; bool drags; };
    const Case cases[] = {
        { "plain press", left, "", true }, { "plain press, with a parameter", left, "dry_wet", true },
        { "Alt press without a parameter", alt, "", true }, { "right press without a parameter", right, "", true },
        { "right press with a parameter", right, "dry_wet", false },
        { "Alt press with a parameter", alt, "dry_wet", false }, { "Alt right with a parameter", altRight, "dry_wet", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        orvnlib::OrvnKnob knob (highlightColour);
        knob.setBounds (0, 0, 40, 40);
        knob.setValue (0.5, juce::dontSendNotification);
        knob.parameterID = c.parameterID;

        ChangeLog listener;
        knob.addChangeListener (&listener);
        int dragStarts = 0;
        knob.onDragStart = [&] { ++dragStarts; };

        // The menu, if any, is dismissed while it is open.
        MenuDriver dismiss ([] (juce::Component&) { juce::PopupMenu::dismissAllActiveMenus(); });

        const juce::Point<float> down (20.0f, 20.0f), up (20.0f, 0.0f);
        knob.mouseDown (mouseEvent (knob, down, c.mods, down));
        knob.mouseDrag (mouseEvent (knob, up, c.mods, down));
        knob.mouseUp (mouseEvent (knob, up, c.mods.withoutMouseButtons(), down));
        runMessageLoop (150);

        EXPECT_EQ (dragStarts, c.drags ? 1 : 0);
        EXPECT_EQ (knob.getValue() > 0.5, c.drags) << "an upward drag raises the value";
        EXPECT_EQ (dismiss.acted, ! c.drags) << "the menu was open";
        EXPECT_FALSE (knob.assignRequested);
        EXPECT_FALSE (knob.clearRequested);
        EXPECT_EQ (listener.count(), 0) << "a dismissed menu sends nothing";

        knob.removeChangeListener (&listener);
    }
}

TEST (Knob, ChoosingFromTheOpenMenuSetsTheFlag)
{
    struct Case { const char* name; int downs; bool deleteKnobFirst, assign, clear; };
    const Case cases[] = {
        { "assign", 1, false, true, false }, { "clear", 2, false, false, true },
        // The editor can be closed while the menu is open.
        { "knob deleted while the menu is open", 1, true, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto knob = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
        auto* knobPointer = knob.get();
        ChangeLog listener;
        knob->addChangeListener (&listener);

        MenuDriver choose ([&] (juce::Component& menu) {
            if (c.deleteKnobFirst)
                knob.reset();
            for (int i = 0; i < c.downs; ++i)
                menu.keyPressed (juce::KeyPress (juce::KeyPress::downKey));
            menu.keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
        });

        knobPointer->showCCMenu();
        ASSERT_TRUE (choose.finish());

        if (knob == nullptr)
        {
            EXPECT_EQ (listener.count(), 0);
            continue;
        }

        EXPECT_EQ (knob->assignRequested, c.assign);
        EXPECT_EQ (knob->clearRequested, c.clear);
        EXPECT_EQ (listener.count(), 1);
        knob->removeChangeListener (&listener);
    }
}

TEST (Knob, MenuResultsSetFlagsAndCoalesceIntoOneMessage)
{
    struct Case { const char* name; std::vector<int> results; bool assign, clear; int callbacks; };
    const Case cases[] = {
        { "dismissed", { 0 }, false, false, 0 }, { "unknown id", { 3 }, false, false, 0 },
        { "assign twice before the listener runs", { 1, 1 }, true, false, 1 },
        { "clear while an assignment is pending", { 1, 2 }, true, true, 1 },
        { "assign, then dismissed", { 1, 0 }, true, false, 1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        orvnlib::OrvnKnob knob (highlightColour);
        ChangeLog listener;
        knob.addChangeListener (&listener);

        for (const auto result : c.results)
            knob.handleCCMenuResult (result);
        runMessageLoop (50);

        EXPECT_EQ (knob.assignRequested, c.assign);
        EXPECT_EQ (knob.clearRequested, c.clear);
        EXPECT_EQ (listener.count(), c.callbacks);

        // Flags stay until a listener clears them.
        runMessageLoop (20);
        EXPECT_EQ (knob.assignRequested, c.assign);
        knob.removeChangeListener (&listener);
    }
}

//==================================================================================================
TEST (CaptionLabel, NotEditableUnfocusedAndTransparent)
{
    auto label = makeCaptionLabel ("SEND");
    EXPECT_FALSE (label->getWantsKeyboardFocus());

    // A click neither opens an editor nor takes focus; what it draws besides its text is transparent.
    label->setBounds (0, 0, 60, 14);
    auto& asComponent = static_cast<juce::Component&> (*label);
    asComponent.mouseUp (mouseEvent (*label, { 30.0f, 7.0f }, {}));
    asComponent.mouseDoubleClick (mouseEvent (*label, { 30.0f, 7.0f }, {}));
    EXPECT_FALSE (label->isBeingEdited());

    const auto image = snapshot (*label);
    EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (59, 13).getAlpha(), 0);

    juce::Colour brightest;
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 60; ++x)
            if (image.getPixelAt (x, y).getAlpha() > brightest.getAlpha())
                brightest = image.getPixelAt (x, y);
    EXPECT_EQ (brightest.withAlpha ((juce::uint8) 255), juce::Colour (0xffbdbdbd)) << "text in light grey";
}
