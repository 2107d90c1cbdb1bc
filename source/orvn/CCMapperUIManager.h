#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

class CCMapper;

namespace orvnlib
{
// The editor side of the controller map: turns the learn requests of MIDI targets (knobs) into
// bindings, and saves and loads the whole map as an "mpcc" file.
class CCMapperUIManager : public juce::ChangeListener
{
public:
    explicit CCMapperUIManager (CCMapper* mapperToUse);
    ~CCMapperUIManager() override;

    // Applies one request of the MIDITarget that broadcast: an assignment first, else a removal.
    // A removal pending beside an assignment waits for the next change message.
    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

    // Ask for a file and write the map to it / replace the map from it.
    void saveMidiMap();
    void loadMidiMap();

    // Writes a map as a map file (UTF-8, XML header, CR LF line ends, wrapped at 60). The text
    // goes to a temporary file that then replaces the target, so a failed write leaves an
    // existing file as it was. Returns false when nothing was written.
    static bool writeMapFile (const juce::ValueTree& map, const juce::File& file);

    // Replaces the map from a map file and makes the audio thread use it at once. A file that
    // is missing, not a plain file, too large or not well-formed XML, or whose element is not a
    // controller map, changes nothing. Returns whether the map changed (a file holding the
    // bindings the map already has changes nothing).
    bool loadMapFile (const juce::File& file);
    static bool loadMapFile (CCMapper& map, const juce::File& file);

    static const juce::String& mapFilePattern();
    static juce::File getDialogStartFolder();

    CCMapper* mapper = nullptr;

    // The platform's own file dialogs where it has them; the framework's dialog otherwise.
    bool useNativeDialogs = true;

    // Called on the message thread after a learn request or a loaded file changed the map.
    std::function<void()> onMapChanged;

private:
    // Runs a modal file dialog for map files; an empty File when it was cancelled. Uses nothing
    // of the manager, which the dialog's message loop may delete.
    static juce::File chooseFile (const juce::String& title, int flags, bool native);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CCMapperUIManager)
};
} // namespace orvnlib
