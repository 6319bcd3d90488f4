// What every text plate processor shares: the parameter bundle, the detection result, and the
// per-pixel arithmetic of the plate (32-bit floats, in a fixed order, so that every path
// gives the same bits).
#pragma once

#include "multi_thread.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
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

/// How the plate and the source are combined; the values are the options of the
/// "compositing" parameter.
enum class Compositing {
    Compatible = 0, ///< the effect's original arithmetic, kept for existing projects
    Accurate = 1,   ///< source over an antialiased plate, in premultiplied space
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
    Compositing compositing = Compositing::Compatible;

    /// False when a distance, the threshold or a colour component is not a finite number:
    /// the frame is then copied, not drawn over.
    bool parametersFinite() const {
        const float values[] = {marginX,        marginY,        yOffset,
                                cornerSize,     strokeWidth,    detectionThreshold,
                                fillColor[0],   fillColor[1],   fillColor[2],
                                fillColor[3],   strokeColor[0], strokeColor[1],
                                strokeColor[2], strokeColor[3]};
        for (float v : values)
            if (!std::isfinite(v))
                return false;
        return true;
    }

    /// The pixel format this processor writes; the driver refuses images of another.
    const OFX::BitDepth pixelDepth;
    const OFX::PixelComponents pixelComponents;
};

namespace plate {

constexpr float kMinAlpha = 0.001f; ///< at or below this, a pixel's colour counts as 0

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

/// Where a row can take a shortcut, in pixel positions relative to the source's corner:
/// outside the reach rectangle the plate cannot touch a pixel; inside the inner rectangle
/// every pixel sees the same plate. Decided in doubles with two pixels to spare, far more than
/// the rounding of the float arithmetic; when that cannot hold (values too large, or not
/// finite) `valid` is false and every pixel takes the whole per-pixel path.
struct SpanBounds {
    bool valid = false;
    double reachLeft = 0, reachRight = 0, reachBottom = 0, reachTop = 0;
    double innerLeft = 0, innerRight = 0, innerBottom = 0, innerTop = 0;
};

inline bool spanValuesUsable(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > 1e6)
            return false;
    return true;
}

