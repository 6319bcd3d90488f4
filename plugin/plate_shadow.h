// The soft shadow under the plates. Each plate casts the whole of its shape, fill and outline
// together: its pixels' coverage, blurred by a Gaussian and moved by the offset. The blur is
// worked out exactly rather than by filtering pixels, so that it costs the same whatever its
// width: the shape is split into rectangles that do not overlap (a rectangle's blur is a
// product of two one-dimensional ones, each a difference of normal distributions) and the
// pieces its rounded corners cut off or fill in (whose pixels' exact areas are blurred one by
// one). Where shadows overlap the strongest wins.
//
// Each plate's coverage is sampled on a grid (every pixel for narrow blurs, every 2^k pixels for
// wide ones, whose shadow is smooth at that scale) in 1/4096ths, and pixels between grid points
// are interpolated in integers: every pixel's value is the same whichever way it is asked for.
// A pixel takes the strongest plate's.
#pragma once

#include "ofx_api.h"
#include "plate_layout.h"
#include "plate_outline.h"
#include "plate_params.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

namespace plate {

/// The standard normal distribution's CDF at t / sigma; for sigma 0 a step (½ at 0).
inline double normalCdf(double t, double sigma) {
    if (!(sigma > 0))
        return t > 0 ? 1.0 : t < 0 ? 0.0 : 0.5;
    return 0.5 * std::erfc(-t / (sigma * 1.4142135623730951));
}

/// The Gaussian's weight for a pixel d pixels away: its integral over that pixel, so that the
/// weights sum to 1 and a sigma of 0 leaves a pixel where it is.
inline double pixelWeight(double d, double sigma) {
    return normalCdf(d + 0.5, sigma) - normalCdf(d - 0.5, sigma);
}

/// The blur at position p of the coverage of everything below b, where pixel i is covered by
/// the part of [i - ½, i + ½] below b: exactly the sum over pixels of that coverage times
/// pixelWeight(p - i). Pixels wholly below b sum to one normal CDF, and the one that b cuts
/// adds its share.
inline double edgeBlur(double b, double p, double sigma) {
    const double m = std::floor(b - 0.5); // the last pixel wholly below b
    const double f = (b - 0.5) - m;       // the share of the next one
    return (1 - f) * normalCdf(m + 0.5 - p, sigma) + f * normalCdf(m + 1.5 - p, sigma);
}

/// The area of the quarter disc {u, v >= 0, u² + v² <= r²} within [u0, u1] × [v0, v1], all
/// four in [0, r].
inline double quarterDiscArea(double r, double u0, double u1, double v0, double v1) {
    // Below the circle's height sqrt(r² - u²), above v0 and below v1: full height up to where
    // the circle falls under v1, then the circle down to where it falls under v0.
    auto column = [r](double u) { // ∫ sqrt(r² - t²) dt from 0 to u
        const double c = std::clamp(u / r, -1.0, 1.0);
        return 0.5 * (u * std::sqrt(std::max(r * r - u * u, 0.0)) + r * r * std::asin(c));
    };
    const double full = std::sqrt(std::max(r * r - v1 * v1, 0.0));  // circle meets v1
    const double empty = std::sqrt(std::max(r * r - v0 * v0, 0.0)); // circle meets v0
    double area = 0;
    const double a = std::min(u1, full);
    if (a > u0)
        area += (a - u0) * (v1 - v0);
    const double b0 = std::max(u0, full), b1 = std::min(u1, empty);
    if (b1 > b0)
        area += (column(b1) - column(b0)) - (b1 - b0) * v0;
    return area;
}

/// One plate's shadow-casting shape, or what is taken from it: rectangles that do not
/// overlap, and the pieces at rounded corners, each with the area it has in each pixel.
struct Silhouette {
    struct Box {
        double x1, y1, x2, y2; ///< the edges themselves, not pixel positions
    };
    struct Piece {
        int qx0 = 0, qy0 = 0, nx = 0, ny = 0; ///< the pixels it touches
        std::vector<double> area;             ///< [row][column], signed: cut off is negative
    };
    std::vector<Box> boxes;
    std::vector<Piece> pieces;
    double left = 0, bottom = 0, right = 0, top = 0; ///< bounding box of it all
    bool empty = true;

