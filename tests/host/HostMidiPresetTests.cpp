#include "HostFixture.h"

using namespace quoril::hosttest;

namespace
{
// The plug-in's MIDI preset folder under this run's home folder.
juce::File midiPresetFolder()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("Orvane_Studio/Presets/Quoril/MIDI");
}

juce::String presetDocument (float dryWet, float outGain, const juce::String& name)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Quoril>"
           "<PARAM id=\"dry_wet\" value=\"" + juce::String (dryWet) + "\"/>"
           "<PARAM id=\"out_gain\" value=\"" + juce::String (outGain) + "\"/>"
           "<Metadata preset_name=\"" + name + "\"/></Quoril>";
}

struct Run
{
    float inputRms = 0.0f, outputRms = 0.0f;
    bool outputEqualsInput = true;
};

// Processes blocks of noise, with a program change at the start of the first one.
Run process (juce::AudioPluginInstance& instance, int program, int numBlocks)
{
    static juce::Random noise (42);
    juce::AudioBuffer<float> buffer (2, 256), input (2, 256);
    Run run;
    double inSum = 0.0, outSum = 0.0;

    for (int block = 0; block < numBlocks; ++block)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < 256; ++s)
                input.setSample (ch, s, (noise.nextFloat() * 2.0f - 1.0f) * 0.4f);

        buffer.makeCopyOf (input);
        juce::MidiBuffer midi;
        if (block == 0 && program >= 0)
            midi.addEvent (juce::MidiMessage::programChange (1, program), 0);

        instance.processBlock (buffer, midi);

        // The last block tells what the loaded state does.
        if (block == numBlocks - 1)
            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < 256; ++s)
                {
                    inSum += juce::square (input.getSample (ch, s));
                    outSum += juce::square (buffer.getSample (ch, s));
                    run.outputEqualsInput = run.outputEqualsInput && buffer.getSample (ch, s) == input.getSample (ch, s);
                }
    }

    run.inputRms = (float) std::sqrt (inSum / 512.0);
    run.outputRms = (float) std::sqrt (outSum / 512.0);
    return run;
}
} // namespace

// The slot list is read when an instance is made, so the files are written first. The host
// cannot read back parameters that the plug-in changes while processing, so the loaded
// state is heard instead: dry/wet 0 passes the input unchanged, and a fully wet mix at the
// lowest output gain is nearly silent.
TEST (HostMidiPresets, ProgramChangeLoadsTheFileOfItsSlot)
{
    auto folder = midiPresetFolder();
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("b-dry.qpst").replaceWithText (presetDocument (0.0f, 0.0f, "Dry")));
    ASSERT_TRUE (folder.getChildFile ("A-quiet.qpst").replaceWithText (presetDocument (1.0f, -70.0f, "Quiet")));

    auto instance = createInstance (44100.0, 256);
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);

    auto start = process (*instance, -1, 4);
    if (start.outputEqualsInput)
        GTEST_SKIP() << "the plug-in passes audio through unprocessed, so a loaded state cannot be heard";

    auto dry = process (*instance, 1, 2);
    EXPECT_TRUE (dry.outputEqualsInput) << "slot 1 sets dry/wet to 0";

    auto pastTheEnd = process (*instance, 2, 2);
    EXPECT_TRUE (pastTheEnd.outputEqualsInput) << "a program past the last slot loads nothing";

    auto quiet = process (*instance, 0, 100);
    EXPECT_LT (quiet.outputRms, quiet.inputRms * 0.01f) << "slot 0 is fully wet at the lowest output gain";

    instance->releaseResources();
    instance.reset();
    folder.deleteRecursively();
}
