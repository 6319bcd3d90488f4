// The geometry of one plate, whichever arithmetic draws it: a rounded rectangle, or the union
// of touching rectangles with rounded convex corners. It answers whether a pixel position is
// inside, its distance to the outline, and, per row, where the plate can reach, which runs of
// the row lie deep inside, and which run along a straight edge.
//
// The two compositing modes put the edge in different places. The compatible one compares
// positions with the rectangle's edges inclusively (a hard-edged fill) and measures distances
// to those edges. The accurate one puts the boundary half a pixel outside the outermost
// positions, so that the rectangle covers their pixels whole, and takes the signed distance to
// it for antialiasing.
#pragma once

#include "plate_layout.h"
#include "plate_outline.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace plate {

/// Where the edge runs, relative to the plate rectangle's positions.
enum class Edges {
    OnPositions,      ///< through the positions (the compatible arithmetic)
    HalfPixelOutside, ///< half a pixel outside them (the accurate arithmetic)
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

/// The span bounds of one rectangle, reach `reachBy` beyond its edges and inner rows and
/// columns `insetBy` inside them.
inline SpanBounds rectSpanBounds(double left, double bottom, double right, double top,
                                 double reachBy, double insetBy) {
    SpanBounds b;
    b.valid = spanValuesUsable({left, bottom, right, top, reachBy, insetBy});
    if (!b.valid)
        return b;
    b.reachLeft = left - reachBy;
    b.reachRight = right + reachBy;
    b.reachBottom = bottom - reachBy;
    b.reachTop = top + reachBy;
    b.innerLeft = left + insetBy;
    b.innerRight = right - insetBy;
    b.innerBottom = bottom + insetBy;
    b.innerTop = top - insetBy;
    return b;
}

/// The compatible rounded rectangle: edges through the positions left, right, bottom and top.
struct CompatibleRect {
    float left, bottom, right, top;
    float rho; ///< corner radius; may be negative

    CompatibleRect(const PlateRect& p, float cornerSize)
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

