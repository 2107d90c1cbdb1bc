#include "QuorilAudioProcessor.h"

#include "UntrustedXml.h"

namespace
{
const char* const programAttribute = "program";

// The document's first element named exactly "Metadata", where the preset name is kept.
juce::XmlElement* metadataOf (juce::XmlElement& document)
{
    for (auto* child : document.getChildIterator())
        if (child->getTagName() == "Metadata")
            return child;

    return nullptr;
}

// The current program travels with the state, in the "Metadata" element, when it is not the first;
// whatever a loaded preset left there is replaced.
void writeProgram (juce::XmlElement& document, int program)
{
    auto* metadata = metadataOf (document);

    if (program == 0)
    {
        if (metadata != nullptr)
            metadata->removeAttribute (programAttribute);
        return;
    }

    if (metadata == nullptr)
        metadata = document.createNewChildElement ("Metadata");

    metadata->setAttribute (programAttribute, program);
}

// The program a saved state holds, limited to the programs there are; 0 when it holds none.
int programIn (juce::XmlElement& document, int numPrograms)
{
    const auto* metadata = metadataOf (document);
    const auto stored = metadata != nullptr ? metadata->getDoubleAttribute (programAttribute) : 0.0;

    if (stored >= (double) (numPrograms - 1))
        return numPrograms - 1;

    return stored > 0.0 ? (int) stored : 0;
}
} // namespace

void QuorilAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const MessageLoopHold hold;

    // A pending notice stays: the host may be taking the state for a backup, an undo step or a
    // comparison rather than to save the project.
    auto document = createStateTree();
    auto xml = document.createXml();

    if (xml == nullptr)
        xml = std::make_unique<juce::XmlElement> ("Quoril");

    // The map is the controller map's alone: a map that a preset brought along stays in the tree
    // but is not saved, or a restore would take it for the current one.
    for (auto* child = xml->getFirstChildElement(); child != nullptr;)
    {
        auto* next = child->getNextElement();
        if (child->getTagName().equalsIgnoreCase (midiMapTreeType))
            xml->removeChildElement (child, true);
        child = next;
    }

    if (auto mapXml = midiMap.mapTree.createXml())
        xml->addChildElement (new juce::XmlElement (*mapXml));

    const int program = currentProgram.load();
    writeProgram (*xml, program);
    copyXmlToBinary (*xml, destData);

    // A save keeps all that a document from outside held and fills in more (values for every
    // engine node, the parameters it did not name). A state too large for the reader to take
    // again would lose every edit on reopening: it is saved with Quoril's own fields only, and
    // without the preset name should even that name not read back.
    const auto readsBack = [&destData]
    {
        return parseUntrustedXml (static_cast<const char*> (destData.getData()) + 8, destData.getSize() - 8) != nullptr;
    };

    if (readsBack())
        return;

    auto own = createOwnStateTree().createXml();
    own->addChildElement (CCMapper::ownBindings (midiMap.mapTree).createXml().release());
    writeProgram (*own, program);
    copyXmlToBinary (*own, destData);

    if (! readsBack())
    {
        own->deleteAllChildElementsWithTagName ("Metadata");
        writeProgram (*own, program);
        copyXmlToBinary (*own, destData);
    }
}

void QuorilAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const MessageLoopHold hold;

    if (data == nullptr || sizeInBytes <= 8)
        return;

    if (juce::ByteOrder::littleEndianInt (data) != 0x21324356) // "VC2!"
        return;

    const auto textLength = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
    if (textLength <= 0)
        return;

    // The text ends at the data's end or at its zero byte, whichever comes first; like a preset
    // file, a text longer than maxUntrustedXmlBytes is refused by the reader unread.
    const auto* text = static_cast<const char*> (data) + 8;
    auto xml = parseUntrustedXml (text, (size_t) juce::jmin (sizeInBytes - 8, textLength));
    if (xml == nullptr)
        return;

    // The controller map travels as an element of the document, found whatever its letter case.
    // (The framework's lookup by name matches in any case too, but asserts when the case differs.)
    juce::XmlElement* mapElement = nullptr;
    for (auto* child : xml->getChildIterator())
    {
        if (child->getTagName().equalsIgnoreCase (midiMapTreeType))
        {
            mapElement = child;
            break;
        }
    }

    if (mapElement != nullptr)
    {
        const juce::XmlElement mapCopy (*mapElement);
        xml->removeChildElement (mapElement, true);
        midiMap.loadFromXml (mapCopy);
    }

    auto tree = juce::ValueTree::fromXml (*xml);

    if (! tree.isValid() || tree.getType().toString() != "Quoril")
        return;

    // The program comes back as the one the host reads, and no slot is loaded: a selection or a
    // program change still waiting to load is dropped.
    currentProgram.store (programIn (*xml, getNumPrograms()));
    programRequest.store (-1);
    midiPresetLoadPending.store (false);

    applyStateTree (tree);
}
