#include "HostFixture.h"

#include <pluginterfaces/base/ipluginbase.h>

using namespace quoril::hosttest;

TEST (HostFactory, DescribesTheBundleAsADawSeesIt)
{
    auto found = scanBundle();
    ASSERT_EQ (found.size(), 1) << bundle().getFullPathName();
    const auto& d = *found[0];
    EXPECT_TRUE (d.name == "Quoril" && d.descriptiveName == "Quoril" && d.manufacturerName == "Orvane_Studio");
    EXPECT_TRUE (d.version == "1.4.0" && d.category == "Fx" && d.pluginFormatName == "VST3" && ! d.isInstrument);
    EXPECT_TRUE (d.numInputChannels == 2 && d.numOutputChannels == 2);
}

// The factory's own answers (vendor, classes, ids, SDK version), read through the VST3 interfaces.
TEST (HostFactory, ClassesAndIds)
{
    using namespace Steinberg;
    juce::DynamicLibrary module;
    ASSERT_TRUE (module.open (bundle().getChildFile ("Contents/x86_64-linux/Quoril.so").getFullPathName()));
    auto entry = (bool (*) (void*)) module.getFunction ("ModuleEntry");
    auto getFactory = (IPluginFactory* (*)()) module.getFunction ("GetPluginFactory");
    auto exitModule = (bool (*)()) module.getFunction ("ModuleExit");
    ASSERT_TRUE (entry != nullptr && getFactory != nullptr && exitModule != nullptr);
    ASSERT_TRUE (entry (module.getNativeHandle()));
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
    const uint32 manufacturer = ('O' << 24) | ('r' << 16) | ('v' << 8) | 'n', plugin = ('Q' << 24) | ('r' << 16) | ('l' << 8) | 'x';
    const FUID ids[] = { FUID (0xABCDEF01, 0x9182FAEB, manufacturer, plugin), FUID (0xABCDEF01, 0x1234ABCD, manufacturer, plugin) };
    const char* categories[] = { "Audio Module Class", "Component Controller Class" };
    for (int32 i = 0; i < 2; ++i)
    {
        PClassInfo2 ci;
        ASSERT_EQ (factory2->getClassInfo2 (i, &ci), kResultOk);
        EXPECT_STREQ (ci.name, "Quoril");
        EXPECT_STREQ (ci.category, categories[i]);
        EXPECT_STREQ (ci.subCategories, "Fx");
        EXPECT_STREQ (ci.version, "1.4.0");
        EXPECT_STREQ (ci.sdkVersion, "VST 3.7.2");
        EXPECT_STREQ (ci.vendor, "Orvane_Studio");
        EXPECT_EQ (ci.cardinality, PClassInfo::kManyInstances);
        EXPECT_TRUE (FUID::fromTUID (ci.cid) == ids[i]) << i;
    }
    factory2->release();
    factory->release();
    EXPECT_TRUE (exitModule());
}

TEST (HostParameters, TheEighteenThenBypassThenMidiControllers)
{
    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);
    const auto& params = instance->getParameters();
    ASSERT_EQ (params.size(), 18 + 1 + 16 * 130);

    const juce::StringArray names { "Input Gain", "X Position", "Y Position", "Trajectory", "X Trajectory Rate", "X Trajectory Range",
                                    "Y Trajectory Rate", "Y Trajectory Range", "Out Gain", "Dry/Wet", "Pole A Diff", "Pole B Diff",
                                    "Pole C Diff", "Pole D Diff", "Pole A Stereo Link", "Pole B Stereo Link", "Pole C Stereo Link",
                                    "Pole D Stereo Link", "Bypass" };
    for (int i = 0; i < params.size(); ++i)
    {
        EXPECT_EQ (params[i]->getName (100), i < 19 ? names[i] : "MIDI CC " + juce::String ((i - 19) / 130) + "|" + juce::String ((i - 19) % 130)) << i;
        EXPECT_EQ (params[i]->isAutomatable(), i < 19) << i;
    }

    // Defaults of skewed and offset ranges, and the plug-in's texts, as the host reads them.
    EXPECT_NEAR (params[0]->getDefaultValue(), std::pow (70.0f / 76.0f, 1.5f), 1e-4);
    EXPECT_NEAR (params[4]->getDefaultValue(), std::sqrt ((0.1f - 0.001f) / 0.999f), 1e-4);
    EXPECT_EQ (params[0]->getText (0.0f, 100), "-INF dB");
    EXPECT_EQ (params[8]->getCurrentValueAsText(), "+0.00 dB");
    EXPECT_EQ (params[4]->getCurrentValueAsText(), "0.100");
    EXPECT_EQ (params[0]->getLabel(), "dB");
}

TEST (HostBuses, OnlyStereoInWithStereoOutIsAccepted)
{
    auto instance = createInstance();
    ASSERT_NE (instance, nullptr);
    EXPECT_TRUE (instance->getBusCount (true) == 1 && instance->getBusCount (false) == 1);
    EXPECT_TRUE (instance->getBus (true, 0)->getName() == "Input" && instance->getBus (false, 0)->getName() == "Output");
    EXPECT_TRUE (instance->acceptsMidi() && ! instance->producesMidi());

    using Set = juce::AudioChannelSet;
    for (auto [in, out, accepted] : { std::tuple { Set::mono(), Set::mono(), false }, std::tuple { Set::stereo(), Set::mono(), false },
                                      std::tuple { Set::stereo(), Set::stereo(), true } })
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.outputBuses.add (out);
        EXPECT_EQ (instance->setBusesLayout (layout), accepted);
    }
    EXPECT_EQ (instance->getMainBusNumInputChannels() + instance->getMainBusNumOutputChannels(), 4);
}
