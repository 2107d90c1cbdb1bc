// libFuzzer target: feeds arbitrary bytes to the reader of outside XML and through each place that
// reads outside text: the state restore, a preset file, a MIDI map file and the settings file.
// Where the reader accepts a document, the tree must be within the reader's limits and the
// framework's own reader must read the same tree from it.
// Built with -DQUORIL_BUILD_FUZZERS=ON and clang; run with tests/fuzz/xml.dict and the corpus in
// tests/fuzz/corpus/xml_reader.
#include "orvn/CCMapperUIManager.h"
#include "processor/QuorilAudioProcessor.h"
#include "processor/UntrustedXml.h"

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unistd.h>

namespace
{
struct Fixture
{
    Fixture()
    {
        new juce::ScopedJuceInitialiser_GUI();
        processor = new QuorilAudioProcessor();
        manager = new orvnlib::CCMapperUIManager (&processor->midiMap);
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("quoril-xml-fuzz-" + juce::String ((int) ::getpid()));
        folder.createDirectory();
    }

    // Made once and never destroyed: the process ends without tearing JUCE down.
    QuorilAudioProcessor* processor = nullptr;
    orvnlib::CCMapperUIManager* manager = nullptr;
    juce::File folder;
};

Fixture& fixture()
{
    static auto* f = new Fixture();
    return *f;
}

bool hasOnlyPlainBytes (const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] == 0 || data[i] >= 0x80)
            return false;
    return true;
}

// A character reference the framework's reader cuts short: it reads at most 8 hexadecimal or 12
// decimal digits and goes on after the cut as if the rest were text (so "&#x0000000041;" gives
// "1;" where XML means "A"). Comments and processing instructions hold no references.
bool hasReferenceTooLongForTheFramework (std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        for (auto [opener, closer] : { std::pair<std::string_view, std::string_view> { "<!--", "-->" }, { "<?", "?>" } })
        {
            if (text.compare (i, opener.size(), opener) == 0)
            {
                const auto end = text.find (closer, i + opener.size());
                i = end == std::string_view::npos ? text.size() : end + closer.size() - 1;
                break;
            }
        }

        if (i >= text.size() || text.compare (i, 2, "&#") != 0)
            continue;

        auto j = i + 2;
        const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
        const auto firstDigit = hex ? ++j : j;

        while (j < text.size() && (hex ? std::isxdigit ((unsigned char) text[j]) : std::isdigit ((unsigned char) text[j])))
            ++j;

        if (j < text.size() && text[j] == ';' && j - firstDigit > (hex ? 8u : 12u))
            return true;
    }
    return false;
}

// An attribute value's tabs and line ends made spaces, as XML reads them and the framework's
// reader does not.
void normaliseValues (juce::XmlElement& root)
{
    std::vector<juce::XmlElement*> pending { &root };

    while (! pending.empty())
    {
        auto* element = pending.back();
        pending.pop_back();

        // A text element keeps its text as an attribute: text is no attribute value.
        for (int i = 0; ! element->isTextElement() && i < element->getNumAttributes(); ++i)
            element->setAttribute (element->getAttributeName (i), element->getAttributeValue (i).replace ("\r\n", " ")
                                                                     .replaceCharacters ("\t\r\n", "   "));

        for (auto* child : element->getChildIterator())
            pending.push_back (child);
    }
}

// Where both readers are sure to mean the same: plain ASCII text without a reference the framework
// cuts short. Tabs and line ends in attribute values are compared as XML reads them, where no
// reference could stand for one.
void compareWithFramework (const uint8_t* data, size_t size, const juce::XmlElement& ours)
{
    const std::string_view text ((const char*) data, size);
    const bool rawSpaces = text.find_first_of ("\t\r\n") != std::string_view::npos;

    if (! hasOnlyPlainBytes (data, size) || hasReferenceTooLongForTheFramework (text)
        || (rawSpaces && text.find ("&#") != std::string_view::npos))
        return;

    const auto theirs = juce::parseXML (juce::String::fromUTF8 ((const char*) data, (int) size));

    if (theirs != nullptr && rawSpaces)
        normaliseValues (*theirs);

    if (theirs == nullptr || theirs->toString() != ours.toString())
    {
        std::fprintf (stderr, "The readers differ:\nours:   %s\ntheirs: %s\n", ours.toString().toRawUTF8(),
                      theirs != nullptr ? theirs->toString().toRawUTF8() : "(nothing)");
        std::abort();
    }
}

// What the reader's limits count in a tree it gave: the nesting of elements (a text element is
// no level of its own), elements (text elements among them), attributes on one element and in
// all, and distinct names (the name after a "base64:" prefix among them), of which those none of
// Quoril's documents uses count as new.
struct Counts
{
    int depth = 0, elements = 0, attributesOnElement = 0, attributes = 0;
    std::set<juce::String> names;
};

Counts countsOf (const juce::XmlElement& root)
{
    Counts counts;
    std::vector<std::pair<const juce::XmlElement*, int>> pending { { &root, 1 } };

    while (! pending.empty())
    {
        const auto [element, depth] = pending.back();
        pending.pop_back();
        ++counts.elements;

        if (element->isTextElement())
            continue;

        counts.depth = juce::jmax (counts.depth, depth);
        counts.attributesOnElement = juce::jmax (counts.attributesOnElement, element->getNumAttributes());
        counts.attributes += element->getNumAttributes();
        counts.names.insert (element->getTagName());

        for (int i = 0; i < element->getNumAttributes(); ++i)
        {
            const auto name = element->getAttributeName (i);
            counts.names.insert (name);
            if (name.startsWith ("base64:") && name.length() > 7)
                counts.names.insert (name.substring (7));
        }

        for (auto* child : element->getChildIterator())
            pending.push_back ({ child, depth + 1 });
    }
    return counts;
}

