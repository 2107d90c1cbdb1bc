#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

// The one reader for XML text that comes from outside the plug-in: a host's saved state, user
// preset files, MIDI slots, controller map files and the settings file.
//
// One pass over the text takes out attribute values, and text, CDATA sections and comments inside
// the root element, and checks and decodes them; the markup that is left is parsed by expat, which
// neither recurses nor reads past its input, and the element tree is built without recursion. The
// time taken grows with the text's length and the limits below, and with nothing else.
//
// It accepts UTF-8 (with or without a byte-order mark, ending at the data's end or at a zero byte)
// and UTF-16 with a byte-order mark, and gives the same tree as the framework's own reader for
// every document that Quoril or the framework's XML writer produces: the declaration, comments and
// processing instructions before the root are skipped, text and CDATA become text elements,
// whitespace-only text is dropped, entity and character references are expanded (including the
// control characters the framework writes as references).
//
// It refuses a document type declaration (so no entity is ever defined or fetched), processing
// instructions inside the root element, and anything that is not well-formed. Text after the root
// element is not read unless wholeDocument is set, in which case it too must be well-formed.
//
// It also refuses what no real document comes near, before any name of it reaches the framework's
// name pool (which keeps every name for at least half a minute, and takes longer for each new name
// the more it holds): text longer than maxUntrustedXmlBytes (up to the zero byte or unit that may
// end it), nesting deeper than maxUntrustedXmlDepth, more than maxUntrustedXmlElements elements
// (text elements included), more than maxUntrustedXmlAttributes attributes on an element or
// maxUntrustedXmlDocumentAttributes in the document, more than maxUntrustedXmlNames distinct
// element and attribute names (a "base64:" attribute name counts the name after the prefix too,
// which the framework's value trees make of it), and more than maxUntrustedXmlMarkupBytes of
// markup (the tags, without their attribute values, and whatever follows the root element).
// Quoril's own documents use about forty names, sixty elements, two hundred attributes, a dozen
// on one element, three levels and three kilobytes of markup. At the limits, a document costs the
// reader and what reads its tree a few milliseconds; of all, the distinct names cost the most once
// the pool holds many names from earlier loads, each new one moving all that sort after it.
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* data, size_t numBytes,
                                                     bool wholeDocument = false);

constexpr size_t maxUntrustedXmlBytes = 1 << 20;
constexpr int maxUntrustedXmlDepth = 32;
constexpr int maxUntrustedXmlElements = 1024;
constexpr int maxUntrustedXmlAttributes = 64;
constexpr int maxUntrustedXmlDocumentAttributes = 2048;
constexpr int maxUntrustedXmlNames = 128;
constexpr size_t maxUntrustedXmlMarkupBytes = 128 * 1024;

// An element of the most attributes can always be read: its names fit with its own.
static_assert (maxUntrustedXmlAttributes < maxUntrustedXmlNames);

// What readPlainFile found.
enum class PlainFileRead
{
    read,       // a regular file of at most maxBytes (it may be empty): its bytes are in the block
    missing,    // nothing at that path, or a symbolic link that leads to nothing (dangling or looping)
    notPlain,   // a directory, named pipe, device or socket, or a regular file over maxBytes
    unreadable  // something is there but could not be looked at, opened or read (no permission,
                // out of file handles, an input/output error)
};

// Reads a file of at most maxBytes into block, only when it is a regular file: a named pipe or a
// device is never opened for reading in a way that could block, and what stands at the path is
// known from its status before it is opened. The block holds the bytes only when the result is
// PlainFileRead::read.
PlainFileRead readPlainFile (const juce::File& file, juce::int64 maxBytes, juce::MemoryBlock& block);
