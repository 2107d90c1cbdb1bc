#include "FactoryPresetsManager.h"

namespace orvn
{
FactoryPresetsManager::FactoryPresetsManager (const juce::String& nameAttributeToUse)
    : nameAttribute (nameAttributeToUse)
{
}

FactoryPresetsManager::~FactoryPresetsManager() = default;

juce::XmlElement* FactoryPresetsManager::appendParsed (const juce::String& xmlText)
{
    auto parsed = juce::parseXML (xmlText);

    if (parsed == nullptr)
        return nullptr;

    presets.push_back (std::move (parsed));
    return presets.back().get();
}

void FactoryPresetsManager::addPreset (const juce::String& xmlText)
{
    if (auto* root = appendParsed (xmlText))
        names.add (root->getStringAttribute (nameAttribute));
}
} // namespace orvn
