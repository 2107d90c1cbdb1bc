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

void CCMapperUIManager::saveMidiMap()
{
    if (mapper == nullptr)
        return;

    juce::FileChooser chooser ("SAVE MIDI MAP", getDialogStartFolder(), mapFilePattern(), true, false, nullptr);

    constexpr auto flags = juce::FileBrowserComponent::saveMode
                         | juce::FileBrowserComponent::canSelectFiles
                         | juce::FileBrowserComponent::warnAboutOverwriting;

    if (! chooser.showDialog (flags, nullptr))
        return;

    writeMapFile (mapper->mapTree, chooser.getResult());
}

void CCMapperUIManager::loadMidiMap()
{
    if (mapper == nullptr)
        return;

    const auto announceChange = onMapChanged; // taken now: the dialog may outlast the window
    juce::FileChooser chooser ("LOAD MIDI MAP", getDialogStartFolder(), mapFilePattern(), true, false, nullptr);

    constexpr auto flags = juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles;

    if (! chooser.showDialog (flags, nullptr))
        return;

    if (loadMapFile (chooser.getResult()) && announceChange != nullptr)
        announceChange();
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
    if (mapper == nullptr)
        return false;

    const auto xml = readPresetFile (file);

    if (xml == nullptr)
        return false;

    // loadFromXml publishes the new bindings to the audio thread itself.
    return mapper->loadFromXml (*xml);
}
} // namespace orvnlib
