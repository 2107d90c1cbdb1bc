#include "UntrustedXml.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace
{
//==============================================================================
// The character's UTF-8 bytes at out; returns how many.
size_t encodeUtf8 (juce::uint32 c, char* out) noexcept
{
    size_t n = 0;

    if (c < 0x80)
    {
        out[n++] = (char) c;
    }
    else if (c < 0x800)
    {
        out[n++] = (char) (0xc0 | (c >> 6));
        out[n++] = (char) (0x80 | (c & 0x3f));
    }
    else if (c < 0x10000)
    {
        out[n++] = (char) (0xe0 | (c >> 12));
        out[n++] = (char) (0x80 | ((c >> 6) & 0x3f));
        out[n++] = (char) (0x80 | (c & 0x3f));
    }
    else
    {
        out[n++] = (char) (0xf0 | (c >> 18));
        out[n++] = (char) (0x80 | ((c >> 12) & 0x3f));
        out[n++] = (char) (0x80 | ((c >> 6) & 0x3f));
        out[n++] = (char) (0x80 | (c & 0x3f));
    }

    return n;
}

// Text after a UTF-16 byte-order mark, as UTF-8, up to a zero unit. A broken surrogate pair
// makes the text unreadable.
bool utf16ToUtf8 (const unsigned char* bytes, size_t numBytes, std::string& out)
{
    const bool bigEndian = bytes[0] == 0xfe;
    const auto unitAt = [&] (size_t i) -> juce::uint32
    {
        return bigEndian ? (juce::uint32) ((bytes[i] << 8) | bytes[i + 1])
                         : (juce::uint32) ((bytes[i + 1] << 8) | bytes[i]);
    };

    // Each unit becomes at most three bytes (a pair of them four).
    out.resize ((numBytes / 2) * 3);
    size_t length = 0;

    for (size_t i = 2; i + 1 < numBytes; i += 2)
    {
        auto c = unitAt (i);

        if (c == 0)
            break;

        if (c < 0x80)
        {
            out[length++] = (char) c;
            continue;
        }

        if (c >= 0xd800 && c < 0xdc00)
        {
            if (i + 3 >= numBytes)
                return false;

            const auto low = unitAt (i + 2);

            if (low < 0xdc00 || low > 0xdfff)
                return false;

            c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
            i += 2;
        }
        else if (c >= 0xdc00 && c < 0xe000)
        {
            return false;
        }

        length += encodeUtf8 (c, out.data() + length);
    }

    out.resize (length);
    return true;
}

//==============================================================================
// The framework's writer puts control characters, U+FFFE and U+FFFF as character references,
// which XML forbids and expat refuses; its reader expands them, and reads "&#0;" as nothing.
// Expat is given each such reference as one to a noncharacter that stands in for it (U+FDD0 plus
// a control character's code, U+1FFFE and U+1FFFF), and values and text are kept with the
// stand-ins turned back. A document that holds a stand-in itself beside a reference to turn is
// refused: it would be read ambiguously, and no real document holds one.
class ForbiddenReferences
{
public:
    // The text as expat is to read it: the same text when no reference is turned (nothing is
    // copied then). False when the document is refused.
    bool apply (std::string_view text, std::string_view& parsed)
    {
        bool holdsStandIn = false;
        size_t copied = 0;

        for (auto at = text.find ("&#"); at != std::string_view::npos; at = text.find ("&#", at + 2))
        {
            auto i = at + 2;
            const bool hex = i < text.size() && text[i] == 'x';
            i += hex ? 1u : 0u;
            const auto firstDigit = i;
            juce::uint32 value = 0;

            for (; i < text.size(); ++i)
            {
                const auto digit = hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) text[i])
                                       : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
                if (digit < 0)
                    break;

                value = juce::jmin (value * (hex ? 16u : 10u) + (juce::uint32) digit, 0x110000u);
            }

            if (i == firstDigit || i >= text.size() || text[i] != ';')
                continue;

            holdsStandIn = holdsStandIn || standsIn (value);
            const auto standIn = standInFor (value);

            if (standIn == 0)
                continue;

            if (copy.empty())
            {
                // A reference grows by at most four bytes ("&#1;" becomes "&#xFDD1;").
                copy.reserve (2 * text.size());
                shifts.reserve (text.size() / 4);
            }

            copy.append (text.data() + copied, at - copied).append ("&#x");
            for (int shift = standIn > 0xffff ? 16 : 12; shift >= 0; shift -= 4)
                copy += "0123456789ABCDEF"[(standIn >> shift) & 0xf];
            copy += ';';
            copied = i + 1;
            shifts.push_back ({ copy.size(), copy.size() - copied });
        }

        if (shifts.empty())
        {
            parsed = text;
            return true;
        }

        // A stand-in written as it is: U+FDD0 to U+FDEF, U+1FFFE or U+1FFFF in UTF-8.
        for (auto at = text.find ('\xef'); ! holdsStandIn && at != std::string_view::npos; at = text.find ('\xef', at + 1))
            holdsStandIn = at + 2 < text.size() && text[at + 1] == '\xb7' && isFdStandIn ((unsigned char) text[at + 2]);

        holdsStandIn = holdsStandIn || text.find ("\xf0\x9f\xbf\xbe") != std::string_view::npos
                                    || text.find ("\xf0\x9f\xbf\xbf") != std::string_view::npos;

        copy.append (text.data() + copied, text.size() - copied);
        parsed = copy;
        return ! holdsStandIn;
    }

    // Where a position in the text expat reads stands in the text given.
    size_t originalOffset (size_t at) const
    {
        const auto next = std::upper_bound (shifts.begin(), shifts.end(), at, [] (size_t a, const Shift& s) { return a < s.end; });
        return next == shifts.begin() ? at : at - std::prev (next)->growth;
    }

    // Expat's UTF-8 appended to out, with the stand-ins turned back.
    void appendRestored (std::string& out, const char* s, size_t length) const
    {
        if (shifts.empty())
        {
            out.append (s, length);
            return;
        }

        const auto* b = reinterpret_cast<const unsigned char*> (s);

        for (size_t i = 0; i < length;)
        {
            // Up to the next byte that may begin a stand-in, all at once.
            auto next = i;
            while (next < length && b[next] != 0xef && b[next] != 0xf0)
                ++next;

            out.append (s + i, next - i);
            i = next;

            if (i == length)
                break;

            if (length - i >= 3 && b[i] == 0xef && b[i + 1] == 0xb7 && isFdStandIn (b[i + 2]))
            {
                if (b[i + 2] != 0x90) // "&#0;" stands for nothing
                    out += (char) (b[i + 2] - 0x90);
                i += 3;
            }
            else if (length - i >= 4 && b[i] == 0xf0 && b[i + 1] == 0x9f && b[i + 2] == 0xbf && (b[i + 3] & 0xfe) == 0xbe)
            {
                out.append ("\xef\xbf").push_back ((char) b[i + 3]);
                i += 4;
            }
            else
            {
                out += s[i++];
            }
        }
    }