    /// The plate's rectangles grown by `grow` on every side, convex corners rounded by
    /// `convex`, concave ones by `concave`, as its outline rounds them (each limited to half of
    /// either edge meeting there). Rectangles without inside are left out.
    Silhouette(const Plate& plate, float grow, float convex, float concave) {
        std::vector<UnionOutline::Rect> rects;
        for (const PlateRect& p : plate) {
            const UnionOutline::Rect r{p.left - grow, p.bottom - grow, p.right + grow,
                                       p.top + grow};
            if (r.left < r.right && r.bottom < r.top)
                rects.push_back(r);
        }
        if (rects.empty())
            return;
        empty = false;
        const UnionOutline outline(rects, std::max(convex, 0.0f), std::max(concave, 0.0f));
        for (const UnionOutline::Rect& r : outline.pieces()) {
            boxes.push_back({r.left, r.bottom, r.right, r.top});
            if (boxes.size() == 1) {
                left = r.left, bottom = r.bottom, right = r.right, top = r.top;
            } else {
                left = std::min<double>(left, r.left), bottom = std::min<double>(bottom, r.bottom);
                right = std::max<double>(right, r.right), top = std::max<double>(top, r.top);
            }
        }
        for (const UnionOutline::Corner& c : outline.corners())
            pieces.push_back(pieceOf(c));
        for (const UnionOutline::Corner& c : outline.corners()) { // fillets reach beyond
            left = std::min<double>(left, std::min(c.vx, c.cx));
            right = std::max<double>(right, std::max(c.vx, c.cx));
            bottom = std::min<double>(bottom, std::min(c.vy, c.cy));
            top = std::max<double>(top, std::max(c.vy, c.cy));
        }
    }

private:
    /// The part of the square between a corner and its arc's centre that lies beyond the arc:
    /// cut off at a convex corner, filled in at a concave one.
    static Piece pieceOf(const UnionOutline::Corner& c) {
        Piece piece;
        const double x0 = std::min(c.vx, c.cx), x1 = std::max(c.vx, c.cx);
        const double y0 = std::min(c.vy, c.cy), y1 = std::max(c.vy, c.cy);
        piece.qx0 = static_cast<int>(std::floor(x0 + 0.5));
        piece.qy0 = static_cast<int>(std::floor(y0 + 0.5));
        piece.nx = static_cast<int>(std::ceil(x1 + 0.5)) - piece.qx0;
        piece.ny = static_cast<int>(std::ceil(y1 + 0.5)) - piece.qy0;
        piece.area.assign(static_cast<size_t>(piece.nx) * static_cast<size_t>(piece.ny), 0.0);
        const double sign = c.concave ? 1.0 : -1.0;
        // Distances from the centre, towards the corner.
        auto along = [](double q, double centre, double corner) {
            return corner > centre ? q - centre : centre - q;
        };
        for (int j = 0; j < piece.ny; ++j)
            for (int i = 0; i < piece.nx; ++i) {
                const double qx = piece.qx0 + i, qy = piece.qy0 + j;
                const double ax = std::max(qx - 0.5, x0), bx = std::min(qx + 0.5, x1);
                const double ay = std::max(qy - 0.5, y0), by = std::min(qy + 0.5, y1);
                if (!(ax < bx && ay < by))
                    continue;
                double u0 = along(ax, c.cx, c.vx), u1 = along(bx, c.cx, c.vx);
                double v0 = along(ay, c.cy, c.vy), v1 = along(by, c.cy, c.vy);
                if (u0 > u1)
                    std::swap(u0, u1);
                if (v0 > v1)
                    std::swap(v0, v1);
                const double square = (bx - ax) * (by - ay);
                const double inDisc = quarterDiscArea(c.r, u0, u1, v0, v1);
                piece.area[static_cast<size_t>(j * piece.nx + i)] = sign * (square - inDisc);
            }
        return piece;
    }
};

/// The shadow of every plate of a render.
class ShadowField {
public:
    static constexpr int kLevels = 4096;       ///< coverage is counted in 1/kLevels
    static constexpr double kMaxSigma = 50000; ///< pixels: softness 100000, 100 × its range
    static constexpr double kMaxOffset = 1e9;  ///< pixels, either way

