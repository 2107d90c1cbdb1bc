// The preset browser: the footer's operations that list, step through and load the factory
// presets, the user's preset files and the preset slot of a MIDI program change.

#include "PresetBrowser.h"

#include "../orvn/AttachedMenus.h"
#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"
#include "Footer.h"

namespace quoril
{
const juce::String& presetFileExtension()
{
    static const juce::String extension ("qpst");
    return extension;
}

juce::File userPresetsFolder()
{
    return juce::File (presetsFolderPath());
}

juce::String presetNameFromFile (const juce::File& file)
{
    return file.getFileNameWithoutExtension();
}

juce::File userPresetFile (const juce::String& name)
{
    const auto folder = userPresetsFolder();
    const auto exact = childFileNamed (folder, name + "." + presetFileExtension());

    if (exact.existsAsFile())
        return exact;

    // The listing matches the extension in any letter case ("Pad.QPST" lists as "Pad").
    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*." + presetFileExtension(),
                                                            juce::File::findFiles))
        if (presetNameFromFile (entry.getFile()) == name)
            return entry.getFile();

    return exact;
}

//==============================================================================
juce::StringArray Footer::getUserPresetNames() const
{
    juce::StringArray names;
    const auto folder = userPresetsFolder();

    if (! folder.isDirectory())
        return names;

    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*." + presetFileExtension(),
                                                            juce::File::findFiles))
        names.add (presetNameFromFile (entry.getFile()));

    names.sortNatural();
    return names;
}

juce::PopupMenu Footer::createPresetMenu (const juce::StringArray& userNames)
{
    const auto current = processor.getPresetName();
    int nextId = 1;

    const auto addEntry = [&current, &nextId] (juce::PopupMenu& menu, const juce::String& name)
    {
        if (name == current)
            menu.addColouredItem (nextId, name, highlightColour, true, false, std::unique_ptr<juce::Drawable>());
        else
            menu.addItem (nextId, name, true, false);

        ++nextId;
    };

    juce::PopupMenu factory;
    for (const auto& name : processor.factoryPresets.names)
        addEntry (factory, name);

    juce::PopupMenu user;
    for (const auto& name : userNames)
        addEntry (user, name);

    juce::PopupMenu menu;
    menu.setLookAndFeel (&getLookAndFeel());
    menu.addSubMenu ("FACTORY", factory, true);
    menu.addSubMenu ("USER", user, true);
    return menu;
}

void Footer::showPresetList()
{
    const auto userNames = getUserPresetNames();

    // The host may close the window, and delete this footer, while the list is open or before
    // its result arrives; a preset chosen from the list of a window that has gone is not loaded.
    orvnlib::AttachedMenus::show (createPresetMenu (userNames), menuOptions (presetButton, 4),
                                  [safeThis = juce::Component::SafePointer<Footer> (this), userNames] (int result)
                                  {
                                      if (auto* footer = safeThis.getComponent())
                                          footer->handlePresetMenuResult (result, userNames);
                                  });
}

void Footer::onPresetListClicked() { showPresetList(); }

void Footer::handlePresetMenuResult (int result, const juce::StringArray& userNames)
{
    const int numFactory = processor.factoryPresets.names.size();

    if (result >= 1 && result <= numFactory)
        loadFactoryPreset (result - 1);
    else if (result > numFactory)
        loadUserPreset (userNames, result - (numFactory + 1));
}

//==============================================================================
void Footer::loadFactoryPreset (int index)
{
    const auto& presets = processor.factoryPresets.presets;

    if (! juce::isPositiveAndBelow (index, (int) presets.size()) || presets[(size_t) index] == nullptr)
        return;

    const auto tree = juce::ValueTree::fromXml (*presets[(size_t) index]);

    // A factory document carries its own name in its metadata.
    processor.suspendProcessing (true);
    const bool changed = processor.applyPresetDocument (tree);
    processor.suspendProcessing (false);

    if (changed)
        processor.noteStateChange();
}

void Footer::loadUserPreset (const juce::StringArray& names, int index)
{
    if (juce::isPositiveAndBelow (index, names.size()))
        loadPresetFile (userPresetFile (names[index]));
}

bool Footer::loadPresetFile (const juce::File& file)
{
    // The guarded reader refuses anything but a plain, reasonably small, well-formed XML file.
    const auto xml = readPresetFile (file);

    if (xml == nullptr)
        return false;

    // Only a state document is loaded: another document would change nothing but the name.
    const auto tree = juce::ValueTree::fromXml (*xml);

    if (! tree.isValid() || tree.getType().toString() != "Quoril")
        return false;

    // A name carried by the loaded document stays; a document without one takes the file's.
    processor.suspendProcessing (true);
    const bool changed = processor.applyPresetDocument (tree, presetNameFromFile (file));
    processor.suspendProcessing (false);

    if (changed)
        processor.noteStateChange();

    return true;
}

void Footer::loadPendingPresetFile()
{
    // The flag is cleared before the program number is read: the audio thread stores the number
    // before it raises the flag, so a program change that arrives during this load raises the
    // flag again and its slot is loaded at the next timer tick.
    processor.midiPresetLoadPending.exchange (false);

    const int program = processor.midiProgram.load();
    loadPresetFile (QuorilAudioProcessor::getMidiPresetFile (processor.midiPresetFiles, program));
}

//==============================================================================
void Footer::onNextPresetClicked()
{
    stepPreset (true);
}

void Footer::onPreviousPresetClicked()
{
    stepPreset (false);
}

// Next and previous stay in the list that holds the current name: the factory list when the name
// is a factory preset's, otherwise the user list (factory preset 0 when there is no user preset).
void Footer::stepPreset (bool forward)
{
    const auto current = processor.getPresetName();
    const auto& factoryNames = processor.factoryPresets.names;
    const int numFactory = factoryNames.size();

    if (const int i = factoryNames.indexOf (current); i >= 0)
    {
        if (forward)
            loadFactoryPreset (i < numFactory - 1 ? i + 1 : 0);
        else
            loadFactoryPreset (i >= 1 ? i - 1 : numFactory - 1);
        return;
    }

    const auto userNames = getUserPresetNames();

    if (userNames.isEmpty())
    {
        loadFactoryPreset (0);
        return;
    }

    const int j = userNames.indexOf (current), n = userNames.size();

    if (forward)
        loadUserPreset (userNames, (j >= 0 && j < n - 1) ? j + 1 : 0);
    else
        loadUserPreset (userNames, j >= 1 ? j - 1 : (j == 0 ? n - 1 : 0));
}

} // namespace quoril
