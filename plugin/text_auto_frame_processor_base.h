// What every text plate processor shares: the parameter bundle, the detection result, and the
// per-pixel arithmetic of the plate (32-bit floats, in a fixed order, so that every path
// gives the same bits).
#pragma once

#include "multi_thread.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <type_traits>
#include <utility>
#include <vector>

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

/// What one plate surrounds; the values are the options of the "plateLayout" parameter.
enum class PlateLayout {
    Whole = 0,  ///< all the text of the frame: one plate
    Blocks = 1, ///< each block of text whose plates would touch
    Lines = 2,  ///< each line of each block; touching line plates form one shape
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
    PlateLayout plateLayout = PlateLayout::Whole;
    float lineGap = 16; ///< rows without text, at least this many, separate two lines

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
        // The line gap is a distance of the layouts that group text; the one plate ignores it.
        return plateLayout == PlateLayout::Whole || std::isfinite(lineGap);
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

/// One plate as the layouts give it: a single rectangle, or the rectangles of lines whose
/// plates touch (bottom to top), drawn as one shape.
using Shape = std::vector<PlateRect>;
using PlateSet = std::vector<Shape>;

/// Rectangles that touch or overlap, drawn as one shape: its inside is their union, its edge
/// the union's outer edge only (no edge runs between them). Convex corners are rounded by up
/// to `cornerSize`, never by more than half of either edge that meets there; concave corners,
/// where a narrow line meets a wider one, stay square.
class UnionOutline {
public:
    struct Rect {
        float left, bottom, right, top; ///< closed: the edges are inside
    };

    UnionOutline() = default;
    UnionOutline(const std::vector<Rect>& rects, float cornerSize) : rects_(rects) {
        std::vector<float> xs, ys;
        for (const Rect& r : rects) {
            xs.insert(xs.end(), {r.left, r.right});
            ys.insert(ys.end(), {r.bottom, r.top});
        }
        std::sort(xs.begin(), xs.end());
        xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
        std::sort(ys.begin(), ys.end());
        ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
        const int nx = static_cast<int>(xs.size()) - 1, ny = static_cast<int>(ys.size()) - 1;
        // The cells between consecutive edge positions are wholly inside or wholly outside.
        std::vector<char> cells(static_cast<size_t>(std::max(nx, 0) * std::max(ny, 0)), 0);
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const float cx = 0.5f * (xs[i] + xs[i + 1]), cy = 0.5f * (ys[j] + ys[j + 1]);
                for (const Rect& r : rects)
                    if (cx >= r.left && cx <= r.right && cy >= r.bottom && cy <= r.top)
                        cells[static_cast<size_t>(j * nx + i)] = 1;
            }
        auto filled = [&](int i, int j) {
            return i >= 0 && j >= 0 && i < nx && j < ny && cells[static_cast<size_t>(j * nx + i)];
        };
        // Edges: where a filled cell meets an empty one, joined along runs of the same kind.
        for (int i = 0; i <= nx; ++i)
            for (int j = 0; j < ny;) {
                const bool a = filled(i - 1, j), b = filled(i, j);
                int k = j + 1;
                while (k < ny && filled(i - 1, k) == a && filled(i, k) == b)
                    ++k;
                if (a != b)
                    segments_.push_back({xs[i], ys[j], xs[i], ys[k]});
                j = k;
            }
        for (int j = 0; j <= ny; ++j)
            for (int i = 0; i < nx;) {
                const bool a = filled(i, j - 1), b = filled(i, j);
                int k = i + 1;
                while (k < nx && filled(k, j - 1) == a && filled(k, j) == b)
                    ++k;
                if (a != b)
                    segments_.push_back({xs[i], ys[j], xs[k], ys[j]});
                i = k;
            }
        // Convex corners: one of the four cells around the point is filled.
        for (int j = 0; j <= ny; ++j)
            for (int i = 0; i <= nx; ++i) {
                const bool around[4] = {filled(i - 1, j - 1), filled(i, j - 1), filled(i - 1, j),
                                        filled(i, j)};
                if (around[0] + around[1] + around[2] + around[3] != 1)
                    continue;
                const int q = around[0] ? 0 : around[1] ? 1 : around[2] ? 2 : 3;
                const float qx = q % 2 ? 1.0f : -1.0f, qy = q >= 2 ? 1.0f : -1.0f;
                const float vx = xs[i], vy = ys[j];
                float r = cornerSize;
                for (const Segment& s : segments_)
                    if ((s.x1 == vx && s.y1 == vy) || (s.x2 == vx && s.y2 == vy))
                        r = std::min(r, 0.5f * ((s.x2 - s.x1) + (s.y2 - s.y1)));
                if (r > 0)
                    arcs_.push_back({vx + qx * r, vy + qy * r, r, -qx, -qy, vx, vy});
            }
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
            radius_ = std::max(radius_, a.r);
    }

