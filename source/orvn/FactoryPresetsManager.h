#pragma once

#include <juce_core/juce_core.h>
#include <memory>
#include <vector>

namespace orvn
{
// Parsed built-in preset documents with their names, in the order they were added.
// presets[i] and names[i] always belong together: a text that does not parse adds neither.
class FactoryPresetsManager
{
public:
    explicit FactoryPresetsManager (const juce::String& nameAttributeToUse);
    virtual ~FactoryPresetsManager();

    // Parses one document and appends it with the name held in the root's name attribute.
    virtual void addPreset (const juce::String& xmlText);

    std::vector<std::unique_ptr<juce::XmlElement>> presets;
    juce::StringArray names;
    juce::String nameAttribute;

protected:
    // Parses the text and appends the document; returns it, or nullptr when it does not parse.
    juce::XmlElement* appendParsed (const juce::String& xmlText);

private:
    JUCE_DECLARE_NON_COPYABLE (FactoryPresetsManager)
};
} // namespace orvn