    ShadowField() = default;
    /// `reach` is the outline's half-width where it is drawn (0 where not).
    ShadowField(const Params& p, const Plates& plates, double reach) {
        if (!p.shadowEnabled || !(p.fillEnabled || p.strokeActive()) || plates.empty())
            return;
        // Hosts pass values beyond the parameters' ranges. A blur far wider than any frame
        // leaves no level above 0 there, and an offset of more than a billion pixels puts the
        // shadow beyond every frame: held there, the tables stay small and the arithmetic in
        // range.
        sigma_ = std::clamp(0.5 * static_cast<double>(p.shadowSoftness), 0.0, kMaxSigma);
        cut_ = 4 * sigma_ + 1.5; // beyond, a pixel's weight is under 1/30000
        for (step_ = 1, shift_ = 0; 2 * step_ <= sigma_ / 4 && shift_ < 12; step_ *= 2)
            ++shift_;
        // Down on screen is down in the image's own coordinates, whatever the row order.
        offsetX_ = std::clamp(static_cast<double>(p.shadowOffsetX), -kMaxOffset, kMaxOffset);
        offsetY_ = -std::clamp(static_cast<double>(p.shadowOffsetY), -kMaxOffset, kMaxOffset);
        xAxis_ = Axis(offsetX_, sigma_, cut_);
        yAxis_ = Axis(offsetY_, sigma_, cut_);
        const float r = static_cast<float>(reach);
        for (const Plate& plate : plates) {
            Cast cast;
            // The shape and its outline: grown by the outline on every side. Without a fill,
            // the outline alone: the same less the plate shrunk by the outline.
            const float grow = 0.5f + (p.fillEnabled ? r : p.strokeWidth);
            add(cast.parts,
                Silhouette(plate, grow, p.cornerSize + (grow - 0.5f),
                           p.innerCornerSize - (grow - 0.5f)),
                1);
            if (!p.fillEnabled)
                add(cast.parts,
                    Silhouette(plate, 0.5f - p.strokeWidth, p.cornerSize - p.strokeWidth,
                               p.innerCornerSize + p.strokeWidth),
                    -1);
            if (!cast.parts.empty())
                casts_.push_back(std::move(cast));
        }
        tabulate();
    }

    bool active() const { return !casts_.empty(); }
    /// Pixel positions (relative to the source's corner) outside which the coverage is 0:
    /// [x1, x2) × [y1, y2).
    const OfxRectI& reach() const { return reach_; }

    /// The coverage of pixel (px, py), relative to the source's corner, in 1/kLevels: the
    /// strongest plate's there.
    int coverage(int px, int py) const {
        int strongest = 0;
        for (const Cast& cast : casts_) {
            if (!inside(cast.reach, px, py))
                continue;
            const int gx = floorDiv(px), gy = floorDiv(py);
            const int dx = px - gx * step_, dy = py - gy * step_;
            strongest = std::max(
                strongest, mix(mix(level(cast, gx, gy), level(cast, gx, gy + 1), dy),
                               mix(level(cast, gx + 1, gy), level(cast, gx + 1, gy + 1), dy), dx));
        }
        return strongest;
    }

    /// What a thread keeps between the rows it asks for: each plate's levels on two grid rows.
    struct RowCache {
        struct Rows {
            int gy = INT_MIN, gx0 = 0, gx1 = 0; ///< grid columns [gx0, gx1] are held
            std::vector<int> low, high;
        };
        std::vector<Rows> casts;
        std::vector<double> room;
        std::vector<int> strongest;
    };

