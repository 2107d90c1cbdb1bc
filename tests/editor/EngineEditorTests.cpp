// The engine editor: the channel knobs write the pole's settings records and follow them back,
// the right channel is disabled while the stereo link is on, and the poll repaints nothing that
// did not move.

#include "EditorTestSupport.h"

#include "editor/EditorsPanel.h"

using namespace editortest;

namespace
{
// The seven knobs of a channel, grain knobs first.
enum Row { sizeRow = 0, speedRow, sizeJitterRow, speedJitterRow, ampJitterRow, freqRow, feedRow, numRows };

orvnlib::OrvnKnob& knobOf (PoleEditor& editor, int channel, int row)
{
    if (row < freqRow)
        return *(channel == 0 ? editor.grainKnobsLeft : editor.grainKnobsRight)[row];
    return *(channel == 0 ? editor.resonatorKnobsLeft : editor.resonatorKnobsRight)[row - freqRow];
}

// The field a knob writes: for the grain size, the samples the engine reads.
float fieldOf (QuorilAudioProcessor& p, int pole, int channel, int row)
{
    const auto& g = p.granulizerSettings[(size_t) pole][(size_t) channel];
    const auto& r = p.resonatorSettings[(size_t) pole][(size_t) channel];
    const float fields[] = { g.size, g.speed, g.sizeRnd, g.speedRnd, g.ampRnd, r.freq, r.feed };
    return fields[row];
}

// Writes a knob's record as the knob would: the grain size in milliseconds.
void setField (QuorilAudioProcessor& p, int pole, int channel, int row, double value)
{
    auto& g = p.granulizerSettings[(size_t) pole][(size_t) channel];
    auto& r = p.resonatorSettings[(size_t) pole][(size_t) channel];
    if (row == sizeRow)
    {
        setGrainSize (g, value, p.sampleRate);
        return;
    }
    float* fields[] = { nullptr, &g.speed, &g.sizeRnd, &g.speedRnd, &g.ampRnd, &r.freq, &r.feed };
    *fields[row] = (float) value;
}

// What the grain size knobs of every pole show: the text and the position.
std::vector<std::pair<juce::String, double>> grainSizeKnobs (QuorilAudioProcessor& p)
{
    std::vector<std::pair<juce::String, double>> shown;
    for (int pole = 0; pole < 4; ++pole)
    {
        PoleEditor editor (p, pole);
        editor.updateValueTexts();
        for (const int channel : { 0, 1 })
            shown.emplace_back (knobOf (editor, channel, sizeRow).getTooltip(), knobOf (editor, channel, sizeRow).getValue());
    }
    return shown;
}

// A panel showing one pole, laid out at its design size.
struct ShownPole
{
    ShownPole (QuorilAudioProcessor& processor, int pole) : p (processor)
    {
        p.selectedPole = pole;
        panel = std::make_unique<quoril::EditorsPanel> (p);
        panel->setBounds (0, 0, 265, 332);
        editor = panel->editors[pole];
    }

    QuorilAudioProcessor& p;
    std::unique_ptr<quoril::EditorsPanel> panel;
    PoleEditor* editor = nullptr;
};

// Counts the repaint requests that reach a component, without painting it.
struct RepaintCounter : juce::CachedComponentImage
{
    void paint (juce::Graphics&) override {}
    bool invalidateAll() override { ++count; return false; }
    bool invalidate (const juce::Rectangle<int>&) override { ++count; return false; }
    void releaseResources() override {}

    int count = 0;
};

RepaintCounter& countRepaints (juce::Component& c)
{
    auto* counter = new RepaintCounter();
    c.setCachedComponentImage (counter);
    return *counter;
}
} // namespace