bool isWithinLimits (const juce::XmlElement& root)
{
    const auto counts = countsOf (root);
    return counts.depth <= maxUntrustedXmlDepth && counts.elements <= maxUntrustedXmlElements
        && counts.attributesOnElement <= maxUntrustedXmlAttributes && counts.attributes <= maxUntrustedXmlDocumentAttributes
        && (int) std::count_if (counts.names.begin(), counts.names.end(), [] (const juce::String& name)
                                { const auto& own = quorilXmlNames();
                                  return std::find (own.begin(), own.end(), name.toStdString()) == own.end(); })
               <= maxUntrustedXmlNewNames;
}
} // namespace

namespace
{
// The framework's XML reader, wherever it is called from outside its own module (CMakeLists.txt
// links the harness with --wrap for each of these), ends the run when the settings path calls it.
bool inSettingsPath = false;

struct SettingsPathGuard
{
    SettingsPathGuard() { inSettingsPath = true; }
    ~SettingsPathGuard() { inSettingsPath = false; }
};

void refuseInSettingsPath (const char* what)
{
    if (inSettingsPath)
    {
        std::fprintf (stderr, "The settings path called the framework's XML reader (%s).\n", what);
        std::abort();
    }
}
} // namespace

#define QUORIL_WRAP(Result, name, symbol, parameters, arguments)                             \
    Result real##name parameters __asm__ ("__real_" symbol);                                 \
    Result wrapped##name parameters __asm__ ("__wrap_" symbol);                              \
    Result wrapped##name parameters                                                          \
    {                                                                                        \
        refuseInSettingsPath (symbol);                                                       \
        return real##name arguments;                                                         \
    }

using XmlPointer = std::unique_ptr<juce::XmlElement>;
QUORIL_WRAP (XmlPointer, ParseText, "_ZN4juce8parseXMLERKNS_6StringE", (const juce::String& t), (t))
QUORIL_WRAP (XmlPointer, ParseFile, "_ZN4juce8parseXMLERKNS_4FileE", (const juce::File& f), (f))
QUORIL_WRAP (XmlPointer, ParseTextIfTagMatches, "_ZN4juce20parseXMLIfTagMatchesERKNS_6StringENS_9StringRefE",
             (const juce::String& t, juce::StringRef tag), (t, tag))
QUORIL_WRAP (XmlPointer, ParseFileIfTagMatches, "_ZN4juce20parseXMLIfTagMatchesERKNS_4FileENS_9StringRefE",
             (const juce::File& f, juce::StringRef tag), (f, tag))
QUORIL_WRAP (XmlPointer, DocumentParseText, "_ZN4juce11XmlDocument5parseERKNS_6StringE", (const juce::String& t), (t))
QUORIL_WRAP (XmlPointer, DocumentParseFile, "_ZN4juce11XmlDocument5parseERKNS_4FileE", (const juce::File& f), (f))
QUORIL_WRAP (void, DocumentFromText, "_ZN4juce11XmlDocumentC1ERKNS_6StringE", (juce::XmlDocument* d, const juce::String& t), (d, t))
QUORIL_WRAP (void, DocumentFromFile, "_ZN4juce11XmlDocumentC1ERKNS_4FileE", (juce::XmlDocument* d, const juce::File& f), (d, f))

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& f = fixture();

    if (size > (size_t) maxPresetFileBytes)
        return 0;

    // The reader itself.
    if (auto xml = parseUntrustedXml (data, size))
    {
        if (! isWithinLimits (*xml))
            std::abort();

        compareWithFramework (data, size, *xml);
    }

    // The state restore, with the bytes as the blob's text.
    juce::MemoryBlock blob;
    {
        juce::MemoryOutputStream out (blob, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) size);
        out.write (data, size);
    }
    f.processor->setStateInformation (blob.getData(), (int) blob.getSize());

    // A preset file and a map file.
    const auto file = f.folder.getChildFile ("input.qpst");
    file.replaceWithData (data, size);
    readPresetFile (file);
    f.manager->loadMapFile (file);

    // The settings file as an instance reads it, a width stored and saved as a window does, and the
    // file read again by the next instance, which must find that width. None of it may call the
    // framework's XML reader.
    const auto settings = f.folder.getChildFile ("Quoril.prefs");
    // A damaged input is set aside under a free name and never over an older copy: the copies of
    // earlier inputs go, or the names would run out and no input after them would be read.
    for (const auto& copy : juce::RangedDirectoryIterator (f.folder, false, "Quoril.prefs.damaged*",
                                                          juce::File::findFilesAndDirectories))
        copy.getFile().deleteRecursively();
    settings.replaceWithData (data, size);
    {
        const SettingsPathGuard guard;

        if (auto properties = openSettingsFile (settings))
        {
            const int width = 200 + (int) (size % 3000);
            properties->setValue (panelWidthSetting, width);

            if (! properties->saveIfNeeded())
                std::abort();

            properties.reset();
            const auto again = openSettingsFile (settings);

            if (again == nullptr || again->getIntValue (panelWidthSetting) != width)
            {
                std::fprintf (stderr, "The stored width did not come back.\n");
                std::abort();
            }
        }
    }

    return 0;
}