    /// The coverage of pixels [x0, x1) of row py into `out` (x1 - x0 values): the same as
    /// coverage() gives each.
    void row(int py, int x0, int x1, int* out, RowCache& cache) const {
        row(py, x0, x1, cache, [out](int i, int level) { out[i] = level; });
    }

    /// The same, handing each pixel's level to put(i, level), i from 0 to x1 - x0 - 1, once
    /// each. Where one plate's shadow alone reaches the span, no level is stored on the way.
    template <class Put> void row(int py, int x0, int x1, RowCache& cache, Put put) const {
        if (x0 >= x1)
            return;
        cache.casts.resize(casts_.size());
        const Cast* sole = nullptr;
        int reaching = 0;
        for (const Cast& cast : casts_)
            if (py >= cast.reach.y1 && py < cast.reach.y2 && x0 < cast.reach.x2 &&
                x1 > cast.reach.x1) {
                ++reaching;
                sole = &cast;
            }
        if (reaching == 1 && sole->reach.x1 <= x0 && sole->reach.x2 >= x1) {
            levelsOf(*sole, cache.casts[static_cast<size_t>(sole - casts_.data())], py, x0, x1,
                     cache.room, put);
            return;
        }
        // Several plates: each one's levels, the strongest kept.
        std::vector<int>& strongest = cache.strongest;
        strongest.assign(static_cast<size_t>(x1 - x0), 0);
        for (size_t c = 0; c < casts_.size(); ++c) {
            const Cast& cast = casts_[c];
            const int from = std::max(x0, cast.reach.x1), to = std::min(x1, cast.reach.x2);
            if (py < cast.reach.y1 || py >= cast.reach.y2 || from >= to)
                continue;
            int* o = strongest.data() + (from - x0);
            levelsOf(cast, cache.casts[c], py, from, to, cache.room,
                     [o](int i, int level) { o[i] = std::max(o[i], level); });
        }
        for (int i = 0; i < x1 - x0; ++i)
            put(i, strongest[static_cast<size_t>(i)]);
    }

private:
    /// One part of a plate's shadow: a silhouette added or taken away, with its blur along
    /// each axis at the grid's columns and rows.
    struct Part {
        Silhouette shape;
        double sign;
        int gx0 = 0, gy0 = 0;                    ///< first grid column and row of the tables
        std::vector<std::vector<double>> xs, ys; ///< per box: its blur across the grid
        struct PieceTables {
            int gx0 = 0, gy0 = 0;
            std::vector<double> along;   ///< [grid column][piece row]: rows' blur across
            std::vector<double> weights; ///< [grid row][piece row]
            int columns = 0, rows = 0;
        };
        std::vector<PieceTables> pieces;
    };
    struct Cast {
        std::vector<Part> parts;
        OfxRectI reach{0, 0, 0, 0}; ///< pixels outside which this plate's shadow is 0
    };

    static void add(std::vector<Part>& parts, Silhouette shape, double sign) {
        if (!shape.empty)
            parts.push_back({std::move(shape), sign, 0, 0, {}, {}, {}});
    }

    int floorDiv(int v) const {
        return v >= 0 ? v >> shift_ : -((-static_cast<std::int64_t>(v) + step_ - 1) >> shift_);
    }
    /// a + (b - a) × d / step, in integers, rounded down: exact and the same everywhere.
    int mix(int a, int b, int d) const {
        return static_cast<int>(
            (static_cast<std::int64_t>(a) * (step_ - d) + static_cast<std::int64_t>(b) * d) >>
            shift_);
    }
    static bool inside(const OfxRectI& r, int px, int py) {
        return px >= r.x1 && px < r.x2 && py >= r.y1 && py < r.y2;
    }

