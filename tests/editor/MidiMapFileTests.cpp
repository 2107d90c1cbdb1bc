// Controller learn through the footer's manager, and the controller map files.

#include "EditorTestSupport.h"

#include "editor/Footer.h"
#include "orvn/CCMapperUIManager.h"
#include "orvn/OrvnKnob.h"
#include "support/HostileInputs.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>

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

    // A private map stays private.
    ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, file));
    struct stat info {};
    ASSERT_EQ (::stat (file.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0600u);
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

    // A map taken with more than bindings, which written whole would be too large to load again
    // (each quote becomes six bytes), is saved as its bindings, and loads again.
    const auto noted = "<Quoril_MIDI_MAP><x_pos cc=\"74\" note='" + juce::String::repeatedString ("\"", 6000)
                     + "'/><x_pos cc=\"75\"/><in_gain cc=\"3\"/></Quoril_MIDI_MAP>";
    ASSERT_TRUE (manager.loadMapFile (write ("noted.mpcc", noted)));
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, saved));
    p.midiMap.mapTree.removeAllChildren (nullptr);
    ASSERT_TRUE (manager.loadMapFile (saved)) << bytesOf (saved).substring (0, 200);
    EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=74,in_gain=3");
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

//==============================================================================
namespace
{
juce::StringArray listedByLoad (const juce::File& folder)
{
    // The LOAD dialog's own filter over the folder's files.
    juce::WildcardFileFilter filter (orvnlib::CCMapperUIManager::mapFilePattern(), {}, {});
    juce::StringArray listed;
    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFiles))
        if (filter.isFileSuitable (entry.getFile()))
            listed.add (entry.getFile().getFileName());
    listed.sort (false);
    return listed;
}

// Saves through the framework's SAVE dialog with a name typed in the given folder.
void saveAs (orvnlib::CCMapperUIManager& manager, const juce::File& folder, const juce::String& typed)
{
    FileDialogDriver driver ([&] (auto& box, auto& browser)
    {
        browser.setRoot (folder);
        browser.setFileName (typed);
        FileDialogDriver::pressOk (box, browser);
    });
    manager.saveMidiMap();
    EXPECT_TRUE (driver.finish());
}
} // namespace

// The dialogs as a user works them: where they open, what SAVE proposes, the file it writes for a
// typed name, and that LOAD lists that file and loads it.
TEST_F (MapFiles, SaveOpensWhereLoadDoesAndWritesWhatLoadLists)
{
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    documents.deleteRecursively();

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto& manager = footer.ccMapperUIManager;
    manager.useNativeDialogs = false;

    for (const bool withDocuments : { false, true })
    {
        SCOPED_TRACE (withDocuments ? "with a documents folder" : "without a documents folder");
        if (withDocuments)
        {
            ASSERT_TRUE (documents.createDirectory());
        }
        const auto start = withDocuments ? documents : home;

        juce::File saveRoot, proposed, loadRoot;
        for (const bool saving : { true, false })
        {
            FileDialogDriver driver ([&] (auto& box, auto& browser)
            {
                (saving ? saveRoot : loadRoot) = browser.getRoot();
                if (saving)
                    proposed = browser.getSelectedFile (0);
                box.exitModalState (0);
            });
            if (saving)
                manager.saveMidiMap();
            else
                manager.loadMidiMap();
            EXPECT_TRUE (driver.finish());
        }
        EXPECT_EQ (saveRoot.getFullPathName(), start.getFullPathName());
        EXPECT_EQ (proposed.getFullPathName(), start.getChildFile ("Quoril.mpcc").getFullPathName());
        EXPECT_EQ (loadRoot.getFullPathName(), start.getFullPathName());
    }
    EXPECT_FALSE (documents.getChildFile ("Quoril.mpcc").exists()) << "a cancelled dialog writes nothing";
    documents.deleteRecursively();

    const std::pair<const char*, const char*> names[] = {
        { "mymap", "mymap.mpcc" }, { "my.map", "my.map.mpcc" }, { "Live.MPCC", "Live.MPCC" }, { "Quoril.mpcc", "Quoril.mpcc" },
        { "Mixed.mPcC", "Mixed.mPcC" },
    };
    for (const auto& [typed, written] : names)
    {
        SCOPED_TRACE (typed);
        p.midiMap.mapTree.removeAllChildren (nullptr);
        bind (p, "x_pos", 74);
        bind (p, "in_gain", 7);

        saveAs (manager, dir, typed);
        EXPECT_EQ (listedByLoad (dir).joinIntoString ("|"), written);
        EXPECT_EQ (dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1) << "nothing else written";

        p.midiMap.mapTree.removeAllChildren (nullptr);
        FileDialogDriver load (FileDialogDriver::choose (dir.getChildFile (written)));
        manager.loadMidiMap();
        EXPECT_TRUE (load.finish());
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=74,in_gain=7");
        dir.getChildFile (written).deleteFile();
    }
}