    /// Hard-edged; the edges themselves are inside.
    bool inside(float px, float py) const {
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
    float distance(float px, float py) const {
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

    /// Its span bounds; `reach` is how far beyond the edge something is drawn (the outline).
    SpanBounds spanBounds(double reach) const {
        SpanBounds b;
        b.valid = spanValuesUsable({left, right, bottom, top, rho, reach});
        if (!b.valid)
            return b;
        // A negative radius stretches the straight parts of the outline past the corners.
        const double out = reach + 2 + (rho < 0 ? -rho : 0.0);
        b.reachLeft = std::min<double>(left, right) - out;
        b.reachRight = std::max<double>(left, right) + out;
        b.reachBottom = std::min<double>(bottom, top) - out;
        b.reachTop = std::max<double>(bottom, top) + out;
        const double inset = std::max<double>(rho, 0.0) + reach + 2;
        b.innerLeft = left + inset;
        b.innerRight = right - inset;
        b.innerBottom = bottom + inset;
        b.innerTop = top - inset;
        return b;
    }

    /// Columns of a row along the top or bottom edge where the plate does not depend on the
    /// column; none (lo > hi) when that cannot be said.
    void straightRun(double reach, double& lo, double& hi) const {
        lo = 1;
        hi = 0;
        if (!(rho >= 0) || !(left <= right))
            return;
        const double inset = static_cast<double>(rho) + reach + 2;
        lo = left + inset;
        hi = right - inset;
    }
};

/// The accurate rounded rectangle: its boundary runs half a pixel outside the positions left,
/// right, bottom and top.
struct AccurateRect {
    AccurateRect(const PlateRect& plate, float cornerSize) {
        centreX = 0.5f * (plate.left + plate.right);
        centreY = 0.5f * (plate.bottom + plate.top);
        const float halfWidth = 0.5f * (plate.right - plate.left) + 0.5f;
        const float halfHeight = 0.5f * (plate.top - plate.bottom) + 0.5f;
        // An inverted rectangle (negative margins, an offset past the frame) has no inside
        // and no edge: nothing is drawn.
        empty = !(halfWidth > 0 && halfHeight > 0);
        radius = std::clamp(cornerSize, 0.0f, empty ? 0.0f : std::min(halfWidth, halfHeight));
        straightX = halfWidth - radius;
        straightY = halfHeight - radius;
    }

    /// Signed distance from a pixel position to the plate's boundary, negative inside.
    float signedDistance(float px, float py) const {
        const float qx = std::fabs(px - centreX) - straightX;
        const float qy = std::fabs(py - centreY) - straightY;
        const float beyond =
            qx > 0 && qy > 0 ? std::sqrt(qx * qx + qy * qy) : std::max(std::max(qx, qy), 0.0f);
        return beyond + std::min(std::max(qx, qy), 0.0f) - radius;
    }

    /// Its span bounds; `drawn` false: neither fill nor outline is drawn.
    SpanBounds spanBounds(double reach, bool drawn) const {
        SpanBounds b;
        b.valid = spanValuesUsable({centreX, centreY, straightX, straightY, radius, reach});
        if (!b.valid)
            return b;
        if (empty || !drawn) {
            b.reachBottom = 1; // every row outside
            b.reachTop = -1;
            return b;
        }
        // The plate's boundary, then the outline and the ramp beyond it, and two to spare.
        const double outerX = straightX + radius, outerY = straightY + radius;
        const double out = reach + 0.5 + 2;
        b.reachLeft = centreX - outerX - out;
        b.reachRight = centreX + outerX + out;
        b.reachBottom = centreY - outerY - out;
        b.reachTop = centreY + outerY + out;
        // Away from the corners, the distance to the boundary is that to the straight edges.
        const double inset = radius + reach + 0.5 + 2;
        b.innerLeft = centreX - outerX + inset;
        b.innerRight = centreX + outerX - inset;
        b.innerBottom = centreY - outerY + inset;
        b.innerTop = centreY + outerY - inset;
        return b;
    }

    /// See CompatibleRect::straightRun. There the distance is that to the horizontal edges:
    /// |px - centre| stays a pixel and more below what the row's own distance is.
    void straightRun(double reach, double& lo, double& hi) const {
        lo = 1;
        hi = 0;
        if (empty)
            return;
        const double inset = reach + 3.5;
        lo = centreX - straightX + inset;
        hi = centreX + straightX - inset;
    }

    bool empty = false;
    float centreX = 0, centreY = 0;
    float straightX = 0, straightY = 0; ///< half-lengths of the straight parts of the edges
    float radius = 0;
};

/// One plate's geometry.
class Shape {
public:
    /// `reach`: how far beyond the edge something is drawn (the outline's half-width, or 0);
    /// `drawn` false: neither fill nor outline is drawn (the accurate arithmetic then reaches
    /// no pixel).
    /// `cornerSize` rounds the convex corners, `innerCornerSize` the concave ones of a union.
    Shape(const Plate& plate, float cornerSize, float innerCornerSize, Edges edges, double reach,
          bool drawn)
        : edges_(edges), single_(plate.size() == 1), compatible_(plate.front(), cornerSize),
          accurate_(plate.front(), cornerSize), reach_(reach) {
        const bool accurate = edges == Edges::HalfPixelOutside;
        if (single_) {
            bounds_.push_back(accurate ? accurate_.spanBounds(reach, drawn)
                                       : compatible_.spanBounds(reach));
            return;
        }
        const float grow = accurate ? 0.5f : 0.0f;
        std::vector<UnionOutline::Rect> rects;
        for (const PlateRect& p : plate)
            rects.push_back({p.left - grow, p.bottom - grow, p.right + grow, p.top + grow});
        outline_ = UnionOutline(rects, std::max(cornerSize, 0.0f), std::max(innerCornerSize, 0.0f));
        clearance_ = reach + grow + 2; // beyond the outline (and its ramp), and two to spare
        for (const UnionOutline::Rect& r : outline_.rects())
            bounds_.push_back(rectSpanBounds(r.left, r.bottom, r.right, r.top, clearance_,
                                             outline_.radius() + reach + grow + 2));
        // Fillets fill concave corners beyond the rectangles: their squares are reached too,
        // and have no inside of their own.
        for (const UnionOutline::Rect& f : outline_.fillets()) {
            bounds_.push_back(rectSpanBounds(f.left, f.bottom, f.right, f.top, clearance_, 0));
            bounds_.back().innerBottom = 1;
            bounds_.back().innerTop = -1;
        }
        if (accurate && !drawn)
            for (SpanBounds& b : bounds_) {
                b.reachBottom = 1; // every row outside
                b.reachTop = -1;
            }
    }

    /// A rounded rectangle rather than a union of several.
    bool single() const { return single_; }
    /// Without inside or edge (an inverted rectangle in the accurate arithmetic).
    bool empty() const { return single_ && edges_ == Edges::HalfPixelOutside && accurate_.empty; }

    /// Whether the position is inside (the compatible arithmetic's fill test).
    bool inside(float px, float py) const {
        return single_ ? compatible_.inside(px, py) : outline_.inside(px, py);
    }
    /// Distance to the outline, from either side (the compatible arithmetic's).
    float distance(float px, float py) const {
        return single_ ? compatible_.distance(px, py) : outline_.distance(px, py);
    }
    /// Distance to the boundary, negative inside (the accurate arithmetic's).
    float signedDistance(float px, float py) const {
        if (single_)
            return accurate_.signedDistance(px, py);
        const float d = outline_.distance(px, py);
        return outline_.inside(px, py) ? -d : d;
    }

    /// The span bounds, one per rectangle.
    const std::vector<SpanBounds>& spanBounds() const { return bounds_; }

    /// Columns of row py deep inside a union, where every pixel sees the plate's interior;
    /// none (lo > hi) for a single rectangle, whose span bounds say that themselves. A caller
    /// asking for many rows may lend the room for the work (`scratch`).
    void innerRun(double py, double& lo, double& hi,
                  UnionOutline::Scratch* scratch = nullptr) const {
        lo = 1;
        hi = 0;
        if (!single_)
            outline_.innerColumns(py, clearance_, lo, hi, scratch);
    }

    /// Columns of row py, within the plate's reach [from, to], where the plate at a position
    /// does not depend on its column; none (lo > hi) when that cannot be said.
    void straightRun(double py, double from, double to, double& lo, double& hi,
                     UnionOutline::Scratch* scratch = nullptr) const {
        if (!single_)
            outline_.straightColumns(py, clearance_, from, to, lo, hi, scratch);
        else if (edges_ == Edges::HalfPixelOutside)
            accurate_.straightRun(reach_, lo, hi);
        else
            compatible_.straightRun(reach_, lo, hi);
    }

    /// Leaves out what lies too far from row py to matter to its pixels: a union's edges and
    /// arcs further than the outline reaches.
    void keepNear(double py) {
        if (!single_)
            outline_.keepNear(py, clearance_);
    }

private:
    Edges edges_;
    bool single_;
    CompatibleRect compatible_;
    AccurateRect accurate_;
    UnionOutline outline_;
    double reach_;
    double clearance_ = 0;
    std::vector<SpanBounds> bounds_;
};

} // namespace plate
