// The preset browser over a private user preset folder: listing, highlight, stepping with its wrap
// rules, loads from files, bad files, and the pending MIDI slot.

#include "EditorTestSupport.h"

#include "editor/Footer.h"
#include "editor/PresetBrowser.h"
#include "support/EngineTestSupport.h"
#include "support/HostileInputs.h"

#include <sys/stat.h>

using enginetest::stateDocument;

namespace
{
struct PresetBrowser : ::testing::Test
{
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }

    void clear()
    {
        folder.createDirectory();
        for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFilesAndDirectories))
            if (entry.getFile() != midiFolder)
                entry.getFile().deleteRecursively();
        midiFolder.deleteRecursively();
        midiFolder.createDirectory();
    }

    void write (const juce::String& fileName, const juce::String& text, const juce::File& in = {})
    {
        const auto dir = in == juce::File() ? folder : in;
        ASSERT_TRUE (dir.getChildFile (fileName).replaceWithText (text));
    }

    // A user preset whose document names itself after its file.
    void writeNamed (const juce::String& name, float dryWet = 0.25f) { write (name + ".qpst", stateDocument (dryWet, 0.5f, name)); }

    float dryWet (QuorilAudioProcessor& p) const { return p.parameterTable->raw (ParameterTable::dryWet); }

    const juce::File folder { presetsFolderPath() };
    const juce::File midiFolder { folder.getChildFile ("MIDI") };
};

std::vector<const juce::PopupMenu::Item*> itemsOf (const juce::PopupMenu& menu)
{
    std::vector<const juce::PopupMenu::Item*> items;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        items.push_back (&it.getItem());
    return items;
}

const juce::String factory[] = { "Drill1", "Drill2", "Orbit1", "Orbit2", "Orbit3",
                                 "Sweep1", "Sweep2", "Travel1", "Travel2", "Travel3" };
} // namespace

TEST_F (PresetBrowser, ListsUserFilesInNaturalOrderUnderIdsAfterTheFactoryPresets)
{
    for (const auto name : { "name10", "name2", "Dark.Pad", "Orbit2" })
        writeNamed (name);
    write ("notes.txt", "<Quoril/>");
    write ("upper.QPST", stateDocument (0.375f, 0.5f, ""));
    write ("slot.qpst", "<Quoril/>", midiFolder);
    folder.getChildFile ("folder.qpst").createDirectory();

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    const auto names = footer.getUserPresetNames();
    EXPECT_EQ (names, juce::StringArray ({ "Dark.Pad", "name2", "name10", "Orbit2", "upper" }));

    struct Case { juce::String current; std::vector<juce::String> highlighted; };
    const Case cases[] = {
        { "INIT", {} }, { "name2", { "name2" } }, { "Sweep1", { "Sweep1" } }, { "name", {} },
        { "Orbit2", { "Orbit2", "Orbit2" } }, // a user file named like a factory preset: both entries
        { "NAME2", {} },                      // the comparison is exact
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.current);
        p.setPresetName (c.current);
        const auto menu = footer.createPresetMenu (names);

        const auto top = itemsOf (menu);
        ASSERT_EQ (top.size(), 2u);
        EXPECT_EQ (top[0]->text, "FACTORY");
        EXPECT_EQ (top[1]->text, "USER");

        std::vector<juce::String> highlighted;
        int expectedId = 1;
        for (size_t list = 0; list < 2; ++list)
        {
            ASSERT_NE (top[list]->subMenu, nullptr);
            EXPECT_TRUE (top[list]->isEnabled);
            const auto entries = itemsOf (*top[list]->subMenu);
            ASSERT_EQ (entries.size(), list == 0 ? 10u : 5u);

            for (size_t i = 0; i < entries.size(); ++i)
            {
                EXPECT_EQ (entries[i]->text, list == 0 ? factory[i] : names[(int) i]);
                EXPECT_EQ (entries[i]->itemID, expectedId++);
                EXPECT_TRUE (entries[i]->isEnabled);
                EXPECT_FALSE (entries[i]->isTicked);
                if (entries[i]->colour == highlightColour)
                    highlighted.push_back (entries[i]->text);
                else
                    EXPECT_EQ (entries[i]->colour, juce::Colour());
            }
        }
        EXPECT_EQ (highlighted, c.highlighted);
    }

    // Menu results: a factory id, a user id, dismissed, past the list (the folder changed meanwhile),
    // a file whose extension is in another letter case.
    for (const auto& [id, name] : { std::pair { 3, "Orbit1" }, { 12, "name2" }, { 0, "name2" }, { 99, "name2" }, { 15, "upper" } })
    {
        footer.handlePresetMenuResult (id, names);
        EXPECT_EQ (p.getPresetName(), name) << id;
    }
    EXPECT_FLOAT_EQ (dryWet (p), 0.375f);
}

