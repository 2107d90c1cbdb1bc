#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

// The one reader for XML text that comes from outside the plug-in: a host's saved state, user
// preset files, MIDI slots, controller map files and the settings file.
//
// The text is parsed by expat, which neither recurses nor reads past its input, and the element
// tree is built without recursion. It accepts UTF-8 (with or without a byte-order mark, ending at
// the data's end or at a zero byte) and UTF-16 with a byte-order mark, and gives the same tree as
// the framework's own reader for every document that Quoril or the framework's XML writer
// produces: the declaration, comments and processing instructions before the root are skipped,
// text and CDATA become text elements, whitespace-only text is dropped, entity and character references are
// expanded (including the control characters the framework writes as references).
//
// It refuses a document type declaration (so no entity is ever defined or fetched), processing
// instructions inside the root element, nesting
// deeper than maxUntrustedXmlDepth, elements with more than maxUntrustedXmlAttributes
// attributes, and anything that is not well-formed. Text after the root element is not read
// unless wholeDocument is set, in which case it too must be well-formed.
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* data, size_t numBytes,
                                                     bool wholeDocument = false);

// A saved state or preset is three levels deep; the settings file two.
constexpr int maxUntrustedXmlDepth = 32;
constexpr int maxUntrustedXmlAttributes = 512;

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
