#include "UntrustedXml.h"

#include <expat.h>

#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
 #include <cerrno>
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
//==============================================================================
bool isSpace (char c) noexcept
{
    return c == ' ' || (c >= 9 && c <= 13);
}

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

void appendUtf8 (std::string& out, juce::uint32 c)
{
    char bytes[4];
    out.append (bytes, encodeUtf8 (c, bytes));
}

int hexDigitValue (char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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

// Well-formed UTF-8 throughout: the parts skipped here before expat sees the text (and the rest
// of the settings file, which the framework reads again) must not hold a broken sequence either,
// as the framework's reader steps over one past the end of its text.
bool isWellFormedUtf8 (const char* text, size_t length) noexcept
{
    const auto* bytes = reinterpret_cast<const unsigned char*> (text);

    for (size_t i = 0; i < length;)
    {
        // Plain ASCII, eight bytes at a time.
        if (length - i >= 8)
        {
            juce::uint64 word;
            std::memcpy (&word, bytes + i, 8);

            if ((word & 0x8080808080808080ull) == 0)
            {
                i += 8;
                continue;
            }
        }

        const auto lead = bytes[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t extra = 0;
        unsigned char low = 0x80, high = 0xbf;

        if (lead >= 0xc2 && lead <= 0xdf)      extra = 1;
        else if (lead == 0xe0)                 extra = 2, low = 0xa0;
        else if (lead == 0xed)                 extra = 2, high = 0x9f;
        else if (lead >= 0xe1 && lead <= 0xef) extra = 2;
        else if (lead == 0xf0)                 extra = 3, low = 0x90;
        else if (lead == 0xf4)                 extra = 3, high = 0x8f;
        else if (lead >= 0xf1 && lead <= 0xf3) extra = 3;
        else                                   return false;

        if (length - i <= extra || bytes[i + 1] < low || bytes[i + 1] > high)
            return false;

        for (size_t k = 2; k <= extra; ++k)
            if ((bytes[i + k] & 0xc0) != 0x80)
                return false;

        i += extra + 1;
    }

    return true;
}

//==============================================================================
// What the text pass takes out of the document: every attribute value, and the text, CDATA
// sections and comments inside the root element. Values and text are decoded (references
// expanded, line ends in text made line feeds) into one buffer, in document order.
struct Content
{
    struct Piece
    {
        size_t first, size; // in chars
    };

    // Text or a CDATA section that comes before the element event (a start or an end of an
    // element, as expat reports them) numbered event.
    struct Text
    {
        size_t event;
        Piece piece;
        bool cdata;
    };

    std::string chars;
    std::vector<Piece> values;
    std::vector<Text> texts;
};

// One pass over the text, before expat sees any of it. Expat is given the markup alone, with
// every attribute value emptied and nothing between the tags inside the root element, so that
// the time it takes is bounded by the number of tags and attributes, which the limits bound;
// what it no longer sees is checked here as it would have checked it.
//
// Where it differs from XML, it reads as the framework's reader does: attribute values keep white
// space, line ends and '<' as they are, references to characters that XML forbids (which the
// framework writes for control characters) are expanded, and a hexadecimal reference may be
// written "&#X". Before the root element and after it, the text is left to expat as it is.
class TextPass
{
public:
    TextPass (std::string_view textToUse, bool wholeDocumentToUse)
        : text (textToUse), wholeDocument (wholeDocumentToUse)
    {
    }

    // The markup for expat, or false when the text is refused already.
    bool run (std::string& markup, Content& content)
    {
        if (! skipProlog())
            return false;

        out = &markup;
        found = &content;
        copied = pos;
        found->chars.reserve (text.size() - pos);

        while (pos < text.size())
        {
            if (depth == 0)
            {
                if (rootClosed && ! wholeDocument)
                    break; // the framework's reader reads nothing after the root element either

                if (! outside())
                    return false;
            }
            else if (! inside())
            {
                return false;
            }

            if (out->size() + (pos - copied) > maxUntrustedXmlMarkupBytes)
                return false;
        }

        flushText();
        out->append (text.data() + copied, pos - copied);
        return true;
    }

private:
    std::string_view text;
    const bool wholeDocument;
    size_t pos = 0, copied = 0;
    std::string* out = nullptr;
    Content* found = nullptr;
    int depth = 0, sections = 0; // start tags and CDATA sections: elements each
    size_t events = 0;
    bool rootClosed = false;
    size_t textStart = 0;
    bool inText = false;

    enum Stop : unsigned char { plain = 0, markupStart, reference, lineEnd, bracket, forbidden, maybeNonCharacter, quote };

    // What the content and value scans stop at.
    static const std::array<Stop, 256>& stops (bool inValue)
    {
        static const auto tables = []
        {
            std::array<std::array<Stop, 256>, 2> t {};
            for (auto& row : t)
            {
                for (int c = 1; c < 0x20; ++c)
                    if (c != '\t' && c != '\n' && c != '\r')
                        row[(size_t) c] = forbidden;
                row['&'] = reference;
                row[0xef] = maybeNonCharacter;
            }
            t[0]['<'] = markupStart;
            t[0]['\r'] = lineEnd;
            t[0][']'] = bracket;
            t[1]['"'] = quote;
            t[1]['\''] = quote;
            return t;
        }();
        return tables[inValue ? 1 : 0];
    }

    bool startsWith (std::string_view word) const noexcept
    {
        return text.compare (pos, word.size(), word) == 0;
    }

    static bool isTagStop (char c) noexcept
    {
        return c == '"' || c == '\'' || c == '>';
    }

    // U+FFFE and U+FFFF, which XML forbids as it forbids most control characters.
    bool isNonCharacterAt (size_t i) const noexcept
    {
        return i + 2 < text.size() && (unsigned char) text[i + 1] == 0xbf && ((unsigned char) text[i + 2] & 0xfe) == 0xbe;
    }

    // The markup from copied up to from goes to expat; what follows up to pos does not.
    void leaveOut (size_t from)
    {
        out->append (text.data() + copied, from - copied);
        copied = pos;
    }

    // The framework's reader skips whitespace, comments and processing instructions (the
    // declaration among them) before the root element; expat would refuse a declaration that
    // does not stand at the very start.
    bool skipProlog()
    {
        for (;;)
        {
            while (pos < text.size() && isSpace (text[pos]))
                ++pos;

            std::string_view opener, close;

            if (startsWith ("<!--"))
                opener = "<!--", close = "-->";
            else if (startsWith ("<?"))
                opener = "<?", close = "?>";
            else
                return true;

            const auto end = text.find (close, pos + opener.size());

            if (end == std::string_view::npos)
                return false;

            pos = end + close.size();
        }
    }

    // Before the root element and after it: everything to expat, as it is, up to a tag.
    bool outside()
    {
        const auto next = text.find ('<', pos);

        if (next == std::string_view::npos)
        {
            pos = text.size();
            return true;
        }

        pos = next;

        for (auto [opener, close] : { std::pair<std::string_view, std::string_view> { "<!--", "-->" }, { "<?", "?>" } })
        {
            if (startsWith (opener))
            {
                const auto end = text.find (close, pos + opener.size());
                pos = end == std::string_view::npos ? text.size() : end + close.size();
                return true;
            }
        }

        // A document type (refused by expat) or anything else that is not a tag.
        if (startsWith ("<!"))
        {
            pos += 2;
            return true;
        }

        return tag();
    }

    // Inside the root element: text, comments and CDATA sections are taken out, up to a tag.
    bool inside()
    {
        const auto& stop = stops (false);

        // The tag before goes to expat; nothing from here up to the next tag does.
        out->append (text.data() + copied, pos - copied);
        copied = pos;

        while (pos < text.size())
        {
            const auto runStart = pos;

            while (pos < text.size() && stop[(unsigned char) text[pos]] == plain)
                ++pos;

            if (pos > runStart)
                appendText (runStart, pos);

            if (pos >= text.size())
            {
                copied = pos;
                return true;
            }

            switch (stop[(unsigned char) text[pos]])
            {
                case markupStart:
                    if (startsWith ("<!--"))
                    {
                        if (! comment())
                            return false;
                        continue;
                    }

                    if (startsWith ("<![CDATA["))
                    {
                        if (! cdata())
                            return false;
                        continue;
                    }

                    // An instruction inside the root element (the framework's reader can loop
                    // for ever on one that text follows, and none of its documents holds one),
                    // or a declaration, which XML allows nowhere inside it.
                    if (startsWith ("<?") || startsWith ("<!"))
                        return false;

                    flushText();
                    copied = pos;
                    return tag();

                case reference:
                    if (! readReference (true))
                        return false;
                    break;

                case lineEnd:
                    startText();
                    found->chars += '\n';
                    pos += startsWith ("\r\n") ? 2u : 1u;
                    break;

                case bracket:
                    if (startsWith ("]]>"))
                        return false;
                    appendText (pos, pos + 1);
                    ++pos;
                    break;

                case maybeNonCharacter:
                    if (isNonCharacterAt (pos))
                        return false;
                    appendText (pos, pos + 1);
                    ++pos;
                    break;

                case forbidden:
                case quote:
                case plain:
                    return false;
            }
        }

        return true;
    }

    void startText()
    {
        if (! inText)
        {
            inText = true;
            textStart = found->chars.size();
        }
    }

    void appendText (size_t from, size_t to)
    {
        if (to > from)
        {
            startText();
            found->chars.append (text.data() + from, to - from);
        }
    }

    void flushText()
    {
        if (inText)
        {
            inText = false;
            found->texts.push_back ({ events, { textStart, found->chars.size() - textStart }, false });
        }
    }

    // At "<!--": the comment is left out, text around it read as one. "--" may only end it.
    bool comment()
    {
        const auto end = text.find ("--", pos + 4);

        if (end == std::string_view::npos || end + 2 >= text.size() || text[end + 2] != '>')
            return false;

        if (! hasOnlyXmlCharacters (pos + 4, end))
            return false;

        pos = end + 3;
        return true;
    }

    // At "<![CDATA[": a text element of its own, kept even when empty or blank.
    bool cdata()
    {
        if (++sections > maxUntrustedXmlElements)
            return false;

        flushText();
        const auto end = text.find ("]]>", pos + 9);

        if (end == std::string_view::npos || ! hasOnlyXmlCharacters (pos + 9, end))
            return false;

        const auto first = found->chars.size();

        for (auto i = pos + 9; i < end;)
        {
            // (Looked for up to the section's end only: a search through the rest of the text for
            // every section would cost the text's length times the sections.)
            const auto* carriageReturn = static_cast<const char*> (std::memchr (text.data() + i, '\r', end - i));
            const auto runEnd = carriageReturn == nullptr ? end : (size_t) (carriageReturn - text.data());
            found->chars.append (text.data() + i, runEnd - i);
            i = runEnd;

            if (i < end)
            {
                found->chars += '\n';
                i += (i + 1 < end && text[i + 1] == '\n') ? 2u : 1u;
            }
        }

        found->texts.push_back ({ events, { first, found->chars.size() - first }, true });
        pos = end + 3;
        return true;
    }

    bool hasOnlyXmlCharacters (size_t from, size_t to) const noexcept
    {
        const auto& stop = stops (false);

        for (auto i = from; i < to; ++i)
        {
            const auto kind = stop[(unsigned char) text[i]];

            if (kind == forbidden || (kind == maybeNonCharacter && isNonCharacterAt (i)))
                return false;
        }

        return true;
    }

    // At '<' of a start or end tag: the tag goes to expat, its attribute values emptied.
    bool tag()
    {
        const bool isEnd = startsWith ("</");
        bool empty = false;
        int numValues = 0;
        ++pos;

        for (;;)
        {
            // The tag's markup never runs past what is left of the markup's bound (its values,
            // taken out, do not count).
            const auto used = out->size() + (pos - copied);
            const auto limit = juce::jmin (text.size(), pos + (maxUntrustedXmlMarkupBytes - juce::jmin (maxUntrustedXmlMarkupBytes, used)));
            auto next = pos;

            while (next < limit && ! isTagStop (text[next]))
                ++next;

            if (next >= limit)
            {
                if (limit < text.size())
                    return false;

                pos = text.size(); // cut off: expat refuses it
                return true;
            }

            if (text[next] == '>')
            {
                empty = next > 0 && text[next - 1] == '/';
                pos = next + 1;
                break;
            }

            pos = next + 1;

            if (++numValues > maxUntrustedXmlAttributes || ! value (text[next]))
                return false;
        }

        if (isEnd)
        {
            ++events;
            --depth;
        }
        else if (empty)
        {
            events += 2;
        }
        else
        {
            ++events;
            ++depth;
        }

        if (! isEnd && (++sections > maxUntrustedXmlElements || depth > maxUntrustedXmlDepth))
            return false;

        if (depth <= 0)
        {
            depth = 0;
            rootClosed = true;
        }

        return true;
    }

    // After an attribute value's opening quote: the value is taken out, up to its closing quote.
    bool value (char quoteChar)
    {
        if (found->values.size() >= (size_t) maxUntrustedXmlDocumentAttributes)
            return false;

        const auto& stop = stops (true);
        const auto start = pos;
        const auto first = found->chars.size();

        for (;;)
        {
            const auto runStart = pos;

            while (pos < text.size() && stop[(unsigned char) text[pos]] == plain)
                ++pos;

            if (pos > runStart)
                found->chars.append (text.data() + runStart, pos - runStart);

            if (pos >= text.size())
                return true; // cut off: expat refuses it

            const auto c = text[pos];
            const auto kind = stop[(unsigned char) c];

            if (kind == quote && c == quoteChar)
                break;

            if (kind == reference)
            {
                if (! readReference (false))
                    return false;
                continue;
            }

            if (kind == forbidden || (kind == maybeNonCharacter && isNonCharacterAt (pos)))
                return false;

            found->chars += c;
            ++pos;
        }

        found->values.push_back ({ first, found->chars.size() - first });
        leaveOut (start);
        ++pos; // the closing quote goes to expat
        return true;
    }

    // At '&': the character a reference stands for, appended to the text or value being read;
    // false for anything but the five entities XML defines and a character reference to a
    // character (or a zero, which the framework's reader reads as nothing).
    bool readReference (bool intoText)
    {
        if (pos + 1 >= text.size() || text[pos + 1] != '#')
        {
            std::string_view name;
            char c = 0;

            switch (pos + 1 < text.size() ? text[pos + 1] : 0)
            {
                case 'a': std::tie (name, c) = startsWith ("&amp;") ? std::pair { "&amp;", '&' } : std::pair { "&apos;", '\'' }; break;
                case 'l': name = "&lt;", c = '<'; break;
                case 'g': name = "&gt;", c = '>'; break;
                case 'q': name = "&quot;", c = '"'; break;
                default: return false;
            }

            if (! startsWith (name))
                return false;

            if (intoText)
                startText();

            found->chars += c;
            pos += name.size();
            return true;
        }

        auto i = pos + 2;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');

        if (hex)
            ++i;

        juce::uint32 value = 0;
        size_t digits = 0;

        for (; i < text.size() && text[i] != ';'; ++i, ++digits)
        {
            const int digit = hex ? hexDigitValue (text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);

            if (digit < 0)
                return false;

            value = value * (hex ? 16u : 10u) + (juce::uint32) digit;

            if (value > 0x10ffff)
                return false;
        }

        if (i >= text.size() || digits == 0)
            return false;

        if (intoText)
            startText();

        if (value >= 0x80)
            appendUtf8 (found->chars, value);
        else if (value != 0)
            found->chars += (char) value;

        pos = i + 1;
        return true;
    }
};

//==============================================================================
// The distinct names of a document, each kept once, up to a number; open addressing over a
// power-of-two table at most a quarter full.
class NameTable
{
public:
    explicit NameTable (int maxNamesToUse)
        : maxNames (maxNamesToUse), slots ((size_t) juce::nextPowerOfTwo (4 * maxNamesToUse + 4), -1)
    {
    }

    // The name's number, or -1 when it is new and the table already holds maxNames names.
    int intern (const char* name, size_t length)
    {
        const auto mask = slots.size() - 1;

        for (auto slot = (size_t) hash (name, length) & mask;; slot = (slot + 1) & mask)
        {
            const auto index = slots[slot];

            if (index < 0)
            {
                if ((int) entries.size() >= maxNames)
                    return -1;

                slots[slot] = (int) entries.size();
                entries.push_back ({ chars.size(), length });
                chars.append (name, length);
                return slots[slot];
            }

            const auto& entry = entries[(size_t) index];

            if (entry.second == length && std::memcmp (chars.data() + entry.first, name, length) == 0)
                return index;
        }
    }

    int size() const noexcept { return (int) entries.size(); }

    std::string_view operator[] (int index) const
    {
        const auto& entry = entries[(size_t) index];
        return { chars.data() + entry.first, entry.second };
    }

private:
    const int maxNames;
    std::vector<int> slots;
    std::vector<std::pair<size_t, size_t>> entries; // where in chars, how long
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
// Reads the markup from expat's callbacks, with the values and text the text pass took out,
// into a plain record: names counted and kept once, elements in document order with their
// parents. Nothing of the framework is made until the whole document is read and within every
// limit; then the tree is built in one pass, one pooled name per distinct name, without
// recursion and without walking a list of children.
class TreeBuilder
{
public:
    TreeBuilder (XML_Parser p, const Content& contentToUse, bool wholeDocumentToUse)
        : parser (p), content (contentToUse), wholeDocument (wholeDocumentToUse)
    {
        XML_SetUserData (parser, this);
        XML_SetElementHandler (parser, startElement, endElement);
        XML_SetCharacterDataHandler (parser, characterData);
        XML_SetCdataSectionHandler (parser, startCdata, nullptr);
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

    std::unique_ptr<juce::XmlElement> parse (std::string_view markup)
    {
        if (markup.size() > (size_t) INT_MAX)
            return {};

        const auto status = XML_Parse (parser, markup.data(), (int) markup.size(), XML_TRUE);

        if (failed || ! rootClosed || nextValue != content.values.size() || nextText != content.texts.size())
            return {};

        if (status == XML_STATUS_OK || (! wholeDocument && XML_GetErrorCode (parser) == XML_ERROR_ABORTED))
            return build();

        return {};
    }

private:
    // An element (name >= 0, its attributes at [first, first + size) in attributes) or a text
    // element (name < 0, its text content.texts[first]).
    struct Node
    {
        int parent, name;
        size_t first, size;
    };

    struct Attribute
    {
        int name;
        size_t value; // in content.values
    };

    XML_Parser parser;
    const Content& content;
    const bool wholeDocument;
    NameTable names { maxUntrustedXmlNames };
    std::vector<Node> nodes;
    std::vector<Attribute> attributes;
    std::vector<int> open;
    size_t events = 0, nextValue = 0, nextText = 0;
    bool rootClosed = false, failed = false;

    static TreeBuilder& from (void* userData) { return *static_cast<TreeBuilder*> (userData); }

    void fail()
    {
        failed = true;
        XML_StopParser (parser, XML_FALSE);
    }

    bool addNode (int name, size_t first, size_t size)
    {
        if ((int) nodes.size() >= maxUntrustedXmlElements)
        {
            fail();
            return false;
        }

        nodes.push_back ({ open.empty() ? -1 : open.back(), name, first, size });
        return true;
    }

    static juce::String stringOf (const char* s, size_t length)
    {
        return juce::String (juce::CharPointer_UTF8 (s), juce::CharPointer_UTF8 (s + length));
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

    // The text that comes before this element event: whitespace-only text is dropped, as the
    // framework's reader does; a CDATA section is kept even when empty or blank.
    bool addTexts()
    {
        for (; nextText < content.texts.size() && content.texts[nextText].event == events; ++nextText)
        {
            const auto& t = content.texts[nextText];

            if (open.empty())
                return false;

            if ((t.cdata || hasNonWhitespace (content.chars.data() + t.piece.first, t.piece.size))
                && ! addNode (-1, nextText, 1))
                return false;
        }

        return true;
    }

    // A name's number, counting the name after "base64:" too, which the framework's value trees
    // make a name of their own.
    int nameOf (const char* name, bool isAttribute)
    {
        const auto length = std::strlen (name);
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

        if ((int) b.open.size() >= maxUntrustedXmlDepth || b.rootClosed)
            return b.fail();

        size_t numAttributes = 0;
        while (atts[2 * numAttributes] != nullptr)
            ++numAttributes;

        if (numAttributes > (size_t) maxUntrustedXmlAttributes
            || b.attributes.size() + numAttributes > (size_t) maxUntrustedXmlDocumentAttributes
            || b.nextValue + numAttributes > b.content.values.size()
            || ! b.addTexts())
            return b.fail();

        const auto nameIndex = b.nameOf (name, false);

        if (nameIndex < 0 || ! b.addNode (nameIndex, b.attributes.size(), numAttributes))
            return b.fail();

        for (size_t i = 0; i < numAttributes; ++i)
        {
            const auto attributeName = b.nameOf (atts[2 * i], true);

            if (attributeName < 0)
                return b.fail();

            b.attributes.push_back ({ attributeName, b.nextValue++ });
        }

        b.open.push_back ((int) b.nodes.size() - 1);
        ++b.events;
    }

    static void XMLCALL endElement (void* userData, const XML_Char*)
    {
        auto& b = from (userData);

        if (b.failed || b.open.empty())
            return;

        if (! b.addTexts())
            return b.fail();

        b.open.pop_back();
        ++b.events;

        if (! b.open.empty())
            return;

        b.rootClosed = true;

        if (! b.wholeDocument)
            XML_StopParser (b.parser, XML_FALSE);
    }

    // Inside the root element the text pass took every character out; outside it, expat
    // refuses all but white space.
    static void XMLCALL characterData (void* userData, const XML_Char*, int)
    {
        auto& b = from (userData);

        if (! b.open.empty())
            b.fail();
    }

    static void XMLCALL startCdata (void* userData)
    {
        from (userData).fail();
    }

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

    juce::String stringOf (const Content::Piece& piece) const
    {
        return stringOf (content.chars.data() + piece.first, piece.size);
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
                const auto name = names[index];
                id = juce::Identifier (stringOf (name.data(), name.size()));
            }

            return id;
        };

        std::vector<std::unique_ptr<juce::XmlElement>> made;
        made.reserve (nodes.size());

        for (const auto& node : nodes)
        {
            if (node.name < 0)
            {
                made.emplace_back (juce::XmlElement::createTextElement (stringOf (content.texts[node.first].piece)));
                continue;
            }

            auto element = std::make_unique<juce::XmlElement> (idOf (node.name));

            for (auto a = node.first; a < node.first + node.size; ++a)
                element->setAttribute (idOf (attributes[a].name), stringOf (content.values[attributes[a].value]));

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
} // namespace

//==============================================================================
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* data, size_t numBytes, bool wholeDocument)
{
    if (data == nullptr || numBytes == 0)
        return {};

    const auto* bytes = static_cast<const unsigned char*> (data);
    std::string utf8;
    const char* text = static_cast<const char*> (data);
    size_t length = numBytes;

    if (numBytes >= 2 && ((bytes[0] == 0xfe && bytes[1] == 0xff) || (bytes[0] == 0xff && bytes[1] == 0xfe)))
    {
        // The text ends at a zero unit: only what stands before it counts against the limit.
        size_t end = 2;
        while (end + 1 < numBytes && end <= maxUntrustedXmlBytes && (bytes[end] | bytes[end + 1]) != 0)
            end += 2;

        if (end > maxUntrustedXmlBytes || ! utf16ToUtf8 (bytes, juce::jmin (numBytes, end + 2), utf8))
            return {};

        text = utf8.data();
        length = utf8.size();
    }
    else
    {
        // Like the framework's strings, the text ends at a zero byte.
        if (const auto* zero = std::memchr (text, 0, juce::jmin (length, maxUntrustedXmlBytes + 1)))
            length = (size_t) (static_cast<const char*> (zero) - text);

        if (length > maxUntrustedXmlBytes)
            return {};

        if (length >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf)
        {
            text += 3;
            length -= 3;
        }
    }

    if (! isWellFormedUtf8 (text, length))
        return {};

    std::string markup;
    Content content;

    if (! TextPass ({ text, length }, wholeDocument).run (markup, content))
        return {};

    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter> parser (XML_ParserCreate ("UTF-8"));

    if (parser == nullptr)
        return {};

    return TreeBuilder (parser.get(), content, wholeDocument).parse (markup);
}

//==============================================================================
PlainFileRead readPlainFile (const juce::File& file, juce::int64 maxBytes, juce::MemoryBlock& block)
{
    block.reset();
    maxBytes = juce::jmax ((juce::int64) 0, maxBytes);

    if (file == juce::File())
        return PlainFileRead::missing;

   #if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    const auto path = file.getFullPathName();
    struct stat info;

    if (::stat (path.toRawUTF8(), &info) != 0)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return PlainFileRead::missing;

        // A link that leads round in a circle names no file either.
        if (errno == ELOOP && ::lstat (path.toRawUTF8(), &info) == 0 && S_ISLNK (info.st_mode))
            return PlainFileRead::missing;

        return PlainFileRead::unreadable;
    }

    if (! S_ISREG (info.st_mode) || info.st_size > maxBytes)
        return PlainFileRead::notPlain;

    // Opened without blocking, and looked at again: the name may have been given to a pipe since.
    const int fd = ::open (path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (fd < 0)
        return errno == ENOENT ? PlainFileRead::missing : PlainFileRead::unreadable;

    auto result = PlainFileRead::read;
    size_t total = 0;

    if (::fstat (fd, &info) != 0)
        result = PlainFileRead::unreadable;
    else if (! S_ISREG (info.st_mode) || info.st_size > maxBytes)
        result = PlainFileRead::notPlain;

    if (result == PlainFileRead::read)
    {
        block.setSize ((size_t) info.st_size + 1, false);

        for (;;)
        {
            if (total == block.getSize())
            {
                if ((juce::int64) total > maxBytes)
                    break;

                block.setSize ((size_t) maxBytes + 1, false);
            }

            const auto n = ::read (fd, static_cast<char*> (block.getData()) + total, block.getSize() - total);

            if (n < 0 && errno == EINTR)
                continue;

            if (n < 0)
            {
                result = PlainFileRead::unreadable;
                break;
            }

            if (n == 0)
                break;

            total += (size_t) n;
        }
    }

    ::close (fd);

    if (result == PlainFileRead::read && (juce::int64) total > maxBytes)
        result = PlainFileRead::notPlain; // it grew while it was read

    if (result != PlainFileRead::read)
    {
        block.reset();
        return result;
    }

    block.setSize (total, false);
    return PlainFileRead::read;
   #else
    if (! file.exists())
        return PlainFileRead::missing;

    if (! file.existsAsFile() || file.getSize() > maxBytes)
        return PlainFileRead::notPlain;

    juce::FileInputStream in (file);

    if (in.failedToOpen())
        return PlainFileRead::unreadable;

    const auto bytesRead = in.readIntoMemoryBlock (block, (ssize_t) maxBytes + 1);

    if (in.getStatus().failed())
    {
        block.reset();
        return PlainFileRead::unreadable;
    }

    if ((juce::int64) bytesRead > maxBytes)
    {
        block.reset();
        return PlainFileRead::notPlain;
    }

    return PlainFileRead::read;
   #endif
}
