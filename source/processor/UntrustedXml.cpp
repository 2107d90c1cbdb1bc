#include "UntrustedXml.h"

#include <expat.h>

#include <climits>
#include <string>
#include <string_view>
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
// Character references to characters that XML 1.0 forbids (the framework's writer puts control
// characters into attributes as "&#1;" and the like) are refused by expat. Before parsing they
// are replaced by an escape character followed by the code point in hex and ';', and turned
// back after parsing. The escape character itself, wherever it stands, becomes escape + ';'.
constexpr juce::uint32 escapeCodePoint = 0x10fffd;
constexpr std::string_view escapeBytes { "\xf4\x8f\xbf\xbd", 4 };

bool isXmlChar (juce::uint32 c) noexcept
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff)
        || (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

bool isSpace (char c) noexcept
{
    return c == ' ' || (c >= 9 && c <= 13);
}

void appendUtf8 (std::string& out, juce::uint32 c)
{
    if (c < 0x80)
    {
        out += (char) c;
    }
    else if (c < 0x800)
    {
        out += (char) (0xc0 | (c >> 6));
        out += (char) (0x80 | (c & 0x3f));
    }
    else if (c < 0x10000)
    {
        out += (char) (0xe0 | (c >> 12));
        out += (char) (0x80 | ((c >> 6) & 0x3f));
        out += (char) (0x80 | (c & 0x3f));
    }
    else
    {
        out += (char) (0xf0 | (c >> 18));
        out += (char) (0x80 | ((c >> 12) & 0x3f));
        out += (char) (0x80 | ((c >> 6) & 0x3f));
        out += (char) (0x80 | (c & 0x3f));
    }
}

void appendHex (std::string& out, juce::uint32 c)
{
    char digits[8];
    int n = 0;

    do
    {
        digits[n++] = "0123456789abcdef"[c & 0xf];
        c >>= 4;
    } while (c != 0 && n < 8);

    while (n > 0)
        out += digits[--n];
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

    out.reserve (numBytes);

    for (size_t i = 2; i + 1 < numBytes; i += 2)
    {
        auto c = unitAt (i);

        if (c == 0)
            break;

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

        appendUtf8 (out, c);
    }

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

class TextPreparer
{
public:
    TextPreparer (const char* textToUse, size_t lengthToUse) : text (textToUse, lengthToUse) {}

    // The text as expat is given it, or false when its start is already broken.
    bool prepare (std::string& out)
    {
        if (! skipProlog())
            return false;

        out.reserve (text.size() - pos + 64);

        enum class Where { content, tag, value, section };
        auto where = Where::content;
        char quote = 0;
        std::string_view closer;
        bool rootStarted = false; // before it, a reference is left for expat to refuse

        while (pos < text.size())
        {
            const auto c = text[pos];

            if (c == escapeBytes[0] && startsWith (escapeBytes))
            {
                out.append (escapeBytes);
                out += ';';
                pos += escapeBytes.size();
                continue;
            }

            switch (where)
            {
                case Where::content:
                    if (c == '<')
                    {
                        for (auto [opener, close] : { std::pair<std::string_view, std::string_view> { "<!--", "-->" },
                                                      { "<![CDATA[", "]]>" },
                                                      { "<?", "?>" } })
                        {
                            if (startsWith (opener))
                            {
                                out.append (opener);
                                pos += opener.size();
                                closer = close;
                                where = Where::section;
                                break;
                            }
                        }

                        if (where == Where::section)
                            continue;

                        if (! startsWith ("<!"))
                            where = Where::tag, rootStarted = true;
                    }
                    else if (c == '&' && rootStarted && startsWith ("&#") && copyReference (out))
                    {
                        continue;
                    }
                    break;

                case Where::tag:
                    if (c == '"' || c == '\'')
                    {
                        quote = c;
                        where = Where::value;
                    }
                    else if (c == '>')
                    {
                        where = Where::content;
                    }
                    break;

                case Where::value:
                    if (c == quote)
                    {
                        where = Where::tag;
                    }
                    else if (c == '\t' || c == '\n' || c == '\r' || c == '<')
                    {
                        // The framework's reader takes these into attribute values as they are,
                        // where expat would turn white space into spaces and refuse a '<'.
                        out += c == '\t' ? "&#9;" : (c == '\n' ? "&#10;" : (c == '\r' ? "&#13;" : "&lt;"));
                        ++pos;
                        continue;
                    }
                    else if (c == '&' && startsWith ("&#") && copyReference (out))
                    {
                        continue;
                    }
                    break;

                case Where::section:
                    if (startsWith (closer))
                    {
                        out.append (closer);
                        pos += closer.size();
                        where = Where::content;
                        continue;
                    }
                    break;
            }

            out += c;
            ++pos;
        }

        return true;
    }

private:
    std::string_view text;
    size_t pos = 0;

    bool startsWith (std::string_view word) const noexcept
    {
        return text.compare (pos, word.size(), word) == 0;
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

    // At "&#": a well-formed character reference is copied, with forbidden characters escaped;
    // false (nothing consumed) for anything else, which expat then refuses.
    bool copyReference (std::string& out)
    {
        auto i = pos + 2;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');

        if (hex)
            ++i;

        juce::uint32 value = 0;
        size_t digits = 0;

        for (; i < text.size() && text[i] != ';'; ++i, ++digits)
        {
            const int digit = hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) text[i])
                                  : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);

            if (digit < 0 || digits >= 10)
                return false;

            value = value * (hex ? 16u : 10u) + (juce::uint32) digit;

            if (value > 0x10ffff)
                return false;
        }

        if (i >= text.size() || digits == 0)
            return false;

        pos = i + 1;

        // (A zero, which the framework's reader reads as nothing, is escaped too, so that the
        // text around it is not joined into something else.)
        if (isXmlChar (value) && value != escapeCodePoint)
        {
            out += "&#x";
            appendHex (out, value);
        }
        else
        {
            out.append (escapeBytes);

            if (value != escapeCodePoint)
                appendHex (out, value);
        }

        out += ';';
        return true;
    }
};