/// The compatible arithmetic: outline or fill (never both) blended with the straight colour
/// of the source, hard-edged fill, text pixels left without plate, distances as delivered.
template <class PIX, int maxValue> struct Shader {
    /// Outside pixels are the source recomputed, not copied.
    static constexpr bool kCopiesOutside = false;

    Shader(const TextAutoFrameProcessorBase& p, const PlateRect& plate)
        : geometry(plate, p.cornerSize), scale(static_cast<float>(maxValue)),
          threshold(p.detectionThreshold * static_cast<float>(maxValue)),
          straight(p.sourceImage && p.sourceImage->getPremultiplication() ==
                                        OFX::AlphaPremultiplication::UnPremultiplied),
          fillEnabled(p.fillEnabled), strokeActive(p.strokeEnabled && p.strokeWidth > 0),
          strokeWidth(p.strokeWidth) {
        std::copy(p.fillColor, p.fillColor + 4, fill);
        std::copy(p.strokeColor, p.strokeColor + 4, stroke);
    }

    Geometry geometry;
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
            // Below kMinAlpha a straight colour is nobody's to see: it reads as 0, as a
            // premultiplied one does.
            if (straight && A > kMinAlpha) {
                R = static_cast<float>(src[0]) / scale;
                G = static_cast<float>(src[1]) / scale;
                B = static_cast<float>(src[2]) / scale;
            } else if (!straight && A > kMinAlpha) {
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
    void shadeAt(const PIX* src, PIX* dst, float px, float py) const {
        bool inFill = false;
        bool inStroke = false;
        float coverage = 0;
        if (!isText(src)) {
            inFill = fillEnabled && geometry.insideFill(px, py);
            if (strokeActive) {
                const float delta = geometry.strokeDistance(px, py);
                if (strokeWidth > delta) {
                    inStroke = true;
                    coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
                }
            }
        }
        shade(src, dst, inFill, inStroke, coverage);
    }

    /// A pixel neither fill nor outline reaches: recomputed.
    void shadeOutside(const PIX* src, PIX* dst) const { shade(src, dst, false, false, 0); }

    /// A pixel deep inside the fill: filled unless it is text.
    void shadeInterior(const PIX* src, PIX* dst) const {
        shade(src, dst, fillEnabled && !isText(src), false, 0);
    }

    SpanBounds spanBounds() const {
        SpanBounds b;
        const Geometry& g = geometry;
        const double sw = strokeActive ? strokeWidth : 0.0;
        b.valid = spanValuesUsable({g.left, g.right, g.bottom, g.top, g.rho, sw});
        if (!b.valid)
            return b;
        // A negative radius stretches the straight parts of the outline past the corners.
        const double reach = sw + 2 + (g.rho < 0 ? -g.rho : 0.0);
        b.reachLeft = std::min<double>(g.left, g.right) - reach;
        b.reachRight = std::max<double>(g.left, g.right) + reach;
        b.reachBottom = std::min<double>(g.bottom, g.top) - reach;
        b.reachTop = std::max<double>(g.bottom, g.top) + reach;
        const double inset = std::max<double>(g.rho, 0.0) + sw + 2;
        b.innerLeft = g.left + inset;
        b.innerRight = g.right - inset;
        b.innerBottom = g.bottom + inset;
        b.innerTop = g.top - inset;
        return b;
    }
};

/// Stores a working value into a channel, rounded to nearest and saturated for integers (NaN
/// gives 0); floats as they are.
template <class PIX, int maxValue> inline PIX storeRounded(float value) {
    if constexpr (std::is_floating_point_v<PIX>) {
        return value;
    } else {
        if (!(value > 0.0f))
            return 0;
        if (value >= static_cast<float>(maxValue))
            return static_cast<PIX>(maxValue);
        return static_cast<PIX>(value + 0.5f);
    }
}

/// The accurate arithmetic: the source composited over the plate, premultiplied, as a
/// compositor would (out = S + (1 - S.a) × P), with the plate's outline over its fill and
/// both antialiased by their signed distance.
///
/// The plate covers the detected rectangle's pixels whole: its boundary runs half a pixel
/// outside the positions left, right, bottom and top, so whole-pixel margins give the same
/// fill as the compatible arithmetic. The outline is centred on that boundary.
template <class PIX, int maxValue> struct AccurateShader {
    /// Pixels the plate does not reach are the source, copied.
    static constexpr bool kCopiesOutside = true;

    AccurateShader(const TextAutoFrameProcessorBase& p, const PlateRect& plate)
        : scale(static_cast<float>(maxValue)), unit(1.0f / static_cast<float>(maxValue)),
          straight(p.sourceImage && p.sourceImage->getPremultiplication() ==
                                        OFX::AlphaPremultiplication::UnPremultiplied),
          fillEnabled(p.fillEnabled), strokeActive(p.strokeEnabled && p.strokeWidth > 0),
          strokeWidth(p.strokeWidth) {
        centreX = 0.5f * (plate.left + plate.right);
        centreY = 0.5f * (plate.bottom + plate.top);
        const float halfWidth = 0.5f * (plate.right - plate.left) + 0.5f;
        const float halfHeight = 0.5f * (plate.top - plate.bottom) + 0.5f;
        // An inverted rectangle (negative margins, an offset past the frame) has no inside
        // and no edge: nothing is drawn.
        empty = !(halfWidth > 0 && halfHeight > 0);
        radius = std::clamp(p.cornerSize, 0.0f, empty ? 0.0f : std::min(halfWidth, halfHeight));
        straightX = halfWidth - radius;
        straightY = halfHeight - radius;
        for (int c = 0; c < 3; ++c) {
            fill[c] = p.fillColor[c] * p.fillColor[3];
            stroke[c] = p.strokeColor[c] * p.strokeColor[3];
        }
        fill[3] = p.fillColor[3];
        stroke[3] = p.strokeColor[3];
        plateFrom(fillEnabled ? 1.0f : 0.0f, 0.0f, interior);
    }

    float scale;
    float unit;    ///< 1 / scale
    bool straight; ///< the source declares straight colour: premultiply it on reading
    bool fillEnabled;
    bool strokeActive;
    float strokeWidth;
    bool empty = false;
    float centreX = 0, centreY = 0;
    float straightX = 0, straightY = 0; ///< half-lengths of the straight parts of the edges
    float radius = 0;
    float fill[4];     ///< premultiplied
    float stroke[4];   ///< premultiplied
    float interior[4]; ///< the plate deep inside the fill

    /// Signed distance from a pixel position to the plate's boundary, negative inside.
    float signedDistance(float px, float py) const {
        const float qx = std::fabs(px - centreX) - straightX;
        const float qy = std::fabs(py - centreY) - straightY;
        const float beyond =
            qx > 0 && qy > 0 ? std::sqrt(qx * qx + qy * qy) : std::max(std::max(qx, qy), 0.0f);
        return beyond + std::min(std::max(qx, qy), 0.0f) - radius;
    }

    static float coverage(float distance) { return std::clamp(0.5f - distance, 0.0f, 1.0f); }

    /// Outline (coverage os) over fill (coverage fs), premultiplied.
    void plateFrom(float fs, float os, float out[4]) const {
        // Nothing covered is no plate, even when a colour overflowed on premultiplying
        // (0 × infinity would be NaN): such pixels must stay copies of the source.
        if (fs == 0 && os == 0) {
            out[0] = out[1] = out[2] = out[3] = 0;
            return;
        }
        const float k = 1.0f - os * stroke[3];
        for (int c = 0; c < 4; ++c)
            out[c] = os * stroke[c] + k * (fs * fill[c]);
    }

    void plateAt(float px, float py, float out[4]) const {
        if (empty) {
            plateFrom(0.0f, 0.0f, out);
            return;
        }
        const float d = signedDistance(px, py);
        const float fs = fillEnabled ? coverage(d) : 0.0f;
        const float os = strokeActive ? coverage(std::fabs(d) - strokeWidth) : 0.0f;
        plateFrom(fs, os, out);
    }

    static void copy(const PIX* src, PIX* dst) {
        for (int c = 0; c < 4; ++c)
            dst[c] = src ? src[c] : PIX(0);
    }

    /// out = S over P; the source itself where the plate is nothing or the source is opaque.
    /// Worked in channel units (0 to maxValue), the plate scaled to them.
    void composite(const PIX* src, PIX* dst, const float plate[4]) const {
        if (plate[0] == 0 && plate[1] == 0 && plate[2] == 0 && plate[3] == 0) {
            copy(src, dst);
            return;
        }
        // Named channels rather than an array: the compiler would write an array piecewise
        // and read it back whole, which stalls the store-to-load forwarding.
        float sr = 0, sg = 0, sb = 0, sa = 0;
        if (src) {
            sa = static_cast<float>(src[3]);
            if (sa >= scale) {
                copy(src, dst);
                return;
            }
            if (!straight) {
                sr = static_cast<float>(src[0]);
                sg = static_cast<float>(src[1]);
                sb = static_cast<float>(src[2]);
            } else if (sa * unit > kMinAlpha) {
                const float a = sa * unit;
                sr = static_cast<float>(src[0]) * a;
                sg = static_cast<float>(src[1]) * a;
                sb = static_cast<float>(src[2]) * a;
            }
        }
        const float k = 1.0f - sa * unit;
        const float O[4] = {sr + k * (plate[0] * scale), sg + k * (plate[1] * scale),
                            sb + k * (plate[2] * scale), sa + k * (plate[3] * scale)};
        dst[3] = storeRounded<PIX, maxValue>(O[3]);
        if (!straight) {
            for (int c = 0; c < 3; ++c)
                dst[c] = storeRounded<PIX, maxValue>(O[c]);
        } else if (std::is_floating_point_v<PIX> ? O[3] > 0 : dst[3] != 0) {
            // Integers divide by the alpha as stored, so that premultiplying what was written
            // gives back the nearest value to the result.
            const float alpha = std::is_floating_point_v<PIX> ? O[3] : static_cast<float>(dst[3]);
            const float inverse = scale / alpha;
            for (int c = 0; c < 3; ++c)
                dst[c] = storeRounded<PIX, maxValue>(O[c] * inverse);
        } else {
            dst[0] = dst[1] = dst[2] = PIX(0);
        }
    }

    void shadeAt(const PIX* src, PIX* dst, float px, float py) const {
        float plate[4];
        plateAt(px, py, plate);
        composite(src, dst, plate);
    }

    void shadeOutside(const PIX* src, PIX* dst) const { copy(src, dst); }

    void shadeInterior(const PIX* src, PIX* dst) const { composite(src, dst, interior); }

    SpanBounds spanBounds() const {
        SpanBounds b;
        const double sw = strokeActive ? strokeWidth : 0.0;
        b.valid = spanValuesUsable({centreX, centreY, straightX, straightY, radius, sw});
        if (!b.valid)
            return b;
        if (empty || (!fillEnabled && !strokeActive)) {
            b.reachBottom = 1; // every row outside
            b.reachTop = -1;
            return b;
        }
        // The plate's boundary, then the outline and the ramp beyond it, and two to spare.
        const double outerX = straightX + radius, outerY = straightY + radius;
        const double reach = sw + 0.5 + 2;
        b.reachLeft = centreX - outerX - reach;
        b.reachRight = centreX + outerX + reach;
        b.reachBottom = centreY - outerY - reach;
        b.reachTop = centreY + outerY + reach;
        // Away from the corners, the distance to the boundary is that to the straight edges.
        const double inset = radius + sw + 0.5 + 2;
        b.innerLeft = centreX - outerX + inset;
        b.innerRight = centreX + outerX - inset;
        b.innerBottom = centreY - outerY + inset;
        b.innerTop = centreY + outerY - inset;
        return b;
    }
};

} // namespace plate
