#include "SettingsFile.h"

#include "AtomicFileWrite.h"
#include "PlainFile.h"
#include "UntrustedXml.h"

#include <cerrno>
#include <cstdio>

namespace
{
const juce::String documentTag ("PROPERTIES"), valueTag ("VALUE"), nameAttribute ("name"), valueAttribute ("val");

// Any well-formed document that the reader takes, with the root PROPERTIES: comments,
// processing instructions and UTF-16 included, as a hand-edited file may have them.
std::unique_ptr<juce::XmlElement> readSettingsDocument (const juce::MemoryBlock& data)
{
    auto xml = parseUntrustedXml (data.getData(), data.getSize(), true);
    return xml != nullptr && xml->hasTagName (documentTag) ? std::move (xml) : nullptr;
}

// Where a damaged file goes: "<name>.damaged", or, while that name is held by something a rename
// cannot replace (a folder with something in it, a folder in the way of a file), the next of
// "<name>.damaged-2" up to "<name>.damaged-16".
constexpr int numDamagedNames = 16;

enum class MovedAside { moved, gone, failed };

// Renamed beside itself, replacing an older damaged file. Never deleted first: a rename replaces
// its target at once, so what another instance moved aside a moment before is kept until a
// later rename takes its place; and a file that is gone by the time of the rename (another
// instance moved it) counts as no file. Only ever renamed: a copy (which the framework falls back
// on where a rename fails) would wait for ever for a writer to a named pipe.
MovedAside moveAside (const juce::File& file)
{
    const auto from = file.getFullPathName();

    for (int n = 1; n <= numDamagedNames; ++n)
    {
        const auto to = from + ".damaged" + (n > 1 ? "-" + juce::String (n) : juce::String());

       #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
        if (std::rename (from.toRawUTF8(), to.toRawUTF8()) == 0)
            return MovedAside::moved;

        if (errno == ENOENT)
            return MovedAside::gone;
       #else
        if (! file.exists())
            return MovedAside::gone;

        if (file.replaceFileIn (juce::File (to)))
            return MovedAside::moved;
       #endif
    }

    return MovedAside::failed;
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

    switch (moveAside (file))
    {
        case MovedAside::moved:
        case MovedAside::gone:
            return settings;

        case MovedAside::failed:
            break;
    }

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

//==============================================================================
int storedPanelWidthFrom (const juce::String& storedText)
{
    const auto text = storedText.trim();
    if (text.isEmpty() || ! text.containsOnly ("0123456789") || text.length() > 9)
        return -1;

    const int width = text.getIntValue();
    return (width >= minimumPanelWidth && width <= maximumStoredPanelWidth) ? width : -1;
}
