// The reader for outside XML against the framework's own reader: the same tree for every document
// that Quoril, the framework's writer or the factory presets produce; and the limits it keeps.

#include "support/EngineTestSupport.h"

#include "orvn/CCMapperUIManager.h"
#include "processor/UntrustedXml.h"
#include "support/HostileInputs.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#if QUORIL_HAS_BINARY_DATA
 #include "QuorilBinaryData.h"
#endif

using namespace enginetest;

namespace
{
std::unique_ptr<juce::XmlElement> readBytes (const std::string& bytes) { return parseUntrustedXml (bytes.data(), bytes.size()); }
std::string bytesOf (const juce::String& text) { return text.toStdString(); }

// Both readers give a tree, and the same one (the written text shows tags, attributes in order,
// and text elements).
void expectSameTree (const std::string& bytes, const juce::String& text, const std::string& what)
{
    const auto expected = juce::parseXML (text);
    const auto actual = readBytes (bytes);
    ASSERT_NE (expected, nullptr) << what;
    ASSERT_NE (actual, nullptr) << what;
    EXPECT_EQ (actual->toString(), expected->toString()) << what;
}

void expectSameTree (const juce::String& text, const std::string& what) { expectSameTree (bytesOf (text), text, what); }

void expectSameTreeFromFile (const juce::File& file, const std::string& what)
{
    juce::MemoryBlock data;
    ASSERT_TRUE (file.loadFileAsData (data));
    const auto expected = juce::XmlDocument (file).getDocumentElement();
    const auto actual = parseUntrustedXml (data.getData(), data.getSize());
    ASSERT_NE (expected, nullptr) << what;
    ASSERT_NE (actual, nullptr) << what;
    EXPECT_EQ (actual->toString(), expected->toString()) << what;
}

// Attribute values and text of every kind: markup characters, white space, control characters
// (which the writer puts as references XML itself forbids), non-ASCII and non-BMP characters.
juce::String randomText (juce::Random& random)
{
    static const juce::juce_wchar pool[] = { 'a', 'Z', '0', '9', ' ', '.', '-', '&', '<', '>', '"', '\'', ';', '#', '?', '!', '=',
                                             '/', ']', '\t', '\n', '\r', 1, 8, 11, 31, 0x7f, 0xa0, 0xe9, 0x4e2d, 0xfeff,
                                             0xfffe, 0xffff, 0x1f600, 0x10fffd };
    if (random.nextInt (4) == 0)
        return juce::String (random.nextFloat(), 16);

    juce::String text;
    for (int i = random.nextInt (14); --i >= 0;)
        text += juce::String::charToString (pool[random.nextInt ((int) std::size (pool))]);
    return text;
}

std::unique_ptr<juce::XmlElement> randomState (juce::Random& random, bool withText)
{
    static const char* const tags[] = { "PARAM", "Resonator", "Granulizer", "Diffuser", "Metadata", "Quoril_MIDI_MAP", "x_pos", "a.b", "c-d", "e:f", "_g" };
    static const char* const names[] = { "id", "value", "freq", "preset_name", "cc", "pole", "x_1", "a.b" };

    auto root = std::make_unique<juce::XmlElement> ("Quoril");
    std::vector<juce::XmlElement*> elements { root.get() };

    for (int i = random.nextInt (30); --i >= 0;)
    {
        auto* parent = elements[(size_t) random.nextInt ((int) elements.size())];

        if (withText && random.nextInt (6) == 0)
        {
            parent->addTextElement (random.nextBool() ? randomText (random) : " \r\n\t ");
            continue;
        }

        auto* child = parent->createNewChildElement (tags[random.nextInt ((int) std::size (tags))]);
        for (int a = random.nextInt (5); --a >= 0;)
            child->setAttribute (names[random.nextInt ((int) std::size (names))], randomText (random));
        elements.push_back (child);
    }
    return root;
}
} // namespace