TEST_F (PresetBrowser, NextAndPreviousWrapWithinTheirList)
{
    for (const auto name : { "u10", "u2", "u1" })
        writeNamed (name);

    QuorilAudioProcessor p;
    quoril::Footer footer (p);

    struct Case { juce::String from; bool next; juce::String to; };
    const Case cases[] = {
        { "INIT", true, "u1" },  { "INIT", false, "u1" },
        { "Drill1", true, "Drill2" }, { "Drill1", false, "Travel3" },
        { "Travel3", true, "Drill1" }, { "Orbit1", false, "Drill2" },
        { "u1", true, "u2" }, { "u2", true, "u10" }, { "u10", true, "u1" },
        { "u1", false, "u10" }, { "u10", false, "u2" },
        { "", true, "u1" }, { "", false, "u1" },
        { "drill1", true, "u1" }, // not a factory name: the comparison is exact
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE ((c.next ? "next from '" : "previous from '") + c.from + "'");
        p.setPresetName (c.from);
        if (c.next)
            footer.onNextPresetClicked();
        else
            footer.onPreviousPresetClicked();
        EXPECT_EQ (p.getPresetName(), c.to);
        EXPECT_FALSE (p.isSuspended());
    }

    // Without user files the user side starts at the first factory preset.
    for (const auto name : { "u10", "u2", "u1" })
        folder.getChildFile (juce::String (name) + ".qpst").deleteFile();
    for (const bool next : { true, false })
    {
        p.setPresetName ("INIT");
        next ? footer.onNextPresetClicked() : footer.onPreviousPresetClicked();
        EXPECT_EQ (p.getPresetName(), "Drill1");
    }
}

TEST_F (PresetBrowser, NamesComeFromTheDocumentOrElseTheFile)
{
    write ("Dark.Pad.qpst", stateDocument (0.125f, 0.5f, ""));                 // empty name, a further dot
    write ("Dark Pad.qpst", "<Quoril><PARAM id=\"dry_wet\" value=\"0.75\"/></Quoril>"); // no metadata at all
    write ("renamed.qpst", stateDocument (0.625f, 0.5f, "Elsewhere"));         // names another preset
    write ("zfactory.qpst", stateDocument (0.375f, 0.5f, "Orbit2"));           // names a factory preset
    writeNamed ("a");

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    const auto names = footer.getUserPresetNames();
    ASSERT_EQ (names, juce::StringArray ({ "a", "Dark Pad", "Dark.Pad", "renamed", "zfactory" }));

    footer.loadUserPreset (names, 2);
    EXPECT_EQ (p.getPresetName(), "Dark.Pad");
    EXPECT_FLOAT_EQ (dryWet (p), 0.125f) << "loaded from Dark.Pad.qpst";

    footer.loadUserPreset (names, 1);
    EXPECT_EQ (p.getPresetName(), "Dark Pad");
    EXPECT_FLOAT_EQ (dryWet (p), 0.75f);

    // The document's own name stays; it is in neither list, so both steps go to user preset 0.
    for (const bool next : { true, false })
    {
        footer.loadUserPreset (names, 3);
        EXPECT_EQ (p.getPresetName(), "Elsewhere");
        EXPECT_FLOAT_EQ (dryWet (p), 0.625f);
        next ? footer.onNextPresetClicked() : footer.onPreviousPresetClicked();
        EXPECT_EQ (p.getPresetName(), "a");
    }

    // A document named like a factory preset steps through the factory list from there.
    footer.loadUserPreset (names, 4);
    EXPECT_EQ (p.getPresetName(), "Orbit2");
    footer.onNextPresetClicked();
    EXPECT_EQ (p.getPresetName(), "Orbit3");

    EXPECT_EQ (quoril::presetNameFromFile (juce::File ("/x/back\\slash.qpst")), "back\\slash");
    EXPECT_EQ (quoril::userPresetFile ("Dark.Pad"), folder.getChildFile ("Dark.Pad.qpst"));
}

