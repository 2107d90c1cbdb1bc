#include "CCMapperUIManager.h"

#include "../processor/CCMapper.h"
#include "../processor/QuorilAudioProcessor.h"
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
    static const juce::String pattern = juce::String ("*.") + "mpcc";
    return pattern;
}

juce::File CCMapperUIManager::getDialogStartFolder()
{
    return juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
}

// The dialogs run a nested message loop, in which the host may close the window and delete this
// manager with it. The map belongs to the processor and outlives every window, so it is taken
// before the dialog opens and nothing of the manager is used after: a file chosen in a dialog
// whose window has gone is still saved from or loaded into the processor's map.
void CCMapperUIManager::saveMidiMap()
{
    auto* map = mapper;

    if (map == nullptr)
        return;

    constexpr auto flags = juce::FileBrowserComponent::saveMode
                         | juce::FileBrowserComponent::canSelectFiles
                         | juce::FileBrowserComponent::warnAboutOverwriting;

    const auto file = chooseFile ("SAVE MIDI MAP", flags, useNativeDialogs);

    if (file != juce::File())
        writeMapFile (map->mapTree, file);
}

void CCMapperUIManager::loadMidiMap()
{
    auto* map = mapper;

    if (map == nullptr)
        return;

    const auto announceChange = onMapChanged; // taken now: the dialog may outlast the window

    constexpr auto flags = juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles;

    const auto file = chooseFile ("LOAD MIDI MAP", flags, useNativeDialogs);

    if (file != juce::File() && loadMapFile (*map, file) && announceChange != nullptr)
        announceChange();
}

juce::File CCMapperUIManager::chooseFile (const juce::String& title, int flags, bool native)
{
    juce::FileChooser chooser (title, getDialogStartFolder(), mapFilePattern(), native, false, nullptr);

    if (! chooser.showDialog (flags, nullptr))
        return {};

    return chooser.getResult();
}

//==============================================================================
bool CCMapperUIManager::writeMapFile (const juce::ValueTree& map, const juce::File& file)
{
    if (! map.isValid() || file == juce::File() || file.isDirectory())
        return false;

    const auto xml = map.createXml();

    if (xml == nullptr)
        return false;

    juce::XmlElement::TextFormat format;
    format.addDefaultHeader = true;
    format.lineWrapLength = 60;
    format.newLineChars = "\r\n";

    juce::MemoryOutputStream text;
    xml->writeTo (text, format);

    // The text goes to a temporary sibling that replaces the target only once all of it is on
    // disk. XmlElement::writeTo (File) does the same but misses a short write (a full disk or a
    // file size limit), after which it would replace the target with a truncated file; the
    // size check below catches that.
    juce::TemporaryFile temp (file);

    {
        juce::FileOutputStream out (temp.getFile());

        if (! out.openedOk())
            return false;

        if (! out.write (text.getData(), text.getDataSize()))
            return false;

        out.flush();

        if (out.getStatus().failed())
            return false;
    }

    if (temp.getFile().getSize() != (juce::int64) text.getDataSize())
        return false;

    return temp.overwriteTargetFileWithTemporary();
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
