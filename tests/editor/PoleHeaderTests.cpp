// The pole header buttons: Edit selects the engine editor, the link button follows its parameter,
// Copy and Paste move a pole's settings through the processor's clipboard.

#include <gtest/gtest.h>

#include <vector>

#include "editor/QuorilAudioProcessorEditor.h"
#include "processor/QuorilAudioProcessor.h"

namespace
{
struct OpenEditor
{
    explicit OpenEditor (QuorilAudioProcessor& p) : processor (p), editor (p.createEditorIfNeeded()) {}
    ~OpenEditor() { processor.editorBeingDeleted (editor.get()); }

    MainComponent& main() { return dynamic_cast<QuorilAudioProcessorEditor&> (*editor).mainComponent; }
    MainComponent::EngineHeader& header (int pole) { return main().engineHeaders[(size_t) pole]; }

    QuorilAudioProcessor& processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
};

// A left-button press and release inside the button, delivered straight to it.
void click (juce::Button& button)
{
    const juce::Point<float> centre (11.0f, 11.0f);
    const auto now = juce::Time::getCurrentTime();
    const juce::MouseEvent e (juce::Desktop::getInstance().getMainMouseSource(), centre,
                              juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                              &button, &button, now, centre, now, 1, false);
    juce::Component& component = button;  // the mouse callbacks are public on Component
    component.mouseDown (e);
    component.mouseUp (e);
}

float raw (const QuorilAudioProcessor& p, int index)
{
    return p.parameterTable->raw (index);
}

void setParameter (QuorilAudioProcessor& p, int index, float normalised)
{
    p.parameters.getParameter (p.parameterTable->ids[index])->setValueNotifyingHost (normalised);
}

std::vector<bool> litEditButtons (OpenEditor& open)
{
    std::vector<bool> lit;
    for (int pole = 0; pole < 4; ++pole)
        lit.push_back (open.header (pole).editButton->getToggleState());
    return lit;
}

std::vector<bool> visibleEditors (OpenEditor& open)
{
    std::vector<bool> visible;
    for (auto* editor : open.main().editorsPanel.editors)
        visible.push_back (editor->isVisible());
    return visible;
}

// A pole's records, diffusion amount and stereo link, for comparisons.
std::vector<double> poleState (const QuorilAudioProcessor& p, int pole)
{
    std::vector<double> state;
    for (const auto& g : p.granulizerSettings[(size_t) pole])
        for (double v : { (double) g.density, (double) g.envelope, (double) g.size, (double) g.speed, (double) g.sizeRnd,
                          (double) g.speedRnd, (double) g.ampRnd, (double) g.outGain, (double) g.freeze })
            state.push_back (v);
    for (const auto& r : p.resonatorSettings[(size_t) pole])
    {
        state.push_back (r.freq);
        state.push_back (r.feed);
    }
    state.push_back (raw (p, ParameterTable::diffIndex (pole)));
    state.push_back (raw (p, ParameterTable::linkIndex (pole)));
    return state;
}
} // namespace

TEST (PoleHeaders, EditLightsExactlyTheClickedPoleAndShowsItsEditor)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    using Lit = std::vector<bool>;

    EXPECT_EQ (litEditButtons (open), (Lit { true, false, false, false }));
    EXPECT_EQ (visibleEditors (open), (Lit { true, false, false, false }));

    struct Case { int pole; Lit lit; };
    const Case cases[] = {
        { 0, { true, false, false, false } },   // the lit button stays lit
        { 2, { false, false, true, false } },
        { 2, { false, false, true, false } },
        { 1, { false, true, false, false } },
        { 3, { false, false, false, true } },
    };
    for (const auto& c : cases)
    {
        click (*open.header (c.pole).editButton);
        SCOPED_TRACE (c.pole);
        EXPECT_EQ (p.selectedPole, c.pole);
        EXPECT_EQ (litEditButtons (open), c.lit);
        EXPECT_EQ (visibleEditors (open), c.lit);
    }
}

TEST (PoleHeaders, ANewEditorShowsThePoleChosenBefore)
{
    QuorilAudioProcessor p;
    {
        OpenEditor first (p);
        click (*first.header (2).editButton);
    }
    p.granulizerSettings[2][0].speed = 2.0f;

    OpenEditor second (p);
    EXPECT_EQ (litEditButtons (second), (std::vector<bool> { false, false, true, false }));
    EXPECT_EQ (visibleEditors (second), (std::vector<bool> { false, false, true, false }));
    EXPECT_EQ (second.main().editorsPanel.editors[2]->grainKnobsLeft[1]->getTooltip(), "2.00");
}

TEST (PoleHeaders, TheLinkButtonAndItsParameterFollowEachOther)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& link = *open.header (1).linkButton;
    EXPECT_FALSE (link.getToggleState());

    struct Automation { float value; bool lit; };
    for (const auto& a : { Automation { 0.7f, true }, Automation { 0.3f, false }, Automation { 0.5f, true }, Automation { 0.0f, false } })
    {
        setParameter (p, ParameterTable::stereoLinkB, a.value);
        EXPECT_EQ (link.getToggleState(), a.lit) << a.value;
    }

    click (link);
    EXPECT_TRUE (link.getToggleState());
    EXPECT_EQ (raw (p, ParameterTable::stereoLinkB), 1.0f);
    click (link);
    EXPECT_FALSE (link.getToggleState());
    EXPECT_EQ (raw (p, ParameterTable::stereoLinkB), 0.0f);

    for (const int other : { ParameterTable::stereoLinkA, ParameterTable::stereoLinkC, ParameterTable::stereoLinkD })
        EXPECT_EQ (raw (p, other), 0.0f) << other;
}

