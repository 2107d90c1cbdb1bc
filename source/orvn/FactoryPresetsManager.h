#pragma once

#include <juce_core/juce_core.h>
#include <memory>
#include <vector>

namespace orvn
{
// Parsed built-in preset documents with their names, in the order they were added.
class FactoryPresetsManager
{
public:
    explicit FactoryPresetsManager (const juce::String& nameAttributeToUse);
    virtual ~FactoryPresetsManager();

    virtual void addPreset (const char* xmlText);

    std::vector<std::unique_ptr<juce::XmlElement>> presets;
    juce::StringArray names;
    juce::String nameAttribute;
};
} // namespace orvn
