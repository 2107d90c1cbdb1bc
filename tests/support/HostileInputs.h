#pragma once

// Texts that once crashed, hung, over-read or took seconds in the XML reading of saved states,
// presets, MIDI slots, map files and the settings file, with their neighbours: each must be
// refused quickly, changing nothing, or (settings files) read safely. Beside them, the costliest
// documents within the reader's limits, for the benchmark.

#include "processor/UntrustedXml.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace hostile
{
struct Input
{
    const char* what;
    std::string bytes;
};

inline std::string repeated (const std::string& text, int times)
{
    std::string result;
    result.reserve (text.size() * (size_t) times);
    while (--times >= 0)
        result += text;
    return result;
}

//==============================================================================
// Documents that cost the reader, and what the plug-in does with what it reads, the most: each
// fills the given number of bytes (a file's limit by default).
constexpr size_t fileBytes = maxUntrustedXmlBytes;

// The index-th of the names of the given width, in ascending order (as the framework compares
// names: digits, then capitals, '_', small letters).
inline std::string nameAt (int index, int width)
{
    static const std::string first = "ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
    static const std::string rest = "0123456789" + first;
    std::string name ((size_t) width, ' ');

    for (int i = width; --i > 0;)
    {
        name[(size_t) i] = rest[(size_t) (index % (int) rest.size())];
        index /= (int) rest.size();
    }
    name[0] = first[(size_t) (index % (int) first.size())];
    return name;
}

// As many empty elements of distinct three-letter names as fit, in falling order: each new name
// sorts before every name read so far.
inline std::string fallingNames (size_t bytes = fileBytes)
{
    const std::string open = "<Quoril>", close = "</Quoril>";
    const auto count = (int) ((bytes - open.size() - close.size()) / 6);
    std::string text = open;
    text.reserve (bytes);
    for (int i = count; --i >= 0;)
        text += "<" + nameAt (i, 3) + "/>";
    return text + close;
}

// Elements of perElement attributes each, as many as fit, with names distinct throughout the
// document and in falling order (or the same names on every element).
inline std::string attributeNames (int perElement, bool distinct = true, size_t bytes = fileBytes)
{
    const std::string open = "<Quoril>", close = "</Quoril>";
    const auto width = perElement * 7 + 5;
    const auto count = (int) ((bytes - open.size() - close.size()) / (size_t) width);
    std::string text = open;
    text.reserve (bytes);
    for (int e = 0; e < count; ++e)
    {
        text += "<e";
        for (int a = 0; a < perElement; ++a)
            text += " " + nameAt (distinct ? (count - e) * perElement - 1 - a : a, 3) + "=\"\"";
        text += "/>";
    }
    return text + close;
}

// One attribute value, comment, text run, CDATA section, name or processing instruction of the
// whole size.
inline std::string filled (const std::string& open, char c, const std::string& close, size_t bytes)
{
    return open + std::string (bytes - open.size() - close.size(), c) + close;
}

inline std::string bigValue (char c = 'v', size_t bytes = fileBytes) { return filled ("<Quoril a=\"", c, "\"/>", bytes); }
inline std::string bigComment (size_t bytes = fileBytes) { return filled ("<Quoril><!--", 'c', "--></Quoril>", bytes); }
inline std::string bigText (char c = 't', size_t bytes = fileBytes) { return filled ("<Quoril>x", c, "</Quoril>", bytes); }
inline std::string bigCdata (size_t bytes = fileBytes) { return filled ("<Quoril><![CDATA[", 'c', "]]></Quoril>", bytes); }
inline std::string longName (size_t bytes = fileBytes) { return filled ("<Quoril><n", 'n', "/></Quoril>", bytes); }
inline std::string longInstruction (size_t bytes = fileBytes) { return filled ("<?i ", 'i', "?><Quoril/>", bytes); }

// As many references as fit, in an attribute value or in text.
inline std::string manyReferences (const std::string& reference, bool inValue, size_t bytes = fileBytes)
{
    const std::string open = inValue ? "<Quoril a=\"" : "<Quoril>", close = inValue ? "\"/>" : "</Quoril>";
    return open + repeated (reference, (int) ((bytes - open.size() - close.size()) / reference.size())) + close;
}

// Empty elements of count distinct names that share a prefix of three-byte characters (which
// every comparison of two of them reads through), in turn, as many as fit.
inline std::string sharedPrefixNames (int prefixCharacters, int count, size_t bytes = fileBytes)
{
    const std::string open = "<Quoril>", close = "</Quoril>", prefix = repeated ("\xe4\xb8\xad", prefixCharacters);
    std::string text = open;
    for (int i = 0; text.size() + prefix.size() + 5 + close.size() <= bytes; ++i)
        text += "<" + prefix + nameAt (i % count, 2) + "/>";
    return text + close;
}

// CDATA sections holding a line end each, as many as the element limit lets, then carriage
// returns as text.
inline std::string cdataLinesThenReturns (size_t bytes = fileBytes)
{
    return filled ("<Quoril>" + repeated ("<![CDATA[\n\r\n]]>", maxUntrustedXmlElements - 2), '\r', "</Quoril>", bytes);
}

//==============================================================================
// The largest documents the reader takes: each within every limit, as costly as the limits let
// a document be for the reader and for what reads its tree.

// The first count of the names Quoril's documents use (which cost no new name), each once.
inline std::vector<std::string> quorilNames (int count)
{
    const auto& names = quorilXmlNames();
    return std::vector<std::string> (names.begin(), names.begin() + std::min (count, (int) names.size()));
}

// The most distinct names: every name Quoril uses as an element, and the most new ones, all
// sorting before any name the plug-in uses, as elements or as "base64:" attribute names (each
// counting twice) with values that decode.
inline std::string mostNames (bool base64 = false)
{
    std::string text = "<A>";
    for (const auto& name : quorilNames (maxUntrustedXmlElements))
        text += "<" + name + "/>";

    if (base64)
    {
        text += "<e";
        for (int i = (maxUntrustedXmlNewNames - 2) / 2; --i >= 0;)
            text += " base64:" + nameAt (i, 3) + "=\"QQ==\"";
        return text + "/></A>";
    }

    for (int i = maxUntrustedXmlNewNames - 1; --i >= 0;)
        text += "<" + nameAt (i, 3) + "/>";
    return text + "</A>";
}

// The most attributes: elements of the most attributes each (Quoril's names) until the document
// holds the most, then empty elements up to the most elements.
inline std::string mostAttributes()
{
    std::string element = "<e";
    int a = 0;
    for (const auto& name : quorilNames (maxUntrustedXmlAttributes))
        element += " " + name + "=\"" + std::to_string (a++) + "\"";
    element += "/>";
    const int full = maxUntrustedXmlDocumentAttributes / maxUntrustedXmlAttributes;
    return "<Quoril>" + repeated (element, full) + repeated ("<e/>", maxUntrustedXmlElements - 1 - full) + "</Quoril>";
}

// The most elements, all parameter children naming one parameter with changing values.
inline std::string mostParameters()
{
    std::string text = "<Quoril>";
    for (int i = 1; i < maxUntrustedXmlElements; ++i)
        text += "<PARAM id=\"x_pos\" value=\"" + std::to_string ((i % 100) / 100.0) + "\"/>";
    return text + "</Quoril>";
}

// The most elements in chains of the deepest nesting.
inline std::string mostDeepChains()
{
    const auto chain = repeated ("<a>", maxUntrustedXmlDepth - 1) + repeated ("</a>", maxUntrustedXmlDepth - 1);
    return "<Quoril>" + repeated (chain, (maxUntrustedXmlElements - 1) / (maxUntrustedXmlDepth - 1)) + "</Quoril>";
}

// Every limit reached at once, the rest of the size one attribute value.
inline std::string mostOfAll (size_t bytes = fileBytes)
{
    // New names: the root's, k elements', "e" and "Z"; the attributes are Quoril's names.
    const int k = maxUntrustedXmlNewNames - 3;
    std::string text = "<A>";
    for (int i = 0; i < k; ++i)
        text += "<" + nameAt (i, 3) + "/>";

    std::string element = "<e";
    for (const auto& name : quorilNames (maxUntrustedXmlAttributes - 1))
        element += " " + name + "=\"1\"";
    element += "/>";
    const int full = (maxUntrustedXmlDocumentAttributes - 1) / (maxUntrustedXmlAttributes - 1);
    text += repeated (element, full);
    text += repeated ("<e/>", maxUntrustedXmlElements - 2 - k - full);
    return filled (text + "<e Z=\"", 'v', "\"/></A>", bytes);
}

// An ASCII text as UTF-16 (little-endian, with its byte-order mark).
inline std::string utf16 (const std::string& ascii)
{
    std::string wide = "\xff\xfe";
    wide.reserve (2 + 2 * ascii.size());
    for (const auto c : ascii)
        wide += std::string { c, '\0' };
    return wide;
}

//==============================================================================
// A state document that sets out_gain to 2 and is exactly at one of the reader's limits (or over
// it by excess): each is read, and one more of what is counted is refused.
enum class Limit { elements, attributesOnElement, documentAttributes, names, base64Names, nameBytes, bytes };

inline std::string limitDocument (Limit limit, int excess = 0)
{
    // Two elements and two attributes, of Quoril's names (Quoril, PARAM, id, value).
    const std::string parameter = "<PARAM id=\"out_gain\" value=\"2\"/>";
    const std::string close = "</Quoril>";
    std::string text = "<Quoril>" + parameter;

    // New attribute names, with a prefix.
    const auto attributes = [] (int count, const char* prefix)
    {
        std::string list;
        for (int a = 0; a < count; ++a)
            list += std::string (" ") + prefix + "a" + std::to_string (a) + "=\"\"";
        return list;
    };

    // Quoril's own names (none of those the parameter uses), which cost no new name.
    const auto ownAttributes = [] (int count)
    {
        std::string list;
        for (const auto& name : quorilNames (count + 2))
            if (name != "id" && name != "value" && count-- > 0)
                list += " " + name + "=\"\"";
        return list;
    };

    switch (limit)
    {
        case Limit::elements:
            text += repeated ("<e/>", maxUntrustedXmlElements - 2 + excess);
            break;

        case Limit::attributesOnElement:
            text += "<Quoril" + ownAttributes (maxUntrustedXmlAttributes + excess) + "/>";
            break;

        case Limit::documentAttributes:
            for (int left = maxUntrustedXmlDocumentAttributes - 2 + excess; left > 0; left -= maxUntrustedXmlAttributes)
                text += "<Quoril" + ownAttributes (std::min (left, maxUntrustedXmlAttributes)) + "/>";
            break;

        case Limit::names: // new ones
            for (int i = 0; i < maxUntrustedXmlNewNames + excess; ++i)
                text += "<n" + std::to_string (i) + "/>";
            break;

        case Limit::base64Names: // "e", and each base64 attribute its name and the name after the prefix
        {
            const int pairs = (maxUntrustedXmlNewNames - 1) / 2;
            text += "<e" + attributes (pairs, "base64:");
            for (int i = 0; i < maxUntrustedXmlNewNames - 1 - 2 * pairs + excess; ++i)
                text += " b" + std::to_string (i) + "=\"\"";
            text += "/>";
            break;
        }

        case Limit::nameBytes: // an element's name and an attribute's
            text += "<" + std::string ((size_t) (maxUntrustedXmlNameBytes + excess), 'n') + " "
                  + std::string ((size_t) (maxUntrustedXmlNameBytes + excess), 'a') + "=\"\"/>";
            break;

        case Limit::bytes:
            text += "<!--" + std::string (maxUntrustedXmlBytes + (size_t) excess - text.size() - close.size() - 7, 'c') + "-->";
            break;
    }

    return text + close;
}

inline std::vector<Input> xmlInputs()
{
    const int depth = maxUntrustedXmlDepth;
    return {
        { "comment inside the root's tag, then deep nesting", "<Quoril <!--\"-->>" + repeated ("<a>", 20000) },
        { "comment inside every tag", "<Quoril>" + repeated ("<a <!-- /> -->>", 4000) },
        { "quote where a tag name starts, then deep nesting", "<Quoril><a><'" + repeated ("<a>", 20000) },
        { "well-formed, one level too deep", "<Quoril>" + repeated ("<a>", depth) + repeated ("</a>", depth) + "</Quoril>" },
        { "cut-off hexadecimal reference", "<Quoril a=\"&#x" },
        { "cut-off reference with a digit", "<Quoril><PARAM id=\"x_pos\" value=\"1\"/>&#x41" },
        { "cut-off decimal reference", "<Quoril>&#65" },
        { "reference without digits", "<Quoril>&#;</Quoril>" },
        { "UTF-8 byte-order mark only", "\xef\xbb\xbf" },
        { "UTF-8 byte-order mark and an open tag", "\xef\xbb\xbf<" },
        { "UTF-16 byte-order mark only", "\xff\xfe" },
        { "instruction and text inside the root", "<Quoril><?x?>text<PARAM id=\"x_pos\" value=\"1\"/></Quoril>" },
        { "document type naming a device", "<!DOCTYPE Quoril SYSTEM \"/dev/zero\"><Quoril>&x;</Quoril>" },
        { "entity expansion", "<!DOCTYPE Quoril [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                              "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><Quoril><Metadata preset_name=\"&c;\"/></Quoril>" },
        { "distinct names in falling order", fallingNames() },
        { "distinct attribute names, the most on each element", attributeNames (maxUntrustedXmlAttributes) },
        { "one element too many", limitDocument (Limit::elements, 1) },
        { "one attribute too many on an element", limitDocument (Limit::attributesOnElement, 1) },
        { "one attribute too many in the document", limitDocument (Limit::documentAttributes, 1) },
        { "one new name too many", limitDocument (Limit::names, 1) },
        { "one new name too many, as a base64 attribute", limitDocument (Limit::base64Names, 1) },
        { "one byte too many", limitDocument (Limit::bytes, 1) },
    };
}

// Settings files that are well-formed and hold the width 640 beside what the framework's settings
// reader and writer crash on, loop on for ever or read past: values holding elements behind text
// (which its loader writes as one line), stored values that its writer parses again as XML, and a
// character cut in two by its first look at the root tag.
inline std::vector<Input> settingsFileInputs()
{
    const std::string width ("<VALUE name=\"panel_width\" val=\"640\"/>");
    const auto document = [&] (const std::string& values)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + ("<PROPERTIES>" + values) + width + "</PROPERTIES>";
    };
    const auto stored = [] (const std::string& value) { return "<VALUE name=\"other\" val=\"" + value + "\"/>"; };
    const auto cutAt = [&] (int filler, const std::string& character)
    {
        return "<PROPERTIES a=\"" + std::string ((size_t) filler, 'x') + character + "\">" + width + "</PROPERTIES>";
    };
    return {
        { "an element behind text in a value", document ("<VALUE name=\"k\"><a>t<b><c/></b></a></VALUE>") },
        { "an empty element behind text in a value", document ("<VALUE name=\"k\"><a>t<b/></a></VALUE>") },
        { "long attributes behind text in a value",
          document ("<VALUE name=\"k\"><a>t<b x=\"" + std::string (61, 'y') + "\"/></a></VALUE>") },
        { "an instruction and text in a stored value", document (stored ("&lt;a&gt;&lt;?p?&gt;t&lt;/a&gt;")) },
        { "a cut-off reference in a stored value", document (stored ("&lt;a&gt;&amp;#x")) },
        { "deep nesting in a stored value", document (stored (repeated ("&lt;a>", (int) (fileBytes - 200) / 6))) },
        { "a three-byte character cut after one byte", cutAt (8176, "\xe2\x82\xac") },
        { "a three-byte character cut after two bytes", cutAt (8175, "\xe2\x82\xac") },
        { "a four-byte character cut", cutAt (8176, "\xf0\x9f\x98\x80") },
    };
}

// Runs the action and tells whether it came back within a second.
template <typename Action>
bool returnsQuickly (Action&& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::steady_clock::now() - start < std::chrono::seconds (1);
}
} // namespace hostile