TEST (UntrustedXml, ReadsEveryWrittenDocumentAsTheFrameworkDoes)
{
    // The factory presets.
    QuorilAudioProcessor p;
    ASSERT_EQ (p.factoryPresets.presets.size(), 10u);
   #if QUORIL_HAS_BINARY_DATA
    for (int i = 0; i < QuorilBinaryData::namedResourceListSize; ++i)
    {
        int size = 0;
        const auto* data = QuorilBinaryData::getNamedResource (QuorilBinaryData::namedResourceList[i], size);
        if (juce::String (QuorilBinaryData::originalFilenames[i]).endsWith (".xml"))
            expectSameTree (std::string (data, (size_t) size), juce::String::fromUTF8 (data, size), QuorilBinaryData::originalFilenames[i]);
    }
   #endif

    // The processor's own documents: its saved state, a preset, the map file and the settings file.
    p.midiMap.lastCC = 74;
    p.midiMap.assignToLastCC ("x_pos");
    p.setPresetName ("Dark & \"Pad\" <1>");
    expectSameTree (xmlTextOf (blobOf (p)), "state");
    expectSameTree (stateDocument (0.25f, 0.75f, "Wide"), "preset");

    const auto folder = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("differential");
    ASSERT_TRUE (folder.createDirectory());
    const auto map = folder.getChildFile ("map.mpcc");
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, map));
    expectSameTreeFromFile (map, "map file");

    const auto settings = folder.getChildFile ("settings.prefs");
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        juce::PropertiesFile file (settings, options);
        file.setValue (p.panelWidthKey, 960);
        file.setValue ("other", "a&b <c>\n");
        ASSERT_TRUE (file.save());
    }
    expectSameTreeFromFile (settings, "settings file");

    // Seeded random states in the forms they are written in: the state blob's single line, the
    // default indented form, the map file's wrapped CR LF form, and UTF-16 with its byte-order mark.
    juce::Random random (1313);
    juce::XmlElement::TextFormat mapFormat;
    mapFormat.lineWrapLength = 60;
    mapFormat.newLineChars = "\r\n";

    for (int i = 0; i < 3000; ++i)
    {
        // (The single-line writer cannot write an element behind a text element; states hold none.)
        const bool withText = i % 2 == 1;
        const auto state = randomState (random, withText);
        const auto what = "random state " + std::to_string (i);

        if (! withText)
        {
            juce::MemoryBlock blob;
            juce::AudioProcessor::copyXmlToBinary (*state, blob);
            expectSameTree (xmlTextOf (blob), what + " as a blob");
        }
        expectSameTree (state->toString(), what);
        expectSameTree (state->toString (mapFormat), what + " as a map file");

        if (i % 20 == 0)
        {
            const auto wide = folder.getChildFile ("wide.qpst");
            ASSERT_TRUE (wide.replaceWithText (state->toString(), true, true));
            expectSameTreeFromFile (wide, what + " in UTF-16");
        }

        if (testing::Test::HasFailure())
            break;
    }
    folder.deleteRecursively();
}

// What hand-made files hold beside the writer's forms, where both readers agree.
TEST (UntrustedXml, ReadsHandMadeDocumentsAsTheFrameworkDoes)
{
    const char* const documents[] = {
        " \r\n<?xml version=\"1.0\"?>\r\n<!-- made by hand --><?other?>\n<Quoril a='1'/>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Quoril/>",
        "\xef\xbb\xbf<Quoril/>",
        "<Quoril>text &amp; more<!-- note --> end<a/>  <![CDATA[ raw <x> ]]><![CDATA[]]><![CDATA[  ]]>tail\r\nnext\rline</Quoril>",
        "<Quoril><![CDATA[carriage\rreturn\r\nand line feed\n]]>&#1;\r<![CDATA[&#1;]]></Quoril>",
        "<Quoril a=\"two&#13;&#10;lines&#9;and a tab\" b='it&apos;s &quot;' c=\"&#x41;&#67;&#0;&#1;&#x1F;&#65534;&#65535;\"/>",
        "<Quoril\r\n  a=\"1\"\r\n  b = '2'\r\n/>",
        "<Quoril><e u=\"\xc3\xb6 \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbd; &#x10FFFD;\"/>\xf4\x8f\xbf\xbd&#1114109;</Quoril>",
        "<Quoril>&#32;&#9;<a/>&#13;&#10;x</Quoril>",
        "<Quoril/>junk after the root <<",
        "<Quoril><a/></Quoril><?after?>",
    };
    // Read from files, as presets and map files are.
    const auto file = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("hand-made.qpst");
    for (const auto* document : documents)
    {
        ASSERT_TRUE (file.replaceWithData (document, std::strlen (document)));
        expectSameTreeFromFile (file, document);
    }
    file.deleteFile();
}

