// The outline of rectangles that touch or overlap, drawn as one shape: whether a position is
// inside their union, its distance to the union's outer edge, and the runs of a row where
// that is simple enough to work out once for the whole run.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace plate {

/// Rectangles that touch or overlap, drawn as one shape: its inside is their union, its edge
/// the union's outer edge only (no edge runs between them). Convex corners are rounded by up
/// to `cornerSize`; concave corners, where a narrow line meets a wider one, are filled in by a
/// fillet of up to `innerCornerSize` (0: they stay square). No corner takes more than half of
/// either edge that meets there, so two corners sharing an edge never overlap.
class UnionOutline {
public:
    struct Rect {
        float left, bottom, right, top; ///< closed: the edges are inside
    };
    using Run = std::pair<double, double>;
    /// Room for the runs of a row, kept by a caller that asks for many rows.
    struct Scratch {
        std::vector<Run> in, out;
    };

    UnionOutline() = default;
    UnionOutline(const std::vector<Rect>& rects, float cornerSize, float innerCornerSize = 0)
        : rects_(rects) {
        const Grid grid(rects);
        addEdges(grid);
        addCorners(grid, cornerSize, innerCornerSize);
        // The straight edges stop where the arcs begin.
        for (Segment& s : segments_)
            for (const Arc& a : arcs_) {
                if (s.x1 == a.vx && s.y1 == a.vy) {
                    (s.y1 == s.y2 ? s.x1 : s.y1) += a.r;
                } else if (s.x2 == a.vx && s.y2 == a.vy) {
                    (s.y1 == s.y2 ? s.x2 : s.y2) -= a.r;
                }
            }
        for (const Arc& a : arcs_)
            (a.concave ? filletRadius_ : radius_) =
                std::max(a.concave ? filletRadius_ : radius_, a.r);
    }

    bool inside(float px, float py) const {
        bool in = false;
        if (rowKnown_ && py == rowY_) {
            for (const std::pair<float, float>& run : rowRuns_)
                in = in || (px >= run.first && px <= run.second);
        } else {
            for (const Rect& r : rects_)
                in = in || (px >= r.left && px <= r.right && py >= r.bottom && py <= r.top);
        }
        for (const Arc& a : arcs_) {
            // Between the arc's centre and its corner, and beyond the arc: a convex corner
            // cuts that away, a concave one fills it in.
            const float ex = px - a.cx, ey = py - a.cy;
            if (!(ex * a.sx > 0 && ey * a.sy > 0 && (a.vx - px) * a.sx >= 0 &&
                  (a.vy - py) * a.sy >= 0))
                continue;
            if (!a.concave && in && ex * ex + ey * ey > a.r * a.r)
                return false;
            if (a.concave && !in && ex * ex + ey * ey >= a.r * a.r)
                in = true;
        }
        return in;
    }

    /// Distance to the outer edge, from either side.
    float distance(float px, float py) const {
        float d = 1e10f;
        for (const Segment& s : segments_) {
            const float dx = px < s.x1 ? s.x1 - px : px > s.x2 ? px - s.x2 : 0.0f;
            const float dy = py < s.y1 ? s.y1 - py : py > s.y2 ? py - s.y2 : 0.0f;
            d = std::min(d, dx == 0 ? dy : dy == 0 ? dx : std::sqrt(dx * dx + dy * dy));
        }
        for (const Arc& a : arcs_) {
            const float ex = px - a.cx, ey = py - a.cy;
            if (ex * a.sx >= 0 && ey * a.sy >= 0)
                d = std::min(d, std::fabs(std::sqrt(ex * ex + ey * ey) - a.r));
        }
        return d;
    }

    const std::vector<Rect>& rects() const { return rects_; }

