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

// Runs the action and tells whether it came back within a second.
template <typename Action>
bool returnsQuickly (Action&& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::steady_clock::now() - start < std::chrono::seconds (1);
}
} // namespace hostile