private:
    // Where a turned reference ends in the text expat reads, and how much longer that text is
    // there than the text given.
    struct Shift
    {
        size_t end, growth;
    };

    std::string copy;
    std::vector<Shift> shifts;

    static juce::uint32 standInFor (juce::uint32 c) noexcept
    {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return 0xfdd0 + c;

        return c == 0xfffe || c == 0xffff ? c + 0x10000 : 0;
    }

    static bool standsIn (juce::uint32 c) noexcept
    {
        return (c >= 0xfdd0 && c <= 0xfdef) || c == 0x1fffe || c == 0x1ffff;
    }

    // The last byte of U+FDD0 to U+FDEF in UTF-8 (after 0xef 0xb7).
    static bool isFdStandIn (unsigned char lastByte) noexcept
    {
        return lastByte >= 0x90 && lastByte <= 0xaf;
    }
};

//==============================================================================
// The names of Quoril's own documents: its state and presets (with the controller map, whose
// elements are named by parameter ids), map files, and the settings file the framework's
// properties writer makes.
constexpr const char* quorilNames[] = {
    "Quoril", "PARAM", "id", "value", "Metadata", "preset_name", "program",
    "Granulizer", "density", "envelope", "size", "speed", "size_rnd", "speed_rnd", "amp_rnd", "out_gain",
    "Resonator", "freq", "feed", "gain", "Diffuser", "damp", "pole", "channel",
    "Quoril_MIDI_MAP", "cc",
    "in_gain", "x_pos", "y_pos", "trajectory", "x_traj_amount", "x_traj_range", "y_traj_amount", "y_traj_range",
    "dry_wet", "pole_a_diff", "pole_b_diff", "pole_c_diff", "pole_d_diff",
    "stereo_link_a", "stereo_link_b", "stereo_link_c", "stereo_link_d",
    "PROPERTIES", "VALUE", "name", "val",
};

