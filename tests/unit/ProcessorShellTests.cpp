#include <gtest/gtest.h>

#include "processor/QuorilAudioProcessor.h"
#include "support/HostileInputs.h"
#include "support/MessageLoop.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

TEST (ParameterTable, TheEighteenParametersInOrderWithTheirRangesAndDefaults)
{
    struct Row { const char* id; const char* name; float start, end, interval, skew, defaultValue; };
    const Row rows[] = {
        { "in_gain", "Input Gain", -70.0f, 6.0f, 0.001f, 1.5f, 0.0f },
        { "x_pos", "X Position", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "y_pos", "Y Position", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "trajectory", "Trajectory", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
        { "x_traj_amount", "X Trajectory Rate", 0.001f, 1.0f, 0.001f, 0.5f, 0.1f },
        { "x_traj_range", "X Trajectory Range", 0.1f, 1.0f, 0.001f, 1.0f, 1.0f },
        { "y_traj_amount", "Y Trajectory Rate", 0.001f, 1.0f, 0.001f, 0.5f, 0.1f },
        { "y_traj_range", "Y Trajectory Range", 0.1f, 1.0f, 0.001f, 1.0f, 1.0f },
        { "out_gain", "Out Gain", -70.0f, 12.0f, 0.001f, 1.5f, 0.0f },
        { "dry_wet", "Dry/Wet", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "pole_a_diff", "Pole A Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "pole_b_diff", "Pole B Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "pole_c_diff", "Pole C Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "pole_d_diff", "Pole D Diff", 0.0f, 1.0f, 0.001f, 1.0f, 0.5f },
        { "stereo_link_a", "Pole A Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
        { "stereo_link_b", "Pole B Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
        { "stereo_link_c", "Pole C Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
        { "stereo_link_d", "Pole D Stereo Link", 0.0f, 1.0f, 1.0f, 1.0f, 0.0f },
    };

    QuorilAudioProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 18);
    for (int i = 0; i < 18; ++i)
    {
        const auto& row = rows[i];
        SCOPED_TRACE (row.id);
        auto* param = dynamic_cast<juce::AudioParameterFloat*> (params[i]);
        ASSERT_NE (param, nullptr);
        EXPECT_EQ (param->getParameterID(), row.id);
        EXPECT_EQ (param->getName (100), row.name);
        EXPECT_EQ (p.parameterTable->ids[i], row.id);
        EXPECT_EQ (param->range.start, row.start);
        EXPECT_EQ (param->range.end, row.end);
        EXPECT_EQ (param->range.interval, row.interval);
        EXPECT_EQ (param->range.skew, row.skew);
        EXPECT_FLOAT_EQ (param->get(), row.defaultValue);
        EXPECT_EQ (p.parameterTable->rawValues[i], p.parameters.getRawParameterValue (row.id)) << "the table reads the live value";
        EXPECT_EQ (param->getLabel(), (i == 0 || i == 8) ? "dB" : "");
    }
}

TEST (ParameterTable, GainTexts)
{
    const std::pair<float, const char*> rows[] = { { -70.0f, "-INF dB" }, { -69.999f, "-70.00 dB" }, { -12.5f, "-12.50 dB" },
                                                   { 0.0f, "+0.00 dB" },  { 6.0f, "+6.00 dB" },      { 12.0f, "+12.00 dB" } };
    for (auto [value, text] : rows)
        EXPECT_EQ (gainToText (value, 0), text);

    // Through the parameter, as a host asks: a short maximum length still gets the whole text.
    QuorilAudioProcessor p;
    auto* inGain = p.parameters.getParameter ("in_gain");
    EXPECT_EQ (inGain->getText (inGain->convertTo0to1 (6.0f), 3), "+6.00 dB");
}

TEST (ProcessorShell, AcceptsOnlyStereoInWithStereoOut)
{
    QuorilAudioProcessor p;
    using Set = juce::AudioChannelSet;
    const std::tuple<Set, Set, bool> rows[] = {
        { Set::stereo(), Set::stereo(), true },     { Set::mono(), Set::mono(), false },
        { Set::stereo(), Set::mono(), false },      { Set::mono(), Set::stereo(), false },
        { Set::disabled(), Set::stereo(), false },  { Set::stereo(), Set::disabled(), false },
        { Set::create5point1(), Set::create5point1(), false },
    };
    for (const auto& [in, out, accepted] : rows)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.outputBuses.add (out);
        EXPECT_EQ (p.checkBusesLayoutSupported (layout), accepted) << in.getDescription() << " -> " << out.getDescription();
    }
}

// Hosts list the programs by name; validators refuse a program without one.
TEST (ProcessorShell, OneProgramWithAName)
{
    QuorilAudioProcessor p;
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "Default");
    p.setPresetName ("Something else");
    EXPECT_EQ (p.getProgramName (0), "Default");
}

// A change noted on the message thread reaches the host before the call returns; changes noted on
// other threads (the audio thread) reach it as one notice at the timer's next tick.
TEST (ProcessorShell, MessageThreadChangesAreSentAtOnceOthersAtTheNextTick)
{
    struct : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override { notices += details.nonParameterStateChanged ? 1 : 0; }
        std::atomic<int> notices { 0 };
    } host;
    QuorilAudioProcessor p;
    p.addListener (&host);
    EXPECT_FALSE (p.sendStateChangeNotice()) << "a new instance has nothing to save";

    p.noteStateChange();
    EXPECT_EQ (host.notices.load(), 1);
    EXPECT_FALSE (p.sendStateChangeNotice());

    std::thread ([&p] { p.noteStateChange(); p.noteStateChange(); }).join();
    std::thread ([&p] { p.noteStateChange(); }).join();
    EXPECT_EQ (host.notices.load(), 1) << "left to the timer";
    EXPECT_TRUE (p.sendStateChangeNotice());
    EXPECT_FALSE (p.sendStateChangeNotice());
    EXPECT_EQ (host.notices.load(), 2);

    std::thread ([&p] { p.noteStateChange(); }).join();
    EXPECT_TRUE (testsupport::runMessageLoopUntil ([&host] { return host.notices.load() == 3; }, 1000))
        << "the processor's timer sends it";
    p.removeListener (&host);
}

TEST (SettingsFile, IsWrittenBesideThePresetFolderWhenTheProcessorGoes)
{
    const auto file = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                          .getChildFile ("Orvane_Studio/Quoril.prefs");
    file.deleteFile();
    {
        QuorilAudioProcessor p;
        ASSERT_EQ (p.getSettingsFile()->getFile(), file);
        EXPECT_EQ (p.getSettingsFile()->getIntValue (p.panelWidthKey, 800), 800);
        p.getSettingsFile()->setValue (p.panelWidthKey, 960);
    }
    // Written as the framework's own settings file writes it.
    const auto frameworks = file.getSiblingFile ("framework.prefs");
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        juce::PropertiesFile written (frameworks, options);
        written.setValue ("panel_width", 960);
        ASSERT_TRUE (written.save());
    }
    EXPECT_EQ (file.loadFileAsString(), frameworks.loadFileAsString());
    frameworks.deleteFile();

    QuorilAudioProcessor again;
    EXPECT_EQ (again.getSettingsFile()->getIntValue ("panel_width", 800), 960);
    EXPECT_EQ (again.getSettingsFile()->getIntValue ("PANEL_WIDTH", 800), 800);
}

