// Writing the spans of a row, fast: the arithmetic is that of the shading, pixel for pixel;
// what is fast is the order of work. A span is a run of a row's columns known to be one kind:
// outside every plate's reach, deep inside a fill, along a straight edge, beside a left or
// right edge, or near a corner. Only the last take the per-pixel geometry. Transparent source
// pixels, and runs of one colour, are recognised four at a time; in 8 bits the result of a
// pixel away from the outline is a table lookup; under the shadow, a transparent pixel's result
// at each of the shadow's levels is a table too.
#pragma once

#include "plate_rows.h"
#include "plate_shading.h"
#include "plate_shadow.h"
#include "plate_simd.h"
#include "plate_tables.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace plate {

/// Whether every bit of n RGBA pixels is zero: transparent source pixels are the common case,
/// and their result is one constant per kind of span.
template <int n, class PIX> inline bool isZero(const PIX* pixels) {
    constexpr size_t bytes = sizeof(PIX) * 4 * n;
    std::uint64_t words[(bytes + 7) / 8] = {};
    std::memcpy(words, pixels, bytes);
    std::uint64_t any = 0;
    for (std::uint64_t w : words)
        any |= w;
    return any == 0;
}

/// The shadow's levels of the row being drawn, worked out on demand, with what a thread keeps
/// between rows.
class ShadowRow {
public:
    /// `originX`: the source's left edge, from which the field counts columns.
    ShadowRow(const ShadowField& field, int originX) : field_(field), originX_(originX) {}

    /// The row to work on, from the source's corner.
    void at(int y) { y_ = y; }

    /// The level of each of columns [first, end), handed to put(i, level), i from 0.
    template <class Put> void each(int first, int end, Put put) {
        field_.row(y_, first - originX_, end - originX_, cache_, put);
    }

    /// The levels of columns [first, end).
    const int* levels(int first, int end) {
        levels_.resize(static_cast<size_t>(end - first));
        field_.row(y_, first - originX_, end - originX_, levels_.data(), cache_);
        return levels_.data();
    }

private:
    const ShadowField& field_;
    int originX_;
    int y_ = 0;
    ShadowField::RowCache cache_;
    std::vector<int> levels_;
};

