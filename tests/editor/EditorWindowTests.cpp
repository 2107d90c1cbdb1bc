// The editor window: layout of the 800 x 500 design, scaling to the window's width, and the
// width kept in the per-user settings file.

#include <gtest/gtest.h>

#include "editor/QuorilAudioProcessorEditor.h"
#include "orvn/OrvnKnob.h"
#include "processor/QuorilAudioProcessor.h"

namespace
{
using Rect = juce::Rectangle<int>;

struct OpenEditor
{
    explicit OpenEditor (QuorilAudioProcessor& p) : processor (p), editor (p.createEditorIfNeeded()) {}
    ~OpenEditor()
    {
        processor.editorBeingDeleted (editor.get());
    }

    auto& main() { return dynamic_cast<QuorilAudioProcessorEditor&> (*editor).mainComponent; }

    QuorilAudioProcessor& processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
};

void storeWidth (QuorilAudioProcessor& p, const juce::var& value)
{
    auto* settings = p.getSettingsFile();
    ASSERT_NE (settings, nullptr);
    settings->setValue (p.panelWidthKey, value);
    settings->saveIfNeeded();
}
} // namespace

TEST (EditorWindow, ChildrenSitAtTheirDesignRectangles)
{
    QuorilAudioProcessor p;
    storeWidth (p, 800);
    OpenEditor open (p);
    auto& main = open.main();

    EXPECT_EQ (main.getBounds(), Rect (0, 0, 800, 500));
    EXPECT_EQ (main.footer.getBounds(), Rect (2, 418, 796, 80));
    EXPECT_EQ (main.globalControls.getBounds(), Rect (2, 336, 796, 80));
    EXPECT_EQ (main.worldControls.getBounds(), Rect (2, 2, 265, 165));
    EXPECT_EQ (main.trajectoryControls.getBounds(), Rect (2, 169, 265, 165));
    EXPECT_EQ (main.editorsPanel.getBounds(), Rect (533, 2, 265, 332));
    EXPECT_EQ (main.padArea, juce::Rectangle<float> (269, 2, 262, 332));
    EXPECT_EQ (main.pad->getBounds(), Rect (269, 37, 262, 262));

    // The pad is the lowest child; the panels follow in their order.
    ASSERT_GE (main.getNumChildComponents(), 6);
    const juce::Component* expectedOrder[] = { main.pad.get(), &main.worldControls, &main.trajectoryControls,
                                               &main.editorsPanel, &main.globalControls, &main.footer };
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (main.getChildComponent (i), expectedOrder[i]) << i;
}

TEST (EditorWindow, ScalesToTheStoredWidth)
{
    struct Case { juce::var stored; int width, height; };
    const Case cases[] = {
        { 800, 800, 500 },
        { 1000, 1000, 625 },
        { 801, 801, 500 },  // 500.625 truncated
        { 640, 640, 400 },
        // A damaged setting opens at the design size rather than a useless or gigantic window.
        { 0, 800, 500 },
        { -300, 800, 500 },
        { 199, 800, 500 },
        { 100000, 800, 500 },
        { "wide", 800, 500 },
        { "12abc", 800, 500 },
        { "", 800, 500 },
    };

    for (const auto& c : cases)
    {
        QuorilAudioProcessor p;
        storeWidth (p, c.stored);
        OpenEditor open (p);
        SCOPED_TRACE (c.stored.toString());
        EXPECT_EQ (open.editor->getWidth(), c.width);
        EXPECT_EQ (open.editor->getHeight(), c.height);
        EXPECT_EQ (open.main().getBounds(), Rect (0, 0, 800, 500));
        EXPECT_EQ (open.main().getTransform(), juce::AffineTransform::scale ((float) c.width / 800.0f));
        EXPECT_EQ (p.getSettingsFile()->getIntValue (p.panelWidthKey), c.width) << "the opened width is stored";
    }
}

