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

juce::String presetDocument (float dryWet, float xPos, const juce::String& name)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Quoril>"
           "<PARAM id=\"dry_wet\" value=\"" + juce::String (dryWet) + "\"/>"
           "<PARAM id=\"x_pos\" value=\"" + juce::String (xPos) + "\"/>"
           "<Metadata preset_name=\"" + name + "\"/></Quoril>";
}

void processWithProgram (juce::AudioPluginInstance& instance, int program)
{
    juce::AudioBuffer<float> buffer (2, 256);
    buffer.clear();
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (1, program), 0);
    instance.processBlock (buffer, midi);

    // Let parameter changes travel back to the host's view of the parameters.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (200);
}
} // namespace

// The slot list is read when an instance is made, so the files are written first.
TEST (HostMidiPresets, ProgramChangeLoadsTheFileOfItsSlot)
{
    auto folder = midiPresetFolder();
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("b-second.qpst").replaceWithText (presetDocument (0.125f, 0.875f, "Second")));
    ASSERT_TRUE (folder.getChildFile ("A-first.qpst").replaceWithText (presetDocument (0.75f, 0.25f, "First")));

    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (44100.0, 256);

    auto& params = instance->getParameters();
    auto* xPos = params[1];
    auto* dryWet = params[9];
    ASSERT_FLOAT_EQ (dryWet->getValue(), 0.5f);

    processWithProgram (*instance, 1);
    EXPECT_NEAR (dryWet->getValue(), 0.125f, 1e-4);
    EXPECT_NEAR (xPos->getValue(), 0.875f, 1e-4);

    // A program past the last slot loads nothing.
    processWithProgram (*instance, 2);
    EXPECT_NEAR (dryWet->getValue(), 0.125f, 1e-4);

    processWithProgram (*instance, 0);
    EXPECT_NEAR (dryWet->getValue(), 0.75f, 1e-4);
    EXPECT_NEAR (xPos->getValue(), 0.25f, 1e-4);

    instance->releaseResources();
    instance.reset();
    folder.deleteRecursively();
}