TEST_F (PresetBrowser, BadFilesChangeNothing)
{
    juce::String huge ("<Quoril>");
    huge += juce::String::repeatedString ("<PARAM id=\"dry_wet\" value=\"0.9\"/>", (int) (maxPresetFileBytes / 30) + 1) + "</Quoril>";

    write ("broken.qpst", "<Quoril><PARAM id=");
    write ("text.qpst", "just some words");
    write ("empty.qpst", "");
    write ("huge.qpst", huge);
    write ("foreign.qpst", "<Other><PARAM id=\"dry_wet\" value=\"0.9\"/><Metadata preset_name=\"Other\"/></Other>");
    write ("lower.qpst", "<quoril><PARAM id=\"dry_wet\" value=\"0.9\"/></quoril>");
    write ("instruction.qpst", "<?xml version=\"1.0\"?><Quoril><?\?>8</Quoril>");
    writeNamed ("gone");
    ASSERT_EQ (mkfifo (folder.getChildFile ("pipe.qpst").getFullPathName().toRawUTF8(), 0600), 0);

    QuorilAudioProcessor p;
    quoril::Footer footer (p);
    auto names = footer.getUserPresetNames();
    ASSERT_EQ (names.size(), 9);
    folder.getChildFile ("gone.qpst").deleteFile(); // listed, then removed before the load

    for (const juce::String name : { "Keep", "" })
    {
        p.setPresetName (name);
        const auto before = p.createStateTree().createXml()->toString();

        for (int i = 0; i < names.size(); ++i)
        {
            SCOPED_TRACE (names[i] + " with the name '" + name + "'");
            footer.loadUserPreset (names, i);
            EXPECT_EQ (p.getPresetName(), name);
            EXPECT_FALSE (p.isSuspended());
            EXPECT_EQ (p.createStateTree().createXml()->toString(), before);
        }
    }
}

// Hostile user preset files through the list, next and previous, and the same texts as MIDI slots
// through program changes while the window is open. Names starting with '~' are read from the folder.
TEST_F (PresetBrowser, HostileFilesChangeNothingAndNamesAreTakenLiterally)
{
    const auto inputs = hostile::xmlInputs();
    for (size_t i = 0; i < inputs.size(); ++i)
        for (const auto& dir : { folder, midiFolder })
            ASSERT_TRUE (dir.getChildFile (juce::String::formatted ("hostile%02d.qpst", (int) i))
                            .replaceWithData (inputs[i].bytes.data(), inputs[i].bytes.size()));

    QuorilAudioProcessor p;
    editortest::OpenEditor open (p);
    auto& footer = open.main().footer;
    const auto names = footer.getUserPresetNames();
    ASSERT_EQ (names.size(), (int) inputs.size());

    const auto stateOf = [&p] { return p.createStateTree().createXml()->toString(); };
    p.setPresetName ("Keep");
    const auto before = stateOf();

    for (int i = 0; i < names.size(); ++i)
    {
        SCOPED_TRACE (inputs[(size_t) i].what);
        EXPECT_TRUE (hostile::returnsQuickly ([&] { footer.loadUserPreset (names, i); }));
        EXPECT_EQ (stateOf(), before);

        // The current name is no file's: next and previous load the first and the last one.
        EXPECT_TRUE (hostile::returnsQuickly ([&] { footer.onNextPresetClicked(); footer.onPreviousPresetClicked(); }));
        EXPECT_EQ (stateOf(), before);

        p.loadMidiPreset (p.midiPresetFiles.indexOf (names[i] + ".qpst"));
        ASSERT_TRUE (p.midiPresetLoadPending.load());
        EXPECT_TRUE (hostile::returnsQuickly ([&] { footer.loadPendingPresetFile(); }));
        EXPECT_EQ (stateOf(), before);
    }

    // A preset named "~user" is the folder's file, listed and loaded under that name, not a file
    // of that name in the working folder (here the test's home folder).
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const auto workingFolder = juce::File::getCurrentWorkingDirectory();
    ASSERT_TRUE (home.setAsCurrentWorkingDirectory());
    ASSERT_TRUE (juce::File (folder.getFullPathName() + "/~user.qpst").replaceWithText (stateDocument (0.625f, 0.5f, "")));
    ASSERT_TRUE (juce::File (home.getFullPathName() + "/~user.qpst").replaceWithText (stateDocument (0.125f, 0.5f, "")));
    const auto withTilde = footer.getUserPresetNames();
    ASSERT_TRUE (withTilde.contains ("~user"));
    footer.loadUserPreset (withTilde, withTilde.indexOf ("~user"));
    workingFolder.setAsCurrentWorkingDirectory();
    EXPECT_EQ (p.getPresetName(), "~user");
    EXPECT_FLOAT_EQ (dryWet (p), 0.625f);
}