    bool inside(float px, float py) const {
        bool in = false;
        for (const Rect& r : rects_)
            in = in || (px >= r.left && px <= r.right && py >= r.bottom && py <= r.top);
        if (!in)
            return false;
        for (const Arc& a : arcs_) {
            const float ex = px - a.cx, ey = py - a.cy;
            // Between the arc's centre and its corner, and beyond the arc.
            if (ex * a.sx > 0 && ey * a.sy > 0 && (a.vx - px) * a.sx >= 0 &&
                (a.vy - py) * a.sy >= 0 && ex * ex + ey * ey > a.r * a.r)
                return false;
        }
        return true;
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
    }

    /// The longest run of columns (px in [lo, hi]) of row py that lie inside, away from the
    /// arcs and at least `clearance` from every edge; lo > hi when there is none. Decided
    /// conservatively: an edge or an arc rules out every column it could come that close to.
    void innerColumns(double py, double clearance, double& lo, double& hi) const {
        std::vector<Run> in, out;
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
                         double& hi) const {
        std::vector<Run> in{{from, to}}, out;
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

    float radius() const { return radius_; } ///< the largest corner radius

private:
    struct Segment {
        float x1, y1, x2, y2; ///< horizontal or vertical; x1 <= x2, y1 <= y2
    };
    using Run = std::pair<double, double>;

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
    };
    std::vector<Rect> rects_;
    std::vector<Segment> segments_;
    std::vector<Arc> arcs_;
    float radius_ = 0;
};

/// Where rows and columns of one rectangle of a shape can take shortcuts (see SpanBounds).
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

/// The rectangles of a line shape, for the union; the seams of touching lines closed.
inline std::vector<UnionOutline::Rect> unionRects(const Shape& shape, float grow) {
    std::vector<UnionOutline::Rect> rects;
    for (const PlateRect& p : shape)
        rects.push_back({p.left - grow, p.bottom - grow, p.right + grow, p.top + grow});
    return rects;
}

