#include "images.h"

#include "platform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace ofxhost {

const char* toString(Components c) {
    return c == Components::RGBA ? kOfxImageComponentRGBA : kOfxImageComponentAlpha;
}

const char* toString(Depth d) {
    switch (d) {
    case Depth::Byte:
        return kOfxBitDepthByte;
    case Depth::Short:
        return kOfxBitDepthShort;
    case Depth::Float:
        return kOfxBitDepthFloat;
    }
    return kOfxBitDepthNone;
}

std::optional<Components> componentsFromString(const std::string& s) {
    if (s == kOfxImageComponentRGBA)
        return Components::RGBA;
    if (s == kOfxImageComponentAlpha)
        return Components::Alpha;
    return std::nullopt;
}

std::optional<Depth> depthFromString(const std::string& s) {
    if (s == kOfxBitDepthByte)
        return Depth::Byte;
    if (s == kOfxBitDepthShort)
        return Depth::Short;
    if (s == kOfxBitDepthFloat)
        return Depth::Float;
    return std::nullopt;
}

int channelCount(Components c) { return c == Components::RGBA ? 4 : 1; }

int bytesPerChannel(Depth d) {
    switch (d) {
    case Depth::Byte:
        return 1;
    case Depth::Short:
        return 2;
    case Depth::Float:
        return 4;
    }
    return 1;
}

Image::Image(OfxRectI bounds, Components components, Depth depth, RowOrder order, int rowPadding,
             Allocation allocation)
    : bounds_(bounds), components_(components), depth_(depth), order_(order),
      rowPadding_(rowPadding) {
    if (bounds.x2 < bounds.x1 || bounds.y2 < bounds.y1 || rowPadding < 0)
        throw std::invalid_argument("ofxhost::Image: bad bounds or padding");
    stride_ = static_cast<std::size_t>(width()) * static_cast<std::size_t>(pixelBytes()) +
              static_cast<std::size_t>(rowPadding_);
    pixelsBytes_ = stride_ * static_cast<std::size_t>(height());
    const std::size_t total = 2 * kGuard + pixelsBytes_;
    unsigned char* bytes = nullptr;
    if (allocation == Allocation::Sparse) {
        // Fresh pages are zero: only the guards are written, and of the padding only as much
        // as shares a page with the row's pixels.
        pages_ = platform::reservePages(total);
        if (!pages_)
            throw std::bad_alloc();
        pagesBytes_ = total;
        bytes = static_cast<unsigned char*>(pages_);
        guardedPadding_ = std::min<std::size_t>(static_cast<std::size_t>(rowPadding_), kGuard);
        std::memset(bytes, kGuardByte, kGuard);
        std::memset(bytes + kGuard + pixelsBytes_, kGuardByte, kGuard);
    } else {
        storage_.resize((total + sizeof(double) - 1) / sizeof(double));
        bytes = reinterpret_cast<unsigned char*>(storage_.data());
        guardedPadding_ = static_cast<std::size_t>(rowPadding_);
        std::memset(bytes, kGuardByte, storage_.size() * sizeof(double));
    }
    rows_ = bytes + kGuard;
    for (int r = 0; r < height(); ++r) {
        unsigned char* row = rows_ + static_cast<std::size_t>(r) * stride_;
        if (pages_)
            std::memset(row + stride_ - rowPadding_, kGuardByte, guardedPadding_);
        else // pixels start at zero; only the guards and the padding carry the pattern
            std::memset(row, 0, stride_ - rowPadding_);
    }
}

Image::~Image() {
    if (pages_)
        platform::releasePages(pages_, pagesBytes_);
}

int Image::rowBytes() const {
    int s = static_cast<int>(stride_);
    return order_ == RowOrder::BottomUp ? s : -s;
}

std::size_t Image::offsetOf(int x, int y) const {
    int row = order_ == RowOrder::BottomUp ? y - bounds_.y1 : bounds_.y2 - 1 - y;
    return static_cast<std::size_t>(row) * stride_ +
           static_cast<std::size_t>(x - bounds_.x1) * static_cast<std::size_t>(pixelBytes());
}

void* Image::data() {
    if (width() == 0 || height() == 0)
        return nullptr;
    return rows_ + offsetOf(bounds_.x1, bounds_.y1);
}

bool Image::contains(int x, int y) const {
    return x >= bounds_.x1 && x < bounds_.x2 && y >= bounds_.y1 && y < bounds_.y2;
}

void* Image::pixel(int x, int y) { return contains(x, y) ? rows_ + offsetOf(x, y) : nullptr; }

double Image::get(int x, int y, int channel) const {
    if (!contains(x, y) || channel < 0 || channel >= channels())
        throw std::out_of_range("ofxhost::Image::get outside the image");
    const unsigned char* p =
        rows_ + offsetOf(x, y) + static_cast<std::size_t>(channel * bytesPerChannel(depth_));
    switch (depth_) {
    case Depth::Byte:
        return *p;
    case Depth::Short: {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case Depth::Float: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    }
    return 0.0;
}

void Image::set(int x, int y, int channel, double value) {
    if (!contains(x, y) || channel < 0 || channel >= channels())
        throw std::out_of_range("ofxhost::Image::set outside the image");
    unsigned char* p =
        rows_ + offsetOf(x, y) + static_cast<std::size_t>(channel * bytesPerChannel(depth_));
    switch (depth_) {
    case Depth::Byte:
        *p = static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L));
        break;
    case Depth::Short: {
        auto v = static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    case Depth::Float: {
        auto v = static_cast<float>(value);
        std::memcpy(p, &v, sizeof v);
        break;
    }
    }
}

void Image::fill(const std::vector<double>& raw) {
    for (int y = bounds_.y1; y < bounds_.y2; ++y)
        for (int x = bounds_.x1; x < bounds_.x2; ++x)
            for (int c = 0; c < channels() && c < static_cast<int>(raw.size()); ++c)
                set(x, y, c, raw[static_cast<std::size_t>(c)]);
}

bool Image::guardsIntact() const {
    const unsigned char* base = rows_ - kGuard;
    for (std::size_t i = 0; i < kGuard; ++i)
        if (base[i] != kGuardByte || rows_[pixelsBytes_ + i] != kGuardByte)
            return false;
    for (int r = 0; r < height(); ++r) {
        const unsigned char* pad = rows_ + static_cast<std::size_t>(r + 1) * stride_ - rowPadding_;
        for (std::size_t i = 0; i < guardedPadding_; ++i)
            if (pad[i] != kGuardByte)
                return false;
    }
    return true;
}

} // namespace ofxhost
