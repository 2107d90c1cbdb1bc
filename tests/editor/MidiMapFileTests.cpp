// Controller learn through the footer's manager, and the controller map files.

#include "EditorTestSupport.h"

#include "editor/Footer.h"
#include "orvn/CCMapperUIManager.h"
#include "orvn/OrvnKnob.h"
#include "support/HostileInputs.h"

#include <csignal>
#include <sys/resource.h>

using namespace editortest;

namespace
{
struct MapFiles : ::testing::Test
{
    void SetUp() override { ASSERT_TRUE (dir.createDirectory()); }
    void TearDown() override { dir.deleteRecursively(); }

    // Inside the test run's own home folder, so that test processes running side by side never share it.
    juce::File dir { juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("map-files") };
};

void bind (QuorilAudioProcessor& p, const juce::String& id, int cc)
{
    p.midiMap.lastCC = cc;
    p.midiMap.assignToLastCC (id);
}

juce::String bytesOf (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    return data.toString();
}
} // namespace

TEST_F (MapFiles, WrittenByteForByteInTheMapFileFormat)
{
    QuorilAudioProcessor p;
    const auto file = dir.getChildFile ("map.mpcc");

    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
    EXPECT_EQ (bytesOf (file), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<Quoril_MIDI_MAP/>\r\n");

    bind (p, "x_pos", 74);
    bind (p, "in_gain", 7);
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
    EXPECT_EQ (bytesOf (file), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                               "\r\n"
                               "<Quoril_MIDI_MAP>\r\n"
                               "  <x_pos cc=\"74\"/>\r\n"
                               "  <in_gain cc=\"7\"/>\r\n"
                               "</Quoril_MIDI_MAP>\r\n");

    // Nothing of the temporary file is left beside the target.
    EXPECT_EQ (dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    EXPECT_FALSE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, dir)) << "a folder is not replaced";
    EXPECT_FALSE (orvnlib::CCMapperUIManager::writeMapFile ({}, file));
}

TEST_F (MapFiles, SavedMapLoadsBackInOrderAndActsAtOnce)
{
    const auto file = dir.getChildFile ("map.mpcc");
    {
        QuorilAudioProcessor p;
        bind (p, "y_pos", 30);
        bind (p, "in_gain", 7);
        bind (p, "x_pos", 7);
        p.midiMap.mapTree.getChild (0).setProperty ("note", "kept", nullptr);
        ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
    }

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    bind (p, "out_gain", 9);

    ASSERT_TRUE (footer.ccMapperUIManager.loadMapFile (file));
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "y_pos=30,in_gain=7,x_pos=7");
    EXPECT_EQ (p.midiMap.mapTree.getChild (0).getProperty ("note").toString(), "kept");
    EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 3) << "the audio thread has the new map without a message loop";

    p.midiMap.processMidi (controller (7, 127), p.parameters);
    EXPECT_FLOAT_EQ (p.parameters.getParameter ("in_gain")->getValue(), 1.0f);
    EXPECT_FLOAT_EQ (p.parameters.getParameter ("x_pos")->getValue(), 1.0f);
}

TEST_F (MapFiles, OnlyAControllerMapIsTaken)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto& manager = footer.ccMapperUIManager;
    bind (p, "x_pos", 74);

    const auto write = [this] (const juce::String& name, const juce::String& text)
    {
        const auto file = dir.getChildFile (name);
        file.replaceWithText (text);
        return file;
    };

    const juce::File refused[] = {
        write ("state.mpcc", "<?xml version=\"1.0\"?>\n<Quoril><PARAM id=\"x_pos\" value=\"0.5\"/></Quoril>"),
        write ("broken.mpcc", "<Quoril_MIDI_MAP><x_pos cc="),
        dir.getChildFile ("missing.mpcc"),
        dir,
    };
    for (const auto& file : refused)
    {
        SCOPED_TRACE (file.getFileName());
        EXPECT_FALSE (manager.loadMapFile (file));
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=74");
        EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 1);
    }

    // The tag is compared without regard to case, and kept as written.
    ASSERT_TRUE (manager.loadMapFile (write ("lower.mpcc", "<quoril_midi_map><in_gain cc=\"3\"/></quoril_midi_map>")));
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "in_gain=3");
    const auto saved = dir.getChildFile ("saved.mpcc");
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, saved));
    EXPECT_TRUE (bytesOf (saved).contains ("<quoril_midi_map>"));
}