// A settings file that the framework would read unsafely (deep nesting, an endless loop, an
// unbounded read, a pipe, a huge binary file) is moved aside before it is read: the processor
// is made at once, starts with defaults and writes a fresh file; the damaged one stays beside it,
// under the next free name when an older damaged file is there, which keeps its bytes.
TEST (SettingsFile, DamagedFileIsMovedAsideAndDefaultsAreUsed)
{
    const auto file = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                          .getChildFile ("Orvane_Studio/Quoril.prefs");
    const auto damaged = file.getSiblingFile ("Quoril.prefs.damaged");
    const auto next = file.getSiblingFile ("Quoril.prefs.damaged-2");
    const std::string header ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n");
    const std::string width ("<VALUE name=\"panel_width\" val=\"640\"/>");

    juce::Random random (5);
    std::string binary (300 * 1024, '\0');
    for (auto& c : binary)
        c = (char) random.nextInt (256);

    const hostile::Input inputs[] = {
        { "deep nesting", header + "<PROPERTIES>" + hostile::repeated ("<a>", 300000) },
        { "instruction and text behind the root", header + "<PROPERTIES>" + width + "</PROPERTIES><?x?>text" },
        { "document type naming a device", header + "<!DOCTYPE PROPERTIES SYSTEM \"/dev/zero\"><PROPERTIES>&x;</PROPERTIES>" },
        { "broken UTF-8 in the declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\xff\xff\"?><PROPERTIES>" + width + "</PROPERTIES>" },
        { "another root", header + "<OTHER>" + width + "</OTHER>" },
        { "binary", binary },
        { "empty", "" },
        { "named pipe", "" },
    };
    for (const auto& input : inputs)
    {
        SCOPED_TRACE (input.what);
        ASSERT_TRUE (file.getParentDirectory().createDirectory());
        ASSERT_TRUE (damaged.replaceWithText ("an older damaged file"));
        file.deleteFile();
        if (std::string (input.what) == "named pipe")
            ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);
        else if (input.bytes.empty())
            ASSERT_TRUE (file.create());
        else
            ASSERT_TRUE (file.replaceWithData (input.bytes.data(), input.bytes.size()));

        std::unique_ptr<QuorilAudioProcessor> p;
        EXPECT_TRUE (hostile::returnsQuickly ([&] { p = std::make_unique<QuorilAudioProcessor>(); }));
        ASSERT_NE (p->getSettingsFile(), nullptr);
        EXPECT_EQ (p->getSettingsFile()->getIntValue (p->panelWidthKey, 800), 800);
        EXPECT_FALSE (file.exists());
        EXPECT_EQ (damaged.loadFileAsString(), "an older damaged file");

        if (std::string (input.what) == "named pipe")
        {
            struct stat info;
            EXPECT_TRUE (::stat (next.getFullPathName().toRawUTF8(), &info) == 0 && S_ISFIFO (info.st_mode));
        }
        else
        {
            juce::MemoryBlock kept;
            ASSERT_TRUE (next.existsAsFile());
            next.loadFileAsData (kept);
            EXPECT_TRUE (kept.getSize() == input.bytes.size()
                         && (kept.getSize() == 0 || std::memcmp (kept.getData(), input.bytes.data(), kept.getSize()) == 0));
        }
        next.deleteFile();

        p->getSettingsFile()->setValue (p->panelWidthKey, 960);
        ASSERT_TRUE (p->getSettingsFile()->saveIfNeeded());
        EXPECT_EQ (QuorilAudioProcessor().getSettingsFile()->getIntValue (p->panelWidthKey, 800), 960);
    }

    // The file as the framework writes it stays where it is and is read.
    damaged.deleteFile();
    ASSERT_TRUE (file.replaceWithText (header + "<PROPERTIES>\n  " + width + "\n</PROPERTIES>\n"));
    EXPECT_EQ (QuorilAudioProcessor().getSettingsFile()->getIntValue ("panel_width", 800), 640);
    EXPECT_FALSE (damaged.exists());

    // What a rename cannot replace holds ".damaged": the next free name takes the damaged file; a
    // damaged file that no name can take is not read at all (no settings file) and stays.
    struct Held { const char* what; int folders; const char* keptIn; };
    const Held rows[] = { { "one folder", 1, "Quoril.prefs.damaged-2" }, { "two folders", 2, "Quoril.prefs.damaged-3" },
                          { "every name", 16, nullptr } };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.what);
        for (int n = 1; n <= row.folders; ++n)
        {
            const auto held = file.getSiblingFile ("Quoril.prefs.damaged" + (n > 1 ? "-" + juce::String (n) : juce::String()));
            ASSERT_TRUE (held.createDirectory() && held.getChildFile ("in the way").replaceWithText ("x"));
        }
        ASSERT_TRUE (file.replaceWithText ("damaged"));
        const auto settings = openSettingsFile (file);
        EXPECT_EQ (settings != nullptr, row.keptIn != nullptr);
        EXPECT_EQ ((row.keptIn == nullptr ? file : file.getSiblingFile (row.keptIn)).loadFileAsString(), "damaged");
        for (int n = 2; n <= 16; ++n)
            file.getSiblingFile ("Quoril.prefs.damaged-" + juce::String (n)).deleteRecursively();
    }
    damaged.deleteRecursively();
}