/// The compatible rounded rectangle's shortcuts; `sw` is the outline's half-width (0: none).
inline SpanBounds compatibleSpanBounds(const Geometry& g, double sw) {
    SpanBounds b;
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
        return compatibleSpanBounds(geometry, strokeActive ? strokeWidth : 0.0);
    }

    /// A plate of the layouts: the rounded rectangle, or touching lines as one shape.
    struct Plate {
        Plate(const Shape& shape, float cornerSize, double sw)
            : single(shape.size() == 1), geometry(shape.front(), cornerSize) {
            if (single) {
                bounds.push_back(compatibleSpanBounds(geometry, sw));
                return;
            }
            outline = UnionOutline(unionRects(shape, 0.0f), cornerSize);
            for (const UnionOutline::Rect& r : outline.rects())
                bounds.push_back(rectSpanBounds(r.left, r.bottom, r.right, r.top, sw + 2,
                                                outline.radius() + sw + 2));
            clearance = sw + 2; // beyond the outline, and two to spare
        }
        /// Columns of row py deep inside a shape of lines, where every pixel sees the plate's
        /// interior; none (lo > hi) for a single rectangle, whose rows say that themselves.
        void innerColumns(double py, double& lo, double& hi) const {
            lo = 1;
            hi = 0;
            if (!single)
                outline.innerColumns(py, clearance, lo, hi);
        }
        bool insideFill(float px, float py) const {
            return single ? geometry.insideFill(px, py) : outline.inside(px, py);
        }
        float strokeDistance(float px, float py) const {
            return single ? geometry.strokeDistance(px, py) : outline.distance(px, py);
        }

        bool single;
        Geometry geometry;
        UnionOutline outline;
        double clearance = 0;
        std::vector<SpanBounds> bounds; ///< one per rectangle
    };

    /// The layouts' plates; empty for the single plate of the whole text.
    std::vector<Plate> plates;

    /// What the plate is at one position, text aside: along the straight part of an edge it
    /// holds for the whole row.
    struct Local {
        bool inFill = false, inStroke = false;
        float coverage = 0;
    };
    Local localAt(const Plate& plate, float px, float py) const {
        Local l;
        l.inFill = fillEnabled && plate.insideFill(px, py);
        if (strokeActive) {
            const float delta = std::min(1e10f, plate.strokeDistance(px, py));
            if (strokeWidth > delta) {
                l.inStroke = true;
                l.coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
            }
        }
        return l;
    }
    void shadeLocal(const PIX* src, PIX* dst, const Local& l) const {
        if (isText(src))
            shade(src, dst, false, false, 0);
        else
            shade(src, dst, l.inFill, l.inStroke, l.coverage);
    }
    /// Columns (px) of row py, within the plate's reach [from, to], where localAt does not
    /// depend on px; none (lo > hi) when that cannot be said.
    void straightColumns(const Plate& plate, double py, double from, double to, double& lo,
                         double& hi) const {
        const Geometry& g = plate.geometry;
        lo = 1;
        hi = 0;
        if (!plate.single) {
            plate.outline.straightColumns(py, plate.clearance, from, to, lo, hi);
            return;
        }
        if (!(g.rho >= 0) || !(g.left <= g.right))
            return;
        const double inset = static_cast<double>(g.rho) + (strokeActive ? strokeWidth : 0.0) + 2;
        lo = g.left + inset;
        hi = g.right - inset;
    }

    Shader(const TextAutoFrameProcessorBase& p, const PlateSet& set)
        : Shader(p, set.front().front()) {
        for (const Shape& shape : set)
            plates.emplace_back(shape, p.cornerSize, strokeActive ? strokeWidth : 0.0);
    }

    /// The per-pixel algorithm over several plates: inside the fill of any, at the distance
    /// of the nearest outline. Plates whose reach excludes the pixel may be left out.
    void shadeAtPlates(const PIX* src, PIX* dst, float px, float py, const Plate* const* list,
                       size_t n) const {
        bool inFill = false;
        bool inStroke = false;
        float coverage = 0;
        if (!isText(src)) {
            float delta = 1e10f;
            for (size_t i = 0; i < n; ++i) {
                inFill = inFill || (fillEnabled && list[i]->insideFill(px, py));
                if (strokeActive)
                    delta = std::min(delta, list[i]->strokeDistance(px, py));
            }
            if (strokeActive && strokeWidth > delta) {
                inStroke = true;
                coverage = delta <= strokeWidth - 1 ? 1.0f : strokeWidth - delta;
            }
        }
        shade(src, dst, inFill, inStroke, coverage);
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

/// The accurate rounded rectangle: its boundary runs half a pixel outside the positions
/// left, right, bottom and top.
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

    bool empty = false;
    float centreX = 0, centreY = 0;
    float straightX = 0, straightY = 0; ///< half-lengths of the straight parts of the edges
    float radius = 0;
};

