// The editor window: where every panel and its children sit in the 800 x 500 design, scaling to
// the window's width and the width kept in the settings file, the icons of every button, and
// controller learn from every knob of the window.

#include "EditorTestSupport.h"

#include "editor/EditorShared.h"
#include "orvn/IconButtonControl.h"
#include "orvn/OrvnKnob.h"
#include "support/HostileInputs.h"

using namespace editortest;

namespace
{
using Rect = juce::Rectangle<int>;

void storeWidth (QuorilAudioProcessor& p, const juce::var& value)
{
    auto* settings = p.getSettingsFile();
    ASSERT_NE (settings, nullptr);
    settings->setValue (p.panelWidthKey, value);
    settings->saveIfNeeded();
}
} // namespace

TEST (EditorWindow, EveryChildSitsAtItsDesignRectangle)
{
    QuorilAudioProcessor p;
    storeWidth (p, 800);
    OpenEditor open (p);
    auto& main = open.main();
    auto& world = main.worldControls;
    auto& global = main.globalControls;
    auto& trajectory = main.trajectoryControls;
    auto& footer = main.footer;
    auto& engine = *main.editorsPanel.editors[0];

    struct Placement { const char* name; const juce::Component* component; Rect bounds; };
    std::vector<Placement> placements = {
        { "main", &main, { 0, 0, 800, 500 } },
        { "footer", &footer, { 2, 418, 796, 80 } },
        { "global", &global, { 2, 336, 796, 80 } },
        { "world", &world, { 2, 2, 265, 165 } },
        { "trajectory", &trajectory, { 2, 169, 265, 165 } },
        { "editors", &main.editorsPanel, { 533, 2, 265, 332 } },
        { "pad", main.pad.get(), { 269, 37, 262, 262 } },

        { "world header", world.header.get(), { 0, 0, 265, 30 } },
        { "all engines", world.regenerateAllButton.get(), { 116, 81, 32, 32 } },
        { "top left", world.regenerateButtons[0].get(), { 54, 51, 24, 24 } },
        { "top right", world.regenerateButtons[1].get(), { 186, 51, 24, 24 } },
        { "bottom left", world.regenerateButtons[2].get(), { 54, 119, 24, 24 } },
        { "bottom right", world.regenerateButtons[3].get(), { 186, 119, 24, 24 } },

        { "IN AMP caption", &global.inAmpCaption, { 0, 0, 199, 32 } },
        { "DIFFUSION caption", &global.diffusionCaption, { 199, 0, 199, 32 } },
        { "OUT AMP caption", &global.outAmpCaption, { 398, 0, 199, 32 } },
        { "DRY/WET caption", &global.dryWetCaption, { 597, 0, 199, 32 } },
        { "in amp", global.inAmpKnob.get(), { 79, 36, 40, 40 } },
        { "diffusion L", global.diffusionLeft.get(), { 228, 36, 40, 40 } },
        { "L caption", &global.leftCaption, { 272, 36, 16, 40 } },
        { "R caption", &global.rightCaption, { 308, 36, 16, 40 } },
        { "diffusion R", global.diffusionRight.get(), { 328, 36, 40, 40 } },
        { "out amp", global.outAmpKnob.get(), { 477, 36, 40, 40 } },
        { "dry/wet", global.dryWetKnob.get(), { 676, 36, 40, 40 } },

        { "trajectory header", trajectory.header.get(), { 0, 0, 265, 30 } },
        { "switch", trajectory.onOffButton.get(), { 12, 40, 24, 24 } },
        { "random", trajectory.randomizeButton.get(), { 60, 40, 24, 24 } },
        { "RANGE", &trajectory.rangeLabel, { 96, 30, 84, 45 } },
        { "RATE", &trajectory.rateLabel, { 180, 30, 85, 45 } },
        { "X", &trajectory.xLabel, { 0, 75, 96, 45 } },
        { "Y", &trajectory.yLabel, { 0, 120, 96, 45 } },
        { "x range", trajectory.xRangeKnob.get(), { 120, 79, 36, 36 } },
        { "x rate", trajectory.xRateKnob.get(), { 204, 79, 36, 36 } },
        { "y range", trajectory.yRangeKnob.get(), { 120, 124, 36, 36 } },
        { "y rate", trajectory.yRateKnob.get(), { 204, 124, 36, 36 } },

        { "previous", footer.previousButton.get(), { 265, 28, 24, 24 } },
        { "preset", &footer.presetButton, { 297, 28, 202, 24 } },
        { "next", footer.nextButton.get(), { 507, 28, 24, 24 } },
        { "menu", footer.menuButton.get(), { 539, 28, 24, 24 } },

        { "engine editor", &engine, { 0, 0, 265, 332 } },
        { "engine header", engine.header.get(), { 0, 0, 265, 30 } },
        { "diff send", engine.diffSend->knob.get(), { 182, 214, 32, 32 } },
        { "size", engine.grainKnobsLeft[0], { 27, 63, 32, 32 } },
        { "size jitter", engine.grainKnobsLeft[2], { 159, 63, 32, 32 } },
        { "speed", engine.grainKnobsLeft[1], { 27, 138, 32, 32 } },
        { "speed jitter", engine.grainKnobsLeft[3], { 159, 138, 32, 32 } },
        { "amp jitter", engine.grainKnobsLeft[4], { 27, 214, 32, 32 } },
        { "freq", engine.resonatorKnobsLeft[0], { 27, 290, 32, 32 } },
        { "feed", engine.resonatorKnobsLeft[1], { 159, 290, 32, 32 } },
    };
    // The right channel's knob 46 right of the left one.
    for (int i = 0; i < 5; ++i)
        placements.push_back ({ "grain R", engine.grainKnobsRight[i], engine.grainKnobsLeft[i]->getBounds().translated (46, 0) });
    for (int i = 0; i < 2; ++i)
        placements.push_back ({ "reso R", engine.resonatorKnobsRight[i], engine.resonatorKnobsLeft[i]->getBounds().translated (46, 0) });

    for (const auto& pl : placements)
    {
        ASSERT_NE (pl.component, nullptr) << pl.name;
        EXPECT_EQ (pl.component->getBounds(), pl.bounds) << pl.name;
    }
    EXPECT_EQ (main.padArea, juce::Rectangle<float> (269, 2, 262, 332));

    struct Caption { const juce::Label* label; const char* text; Rect bounds; };
    const Caption captions[] = {
        { engine.grainCaptions[0], "GRAIN SIZE", { 0, 30, 132, 24 } },
        { engine.grainCaptions[2], "JITTER", { 132, 30, 133, 24 } },
        { engine.grainCaptions[1], "GRAIN RATE", { 0, 105, 132, 24 } },
        { engine.grainCaptions[3], "JITTER", { 132, 105, 133, 24 } },
        { engine.grainCaptions[4], "GRAIN AMP JITTER", { 0, 180, 132, 24 } },
        { engine.diffSend->caption.get(), "DIFF SEND", { 132, 180, 133, 24 } },
        { engine.resonatorCaptions[0], "RESO FREQ", { 0, 256, 132, 24 } },
        { engine.resonatorCaptions[1], "RESO FEED", { 132, 256, 133, 24 } },
    };
    for (const auto& c : captions)
    {
        EXPECT_EQ (c.label->getText(), c.text);
        EXPECT_EQ (c.label->getBounds(), c.bounds) << c.text;
    }

    // The pole header buttons beside their corners of the pad, above the panels.
    const int rowY[] = { 8, 8, 305, 305 };
    const int columnX[2][4] = { { 280, 308, 337, 366 }, { 411, 439, 468, 497 } };
    for (int pole = 0; pole < 4; ++pole)
    {
        auto& h = open.header (pole);
        const juce::Component* buttons[] = { h.editButton.get(), h.linkButton.get(), h.copyButton.get(), h.pasteButton.get() };
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_EQ (buttons[i]->getBounds(), Rect (columnX[pole % 2][i], rowY[pole], 22, 22)) << pole << " " << i;
            EXPECT_GT (main.getIndexOfChildComponent (buttons[i]), main.getIndexOfChildComponent (&footer));
        }
    }

    // The pad is the lowest child; the panels follow in their order.
    const juce::Component* order[] = { main.pad.get(), &world, &trajectory, &main.editorsPanel, &global, &footer };
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (main.getChildComponent (i), order[i]) << i;
}