// Reaches what only the tests set.
struct SettingsFileTestAccess
{
    static void beforeSettingAside (std::function<void()> hook) { SettingsFile::beforeSettingAside = std::move (hook); }
};

namespace
{
juce::File settingsFileLocation()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Orvane_Studio/Quoril.prefs");
}
} // namespace

// Hosts that run each instance in a process of its own open one damaged file at once: whichever
// moves it aside, its bytes are kept in a ".damaged" file beside it, an older one is never written
// over, and both instances get settings.
TEST (SettingsFile, TwoProcessesOpeningOneDamagedFileLoseNothing)
{
    const auto file = settingsFileLocation();
    const auto folder = file.getParentDirectory();
    ASSERT_TRUE (folder.createDirectory());
    int lost = 0, withoutSettings = 0;

    for (int attempt = 0; attempt < 300; ++attempt)
    {
        for (const auto& kept : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "Quoril.prefs.damaged*"))
            kept.deleteRecursively();
        ASSERT_TRUE (file.getSiblingFile ("Quoril.prefs.damaged").replaceWithText ("an older damaged file"));
        const auto bytes = "damaged " + juce::String (attempt);
        ASSERT_TRUE (file.replaceWithText (bytes));

        int go[2];
        ASSERT_EQ (::pipe (go), 0);
        pid_t children[2];
        for (auto& child : children)
        {
            child = ::fork();
            ASSERT_GE (child, 0);
            if (child == 0)
            {
                char c;
                ::close (go[1]);
                const auto woken = ::read (go[0], &c, 1);
                _exit (woken == 0 && openSettingsFile (file) != nullptr ? 0 : 1);
            }
        }
        ::close (go[0]);
        ::close (go[1]); // both wake at once

        for (auto child : children)
        {
            int status = 0;
            ASSERT_EQ (::waitpid (child, &status, 0), child);
            withoutSettings += WIFEXITED (status) && WEXITSTATUS (status) == 0 ? 0 : 1;
        }

        bool kept = false;
        for (const auto& damaged : folder.findChildFiles (juce::File::findFiles, false, "Quoril.prefs.damaged*"))
            kept = kept || damaged.loadFileAsString() == bytes;
        lost += kept && file.getSiblingFile ("Quoril.prefs.damaged").loadFileAsString() == "an older damaged file" ? 0 : 1;
    }
    EXPECT_EQ (lost, 0) << "tries in 300 that lost damaged bytes";
    EXPECT_EQ (withoutSettings, 0) << "instances in 600 without settings";

    // One instance held between its read of a damaged file and its move aside, while another moves
    // that file aside and saves a width: the saved file stays and is read, the damaged bytes kept.
    for (const auto& kept : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "Quoril.prefs.damaged*"))
        kept.deleteRecursively();
    ASSERT_TRUE (file.replaceWithText ("damaged, held"));
    bool acted = false;
    SettingsFileTestAccess::beforeSettingAside ([&] {
        if (std::exchange (acted, true))
            return;
        const auto other = openSettingsFile (file);
        ASSERT_NE (other, nullptr);
        other->setValue (panelWidthSetting, 777);
        EXPECT_TRUE (other->save());
    });
    const auto held = openSettingsFile (file);
    SettingsFileTestAccess::beforeSettingAside (nullptr);
    ASSERT_TRUE (acted && held != nullptr);
    EXPECT_EQ (held->getIntValue (panelWidthSetting), 777);
    EXPECT_EQ (openSettingsFile (file)->getIntValue (panelWidthSetting), 777);
    EXPECT_EQ (file.getSiblingFile ("Quoril.prefs.damaged").loadFileAsString(), "damaged, held");
}