    /// Leaves out the edges and arcs further than `reach` from every pixel of row py. For the
    /// pixels of that row inside() stays the same, and so does distance() wherever it is below
    /// `reach`; elsewhere it stays at or above it.
    void keepNear(double py, double reach) {
        segments_.erase(std::remove_if(segments_.begin(), segments_.end(),
                                       [&](const Segment& s) {
                                           return s.y1 == s.y2
                                                      ? !(std::fabs(py - s.y1) < reach)
                                                      : !(py > s.y1 - reach && py < s.y2 + reach);
                                       }),
                        segments_.end());
        arcs_.erase(
            std::remove_if(arcs_.begin(), arcs_.end(),
                           [&](const Arc& a) { return !(std::fabs(py - a.cy) < a.r + reach); }),
            arcs_.end());
        // The rectangles' columns on this row, overlapping ones joined: the inside test of the
        // row's pixels looks at these alone.
        rowY_ = static_cast<float>(py);
        rowKnown_ = static_cast<double>(rowY_) == py;
        rowRuns_.clear();
        for (const Rect& r : rects_)
            if (rowY_ >= r.bottom && rowY_ <= r.top)
                rowRuns_.push_back({r.left, r.right});
        std::sort(rowRuns_.begin(), rowRuns_.end());
        size_t n = 0;
        for (const std::pair<float, float>& run : rowRuns_) {
            if (n > 0 && run.first <= rowRuns_[n - 1].second)
                rowRuns_[n - 1].second = std::max(rowRuns_[n - 1].second, run.second);
            else
                rowRuns_[n++] = run;
        }
        rowRuns_.resize(n);
    }

    /// The longest run of columns (px in [lo, hi]) of row py that lie inside, away from the
    /// arcs and at least `clearance` from every edge; lo > hi when there is none. Decided
    /// conservatively: an edge or an arc rules out every column it could come that close to.
    void innerColumns(double py, double clearance, double& lo, double& hi,
                      Scratch* scratch = nullptr) const {
        Scratch own;
        Scratch& room = scratch ? *scratch : own;
        std::vector<Run>& in = room.in;
        std::vector<Run>& out = room.out;
        in.clear();
        out.clear();
        for (const Rect& r : rects_)
            if (py >= r.bottom && py <= r.top)
                in.push_back({r.left, r.right});
        for (const Segment& s : segments_) {
            if (s.y1 == s.y2) {
                if (std::fabs(py - s.y1) < clearance)
                    out.push_back({s.x1 - clearance, s.x2 + clearance});
            } else if (py > s.y1 - clearance && py < s.y2 + clearance) {
                out.push_back({s.x1 - clearance, s.x1 + clearance});
            }
        }
        ruleOutArcs(py, clearance, out);
        longestFree(in, out, lo, hi);
    }

    /// The longest run of columns of row py within [from, to] where whether a pixel is
    /// inside and its distance to the edge (when below `clearance`) are the same all along:
    /// away from every vertical edge, arc and end of a horizontal edge. lo > hi: none.
    void straightColumns(double py, double clearance, double from, double to, double& lo,
                         double& hi, Scratch* scratch = nullptr) const {
        Scratch own;
        Scratch& room = scratch ? *scratch : own;
        std::vector<Run>& in = room.in;
        std::vector<Run>& out = room.out;
        in.assign(1, {from, to});
        out.clear();
        for (const Segment& s : segments_) {
            if (s.y1 == s.y2) {
                if (std::fabs(py - s.y1) < clearance) {
                    out.push_back({s.x1 - clearance, s.x1 + clearance});
                    out.push_back({s.x2 - clearance, s.x2 + clearance});
                }
            } else if (py > s.y1 - clearance && py < s.y2 + clearance) {
                out.push_back({s.x1 - clearance, s.x1 + clearance});
            }
        }
        ruleOutArcs(py, clearance, out);
        longestFree(in, out, lo, hi);
    }

    float radius() const { return radius_; } ///< the largest convex corner's radius
    /// The largest fillet radius: how far the shape reaches beyond its rectangles.
    float filletRadius() const { return filletRadius_; }
    /// The union as rectangles that do not overlap: its cells joined along rows.
    std::vector<Rect> pieces() const { return Grid(rects_).pieces(); }