// Those names, pooled once and held for the library's life, so that reading them
// never reaches the framework's pool. Sorted for lookup; never changed after loading, so any
// thread may read it.
class QuorilNames
{
public:
    QuorilNames()
    {
        for (const auto* name : quorilNames)
            entries.push_back ({ name, juce::Identifier (name) });

        std::sort (entries.begin(), entries.end(), [] (const Entry& a, const Entry& b) { return a.name < b.name; });
    }

    // The pooled name, or nullptr when it is none of Quoril's.
    const juce::Identifier* find (std::string_view name) const noexcept
    {
        const auto at = std::lower_bound (entries.begin(), entries.end(), name, [] (const Entry& e, std::string_view n) { return e.name < n; });
        return at != entries.end() && at->name == name ? &at->id : nullptr;
    }

private:
    struct Entry
    {
        std::string_view name;
        juce::Identifier id;
    };

    std::vector<Entry> entries;
};

const QuorilNames& namesOfQuoril()
{
    static const QuorilNames names;
    return names;
}

// A text element, and the name of the attribute that holds its text, made once.
const juce::XmlElement& textElement()
{
    static const std::unique_ptr<juce::XmlElement> element (juce::XmlElement::createTextElement ({}));
    return *element;
}

const juce::Identifier& textAttributeName()
{
    static const juce::Identifier name (textElement().getAttributeName (0));
    return name;
}


//==============================================================================
// The distinct names of a document, each kept once: Quoril's own with their pooled names, and up
// to maxUntrustedXmlNewNames others. Open addressing over a power-of-two table at most a quarter
// full.
class NameTable
{
public:
    // The name's number, or -1 when it is new, none of Quoril's, and the table already holds the
    // most such names.
    int intern (const char* name, size_t length)
    {
        const auto mask = slots.size() - 1;

        for (auto slot = (size_t) hash (name, length) & mask;; slot = (slot + 1) & mask)
        {
            const auto index = slots[slot];

            if (index < 0)
            {
                const auto* known = namesOfQuoril().find ({ name, length });

                if (known == nullptr && newNames++ >= maxUntrustedXmlNewNames)
                    return -1;

                slots[slot] = (int) entries.size();
                entries.push_back ({ chars.size(), length, known });
                chars.append (name, length);
                return slots[slot];
            }

            const auto& entry = entries[(size_t) index];

            if (entry.length == length && std::memcmp (chars.data() + entry.first, name, length) == 0)
                return index;
        }
    }

    int size() const noexcept { return (int) entries.size(); }

    std::string_view operator[] (int index) const
    {
        const auto& entry = entries[(size_t) index];
        return { chars.data() + entry.first, entry.length };
    }

    // The pooled name when it is one of Quoril's, else nullptr.
    const juce::Identifier* pooled (int index) const { return entries[(size_t) index].known; }

private:
    struct Entry
    {
        size_t first, length; // in chars
        const juce::Identifier* known;
    };

    static constexpr size_t maxNames = std::size (quorilNames) + maxUntrustedXmlNewNames;

    int newNames = 0;
    std::vector<int> slots = std::vector<int> ((size_t) juce::nextPowerOfTwo (4 * (int) maxNames), -1);
    std::vector<Entry> entries;
    std::string chars;

    static juce::uint64 hash (const char* s, size_t length) noexcept
    {
        juce::uint64 h = 0x9e3779b97f4a7c15ull ^ length;

        for (; length >= 8; s += 8, length -= 8)
        {
            juce::uint64 word;
            std::memcpy (&word, s, 8);
            h = (h ^ word) * 0xff51afd7ed558ccdull;
            h ^= h >> 32;
        }

        for (; length > 0; ++s, --length)
            h = (h ^ (unsigned char) *s) * 0x100000001b3ull;

        h ^= h >> 29;
        return h * 0xc4ceb9fe1a85ec53ull;
    }
};