// A name that gains the extension may name a file that is there: the user is asked, as the
// dialog asks for the name as typed, and only once.
TEST_F (MapFiles, SavingOverAnExistingFileAsksFirst)
{
    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto& manager = footer.ccMapperUIManager;
    manager.useNativeDialogs = false;
    bind (p, "x_pos", 74);
    const auto existing = dir.getChildFile ("mymap.mpcc");

    struct Case { const char* typed; const char* answer; int questions; bool replaced; };
    const Case cases[] = {
        { "mymap", "Cancel", 1, false },
        { "mymap", "Overwrite", 1, true },
        { "mymap.mpcc", "Cancel", 1, false },    // the dialog's own question
        { "mymap.mpcc", "Overwrite", 1, true },
        { "other", "Overwrite", 0, false },      // other.mpcc is new: nothing to ask
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.typed) + ", " + c.answer);
        ASSERT_TRUE (existing.replaceWithText ("old"));
        dir.getChildFile ("other.mpcc").deleteFile();

        QuestionDriver answer (c.answer);
        saveAs (manager, dir, c.typed);

        ASSERT_EQ (answer.asked.size(), c.questions);
        if (c.questions > 0)
        {
            EXPECT_EQ (answer.asked[0], "File already exists");
        }
        EXPECT_EQ (existing.loadFileAsString() != "old", c.replaced);
        if (c.replaced)
        {
            EXPECT_TRUE (existing.loadFileAsString().contains ("<x_pos cc=\"74\"/>"));
        }
        EXPECT_EQ (dir.getChildFile ("other.mpcc").existsAsFile(), juce::String (c.typed) == "other");
        EXPECT_FALSE (dir.getChildFile ("mymap").exists());
    }
}

namespace
{
// Whether the filter a desktop dialog was given (the argument between prefix and suffix) lists
// map files in every letter case and nothing else, matched as zenity and kdialog match it: each
// space-separated pattern as a case-sensitive glob.
bool desktopFilterLists (const juce::StringArray& args, const juce::String& prefix, const juce::String& suffix)
{
    juce::StringArray patterns;
    for (const auto& arg : args)
        if (arg.startsWith (prefix) && arg.endsWith (suffix))
            patterns.addTokens (arg.substring (prefix.length(), arg.length() - suffix.length()), " ", "");

    const auto listed = [&] (const char* name)
    {
        return std::any_of (patterns.begin(), patterns.end(), [name] (const juce::String& p) { return fnmatch (p.toRawUTF8(), name, 0) == 0; });
    };
    bool all = true;
    for (const auto* name : { "a.mpcc", "B.MPCC", "c.MpCc", "d.mPcC", "e.mpcC", "f.MPCc" })
        all = all && listed (name);
    for (const auto* name : { "g.mpc", "h.mpcc.bak", "i.xmpcc", "mpcc" })
        all = all && ! listed (name);
    EXPECT_TRUE (all) << patterns.joinIntoString (" ");
    return all;
}
} // namespace

