#pragma once

#include "../orvn/FactoryPresetsManager.h"

namespace quoril
{
// Quoril's documents carry their name in a child element rather than a root attribute.
class QuorilFactoryPresetsManager : public orvn::FactoryPresetsManager
{
public:
    QuorilFactoryPresetsManager (const juce::String& metadataTagToUse, const juce::String& nameAttributeToUse);
    ~QuorilFactoryPresetsManager() override;

    // Parses one document and appends it with the name held by its metadata child.
    void addPreset (const juce::String& xmlText) override;

    // Adds the ten built-in presets, in their fixed order.
    void loadFactoryPresets();

    // Names of the built-in preset resources, in the order they are added.
    static const juce::StringArray& builtInPresetNames();

    juce::String metadataTag;
};
} // namespace quoril
