#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

class CCMapper;

namespace orvnlib
{
// The editor side of the controller map: turns the learn requests of MIDI targets (knobs) into
// bindings, and saves and loads the whole map as a file named with mapFileExtension.
class CCMapperUIManager : public juce::ChangeListener
{
public:
    explicit CCMapperUIManager (CCMapper* mapperToUse);
    ~CCMapperUIManager() override;

    // Applies one request of the MIDITarget that broadcast: an assignment first, else a removal.
    // A removal pending beside an assignment waits for the next change message.
    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

    // Open a file dialog and return at once; the file chosen later is written from the map /
    // replaces the map. The dialog belongs to the map, so a file chosen after this manager (and
    // its window) has gone still acts on the map. A dialog still open on the map closes first.
    // The dialog shows in front of the host window that holds openedFrom (see DialogsInFront),
    // the desktop's dialog too (which is looked for by its title).
    //
    // SAVE proposes defaultMapFileName() and writes withMapFileExtension() of the chosen file;
    // when that added the extension and names an existing file, the user is asked before it is
    // replaced (the dialog itself asked about the name as chosen).
    void saveMidiMap (juce::Component* openedFrom = nullptr);
    void loadMidiMap (juce::Component* openedFrom = nullptr);

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

    // The extension of map files, as SAVE adds it.
    static constexpr const char* mapFileExtension = ".mpcc";

    // The dialogs' filter: the extension in every letter case, as patterns separated by ';'. The
    // desktop's dialogs (zenity, kdialog) match patterns case-sensitively and the framework's
    // dialog knows no character classes, so each case is a pattern of its own.
    static const juce::String& mapFilePattern();
    static const juce::String& defaultMapFileName();

    // Where the dialogs open: the documents folder, or the home folder when there is none.
    static juce::File getDialogStartFolder();

    // The file a map is saved to for a chosen one: mapFileExtension added to its name unless
    // the name ends so already, in any letter case ("my.map" becomes "my.map.mpcc"), so that
    // LOAD, which lists mapFilePattern() only, finds it again.
    static juce::File withMapFileExtension (const juce::File& chosen);

    CCMapper* mapper = nullptr;

    // The platform's own file dialogs where it has them; the framework's dialog otherwise.
    bool useNativeDialogs = true;

    // Called on the message thread after a learn request or a loaded file changed the map. A
    // load dialog takes a copy, which it may call after this manager has gone: it must refer
    // to nothing that goes with the window.
    std::function<void()> onMapChanged;

    static constexpr const char* loadDialogTitle = "LOAD MIDI MAP";
    static constexpr const char* saveDialogTitle = "SAVE MIDI MAP";

private:
    struct DesktopDialogWatch : juce::Timer
    {
        void timerCallback() override;

        static constexpr int intervalMs = 50, maxTicks = 400; // twenty seconds
        juce::Component::SafePointer<juce::Component> view;
        juce::String title;
        int ticksLeft = 0;
    };

    void watchForDesktopDialog (const char* title, juce::Component* openedFrom);

    // Opens a map file dialog owned by the map; onChosen gets the file unless it was cancelled.
    static void openDialog (CCMapper& map, const juce::String& title, const juce::File& start, int flags,
                            bool native, juce::Component* openedFrom,
                            std::function<void (const juce::File&)> onChosen);
    static void saveChosenFile (CCMapper& map, const juce::File& chosen);
    static void askBeforeReplacing (CCMapper& map, const juce::File& file);

    DesktopDialogWatch desktopDialogWatch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CCMapperUIManager)
};
} // namespace orvnlib
