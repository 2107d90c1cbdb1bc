#include "ScreenGrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quoril::hosttest
{
std::vector<std::uint32_t> grabWindow (unsigned long windowId, int width, int height)
{
    std::vector<std::uint32_t> pixels;
    auto* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return pixels;

    if (auto* image = XGetImage (display, (Window) windowId, 0, 0, (unsigned int) width, (unsigned int) height, AllPlanes, ZPixmap))
    {
        const auto channel = [] (unsigned long pixel, unsigned long mask) -> std::uint32_t
        {
            if (mask == 0)
                return 0;
            int shift = 0;
            while (((mask >> shift) & 1) == 0)
                ++shift;
            return (std::uint32_t) (((pixel & mask) >> shift) * 255 / (mask >> shift));
        };

        pixels.reserve ((size_t) width * (size_t) height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                const auto pixel = XGetPixel (image, x, y);
                pixels.push_back ((channel (pixel, image->red_mask) << 16) | (channel (pixel, image->green_mask) << 8)
                                  | channel (pixel, image->blue_mask));
            }
        XDestroyImage (image);
    }

    XCloseDisplay (display);
    return pixels;
}
} // namespace quoril::hosttest