TEST_F (PresetBrowser, PendingMidiSlotLoadsAndANewerProgramIsNotLost)
{
    write ("a.qpst", stateDocument (0.125f, 0.5f, "SlotA"), midiFolder);
    write ("b.qpst", "<Quoril><PARAM id=\"dry_wet\" value=\"0.875\"/></Quoril>", midiFolder); // unnamed
    write ("c.qpst", "not xml", midiFolder);

    QuorilAudioProcessor p;
    ASSERT_EQ (p.midiPresetFiles, juce::StringArray ({ "a.qpst", "b.qpst", "c.qpst" }));
    editortest::OpenEditor open (p);
    auto& footer = open.main().footer;

    p.loadMidiPreset (0);
    ASSERT_TRUE (p.midiPresetLoadPending.load());
    EXPECT_EQ (p.getPresetName(), "INIT") << "nothing is loaded on the audio side while the editor is open";
    footer.loadPendingPresetFile();
    EXPECT_FALSE (p.midiPresetLoadPending.load());
    EXPECT_EQ (p.getPresetName(), "SlotA");
    EXPECT_FLOAT_EQ (dryWet (p), 0.125f);

    // A failed slot (not XML, or past the list) clears the flag and changes nothing.
    for (const int program : { 2, 7 })
    {
        p.loadMidiPreset (program);
        footer.loadPendingPresetFile();
        EXPECT_FALSE (p.midiPresetLoadPending.load());
        EXPECT_EQ (p.getPresetName(), "SlotA");
    }

    // Program 0 arrives on the audio thread while slot 1 is being applied.
    struct ArrivesDuringLoad : juce::ValueTree::Listener
    {
        explicit ArrivesDuringLoad (QuorilAudioProcessor& proc) : processor (proc) {}
        void valueTreeRedirected (juce::ValueTree&) override
        {
            if (! fired)
                processor.loadMidiPreset (0);
            fired = true;
        }
        QuorilAudioProcessor& processor;
        bool fired = false;
    } arrival (p);
    p.parameters.state.addListener (&arrival);

    p.loadMidiPreset (1);
    footer.loadPendingPresetFile();
    p.parameters.state.removeListener (&arrival);
    ASSERT_TRUE (arrival.fired);
    EXPECT_FLOAT_EQ (dryWet (p), 0.875f);
    EXPECT_EQ (p.getPresetName(), "b") << "an unnamed slot is named after its file";
    EXPECT_TRUE (p.midiPresetLoadPending.load()) << "the newer program is still pending";

    // The editor's next tick loads it.
    open.main().timerCallback();
    EXPECT_FALSE (p.midiPresetLoadPending.load());
    EXPECT_EQ (p.getPresetName(), "SlotA");
    EXPECT_EQ (footer.presetButton.getButtonText(), "b") << "the button follows at the tick after the load";
}