TEST (EditorWindow, ScalesToTheStoredWidth)
{
    struct Case { juce::var stored; int width, height; };
    const Case cases[] = {
        { 800, 800, 500 }, { 1000, 1000, 625 }, { 801, 801, 500 } /* 500.625 truncated */, { 640, 640, 400 },
        // A damaged setting opens at the design size rather than a useless or gigantic window.
        { 0, 800, 500 }, { -300, 800, 500 }, { 199, 800, 500 }, { 100000, 800, 500 },
        { "wide", 800, 500 }, { "12abc", 800, 500 }, { "", 800, 500 },
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
    EXPECT_EQ (openSettingsFile (file)->getIntValue (p.panelWidthKey), 640)
        << "written at once, not by the delayed save";

    ASSERT_TRUE (file.deleteFile());
    open.editor->setSize (640, 401);
    EXPECT_FALSE (file.exists()) << "an unchanged width is not written again";

    EXPECT_EQ (open.editor->getConstrainer()->getMinimumWidth(), 200);
    EXPECT_DOUBLE_EQ (open.editor->getConstrainer()->getFixedAspectRatio(), 1.6);
}

// A window on an instance made with a hostile settings file in place opens at the stored width,
// stores and saves its new width at once without crashing or hanging, and the next instance's
// window opens at that width.
TEST (EditorWindow, StoresItsWidthWhateverTheSettingsFileHeld)
{
    const auto file = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                          .getChildFile ("Orvane_Studio/Quoril.prefs");
    ASSERT_TRUE (file.getParentDirectory().createDirectory());

    for (const auto& input : hostile::settingsFileInputs())
    {
        SCOPED_TRACE (input.what);
        ASSERT_TRUE (file.replaceWithData (input.bytes.data(), input.bytes.size()));
        {
            std::unique_ptr<QuorilAudioProcessor> p;
            std::unique_ptr<OpenEditor> open;
            EXPECT_TRUE (hostile::returnsQuickly ([&] {
                p = std::make_unique<QuorilAudioProcessor>();
                open = std::make_unique<OpenEditor> (*p);
            }));
            EXPECT_EQ (open->editor->getWidth(), 640);
            EXPECT_TRUE (hostile::returnsQuickly ([&] { open->editor->setSize (960, 600); }));
            EXPECT_TRUE (hostile::returnsQuickly ([&] { open.reset(); p.reset(); }));
        }
        QuorilAudioProcessor p;
        OpenEditor reopened (p);
        EXPECT_EQ (reopened.editor->getWidth(), 960);
    }
}

// Hosts such as Ardour size the view to their window frame and never ask the constrainer. The
// design keeps its shape, fits the window both ways, sits in its middle with black around it, and
// the width it is drawn at is the one kept.
TEST (EditorWindow, AnySizeAHostGivesShowsTheWholeDesignCentred)
{
    struct Case { int width, height, drawnWidth; };
    const Case cases[] = {
        { 1200, 500, 801 },  // wider than 1.6: 801 fits, as the height of a window opened at 801 is 500
        { 1000, 866, 1000 }, // taller than 1.6
        { 800, 500, 800 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.width) + " x " + juce::String (c.height));
        QuorilAudioProcessor p;
        storeWidth (p, 640);
        p.setPresetName ("Drill1");
        OpenEditor open (p);
        auto& editor = *open.editor;
        auto& main = open.main();
        auto& footer = main.footer;
        editor.setBounds (0, 0, c.width, c.height);
        main.timerCallback(); // the footer shows the preset's name

        EXPECT_EQ (p.getSettingsFile()->getIntValue (p.panelWidthKey), c.drawnWidth);

        const auto window = editor.getLocalBounds();
        const auto drawn = main.getBoundsInParent();
        EXPECT_NEAR (drawn.getWidth(), c.drawnWidth, 1);
        EXPECT_NEAR (drawn.getCentreX(), window.getCentreX(), 1);
        EXPECT_NEAR (drawn.getCentreY(), window.getCentreY(), 1);

        std::function<void (juce::Component&)> checkInside = [&] (juce::Component& parent)
        {
            for (auto* child : parent.getChildren())
            {
                if (! child->isVisible())
                    continue;
                const auto area = editor.getLocalArea (child, child->getLocalBounds());
                EXPECT_TRUE (window.contains (area)) << child->getName() << " " << area.toString();
                checkInside (*child);
            }
        };
        checkInside (main);

        // The footer's preset name and menu icon are drawn: light pixels where they lie.
        const auto image = snapshot (editor);
        const auto lightPixelsIn = [&] (juce::Component& part)
        {
            const auto area = editor.getLocalArea (&part, part.getLocalBounds()).getIntersection (image.getBounds());
            int count = 0;
            for (int y = area.getY(); y < area.getBottom(); ++y)
                for (int x = area.getX(); x < area.getRight(); ++x)
                    count += image.getPixelAt (x, y).getBrightness() > 0.6f ? 1 : 0;
            return count;
        };
        EXPECT_GT (lightPixelsIn (footer.presetButton), 20);
        EXPECT_GT (lightPixelsIn (*footer.menuButton), 20);

        // Black around the design (the host's resize corner aside).
        juce::RectangleList<int> design (drawn.expanded (1));
        for (auto* child : editor.getChildren())
            design.add (child->getBoundsInParent());
        int margin = 0, notBlack = 0;
        for (int y = 0; y < image.getHeight(); y += 3)
            for (int x = 0; x < image.getWidth(); x += 3)
                if (! design.containsPoint ({ x, y }))
                {
                    ++margin;
                    notBlack += image.getPixelAt (x, y).getARGB() != 0xff000000 ? 1 : 0;
                }
        EXPECT_EQ (notBlack, 0) << "of " << margin;
        if (c.width != 800)
            savePng (image, "window-" + juce::String (c.width) + "x" + juce::String (c.height));
    }
}

