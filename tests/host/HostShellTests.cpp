#include "HostFixture.h"

#include <pluginterfaces/base/ipluginbase.h>

using namespace quoril::hosttest;

TEST (HostFactory, DescribesTheBundleAsADawSeesIt)
{
    ASSERT_TRUE (bundle().isDirectory()) << bundle().getFullPathName();
    auto found = scanBundle();
    ASSERT_EQ (found.size(), 1);

    const auto& d = *found[0];
    EXPECT_EQ (d.name, "Quoril");
    EXPECT_EQ (d.descriptiveName, "Quoril");
    EXPECT_EQ (d.manufacturerName, "Orvane_Studio");
    EXPECT_EQ (d.version, "1.4.0");
    EXPECT_EQ (d.category, "Fx");
    EXPECT_EQ (d.pluginFormatName, "VST3");
    EXPECT_FALSE (d.isInstrument);
    EXPECT_EQ (d.numInputChannels, 2);
    EXPECT_EQ (d.numOutputChannels, 2);
}

// The factory's own answers: vendor, classes, ids and SDK version, read through the VST3 interfaces.
TEST (HostFactory, ClassesAndIds)
{
    using namespace Steinberg;
    auto module = std::make_unique<juce::DynamicLibrary>();
    const auto so = bundle().getChildFile ("Contents/x86_64-linux/Quoril.so");
    ASSERT_TRUE (module->open (so.getFullPathName())) << so.getFullPathName();

    using EntryProc = bool (*) (void*);
    using FactoryProc = IPluginFactory* (*)();
    auto entry = (EntryProc) module->getFunction ("ModuleEntry");
    auto getFactory = (FactoryProc) module->getFunction ("GetPluginFactory");
    ASSERT_NE (entry, nullptr);
    ASSERT_NE (getFactory, nullptr);
    ASSERT_TRUE (entry (module->getNativeHandle()));

    auto* factory = getFactory();
    ASSERT_NE (factory, nullptr);

    PFactoryInfo info;
    ASSERT_EQ (factory->getFactoryInfo (&info), kResultOk);
    EXPECT_STREQ (info.vendor, "Orvane_Studio");
    EXPECT_STREQ (info.url, "");
    EXPECT_STREQ (info.email, "");
    EXPECT_TRUE ((info.flags & PFactoryInfo::kUnicode) != 0);

    ASSERT_EQ (factory->countClasses(), 2);

    IPluginFactory2* factory2 = nullptr;
    ASSERT_EQ (factory->queryInterface (IPluginFactory2::iid, (void**) &factory2), kResultOk);

    auto fuid = [] (uint32 a, uint32 b)
    {
        const uint32 manufacturer = ('O' << 24) | ('r' << 16) | ('v' << 8) | 'n';
        const uint32 plugin = ('Q' << 24) | ('r' << 16) | ('l' << 8) | 'x';
        return FUID (a, b, manufacturer, plugin);
    };

    const FUID expectedIds[] = { fuid (0xABCDEF01, 0x9182FAEB), fuid (0xABCDEF01, 0x1234ABCD) };
    const char* expectedCategories[] = { "Audio Module Class", "Component Controller Class" };

    for (int32 i = 0; i < 2; ++i)
    {
        PClassInfo2 ci;
        ASSERT_EQ (factory2->getClassInfo2 (i, &ci), kResultOk);
        EXPECT_STREQ (ci.name, "Quoril");
        EXPECT_STREQ (ci.category, expectedCategories[i]);
        EXPECT_STREQ (ci.subCategories, "Fx");
        EXPECT_STREQ (ci.version, "1.4.0");
        EXPECT_STREQ (ci.sdkVersion, "VST 3.7.2");
        EXPECT_STREQ (ci.vendor, "Orvane_Studio");
        EXPECT_EQ (ci.cardinality, PClassInfo::kManyInstances);
        EXPECT_TRUE (FUID::fromTUID (ci.cid) == expectedIds[i]) << i;
    }

    factory2->release();
    factory->release();
    using ExitProc = bool (*)();
    auto exitProc = (ExitProc) module->getFunction ("ModuleExit");
    ASSERT_NE (exitProc, nullptr);
    EXPECT_TRUE (exitProc());
}

