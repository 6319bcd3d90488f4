// An image's pixel rows as the pixel work reads and writes them: a base address, the signed
// distance between rows and the bounds. Positions are absolute pixel coordinates; (x1, y1) is
// the lower-left corner, x2 and y2 exclusive.
#pragma once

#include "ofx_api.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace plate {

template <class PIX> struct Rows {
    Rows() = default;
    /// `base` is pixel (bounds.x1, bounds.y1); null: an image without rows.
    Rows(void* base, std::ptrdiff_t rowBytes, const OfxRectI& bounds)
        : base(static_cast<unsigned char*>(base)), rowBytes(rowBytes), bounds(bounds) {}

    bool hasRow(int y) const { return base && y >= bounds.y1 && y < bounds.y2; }
    /// Pixel (bounds.x1, y); y must be a row of the image. 64-bit offsets: a far row of a tall
    /// image lies more than 2 GiB from the first.
    PIX* row(int y) const {
        return reinterpret_cast<PIX*>(base + static_cast<std::ptrdiff_t>(y - bounds.y1) * rowBytes);
    }
    int width() const { return bounds.x2 - bounds.x1; }
    int height() const { return bounds.y2 - bounds.y1; }

    unsigned char* base = nullptr;
    std::ptrdiff_t rowBytes = 0;
    OfxRectI bounds{0, 0, 0, 0};
};

/// Band `index` of `count` of the rows of `area`: [first, last) with sizes differing by at most
/// one, from the bottom. Unsigned and 64-bit arithmetic: an area may span more than INT_MAX
/// rows, and index × height overflows 32 bits.
inline OfxRectI bandOfRows(const OfxRectI& area, unsigned index, unsigned count) {
    const unsigned height = static_cast<unsigned>(area.y2) - static_cast<unsigned>(area.y1);
    const unsigned long long h = height;
    const unsigned first = static_cast<unsigned>(index * h / count);
    const unsigned last =
        static_cast<unsigned>(std::min<unsigned long long>((index + 1ULL) * h / count, h));
    OfxRectI band = area;
    band.y1 = area.y1 + static_cast<int>(first);
    band.y2 = area.y1 + static_cast<int>(last);
    return band;
}

/// Position of a pixel from an origin; 64-bit, as images at opposite ends of the int range are
/// further apart than an int holds.
inline float relative(int position, int origin) {
    return static_cast<float>(static_cast<std::int64_t>(position) - origin);
}

} // namespace plate