TEST (EngineEditor, AKnobWritesOnlyItsOwnFieldOfItsPoleAndChannel)
{
    struct Case { int row; double position; float at44k, at48k; float tolerance; };
    const Case cases[] = {
        // grain size from 20 ms through 309.5 ms to 599 ms, in samples at either rate
        { sizeRow, 0.0, 882.0f, 960.0f, 0.01f }, { sizeRow, 0.5, 13648.95f, 14856.0f, 0.01f },
        { sizeRow, 1.0, 26415.9f, 28752.0f, 0.01f },
        { speedRow, 0.0, 0.5f, 0.5f, 1e-6f }, { speedRow, 0.5, 1.25f, 1.25f, 1e-6f }, { speedRow, 1.0, 2.0f, 2.0f, 1e-6f },
        { sizeJitterRow, 0.5, 0.125f, 0.125f, 1e-6f }, { speedJitterRow, 0.25, 0.125f, 0.125f, 1e-6f },
        { ampJitterRow, 0.3, 0.3f, 0.3f, 1e-6f }, { freqRow, 0.5, 520.0f, 520.0f, 1e-3f },
        { freqRow, 1.0, 960.0f, 960.0f, 1e-3f }, { feedRow, 0.5, 0.45f, 0.45f, 1e-6f },
    };

    for (const double rate : { 44100.0, 48000.0 })
        for (const int channel : { 0, 1 })
            for (const auto& c : cases)
            {
                QuorilAudioProcessor p;
                p.prepareToPlay (rate, 512);
                PoleEditor editor (p, 2);
                auto& knob = knobOf (editor, channel, c.row);
                // Start from the other end, so that every case is a real move.
                knob.setValue (c.position < 0.5 ? 1.0 : 0.0, juce::dontSendNotification);

                const auto expected = allRecords (p);
                knob.setValue (c.position, juce::sendNotificationSync);
                const auto actual = allRecords (p);
                const float wanted = rate == 44100.0 ? c.at44k : c.at48k;

                SCOPED_TRACE (juce::String (rate) + " Hz, channel " + juce::String (channel) + ", row "
                              + juce::String (c.row) + ", position " + juce::String (c.position));
                EXPECT_NEAR (fieldOf (p, 2, channel, c.row), wanted, c.tolerance);

                int changed = 0;
                for (size_t i = 0; i < actual.size(); ++i)
                    changed += actual[i] != expected[i] ? 1 : 0;
                EXPECT_EQ (changed, c.row == sizeRow ? 2 : 1) << "one field of one record is written (a size with its samples)";
            }
}

TEST (EngineEditor, AKnobShowsItsRecordAndTheRefreshLeavesTheRecordAlone)
{
    struct Case { int row; double rate; double record; double position; const char* tooltip; };
    const double k44 = 44100.0, k48 = 48000.0;
    const Case cases[] = {
        // the milliseconds set, at either rate
        { sizeRow, k44, 100.0, 0.138, "100 Ms" }, { sizeRow, k48, 100.0, 0.138, "100 Ms" },
        // 10 ms, below the range; a second, above it; beyond the float range
        { sizeRow, k44, 10.0, 0.0, "20 Ms" }, { sizeRow, k48, 10.0, 0.0, "20 Ms" },
        { sizeRow, k48, 1000.0, 1.0, "599 Ms" }, { sizeRow, k44, 1.0e300, 1.0, "599 Ms" },
        { speedRow, k44, 1.0f, 0.333, "1.00" }, { speedRow, k44, 3.0f, 1.0, "3.00" }, { speedRow, k44, 0.25f, 0.0, "0.25" },
        { sizeJitterRow, k44, 0.1f, 0.4, "0.10" }, { sizeJitterRow, k44, -0.1f, 0.0, "-0.10" },
        { speedJitterRow, k48, 0.1f, 0.2, "0.10" }, { speedJitterRow, k48, 0.75f, 1.0, "0.75" },
        { ampJitterRow, k44, 0.456f, 0.456, "0.46" }, { ampJitterRow, k44, 1.5f, 1.0, "1.50" },
        { ampJitterRow, k44, -0.2f, 0.0, "-0.20" },
        { freqRow, k44, 220.9f, 0.16, "220 Hz" }, { freqRow, k44, 40.0f, 0.0, "40 Hz" },
        { freqRow, k44, 2000.0f, 1.0, "2000 Hz" }, { freqRow, k44, 1.0e30f, 1.0, "2147483647 Hz" },
        { feedRow, k44, 0.45f, 0.5, "0.45" }, { feedRow, k44, 1.2f, 1.0, "1.20" },
    };

    for (const int channel : { 0, 1 })
        for (const auto& c : cases)
        {
            QuorilAudioProcessor p;
            p.prepareToPlay (c.rate, 512);
            ShownPole shown (p, 1);
            setField (p, 1, channel, c.row, c.record);
            const auto before = allRecords (p);

            for (int tick = 0; tick < 3; ++tick)
                shown.panel->refreshEditors();

            SCOPED_TRACE (juce::String (c.rate) + " Hz, channel " + juce::String (channel) + ", row "
                          + juce::String (c.row) + ", record " + juce::String (c.record));
            auto& knob = knobOf (*shown.editor, channel, c.row);
            EXPECT_NEAR (knob.getValue(), c.position, 1e-9);
            EXPECT_EQ (knob.getTooltip(), c.tooltip);
            EXPECT_EQ (allRecords (p), before) << "the refresh never writes a record";
        }
}

