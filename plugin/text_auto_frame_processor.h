// Detecting the text and compositing the plate behind it, for the six pixel formats.
#pragma once

#include "multi_thread.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

/// The detection result: edges in pixel positions relative to the source bounds' lower-left
/// corner, compared inclusively. Meaningless when found is false.
struct PlateRect {
    bool found = false;
    float left = 0;
    float bottom = 0;
    float right = 0;
    float top = 0;
};

/// The parameter bundle the render driver fills before process(); only read while the
/// threads run.
class TextAutoFrameProcessorBase : public OFX::ImageProcessor {
public:
    TextAutoFrameProcessorBase(OFX::ImageEffect& effect, OFX::BitDepth depth,
                               OFX::PixelComponents components)
        : OFX::ImageProcessor(effect), pixelDepth(depth), pixelComponents(components) {}

    OFX::Image* sourceImage = nullptr;
    float marginX = 20;   ///< pixels; applied twice on the left and on the right
    float marginY = 20;   ///< pixels; applied once below and above
    float yOffset = 0;    ///< pixels; positive moves the plate up
    float cornerSize = 0; ///< pixels; limited to half the plate's smaller side
    float fillColor[4] = {0, 0, 0, 1}; ///< straight R, G, B, A
    bool fillEnabled = true;
    float strokeColor[4] = {1, 1, 1, 1}; ///< straight R, G, B, A
    float strokeWidth = 0;               ///< half-width of the outline band, pixels
    bool strokeEnabled = true;
    float detectionThreshold = 0.1f; ///< fraction of the channel's full scale
    OfxRectI destinationBounds{0, 0, 0, 0};

    /// The pixel format this processor writes; the driver refuses images of another.
    const OFX::BitDepth pixelDepth;
    const OFX::PixelComponents pixelComponents;
};

namespace detail {

template <class PIX> constexpr OFX::BitDepth bitDepthOf() {
    if constexpr (std::is_same_v<PIX, unsigned char>)
        return OFX::BitDepth::Byte;
    else if constexpr (std::is_same_v<PIX, unsigned short>)
        return OFX::BitDepth::Short;
    else
        return OFX::BitDepth::Float;
}

/// Stores a working value into a channel: integers truncate toward zero and saturate at the
/// channel's range (NaN gives 0); floats are stored as they are.
template <class PIX, int maxValue> inline PIX storeChannel(float value) {
    if constexpr (std::is_floating_point_v<PIX>) {
        return value;
    } else {
        if (!(value > 0.0f))
            return 0;
        if (value >= static_cast<float>(maxValue))
            return static_cast<PIX>(maxValue);
        return static_cast<PIX>(value);
    }
}

} // namespace detail

template <class PIX, int nComponents, int maxValue>
class TextAutoFrameProcessor : public TextAutoFrameProcessorBase {
public:
    explicit TextAutoFrameProcessor(OFX::ImageEffect& effect)
        : TextAutoFrameProcessorBase(effect, detail::bitDepthOf<PIX>(),
                                     nComponents == 4 ? OFX::PixelComponents::RGBA
                                                      : OFX::PixelComponents::Alpha) {}

    void processWindow(const OfxRectI& window) override {
        if constexpr (nComponents == 4) {
            const PlateRect plate = detectPlateRect();
            if (plate.found) {
                drawPlate(window, plate);
                return;
            }
        }
        copySource(window);
    }

