// What every text plate processor shares: the parameter bundle, the detection result, and the
// per-pixel arithmetic of the plate (32-bit floats, in a fixed order, so that every path
// gives the same bits).
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
    float marginX = 20;                ///< pixels; applied twice on the left and on the right
    float marginY = 20;                ///< pixels; applied once below and above
    float yOffset = 0;                 ///< pixels; positive moves the plate up
    float cornerSize = 0;              ///< pixels; limited to half the plate's smaller side
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

namespace plate {

template <class PIX> constexpr OFX::BitDepth bitDepthOf() {
    if constexpr (std::is_same_v<PIX, unsigned char>)
        return OFX::BitDepth::Byte;
    else if constexpr (std::is_same_v<PIX, unsigned short>)
        return OFX::BitDepth::Short;
    else
        return OFX::BitDepth::Float;
}

/// Stores a working value into a channel: integers truncate toward zero and saturate at the
/// channel's range (NaN gives 0), so out-of-range colours cannot wrap around; floats are
/// stored as they are.
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

/// Grows the bounding box of the text (relative columns and rows) into the plate and clamps
/// it to the source; W and H are the source's width and height.
inline PlateRect plateFromExtremes(int minX, int maxX, int minY, int maxY, int width, int height,
                                   float marginX, float marginY, float yOffset) {
    PlateRect plate;
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

/// The rounded rectangle: fill membership and distance to the outline of one pixel position.
struct Geometry {
    float left, bottom, right, top;
    float rho; ///< corner radius; may be negative

    Geometry(const PlateRect& p, float cornerSize)
        : left(p.left), bottom(p.bottom), right(p.right), top(p.top),
          rho(std::min(cornerSize, 0.5f * std::min(p.right - p.left, p.top - p.bottom))) {}

    // Corner zones, strict comparisons: a pixel at exactly left + rho is in none.
    bool inBottomLeft(float px, float py) const { return px < left + rho && py < bottom + rho; }
    bool inBottomRight(float px, float py) const { return px > right - rho && py < bottom + rho; }
    bool inTopLeft(float px, float py) const { return px < left + rho && py > top - rho; }
    bool inTopRight(float px, float py) const { return px > right - rho && py > top - rho; }

    static bool insideCircle(float px, float py, float cx, float cy, float r) {
        return (py - cy) * (py - cy) + (px - cx) * (px - cx) <= r * r;
    }

    /// Hard-edged fill; the edges themselves are inside.
    bool insideFill(float px, float py) const {
        if (px < left || px > right || py < bottom || py > top)
            return false;
        if (rho <= 0)
            return true;
        if (inBottomLeft(px, py))
            return insideCircle(px, py, left + rho, bottom + rho, rho);
        if (inBottomRight(px, py))
            return insideCircle(px, py, right - rho, bottom + rho, rho);
        if (inTopLeft(px, py))
            return insideCircle(px, py, left + rho, top - rho, rho);
        if (inTopRight(px, py))
            return insideCircle(px, py, right - rho, top - rho, rho);
        return true;
    }

    static float cornerDistance(float px, float py, float cx, float cy, float r, float delta) {
        const float d = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy));
        return std::min(std::fabs(d - r), delta);
    }

    /// Distance from the pixel to the rounded outline, from either side.
    float strokeDistance(float px, float py) const {
        float delta = 1e10f;
        if (left + rho <= px && px <= right - rho)
            delta = std::min(std::fabs(py - top), std::min(std::fabs(py - bottom), delta));
        if (bottom + rho <= py && py <= top - rho)
            delta = std::min(std::fabs(px - right), std::min(std::fabs(px - left), delta));
        if (inBottomLeft(px, py))
            delta = cornerDistance(px, py, left + rho, bottom + rho, rho, delta);
        if (inBottomRight(px, py))
            delta = cornerDistance(px, py, right - rho, bottom + rho, rho, delta);
        if (inTopRight(px, py))
            delta = cornerDistance(px, py, right - rho, top - rho, rho, delta);
        if (inTopLeft(px, py))
            delta = cornerDistance(px, py, left + rho, top - rho, rho, delta);
        return delta;
    }
};

/// Colour arithmetic of one output pixel of a four-channel image.
template <class PIX, int maxValue> struct Shader {
    explicit Shader(const TextAutoFrameProcessorBase& p)
        : scale(static_cast<float>(maxValue)),
          threshold(p.detectionThreshold * static_cast<float>(maxValue)),
          straight(p.sourceImage && p.sourceImage->getPremultiplication() ==
                                        OFX::AlphaPremultiplication::UnPremultiplied),
          fillEnabled(p.fillEnabled), strokeActive(p.strokeEnabled && p.strokeWidth > 0),
          strokeWidth(p.strokeWidth) {
        std::copy(p.fillColor, p.fillColor + 4, fill);
        std::copy(p.strokeColor, p.strokeColor + 4, stroke);
    }

    float scale;
    float threshold;
    bool straight; ///< the source declares straight colour: read and write it so
    bool fillEnabled;
    bool strokeActive;
    float strokeWidth;
    float fill[4];
    float stroke[4];

    bool isText(const PIX* src) const { return src && static_cast<float>(src[3]) > threshold; }

    /// Blends fill or outline (never both) with the source pixel (null: transparent) and
    /// stores the result.
    void shade(const PIX* src, PIX* dst, bool inFill, bool inStroke, float coverage) const {
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
            const float s = coverage * stroke[3];
            const float k = 1.0f - s;
            R = s * stroke[0] + k * R;
            G = s * stroke[1] + k * G;
            B = s * stroke[2] + k * B;
            A = k * A + s;
        } else if (inFill) {
            const float f = fill[3];
            const float k = 1.0f - f;
            R = f * fill[0] + k * R;
            G = f * fill[1] + k * G;
            B = f * fill[2] + k * B;
            A = k * A + f;
        }
        if (straight) {
            dst[0] = storeChannel<PIX, maxValue>(R * scale);
            dst[1] = storeChannel<PIX, maxValue>(G * scale);
            dst[2] = storeChannel<PIX, maxValue>(B * scale);
        } else {
            dst[0] = storeChannel<PIX, maxValue>((A * R) * scale);
            dst[1] = storeChannel<PIX, maxValue>((A * G) * scale);
            dst[2] = storeChannel<PIX, maxValue>((A * B) * scale);
        }
        dst[3] = storeChannel<PIX, maxValue>(A * scale);
    }

    /// The whole per-pixel algorithm at position (px, py) relative to the plate's origin.
    void shadeAt(const PIX* src, PIX* dst, float px, float py, const Geometry& g) const {
        bool inFill = false;
        bool inStroke = false;
        float coverage = 0;
        if (!isText(src)) {
            inFill = fillEnabled && g.insideFill(px, py);
            if (strokeActive) {
                const float delta = g.strokeDistance(px, py);
                if (strokeWidth > delta) {
                    inStroke = true;
                    coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
                }
            }
        }
        shade(src, dst, inFill, inStroke, coverage);
    }
};

} // namespace plate
