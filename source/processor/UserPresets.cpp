#include "QuorilAudioProcessor.h"

#include "PlainFile.h"
#include "UntrustedXml.h"

//==============================================================================
const juce::String& presetsFolderPath()
{
    static const juce::String path = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                         .getChildFile ("Orvane_Studio")
                                         .getChildFile ("Presets")
                                         .getChildFile ("Quoril")
                                         .getFullPathName();
    return path;
}

namespace
{
juce::File midiPresetsFolder()
{
    return juce::File (presetsFolderPath()).getChildFile ("MIDI");
}

} // namespace

std::unique_ptr<juce::XmlElement> readPresetFile (const juce::File& file)
{
    juce::MemoryBlock data;

    if (readPlainFile (file, maxPresetFileBytes, data) != PlainFileRead::read)
        return {};

    return parseUntrustedXml (data.getData(), data.getSize());
}

juce::File childFileNamed (const juce::File& folder, const juce::String& name)
{
    // Joined as text: juce::File::getChildFile would read a leading '~' as the home folder
    // and follow ".." and separators as a path.
    if (folder == juce::File() || name.isEmpty() || name == "." || name == ".."
        || name.containsChar (juce::File::getSeparatorChar()) || name.containsChar ('/'))
        return {};

    return juce::File (folder.getFullPathName() + juce::File::getSeparatorString() + name);
}

//==============================================================================
juce::StringArray QuorilAudioProcessor::getMidiPresetFiles()
{
    juce::StringArray files;
    const auto folder = midiPresetsFolder();

    if (! folder.isDirectory())
        return files;

    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*.qpst", juce::File::findFiles))
        files.add (entry.getFile().getFileName());

    files.sortNatural();
    return files;
}

juce::File QuorilAudioProcessor::getMidiPresetFile (const juce::StringArray& files, int index)
{
    if (index < 0 || index >= files.size())
        return {};

    return childFileNamed (midiPresetsFolder(), files[index]);
}

void QuorilAudioProcessor::loadMidiPreset (int program)
{
    if (program < 0)
        return;

    midiProgram.exchange (program);

    // With an editor open, its timer picks the slot up on the message thread.
    if (openEditorCount.load() > 0)
    {
        midiPresetLoadPending.exchange (true);
        return;
    }

    // Called from processBlock: the callback lock is already held by this thread and is
    // re-entered here, so the rest of the block runs with the new state.
    suspendProcessing (true);

    if (auto document = readPresetFile (getMidiPresetFile (midiPresetFiles, midiProgram.load())))
    {
        applyStateTree (juce::ValueTree::fromXml (*document));
        if (document->getTagName() == "Quoril") // any other document was refused: nothing changed
            stateChangePending.store (true); // the audio thread: the timer tells the host
    }

    suspendProcessing (false);
}

//==============================================================================
void QuorilAudioProcessor::setPresetName (const juce::String& name)
{
    auto metadata = parameters.state.getChildWithName ("Metadata");

    if (! metadata.isValid())
    {
        metadata = juce::ValueTree ("Metadata");
        parameters.state.appendChild (metadata, nullptr);
    }

    metadata.setProperty ("preset_name", name, nullptr);
}

juce::String QuorilAudioProcessor::getPresetName() const
{
    return parameters.state.getChildWithName ("Metadata").getProperty ("preset_name", juce::String()).toString();
}