/// The accurate rectangle's shortcuts; `drawn` false: neither fill nor outline is drawn.
inline SpanBounds accurateSpanBounds(const AccurateRect& r, double sw, bool drawn) {
    SpanBounds b;
    b.valid = spanValuesUsable({r.centreX, r.centreY, r.straightX, r.straightY, r.radius, sw});
    if (!b.valid)
        return b;
    if (r.empty || !drawn) {
        b.reachBottom = 1; // every row outside
        b.reachTop = -1;
        return b;
    }
    // The plate's boundary, then the outline and the ramp beyond it, and two to spare.
    const double outerX = r.straightX + r.radius, outerY = r.straightY + r.radius;
    const double reach = sw + 0.5 + 2;
    b.reachLeft = r.centreX - outerX - reach;
    b.reachRight = r.centreX + outerX + reach;
    b.reachBottom = r.centreY - outerY - reach;
    b.reachTop = r.centreY + outerY + reach;
    // Away from the corners, the distance to the boundary is that to the straight edges.
    const double inset = r.radius + sw + 0.5 + 2;
    b.innerLeft = r.centreX - outerX + inset;
    b.innerRight = r.centreX + outerX - inset;
    b.innerBottom = r.centreY - outerY + inset;
    b.innerTop = r.centreY + outerY - inset;
    return b;
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
          strokeWidth(p.strokeWidth), rect(plate, p.cornerSize) {
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
    AccurateRect rect;
    float fill[4];     ///< premultiplied
    float stroke[4];   ///< premultiplied
    float interior[4]; ///< the plate deep inside the fill

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
        if (rect.empty) {
            plateFrom(0.0f, 0.0f, out);
            return;
        }
        plateFromDistance(rect.signedDistance(px, py), out);
    }

    void plateFromDistance(float d, float out[4]) const {
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
        return accurateSpanBounds(rect, strokeActive ? strokeWidth : 0.0,
                                  fillEnabled || strokeActive);
    }

    /// A plate of the layouts: the rounded rectangle, or touching lines as one shape whose
    /// boundary runs, like the rectangle's, half a pixel outside the outermost positions.
    struct Plate {
        Plate(const Shape& shape, float cornerSize, double sw, bool drawn)
            : single(shape.size() == 1), rect(shape.front(), cornerSize) {
            if (single) {
                bounds.push_back(accurateSpanBounds(rect, sw, drawn));
                return;
            }
            outline = UnionOutline(unionRects(shape, 0.5f), std::max(cornerSize, 0.0f));
            for (const UnionOutline::Rect& r : outline.rects()) {
                bounds.push_back(rectSpanBounds(r.left, r.bottom, r.right, r.top, sw + 0.5 + 2,
                                                outline.radius() + sw + 0.5 + 2));
                if (!drawn) {
                    bounds.back().reachBottom = 1; // every row outside
                    bounds.back().reachTop = -1;
                }
            }
            clearance = sw + 0.5 + 2; // beyond the outline's ramp, and two to spare
        }
        /// See Shader::Plate::innerColumns.
        void innerColumns(double py, double& lo, double& hi) const {
            lo = 1;
            hi = 0;
            if (!single)
                outline.innerColumns(py, clearance, lo, hi);
        }
        bool empty() const { return single && rect.empty; }
        float signedDistance(float px, float py) const {
            if (single)
                return rect.signedDistance(px, py);
            const float d = outline.distance(px, py);
            return outline.inside(px, py) ? -d : d;
        }

        bool single;
        AccurateRect rect;
        UnionOutline outline;
        double clearance = 0;
        std::vector<SpanBounds> bounds; ///< one per rectangle
    };

    /// The layouts' plates; empty for the single plate of the whole text.
    std::vector<Plate> plates;

    /// The plate at one position (see Shader::Local).
    struct Local {
        float plate[4] = {0, 0, 0, 0};
    };
    Local localAt(const Plate& p, float px, float py) const {
        Local l;
        if (!p.empty())
            plateFromDistance(p.signedDistance(px, py), l.plate);
        return l;
    }
    void shadeLocal(const PIX* src, PIX* dst, const Local& l) const {
        composite(src, dst, l.plate);
    }
    void straightColumns(const Plate& p, double py, double from, double to, double& lo,
                         double& hi) const {
        lo = 1;
        hi = 0;
        if (!p.single) {
            p.outline.straightColumns(py, p.clearance, from, to, lo, hi);
            return;
        }
        if (p.rect.empty)
            return;
        // There the distance is that to the horizontal edges: |px - centre| stays a pixel
        // and more below what the row's own distance is.
        const double inset = (strokeActive ? strokeWidth : 0.0) + 3.5;
        lo = p.rect.centreX - p.rect.straightX + inset;
        hi = p.rect.centreX + p.rect.straightX - inset;
    }

    AccurateShader(const TextAutoFrameProcessorBase& p, const PlateSet& set)
        : AccurateShader(p, set.front().front()) {
        for (const Shape& shape : set)
            plates.emplace_back(shape, p.cornerSize, strokeActive ? strokeWidth : 0.0,
                                fillEnabled || strokeActive);
    }

    /// The plate over several shapes is that of their union: the least signed distance.
    /// Plates whose reach excludes the pixel may be left out.
    void shadeAtPlates(const PIX* src, PIX* dst, float px, float py, const Plate* const* list,
                       size_t n) const {
        float d = 0;
        bool any = false;
        for (size_t i = 0; i < n; ++i) {
            if (list[i]->empty())
                continue;
            const float di = list[i]->signedDistance(px, py);
            d = any ? std::min(d, di) : di;
            any = true;
        }
        float plate[4] = {0, 0, 0, 0};
        if (any)
            plateFromDistance(d, plate);
        composite(src, dst, plate);
    }
};

} // namespace plate