// Well-formed settings files holding what the framework's own settings reader and writer crash,
// hang or over-read on: the width is read, a new width is saved at once and read back by the
// next instance, and nothing else of the file is kept. A width the window cannot open at is
// ignored, without moving the file aside.
TEST (SettingsFile, OnlyAUsableWidthIsTakenFromAFile)
{
    const auto file = settingsFileLocation();
    const auto damaged = file.getSiblingFile ("Quoril.prefs.damaged");
    ASSERT_TRUE (file.getParentDirectory().createDirectory());
    damaged.deleteRecursively();

    // Documents a hand may have edited, which neither Quoril nor the framework writes.
    const std::string width ("<VALUE name=\"panel_width\" val=\"640\"/>");
    const auto utf16 = [&] (bool bigEndian)
    {
        std::string text (bigEndian ? "\xfe\xff" : "\xff\xfe");
        for (char c : "<?xml version=\"1.0\" encoding=\"UTF-16\"?><PROPERTIES>" + width + "</PROPERTIES>")
            text += bigEndian ? std::string ({ '\0', c }) : std::string ({ c, '\0' });
        return text;
    };
    auto inputs = hostile::settingsFileInputs();
    inputs.push_back ({ "comments", "<?xml version=\"1.0\"?>\n<!-- by hand -->\n<PROPERTIES><!-- <VALUE name=\"panel_width\" val=\"300\"/> -->"
                                    + width + "</PROPERTIES>\n<!-- end -->\n" });
    inputs.push_back ({ "an instruction before the root", "<?xml-stylesheet href=\"a.css\"?><PROPERTIES>" + width + "</PROPERTIES>" });
    inputs.push_back ({ "UTF-16, little-endian", utf16 (false) });
    inputs.push_back ({ "UTF-16, big-endian", utf16 (true) });

    for (const auto& input : inputs)
    {
        SCOPED_TRACE (input.what);
        ASSERT_LE ((juce::int64) input.bytes.size(), maxSettingsFileBytes);
        ASSERT_TRUE (file.replaceWithData (input.bytes.data(), input.bytes.size()));

        std::unique_ptr<QuorilAudioProcessor> p;
        EXPECT_TRUE (hostile::returnsQuickly ([&] { p = std::make_unique<QuorilAudioProcessor>(); }));
        ASSERT_NE (p->getSettingsFile(), nullptr);
        EXPECT_EQ (p->getSettingsFile()->getIntValue (p->panelWidthKey, 800), 640);
        EXPECT_FALSE (damaged.exists());

        p->getSettingsFile()->setValue (p->panelWidthKey, 960);
        EXPECT_TRUE (hostile::returnsQuickly ([&] { EXPECT_TRUE (p->getSettingsFile()->saveIfNeeded()); }));
        p.reset();

        QuorilAudioProcessor again;
        EXPECT_EQ (again.getSettingsFile()->getIntValue (again.panelWidthKey, 800), 960);
        EXPECT_EQ (again.getSettingsFile()->getAllProperties().size(), 1);
    }

    const std::string unusable[] = {
        "val=\"wide\"", "val=\"12abc\"", "val=\"199\"", "val=\"4097\"", "val=\"-300\"", "val=\"\"", "val=\"99999999999999999999\"",
        "val=\"640.5\"", "val=\"6&#x34;0 wide\"", "",
    };
    for (const auto& attribute : unusable)
    {
        SCOPED_TRACE (attribute);
        const auto text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES><VALUE name=\"panel_width\" " + attribute + "/></PROPERTIES>";
        ASSERT_TRUE (file.replaceWithData (text.data(), text.size()));

        QuorilAudioProcessor p;
        ASSERT_NE (p.getSettingsFile(), nullptr);
        EXPECT_FALSE (p.getSettingsFile()->containsKey (p.panelWidthKey));
        EXPECT_FALSE (damaged.exists());
        EXPECT_EQ (file.loadFileAsString().toStdString(), text);
    }
}