// The bounds beside those the hostile input tests drive through the entry points.
TEST (UntrustedXml, KeepsItsLimitsQuickly)
{
    const auto nested = juce::String::repeatedString ("<a>", maxUntrustedXmlDepth) + juce::String::repeatedString ("</a>", maxUntrustedXmlDepth);
    EXPECT_NE (readBytes (bytesOf (nested)), nullptr);
    EXPECT_TRUE (hostile::returnsQuickly ([&] {
        EXPECT_NE (readBytes (hostile::limitDocument (hostile::Limit::documentAttributes)), nullptr);
    }));

    const std::pair<const char*, std::string> refused[] = {
        { "one attribute too many", hostile::limitDocument (hostile::Limit::attributesOnElement, 1) },
        { "undefined entity", "<Quoril>&e;</Quoril>" },
        { "reference before the root", "&#0;<Quoril/>" },
        { "broken entity around a zero", "<Quoril>&am&#0;p;</Quoril>" },
        { "reference past the last character", "<Quoril a=\"&#x110000;\"/>" },
        { "unterminated comment before the root", "<!-- <Quoril/>" },
        { "broken UTF-8", "<Quoril a=\"\xc3\"/>" },
        { "broken UTF-16 surrogate pair", std::string ("\xff\xfe<\0a\0\x3d\xd8/\0>\0", 12) },
        { "UTF-16 cut inside a pair", std::string ("\xff\xfe<\0a\0\x3d\xd8", 8) },
        // What XML forbids in values, text, comments and CDATA sections.
        { "undefined entity in a value", "<Quoril a=\"&e;\"/>" },
        { "ampersand alone in a value", "<Quoril a=\"a & b\"/>" },
        { "decimal reference with a letter", "<Quoril>&#6a;</Quoril>" },
        { "control character in text", "<Quoril>a\x01</Quoril>" },
        { "control character in a value", "<Quoril a=\"\x1f\"/>" },
        { "control character in a comment", "<Quoril><!-- \x0b --></Quoril>" },
        { "control character in a CDATA section", "<Quoril><![CDATA[\x0c]]></Quoril>" },
        { "U+FFFF in text", "<Quoril>\xef\xbf\xbf</Quoril>" },
        { "U+FFFE in a value", "<Quoril a='\xef\xbf\xbe'/>" },
        { "reference to a surrogate", "<Quoril>&#xD800;</Quoril>" },
        { "CDATA end in text", "<Quoril>a]]>b</Quoril>" },
        { "double hyphen in a comment", "<Quoril><!-- a -- b --></Quoril>" },
        { "comment ending in three hyphens", "<Quoril><!-- a ---></Quoril>" },
        { "unterminated comment", "<Quoril><!-- a </Quoril>" },
        { "unterminated CDATA section", "<Quoril><![CDATA[ a </Quoril>" },
        // A byte-order mark anywhere but at the start.
        { "byte-order mark after white space", " \xef\xbb\xbf<Quoril/>" },
        { "byte-order mark after a comment", "<!-- c -->\xef\xbb\xbf<Quoril/>" },
        { "two byte-order marks", "\xef\xbb\xbf\xef\xbb\xbf<Quoril/>" },
        { "UTF-16 byte-order mark, then a UTF-8 one", std::string ("\xff\xfe\xff\xfe<\0a\0/\0>\0", 10) },
        // A noncharacter that stands in for a forbidden reference, beside one.
        { "stand-in written beside a forbidden reference", "<Quoril a=\"&#1;\" b=\"\xef\xb7\x91\"/>" },
        { "stand-in referenced beside a forbidden reference", "<Quoril a=\"&#xFDD1;\">&#65535;</Quoril>" },
        { "document type inside the root", "<Quoril><!DOCTYPE x></Quoril>" },
    };
    for (const auto& [what, text] : refused)
        EXPECT_EQ (readBytes (text), nullptr) << what;

    EXPECT_NE (readBytes ("<Quoril/>x"), nullptr);
    EXPECT_EQ (parseUntrustedXml ("<Quoril/>x", 10, true), nullptr);
}

