#pragma once

// Texts that once crashed, hung or over-read the XML reading of saved states, presets, MIDI slots
// and map files, with their neighbours: each must be refused quickly, changing nothing.

#include "processor/UntrustedXml.h"

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

inline std::vector<Input> xmlInputs()
{
    const int depth = maxUntrustedXmlDepth;
    return {
        { "comment inside the root's tag, then deep nesting", "<Quoril <!--\"-->>" + repeated ("<a>", 300000) },
        { "comment inside every tag", "<Quoril>" + repeated ("<a <!-- /> -->>", 60000) },
        { "quote where a tag name starts, then deep nesting", "<Quoril><a><'" + repeated ("<a>", 300000) },
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
    };
}

//==============================================================================
// Documents that cost the reader, and what the plug-in does with what it reads, the most: each
// fills the given number of bytes (a file's limit by default).
constexpr size_t fileBytes = 1 << 20;

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

// One attribute value, comment or text run of the whole size.
inline std::string bigValue (size_t bytes = fileBytes)
{
    const std::string open = "<Quoril a=\"", close = "\"/>";
    return open + std::string (bytes - open.size() - close.size(), 'v') + close;
}

inline std::string bigComment (size_t bytes = fileBytes)
{
    const std::string open = "<Quoril><!--", close = "--></Quoril>";
    return open + std::string (bytes - open.size() - close.size(), 'c') + close;
}

inline std::string bigText (size_t bytes = fileBytes)
{
    const std::string open = "<Quoril>", close = "</Quoril>";
    return open + std::string (bytes - open.size() - close.size(), 't') + close;
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

// Runs the action and tells whether it came back within a second.
template <typename Action>
bool returnsQuickly (Action&& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::steady_clock::now() - start < std::chrono::seconds (1);
}
} // namespace hostile
