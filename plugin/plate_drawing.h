// Drawing the plates into the rows of a window: each row is classified against the plates'
// shapes into spans (outside every plate's reach, deep inside a fill, along a straight edge,
// beside a left or right edge, or near a corner), which the span writer then writes; and the
// plain copy of the source where there is nothing to draw.
#pragma once

#include "plate_detection.h"
#include "plate_rows.h"
#include "plate_shadow.h"
#include "plate_shape.h"
#include "plate_spans.h"

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
/// AccurateShading): each row split into spans by the plates' shapes. Made once per render
/// before the threads start; draw() then runs on several threads at once, each over its own
/// rows.
template <class PIX, int maxValue, class S> class Drawing : SpanWriter<PIX, maxValue, S> {
    using Base = SpanWriter<PIX, maxValue, S>;
    using Local = typename Base::Local;
    using Row = typename Base::Row;
    using SideColumns = typename Base::SideColumns;
    using Span = typename Base::Span;
    using Base::interiorSpan;
    using Base::kZeroPixel;
    using Base::s_;
    using Base::shadow_;

public:
    /// `window`: the render window (small ones compute directly rather than make tables);
    /// `vector`: the four-pixel tests may use vector instructions.
    /// `shadow`: the plates' shadow (inactive: none); it must outlive the drawing.
    Drawing(const Params& p, const Plates& plates, const ShadowField& shadow,
            const OfxRectI& window, bool vector)
        : Base(p, shadow, window, vector) {
        for (const Plate& plate : plates)
            shapes_.emplace_back(plate, p.cornerSize, p.innerCornerSize, S::kEdges,
                                 p.outlineReach(), p.fillEnabled || p.strokeActive());
        for (const Shape& shape : shapes_)
            for (const SpanBounds& b : shape.spanBounds())
                valid_ = valid_ && b.valid;
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
    /// The per-row classification of one draw() call, with what it keeps between rows.
    class RowPlan {
    public:
        RowPlan(const Drawing& d, const OfxRectI& window, int originX)
            : d_(d), window_(window), originX_(originX), nearRow_(d.shapes_),
              sides_(d.shapes_.size()), shadowRow_(d.shadow_, originX) {
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
            shadowRow_.at(static_cast<int>(py));
            row.shadow = &shadowRow_;
        }

        void drawRow(Row& row) {
            if (!d_.valid_) {
                row.shapes = all_.data();
                row.shapeCount = all_.size();
                d_.template span<Span::Exact>(row, window_.x1, window_.x2);
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
                d_.template span<Span::Outside>(row, x, first);
                drawReached(row, r, first);
                x = std::max(x, r.end);
                i = j;
            }
            d_.template span<Span::Outside>(row, x, window_.x2);
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
                d_.template span<Span::Side>(row, first, innerFirst);
                d_.interiorSpan(row, innerFirst, innerEnd);
                d_.template span<Span::Side>(row, innerEnd, r.end);
            } else {
                d_.template span<Span::Exact>(row, first, innerFirst);
                d_.interiorSpan(row, innerFirst, innerEnd);
                d_.template span<Span::Exact>(row, innerEnd, r.end);
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
            d_.template span<Span::Exact>(row, first, straightFirst);
            d_.template span<Span::Straight>(row, straightFirst, straightEnd);
            d_.template span<Span::Exact>(row, straightEnd, r.end);
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
        ShadowRow shadowRow_;
    };
    std::vector<Shape> shapes_;
    bool valid_ = true; ///< every span bound usable: the shortcuts may be taken
};

} // namespace plate
