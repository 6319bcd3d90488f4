// Drawing the plates into the rows of a window, fast: the arithmetic is that of the shading,
// pixel for pixel; what is fast is the order of work. Whole spans of each row are classified
// (outside every plate's reach, deep inside a fill, along a straight edge, beside a left or
// right edge, or near a corner), and only the last take the per-pixel geometry. Transparent
// source pixels, and runs of one colour, are recognised four at a time; in 8 bits the result
// of a pixel away from the outline is a table lookup.
#pragma once

#include "plate_detection.h"
#include "plate_rows.h"
#include "plate_shading.h"
#include "plate_shadow.h"
#include "plate_simd.h"
#include "plate_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace plate {

inline int clampToInt(double v, int lo, int hi) {
    if (!(v > lo))
        return lo;
    if (v > hi)
        return hi;
    return static_cast<int>(v);
}

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

/// Exact copy of the source into the window's rows (any number of channels); zeros where the
/// source has no pixel. Columns that detection noted clear are written as zeros without
/// being read. `abortRequested()` is asked once per row; a row it answers true for is left
/// as it was.
template <class PIX, int nComponents, class Abort>
void copyRows(const OfxRectI& window, const Rows<PIX>& dst, const Rows<PIX>& src,
              const ClearNotes& clear, Abort abortRequested) {
    const int sx1 = std::clamp(src.bounds.x1, window.x1, window.x2);
    const int sx2 = std::clamp(src.bounds.x2, sx1, window.x2);
    const size_t pixelSize = sizeof(PIX) * nComponents;
    for (int y = window.y1; y < window.y2; ++y) {
        if (abortRequested())
            continue; // row left as it was
        PIX* out =
            dst.row(y) + static_cast<std::ptrdiff_t>(window.x1 - dst.bounds.x1) * nComponents;
        if (!src.hasRow(y) || sx1 >= sx2) {
            std::memset(out, 0, pixelSize * static_cast<size_t>(window.x2 - window.x1));
            continue;
        }
        int copyFrom = sx1, copyEnd = sx2;
        if (!clear.rows.empty()) {
            int clearFrom = sx2;
            clear.columns(y, src.bounds, sx1, sx2, copyFrom, clearFrom);
            copyEnd = std::max(clearFrom, copyFrom);
        }
        const PIX* in =
            src.row(y) + static_cast<std::ptrdiff_t>(copyFrom - src.bounds.x1) * nComponents;
        std::memset(out, 0, pixelSize * static_cast<size_t>(copyFrom - window.x1));
        std::memmove(out + static_cast<std::ptrdiff_t>(copyFrom - window.x1) * nComponents, in,
                     pixelSize * static_cast<size_t>(copyEnd - copyFrom));
        std::memset(out + static_cast<std::ptrdiff_t>(copyEnd - window.x1) * nComponents, 0,
                    pixelSize * static_cast<size_t>(window.x2 - copyEnd));
    }
}