    /// A rounded corner: the arc's centre and radius, the corner (vx, vy) it replaces, and
    /// whether it fills a concave corner in or cuts a convex one off.
    struct Corner {
        float vx, vy, cx, cy, r;
        bool concave;
    };
    std::vector<Corner> corners() const {
        std::vector<Corner> all;
        for (const Arc& a : arcs_)
            all.push_back({a.vx, a.vy, a.cx, a.cy, a.r, a.concave});
        return all;
    }

    /// The squares that fillets fill in, beyond the rectangles: (left, bottom, right, top).
    std::vector<Rect> fillets() const {
        std::vector<Rect> squares;
        for (const Arc& a : arcs_)
            if (a.concave)
                squares.push_back({std::min(a.vx, a.cx), std::min(a.vy, a.cy), std::max(a.vx, a.cx),
                                   std::max(a.vy, a.cy)});
        return squares;
    }

private:
    struct Segment {
        float x1, y1, x2, y2; ///< horizontal or vertical; x1 <= x2, y1 <= y2
    };

    /// The cells between consecutive edge positions of the rectangles: each is wholly inside
    /// the union or wholly outside.
    struct Grid {
        explicit Grid(const std::vector<Rect>& rects) {
            for (const Rect& r : rects) {
                xs.insert(xs.end(), {r.left, r.right});
                ys.insert(ys.end(), {r.bottom, r.top});
            }
            std::sort(xs.begin(), xs.end());
            xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
            std::sort(ys.begin(), ys.end());
            ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
            nx = static_cast<int>(xs.size()) - 1;
            ny = static_cast<int>(ys.size()) - 1;
            cells.assign(static_cast<size_t>(std::max(nx, 0) * std::max(ny, 0)), 0);
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    const float cx = 0.5f * (xs[i] + xs[i + 1]), cy = 0.5f * (ys[j] + ys[j + 1]);
                    for (const Rect& r : rects)
                        if (cx >= r.left && cx <= r.right && cy >= r.bottom && cy <= r.top)
                            cells[static_cast<size_t>(j * nx + i)] = 1;
                }
        }
        /// Cell (i, j), between xs[i] and xs[i + 1], ys[j] and ys[j + 1]; none outside.
        bool filled(int i, int j) const {
            return i >= 0 && j >= 0 && i < nx && j < ny && cells[static_cast<size_t>(j * nx + i)];
        }
        /// The filled cells, joined along each row of cells.
        std::vector<Rect> pieces() const {
            std::vector<Rect> joined;
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx;) {
                    if (!filled(i, j)) {
                        ++i;
                        continue;
                    }
                    int k = i + 1;
                    while (k < nx && filled(k, j))
                        ++k;
                    joined.push_back({xs[i], ys[j], xs[k], ys[j + 1]});
                    i = k;
                }
            return joined;
        }

        std::vector<float> xs, ys;
        int nx = 0, ny = 0;
        std::vector<char> cells;
    };

    /// Edges: where a filled cell meets an empty one, joined along runs of the same kind.
    void addEdges(const Grid& g) {
        for (int i = 0; i <= g.nx; ++i)
            for (int j = 0; j < g.ny;) {
                const bool a = g.filled(i - 1, j), b = g.filled(i, j);
                int k = j + 1;
                while (k < g.ny && g.filled(i - 1, k) == a && g.filled(i, k) == b)
                    ++k;
                if (a != b)
                    segments_.push_back({g.xs[i], g.ys[j], g.xs[i], g.ys[k]});
                j = k;
            }
        for (int j = 0; j <= g.ny; ++j)
            for (int i = 0; i < g.nx;) {
                const bool a = g.filled(i, j - 1), b = g.filled(i, j);
                int k = i + 1;
                while (k < g.nx && g.filled(k, j - 1) == a && g.filled(k, j) == b)
                    ++k;
                if (a != b)
                    segments_.push_back({g.xs[i], g.ys[j], g.xs[k], g.ys[j]});
                i = k;
            }
    }

    /// Convex corners, where one of the four cells around a grid point is filled, get an arc
    /// of up to `cornerSize`; concave ones, where three are, a fillet of up to
    /// `innerCornerSize`. Neither takes more than half of either edge that meets there.
    void addCorners(const Grid& g, float cornerSize, float innerCornerSize) {
        for (int j = 0; j <= g.ny; ++j)
            for (int i = 0; i <= g.nx; ++i) {
                const bool around[4] = {g.filled(i - 1, j - 1), g.filled(i, j - 1),
                                        g.filled(i - 1, j), g.filled(i, j)};
                const int filled = around[0] + around[1] + around[2] + around[3];
                if (filled != 1 && filled != 3)
                    continue;
                const bool concave = filled == 3;
                // The quarter that is filled alone (convex) or empty alone (concave).
                const int q = concave ? (!around[0]   ? 0
                                         : !around[1] ? 1
                                         : !around[2] ? 2
                                                      : 3)
                                      : (around[0]   ? 0
                                         : around[1] ? 1
                                         : around[2] ? 2
                                                     : 3);
                const float qx = q % 2 ? 1.0f : -1.0f, qy = q >= 2 ? 1.0f : -1.0f;
                const float vx = g.xs[i], vy = g.ys[j];
                float r = concave ? innerCornerSize : cornerSize;
                for (const Segment& s : segments_)
                    if ((s.x1 == vx && s.y1 == vy) || (s.x2 == vx && s.y2 == vy))
                        r = std::min(r, 0.5f * ((s.x2 - s.x1) + (s.y2 - s.y1)));
                if (r > 0)
                    arcs_.push_back({vx + qx * r, vy + qy * r, r, -qx, -qy, vx, vy, concave});
            }
    }

    /// Rules out the columns an arc's inside test or distance can reach from row py.
    void ruleOutArcs(double py, double clearance, std::vector<Run>& out) const {
        for (const Arc& a : arcs_) {
            const double reach = a.r + clearance;
            if (std::fabs(py - a.cy) < reach)
                out.push_back({a.cx - reach, a.cx + reach});
        }
    }

    /// The longest part of the runs `in` (joined where they touch) outside every run of
    /// `out`; lo > hi when there is none.
    static void longestFree(std::vector<Run>& in, std::vector<Run>& out, double& lo, double& hi) {
        std::sort(in.begin(), in.end());
        std::sort(out.begin(), out.end());
        lo = 1;
        hi = 0;
        auto consider = [&](double from, double to) {
            if (from <= to && (lo > hi || to - from > hi - lo)) {
                lo = from;
                hi = to;
            }
        };
        for (size_t i = 0; i < in.size();) {
            Run run = in[i++];
            while (i < in.size() && in[i].first <= run.second)
                run.second = std::max(run.second, in[i++].second);
            double from = run.first;
            for (const Run& o : out) {
                if (o.first > run.second)
                    break;
                if (o.second <= from)
                    continue;
                consider(from, o.first);
                from = o.second;
            }
            consider(from, run.second);
        }
    }
    struct Arc {
        float cx, cy, r;
        float sx, sy; ///< the quarter of the circle that faces the corner (vx, vy)
        float vx, vy;
        bool concave; ///< a fillet in the empty quarter of a concave corner
    };
    std::vector<Rect> rects_;
    std::vector<Segment> segments_;
    std::vector<Arc> arcs_;
    float radius_ = 0;
    float filletRadius_ = 0;
    // After keepNear: the row it was cut down to, and the rectangles' joined columns there.
    bool rowKnown_ = false;
    float rowY_ = 0;
    std::vector<std::pair<float, float>> rowRuns_;
};

} // namespace plate