// Hostile map files (the map element's tag in place of the state's) are refused quickly.
TEST_F (MapFiles, HostileFilesChangeNoBinding)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    bind (p, "x_pos", 74);
    const auto file = dir.getChildFile ("hostile.mpcc");

    for (auto input : hostile::xmlInputs())
    {
        SCOPED_TRACE (input.what);
        for (size_t at = input.bytes.find ("Quoril"); at != std::string::npos; at = input.bytes.find ("Quoril", at + 1))
            input.bytes.replace (at, 6, "Quoril_MIDI_MAP");
        ASSERT_TRUE (file.replaceWithData (input.bytes.data(), input.bytes.size()));

        bool loaded = true;
        EXPECT_TRUE (hostile::returnsQuickly ([&] { loaded = footer.ccMapperUIManager.loadMapFile (file); }));
        EXPECT_FALSE (loaded);
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=74");
        EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 1);
    }
}

TEST_F (MapFiles, AFailedWriteLeavesTheExistingFileAsItWas)
{
    QuorilAudioProcessor p;
    for (int cc = 0; cc < 20; ++cc)
        bind (p, p.parameterTable->ids[cc % 18], cc);

    const auto file = dir.getChildFile ("map.mpcc");
    const juce::String original ("<?xml version=\"1.0\"?>\n<Quoril_MIDI_MAP><x_pos cc=\"1\"/></Quoril_MIDI_MAP>\n"
                                 + juce::String::repeatedString ("<!-- an older, longer map -->\n", 40));
    ASSERT_TRUE (file.replaceWithText (original));
    const auto originalBytes = bytesOf (file);

    // A file size limit makes the write come up short, as a full disk would.
    rlimit previous {};
    ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal (SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 64;
    ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &limited), 0);

    const bool written = orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file);

    setrlimit (RLIMIT_FSIZE, &previous);
    std::signal (SIGXFSZ, previousHandler);

    EXPECT_FALSE (written);
    EXPECT_EQ (bytesOf (file), originalBytes);
    EXPECT_EQ (dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1) << "no temporary file is left";

    // Without the limit the same map replaces the file whole.
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
    const auto expected = dir.getChildFile ("fresh.mpcc");
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, expected));
    EXPECT_EQ (bytesOf (file), bytesOf (expected)) << "no tail of the longer old file is left";
    EXPECT_EQ (juce::XmlDocument::parse (file)->getNumChildElements(), 18);
}

TEST (ControllerLearn, TheManagerTakesPendingRequestsOneAtATimeAssignFirst)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto* inGain = p.parameters.getParameter ("in_gain");

    orvnlib::OrvnKnob knob (juce::Colours::teal);
    knob.parameterID = "in_gain";
    knob.addChangeListener (&footer.ccMapperUIManager);

    p.midiMap.processMidi (controller (21, 0), p.parameters); // the controller the user just moved
    knob.handleCCMenuResult (orvnlib::OrvnKnob::assignItemId);
    EXPECT_TRUE (knob.assignRequested) << "the request waits for the change message";
    runMessageLoop (50);
    EXPECT_FALSE (knob.assignRequested);
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "in_gain=21");

    // Both requests pending: the assignment goes first, the removal waits for the next message.
    p.midiMap.processMidi (controller (22, 0), p.parameters);
    knob.assignRequested = knob.clearRequested = true;
    footer.ccMapperUIManager.changeListenerCallback (&knob);
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "in_gain=22");
    EXPECT_TRUE (knob.clearRequested);
    footer.ccMapperUIManager.changeListenerCallback (&knob);
    EXPECT_FALSE (knob.clearRequested);
    EXPECT_EQ (p.midiMap.mapTree.getNumChildren(), 0);
    EXPECT_EQ (p.midiMap.getNumPublishedBindings(), 0);

    const auto value = inGain->getValue();
    p.midiMap.processMidi (controller (22, 127), p.parameters);
    EXPECT_EQ (inGain->getValue(), value);

    // A broadcaster that is no MIDI target is ignored.
    juce::ChangeBroadcaster other;
    footer.ccMapperUIManager.changeListenerCallback (&other);
    knob.removeChangeListener (&footer.ccMapperUIManager);
}