//==============================================================================
// Reads expat's callbacks into a plain record: names counted and kept once, values and text kept
// in one buffer, elements in document order with their parents. Nothing of the framework is made
// until the whole document is read and within every limit; then the tree is built in one pass, one
// pooled name per distinct name, without recursion and without walking a list of children.
class TreeBuilder
{
public:
    TreeBuilder (XML_Parser p, std::string_view sourceToUse, const ForbiddenReferences& referencesToUse, bool wholeDocumentToUse)
        : parser (p), source (sourceToUse), references (referencesToUse), wholeDocument (wholeDocumentToUse)
    {
        chars.reserve (source.size());
        XML_SetUserData (parser, this);
        XML_SetElementHandler (parser, startElement, endElement);
        XML_SetCharacterDataHandler (parser, characterData);
        XML_SetCdataSectionHandler (parser, startCdata, endCdata);
        XML_SetProcessingInstructionHandler (parser, processingInstruction);
        XML_SetStartDoctypeDeclHandler (parser, refuseDoctype);
        XML_SetEntityDeclHandler (parser, refuseEntity);
        XML_SetExternalEntityRefHandler (parser, refuseExternalEntity);
        XML_SetParamEntityParsing (parser, XML_PARAM_ENTITY_PARSING_NEVER);
       #ifdef XML_DTD
        XML_SetBillionLaughsAttackProtectionMaximumAmplification (parser, 10.0f);
        XML_SetBillionLaughsAttackProtectionActivationThreshold (parser, 1 << 16);
       #endif
    }

    std::unique_ptr<juce::XmlElement> parse (std::string_view text)
    {
        if (text.size() > (size_t) INT_MAX)
            return {};

        const auto status = XML_Parse (parser, text.data(), (int) text.size(), XML_TRUE);

        if (failed || ! rootClosed)
            return {};

        if (status == XML_STATUS_OK || (! wholeDocument && XML_GetErrorCode (parser) == XML_ERROR_ABORTED))
            return build();

        return {};
    }

private:
    struct Piece
    {
        size_t first, size; // in chars
    };

    // An element (name >= 0, its attributes at [first, first + size) in attributes) or a text
    // element (name < 0, its text at [first, first + size) in chars).
    struct Node
    {
        int parent, name;
        Piece piece;
    };

    struct Attribute
    {
        int name;
        Piece value;
    };

    XML_Parser parser;
    const std::string_view source;
    const ForbiddenReferences& references;
    const bool wholeDocument;
    NameTable names;
    std::string chars;
    std::vector<Node> nodes;
    std::vector<Attribute> attributes;
    std::vector<int> open;
    size_t textStart = 0, cdataStart = 0;
    bool inCdata = false, rootClosed = false, failed = false;

    static TreeBuilder& from (void* userData) { return *static_cast<TreeBuilder*> (userData); }

    void fail()
    {
        failed = true;
        XML_StopParser (parser, XML_FALSE);
    }

    bool addNode (int name, Piece piece)
    {
        if ((int) nodes.size() >= maxUntrustedXmlElements)
        {
            fail();
            return false;
        }

        nodes.push_back ({ open.empty() ? -1 : open.back(), name, piece });
        return true;
    }

    // Where the current event starts in the text given.
    size_t eventOffset() const
    {
        return references.originalOffset ((size_t) XML_GetCurrentByteIndex (parser));
    }

    // As the framework's strings judge white space.
    static bool hasNonWhitespace (const char* s, size_t length)
    {
        const auto* end = s + length;

        for (juce::CharPointer_UTF8 p (s); p.getAddress() < end; ++p)
            if (! p.isWhitespace())
                return true;

        return false;
    }

    // The text read since the last element event, comments left out, becomes a text element
    // unless it is white space only, as the framework's reader has it.
    bool endText()
    {
        const Piece piece { textStart, chars.size() - textStart };

        if (piece.size > 0 && hasNonWhitespace (chars.data() + piece.first, piece.size))
        {
            if (! addNode (-1, piece))
                return false;
        }
        else
        {
            chars.resize (textStart);
        }

        textStart = chars.size();
        return true;
    }

