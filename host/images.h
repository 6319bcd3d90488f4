// Host-side pixel buffers in the six formats the module handles, in either row order.
#pragma once

#include "ofx_api.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ofxhost {

/// Channel layout of an image.
enum class Components { RGBA, Alpha };
/// Storage type of one channel.
enum class Depth { Byte, Short, Float };
/// How rows are laid out in memory.
enum class RowOrder {
    BottomUp, ///< Row y1 first, positive rowBytes (the usual OFX layout).
    TopDown,  ///< Row y2-1 first, negative rowBytes, data points at row y1 (as MLT does).
};

/// OFX string for the components (e.g. "OfxImageComponentRGBA").
const char* toString(Components c);
/// OFX string for the depth (e.g. "OfxBitDepthByte").
const char* toString(Depth d);
/// Components for an OFX string; nullopt for anything else.
std::optional<Components> componentsFromString(const std::string& s);
/// Depth for an OFX string; nullopt for anything else.
std::optional<Depth> depthFromString(const std::string& s);
/// 4 for RGBA, 1 for Alpha.
int channelCount(Components c);
/// 1, 2 or 4.
int bytesPerChannel(Depth d);

/// Where an image's bytes live.
enum class Allocation {
    Heap,   ///< One block, every byte written when the image is made.
    Sparse, ///< Pages that take memory only once touched: an image whose rows lie gigabytes
            ///< apart (a large rowPadding) costs only the rows that are read or written.
};

/// An image buffer with guard bytes around it and in the row padding, so a plug-in writing
/// outside the bounds shows up in guardsIntact(). (Sparse images guard only the first 64 bytes
/// of each row's padding.)
class Image {
public:
    /// `rowPadding` extra bytes follow every row; keep it a multiple of 4 for float images.
    Image(OfxRectI bounds, Components components, Depth depth, RowOrder order = RowOrder::BottomUp,
          int rowPadding = 0, Allocation allocation = Allocation::Heap);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /// Pixel bounds (half-open).
    const OfxRectI& bounds() const { return bounds_; }
    /// x2 - x1.
    int width() const { return bounds_.x2 - bounds_.x1; }
    /// y2 - y1.
    int height() const { return bounds_.y2 - bounds_.y1; }
    /// Channel layout.
    Components components() const { return components_; }
    /// Channel storage type.
    Depth depth() const { return depth_; }
    /// Row order in memory.
    RowOrder order() const { return order_; }
    /// Channels per pixel.
    int channels() const { return channelCount(components_); }
    /// Bytes per pixel.
    int pixelBytes() const { return channels() * bytesPerChannel(depth_); }
    /// Signed distance in bytes from row y to row y+1 (OfxImagePropRowBytes).
    int rowBytes() const;
    /// Address of pixel (x1, y1) (OfxImagePropData); null for an empty image.
    void* data();
    /// Address of pixel (x, y); null outside the bounds.
    void* pixel(int x, int y);
    /// True when (x, y) lies inside the bounds.
    bool contains(int x, int y) const;
    /// Raw channel value (0..255, 0..65535 or the float) of pixel (x, y).
    double get(int x, int y, int channel) const;
    /// Stores a raw channel value, rounded and clamped for integer depths.
    void set(int x, int y, int channel, double value);
    /// Sets every pixel to the raw values (one per channel).
    void fill(const std::vector<double>& raw);
    /// False when anything wrote to the guard bytes or the row padding.
    bool guardsIntact() const;

private:
    std::size_t offsetOf(int x, int y) const;

    static constexpr std::size_t kGuard = 64;
    static constexpr unsigned char kGuardByte = 0xA5;
    OfxRectI bounds_;
    Components components_;
    Depth depth_;
    RowOrder order_;
    int rowPadding_;
    std::size_t guardedPadding_; ///< bytes of each row's padding that hold the pattern
    std::size_t stride_;
    std::size_t pixelsBytes_;
    // kGuard bytes, rows, kGuard bytes; allocated as doubles so the rows are 8-byte aligned.
    std::vector<double> storage_;
    void* pages_ = nullptr; ///< Allocation::Sparse: the pages, kGuard bytes, rows, kGuard bytes
    std::size_t pagesBytes_ = 0;
    unsigned char* rows_;
};

} // namespace ofxhost