/// The plates of a render, drawn over RGBA rows with the arithmetic S (CompatibleShading or
/// AccurateShading). Made once per render before the threads start; draw() then runs on
/// several threads at once, each over its own rows.
template <class PIX, int maxValue, class S> class Drawing {
public:
    /// `window`: the render window (small ones compute directly rather than make tables);
    /// `vector`: the four-pixel tests may use vector instructions.
    /// `shadow`: the plates' shadow (inactive: none); it must outlive the drawing.
    Drawing(const Params& p, const Plates& plates, const ShadowField& shadow,
            const OfxRectI& window, bool vector)
        : s_(p), shadow_(shadow), vector_(vector) {
        for (const Plate& plate : plates)
            shapes_.emplace_back(plate, p.cornerSize, p.innerCornerSize, S::kEdges,
                                 p.outlineReach(), p.fillEnabled || p.strokeActive());
        for (const Shape& shape : shapes_)
            for (const SpanBounds& b : shape.spanBounds())
                valid_ = valid_ && b.valid;
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

    /// Draws every row of `window` from the source `src` into `dst`; positions are measured
    /// from the source's lower-left corner. `abortRequested()` is asked once per row; a row it
    /// answers true for is left as it was.
    template <class Abort>
    void draw(const OfxRectI& window, const Rows<PIX>& dst, const Rows<PIX>& src,
              const ClearNotes& clear, Abort abortRequested) const {
        const OfxRectI& origin = src.bounds;
        const int sx1 = std::clamp(src.bounds.x1, window.x1, window.x2);
        const int sx2 = std::clamp(src.bounds.x2, sx1, window.x2);
        RowPlan plan(*this, window, origin.x1);
        for (int y = window.y1; y < window.y2; ++y) {
            if (abortRequested())
                continue; // row left as it was
            Row row;
            row.out = dst.row(y) + static_cast<std::ptrdiff_t>(window.x1 - dst.bounds.x1) * 4;
            row.outX = window.x1;
            row.in = src.hasRow(y) && sx1 < sx2 ? src.row(y) : nullptr;
            row.inX = src.bounds.x1;
            row.srcFirst = row.in ? sx1 : window.x2;
            row.srcEnd = row.in ? sx2 : window.x2;
            row.py = relative(y, origin.y1);
            row.originX = origin.x1;
            row.clearEnd = row.srcFirst;
            row.clearFrom = row.srcEnd;
            if (row.in)
                clear.columns(y, src.bounds, row.srcFirst, row.srcEnd, row.clearEnd, row.clearFrom);
            plan.shadowOf(row, static_cast<std::int64_t>(y) - origin.y1);
            plan.drawRow(row);
        }
    }

private:
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

    class RowPlan;

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
        RowPlan* shadow = nullptr;         ///< the shadow's levels, on demand; null: none
        int shadowFrom = 0, shadowEnd = 0; ///< the columns it may reach
        int shadowY = 0;                   ///< the row, from the source's corner
        PIX localOverNothing[4] = {0, 0, 0, 0};
        PIX localOverZero[4] = {0, 0, 0, 0};
    };

    /// The per-row classification of one draw() call, with what it keeps between rows.
    class RowPlan {
    public:
        RowPlan(const Drawing& d, const OfxRectI& window, int originX)
            : d_(d), window_(window), originX_(originX), nearRow_(d.shapes_),
              sides_(d.shapes_.size()) {
            for (const Shape& shape : d.shapes_)
                all_.push_back(&shape);
        }

        /// Where the shadow may reach the row (py from the source's corner) across the window;
        /// its levels are worked out only for the spans that ask.
        void shadowOf(Row& row, std::int64_t py) {
            row.shadow = nullptr;
            row.shadowFrom = row.shadowEnd = window_.x1;
            const ShadowField& shadow = d_.shadow_;
            if (!shadow.active() || py < shadow.reach().y1 || py >= shadow.reach().y2)
                return;
            const std::int64_t from = std::max<std::int64_t>(
                window_.x1, static_cast<std::int64_t>(shadow.reach().x1) + originX_);
            const std::int64_t end = std::min<std::int64_t>(
                window_.x2, static_cast<std::int64_t>(shadow.reach().x2) + originX_);
            if (from >= end)
                return;
            row.shadowFrom = static_cast<int>(from);
            row.shadowEnd = static_cast<int>(end);
            row.shadowY = static_cast<int>(py);
            row.shadow = this;
        }

        /// The shadow's level of each of columns [first, end) of the row, handed to
        /// put(i, level) with i counted from `first`.
        template <class Put> void eachLevel(const Row& row, int first, int end, Put put) {
            d_.shadow_.row(row.shadowY, first - originX_, end - originX_, shadowCache_, put);
        }

        /// The shadow's levels of columns [first, end) of the row, within its reach.
        const int* shadowLevels(const Row& row, int first, int end) {
            shadowRow_.resize(static_cast<size_t>(end - first));
            d_.shadow_.row(row.shadowY, first - originX_, end - originX_, shadowRow_.data(),
                           shadowCache_);
            return shadowRow_.data();
        }

        void drawRow(Row& row) {
            if (!d_.valid_) {
                row.shapes = all_.data();
                row.shapeCount = all_.size();
                d_.span<Span::Exact>(row, window_.x1, window_.x2);
                return;
            }
            reachedBy(row);
            int x = window_.x1;
            for (size_t i = 0; i < reached_.size();) {
                Reached r = reached_[i];
                size_t j = i + 1;
                for (; j < reached_.size() && reached_[j].first < r.end; ++j) {
                    r.end = std::max(r.end, reached_[j].end);
                    r.innerFirst = r.innerEnd = r.first; // shapes meet: no shortcut inside
                    r.shape = nullptr;
                }
                const int first = std::max(r.first, x);
                d_.span<Span::Outside>(row, x, first);
                drawReached(row, r, first);
                x = std::max(x, r.end);
                i = j;
            }
            d_.span<Span::Outside>(row, x, window_.x2);
        }

    private:
        /// A shape whose reach holds the row: its columns, and those deep inside it.
        struct Reached {
            int first, end, innerFirst, innerEnd;
            double reachLo, reachHi; ///< px
            const Shape* shape;      ///< null: the reaches of several shapes meet here
        };

        /// Columns [first, r.end) of the row, within the reach of one shape or of several.
        void drawReached(Row& row, const Reached& r, int first) {
            const int innerFirst = std::clamp(r.innerFirst, first, r.end);
            const int innerEnd = std::clamp(r.innerEnd, innerFirst, r.end);
            if (innerFirst == innerEnd && r.shape && drawStraight(row, r, first))
                return;
            if (r.shape && r.shape->single() && innerFirst < innerEnd) {
                // A row of a lone plate's inner rows. The same columns in every inner row of
                // the plate: a lone plate's reach and inner columns do not depend on the row.
                SideColumns& side = sides_[static_cast<size_t>(r.shape - d_.shapes_.data())];
                if (!side.built)
                    side.build(d_.s_, *r.shape, first, innerFirst, innerEnd, r.end, row.py,
                               originX_);
                row.side = &side;
                d_.span<Span::Side>(row, first, innerFirst);
                d_.interiorSpan(row, innerFirst, innerEnd);
                d_.span<Span::Side>(row, innerEnd, r.end);
            } else {
                d_.span<Span::Exact>(row, first, innerFirst);
                d_.interiorSpan(row, innerFirst, innerEnd);
                d_.span<Span::Exact>(row, innerEnd, r.end);
            }
        }

        /// A row along a top or bottom edge: between the corners, one plate. False, drawing
        /// nothing, when the shape has no such run in the row.
        bool drawStraight(Row& row, const Reached& r, int first) {
            const S& s = d_.s_;
            double lo, hi;
            r.shape->straightRun(row.py, r.reachLo, r.reachHi, lo, hi, &scratch_);
            if (!(lo <= hi))
                return false;
            int straightFirst, straightEnd;
            columns(lo, hi, straightFirst, straightEnd);
            straightFirst = std::clamp(straightFirst, first, r.end);
            straightEnd = std::clamp(straightEnd, straightFirst, r.end);
            if (straightFirst >= straightEnd)
                return false;
            const Shape* const one[] = {r.shape};
            const Local local = s.localAt(one, 1, relative(straightFirst, originX_), row.py);
            row.local = &local;
            s.shade(nullptr, row.localOverNothing, local);
            s.shade(kZeroPixel, row.localOverZero, local);
            d_.span<Span::Exact>(row, first, straightFirst);
            d_.span<Span::Straight>(row, straightFirst, straightEnd);
            d_.span<Span::Exact>(row, straightEnd, r.end);
            return true;
        }

        /// The window's columns of the positions [lo, hi].
        void columns(double lo, double hi, int& first, int& end) const {
            first = clampToInt(std::ceil(lo) + originX_, window_.x1, window_.x2);
            end = clampToInt(std::floor(hi) + originX_ + 1, first, window_.x2);
        }

        /// The shapes whose reach holds the row, each with its columns, in column order; the
        /// row's shapes are those, a union's cut down to the edges near the row.
        void reachedBy(Row& row) {
            const double py = row.py;
            here_.clear();
            reached_.clear();
            for (const Shape& shape : d_.shapes_) {
                double lo = 0, hi = -1, innerLo = 0, innerHi = -1;
                bool any = false;
                for (const SpanBounds& b : shape.spanBounds()) {
                    if (py < b.reachBottom || py > b.reachTop)
                        continue;
                    lo = any ? std::min(lo, b.reachLeft) : b.reachLeft;
                    hi = any ? std::max(hi, b.reachRight) : b.reachRight;
                    any = true;
                    if (py >= b.innerBottom && py <= b.innerTop &&
                        b.innerRight - b.innerLeft > innerHi - innerLo) {
                        innerLo = b.innerLeft;
                        innerHi = b.innerRight;
                    }
                }
                if (!any)
                    continue;
                double lo2, hi2;
                shape.innerRun(py, lo2, hi2, &scratch_);
                if (lo2 <= hi2 && hi2 - lo2 > innerHi - innerLo) {
                    innerLo = lo2;
                    innerHi = hi2;
                }
                const Shape* drawn = &shape;
                if (!shape.single()) {
                    // A union has many edges; a row's pixels are measured only against those
                    // that can come near the row.
                    Shape& near = nearRow_[static_cast<size_t>(&shape - d_.shapes_.data())];
                    near = shape;
                    near.keepNear(py);
                    drawn = &near;
                }
                Reached r;
                r.shape = &shape;
                r.reachLo = lo;
                r.reachHi = hi;
                columns(lo, hi, r.first, r.end);
                r.innerFirst = r.innerEnd = r.first;
                if (innerHi >= innerLo) {
                    columns(innerLo, innerHi, r.innerFirst, r.innerEnd);
                    r.innerFirst = std::clamp(r.innerFirst, r.first, r.end);
                    r.innerEnd = std::clamp(r.innerEnd, r.innerFirst, r.end);
                }
                here_.push_back(drawn);
                reached_.push_back(r);
            }
            row.shapes = here_.data();
            row.shapeCount = here_.size();
            std::sort(reached_.begin(), reached_.end(),
                      [](const Reached& a, const Reached& b) { return a.first < b.first; });
        }

        const Drawing& d_;
        OfxRectI window_;
        int originX_;
        std::vector<const Shape*> all_, here_;
        std::vector<Shape> nearRow_;
        std::vector<SideColumns> sides_;
        std::vector<Reached> reached_;
        UnionOutline::Scratch scratch_;
        std::vector<int> shadowRow_;
        ShadowField::RowCache shadowCache_;
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
            outsideShadowed(row, row.shadow->shadowLevels(row, c, d), c, d);
            fromTable(row, d, end);
        } else {
            eachShadowed<kind>(row, row.shadow->shadowLevels(row, first, end), first, end);
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
        row.shadow->eachLevel(row, first, end, [out, table](int i, int level) {
            std::memcpy(out + 4 * static_cast<std::ptrdiff_t>(i),
                        table[static_cast<size_t>(level)].data(), sizeof(PIX) * 4);
        });
    }

    /// Columns [first, end) outside the plate whose source pixels are read.
    void outsideShadowed(const Row& row, const int* levels, int first, int end) const {
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
    std::vector<Shape> shapes_;
    bool valid_ = true; ///< every span bound usable: the shortcuts may be taken
    bool vector_;
    bool useTables_ = false;
    ByteTables<S> tables_;
    PIX interiorOverNothing_[4] = {0, 0, 0, 0}; ///< interior result where the source has no pixel
    PIX interiorOverZero_[4] = {0, 0, 0, 0};    ///< interior result of a transparent pixel
};

} // namespace plate