TEST (EngineEditor, EveryKnobPositionSurvivesTheTripThroughItsRecord)
{
    for (const double rate : { 44100.0, 48000.0 })
    {
        QuorilAudioProcessor p;
        p.prepareToPlay (rate, 512);
        ShownPole shown (p, 3);

        for (int row = 0; row < numRows; ++row)
            for (int step = 0; step <= 1000; ++step)
            {
                auto& knob = knobOf (*shown.editor, step % 2, row);
                knob.setValue (step / 1000.0, juce::sendNotificationSync);
                const auto position = knob.getValue();
                const auto record = fieldOf (p, 3, step % 2, row);

                shown.panel->refreshEditors();

                ASSERT_EQ (knob.getValue(), position) << rate << " Hz, row " << row << ", step " << step;
                ASSERT_EQ (fieldOf (p, 3, step % 2, row), record) << rate << " Hz, row " << row << ", step " << step;
            }
    }
}

// Hosts restore before they set the rate, or change a project's rate: the grain size knobs show
// the milliseconds saved, before and after the rate is set.
TEST (EngineEditor, GrainSizeKnobsKeepTheirMillisecondsThroughRestoreAndRateChanges)
{
    struct Case { double savedAt, restoredAt, preparedAt; }; // restoredAt 0: not yet prepared
    const Case cases[] = { { 48000.0, 0.0, 48000.0 }, { 96000.0, 0.0, 96000.0 }, { 44100.0, 44100.0, 48000.0 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.savedAt) + " " + juce::String (c.restoredAt) + " " + juce::String (c.preparedAt));
        QuorilAudioProcessor source, target;
        source.prepareToPlay (c.savedAt, 512);
        for (int pole = 0; pole < 4; ++pole)
            for (const int channel : { 0, 1 })
                setField (source, pole, channel, sizeRow, 20.0 + 72.91 * (pole * 2 + channel));
        const auto shown = grainSizeKnobs (source);

        juce::MemoryBlock blob;
        source.getStateInformation (blob);
        if (c.restoredAt > 0.0)
            target.prepareToPlay (c.restoredAt, 512);
        target.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_EQ (grainSizeKnobs (target), shown) << "restored";
        target.prepareToPlay (c.preparedAt, 512);
        EXPECT_EQ (grainSizeKnobs (target), shown) << "prepared";
    }
}

TEST (EngineEditor, TheStereoLinkDisablesTheRightChannelAboveOneHalf)
{
    // The link parameter moves in whole steps; the values between are written to its raw value
    // directly, to pin the threshold.
    struct Case { float link; bool throughParameter; bool rightEnabled; };
    const Case cases[] = { { 0.0f, true, true },    { 0.7f, true, false }, { 0.3f, true, true },
                           { 0.5f, false, true },   { 0.501f, false, false }, { 0.5f, false, true },
                           { 1.0f, true, false },   { 0.0f, true, true } };

    QuorilAudioProcessor p;
    ShownPole shown (p, 1);
    // Pole A is hidden: its link changes nothing on its editor.
    setParameter (p, ParameterTable::stereoLinkA, 1.0f);

    for (const auto& c : cases)
    {
        if (c.throughParameter)
            setParameter (p, ParameterTable::stereoLinkB, c.link);
        else
            p.parameterTable->rawValues[ParameterTable::stereoLinkB]->store (c.link);
        shown.panel->refreshEditors();

        SCOPED_TRACE (juce::String (c.link) + (c.throughParameter ? " as parameter" : " as raw value"));
        for (int row = 0; row < numRows; ++row)
        {
            EXPECT_EQ (knobOf (*shown.editor, 1, row).isEnabled(), c.rightEnabled) << row;
            EXPECT_TRUE (knobOf (*shown.editor, 0, row).isEnabled()) << row;
            EXPECT_TRUE (knobOf (*shown.panel->editors[0], 1, row).isEnabled()) << row;
        }
        EXPECT_TRUE (shown.editor->diffSend->knob->isEnabled());
    }
}