// Text from expat, with escaped characters turned back.
juce::String decodeText (const std::string& s)
{
    if (s.find (escapeBytes) == std::string::npos)
        return juce::String (juce::CharPointer_UTF8 (s.data()), juce::CharPointer_UTF8 (s.data() + s.size()));

    std::string decoded;
    decoded.reserve (s.size());

    for (size_t i = 0; i < s.size();)
    {
        if (s.compare (i, escapeBytes.size(), escapeBytes) != 0)
        {
            decoded += s[i++];
            continue;
        }

        auto j = i + escapeBytes.size();
        juce::uint32 value = 0;

        for (; j < s.size() && j - i < escapeBytes.size() + 8 && s[j] != ';'; ++j)
        {
            const auto digit = juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) s[j]);

            if (digit < 0)
                break;

            value = (value << 4) | (juce::uint32) digit;
        }

        if (j < s.size() && s[j] == ';')
        {
            if (j == i + escapeBytes.size())
                appendUtf8 (decoded, escapeCodePoint);
            else if (value != 0)
                appendUtf8 (decoded, value);

            i = j + 1;
        }
        else
        {
            decoded.append (escapeBytes);
            i += escapeBytes.size();
        }
    }

    return juce::String (juce::CharPointer_UTF8 (decoded.data()), juce::CharPointer_UTF8 (decoded.data() + decoded.size()));
}