    /// The normal CDF along one axis, at every whole number of pixels plus the fraction the
    /// offset leaves: a grid point's distance to a pixel's edge always has that form, so the
    /// blur needs nothing else. Beyond the table's ends it is 0 and 1.
    struct Axis {
        Axis() = default;
        /// `offset`: the shadow's offset along the axis, in the image's coordinates.
        Axis(double offset, double sigma, double cut)
            : whole(static_cast<std::int64_t>(std::floor(offset))),
              fraction(0.5 + (offset - std::floor(offset))) {
            reach = static_cast<std::int64_t>(std::ceil(cut)) + 2;
            cdf.resize(static_cast<size_t>(2 * reach + 1));
            for (std::int64_t k = -reach; k <= reach; ++k)
                cdf[static_cast<size_t>(k + reach)] = normalCdf(k + fraction, sigma);
        }
        /// The CDF at k + fraction.
        double at(std::int64_t k) const {
            return k < -reach ? 0.0 : k > reach ? 1.0 : cdf[static_cast<size_t>(k + reach)];
        }
        /// edgeBlur(b, p) for grid position p = g × step - offset.
        double edge(double b, std::int64_t g, int step) const {
            const double m = std::floor(b - 0.5);
            const double f = (b - 0.5) - m;
            const std::int64_t k = static_cast<std::int64_t>(m) - g * step + whole;
            return (1 - f) * at(k) + f * at(k + 1);
        }
        /// pixelWeight(p - q) for grid position p = g × step - offset and pixel q.
        double weight(std::int64_t g, int step, std::int64_t q) const {
            const std::int64_t j = g * step - whole - q;
            return at(-j) - at(-j - 1);
        }

        std::int64_t whole = 0; ///< the offset's whole pixels
        double fraction = 0.5;  ///< ½ and the offset's fraction
        std::int64_t reach = 0;
        std::vector<double> cdf;
    };

    /// The tables of every part, and the reach of every plate and of them all.
    void tabulate() {
        auto clampInt = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
        for (size_t c = 0; c < casts_.size(); ++c) {
            Cast& cast = casts_[c];
            bool first = true;
            double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
            for (Part& part : cast.parts) {
                const Silhouette& s = part.shape;
                const double l = s.left - cut_ + offsetX_, r = s.right + cut_ + offsetX_;
                const double b = s.bottom - cut_ + offsetY_, t = s.top + cut_ + offsetY_;
                x1 = first ? l : std::min(x1, l), x2 = first ? r : std::max(x2, r);
                y1 = first ? b : std::min(y1, b), y2 = first ? t : std::max(y2, t);
                first = false;
                tabulate(part);
            }
            // A pixel between grid points takes them into account: a grid step more each side.
            cast.reach = {clampInt(std::floor(x1)) - step_, clampInt(std::floor(y1)) - step_,
                          clampInt(std::ceil(x2)) + step_ + 1, clampInt(std::ceil(y2)) + step_ + 1};
            if (c == 0) {
                reach_ = cast.reach;
            } else {
                reach_.x1 = std::min(reach_.x1, cast.reach.x1);
                reach_.y1 = std::min(reach_.y1, cast.reach.y1);
                reach_.x2 = std::max(reach_.x2, cast.reach.x2);
                reach_.y2 = std::max(reach_.y2, cast.reach.y2);
            }
        }
    }

