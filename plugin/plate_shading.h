// The per-pixel arithmetic of the two compositing modes, in 32-bit floats and in a fixed order,
// so that every path through the drawing gives the same bits.
//
// Each arithmetic says what the plate is at a position (its Local, from the shapes there) and
// what a source pixel becomes under it. Several shapes at one position are one plate: their
// union.
#pragma once

#include "plate_params.h"
#include "plate_shadow.h"
#include "plate_shape.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace plate {

constexpr float kMinAlpha = 0.001f; ///< at or below this, a pixel's colour counts as 0

/// Stores a working value into a channel: integers truncated toward zero (or rounded to
/// nearest) and saturated at the channel's range (NaN gives 0), so out-of-range colours cannot
/// wrap around; floats are stored as they are.
template <class PIX, int maxValue, bool rounded> inline PIX storeChannel(float value) {
    if constexpr (std::is_floating_point_v<PIX>) {
        return value;
    } else {
        if (!(value > 0.0f))
            return 0;
        if (value >= static_cast<float>(maxValue))
            return static_cast<PIX>(maxValue);
        return static_cast<PIX>(rounded ? value + 0.5f : value);
    }
}

template <class PIX, int maxValue> inline PIX storeTruncated(float value) {
    return storeChannel<PIX, maxValue, false>(value);
}

template <class PIX, int maxValue> inline PIX storeRounded(float value) {
    return storeChannel<PIX, maxValue, true>(value);
}