// The desktop's own dialogs (zenity, or kdialog in a KDE session), stood in for by a script that
// records how it was started and answers with a path typed without the extension.
TEST_F (MapFiles, DesktopDialogsStartInTheSameFolderAndSaveTheSameNames)
{
    const auto bin = dir.getChildFile ("bin");
    const auto log = dir.getChildFile ("dialog.log");
    ASSERT_TRUE (bin.createDirectory());
    for (const char* name : { "zenity", "kdialog" })
    {
        const auto script = bin.getChildFile (name);
        ASSERT_TRUE (script.replaceWithText ("#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"$a\"; done; } > \"" + log.getFullPathName()
                                             + "\"\nprintf '%s\\n' \"$QUORIL_TEST_DIALOG_ANSWER\"\n", false, false, "\n"));
        ASSERT_TRUE (script.setExecutePermission (true));
    }
    const juce::String path (std::getenv ("PATH"));
    setenv ("PATH", (bin.getFullPathName() + ":" + path).toRawUTF8(), 1);
    const auto workingDirectory = juce::File::getCurrentWorkingDirectory();
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    ASSERT_TRUE (documents.createDirectory());

    if (! juce::FileChooser::isPlatformDialogAvailable())
    {
        setenv ("PATH", path.toRawUTF8(), 1);
        GTEST_SKIP() << "the framework looked for a desktop dialog before this test started";
    }

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto& manager = footer.ccMapperUIManager;
    bind (p, "x_pos", 74);
    const auto saved = dir.getChildFile ("typed.mpcc");

    for (const bool kde : { false, true })
    {
        SCOPED_TRACE (kde ? "kdialog" : "zenity");
        if (kde)
            setenv ("KDE_FULL_SESSION", "true", 1);
        else
            unsetenv ("KDE_FULL_SESSION");
        setenv ("QUORIL_TEST_DIALOG_ANSWER", dir.getChildFile ("typed").getFullPathName().toRawUTF8(), 1);
        saved.deleteFile();

        const auto run = [&] (std::function<void()> open, std::function<bool()> done)
        {
            log.deleteFile();
            open();
            EXPECT_TRUE (runMessageLoopUntil (done));
            runMessageLoop (30);
            juce::StringArray lines;
            lines.addLines (log.loadFileAsString());
            lines.removeEmptyStrings();
            return lines;
        };

        auto args = run ([&] { manager.saveMidiMap(); }, [&] { return saved.existsAsFile(); });
        EXPECT_TRUE (saved.loadFileAsString().contains ("<x_pos cc=\"74\"/>"));
        EXPECT_FALSE (dir.getChildFile ("typed").exists());
        if (kde)
        {
            EXPECT_TRUE (args.contains ("--getsavefilename"));
            EXPECT_TRUE (args.contains (documents.getFullPathName())) << args.joinIntoString (" ");
            EXPECT_TRUE (desktopFilterLists (args, "(", ")"));
        }
        else
        {
            EXPECT_EQ (args[0], documents.getFullPathName()) << "started in the documents folder";
            EXPECT_TRUE (args.contains ("--save"));
            EXPECT_TRUE (args.contains ("--confirm-overwrite")) << "zenity asks about the name as typed";
            EXPECT_TRUE (args.contains ("--filename=Quoril.mpcc"));
            EXPECT_TRUE (desktopFilterLists (args, "--file-filter=", ""));
        }

        // The same answer again: typed.mpcc is there now, so the plug-in asks.
        {
            ASSERT_TRUE (saved.replaceWithText ("old"));
            QuestionDriver answer ("Cancel");
            run ([&] { manager.saveMidiMap(); }, [&] { return answer.asked.size() == 1; });
            EXPECT_TRUE (runMessageLoopUntil ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));
            EXPECT_EQ (saved.loadFileAsString(), "old");
        }

        ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, saved));
        p.midiMap.mapTree.removeAllChildren (nullptr);
        setenv ("QUORIL_TEST_DIALOG_ANSWER", saved.getFullPathName().toRawUTF8(), 1);
        args = run ([&] { manager.loadMidiMap(); }, [&] { return p.midiMap.mapTree.getNumChildren() > 0; });
        EXPECT_EQ (bindingsOf (p.midiMap.mapTree), "x_pos=74");
        EXPECT_TRUE (args.contains (kde ? "--getopenfilename" : "--file-selection"));
        if (! kde)
        {
            EXPECT_EQ (args[0], documents.getFullPathName());
        }
    }

    unsetenv ("KDE_FULL_SESSION");
    unsetenv ("QUORIL_TEST_DIALOG_ANSWER");
    setenv ("PATH", path.toRawUTF8(), 1);
    workingDirectory.setAsCurrentWorkingDirectory();
    documents.deleteRecursively();
}
