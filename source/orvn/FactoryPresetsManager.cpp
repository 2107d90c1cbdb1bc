#include "FactoryPresetsManager.h"

namespace orvn
{
FactoryPresetsManager::FactoryPresetsManager (const juce::String& nameAttributeToUse)
    : nameAttribute (nameAttributeToUse)
{
}

FactoryPresetsManager::~FactoryPresetsManager() = default;

void FactoryPresetsManager::addPreset (const char*) {}
} // namespace orvn
