#pragma once

#include <juce_events/juce_events.h>

#include "UntrustedXml.h"

#include <functional>
#include <memory>
#include <vector>

// The settings file is larger than this only when something else has been put in its place; the
// reader takes no more.
constexpr juce::int64 maxSettingsFileBytes = (juce::int64) maxUntrustedXmlBytes;

// The editor window's width as the settings file keeps it: the smallest the window opens at, and
// the largest it can be dragged to and reopens at.
constexpr int minimumPanelWidth = 200;
constexpr int maximumStoredPanelWidth = 4096;

// The width a stored text names when the window can open at it: a whole number from
// minimumPanelWidth to maximumStoredPanelWidth in decimal digits (white space around them aside);
// -1 for any other text.
int storedPanelWidthFrom (const juce::String& storedText);

// A per-user settings file: the few named values that Quoril keeps, in the XML form that the
// framework's PropertiesFile writes and reads:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//
//   <PROPERTIES>
//     <VALUE name="panel_width" val="960"/>
//   </PROPERTIES>
//
// The file is read with parseUntrustedXml only, and only the values of known keys are taken from
// it, each through its key's check; nothing of the file, and no stored value, ever reaches the
// framework's XML reader. It is written with the framework's XML writer from the checked values
// alone, into a temporary sibling that replaces the file once it is complete.
//
// Like PropertiesFile, a change is saved millisecondsBeforeSaving after it is made (by a timer on
// the message thread; at once when that is 0, never when it is negative), at once by save or
// saveIfNeeded, and when the object goes with the change still unsaved. Values of other keys, or
// values that fail their check, may be set and read back but are never written.
class SettingsFile : public juce::PropertySet, private juce::Timer
{
public:
    // A key that Quoril keeps, with its check: for a stored text, the text to keep (in its usual
    // form), or an empty string when the text is refused.
    struct Key
    {
        juce::String name;
        std::function<juce::String (const juce::String&)> check;
    };

    // Reads the settings file that stands at file, or finds none:
    // - nothing there, or a symbolic link that leads to nothing: no values; the first save writes
    //   a real file in its place;
    // - a regular file of at most maxSettingsFileBytes holding a whole, well-formed document that
    //   parseUntrustedXml reads, with the root PROPERTIES (comments, processing instructions and
    //   UTF-16 included): the values of the known keys that pass their check. Anything else in it
    //   is ignored, and the file stays;
    // - anything else that could be read, and what is plainly no settings file from its status
    //   alone (a directory, a named pipe, a device, a regular file over the limit): renamed to the
    //   first free of "<name>.damaged" and "<name>.damaged-2" to "<name>.damaged-16", never over
    //   anything that holds such a name, so that nothing is lost; no values. Only the object that
    //   was read is set aside: when the name holds something else by then (another instance moved
    //   the file aside, and may have saved a good file in its place), that is left as it is and
    //   read afresh, as is the name once the file is moved; the values are those of what is read
    //   last. Where the file system cannot rename without replacing, the file is linked to the
    //   free name and then unlinked; a folder there cannot be linked and stays.
    // Returns nullptr, having touched nothing more, when something is there that could not be
    // opened or read (no permission, out of file handles), when a damaged file could not be moved
    // aside (every damaged name is taken, or a folder where only a link could be made), or when
    // the name kept being given to other damaged files while it was read: the caller then runs
    // without settings and the file is neither moved nor written over.
    static std::unique_ptr<SettingsFile> open (const juce::File& file, std::vector<Key> keys,
                                              int millisecondsBeforeSaving = 3000);

    ~SettingsFile() override;

    const juce::File& getFile() const noexcept { return file; }

    // Writes the file now (making its folder if needed). False when it could not be written, in
    // which case the file is as it was.
    bool save();

    // Writes the file when a value has changed since it was read or last written.
    bool saveIfNeeded();

    // A stored value is never handed to the framework's XML reader.
    std::unique_ptr<juce::XmlElement> getXmlValue (juce::StringRef) const = delete;

protected:
    void propertyChanged() override;

private:
    SettingsFile (const juce::File& fileToUse, std::vector<Key> keysToUse, int millisecondsBeforeSaving);

    void timerCallback() override;
    void takeValuesFrom (const juce::XmlElement& document);

    // Called, when set, between the read of a damaged file and its move aside, which is where
    // another instance may act on the same file; only the tests set it.
    static std::function<void()> beforeSettingAside;
    friend struct SettingsFileTestAccess;

    const juce::File file;
    const std::vector<Key> keys;
    const int saveDelayMs;
    bool needsWriting = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingsFile)
};