// A settings file that is there but cannot be read now (out of file handles in a large session,
// no permission) is neither moved aside nor written over: the instance runs without it.
TEST (SettingsFile, AFileThatCannotBeReadIsLeftAlone)
{
    const auto file = settingsFileLocation();
    const auto damaged = file.getSiblingFile ("Quoril.prefs.damaged");
    const juce::String text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><PROPERTIES><VALUE name=\"panel_width\" val=\"640\"/></PROPERTIES>");
    ASSERT_TRUE (file.getParentDirectory().createDirectory());

    const auto makeAndUse = [&] (const std::function<void()>& before, const std::function<void()>& after)
    {
        ASSERT_TRUE (file.replaceWithText (text));
        damaged.deleteRecursively();
        std::unique_ptr<QuorilAudioProcessor> p;
        before();
        p = std::make_unique<QuorilAudioProcessor>();
        after();

        if (auto* settings = p->getSettingsFile())
        {
            EXPECT_EQ (settings->getIntValue (p->panelWidthKey, 800), 800);
            settings->setValue (p->panelWidthKey, 960);
            settings->saveIfNeeded();
        }
        p.reset();
        EXPECT_FALSE (damaged.exists());
        EXPECT_EQ (file.loadFileAsString(), text);
        EXPECT_EQ (QuorilAudioProcessor().getSettingsFile()->getIntValue ("panel_width", 800), 640);
    };

    {
        SCOPED_TRACE ("out of file handles");
        // Made once before: the undefined behaviour checks of the sanitizer build need a file
        // handle the first time they meet a class.
        { const QuorilAudioProcessor first; }
        rlimit limits {};
        ASSERT_EQ (::getrlimit (RLIMIT_NOFILE, &limits), 0);
        const int lowestFree = ::open ("/dev/null", O_RDONLY);
        ASSERT_GE (lowestFree, 0);
        ::close (lowestFree);
        makeAndUse ([&] {
                        auto none = limits;
                        none.rlim_cur = (rlim_t) lowestFree;
                        ASSERT_EQ (::setrlimit (RLIMIT_NOFILE, &none), 0);
                    },
                    [&] { ASSERT_EQ (::setrlimit (RLIMIT_NOFILE, &limits), 0); });
    }

    if (::geteuid() != 0) // permissions do not hold back the superuser
    {
        SCOPED_TRACE ("no permission");
        makeAndUse ([&] { ::chmod (file.getFullPathName().toRawUTF8(), 0); },
                    [&] { ::chmod (file.getFullPathName().toRawUTF8(), 0644); });
    }
}

