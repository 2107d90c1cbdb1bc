#include "QuorilAudioProcessor.h"

#include <cstring>

namespace
{
// The most '<' characters a state text may hold. The framework's XML reader, the tree
// conversion and the copies recurse once per nesting level, and every level needs a '<' of
// its own, so this bounds the recursion depth on the message thread's stack. A saved state
// holds a few dozen elements.
constexpr size_t maxMarkupCount = 2048;

bool startsWithIgnoringCase (const char* text, size_t length, const char* word)
{
    const auto wordLength = std::strlen (word);
    if (length < wordLength)
        return false;

    for (size_t i = 0; i < wordLength; ++i)
        if (juce::CharacterFunctions::toUpperCase ((juce::juce_wchar) (unsigned char) text[i])
            != juce::CharacterFunctions::toUpperCase ((juce::juce_wchar) (unsigned char) word[i]))
            return false;

    return true;
}

// Well-formed UTF-8 up to the end or a zero byte. The XML reader decodes a lead byte's
// continuation bytes without looking for the end of the text, so a broken sequence at the end
// would make it read past the buffer.
bool isWellFormedUtf8 (const char* text, size_t length)
{
    for (size_t i = 0; i < length;)
    {
        const auto lead = (unsigned char) text[i];

        if (lead == 0)
            return true;

        size_t extra = 0;
        if (lead < 0x80)        extra = 0;
        else if (lead >= 0xc2 && lead < 0xe0) extra = 1;
        else if (lead >= 0xe0 && lead < 0xf0) extra = 2;
        else if (lead >= 0xf0 && lead < 0xf5) extra = 3;
        else return false;

        if (extra > 0 && i + extra >= length)
            return false;

        for (size_t k = 1; k <= extra; ++k)
            if (((unsigned char) text[i + k] & 0xc0) != 0x80)
                return false;

        i += extra + 1;
    }

    return true;
}

// True when the text may be handed to the XML reader: well-formed UTF-8, not too many elements,
// and no document type declaration (whose entities the reader would expand, recursively and
// into markup).
bool isAcceptableStateText (const char* text, size_t length)
{
    if (! isWellFormedUtf8 (text, length))
        return false;

    size_t markup = 0;

    for (size_t i = 0; i < length; ++i)
    {
        if (text[i] != '<')
            continue;

        if (++markup > maxMarkupCount)
            return false;

        if (startsWithIgnoringCase (text + i, length - i, "<!DOCTYPE"))
            return false;
    }

    return true;
}
} // namespace

void QuorilAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto document = createStateTree();
    auto xml = document.createXml();

    if (xml == nullptr)
        xml = std::make_unique<juce::XmlElement> ("Quoril");

    if (auto mapXml = midiMap.mapTree.createXml())
        xml->addChildElement (new juce::XmlElement (*mapXml));

    copyXmlToBinary (*xml, destData);
}

void QuorilAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return;

    if (juce::ByteOrder::littleEndianInt (data) != 0x21324356) // "VC2!"
        return;

    const auto textLength = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
    if (textLength <= 0)
        return;

    const auto* text = static_cast<const char*> (data) + 8;
    if (! isAcceptableStateText (text, (size_t) juce::jmin (sizeInBytes - 8, textLength)))
        return;

    auto xml = getXmlFromBinary (data, sizeInBytes);
    if (xml == nullptr)
        return;

    // The controller map travels as an element of the document, found whatever its letter case.
    if (auto* mapElement = xml->getChildByName (midiMapTreeType))
    {
        const juce::XmlElement mapCopy (*mapElement);
        xml->removeChildElement (mapElement, true);
        midiMap.loadFromXml (mapCopy);
    }

    auto tree = juce::ValueTree::fromXml (*xml);

    if (tree.isValid() && tree.getType().toString() == "Quoril")
        applyStateTree (tree);
}