/// The spans of a row, written with the arithmetic S (CompatibleShading or AccurateShading).
/// Made once per render before the threads start; its spans are then written on several
/// threads at once, each into its own rows.
template <class PIX, int maxValue, class S> class SpanWriter {
public:
    /// `shadow`: the plates' shadow (inactive: none), which must outlive the writer; `window`:
    /// the render window (small ones compute directly rather than make tables); `vector`: the
    /// four-pixel tests may use vector instructions.
    SpanWriter(const Params& p, const ShadowField& shadow, const OfxRectI& window, bool vector)
        : s_(p), shadow_(shadow), vector_(vector) {
        s_.shadeInterior(nullptr, interiorOverNothing_);
        // Not the same as no pixel: in the compatible arithmetic with a threshold below zero
        // a transparent pixel is text.
        s_.shadeInterior(kZeroPixel, interiorOverZero_);
        const long long pixels = (static_cast<long long>(window.x2) - window.x1) *
                                 (static_cast<long long>(window.y2) - window.y1);
        useTables_ = std::is_same_v<PIX, unsigned char> && pixels >= kTablePixels;
        if (useTables_)
            tables_.prepare();
        if (shadow_.active()) {
            // Without a fill the shadow shows inside the outline: no span is the fill's.
            interiorUsable_ = p.fillEnabled;
            // A transparent pixel (or none) under the shadow alone, at every coverage.
            shadowOverZero_.resize(ShadowField::kLevels + 1);
            for (int level = 0; level <= ShadowField::kLevels; ++level)
                s_.shade(kZeroPixel, shadowOverZero_[static_cast<size_t>(level)].data(), Local{},
                         level);
        }
    }

protected:
    using Local = typename S::Local;

    // What a span of a row is known to be.
    enum class Span {
        Outside,  ///< neither fill nor outline can reach it
        Interior, ///< deep in the fill, away from outline and corners
        Exact,    ///< near an outline or a corner: the whole per-pixel algorithm over the
                  ///< shapes that reach the row
        Side,     ///< beside a left or right edge, where the plate depends on the column
        Straight, ///< beside a straight edge, where the plate is the same all along
    };

    static constexpr PIX kZeroPixel[4] = {0, 0, 0, 0};
    static constexpr long long kTablePixels = 1 << 16;

    /// Beside the left and right edges of a lone plate, in its inner rows, the plate depends
    /// on the column alone: the top and bottom edges are further than the outline reaches, and
    /// so are the corners. Each column's plate, and its result over a transparent pixel and
    /// over none, are worked out once per drawing.
    struct SideColumns {
        bool built = false;
        int first = 0, innerFirst = 0, innerEnd = 0,
            end = 0; ///< [first, innerFirst), [innerEnd, end)
        std::vector<Local> local;
        std::vector<std::array<PIX, 4>> overZero, overNothing;

        size_t index(int x) const {
            return x < innerFirst ? static_cast<size_t>(x - first)
                                  : static_cast<size_t>(innerFirst - first) +
                                        static_cast<size_t>(x - innerEnd);
        }
        void build(const S& s, const Shape& shape, int first_, int innerFirst_, int innerEnd_,
                   int end_, float py, int originX) {
            built = true;
            first = first_;
            innerFirst = innerFirst_;
            innerEnd = innerEnd_;
            end = end_;
            const size_t n =
                static_cast<size_t>(innerFirst - first) + static_cast<size_t>(end - innerEnd);
            local.resize(n);
            overZero.resize(n);
            overNothing.resize(n);
            const Shape* const one[] = {&shape};
            auto columns = [&](int from, int to) {
                for (int x = from; x < to; ++x) {
                    const size_t i = index(x);
                    local[i] = s.localAt(one, 1, relative(x, originX), py);
                    s.shade(kZeroPixel, overZero[i].data(), local[i]);
                    s.shade(nullptr, overNothing[i].data(), local[i]);
                }
            };
            columns(first, innerFirst);
            columns(innerEnd, end);
        }
    };

    /// One row being drawn: where its pixels are, and what its spans need.
    struct Row {
        PIX* out = nullptr; ///< destination pixel at column outX
        int outX = 0;
        const PIX* in = nullptr; ///< source pixel at column inX, or null: no source row
        int inX = 0;
        int srcFirst = 0, srcEnd = 0; ///< columns of the window the source holds
        float py = 0;
        int originX = 0;
        const Shape* const* shapes = nullptr; ///< the shapes that reach the row
        size_t shapeCount = 0;
        int clearEnd = 0, clearFrom = 0; ///< source columns known clear: before, from
        const Local* local = nullptr;    ///< the plate of a Straight span
        const SideColumns* side = nullptr;
        ShadowRow* shadow = nullptr;       ///< the shadow's levels, on demand; null: none
        int shadowFrom = 0, shadowEnd = 0; ///< the columns it may reach
        PIX localOverNothing[4] = {0, 0, 0, 0};
        PIX localOverZero[4] = {0, 0, 0, 0};
    };

    /// Columns deep inside the fill: there the plate hides its shadow, unless it has no fill.
    void interiorSpan(const Row& row, int first, int end) const {
        if (interiorUsable_)
            span<Span::Interior>(row, first, end);
        else
            span<Span::Exact>(row, first, end);
    }

    /// Columns [first, end) of one row, all of one kind.
    template <Span kind> void span(const Row& row, int first, int end) const {
        if (first >= end)
            return;
        if constexpr (kind != Span::Interior) {
            // The shadow's columns take it pixel by pixel.
            const int a = std::clamp(row.shadowFrom, first, end);
            const int b = std::clamp(row.shadowEnd, a, end);
            if (row.shadow && a < b && mayBeShadowed<kind>(row)) {
                unshadowed<kind>(row, first, a);
                shadowed<kind>(row, a, b);
                unshadowed<kind>(row, b, end);
                return;
            }
        }
        unshadowed<kind>(row, first, end);
    }

    /// Columns [first, end) of a span under the shadow: the arithmetic's per-pixel result at the
    /// shadow's coverage; outside the plate, a transparent source pixel (or none) from a table.
    template <Span kind> void shadowed(const Row& row, int first, int end) const {
        if constexpr (kind == Span::Outside) {
            // Split by where the source has pixels and where they are known clear, as span()
            // does: there every pixel is the table's.
            const int a = std::clamp(row.srcFirst, first, end);
            const int b = std::clamp(row.srcEnd, a, end);
            const int c = std::clamp(row.clearEnd, a, b);
            const int d = std::clamp(row.clearFrom, c, b);
            fromTable(row, first, c);
            outsideShadowed(row, row.shadow->levels(c, d), c, d);
            fromTable(row, d, end);
        } else {
            eachShadowed<kind>(row, row.shadow->levels(first, end), first, end);
        }
    }

    /// Whether a span's pixels can have shadow at all: a straight run inside the plate cannot.
    template <Span kind> bool mayBeShadowed(const Row& row) const {
        if constexpr (kind == Span::Straight)
            return !S::hidesShadow(*row.local);
        return true;
    }

    /// Columns [first, end) near the plate under the shadow, pixel by pixel. Where the plate
    /// keeps the shadow off, or there is none, a pixel is what it is without shadow.
    template <Span kind>
    void eachShadowed(const Row& row, const int* level, int first, int end) const {
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        for (int x = first; x < end; ++x, out += 4, ++level) {
            const bool hasSource = x >= row.srcFirst && x < row.srcEnd;
            const bool clear = hasSource && (x < row.clearEnd || x >= row.clearFrom);
            const PIX* in = hasSource && !clear
                                ? row.in + static_cast<std::ptrdiff_t>(x - row.inX) * 4
                            : hasSource ? kZeroPixel
                                        : nullptr;
            if constexpr (kind == Span::Exact) {
                s_.shadeAt(in, out, row.shapes, row.shapeCount, relative(x, row.originX), row.py,
                           *level);
            } else {
                const size_t i = kind == Span::Side ? row.side->index(x) : 0;
                const Local& local = kind == Span::Side ? row.side->local[i] : *row.local;
                const bool transparent = !in || isZero<1>(in);
                if (*level != 0 && transparent && S::bare(local)) {
                    std::memcpy(out, shadowOverZero_[static_cast<size_t>(*level)].data(),
                                sizeof(PIX) * 4);
                } else if ((*level == 0 || S::hidesShadow(local)) && transparent) {
                    const PIX* result =
                        kind == Span::Side
                            ? (in ? row.side->overZero[i].data() : row.side->overNothing[i].data())
                            : (in ? row.localOverZero : row.localOverNothing);
                    std::memcpy(out, result, sizeof(PIX) * 4);
                } else {
                    s_.shade(in, out, local, *level);
                }
            }
        }
    }

    /// Columns [first, end) outside the plate where the source has no pixel or a clear one:
    /// the table's result at each level (which at level 0 is the result without shadow).
    void fromTable(const Row& row, int first, int end) const {
        if (first >= end)
            return;
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        const std::array<PIX, 4>* table = shadowOverZero_.data();
        row.shadow->each(first, end, [out, table](int i, int level) {
            std::memcpy(out + 4 * static_cast<std::ptrdiff_t>(i),
                        table[static_cast<size_t>(level)].data(), sizeof(PIX) * 4);
        });
    }

    /// Columns [first, end) outside the plate whose source pixels are read.
    void outsideShadowed(const Row& row, const int* levels, int first, int end) const {
        if (first >= end)
            return; // a row without source pixels has no input row to address
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        const PIX* in = row.in + static_cast<std::ptrdiff_t>(first - row.inX) * 4;
        for (int x = first; x < end; ++x, out += 4, in += 4, ++levels) {
            if (isZero<1>(in))
                std::memcpy(out, shadowOverZero_[static_cast<size_t>(*levels)].data(),
                            sizeof(PIX) * 4);
            else
                s_.shade(in, out, Local{}, *levels);
        }
    }

    /// Columns [first, end) of one row, all of one kind, without shadow.
    template <Span kind> void unshadowed(const Row& row, int first, int end) const {
        if (first >= end)
            return;
        // Split by where the source has pixels, so the loops below never test for it.
        const int a = std::clamp(row.srcFirst, first, end);
        const int b = std::clamp(row.srcEnd, a, end);
        spanWithout<kind>(row, first, a);
        if constexpr (kind == Span::Exact || kind == Span::Side) {
            spanWith<kind>(row, a, b);
        } else {
            // Clear source pixels all give the result of a transparent one.
            const int c = std::clamp(row.clearEnd, a, b);
            const int d = std::clamp(row.clearFrom, c, b);
            spanClear<kind>(row, a, c);
            spanWith<kind>(row, c, d);
            spanClear<kind>(row, d, b);
        }
        spanWithout<kind>(row, b, end);
    }

    /// Columns [first, end) of a span over clear source pixels.
    template <Span kind> void spanClear(const Row& row, int first, int end) const {
        if (first >= end)
            return;
        const PIX* constant = kind == Span::Outside    ? kZeroPixel
                              : kind == Span::Interior ? interiorOverZero_
                                                       : row.localOverZero;
        fillPixels(row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4, constant,
                   end - first);
    }

    /// n copies of one pixel.
    void fillPixels(PIX* out, const PIX* pixel, int n) const {
        if (isZero<1>(pixel)) {
            std::memset(out, 0, sizeof(PIX) * 4 * static_cast<size_t>(n));
            return;
        }
        int x = 0;
        for (; n - x >= 4; x += 4, out += 16)
            quad::fill(out, pixel, vector_);
        for (; x < n; ++x, out += 4)
            std::memcpy(out, pixel, sizeof(PIX) * 4);
    }

    /// Columns [first, end) of a span where the source has no pixel.
    template <Span kind> void spanWithout(const Row& row, int first, int end) const {
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        for (int x = first; x < end; ++x, out += 4) {
            if constexpr (kind == Span::Outside) {
                out[0] = out[1] = out[2] = out[3] = PIX(0);
            } else if constexpr (kind == Span::Interior) {
                std::copy(interiorOverNothing_, interiorOverNothing_ + 4, out);
            } else if constexpr (kind == Span::Exact) {
                s_.shadeAt(nullptr, out, row.shapes, row.shapeCount, relative(x, row.originX),
                           row.py);
            } else if constexpr (kind == Span::Side) {
                std::memcpy(out, row.side->overNothing[row.side->index(x)].data(), sizeof(PIX) * 4);
            } else {
                static_assert(kind == Span::Straight);
                std::copy(row.localOverNothing, row.localOverNothing + 4, out);
            }
        }
    }

    /// Columns [first, end) of a span where the source has pixels.
    template <Span kind> void spanWith(const Row& row, int first, int end) const {
        if (first >= end) // without source pixels here, inX may be a world away from first
            return;
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        const PIX* in = row.in + static_cast<std::ptrdiff_t>(first - row.inX) * 4;
        if constexpr (kind == Span::Exact) {
            for (int x = first; x < end; ++x, out += 4, in += 4)
                s_.shadeAt(in, out, row.shapes, row.shapeCount, relative(x, row.originX), row.py);
        } else if constexpr (kind == Span::Side) {
            const SideColumns& side = *row.side;
            for (int x = first; x < end; ++x, out += 4, in += 4) {
                const size_t i = side.index(x);
                if (isZero<1>(in))
                    std::memcpy(out, side.overZero[i].data(), sizeof(PIX) * 4);
                else
                    s_.shade(in, out, side.local[i]);
            }
        } else if constexpr (kind == Span::Straight) {
            const Local& local = *row.local;
            for (int x = first; x < end; ++x, out += 4, in += 4) {
                if (isZero<1>(in))
                    std::memcpy(out, row.localOverZero, sizeof(PIX) * 4);
                else
                    s_.shade(in, out, local);
            }
        } else if constexpr (kind == Span::Outside && S::kCopiesOutside) {
            std::memmove(out, in, sizeof(PIX) * 4 * static_cast<size_t>(end - first));
        } else {
            spanAway<kind>(out, in, end - first);
        }
    }

    /// n pixels away from the outline, where a pixel's result depends on the pixel alone.
    /// Transparent pixels, the common case, give a constant, and a run of one colour (a
    /// glyph's inside) the result of its first pixel: four pixels at a time are tested for
    /// either before any is worked out.
    template <Span kind> void spanAway(PIX* out, const PIX* in, int n) const {
        const PIX* constant = kind == Span::Outside ? kZeroPixel : interiorOverZero_;
        PIX lastIn[4] = {0, 0, 0, 0}, lastOut[4] = {0, 0, 0, 0};
        std::copy(constant, constant + 4, lastOut);
        const bool vector = vector_;
        auto one = [&](const PIX* pixel, PIX* result) {
            if (quad::samePixel(pixel, lastIn)) {
                std::memcpy(result, lastOut, sizeof lastOut);
                return;
            }
            if (isZero<1>(pixel)) {
                std::memcpy(result, constant, sizeof lastOut);
                return;
            }
            shadeAway<kind>(pixel, result);
            std::memcpy(lastIn, pixel, sizeof lastIn);
            std::memcpy(lastOut, result, sizeof lastOut);
        };
        int x = 0;
        for (; n - x >= 4; x += 4, out += 16, in += 16) {
            if (quad::allZero(in, vector)) {
                quad::fill(out, constant, vector);
                continue;
            }
            // A glyph's inside, or its pixels among transparent ones.
            if (quad::zeroOrSame(in, lastIn, constant, lastOut, out, vector))
                continue;
            for (int k = 0; k < 4; ++k)
                one(in + 4 * k, out + 4 * k);
        }
        for (; x < n; ++x, out += 4, in += 4)
            one(in, out);
    }

    /// One pixel away from the outline and the corners.
    template <Span kind> void shadeAway(const PIX* in, PIX* out) const {
        if constexpr (std::is_same_v<PIX, unsigned char>) {
            if (useTables_ && tables_.lookUp(s_, in, out, kind == Span::Interior))
                return;
        }
        if constexpr (kind == Span::Outside)
            s_.shadeOutside(in, out);
        else
            s_.shadeInterior(in, out);
    }

    S s_;
    const ShadowField& shadow_;
    bool interiorUsable_ = true;                     ///< Interior spans may be taken
    std::vector<std::array<PIX, 4>> shadowOverZero_; ///< per shadow level
    bool vector_;
    bool useTables_ = false;
    ByteTables<S> tables_;
    PIX interiorOverNothing_[4] = {0, 0, 0, 0}; ///< interior result where the source has no pixel
    PIX interiorOverZero_[4] = {0, 0, 0, 0};    ///< interior result of a transparent pixel
};

} // namespace plate