    // A name's number, counting the name after "base64:" too, which the framework's value trees
    // make a name of their own.
    int nameOf (const char* name, bool isAttribute)
    {
        const auto length = std::strlen (name);

        if (length > (size_t) maxUntrustedXmlNameBytes)
            return -1;

        const auto index = names.intern (name, length);

        if (index >= 0 && isAttribute && length > 7 && std::memcmp (name, "base64:", 7) == 0
            && names.intern (name + 7, length - 7) < 0)
            return -1;

        return index;
    }

    static void XMLCALL startElement (void* userData, const XML_Char* name, const XML_Char** atts)
    {
        auto& b = from (userData);

        if (b.failed)
            return;

        size_t numAttributes = 0;
        while (atts[2 * numAttributes] != nullptr)
            ++numAttributes;

        if ((int) b.open.size() >= maxUntrustedXmlDepth || numAttributes > (size_t) maxUntrustedXmlAttributes
            || b.attributes.size() + numAttributes > (size_t) maxUntrustedXmlDocumentAttributes || ! b.endText())
            return b.fail();

        const auto nameIndex = b.nameOf (name, false);

        if (nameIndex < 0 || ! b.addNode (nameIndex, { b.attributes.size(), numAttributes }))
            return b.fail();

        for (size_t i = 0; i < numAttributes; ++i)
        {
            const auto attributeName = b.nameOf (atts[2 * i], true);

            if (attributeName < 0)
                return b.fail();

            const auto first = b.chars.size();
            b.references.appendRestored (b.chars, atts[2 * i + 1], std::strlen (atts[2 * i + 1]));
            b.attributes.push_back ({ attributeName, { first, b.chars.size() - first } });
        }

        b.textStart = b.chars.size();
        b.open.push_back ((int) b.nodes.size() - 1);
    }

    static void XMLCALL endElement (void* userData, const XML_Char*)
    {
        auto& b = from (userData);

        if (b.failed || ! b.endText())
            return;

        b.open.pop_back();

        if (! b.open.empty())
            return;

        b.rootClosed = true;

        if (! b.wholeDocument)
            XML_StopParser (b.parser, XML_FALSE); // the framework's reader reads nothing after it either
    }

    static void XMLCALL characterData (void* userData, const XML_Char* s, int length)
    {
        auto& b = from (userData);

        if (b.inCdata || b.failed)
            return;

        // Expat gives each line end and reference on its own.
        if (length == 1 && (unsigned char) *s < 0x80)
            b.chars.push_back (*s);
        else
            b.references.appendRestored (b.chars, s, (size_t) length);
    }

    // A CDATA section is a text element of its own, kept even when empty or blank, as it stands
    // in the text: the framework's reader keeps its carriage returns, which expat would make line
    // feeds.
    static void XMLCALL startCdata (void* userData)
    {
        auto& b = from (userData);

        if (b.failed || ! b.endText())
            return;

        b.inCdata = true;
        b.cdataStart = b.eventOffset() + std::strlen ("<![CDATA[");
    }

    static void XMLCALL endCdata (void* userData)
    {
        auto& b = from (userData);

        if (b.failed)
            return;

        const auto end = b.eventOffset();
        b.inCdata = false;
        b.chars.append (b.source.data() + b.cdataStart, end - b.cdataStart);

        if (b.addNode (-1, { b.textStart, b.chars.size() - b.textStart }))
            b.textStart = b.chars.size();
    }

    // Skipped before the root element and refused inside it: the framework's reader can loop for
    // ever on one that text follows, and none of its documents holds one.
    static void XMLCALL processingInstruction (void* userData, const XML_Char*, const XML_Char*)
    {
        auto& b = from (userData);

        if (! b.open.empty())
            b.fail();
    }

    static void XMLCALL refuseDoctype (void* userData, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        from (userData).fail();
    }

