#include "QuorilFactoryPresetsManager.h"

namespace quoril
{
QuorilFactoryPresetsManager::QuorilFactoryPresetsManager (const juce::String& metadataTagToUse,
                                                          const juce::String& nameAttributeToUse)
    : FactoryPresetsManager (nameAttributeToUse), metadataTag (metadataTagToUse)
{
}

QuorilFactoryPresetsManager::~QuorilFactoryPresetsManager() = default;

void QuorilFactoryPresetsManager::addPreset (const char*) {}
} // namespace quoril
