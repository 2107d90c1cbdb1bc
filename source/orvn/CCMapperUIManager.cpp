#include "CCMapperUIManager.h"

#include "../processor/AtomicFileWrite.h"
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

    if (std::exchange (target->assignRequested, false))
        mapper->assignToLastCC (target->parameterID);
    else if (std::exchange (target->clearRequested, false))
        mapper->clearMapping (target->parameterID);
    else
        return;

    if (onMapChanged != nullptr)
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

    return writeFileAtomically (file, text.getData(), text.getDataSize());
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

    // loadFromXml publishes the new bindings to the audio thread itself.
    return map.loadFromXml (*xml);
}
} // namespace orvnlib
