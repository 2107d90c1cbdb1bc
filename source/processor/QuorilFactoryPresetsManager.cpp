#include "QuorilFactoryPresetsManager.h"

#if QUORIL_HAS_BINARY_DATA
 #include "QuorilBinaryData.h"
#endif

namespace quoril
{
QuorilFactoryPresetsManager::QuorilFactoryPresetsManager (const juce::String& metadataTagToUse,
                                                          const juce::String& nameAttributeToUse)
    : FactoryPresetsManager (nameAttributeToUse), metadataTag (metadataTagToUse)
{
}

QuorilFactoryPresetsManager::~QuorilFactoryPresetsManager() = default;

void QuorilFactoryPresetsManager::addPreset (const juce::String& xmlText)
{
    auto* root = appendParsed (xmlText);

    if (root == nullptr)
        return;

    // The tag is matched ignoring case; the attribute name is matched exactly.
    juce::String name;

    for (auto* child : root->getChildIterator())
    {
        if (child->getTagName().equalsIgnoreCase (metadataTag))
        {
            name = child->getStringAttribute (nameAttribute);
            break;
        }
    }

    names.add (name);
}

const juce::StringArray& QuorilFactoryPresetsManager::builtInPresetNames()
{
    static const juce::StringArray builtIn { "Drill1", "Drill2", "Orbit1", "Orbit2", "Orbit3",
                                             "Sweep1", "Sweep2", "Travel1", "Travel2", "Travel3" };
    return builtIn;
}

void QuorilFactoryPresetsManager::loadFactoryPresets()
{
   #if QUORIL_HAS_BINARY_DATA
    for (const auto& presetName : builtInPresetNames())
    {
        int size = 0;
        const auto resourceName = presetName + "_xml";

        if (const auto* data = QuorilBinaryData::getNamedResource (resourceName.toRawUTF8(), size))
            addPreset (juce::String::fromUTF8 (data, size));
    }
   #endif
}
} // namespace quoril
