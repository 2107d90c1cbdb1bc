#include "QuorilAudioProcessor.h"

#include "XmlTextCheck.h"

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
 #include <sys/stat.h>
#endif

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

// Only plain files are read: a named pipe or a device would block or never end.
bool isPlainFile (const juce::File& file)
{
   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    struct stat info;
    return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
   #else
    return file.existsAsFile();
   #endif
}

} // namespace

std::unique_ptr<juce::XmlElement> readPresetFile (const juce::File& file)
{
    if (file == juce::File() || ! isPlainFile (file) || file.getSize() > maxPresetFileBytes)
        return {};

    juce::FileInputStream in (file);

    if (in.failedToOpen())
        return {};

    juce::MemoryBlock data;
    const auto bytesRead = in.readIntoMemoryBlock (data, (ssize_t) maxPresetFileBytes + 1);

    if (bytesRead == 0 || (juce::int64) bytesRead > maxPresetFileBytes)
        return {};

    const auto* bytes = static_cast<const char*> (data.getData());
    const auto text = juce::String::createStringFromData (bytes, (int) data.getSize());

    // Text marked as UTF-16 by its byte-order mark is decoded before it is checked; any other
    // text must be well-formed UTF-8 as it stands.
    const bool isUtf16 = data.getSize() >= 2
                      && (juce::CharPointer_UTF16::isByteOrderMarkBigEndian (bytes)
                          || juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (bytes));

    if (isUtf16 ? ! isAcceptableXmlText (text.toRawUTF8(), text.getNumBytesAsUTF8())
                : ! isAcceptableXmlText (bytes, data.getSize()))
        return {};

    // Parsing the text (rather than the file) leaves the document without an input source,
    // so a DOCTYPE cannot make the parser open other files.
    return juce::XmlDocument (text).getDocumentElement();
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

    return midiPresetsFolder().getChildFile (files[index]);
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
            noteStateChange();
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