    void tabulate(Part& part) {
        const Silhouette& s = part.shape;
        part.gx0 = gridBelow(s.left - cut_ + offsetX_);
        part.gy0 = gridBelow(s.bottom - cut_ + offsetY_);
        const int gx1 = gridAbove(s.right + cut_ + offsetX_);
        const int gy1 = gridAbove(s.top + cut_ + offsetY_);
        for (const Silhouette::Box& box : s.boxes) {
            std::vector<double> xs, ys;
            for (int gx = part.gx0; gx <= gx1; ++gx)
                xs.push_back(xAxis_.edge(box.x2, gx, step_) - xAxis_.edge(box.x1, gx, step_));
            for (int gy = part.gy0; gy <= gy1; ++gy)
                ys.push_back(yAxis_.edge(box.y2, gy, step_) - yAxis_.edge(box.y1, gy, step_));
            part.xs.push_back(std::move(xs));
            part.ys.push_back(std::move(ys));
        }
        for (const Silhouette::Piece& piece : s.pieces) {
            Part::PieceTables t;
            t.gx0 = gridBelow(piece.qx0 - cut_ + offsetX_);
            t.gy0 = gridBelow(piece.qy0 - cut_ + offsetY_);
            t.columns = gridAbove(piece.qx0 + piece.nx + cut_ + offsetX_) - t.gx0 + 1;
            t.rows = gridAbove(piece.qy0 + piece.ny + cut_ + offsetY_) - t.gy0 + 1;
            t.along.assign(static_cast<size_t>(t.columns) * static_cast<size_t>(piece.ny), 0.0);
            std::vector<double> wx(static_cast<size_t>(piece.nx));
            for (int c = 0; c < t.columns; ++c) {
                for (int i = 0; i < piece.nx; ++i)
                    wx[static_cast<size_t>(i)] = xAxis_.weight(t.gx0 + c, step_, piece.qx0 + i);
                for (int j = 0; j < piece.ny; ++j) {
                    double sum = 0;
                    for (int i = 0; i < piece.nx; ++i)
                        sum += piece.area[static_cast<size_t>(j * piece.nx + i)] *
                               wx[static_cast<size_t>(i)];
                    t.along[static_cast<size_t>(c * piece.ny + j)] = sum;
                }
            }
            t.weights.assign(static_cast<size_t>(t.rows) * static_cast<size_t>(piece.ny), 0.0);
            for (int r = 0; r < t.rows; ++r)
                for (int j = 0; j < piece.ny; ++j)
                    t.weights[static_cast<size_t>(r * piece.ny + j)] =
                        yAxis_.weight(t.gy0 + r, step_, piece.qy0 + j);
            part.pieces.push_back(std::move(t));
        }
    }

    int gridBelow(double v) const {
        return static_cast<int>(std::floor(std::clamp(v, -1e9, 1e9) / step_)) - 1;
    }
    int gridAbove(double v) const {
        return static_cast<int>(std::ceil(std::clamp(v, -1e9, 1e9) / step_)) + 1;
    }

    /// One plate's coverage on grid row gy at grid columns gx0..gx1, in 1/kLevels, into `out`.
    /// Each column's sum is made of the same terms in the same order whatever the columns
    /// asked, so a column's level does not depend on its neighbours.
    void levels(const Cast& cast, int gy, int gx0, int gx1, int* out,
                std::vector<double>& room) const {
        const size_t n = static_cast<size_t>(gx1 - gx0 + 1);
        room.assign(2 * n, 0.0);
        double* total = room.data();
        double* part = room.data() + n;
        for (const Part& p : cast.parts) {
            std::fill(part, part + n, 0.0);
            // The rectangles: a product of the blurs across and along.
            const int cy = gy - p.gy0;
            for (size_t k = 0; k < p.xs.size(); ++k) {
                const std::vector<double>& xs = p.xs[k];
                const std::vector<double>& ys = p.ys[k];
                if (cy < 0 || cy >= static_cast<int>(ys.size()))
                    continue;
                const double y = ys[static_cast<size_t>(cy)];
                const int from = std::max(gx0, p.gx0);
                const int to = std::min(gx1, p.gx0 + static_cast<int>(xs.size()) - 1);
                for (int gx = from; gx <= to; ++gx)
                    part[gx - gx0] += xs[static_cast<size_t>(gx - p.gx0)] * y;
            }
            // The corners' pieces: their pixels' rows blurred across, then along.
            for (size_t k = 0; k < p.pieces.size(); ++k) {
                const Part::PieceTables& t = p.pieces[k];
                const int r = gy - t.gy0;
                if (r < 0 || r >= t.rows)
                    continue;
                const int ny = p.shape.pieces[k].ny;
                const double* weights = t.weights.data() + static_cast<size_t>(r * ny);
                const int from = std::max(gx0, t.gx0), to = std::min(gx1, t.gx0 + t.columns - 1);
                for (int gx = from; gx <= to; ++gx) {
                    const double* along = t.along.data() + static_cast<size_t>((gx - t.gx0) * ny);
                    double& sum = part[gx - gx0];
                    for (int j = 0; j < ny; ++j)
                        sum += weights[j] * along[j];
                }
            }
            for (size_t i = 0; i < n; ++i)
                total[i] += p.sign * part[i];
        }
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<int>(std::clamp(total[i], 0.0, 1.0) * kLevels + 0.5);
    }