// A symbolic link that leads to no file counts as no file: the instance starts with the default
// width, and the next save puts a real file in the link's place.
TEST (SettingsFile, ALinkToNothingIsReplacedAtTheNextSave)
{
    const auto file = settingsFileLocation();
    ASSERT_TRUE (file.getParentDirectory().createDirectory());

    for (const char* target : { "nowhere/Quoril.prefs", "Quoril.prefs" /* itself */ })
    {
        SCOPED_TRACE (target);
        file.deleteFile();
        ASSERT_EQ (::symlink (target, file.getFullPathName().toRawUTF8()), 0);

        std::unique_ptr<QuorilAudioProcessor> p;
        EXPECT_TRUE (hostile::returnsQuickly ([&] { p = std::make_unique<QuorilAudioProcessor>(); }));
        ASSERT_NE (p->getSettingsFile(), nullptr);
        EXPECT_EQ (p->getSettingsFile()->getIntValue (p->panelWidthKey, 800), 800);
        EXPECT_TRUE (file.isSymbolicLink());

        p->getSettingsFile()->setValue (p->panelWidthKey, 960);
        EXPECT_TRUE (p->getSettingsFile()->saveIfNeeded());
        EXPECT_FALSE (file.isSymbolicLink());
        EXPECT_EQ (QuorilAudioProcessor().getSettingsFile()->getIntValue ("panel_width", 800), 960);
    }
    EXPECT_FALSE (file.getSiblingFile ("Quoril.prefs.damaged").exists());
}

// A save keeps the permission bits of the file it replaces; a new file gets the usual mode for the
// umask.
TEST (SettingsFile, ASaveKeepsTheFilesPermissions)
{
    const auto file = settingsFileLocation();
    ASSERT_TRUE (file.getParentDirectory().createDirectory());
    struct Row { int before; mode_t mask; int after; };
    const Row rows[] = { { 0600, 022, 0600 }, { 0640, 022, 0640 }, { 0604, 077, 0604 }, { -1, 022, 0644 }, { -1, 077, 0600 } };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.before);
        file.deleteFile();
        if (row.before >= 0)
        {
            ASSERT_TRUE (file.replaceWithText ("<PROPERTIES/>"));
            ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), (mode_t) row.before), 0);
        }
        const auto previousMask = ::umask (row.mask);
        auto settings = openSettingsFile (file);
        ASSERT_NE (settings, nullptr);
        settings->setValue (panelWidthSetting, 960);
        EXPECT_TRUE (settings->save());
        ::umask (previousMask);

        struct stat info {};
        ASSERT_EQ (::stat (file.getFullPathName().toRawUTF8(), &info), 0);
        EXPECT_EQ ((int) (info.st_mode & 0777), row.after);
    }
}