    static void XMLCALL refuseEntity (void* userData, const XML_Char*, int, const XML_Char*, int,
                                      const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
    {
        from (userData).fail();
    }

    static int XMLCALL refuseExternalEntity (XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
    {
        return XML_STATUS_ERROR;
    }

    juce::String stringOf (const Piece& piece) const
    {
        const auto* s = chars.data() + piece.first;
        return juce::String (juce::CharPointer_UTF8 (s), juce::CharPointer_UTF8 (s + piece.size));
    }

    std::unique_ptr<juce::XmlElement> build() const
    {
        if (nodes.empty() || nodes.front().parent >= 0)
            return {};

        // Each name goes through the framework's name pool once.
        std::vector<juce::Identifier> ids ((size_t) names.size());
        const auto idOf = [&] (int index) -> const juce::Identifier&
        {
            auto& id = ids[(size_t) index];

            if (id.isNull())
            {
                if (const auto* known = names.pooled (index))
                    return *known;

                const auto name = names[index];
                id = juce::Identifier (juce::String (juce::CharPointer_UTF8 (name.data()), juce::CharPointer_UTF8 (name.data() + name.size())));
            }

            return id;
        };

        std::vector<std::unique_ptr<juce::XmlElement>> made;
        made.reserve (nodes.size());

        for (const auto& node : nodes)
        {
            if (node.name < 0)
            {
                // As the framework makes a text element, without asking its pool for the name of
                // the text attribute each time.
                auto text = std::make_unique<juce::XmlElement> (textElement());
                text->setAttribute (textAttributeName(), stringOf (node.piece));
                made.push_back (std::move (text));
                continue;
            }

            auto element = std::make_unique<juce::XmlElement> (idOf (node.name));

            for (auto a = node.piece.first; a < node.piece.first + node.piece.size; ++a)
                element->setAttribute (idOf (attributes[a].name), stringOf (attributes[a].value));

            made.push_back (std::move (element));
        }

        // Backwards, each in front of its parent's children: every child ends in its place.
        for (auto i = nodes.size(); --i > 0;)
        {
            const auto parent = nodes[i].parent;

            if (parent < 0)
                return {};

            made[(size_t) parent]->prependChildElement (made[i].release());
        }

        return std::move (made.front());
    }
};

struct ParserDeleter
{
    void operator() (XML_Parser p) const noexcept { XML_ParserFree (p); }
};

bool isXmlSpace (char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
} // namespace

//==============================================================================
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* data, size_t numBytes, bool wholeDocument)
{
    if (data == nullptr || numBytes == 0)
        return {};

    const auto* bytes = static_cast<const unsigned char*> (data);
    std::string utf8;
    std::string_view text (static_cast<const char*> (data), numBytes);

    if (numBytes >= 2 && ((bytes[0] == 0xfe && bytes[1] == 0xff) || (bytes[0] == 0xff && bytes[1] == 0xfe)))
    {
        // The text ends at a zero unit: only what stands before it counts against the limit.
        size_t end = 2;
        while (end + 1 < numBytes && end <= maxUntrustedXmlBytes && (bytes[end] | bytes[end + 1]) != 0)
            end += 2;

        if (end > maxUntrustedXmlBytes || ! utf16ToUtf8 (bytes, juce::jmin (numBytes, end + 2), utf8))
            return {};

        text = utf8;
    }
    else
    {
        // Like the framework's strings, the text ends at a zero byte.
        if (const auto* zero = std::memchr (text.data(), 0, juce::jmin (text.size(), maxUntrustedXmlBytes + 1)))
            text = text.substr (0, (size_t) (static_cast<const char*> (zero) - text.data()));

        if (text.size() > maxUntrustedXmlBytes)
            return {};

        if (text.substr (0, 3) == "\xef\xbb\xbf")
            text.remove_prefix (3);
    }

    // The framework's reader skips white space before the declaration, which expat takes only at
    // the very start; a byte-order mark after it is refused by both.
    while (! text.empty() && isXmlSpace (text.front()))
        text.remove_prefix (1);

    if (text.substr (0, 3) == "\xef\xbb\xbf")
        return {};

    ForbiddenReferences references;
    std::string_view parsed;

    if (! references.apply (text, parsed))
        return {};

    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter> parser (XML_ParserCreate ("UTF-8"));

    if (parser == nullptr)
        return {};

    return TreeBuilder (parser.get(), text, references, wholeDocument).parse (parsed);
}

const std::vector<std::string_view>& quorilXmlNames()
{
    static const std::vector<std::string_view> names (std::begin (quorilNames), std::end (quorilNames));
    return names;
}
