#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

// The one reader for XML text that comes from outside the plug-in: a host's saved state, user
// preset files, MIDI slots, controller map files and the settings file.
//
// Expat parses the text; it neither recurses nor reads past its input. The limits below are
// counted in its callbacks, into plain records, and the element tree is built without recursion
// only once the whole document is read and within every limit: a refused document leaves no name
// in the framework's name pool (which keeps every name for at least half a minute, and takes
// longer for each new name the more it holds).
//
// It accepts UTF-8 (with or without a byte-order mark, ending at the data's end or at a zero byte)
// and UTF-16 with a byte-order mark, and gives the same tree as the framework's own reader for
// every well-formed document: white space before the declaration, comments and processing
// instructions before the root are skipped, text and CDATA sections become text elements (a CDATA
// section as it stands, carriage returns included), whitespace-only text is dropped, and entity
// and character references are expanded, including those to the control characters, U+FFFE and
// U+FFFF that the framework's writer puts as references although XML forbids them. Where the
// framework's reader departs from XML on what its writer never writes, XML is followed: an
// attribute value's tabs and line ends become spaces.
//
// It refuses a document type declaration (so no entity is ever defined or fetched), processing
// instructions inside the root element, a byte-order mark anywhere but at the start, and anything
// that is not well-formed. Text after the root element is not read unless wholeDocument is set, in
// which case it too must be well-formed.
//
// It also refuses what no real document comes near: text longer than maxUntrustedXmlBytes (up to
// the zero byte or unit that may end it), nesting deeper than maxUntrustedXmlDepth, more than
// maxUntrustedXmlElements elements (text elements included), more than maxUntrustedXmlAttributes
// attributes on an element or maxUntrustedXmlDocumentAttributes in the document, a name longer
// than maxUntrustedXmlNameBytes, and more than maxUntrustedXmlNewNames distinct element and
// attribute names that none of Quoril's own documents uses (a "base64:" attribute name counts the
// name after the prefix too, which the framework's value trees make of it).
//
// The names of Quoril's own documents are pooled once, at the reader's first use, and held: the
// reader never asks the framework's pool for them again. Only the few new names a
// document may hold are pooled, once each. The largest document Quoril itself writes, a state with
// every field at its longest, is far below every limit (the unit tests measure it): 46 names in
// all, 57 elements, 173 attributes, ten on one element and three levels, in under 6 KiB.
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* data, size_t numBytes,
                                                     bool wholeDocument = false);

// The names Quoril's own documents use: its state and presets, map files and the settings file.
const std::vector<std::string_view>& quorilXmlNames();

constexpr size_t maxUntrustedXmlBytes = 32 * 1024;
constexpr int maxUntrustedXmlDepth = 32;
constexpr int maxUntrustedXmlElements = 256;
constexpr int maxUntrustedXmlAttributes = 32;
constexpr int maxUntrustedXmlDocumentAttributes = 1024;
constexpr int maxUntrustedXmlNewNames = 16;
constexpr int maxUntrustedXmlNameBytes = 64;