// One rule for the width at both ends: the window can be dragged to the widths that reopen, and
// what is kept for any size a host gives reopens.
TEST (EditorWindow, TheKeptWidthAlwaysReopens)
{
    struct Case { int width, height; int stored; };
    const Case cases[] = {
        { 4096, 2560, 4096 }, { 5000, 3125, 4096 }, { 9000, 600, 961 },
        { 200, 125, 200 },
        // A window shrunk to nothing for a moment keeps the last real width.
        { 199, 124, 640 }, { 0, 0, 640 }, { 300, 0, 640 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.width) + " x " + juce::String (c.height));
        QuorilAudioProcessor p;
        storeWidth (p, 640);
        {
            OpenEditor open (p);
            open.editor->setSize (c.width, c.height);
            EXPECT_FALSE (open.main().getTransform().isSingularity());
        }
        EXPECT_EQ (p.getSettingsFile()->getIntValue (p.panelWidthKey), c.stored);

        OpenEditor reopened (p);
        EXPECT_EQ (reopened.editor->getWidth(), c.stored);
        EXPECT_EQ (reopened.main().getTransform(), juce::AffineTransform::scale ((float) c.stored / 800.0f));
    }

    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& limits = *open.editor->getConstrainer();
    EXPECT_EQ (limits.getMaximumWidth(), 4096);
    EXPECT_EQ (limits.getMinimumWidth(), 200);

    juce::Rectangle<int> bounds (0, 0, 8000, 5000);
    limits.checkBounds (bounds, { 0, 0, 800, 500 }, { 0, 0, 100000, 100000 }, false, false, true, true);
    EXPECT_EQ (bounds.getWidth(), 4096) << "dragged as wide as it goes";
}

