#include "XmlTextCheck.h"

#include <cstring>

namespace
{
char upper (char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? (char) (c - 'a' + 'A') : c;
}

bool startsWith (const char* text, size_t length, size_t at, const char* word, bool ignoreCase = false) noexcept
{
    const auto wordLength = std::strlen (word);

    if (length - at < wordLength)
        return false;

    for (size_t i = 0; i < wordLength; ++i)
    {
        const auto c = text[at + i];
        if ((ignoreCase ? upper (c) : c) != word[i])
            return false;
    }

    return true;
}

// The XML reader decodes a lead byte's continuation bytes without looking for the end of the
// text, so a broken sequence at the end would make it read past the data.
bool isWellFormedUtf8 (const char* text, size_t& length) noexcept
{
    for (size_t i = 0; i < length;)
    {
        const auto lead = (unsigned char) text[i];

        if (lead == 0)
        {
            length = i; // the text ends here
            return true;
        }

        size_t extra = 0;
        if (lead < 0x80)                      extra = 0;
        else if (lead >= 0xc2 && lead < 0xe0) extra = 1;
        else if (lead >= 0xe0 && lead < 0xf0) extra = 2;
        else if (lead >= 0xf0 && lead < 0xf5) extra = 3;
        else return false;

        if (i + extra >= length && extra > 0)
            return false;

        for (size_t k = 1; k <= extra; ++k)
            if (((unsigned char) text[i + k] & 0xc0) != 0x80)
                return false;

        i += extra + 1;
    }

    return true;
}

// Moves past the next occurrence of the terminator, or to the end.
size_t skipPast (const char* text, size_t length, size_t at, const char* terminator) noexcept
{
    for (; at < length; ++at)
        if (startsWith (text, length, at, terminator))
            return at + std::strlen (terminator);

    return length;
}
} // namespace

bool isAcceptableXmlText (const char* text, size_t length)
{
    if (text == nullptr || ! isWellFormedUtf8 (text, length))
        return false;

    int depth = 0;
    bool rootStarted = false;

    for (size_t i = 0; i < length;)
    {
        if (text[i] != '<')
        {
            ++i;
            continue;
        }

        if (startsWith (text, length, i, "<!--"))
        {
            i = skipPast (text, length, i + 4, "-->");
        }
        else if (startsWith (text, length, i, "<![CDATA["))
        {
            i = skipPast (text, length, i + 9, "]]>");
        }
        else if (startsWith (text, length, i, "<!DOCTYPE", true))
        {
            return false;
        }
        else if (startsWith (text, length, i, "<?"))
        {
            i = skipPast (text, length, i + 2, "?>");
        }
        else if (startsWith (text, length, i, "<!"))
        {
            i = skipPast (text, length, i + 2, ">");
        }
        else if (startsWith (text, length, i, "</"))
        {
            depth = depth > 0 ? depth - 1 : 0;
            i = skipPast (text, length, i + 2, ">");
        }
        else
        {
            // After a processing instruction that text follows, the reader rolls back onto the
            // instruction and loops for ever, and a broken start tag can hide where one stands;
            // so once the root element begins, no "<?" may follow anywhere.
            if (! rootStarted)
            {
                rootStarted = true;

                for (size_t k = i; k + 1 < length; ++k)
                    if (text[k] == '<' && text[k + 1] == '?')
                        return false;
            }

            if (++depth > maxXmlNesting)
                return false;

            // Walk the start tag, stepping over quoted values; "/>" closes the element at once.
            for (++i; i < length && text[i] != '>'; ++i)
            {
                if (text[i] == '"' || text[i] == '\'')
                {
                    const auto quote = text[i];
                    for (++i; i < length && text[i] != quote; ++i) {}

                    if (i >= length)
                        break;
                }
                else if (text[i] == '/' && i + 1 < length && text[i + 1] == '>')
                {
                    depth = depth > 0 ? depth - 1 : 0;
                }
            }

            if (i < length)
                ++i;
        }
    }

    return true;
}
