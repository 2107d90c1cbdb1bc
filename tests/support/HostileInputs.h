#pragma once

// Texts that once crashed, hung or over-read the XML reading of saved states, presets, MIDI slots,
// map files and the settings file, with their neighbours: each must be refused quickly, changing
// nothing, or (settings files) read safely.

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
        { "deep nesting in a stored value", document (stored (repeated ("&lt;a>", 10900))) },
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