TEST (PoleHeaders, CopyAndPasteMoveAPoleThroughTheClipboard)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);

    // Paste before any copy changes nothing.
    const auto untouched = poleState (p, 3);
    click (*open.header (3).pasteButton);
    EXPECT_EQ (poleState (p, 3), untouched);

    auto& a = p.granulizerSettings[0];
    a[0].size = 5000.0f;
    a[1].speed = 1.7f;
    a[0].ampRnd = 0.4f;
    p.resonatorSettings[0][1].freq = 333.0f;
    setParameter (p, ParameterTable::poleADiff, 0.8f);
    setParameter (p, ParameterTable::stereoLinkA, 1.0f);
    p.parameters.copyState(); // what the parameter state's own timer does: the tree takes the new values
    ASSERT_NE (poleState (p, 0), poleState (p, 3));

    click (*open.header (0).copyButton);
    EXPECT_EQ (poleState (p, 3), untouched) << "copy alone changes no pole";

    click (*open.header (3).pasteButton);
    EXPECT_EQ (poleState (p, 3), poleState (p, 0));
    EXPECT_TRUE (open.header (3).linkButton->getToggleState()) << "the link button follows the pasted link";

    // The diffusion send of pole D follows through its attachment, the records at the next poll.
    click (*open.header (3).editButton);
    open.main().timerCallback();
    auto& editorD = *open.main().editorsPanel.editors[3];
    EXPECT_NEAR (editorD.diffSend->knob->getValue(), 0.8, 1e-6);
    EXPECT_EQ (editorD.grainKnobsRight[1]->getTooltip(), "1.70");
    EXPECT_EQ (editorD.resonatorKnobsRight[0]->getTooltip(), "333 Hz");
    for (const auto* knob : editorD.grainKnobsRight)
        EXPECT_FALSE (knob->isEnabled()) << "the pasted link disables the right channel";
}

TEST (PoleHeaders, ButtonsCarryTheirIconsAndTooltips)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    auto& d = open.header (3);

    EXPECT_EQ (d.editButton->getTooltip(), "Edit bottom right engine parameters.");
    EXPECT_EQ (d.linkButton->getTooltip(), "Toggle bottom right engine stereo link on or off.");
    EXPECT_EQ (d.copyButton->getTooltip(), "Copy bottom right engine parameters.");
    EXPECT_EQ (d.pasteButton->getTooltip(), "Paste engine parameters.");
    EXPECT_EQ (open.header (0).editButton->getTooltip(), "Edit top left engine parameters.");
    EXPECT_EQ (open.header (1).copyButton->getTooltip(), "Copy top right engine parameters.");
    EXPECT_EQ (open.header (2).linkButton->getTooltip(), "Toggle bottom left engine stereo link on or off.");

    for (int pole = 0; pole < 4; ++pole)
    {
        auto& h = open.header (pole);
        for (auto* button : { h.editButton.get(), h.linkButton.get(), h.copyButton.get(), h.pasteButton.get() })
        {
            ASSERT_NE (button->getNormalImage(), nullptr) << pole;
            EXPECT_FALSE (button->getNormalImage()->getDrawableBounds().isEmpty()) << pole;
        }
    }

    // The lit Edit icon is drawn in the highlight colour; a picture of the strip above the pad.
    setParameter (p, ParameterTable::stereoLinkB, 1.0f);
    auto& main = open.main();
    const auto strip = main.createComponentSnapshot ({ 269, 2, 262, 35 });
    juce::File (QUORIL_TEST_OUTPUT_DIR).createDirectory();
    juce::FileOutputStream out (juce::File (QUORIL_TEST_OUTPUT_DIR).getChildFile ("pole-headers-top.png"));
    out.setPosition (0);
    out.truncate();
    juce::PNGImageFormat().writeImageToStream (strip.rescaled (strip.getWidth() * 4, strip.getHeight() * 4), out);
    juce::FileOutputStream whole (juce::File (QUORIL_TEST_OUTPUT_DIR).getChildFile ("engine-editor.png"));
    whole.setPosition (0);
    whole.truncate();
    juce::PNGImageFormat().writeImageToStream (main.createComponentSnapshot ({ 269, 2, 529, 332 }, true, 2.0f), whole);

    // Pixels of the highlight's teal (anti-aliased edges blend it with the dark face).
    const auto tealPixels = [&] (juce::Rectangle<int> area)
    {
        int n = 0;
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto c = strip.getPixelAt (x - 269, y - 2);
                n += c.getGreen() - c.getRed() > 40 && c.getBlue() - c.getRed() > 40 ? 1 : 0;
            }
        return n;
    };
    EXPECT_GT (tealPixels (main.engineHeaders[0].editButton->getBounds()), 10) << "A's Edit is lit";
    EXPECT_EQ (tealPixels (main.engineHeaders[0].copyButton->getBounds()), 0);
    EXPECT_GT (tealPixels (main.engineHeaders[1].linkButton->getBounds()), 10) << "B's link is on";
    EXPECT_EQ (tealPixels (main.engineHeaders[0].linkButton->getBounds()), 0);
}
