#include "SettingsFile.h"

#include "AtomicFileWrite.h"
#include "PlainFile.h"
#include "UntrustedXml.h"

#include <cstdio>
#include <string_view>

namespace
{
const juce::String documentTag ("PROPERTIES"), valueTag ("VALUE"), nameAttribute ("name"), valueAttribute ("val");

// A settings document as Quoril and the framework write it: a declaration, then the root
// PROPERTIES with one VALUE child per key, in UTF-8; never a comment, CDATA section, document
// type or another processing instruction. Whatever holds one of those was made by something else.
std::unique_ptr<juce::XmlElement> readSettingsDocument (const juce::MemoryBlock& data)
{
    auto xml = parseUntrustedXml (data.getData(), data.getSize(), true);

    if (xml == nullptr || ! xml->hasTagName (documentTag))
        return {};

    std::string_view text (static_cast<const char*> (data.getData()), data.getSize());
    text = text.substr (0, text.find ('\0'));

    if (text.substr (0, 3) == "\xef\xbb\xbf")
        text.remove_prefix (3);
    else if (text.substr (0, 2) == "\xfe\xff" || text.substr (0, 2) == "\xff\xfe")
        return {};

    const auto start = text.find_first_not_of (" \t\r\n");

    if (start != std::string_view::npos && text.compare (start, 5, "<?xml") == 0)
    {
        const auto end = text.find ("?>", start);

        if (end == std::string_view::npos)
            return {};

        text.remove_prefix (end + 2);
    }

    if (text.find ("<?") != std::string_view::npos || text.find ("<!") != std::string_view::npos)
        return {};

    return xml;
}

// Renamed beside itself, replacing an older one. Only ever renamed: a copy (which the framework
// falls back on where a rename fails) would wait for ever for a writer to a named pipe.
bool moveAside (const juce::File& file)
{
    const auto damaged = file.getSiblingFile (file.getFileName() + ".damaged");

    if (! damaged.deleteFile())
        return false;

   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    return std::rename (file.getFullPathName().toRawUTF8(), damaged.getFullPathName().toRawUTF8()) == 0;
   #else
    return file.moveFileTo (damaged);
   #endif
}
} // namespace

//==============================================================================
SettingsFile::SettingsFile (const juce::File& fileToUse, std::vector<Key> keysToUse, int millisecondsBeforeSaving)
    : juce::PropertySet (false), file (fileToUse), keys (std::move (keysToUse)), saveDelayMs (millisecondsBeforeSaving)
{
}

std::unique_ptr<SettingsFile> SettingsFile::open (const juce::File& file, std::vector<Key> keys, int millisecondsBeforeSaving)
{
    std::unique_ptr<SettingsFile> settings (new SettingsFile (file, std::move (keys), millisecondsBeforeSaving));
    juce::MemoryBlock data;

    switch (readPlainFile (file, maxSettingsFileBytes, data))
    {
        case PlainFileRead::missing:
            return settings;

        case PlainFileRead::unreadable:
            return {};

        case PlainFileRead::read:
            if (const auto document = readSettingsDocument (data))
            {
                settings->takeValuesFrom (*document);
                return settings;
            }
            break;

        case PlainFileRead::notPlain:
            break;
    }

    if (moveAside (file))
        return settings;

    return {};
}

SettingsFile::~SettingsFile()
{
    stopTimer();
    saveIfNeeded();
}

// As the framework reads the file, a later VALUE of a name replaces an earlier one, and an
// element inside a VALUE stands for its value in place of the val attribute (no value Quoril
// keeps is one, so such a value is refused).
void SettingsFile::takeValuesFrom (const juce::XmlElement& document)
{
    auto& values = getAllProperties();

    for (auto* value : document.getChildWithTagNameIterator (valueTag))
    {
        const auto name = value->getStringAttribute (nameAttribute);

        for (const auto& key : keys)
        {
            if (name != key.name)
                continue;

            const auto text = value->getFirstChildElement() == nullptr && value->hasAttribute (valueAttribute)
                                  ? key.check (value->getStringAttribute (valueAttribute))
                                  : juce::String();

            if (text.isNotEmpty())
                values.set (key.name, text);
            else
                values.remove (juce::StringRef (key.name));
        }
    }
}

//==============================================================================
bool SettingsFile::save()
{
    const juce::ScopedLock sl (getLock());
    stopTimer();

    if (file == juce::File() || file.isDirectory() || ! file.getParentDirectory().createDirectory())
        return false;

    juce::XmlElement document (documentTag);

    for (const auto& key : keys)
    {
        if (! containsKey (key.name))
            continue;

        const auto text = key.check (getValue (key.name));

        if (text.isEmpty())
            continue;

        auto* value = document.createNewChildElement (valueTag);
        value->setAttribute (nameAttribute, key.name);
        value->setAttribute (valueAttribute, text);
    }

    // The framework's default text format, which its PropertiesFile writes too.
    juce::MemoryOutputStream text;
    document.writeTo (text);

    if (! writeFileAtomically (file, text.getData(), text.getDataSize()))
        return false;

    needsWriting = false;
    return true;
}

bool SettingsFile::saveIfNeeded()
{
    const juce::ScopedLock sl (getLock());
    return ! needsWriting || save();
}

bool SettingsFile::needsToBeSaved() const
{
    const juce::ScopedLock sl (getLock());
    return needsWriting;
}

void SettingsFile::propertyChanged()
{
    const juce::ScopedLock sl (getLock());
    needsWriting = true;

    if (saveDelayMs > 0)
        startTimer (saveDelayMs);
    else if (saveDelayMs == 0)
        saveIfNeeded();
}

void SettingsFile::timerCallback()
{
    saveIfNeeded();
}