TEST (HostParameters, TheEighteenThenBypassThenMidiControllers)
{
    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);

    struct Expected { const char* name; float defaultValue; const char* text; };
    const Expected expected[] = {
        { "Input Gain", 0.0f, "+0.00 dB" },     { "X Position", 0.5f, "0.500" },
        { "Y Position", 0.5f, "0.500" },        { "Trajectory", 0.0f, "0" },
        { "X Trajectory Rate", 0.1f, "0.100" }, { "X Trajectory Range", 1.0f, "1.000" },
        { "Y Trajectory Rate", 0.1f, "0.100" }, { "Y Trajectory Range", 1.0f, "1.000" },
        { "Out Gain", 0.0f, "+0.00 dB" },       { "Dry/Wet", 0.5f, "0.500" },
        { "Pole A Diff", 0.5f, "0.500" },       { "Pole B Diff", 0.5f, "0.500" },
        { "Pole C Diff", 0.5f, "0.500" },       { "Pole D Diff", 0.5f, "0.500" },
        { "Pole A Stereo Link", 0.0f, "0" }, { "Pole B Stereo Link", 0.0f, "0" },
        { "Pole C Stereo Link", 0.0f, "0" }, { "Pole D Stereo Link", 0.0f, "0" },
    };

    const auto& params = instance->getParameters();
    ASSERT_EQ (params.size(), 18 + 1 + 16 * 130);

    for (int i = 0; i < 18; ++i)
    {
        SCOPED_TRACE (expected[i].name);
        auto* p = params[i];
        EXPECT_EQ (p->getName (100), juce::String (expected[i].name));
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_EQ (p->getCurrentValueAsText(), juce::String (expected[i].text));
    }

    // Normalised defaults of a few parameters with non-linear or offset ranges.
    EXPECT_NEAR (params[0]->getDefaultValue(), std::pow (70.0f / 76.0f, 1.5f), 1e-4);
    EXPECT_NEAR (params[4]->getDefaultValue(), std::sqrt ((0.1f - 0.001f) / 0.999f), 1e-4);
    EXPECT_NEAR (params[5]->getDefaultValue(), 1.0f, 1e-6);
    EXPECT_NEAR (params[9]->getDefaultValue(), 0.5f, 1e-6);

    // Gain texts as the host reads them from the plug-in.
    EXPECT_EQ (params[0]->getText (0.0f, 100), "-INF dB");
    EXPECT_EQ (params[8]->getText (1.0f, 100), "+12.00 dB");
    EXPECT_EQ (params[0]->getText (1.0f, 100), "+6.00 dB");
    EXPECT_EQ (params[0]->getLabel(), "dB");

    EXPECT_EQ (params[18]->getName (100), "Bypass");
    EXPECT_TRUE (params[18]->isAutomatable());

    for (int i = 19; i < params.size(); ++i)
    {
        EXPECT_TRUE (params[i]->getName (100).startsWith ("MIDI CC ")) << i;
        EXPECT_FALSE (params[i]->isAutomatable()) << i;
    }

    EXPECT_EQ (params[19]->getName (100), "MIDI CC 0|0");
}

TEST (HostBuses, OnlyStereoInWithStereoOutIsAccepted)
{
    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);

    EXPECT_EQ (instance->getBusCount (true), 1);
    EXPECT_EQ (instance->getBusCount (false), 1);
    EXPECT_EQ (instance->getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (instance->getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (instance->getMainBusNumInputChannels(), 2);
    EXPECT_EQ (instance->getMainBusNumOutputChannels(), 2);
    EXPECT_TRUE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());

    using Set = juce::AudioChannelSet;
    auto layout = [] (Set in, Set out)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (in);
        l.outputBuses.add (out);
        return l;
    };

    EXPECT_FALSE (instance->setBusesLayout (layout (Set::mono(), Set::mono())));
    EXPECT_FALSE (instance->setBusesLayout (layout (Set::stereo(), Set::mono())));
    EXPECT_TRUE (instance->setBusesLayout (layout (Set::stereo(), Set::stereo())));
    EXPECT_EQ (instance->getMainBusNumOutputChannels(), 2);
}
