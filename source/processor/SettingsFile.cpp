#include "SettingsFile.h"

#include "AtomicFileWrite.h"
#include "PlainFile.h"
#include "UntrustedXml.h"

#include <cerrno>
#include <cstdio>

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

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

// Where a damaged file goes: the first free of "<name>.damaged" and "<name>.damaged-2" up to
// "<name>.damaged-16". A name that anything holds is never taken over.
constexpr int numDamagedNames = 16;

// How often a file is read again because the name no longer held what was read when it was to
// be set aside: another instance set it aside and may have written a good file in its place.
constexpr int numReadAttempts = 8;

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
// Gives the object that from names the name to as well, never replacing what holds to, and lets
// from go: true when it was moved; otherwise errno says why (EEXIST when to is taken, ENOENT when
// nothing is at from). A rename does both at once; where the file system cannot rename without
// replacing, a hard link does the first part (it never replaces either, and a folder cannot be
// linked, so it stays), and from is let go only while it still names what was linked.
bool renameWithoutReplacing (const char* from, const char* to)
{
   #if JUCE_LINUX
    if (::renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;

    if (errno != EINVAL && errno != ENOSYS)
        return false;
   #endif

    if (::linkat (AT_FDCWD, from, AT_FDCWD, to, 0) != 0)
        return false;

    struct stat atFrom, atTo;

    if (::lstat (from, &atFrom) == 0 && ::lstat (to, &atTo) == 0
        && atFrom.st_dev == atTo.st_dev && atFrom.st_ino == atTo.st_ino)
        ::unlink (from);

    return true;
}
#endif

enum class SetAside { done, failed };

// Moves what was read (what) aside under the first free damaged name, so that nothing is lost.
// Only that object is moved: when the name no longer holds it (another instance moved it aside,
// and may have written a good file in its place), nothing is touched; and should another
// instance's file be moved all the same (it took the name in the moment before the rename), it is
// put back unless the name has been taken again, in which case it stays under the damaged name.
// done means that the file should be read again; failed that no free name took the file.
// Only ever renamed: a copy (which the framework falls back on where a rename fails) would wait
// for ever for a writer to a named pipe.
SetAside moveAside (const juce::File& file, const PlainFileIdentity& what)
{
    const auto from = file.getFullPathName();

    for (int n = 1; n <= numDamagedNames; ++n)
    {
        const auto to = from + ".damaged" + (n > 1 ? "-" + juce::String (n) : juce::String());

       #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
        if (plainFileIdentityAt (file) != what)
            return SetAside::done;

        if (renameWithoutReplacing (from.toRawUTF8(), to.toRawUTF8()))
        {
            if (plainFileIdentityAt (juce::File (to)) != what)
                renameWithoutReplacing (to.toRawUTF8(), from.toRawUTF8());

            return SetAside::done;
        }

        if (errno == ENOENT)
            return SetAside::done;
       #else
        // Without inode numbers what was read cannot be told from what replaced it; a name that
        // is taken is passed over, though not at the same moment as the move.
        if (! file.exists())
            return SetAside::done;

        juce::ignoreUnused (what);

        if (! juce::File (to).exists() && file.moveFileTo (juce::File (to)))
            return SetAside::done;
       #endif
    }

    return SetAside::failed;
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

    for (int attempt = 0; attempt < numReadAttempts; ++attempt)
    {
        juce::MemoryBlock data;
        PlainFileIdentity read;

        switch (readPlainFile (file, maxSettingsFileBytes, data, &read))
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

        if (beforeSettingAside != nullptr)
            beforeSettingAside();

        if (moveAside (file, read) == SetAside::failed)
            return {};
    }

    return {};
}

std::function<void()> SettingsFile::beforeSettingAside;

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
