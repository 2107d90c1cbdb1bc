#pragma once

#include <cstddef>

// True when document text may be handed to the framework's XML reader: well-formed UTF-8 up
// to the end or a zero byte, no document type declaration (whose entities the reader would
// expand, recursively and into markup, or fetch from other files), no processing instruction
// after the root element begins (which can send the reader into an endless loop), and
// elements nested no deeper than maxXmlNesting. The reader, the tree conversion and tree copies recurse once per
// level, so the nesting bound keeps them off the end of the stack. Saved states, presets and
// controller maps are three levels deep.
bool isAcceptableXmlText (const char* text, size_t length);

constexpr int maxXmlNesting = 256;
