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

    void addPreset (const char* xmlText) override;

    juce::String metadataTag;
};
} // namespace quoril
