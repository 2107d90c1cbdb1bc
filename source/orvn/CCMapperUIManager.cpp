#include "CCMapperUIManager.h"

#include "../processor/AtomicFileWrite.h"
#include "../processor/CCMapper.h"
#include "../processor/QuorilAudioProcessor.h"
#include "../processor/UntrustedXml.h"
#include "DialogsInFront.h"
#include "MIDITarget.h"

namespace orvnlib
{
CCMapperUIManager::CCMapperUIManager (CCMapper* mapperToUse) : mapper (mapperToUse) {}

CCMapperUIManager::~CCMapperUIManager() = default;

void CCMapperUIManager::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    auto* target = dynamic_cast<MIDITarget*> (source);

    if (target == nullptr || mapper == nullptr)
        return;

    bool changed = false;

    if (std::exchange (target->assignRequested, false))
        changed = mapper->assignToLastCC (target->parameterID);
    else if (std::exchange (target->clearRequested, false))
        changed = mapper->clearMapping (target->parameterID);

    if (changed && onMapChanged != nullptr)
        onMapChanged();
}

//==============================================================================
const juce::String& CCMapperUIManager::mapFilePattern()
{
    static const juce::String pattern = []
    {
        juce::StringArray patterns { juce::String ("*") + mapFileExtension };

        // Each letter doubles the patterns: the ones so far as they are, then with it switched.
        const auto extension = juce::String (mapFileExtension);
        for (int i = 0; i < extension.length(); ++i)
        {
            const auto c = extension[i];
            if (juce::CharacterFunctions::toUpperCase (c) == juce::CharacterFunctions::toLowerCase (c))
                continue;

            for (int j = 0, n = patterns.size(); j < n; ++j)
            {
                auto other = patterns[j];
                other = other.substring (0, i + 1) + juce::String::charToString (juce::CharacterFunctions::isUpperCase (c)
                                                                                     ? juce::CharacterFunctions::toLowerCase (c)
                                                                                     : juce::CharacterFunctions::toUpperCase (c))
                        + other.substring (i + 2);
                patterns.add (other);
            }
        }

        return patterns.joinIntoString (";");
    }();
    return pattern;
}

const juce::String& CCMapperUIManager::defaultMapFileName()
{
    static const juce::String name = juce::String ("Quoril") + mapFileExtension;
    return name;
}

juce::File CCMapperUIManager::getDialogStartFolder()
{
    // A start folder that is missing would open its parent with the folder's name as the file name.
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    return documents.isDirectory() ? documents : juce::File::getSpecialLocation (juce::File::userHomeDirectory);
}

juce::File CCMapperUIManager::withMapFileExtension (const juce::File& chosen)
{
    const juce::String extension (mapFileExtension);
    const auto name = chosen.getFileName();

    if (name.endsWithIgnoreCase (extension))
        return chosen;

    return chosen.getSiblingFile (name + extension);
}

void CCMapperUIManager::saveMidiMap (juce::Component* openedFrom)
{
    if (mapper == nullptr)
        return;

    auto& map = *mapper;

    constexpr auto flags = juce::FileBrowserComponent::saveMode
                         | juce::FileBrowserComponent::canSelectFiles
                         | juce::FileBrowserComponent::warnAboutOverwriting;

    openDialog (map, saveDialogTitle, getDialogStartFolder().getChildFile (defaultMapFileName()), flags,
                useNativeDialogs, openedFrom, [&map] (const juce::File& chosen) { saveChosenFile (map, chosen); });
    watchForDesktopDialog (saveDialogTitle, openedFrom);
}

void CCMapperUIManager::loadMidiMap (juce::Component* openedFrom)
{
    if (mapper == nullptr)
        return;

    auto& map = *mapper;
    const auto announceChange = onMapChanged; // a copy: the dialog may outlast this manager

    constexpr auto flags = juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles;

    openDialog (map, loadDialogTitle, getDialogStartFolder(), flags, useNativeDialogs, openedFrom,
                [&map, announceChange] (const juce::File& chosen)
                {
                    if (loadMapFile (map, chosen) && announceChange != nullptr)
                        announceChange();
                });
    watchForDesktopDialog (loadDialogTitle, openedFrom);
}

// The desktop's dialog starts as a process of its own, which takes no parent from a plug-in's
// view: it is looked for until it shows, for a while, and kept in front of the view's window.
void CCMapperUIManager::watchForDesktopDialog (const char* title, juce::Component* openedFrom)
{
    desktopDialogWatch.stopTimer();

    if (openedFrom == nullptr || ! useNativeDialogs || ! juce::FileChooser::isPlatformDialogAvailable())
        return;

    desktopDialogWatch.view = openedFrom;
    desktopDialogWatch.title = title;
    desktopDialogWatch.ticksLeft = DesktopDialogWatch::maxTicks;
    desktopDialogWatch.startTimer (DesktopDialogWatch::intervalMs);
}