// The icons are made before the window has its look-and-feel; their pressed (and toggled-on) copy
// still takes the right colour, in the first window as in later ones: the footer's the
// look-and-feel's on-colour, all others the highlight. A lit button shows that copy.
TEST (EditorWindow, EveryIconIsWhiteAndItsPressedCopyColoured)
{
    const juce::Colour onColour (0xff2660a4);
    QuorilAudioProcessor first, second;
    OpenEditor a (first), b (second);

    for (auto* open : { &a, &b })
    {
        auto& footer = open->main().footer;
        int buttons = 0;
        std::function<void (juce::Component&)> check = [&] (juce::Component& c)
        {
            if (auto* button = dynamic_cast<orvn::gui::IconButtonControl*> (&c))
            {
                ++buttons;
                const bool inFooter = footer.isParentOf (button);
                const auto highlighted = only (inFooter ? onColour : highlightColour);
                EXPECT_EQ (button->getOnImageColour(), onColour);
                EXPECT_EQ (coloursOf (button->getNormalImage()), button->getToggleState() ? highlighted : only (juce::Colours::white))
                    << button->getTooltip();
                EXPECT_EQ (coloursOf (button->getDownImage()), highlighted) << button->getTooltip();
            }
            for (auto* child : c.getChildren())
                check (*child);
        };
        check (*open->editor);
        EXPECT_EQ (buttons, 16 + 5 + 2 + 3);
    }
}

