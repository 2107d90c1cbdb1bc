#pragma once

#include <cstdint>
#include <vector>

namespace quoril::hosttest
{
// What the X server shows of a window, windows embedded in it included, as 0xRRGGBB pixels row by
// row; empty when the window cannot be read. Kept apart from JUCE because Xlib's macros clash with
// its names.
std::vector<std::uint32_t> grabWindow (unsigned long windowId, int width, int height);
} // namespace quoril::hosttest