void CCMapperUIManager::DesktopDialogWatch::timerCallback()
{
    const auto* shown = view.getComponent();

    if (shown == nullptr || --ticksLeft < 0 || keepDesktopDialogInFront (*shown, title))
        stopTimer();
}

// The map owns the dialog, and the dialog owns onChosen: what onChosen refers to of the map is
// there whenever it runs. A dialog destroyed with its map calls nothing.
void CCMapperUIManager::openDialog (CCMapper& map, const juce::String& title, const juce::File& start, int flags,
                                    bool native, juce::Component* openedFrom,
                                    std::function<void (const juce::File&)> onChosen)
{
    map.fileDialogQuestion.reset();
    map.fileDialog = std::make_unique<juce::FileChooser> (title, start, mapFilePattern(), native, false, nullptr);
    map.fileDialog->launchAsync (flags, [onChosen = std::move (onChosen)] (const juce::FileChooser& chooser)
    {
        const auto file = chooser.getResult();

        if (file != juce::File())
            onChosen (file);
    });

    // The framework's dialog is on screen already: it goes in front of the window now rather than
    // at the view's next look.
    if (openedFrom != nullptr)
        keepDialogsInFront (*openedFrom);
}

void CCMapperUIManager::saveChosenFile (CCMapper& map, const juce::File& chosen)
{
    const auto file = withMapFileExtension (chosen);

    // The dialog asked about the file as chosen; a name that gained the extension may name another.
    if (file != chosen && file.exists())
        askBeforeReplacing (map, file);
    else
        writeMapFile (map.mapTree, file);
}

// The dialog's own question, asked without a nested message loop. The map owns the question; its
// answer writes only while the question (and so the map) is still there.
void CCMapperUIManager::askBeforeReplacing (CCMapper& map, const juce::File& file)
{
    auto& lookAndFeel = juce::LookAndFeel::getDefaultLookAndFeel();
    const auto message = TRANS ("There's already a file called: FLNM").replace ("FLNM", file.getFullPathName())
                       + "\n\n" + TRANS ("Are you sure you want to overwrite it?");

    std::unique_ptr<juce::Component> question (lookAndFeel.createAlertWindow (TRANS ("File already exists"), message,
                                                                             TRANS ("Overwrite"), TRANS ("Cancel"), {},
                                                                             juce::MessageBoxIconType::WarningIcon, 2, nullptr));
    const juce::Component::SafePointer<juce::Component> asked (question.get());

    question->enterModalState (true, juce::ModalCallbackFunction::create ([&map, file, asked] (int result)
    {
        if (asked == nullptr)
            return;

        if (result != 0)
            writeMapFile (map.mapTree, file);

        map.fileDialogQuestion.reset();
    }), false);

    map.fileDialogQuestion = std::move (question);
}

//==============================================================================
bool CCMapperUIManager::writeMapFile (const juce::ValueTree& map, const juce::File& file)
{
    if (! map.isValid() || file == juce::File() || file.isDirectory())
        return false;

    const auto xml = map.createXml();

    if (xml == nullptr)
        return false;

    const auto textOf = [] (const juce::XmlElement& element)
    {
        juce::XmlElement::TextFormat format;
        format.addDefaultHeader = true;
        format.lineWrapLength = 60;
        format.newLineChars = "\r\n";

        juce::MemoryBlock text;
        juce::MemoryOutputStream out (text, false);
        element.writeTo (out, format);
        out.flush();
        return text;
    };

    // A map loaded from a file that held more than bindings keeps it all, and could be written
    // too large for LOAD to read again: it is then written as its bindings only.
    auto text = textOf (*xml);

    if (parseUntrustedXml (text.getData(), text.getSize()) == nullptr)
        if (const auto own = CCMapper::ownBindings (map).createXml())
            text = textOf (*own);

    return writeFileAtomically (file, text.getData(), text.getSize());
}

bool CCMapperUIManager::loadMapFile (const juce::File& file)
{
    return mapper != nullptr && loadMapFile (*mapper, file);
}

bool CCMapperUIManager::loadMapFile (CCMapper& map, const juce::File& file)
{
    const auto xml = readPresetFile (file);

    if (xml == nullptr)
        return false;

    const auto before = map.mapTree.createCopy();

    // loadFromXml publishes the new bindings to the audio thread itself.
    return map.loadFromXml (*xml) && ! map.mapTree.isEquivalentTo (before);
}
} // namespace orvnlib