// Every knob that stands for a host parameter learns a controller through the footer's manager;
// the engine-setting knobs and the diffuser's feedback (no host parameters) do not.
TEST (EditorWindow, HostParameterKnobsLearnControllersEndToEnd)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);

    std::vector<orvnlib::OrvnKnob*> learning, notLearning;
    open.main().forEachLearnTarget ([&] (orvnlib::MIDITarget& target)
    {
        auto* knob = dynamic_cast<orvnlib::OrvnKnob*> (&target);
        ASSERT_NE (knob, nullptr);
        (knob->parameterID.isEmpty() ? notLearning : learning).push_back (knob);
    });

    juce::StringArray ids;
    for (auto* knob : learning)
        ids.add (knob->parameterID);
    ids.sort (false);
    EXPECT_EQ (ids, juce::StringArray ({ "dry_wet", "in_gain", "out_gain", "pole_a_diff", "pole_b_diff", "pole_c_diff",
                                         "pole_d_diff", "x_traj_amount", "x_traj_range", "y_traj_amount", "y_traj_range" }));
    EXPECT_FALSE (notLearning.empty());

    // Move a controller, ask the knob to learn it; then the controller drives the knob's parameter.
    int cc = 20;
    for (auto* knob : learning)
    {
        SCOPED_TRACE (knob->parameterID);
        p.midiMap.processMidi (controller (++cc, 10), p.parameters);
        knob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
        runMessageLoop (20);
        EXPECT_EQ ((int) p.midiMap.mapTree.getChildWithName (knob->parameterID).getProperty ("cc", -1), cc);
        p.midiMap.processMidi (controller (cc, 127), p.parameters);
        EXPECT_FLOAT_EQ (p.parameters.getParameter (knob->parameterID)->getValue(), 1.0f);
    }

    const auto before = bindingsOf (p.midiMap.mapTree);
    for (auto* knob : notLearning)
        knob->handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
    runMessageLoop (20);
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), before);
}
