#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <gtest/gtest.h>

#include "support/MessageLoop.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace quoril::hosttest
{
inline juce::File bundle() { return juce::File (QUORIL_VST3_BUNDLE); }

// Scans the bundle this build produced as a DAW does; empty when the scan fails.
inline juce::OwnedArray<juce::PluginDescription> scanBundle()
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, bundle().getFullPathName());
    return found;
}

inline std::unique_ptr<juce::AudioPluginInstance> createInstance (double sampleRate = 44100.0, int blockSize = 512)
{
    juce::AudioPluginFormatManager manager;
    manager.addFormat (new juce::VST3PluginFormat());
    auto found = scanBundle();
    if (found.isEmpty())
        return {};
    juce::String error;
    auto instance = manager.createPluginInstance (*found[0], sampleRate, blockSize, error);
    EXPECT_TRUE (error.isEmpty()) << error;
    return instance;
}

// The settings file the plug-in reads when an instance is made (the tests' private home).
inline void storePanelWidth (int width)
{
    juce::PropertiesFile::Options options;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    juce::PropertiesFile settings (juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                       .getChildFile ("Orvane_Studio/Quoril.prefs"),
                                   options);
    settings.setValue ("panel_width", width);
    ASSERT_TRUE (settings.save());
}

// Whether the plug-in's own state blob, as the host saves it (inside JUCE's host document),
// holds a text.
inline bool stateHolds (juce::AudioPluginInstance& instance, const char* text)
{
    juce::MemoryBlock saved, blob;
    instance.getStateInformation (saved);
    const auto document = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    const auto* component = document != nullptr ? document->getChildByName ("IComponent") : nullptr;
    if (component == nullptr || ! blob.fromBase64Encoding (component->getAllSubText()))
        return false;
    const auto* begin = static_cast<const char*> (blob.getData());
    const auto* end = begin + blob.getSize();
    return std::search (begin, end, text, text + std::strlen (text)) != end;
}

// A plug-in window as a DAW opens one: the host's editor for the plug-in's view as its content.
// Kept above other windows if asked (as Ardour keeps its plug-in windows), set before the view is
// in it: the framework makes such a window anew.
class HostWindow : public juce::DocumentWindow
{
public:
    explicit HostWindow (juce::AudioProcessorEditor* editor, bool keptAbove = false)
        : DocumentWindow ("Quoril", juce::Colours::black, 0)
    {
        setUsingNativeTitleBar (true);
        setAlwaysOnTop (keptAbove);
        setContentOwned (editor, true);
        setTopLeftPosition (10, 10);
        setVisible (true);
    }

    // JUCE's XEmbedComponent, which holds the plug-in's view in the host's editor, answers each
    // resize of that view with a MessageManager::callAsync that points at itself, unguarded: deleted
    // before that call runs, it would be read after it is freed. So the window leaves the screen,
    // lets the calls already posted run, and only then deletes the editor (and the plug-in's view).
    ~HostWindow() override
    {
        setVisible (false);
        bool reached = false;
        juce::MessageManager::callAsync ([&reached] { reached = true; });
        while (! reached)
            testsupport::runMessageLoop (1);
    }

    juce::AudioProcessorEditor& editor() { return *dynamic_cast<juce::AudioProcessorEditor*> (getContentComponent()); }
};
} // namespace quoril::hosttest