    /// One plate's levels of pixels [from, to) of row py, each handed to put(i, level) with i
    /// counted from `from`.
    template <class Put>
    void levelsOf(const Cast& cast, RowCache::Rows& held, int py, int from, int to,
                  std::vector<double>& room, Put put) const {
        if (step_ == 1) { // every pixel a grid point
            held.low.resize(static_cast<size_t>(to - from));
            levels(cast, py, from, to - 1, held.low.data(), room);
            for (int i = 0; i < to - from; ++i)
                put(i, held.low[static_cast<size_t>(i)]);
            return;
        }
        const int gy = floorDiv(py), dy = py - gy * step_;
        hold(cast, gy, held, room);
        // Held apart from the members: what put() writes cannot change them.
        const int step = step_, shift = shift_;
        const int* low = held.low.data();
        const int* high = held.high.data();
        // Cell by cell: between two grid columns the level is a straight line, stepped along in
        // integers (the numerator of mix(), exactly).
        for (int x = from; x < to;) {
            const int gx = floorDiv(x);
            const int cellEnd = std::min(to, (gx + 1) * step);
            const size_t i = static_cast<size_t>(gx - held.gx0);
            const int a = mix(low[i], high[i], dy);
            const int b = mix(low[i + 1], high[i + 1], dy);
            // Levels are at most 4096 and the step at most 4096: an int holds the numerator.
            const int dx = x - gx * step, slope = b - a;
            int numerator = a * (step - dx) + b * dx;
            int k = x - from;
            const int stop = cellEnd - from;
            for (; stop - k >= 4; k += 4, numerator += 4 * slope) {
                put(k, numerator >> shift);
                put(k + 1, (numerator + slope) >> shift);
                put(k + 2, (numerator + 2 * slope) >> shift);
                put(k + 3, (numerator + 3 * slope) >> shift);
            }
            for (; k < stop; ++k, numerator += slope)
                put(k, numerator >> shift);
            x = cellEnd;
        }
    }

    /// Makes `held` hold grid rows gy and gy + 1 of a plate's levels, across its whole reach;
    /// moving on by one grid row keeps the row it had above.
    void hold(const Cast& cast, int gy, RowCache::Rows& held, std::vector<double>& room) const {
        if (held.gy == gy)
            return;
        const int gx0 = floorDiv(cast.reach.x1), gx1 = floorDiv(cast.reach.x2 - 1) + 1;
        const size_t n = static_cast<size_t>(gx1 - gx0 + 1);
        if (held.gy == gy - 1 && held.gx0 == gx0 && held.gx1 == gx1) {
            held.low.swap(held.high);
        } else {
            held.low.resize(n);
            levels(cast, gy, gx0, gx1, held.low.data(), room);
        }
        held.high.resize(n);
        levels(cast, gy + 1, gx0, gx1, held.high.data(), room);
        held.gy = gy;
        held.gx0 = gx0;
        held.gx1 = gx1;
    }

    /// One plate's coverage at a grid point, in 1/kLevels.
    int level(const Cast& cast, int gx, int gy) const {
        int value = 0;
        std::vector<double> room;
        levels(cast, gy, gx, gx, &value, room);
        return value;
    }

    std::vector<Cast> casts_;
    double sigma_ = 0, cut_ = 1.5;
    int step_ = 1, shift_ = 0; ///< the grid's spacing, 1 << shift_
    double offsetX_ = 0, offsetY_ = 0;
    Axis xAxis_, yAxis_;
    OfxRectI reach_{0, 0, 0, 0};
};

} // namespace plate