    /// Scans the whole source for pixels whose alpha (or only channel) exceeds the threshold
    /// and grows their bounding box into the plate.
    PlateRect detectPlateRect() const {
        PlateRect plate;
        if (!sourceImage)
            return plate;
        const OfxRectI& b = sourceImage->getBounds();
        if (b.y1 >= b.y2)
            return plate;
        const int width = b.x2 - b.x1;
        const int height = b.y2 - b.y1;
        const float threshold = detectionThreshold * static_cast<float>(maxValue);
        int minX = width, maxX = 0, minY = height, maxY = 0;
        bool found = false;
        for (int y = b.y1; y < b.y2; ++y) {
            for (int x = b.x1; x < b.x2; ++x) {
                auto* pixel = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));
                if (!pixel)
                    continue;
                if (static_cast<float>(pixel[nComponents - 1]) > threshold) {
                    const int u = x - b.x1;
                    const int v = y - b.y1;
                    minX = std::min(minX, u);
                    maxX = std::max(maxX, u);
                    minY = std::min(minY, v);
                    maxY = std::max(maxY, v);
                    found = true;
                }
            }
        }
        if (!found)
            return plate;
        plate.found = true;
        plate.left = static_cast<float>(minX) - (marginX + marginX);
        plate.bottom = (static_cast<float>(minY) - marginY) + yOffset;
        plate.right = static_cast<float>(maxX) + (marginX + marginX);
        plate.top = (static_cast<float>(maxY) + marginY) + yOffset;
        if (plate.left < 0)
            plate.left = 0;
        if (plate.bottom < 0)
            plate.bottom = 0;
        if (plate.right > static_cast<float>(width))
            plate.right = static_cast<float>(width);
        if (plate.top > static_cast<float>(height))
            plate.top = static_cast<float>(height);
        return plate;
    }

    /// Exact copy of the source; zeros where the source has no pixel.
    void copySource(const OfxRectI& window) {
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue; // row left as it was
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const PIX* src =
                    sourceImage ? static_cast<const PIX*>(sourceImage->pixelAddress(x, y)) : nullptr;
                for (int c = 0; c < nComponents; ++c)
                    dst[c] = src ? src[c] : PIX(0);
            }
        }
    }

    /// Composites the rounded plate (fill, outline) with the source over the window.
    void drawPlate(const OfxRectI& window, const PlateRect& plate) {
        const float left = plate.left, right = plate.right;
        const float bottom = plate.bottom, top = plate.top;
        const float rho = std::min(cornerSize, 0.5f * std::min(right - left, top - bottom));
        const float threshold = detectionThreshold * static_cast<float>(maxValue);
        const float scale = static_cast<float>(maxValue);
        // The plate was measured from the source's lower-left corner; measure the output
        // from the same corner so the plate stays on the text whatever the bounds.
        const OfxRectI& origin = sourceImage->getBounds();
        const bool straight =
            sourceImage->getPremultiplication() == OFX::AlphaPremultiplication::UnPremultiplied;

        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue; // row left as it was
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            const float py = static_cast<float>(y - origin.y1);
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const float px = static_cast<float>(x - origin.x1);
                const PIX* src = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));

                bool inFill = false;
                bool inStroke = false;
                float coverage = 0;
                const bool isText = src && static_cast<float>(src[3]) > threshold;
                if (!isText) {
                    inFill = fillEnabled && insideFill(px, py, left, bottom, right, top, rho);
                    if (strokeEnabled && strokeWidth > 0) {
                        const float delta = strokeDistance(px, py, left, bottom, right, top, rho);
                        if (strokeWidth > delta) {
                            inStroke = true;
                            coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
                        }
                    }
                }

                float A = 0, R = 0, G = 0, B = 0;
                if (src) {
                    A = static_cast<float>(src[3]) / scale;
                    if (straight) {
                        R = static_cast<float>(src[0]) / scale;
                        G = static_cast<float>(src[1]) / scale;
                        B = static_cast<float>(src[2]) / scale;
                    } else if (A > 0.001f) {
                        const float inverse = 1.0f / A;
                        R = (static_cast<float>(src[0]) / scale) * inverse;
                        G = (static_cast<float>(src[1]) / scale) * inverse;
                        B = (static_cast<float>(src[2]) / scale) * inverse;
                    }
                }

                if (inStroke) {
                    const float s = coverage * strokeColor[3];
                    const float k = 1.0f - s;
                    R = s * strokeColor[0] + k * R;
                    G = s * strokeColor[1] + k * G;
                    B = s * strokeColor[2] + k * B;
                    A = k * A + s;
                } else if (inFill) {
                    const float f = fillColor[3];
                    const float k = 1.0f - f;
                    R = f * fillColor[0] + k * R;
                    G = f * fillColor[1] + k * G;
                    B = f * fillColor[2] + k * B;
                    A = k * A + f;
                }

                if (straight) {
                    dst[0] = detail::storeChannel<PIX, maxValue>(R * scale);
                    dst[1] = detail::storeChannel<PIX, maxValue>(G * scale);
                    dst[2] = detail::storeChannel<PIX, maxValue>(B * scale);
                } else {
                    dst[0] = detail::storeChannel<PIX, maxValue>((A * R) * scale);
                    dst[1] = detail::storeChannel<PIX, maxValue>((A * G) * scale);
                    dst[2] = detail::storeChannel<PIX, maxValue>((A * B) * scale);
                }
                dst[3] = detail::storeChannel<PIX, maxValue>(A * scale);
            }
        }
    }

private:
    // Corner zones, strict comparisons: a pixel at exactly left + rho is in none.
    static bool inBottomLeft(float px, float py, float l, float b, float rho) {
        return px < l + rho && py < b + rho;
    }
    static bool inBottomRight(float px, float py, float r, float b, float rho) {
        return px > r - rho && py < b + rho;
    }
    static bool inTopLeft(float px, float py, float l, float t, float rho) {
        return px < l + rho && py > t - rho;
    }
    static bool inTopRight(float px, float py, float r, float t, float rho) {
        return px > r - rho && py > t - rho;
    }
    static bool insideCircle(float px, float py, float cx, float cy, float rho) {
        return (py - cy) * (py - cy) + (px - cx) * (px - cx) <= rho * rho;
    }

    static bool insideFill(float px, float py, float l, float b, float r, float t, float rho) {
        if (px < l || px > r || py < b || py > t)
            return false;
        if (rho <= 0)
            return true;
        if (inBottomLeft(px, py, l, b, rho))
            return insideCircle(px, py, l + rho, b + rho, rho);
        if (inBottomRight(px, py, r, b, rho))
            return insideCircle(px, py, r - rho, b + rho, rho);
        if (inTopLeft(px, py, l, t, rho))
            return insideCircle(px, py, l + rho, t - rho, rho);
        if (inTopRight(px, py, r, t, rho))
            return insideCircle(px, py, r - rho, t - rho, rho);
        return true;
    }

    static float cornerDistance(float px, float py, float cx, float cy, float rho, float delta) {
        const float d = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy));
        return std::min(std::fabs(d - rho), delta);
    }

    /// Distance from the pixel to the rounded outline, from either side.
    static float strokeDistance(float px, float py, float l, float b, float r, float t,
                                float rho) {
        float delta = 1e10f;
        if (l + rho <= px && px <= r - rho)
            delta = std::min(std::fabs(py - t), std::min(std::fabs(py - b), delta));
        if (b + rho <= py && py <= t - rho)
            delta = std::min(std::fabs(px - r), std::min(std::fabs(px - l), delta));
        if (inBottomLeft(px, py, l, b, rho))
            delta = cornerDistance(px, py, l + rho, b + rho, rho, delta);
        if (inBottomRight(px, py, r, b, rho))
            delta = cornerDistance(px, py, r - rho, b + rho, rho, delta);
        if (inTopRight(px, py, r, t, rho))
            delta = cornerDistance(px, py, r - rho, t - rho, rho, delta);
        if (inTopLeft(px, py, l, t, rho))
            delta = cornerDistance(px, py, l + rho, t - rho, rho, delta);
        return delta;
    }
};