//==============================================================================
// Builds the element tree from expat's callbacks: open elements on a stack, children collected
// per element and attached when it closes, so nothing recurses and nothing walks a list.
class TreeBuilder
{
public:
    TreeBuilder (XML_Parser p, bool wholeDocumentToUse) : parser (p), wholeDocument (wholeDocumentToUse)
    {
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

    std::unique_ptr<juce::XmlElement> parse (const std::string& document)
    {
        if (document.size() > (size_t) INT_MAX)
            return {};

        const auto status = XML_Parse (parser, document.data(), (int) document.size(), XML_TRUE);

        if (failed || root == nullptr)
            return {};

        if (status == XML_STATUS_OK || (! wholeDocument && XML_GetErrorCode (parser) == XML_ERROR_ABORTED))
            return std::move (root);

        return {};
    }

private:
    struct OpenElement
    {
        std::unique_ptr<juce::XmlElement> element;
        std::vector<std::unique_ptr<juce::XmlElement>> children;
    };

    XML_Parser parser;
    const bool wholeDocument;
    std::vector<OpenElement> open;
    std::unique_ptr<juce::XmlElement> root;
    std::string text, cdata;
    bool inCdata = false, failed = false;

    static TreeBuilder& from (void* userData) { return *static_cast<TreeBuilder*> (userData); }

    void fail()
    {
        failed = true;
        XML_StopParser (parser, XML_FALSE);
    }

    // Text runs up to the next tag, CDATA section or processing instruction; comments inside
    // it are left out. Whitespace-only text is dropped, as the framework's reader does.
    void flushText()
    {
        if (text.empty())
            return;

        if (! open.empty())
        {
            auto content = decodeText (text);

            if (content.containsNonWhitespaceChars())
                open.back().children.emplace_back (juce::XmlElement::createTextElement (content));
        }

        text.clear();
    }

    static void XMLCALL startElement (void* userData, const XML_Char* name, const XML_Char** attributes)
    {
        auto& b = from (userData);

        if (b.failed)
            return;

        if ((int) b.open.size() >= maxUntrustedXmlDepth)
            return b.fail();

        int numAttributes = 0;
        while (attributes[2 * numAttributes] != nullptr)
            ++numAttributes;

        if (numAttributes > maxUntrustedXmlAttributes)
            return b.fail();

        b.flushText();

        auto element = std::make_unique<juce::XmlElement> (juce::String::fromUTF8 (name));

        for (int i = 0; i < numAttributes; ++i)
            element->setAttribute (juce::Identifier (juce::String::fromUTF8 (attributes[2 * i])),
                                   decodeText (attributes[2 * i + 1]));

        b.open.push_back ({ std::move (element), {} });
    }

    static void XMLCALL endElement (void* userData, const XML_Char*)
    {
        auto& b = from (userData);

        if (b.failed || b.open.empty())
            return;

        b.flushText();

        auto closed = std::move (b.open.back());
        b.open.pop_back();

        for (auto child = closed.children.rbegin(); child != closed.children.rend(); ++child)
            closed.element->prependChildElement (child->release());

        if (! b.open.empty())
        {
            b.open.back().children.push_back (std::move (closed.element));
            return;
        }

        b.root = std::move (closed.element);

        // The framework's reader reads nothing after the root element either.
        if (! b.wholeDocument)
            XML_StopParser (b.parser, XML_FALSE);
    }

    static void XMLCALL characterData (void* userData, const XML_Char* s, int length)
    {
        auto& b = from (userData);

        if (! b.failed && length > 0)
            (b.inCdata ? b.cdata : b.text).append (s, (size_t) length);
    }

    static void XMLCALL startCdata (void* userData)
    {
        auto& b = from (userData);
        b.flushText();
        b.inCdata = true;
        b.cdata.clear();
    }

    // A CDATA section is a text element of its own, kept even when empty or blank.
    static void XMLCALL endCdata (void* userData)
    {
        auto& b = from (userData);
        b.inCdata = false;

        if (! b.failed && ! b.open.empty())
            b.open.back().children.emplace_back (juce::XmlElement::createTextElement (decodeText (b.cdata)));

        b.cdata.clear();
    }

    // Inside the root element the framework's reader can loop for ever on an instruction
    // that text follows; none of its documents holds one there.
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
        if (! utf16ToUtf8 (bytes, numBytes, utf8))
            return {};

        text = utf8.data();
        length = utf8.size();
    }
    else
    {
        if (numBytes >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf)
        {
            text += 3;
            length -= 3;
        }

        // Like the framework's strings, the text ends at a zero byte.
        for (size_t i = 0; i < length; ++i)
        {
            if (text[i] == 0)
            {
                length = i;
                break;
            }
        }
    }

    std::string prepared;

    if (! isWellFormedUtf8 (text, length) || ! TextPreparer (text, length).prepare (prepared))
        return {};

    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter> parser (XML_ParserCreate ("UTF-8"));

    if (parser == nullptr)
        return {};

    return TreeBuilder (parser.get(), wholeDocument).parse (prepared);
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
