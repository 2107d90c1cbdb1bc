// The pole header buttons: Edit selects the engine editor, the link button follows its parameter,
// Copy and Paste move a pole's settings through the processor's clipboard.

#include "EditorTestSupport.h"

using namespace editortest;

namespace
{
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

// A pole's records, diffusion amount and stereo link.
std::vector<double> poleState (const QuorilAudioProcessor& p, int pole)
{
    auto state = recordOf (p, pole, 0);
    for (auto v : recordOf (p, pole, 1))
        state.push_back (v);
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
    setGrainSize (a[0], 250.0, p.sampleRate);
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

TEST (PoleHeaders, TooltipsNameTheirCorner)
{
    QuorilAudioProcessor p;
    OpenEditor open (p);
    const char* corners[] = { "top left", "top right", "bottom left", "bottom right" };

    for (int pole = 0; pole < 4; ++pole)
    {
        const juce::String corner (corners[pole]);
        auto& h = open.header (pole);
        EXPECT_EQ (h.editButton->getTooltip(), "Edit " + corner + " engine parameters.");
        EXPECT_EQ (h.linkButton->getTooltip(), "Toggle " + corner + " engine stereo link on or off.");
        EXPECT_EQ (h.copyButton->getTooltip(), "Copy " + corner + " engine parameters.");
        EXPECT_EQ (h.pasteButton->getTooltip(), "Paste engine parameters.");
    }
}