TEST (EngineEditor, OnlyTheShownEditorFollowsThePollAndAShownOneCatchesUp)
{
    QuorilAudioProcessor p;
    ShownPole shown (p, 0);
    auto& hidden = *shown.panel->editors[2];
    const auto shownBefore = knobOf (hidden, 0, speedRow).getValue();
    setField (p, 2, 0, speedRow, 2.0);

    shown.panel->refreshEditors();
    EXPECT_EQ (knobOf (hidden, 0, speedRow).getValue(), shownBefore) << "a hidden editor keeps what it showed";

    hidden.setVisible (true);
    EXPECT_EQ (knobOf (hidden, 0, speedRow).getValue(), 1.0);
    EXPECT_EQ (knobOf (hidden, 0, speedRow).getTooltip(), "2.00");
}

TEST (EngineEditor, BarsJoinTheGrainCaptionsToTheirJitterCaptions)
{
    QuorilAudioProcessor p;
    ShownPole shown (p, 0);
    const auto image = snapshot (*shown.editor);
    const juce::Colour bar (0xff343434);
    for (const int y : { 41, 116 })
    {
        EXPECT_EQ (image.getPixelAt (117, y), bar) << y;
        EXPECT_EQ (image.getPixelAt (146, y + 1), bar) << y;
        EXPECT_NE (image.getPixelAt (116, y), bar) << y;
        EXPECT_NE (image.getPixelAt (147, y), bar) << y;
        EXPECT_NE (image.getPixelAt (130, y + 2), bar) << y;
    }
}

TEST (EngineEditor, ThePollRepaintsOnlyTheKnobsThatMoved)
{
    QuorilAudioProcessor p;
    ShownPole shown (p, 0);
    auto& e = *shown.editor;

    // left[row], right[row], then the diffusion send.
    std::vector<RepaintCounter*> counters (2 * numRows + 1);
    for (int row = 0; row < numRows; ++row)
        for (int channel = 0; channel < 2; ++channel)
            counters[(size_t) (channel * numRows + row)] = &countRepaints (knobOf (e, channel, row));
    counters.back() = &countRepaints (*e.diffSend->knob);
    const auto right = [&] (int row) { return counters[(size_t) (numRows + row)]->count; };
    const auto total = [&] (int from = 0, int to = 2 * numRows + 1)
    {
        int n = 0;
        for (int i = from; i < to; ++i)
            n += counters[(size_t) i]->count;
        return n;
    };
    for (auto* c : counters)
        c->count = 0; // installing a counter repaints once

    for (int tick = 0; tick < 5; ++tick)
        shown.panel->refreshEditors();
    EXPECT_EQ (total(), 0) << "an idle poll repaints nothing";

    setField (p, 0, 1, speedRow, 1.5);
    shown.panel->refreshEditors();
    shown.panel->refreshEditors();
    EXPECT_GT (right (speedRow), 0);
    EXPECT_EQ (total(), right (speedRow)) << "only the moved knob repaints";

    const int movedBefore = right (speedRow);
    setParameter (p, ParameterTable::stereoLinkA, 1.0f);
    shown.panel->refreshEditors();
    shown.panel->refreshEditors();
    for (int row = 0; row < numRows; ++row)
        EXPECT_GT (right (row), row == speedRow ? movedBefore : 0) << "disabled knobs are drawn greyed, row " << row;
    EXPECT_EQ (total (0, numRows) + counters.back()->count, 0) << "the left channel and the send did not move";
}

TEST (EngineEditor, TheDiffusionSendFollowsItsParameterBothWays)
{
    QuorilAudioProcessor p;
    ShownPole shown (p, 3);
    auto& knob = *shown.panel->editors[3]->diffSend->knob;

    setParameter (p, ParameterTable::poleDDiff, 0.8f);
    shown.panel->refreshEditors();
    EXPECT_NEAR (knob.getValue(), 0.8, 1e-6);
    EXPECT_EQ (knob.getTooltip(), "0.80");

    knob.setValue (0.25, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ (raw (p, ParameterTable::poleDDiff), 0.25f);
    EXPECT_FLOAT_EQ (raw (p, ParameterTable::poleCDiff), 0.5f);
}