/// A source pixel (null: none) composited over a premultiplied plate colour, as a compositor
/// would: out = S + (1 - S.a) × P, worked in channel units (0 to maxValue), the plate scaled
/// to them; the source itself where the plate is nothing or the source is opaque. Straight
/// sources are premultiplied on reading and divided again on writing.
template <class PIX, int maxValue>
void compositeOver(const PIX* src, PIX* dst, const float plate[4], bool straight) {
    constexpr float scale = static_cast<float>(maxValue);
    constexpr float unit = 1.0f / static_cast<float>(maxValue);
    auto copy = [&] {
        for (int c = 0; c < 4; ++c)
            dst[c] = src ? src[c] : PIX(0);
    };
    if (plate[0] == 0 && plate[1] == 0 && plate[2] == 0 && plate[3] == 0) {
        copy();
        return;
    }
    // Named channels rather than an array: the compiler would write an array piecewise and
    // read it back whole, which stalls the store-to-load forwarding.
    float sr = 0, sg = 0, sb = 0, sa = 0;
    if (src) {
        sa = static_cast<float>(src[3]);
        if (sa >= scale) {
            copy();
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
        // Integers divide by the alpha as stored, so that premultiplying what was written gives
        // back the nearest value to the result.
        const float alpha = std::is_floating_point_v<PIX> ? O[3] : static_cast<float>(dst[3]);
        const float inverse = scale / alpha;
        for (int c = 0; c < 3; ++c)
            dst[c] = storeRounded<PIX, maxValue>(O[c] * inverse);
    } else {
        dst[0] = dst[1] = dst[2] = PIX(0);
    }
}

/// The shadow's colour where it covers a pixel: its colour premultiplied, times the shadow's
/// coverage (in 1/kShadowLevels), times what the plate leaves uncovered.
struct ShadowTint {
    explicit ShadowTint(const Params& p) {
        for (int c = 0; c < 3; ++c)
            colour[c] = p.shadowColor[c] * p.shadowColor[3];
        colour[3] = p.shadowColor[3];
    }
    void at(int level, float uncovered, float out[4]) const {
        const float s = (static_cast<float>(level) * (1.0f / ShadowField::kLevels)) * uncovered;
        for (int c = 0; c < 4; ++c)
            out[c] = colour[c] * s;
    }
    float colour[4];
};

/// The compatible arithmetic: outline or fill (never both) blended with the straight colour
/// of the source, hard-edged fill, text pixels left without plate, distances as delivered.
template <class PIX, int maxValue> struct CompatibleShading {
    /// Outside pixels are the source recomputed, not copied.
    static constexpr bool kCopiesOutside = false;
    static constexpr Edges kEdges = Edges::OnPositions;

    explicit CompatibleShading(const Params& p)
        : scale(static_cast<float>(maxValue)),
          threshold(p.detectionThreshold * static_cast<float>(maxValue)), straight(p.straight),
          fillEnabled(p.fillEnabled), strokeActive(p.strokeActive()), strokeWidth(p.strokeWidth),
          tint(p) {
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
    ShadowTint tint;

    /// What the plate is at one position, text aside.
    struct Local {
        bool inFill = false, inStroke = false;
        float coverage = 0;
    };

    bool isText(const PIX* src) const { return src && static_cast<float>(src[3]) > threshold; }

    /// The outline at distance `delta` from the edge: a band of half-width strokeWidth, fully
    /// covered but for a ramp over its outermost pixel on either side.
    void outlineAt(float delta, Local& l) const {
        if (strokeWidth > delta) {
            l.inStroke = true;
            l.coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
        }
    }

    /// The plate of the shapes at a position: inside the fill of any, at the distance of the
    /// nearest outline.
    Local localAt(const Shape* const* shapes, size_t n, float px, float py) const {
        Local l;
        float delta = 1e10f;
        for (size_t i = 0; i < n; ++i) {
            l.inFill = l.inFill || (fillEnabled && shapes[i]->inside(px, py));
            if (strokeActive)
                delta = std::min(delta, shapes[i]->distance(px, py));
        }
        if (strokeActive)
            outlineAt(delta, l);
        return l;
    }

    /// Blends fill or outline (never both) with the source pixel (null: transparent) and
    /// stores the result.
    void blend(const PIX* src, PIX* dst, const Local& l) const {
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
        if (l.inStroke) {
            const float s = l.coverage * stroke[3];
            const float k = 1.0f - s;
            R = s * stroke[0] + k * R;
            G = s * stroke[1] + k * G;
            B = s * stroke[2] + k * B;
            A = k * A + s;
        } else if (l.inFill) {
            const float f = fill[3];
            const float k = 1.0f - f;
            R = f * fill[0] + k * R;
            G = f * fill[1] + k * G;
            B = f * fill[2] + k * B;
            A = k * A + f;
        }
        if (straight) {
            dst[0] = storeTruncated<PIX, maxValue>(R * scale);
            dst[1] = storeTruncated<PIX, maxValue>(G * scale);
            dst[2] = storeTruncated<PIX, maxValue>(B * scale);
        } else {
            dst[0] = storeTruncated<PIX, maxValue>((A * R) * scale);
            dst[1] = storeTruncated<PIX, maxValue>((A * G) * scale);
            dst[2] = storeTruncated<PIX, maxValue>((A * B) * scale);
        }
        dst[3] = storeTruncated<PIX, maxValue>(A * scale);
    }

    /// A source pixel under the plate `l`: text gets no plate.
    void shade(const PIX* src, PIX* dst, const Local& l) const {
        blend(src, dst, isText(src) ? Local{} : l);
    }

    /// Whether the plate at a position keeps its shadow off the pixel, and whether it is no plate
    /// at all there (the pixel takes the shadow alone).
    static bool hidesShadow(const Local& l) { return l.inFill || l.inStroke; }
    static bool bare(const Local& l) { return !l.inFill && !l.inStroke; }

    /// The same under a shadow of coverage `level`: where this arithmetic leaves the source as
    /// it is (outside the plate and its outline), the source over the shadow, premultiplied.
    void shade(const PIX* src, PIX* dst, const Local& l, int level) const {
        if (level == 0 || l.inFill || l.inStroke) {
            shade(src, dst, l);
            return;
        }
        float shadow[4];
        tint.at(level, 1.0f, shadow);
        compositeOver<PIX, maxValue>(src, dst, shadow, straight);
    }

    /// The whole per-pixel algorithm at a position (the plate is not looked at for text),
    /// under a shadow of coverage `level`.
    void shadeAt(const PIX* src, PIX* dst, const Shape* const* shapes, size_t n, float px, float py,
                 int level = 0) const {
        if (level == 0)
            blend(src, dst, isText(src) ? Local{} : localAt(shapes, n, px, py));
        else
            shade(src, dst, localAt(shapes, n, px, py), level);
    }

    /// A pixel neither fill nor outline reaches: recomputed.
    void shadeOutside(const PIX* src, PIX* dst) const { blend(src, dst, Local{}); }

    /// A pixel deep inside the fill: filled unless it is text.
    void shadeInterior(const PIX* src, PIX* dst) const {
        Local l;
        l.inFill = fillEnabled && !isText(src);
        blend(src, dst, l);
    }
};

/// The accurate arithmetic: the source composited over the plate, premultiplied, as a
/// compositor would (out = S + (1 - S.a) × P), with the plate's outline over its fill and both
/// antialiased by their signed distance.
template <class PIX, int maxValue> struct AccurateShading {
    /// Pixels the plate does not reach are the source, copied.
    static constexpr bool kCopiesOutside = true;
    static constexpr Edges kEdges = Edges::HalfPixelOutside;

    explicit AccurateShading(const Params& p)
        : straight(p.straight), fillEnabled(p.fillEnabled), strokeActive(p.strokeActive()),
          strokeWidth(p.strokeWidth), reach(static_cast<float>(p.outlineReach())), tint(p) {
        for (int c = 0; c < 3; ++c) {
            fill[c] = p.fillColor[c] * p.fillColor[3];
            stroke[c] = p.strokeColor[c] * p.strokeColor[3];
        }
        fill[3] = p.fillColor[3];
        stroke[3] = p.strokeColor[3];
        plateFrom(fillEnabled ? 1.0f : 0.0f, 0.0f, interior);
    }

    bool straight; ///< the source declares straight colour: premultiply it on reading
    bool fillEnabled;
    bool strokeActive;
    float strokeWidth;
    float reach; ///< how far beyond the edge the outline is drawn
    ShadowTint tint;
    float fill[4];     ///< premultiplied
    float stroke[4];   ///< premultiplied
    float interior[4]; ///< the plate deep inside the fill

    /// The plate at one position, premultiplied, and how much of the pixel its shape covers
    /// (fill and outline together), which its shadow leaves alone.
    struct Local {
        float plate[4] = {0, 0, 0, 0};
        float cover = 0;
    };

    /// Coverage of a pixel whose centre lies `distance` outside an edge: a one-pixel ramp.
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

    /// The plate at signed distance d from the boundary: the fill inside it, the outline
    /// centred on it.
    void plateFromDistance(float d, float out[4]) const {
        const float fs = fillEnabled ? coverage(d) : 0.0f;
        const float os = strokeActive ? coverage(std::fabs(d) - strokeWidth) : 0.0f;
        plateFrom(fs, os, out);
    }

    /// The plate of the shapes at a position: that of their union, the least signed distance.
    Local localAt(const Shape* const* shapes, size_t n, float px, float py) const {
        Local l;
        float d = 0;
        bool any = false;
        for (size_t i = 0; i < n; ++i) {
            if (shapes[i]->empty())
                continue;
            const float di = shapes[i]->signedDistance(px, py);
            d = any ? std::min(d, di) : di;
            any = true;
        }
        if (any) {
            plateFromDistance(d, l.plate);
            l.cover = fillEnabled    ? coverage(d - reach)
                      : strokeActive ? coverage(std::fabs(d) - strokeWidth)
                                     : 0.0f;
        }
        return l;
    }

    static void copy(const PIX* src, PIX* dst) {
        for (int c = 0; c < 4; ++c)
            dst[c] = src ? src[c] : PIX(0);
    }

    void composite(const PIX* src, PIX* dst, const float plate[4]) const {
        compositeOver<PIX, maxValue>(src, dst, plate, straight);
    }

    /// A source pixel under the plate `l`.
    void shade(const PIX* src, PIX* dst, const Local& l) const { composite(src, dst, l.plate); }

    /// Whether the plate at a position keeps its shadow off the pixel, and whether it is no plate
    /// at all there (the pixel takes the shadow alone).
    static bool hidesShadow(const Local& l) { return l.cover >= 1; }
    static bool bare(const Local& l) {
        return l.cover == 0 && l.plate[0] == 0 && l.plate[1] == 0 && l.plate[2] == 0 &&
               l.plate[3] == 0;
    }

    /// The same under a shadow of coverage `level`: source over plate over shadow, the shadow
    /// only where the plate's shape leaves the pixel uncovered.
    void shade(const PIX* src, PIX* dst, const Local& l, int level) const {
        if (level == 0) {
            shade(src, dst, l);
            return;
        }
        float shadow[4];
        tint.at(level, 1.0f - l.cover, shadow);
        const float k = 1.0f - l.plate[3];
        const float over[4] = {l.plate[0] + k * shadow[0], l.plate[1] + k * shadow[1],
                               l.plate[2] + k * shadow[2], l.plate[3] + k * shadow[3]};
        composite(src, dst, over);
    }

    /// The whole per-pixel algorithm at a position, under a shadow of coverage `level`.
    void shadeAt(const PIX* src, PIX* dst, const Shape* const* shapes, size_t n, float px, float py,
                 int level = 0) const {
        shade(src, dst, localAt(shapes, n, px, py), level);
    }

    void shadeOutside(const PIX* src, PIX* dst) const { copy(src, dst); }

    void shadeInterior(const PIX* src, PIX* dst) const { composite(src, dst, interior); }
};

} // namespace plate