TEST (EditorWindow, ResizingStoresTheWidthOnlyWhenItChanged)
{
    QuorilAudioProcessor p;
    storeWidth (p, 800);
    OpenEditor open (p);
    const auto file = p.getSettingsFile()->getFile();

    open.editor->setSize (640, 400);
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (juce::PropertiesFile (p.getSettingsFileOptions()).getIntValue (p.panelWidthKey), 640)
        << "written at once, not by the delayed save";

    ASSERT_TRUE (file.deleteFile());
    open.editor->setSize (640, 401); // the width is unchanged
    EXPECT_FALSE (file.exists()) << "an unchanged width is not written again";

    EXPECT_EQ (open.editor->getConstrainer()->getMinimumWidth(), 200);
    EXPECT_DOUBLE_EQ (open.editor->getConstrainer()->getFixedAspectRatio(), 1.6);
}

TEST (EditorWindow, PoleHeaderButtonsSitBesideTheirCorners)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& main = open.main();

    const int rowY[] = { 8, 8, 305, 305 };
    const int columnX[2][4] = { { 280, 308, 337, 366 }, { 411, 439, 468, 497 } };

    for (int pole = 0; pole < 4; ++pole)
    {
        const auto& header = main.engineHeaders[(size_t) pole];
        const juce::Component* buttons[] = { header.editButton.get(), header.linkButton.get(),
                                             header.copyButton.get(), header.pasteButton.get() };
        for (int i = 0; i < 4; ++i)
        {
            ASSERT_NE (buttons[i], nullptr);
            EXPECT_EQ (buttons[i]->getBounds(), Rect (columnX[pole % 2][i], rowY[pole], 22, 22)) << pole << " " << i;
            EXPECT_GT (main.getIndexOfChildComponent (buttons[i]), main.getIndexOfChildComponent (&main.footer))
                << "header buttons lie above the panels";
        }
    }
}

// Every knob that stands for a host parameter offers controller learn through the footer's
// manager; the engine-setting knobs and the diffuser's feedback (no host parameters) do not.
TEST (EditorWindow, HostParameterKnobsLearnControllersThroughTheFooter)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& main = open.main();

    juce::StringArray learnIds;
    orvnlib::OrvnKnob* inGainKnob = nullptr;
    main.forEachLearnTarget ([&] (orvnlib::MIDITarget& target)
    {
        if (target.parameterID.isEmpty())
            return;
        learnIds.add (target.parameterID);
        if (target.parameterID == "in_gain")
            inGainKnob = dynamic_cast<orvnlib::OrvnKnob*> (&target);
    });
    learnIds.sort (false);

    juce::StringArray expected { "dry_wet", "in_gain", "out_gain", "pole_a_diff", "pole_b_diff", "pole_c_diff",
                                 "pole_d_diff", "x_traj_amount", "x_traj_range", "y_traj_amount", "y_traj_range" };
    EXPECT_EQ (learnIds, expected);
    ASSERT_NE (inGainKnob, nullptr);

    // Move controller 21, ask the knob to learn it, then the controller drives "in_gain".
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 21, 10), 0);
    p.midiMap.processMidi (midi, p.parameters);
    inGainKnob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

    EXPECT_EQ ((int) p.midiMap.mapTree.getChildWithName ("in_gain").getProperty ("cc", -1), 21);
    midi.clear();
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 21, 127), 0);
    p.midiMap.processMidi (midi, p.parameters);
    EXPECT_FLOAT_EQ (p.parameters.getParameter ("in_gain")->getValue(), 1.0f);
}

// The footer's icons were made before the window had its look-and-feel; they still take its
// pressed colour, in the first window as in later ones.
TEST (EditorWindow, FooterIconsTakeTheWindowsPressedColour)
{
    QuorilAudioProcessor first, second;
    OpenEditor a (first);
    OpenEditor b (second);
    EXPECT_EQ (a.main().footer.menuButton->getOnImageColour(), juce::Colour (0xff2660a4));
    EXPECT_EQ (b.main().footer.menuButton->getOnImageColour(), juce::Colour (0xff2660a4));
}