// A document at each limit is read, through the reader, as a host's state and as a preset file;
// one more of what the limit counts is refused by each, changing nothing.
TEST (UntrustedXml, ReadsDocumentsAtEachLimitAndRefusesOneMore)
{
    using hostile::Limit;
    const std::pair<Limit, const char*> limits[] = {
        { Limit::elements, "elements" }, { Limit::attributesOnElement, "attributes on an element" },
        { Limit::documentAttributes, "attributes in the document" }, { Limit::names, "distinct names" },
        { Limit::base64Names, "distinct names with base64 attributes" }, { Limit::nameBytes, "bytes of a name" },
        { Limit::bytes, "bytes" },
    };
    const auto file = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("limit.qpst");

    for (const auto& [limit, what] : limits)
    {
        for (const int excess : { 0, 1 })
        {
            SCOPED_TRACE (std::string (what) + (excess > 0 ? ", one more" : ""));
            const auto text = hostile::limitDocument (limit, excess);
            const bool within = excess == 0;

            const auto xml = readBytes (text);
            ASSERT_EQ (xml != nullptr, within);
            if (xml != nullptr)
            {
                EXPECT_EQ (xml->getChildByName ("PARAM")->getStringAttribute ("value"), "2");
            }

            QuorilAudioProcessor p;
            restore (p, blobWithText (juce::String (text)));
            EXPECT_EQ (valueOf (p, "out_gain"), within ? 2.0f : 0.0f);

            ASSERT_TRUE (file.replaceWithData (text.data(), text.size()));
            EXPECT_EQ (readPresetFile (file) != nullptr, within);
        }
    }
    file.deleteFile();

    // An attribute value, a text, a CDATA section or a comment may take the whole size.
    for (const auto& [text, kept] : { std::pair { hostile::bigValue ('v', maxUntrustedXmlBytes), true },
                                      { hostile::bigText ('t', maxUntrustedXmlBytes), true },
                                      { hostile::bigCdata (maxUntrustedXmlBytes), true },
                                      { hostile::bigComment (maxUntrustedXmlBytes), false } })
    {
        const auto xml = readBytes (text);
        ASSERT_NE (xml, nullptr) << text.substr (0, 20);
        const auto content = xml->getNumAttributes() > 0 ? xml->getAttributeValue (0) : xml->getAllSubText();
        EXPECT_EQ (content.length() > (int) maxUntrustedXmlBytes - 32, kept) << text.substr (0, 20);
    }

    // The size counts up to the zero that ends the text, in UTF-16 too.
    const auto comment = [] (size_t bytes) { return hostile::filled ("<Quoril><!--", 'c', "--></Quoril>", bytes); };
    EXPECT_NE (readBytes (comment (maxUntrustedXmlBytes) + '\0' + comment (100)), nullptr);
    EXPECT_NE (readBytes (hostile::utf16 (comment ((maxUntrustedXmlBytes - 2) / 2))), nullptr);
    EXPECT_EQ (readBytes (hostile::utf16 (comment ((maxUntrustedXmlBytes - 2) / 2 + 1))), nullptr);
    EXPECT_NE (readBytes (hostile::utf16 (comment ((maxUntrustedXmlBytes - 2) / 2)) + std::string (4, '\0') + "junk"), nullptr);
}

// The largest documents Quoril writes, every field at its longest: a state of random engine
// settings, every parameter bound to a controller and the longest preset name a file can give (a
// file name's 250 bytes, each written as a six-byte reference), and the map file SAVE writes of
// that map. Each is read again, and stays far within every limit of the reader.
TEST (UntrustedXml, QuorilsLargestDocumentsStayFarWithinTheCap)
{
    QuorilAudioProcessor p;
    p.randomizeSettings();
    for (auto* parameter : p.getParameters())
    {
        parameter->setValueNotifyingHost (1.0f / 3.0f);
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
        {
            p.midiMap.lastCC = 127;
            p.midiMap.assignToLastCC (withId->paramID);
        }
    }
    p.setPresetName (juce::String::repeatedString ("\"", 250));

    const auto state = xmlTextOf (blobOf (p)).toStdString();
    const auto mapFile = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("largest.mpcc");
    ASSERT_TRUE (orvnlib::CCMapperUIManager::writeMapFile (p.midiMap.mapTree, mapFile));
    const auto map = mapFile.loadFileAsString().toStdString();
    mapFile.deleteFile();

    const auto& own = quorilXmlNames();
    const auto isOwn = [&] (const juce::String& name) { return std::find (own.begin(), own.end(), name.toStdString()) != own.end(); };

    for (const auto& [what, text] : { std::pair { "state", state }, { "map file", map } })
    {
        const auto xml = readBytes (text);
        ASSERT_NE (xml, nullptr) << what;
        EXPECT_LT (text.size() * 4, maxUntrustedXmlBytes) << what;

        // Every name is one the reader holds pooled; elements and attributes stay far within
        // their limits.
        int elements = 0, attributes = 0, mostOnOne = 0;
        for (std::vector<const juce::XmlElement*> pending { xml.get() }; ! pending.empty();)
        {
            const auto* element = pending.back();
            pending.pop_back();
            ++elements;
            attributes += element->getNumAttributes();
            mostOnOne = juce::jmax (mostOnOne, element->getNumAttributes());
            EXPECT_TRUE (isOwn (element->getTagName())) << what << ": " << element->getTagName();
            for (int i = 0; i < element->getNumAttributes(); ++i)
                EXPECT_TRUE (isOwn (element->getAttributeName (i))) << what << ": " << element->getAttributeName (i);
            for (const auto* child : element->getChildIterator())
                pending.push_back (child);
        }
        std::cout << "Largest " << what << ": " << text.size() << " bytes, " << elements << " elements, " << attributes
                  << " attributes, at most " << mostOnOne << " on one\n";
        EXPECT_LT (elements * 3, maxUntrustedXmlElements) << what;
        EXPECT_LT (attributes * 3, maxUntrustedXmlDocumentAttributes) << what;
        EXPECT_LT (mostOnOne * 2, maxUntrustedXmlAttributes) << what;
    }

    // The settings file's names too.
    for (const auto* name : { "PROPERTIES", "VALUE", "name", "val" })
        EXPECT_TRUE (isOwn (name)) << name;
}
