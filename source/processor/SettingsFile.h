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
    //   alone (a directory, a named pipe, a device, a regular file over the limit): renamed to
    //   "<name>.damaged" (replacing an older damaged file; when something a rename cannot replace
    //   holds that name, such as a folder with something in it, to the next free of
    //   "<name>.damaged-2" to "<name>.damaged-16") so that nothing is lost; no values. A file that
    //   is gone by the time it is renamed (another instance moved it aside) counts as no file.
    // Returns nullptr, having touched nothing, when something is there that could not be opened
    // or read (no permission, out of file handles), or when a damaged file could not be moved
    // aside: the caller then runs without settings and the file is neither moved nor written over.
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

    const juce::File file;
    const std::vector<Key> keys;
    const int saveDelayMs;
    bool needsWriting = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingsFile)
};
