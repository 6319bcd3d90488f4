// The accurate compositing mode against what a compositor expects: random antialiased text
// over random footage, checked with an evaluation of "source over plate over footage" written
// here from that description alone, in doubles.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using ofxhost::Components;
using ofxhost::Depth;
using ofxhost::Image;
using Px = std::array<double, 4>;

using nimbra_test::bundleUnderTest;

double fullScale(Depth depth) {
    return depth == Depth::Byte ? 255 : depth == Depth::Short ? 65535 : 1;
}

Px pixelOf(const Image& image, int x, int y) {
    return {image.get(x, y, 0), image.get(x, y, 1), image.get(x, y, 2), image.get(x, y, 3)};
}

void setPixel(Image& image, int x, int y, const Px& v) {
    for (int c = 0; c < 4; ++c)
        image.set(x, y, c, v[static_cast<size_t>(c)]);
}

struct Params {
    double marginX = 20, marginY = 20, yOffset = 0, cornerSize = 0, strokeWidth = 0;
    double threshold = 0.1;
    Px fill{0, 0, 0, 1}, stroke{1, 1, 1, 1};
    bool fillOn = true, strokeOn = true;
    int compositing = 1;
};

/// One render of `source` through the module: a fresh instance, the parameters, the render
/// scale; returns the output image.
std::shared_ptr<Image> render(const std::shared_ptr<Image>& source, const Params& q,
                              const char* premultiplication = kOfxImagePreMultiplied,
                              OfxPointD scale = {1, 1}) {
    nimbra_test::LoadedPlugin p{bundleUnderTest()};
    ofxhost::Effect& fx = p.instantiate();
    const OfxRectI bounds = source->bounds();
    auto out = p.host.makeImage(bounds, Components::RGBA, source->depth());
    for (const char* clip : {"Source", "Output"}) {
        fx.clip(clip).setFormat(Components::RGBA, source->depth());
        fx.clip(clip).setPremultiplication(premultiplication);
    }
    fx.clip("Source").setImage(source);
    fx.clip("Output").setImage(out);
    fx.param("marginX").setValue({q.marginX});
    fx.param("marginY").setValue({q.marginY});
    fx.param("yOffset").setValue({q.yOffset});
    fx.param("cornerSize").setValue({q.cornerSize});
    fx.param("strokeWidth").setValue({q.strokeWidth});
    fx.param("detectionThreshold").setValue({q.threshold});
    fx.param("fillColor").setValue({q.fill.begin(), q.fill.end()});
    fx.param("strokeColor").setValue({q.stroke.begin(), q.stroke.end()});
    fx.param("fillEnabled").setValue({q.fillOn ? 1.0 : 0.0});
    fx.param("strokeEnabled").setValue({q.strokeOn ? 1.0 : 0.0});
    fx.param("compositing").setValue({double(q.compositing)});
    EXPECT_EQ(p.session.render(fx, 0, bounds, scale), kOfxStatOK);
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(out->guardsIntact());
    return out;
}

/// The plate as a compositor sees it: the detected box grown by the margins (marginX twice),
/// covering those pixels whole, rounded by the corner radius; fill, and the outline over it,
/// each antialiased over one pixel by its distance. Premultiplied, 0..1.
struct ExpectedPlate {
    ExpectedPlate(const Image& source, const Params& q, double sx = 1, double sy = 1)
        : q(q), width(q.strokeWidth * std::sqrt(sx * sy)) {
        const OfxRectI b = source.bounds();
        const float threshold = static_cast<float>(q.threshold) *
                                static_cast<float>(fullScale(source.depth())); // as detection
        int minX = b.x2, maxX = b.x1 - 1, minY = b.y2, maxY = b.y1 - 1;
        for (int y = b.y1; y < b.y2; ++y)
            for (int x = b.x1; x < b.x2; ++x)
                if (static_cast<float>(source.get(x, y, 3)) > threshold) {
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
        found = maxX >= minX;
        const double w = b.x2 - b.x1, h = b.y2 - b.y1;
        left = std::max(0.0, minX - b.x1 - 2 * q.marginX * sx) - 0.5;
        right = std::min(w, maxX - b.x1 + 2 * q.marginX * sx) + 0.5;
        bottom = std::max(0.0, minY - b.y1 - q.marginY * sy + q.yOffset * sy) - 0.5;
        top = std::min(h, maxY - b.y1 + q.marginY * sy + q.yOffset * sy) + 0.5;
        radius = std::clamp(q.cornerSize * std::sqrt(sx * sy), 0.0,
                            std::max(0.0, std::min(right - left, top - bottom) / 2));
    }

    /// Signed distance from a pixel centre to the plate's boundary, negative inside.
    double distance(double px, double py) const {
        const double il = left + radius, ir = right - radius, ib = bottom + radius,
                     it = top - radius;
        if (px < il || px > ir || py < ib || py > it) {
            const double dx = px - std::clamp(px, il, ir), dy = py - std::clamp(py, ib, it);
            return std::hypot(dx, dy) - radius;
        }
        return -std::min({px - left, right - px, py - bottom, top - py});
    }

    static double ramp(double d) { return std::clamp(0.5 - d, 0.0, 1.0); }

    double fillCoverage(double px, double py) const {
        return found && q.fillOn && left < right && bottom < top ? ramp(distance(px, py)) : 0;
    }
    double outlineCoverage(double px, double py) const {
        if (!found || !q.strokeOn || width <= 0 || !(left < right && bottom < top))
            return 0;
        return ramp(std::fabs(distance(px, py)) - width);
    }
    /// Whether a coverage at (px, py) lies on a ramp: where sampling may differ.
    bool onEdge(double px, double py) const {
        auto partial = [](double c) { return c > 0 && c < 1; };
        return partial(fillCoverage(px, py)) || partial(outlineCoverage(px, py));
    }

    Px at(double px, double py) const {
        const double f = fillCoverage(px, py) * q.fill[3];
        const double o = outlineCoverage(px, py) * q.stroke[3];
        Px p;
        for (int c = 0; c < 3; ++c)
            p[c] = o * q.stroke[c] + (1 - o) * f * q.fill[c];
        p[3] = o + (1 - o) * f;
        return p;
    }

    Params q;
    double width;
    bool found = false;
    double left = 0, right = 0, bottom = 0, top = 0, radius = 0;
};

/// a over b, premultiplied.
Px over(const Px& a, const Px& b) {
    Px r;
    for (int c = 0; c < 4; ++c)
        r[c] = a[c] + (1 - a[3]) * b[c];
    return r;
}

Px scaled(Px v, double by) {
    for (double& c : v)
        c *= by;
    return v;
}

/// Glyph-like strokes: a few bars and rings with antialiased edges (4×4 samples a pixel),
/// each in one colour, over transparency. Premultiplied, or straight with hidden colours
/// where alpha is 0.
void drawGlyphs(Image& image, std::mt19937& rng, bool straight = false) {
    const OfxRectI b = image.bounds();
    const double full = fullScale(image.depth());
    std::uniform_real_distribution<double> unit(0, 1);
    const int w = b.x2 - b.x1, h = b.y2 - b.y1;
    struct Shape {
        bool ring;
        double cx, cy, a, bb, thick;
        Px colour;
    };
    std::vector<Shape> shapes;
    const int n = 2 + static_cast<int>(rng() % 3);
    for (int i = 0; i < n; ++i)
        shapes.push_back({rng() % 2 == 0, w * (0.3 + 0.4 * unit(rng)), h * (0.35 + 0.3 * unit(rng)),
                          2 + 6 * unit(rng), 2 + 6 * unit(rng), 0.8 + 2 * unit(rng),
                          Px{unit(rng), unit(rng), unit(rng), unit(rng) < 0.7 ? 1 : 0.6}});
    for (int y = b.y1; y < b.y2; ++y)
        for (int x = b.x1; x < b.x2; ++x) {
            Px acc{0, 0, 0, 0}; // premultiplied, later shapes over earlier ones
            for (const Shape& s : shapes) {
                int inside = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx) {
                        const double u = (x - b.x1) + (sx + 0.5) / 4 - 0.5 - s.cx;
                        const double v = (y - b.y1) + (sy + 0.5) / 4 - 0.5 - s.cy;
                        const bool hit = s.ring ? std::fabs(std::hypot(u / s.a, v / s.bb) - 1) *
                                                          std::min(s.a, s.bb) <
                                                      s.thick / 2
                                                : std::fabs(u) < s.a && std::fabs(v) < s.thick / 2;
                        inside += hit;
                    }
                const double a = s.colour[3] * inside / 16.0;
                const Px premultiplied{s.colour[0] * a, s.colour[1] * a, s.colour[2] * a, a};
                acc = over(premultiplied, acc);
            }
            Px stored;
            if (straight) {
                for (int c = 0; c < 3; ++c)
                    stored[c] = acc[3] > 0 ? acc[c] / acc[3] * full : unit(rng) * full;
            } else {
                for (int c = 0; c < 3; ++c)
                    stored[c] = acc[c] * full;
            }
            stored[3] = acc[3] * full;
            setPixel(image, x, y, stored);
        }
}

Params randomParams(std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0, 1);
    Params q;
    q.marginX = 6 * unit(rng);
    q.marginY = 8 * unit(rng);
    q.yOffset = 6 * unit(rng) - 3;
    q.cornerSize = rng() % 4 == 0 ? 0 : 14 * unit(rng);
    q.strokeWidth = rng() % 3 == 0 ? 0 : 4 * unit(rng);
    q.threshold = 0.05 + 0.4 * unit(rng);
    q.fill = {unit(rng), unit(rng), unit(rng), rng() % 3 == 0 ? 1 : unit(rng)};
    q.stroke = {unit(rng), unit(rng), unit(rng), rng() % 2 == 0 ? 1 : unit(rng)};
    q.fillOn = rng() % 5 != 0;
    q.strokeOn = rng() % 4 != 0;
    return q;
}

/// Opaque footage: a gradient with noise, 0..1.
std::vector<Px> footage(int w, int h, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Px> bg(static_cast<size_t>(w * h));
    const Px a{unit(rng), unit(rng), unit(rng), 1}, b{unit(rng), unit(rng), unit(rng), 1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double t = double(x + y) / (w + h);
            Px& p = bg[static_cast<size_t>(y * w + x)];
            for (int c = 0; c < 3; ++c)
                p[c] = std::clamp(a[c] + t * (b[c] - a[c]) + 0.2 * (unit(rng) - 0.5), 0.0, 1.0);
            p[3] = 1;
        }
    return bg;
}

/// Largest difference, in 8-bit levels, between the output over the footage and the source
/// over the expected plate over the footage; counted separately on and off the plate's ramps.
struct Agreement {
    double offEdge = 0, onEdge = 0;
    int glyphEdgesOverPlate = 0; ///< translucent source pixels that had plate under them
};

Agreement compare(const Image& source, const Image& output, const std::vector<Px>& bg,
                  const ExpectedPlate& plate, bool straightOutput = false) {
    Agreement a;
    const OfxRectI b = source.bounds();
    const int w = b.x2 - b.x1;
    const double full = fullScale(source.depth());
    for (int y = b.y1; y < b.y2; ++y)
        for (int x = b.x1; x < b.x2; ++x) {
            const double px = x - b.x1, py = y - b.y1;
            const Px& back = bg[static_cast<size_t>((y - b.y1) * w + (x - b.x1))];
            const Px s = scaled(pixelOf(source, x, y), 1 / full);
            const Px p = plate.at(px, py);
            const Px expected = over(s, over(p, back));
            Px out = scaled(pixelOf(output, x, y), 1 / full);
            if (straightOutput)
                for (int c = 0; c < 3; ++c)
                    out[c] *= out[3];
            const Px actual = over(out, back);
            double worst = 0;
            for (int c = 0; c < 4; ++c)
                worst = std::max(worst, std::fabs(actual[c] - expected[c]) * 255);
            double& slot = plate.onEdge(px, py) ? a.onEdge : a.offEdge;
            slot = std::max(slot, worst);
            a.glyphEdgesOverPlate += s[3] > 0 && s[3] < 1 && p[3] > 0.05;
        }
    return a;
}

TEST(AccurateCompositing, OutputOverFootageIsTextOverPlateOverFootage) {
    std::mt19937 rng(131208);
    int glyphEdges = 0;
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const OfxRectI bounds{-7, 3, 89, 67};
        auto source = std::make_shared<Image>(bounds, Components::RGBA, Depth::Byte);
        drawGlyphs(*source, rng);
        const Params q = randomParams(rng);
        const std::vector<Px> bg = footage(96, 64, rng);
        const ExpectedPlate plate(*source, q);
        const Agreement a = compare(*source, *render(source, q), bg, plate);
        EXPECT_LE(a.offEdge, 1.0);
        // On the ramps too: the same coverage model, only rounding apart.
        EXPECT_LE(a.onEdge, 1.0);
        glyphEdges += a.glyphEdgesOverPlate;
    }
    EXPECT_GT(glyphEdges, 1000); // the case that matters was there to check

    // The compatible arithmetic fails the same check badly (the halo around every glyph):
    // the check is worth something.
    std::mt19937 again(131208);
    auto source = std::make_shared<Image>(OfxRectI{-7, 3, 89, 67}, Components::RGBA, Depth::Byte);
    drawGlyphs(*source, again);
    Params q = randomParams(again);
    q.fillOn = true;
    q.fill = {0.1, 0.1, 0.3, 1};
    q.compositing = 0;
    const Agreement old =
        compare(*source, *render(source, q), footage(96, 64, again), ExpectedPlate(*source, q));
    EXPECT_GT(old.offEdge, 40.0);
}

TEST(AccurateCompositing, StraightAndPremultipliedImagesGiveTheSameComposite) {
    std::mt19937 rng(77);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Depth depth = static_cast<Depth>(i % 3);
        const OfxRectI bounds{0, 0, 80, 56};
        // One picture, stored both ways exactly: straight (with colours under zero alpha) and
        // premultiplied. Alpha in fifths of full scale and colours in steps of five make
        // every premultiplied value a whole number.
        auto straight = std::make_shared<Image>(bounds, Components::RGBA, depth);
        drawGlyphs(*straight, rng, true);
        auto premultiplied = std::make_shared<Image>(bounds, Components::RGBA, depth);
        const double top = fullScale(depth);
        const double step = depth == Depth::Float ? 0 : 5;
        for (int y = 0; y < 56; ++y)
            for (int x = 0; x < 80; ++x) {
                Px v = pixelOf(*straight, x, y);
                v[3] = std::round(v[3] / top * 5) * top / 5;
                for (int c = 0; c < 3 && step > 0; ++c)
                    v[c] = std::round(v[c] / step) * step;
                setPixel(*straight, x, y, v);
                const double a = v[3] / top;
                for (int c = 0; c < 3; ++c)
                    v[c] = a > 0 ? v[c] * a : 0;
                setPixel(*premultiplied, x, y, v);
            }
        const Params q = randomParams(rng);
        const std::vector<Px> bg = footage(80, 56, rng);
        auto fromStraight = render(straight, q, kOfxImageUnPreMultiplied);
        auto fromPremultiplied = render(premultiplied, q, kOfxImagePreMultiplied);
        const double full = fullScale(depth);
        double worst = 0;
        for (int y = 0; y < 56; ++y)
            for (int x = 0; x < 80; ++x) {
                Px s = scaled(pixelOf(*fromStraight, x, y), 1 / full);
                for (int c = 0; c < 3; ++c)
                    s[c] *= s[3];
                const Px p = scaled(pixelOf(*fromPremultiplied, x, y), 1 / full);
                const Px& back = bg[static_cast<size_t>(y * 80 + x)];
                const Px a = over(s, back), b = over(p, back);
                for (int c = 0; c < 4; ++c)
                    worst = std::max(worst, std::fabs(a[c] - b[c]) * 255);
            }
        // Each output is rounded to its own representation: at most a level apart in 8 bits.
        EXPECT_LE(worst, depth == Depth::Byte ? 1.0 : 0.02);
    }
}

TEST(AccurateCompositing, OpaqueAndUnreachedSourcePixelsComeOutUnchanged) {
    std::mt19937 rng(5);
    const char* states[] = {kOfxImagePreMultiplied, kOfxImageUnPreMultiplied, kOfxImageOpaque};
    int opaque = 0, unreached = 0;
    for (Depth depth : {Depth::Byte, Depth::Short, Depth::Float}) {
        for (const char* state : states) {
            SCOPED_TRACE(std::string(state) + " depth " + std::to_string(int(depth)));
            const OfxRectI bounds{0, 0, 120, 60};
            auto source = std::make_shared<Image>(bounds, Components::RGBA, depth);
            drawGlyphs(*source, rng, std::string(state) == kOfxImageUnPreMultiplied);
            // Footage-like corners far from the plate, with every kind of alpha.
            const double full = fullScale(depth);
            std::uniform_real_distribution<double> unit(0, 1);
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 6; ++x)
                    setPixel(*source, x, y,
                             {unit(rng) * full, unit(rng) * full, unit(rng) * full,
                              (x % 3) * full / 8}); // below the threshold
            Params q = randomParams(rng);
            q.marginX = 2;
            q.marginY = 2;
            q.yOffset = 0;
            q.threshold = 0.3;
            q.fillOn = true;
            q.fill[3] = 0.7;
            auto out = render(source, q, state);
            const ExpectedPlate plate(*source, q);
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 120; ++x) {
                    const Px in = pixelOf(*source, x, y);
                    const bool isOpaque = in[3] >= full;
                    const bool away = plate.at(x, y)[3] == 0 && plate.distance(x, y) > 2;
                    if (isOpaque || away) {
                        EXPECT_EQ(pixelOf(*out, x, y), in) << x << "," << y;
                    }
                    opaque += isOpaque;
                    unreached += away;
                }
        }
    }
    EXPECT_GT(opaque, 300);
    EXPECT_GT(unreached, 9 * 36);
}

// However large a plate colour is (finite, yet past the channel range once scaled to it), an
// opaque pixel lets nothing of the plate through.
TEST(AccurateCompositing, OpaquePixelsHideEvenAnOverflowingPlate) {
    std::mt19937 rng(11);
    for (Depth depth : {Depth::Byte, Depth::Short}) {
        for (const char* state : {kOfxImagePreMultiplied, kOfxImageUnPreMultiplied}) {
            SCOPED_TRACE(std::string(state) + " depth " + std::to_string(int(depth)));
            auto source = std::make_shared<Image>(OfxRectI{0, 0, 80, 40}, Components::RGBA, depth);
            drawGlyphs(*source, rng, std::string(state) == kOfxImageUnPreMultiplied);
            Params q;
            q.fill = {3e38, 3e38, 3e38, 1};
            q.stroke = {3e38, 0, 3e38, 1};
            q.strokeWidth = 2;
            auto out = render(source, q, state);
            int opaque = 0;
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 80; ++x) {
                    const Px in = pixelOf(*source, x, y);
                    if (in[3] >= fullScale(depth)) {
                        EXPECT_EQ(pixelOf(*out, x, y), in) << x << "," << y;
                        ++opaque;
                    }
                }
            EXPECT_GT(opaque, 20);
        }
    }
}

// Known values, where the compatible arithmetic gave something else.
TEST(AccurateCompositing, ArithmeticExamples) {
    struct Case {
        const char* what;
        Depth depth;
        const char* state;
        Params q;
        Px probe; ///< painted at (14, 12) when alpha is not negative
        int x, y;
        Px expected;
    };
    Params halfWhite;
    halfWhite.fill = {1, 1, 1, 0.5};
    Params outline; // outline coverage 0.5 over an opaque black fill at x = 9
    outline.marginX = 0.5;
    outline.marginY = 5;
    outline.strokeWidth = 0.5;
    Params fractional; // the plate's boundary runs through the centre of column 9
    fractional.marginX = 0.25;
    fractional.marginY = 5;
    Params wide;
    wide.fill = {2, -1, 0.5, 1};
    const Px none{-1, -1, -1, -1};
    const Case cases[] = {
        {"half-opaque white fill: over black it gives half grey, not a quarter",
         Depth::Byte,
         kOfxImagePreMultiplied,
         halfWhite,
         none,
         14,
         12,
         {128, 128, 128, 128}},
        // Un-premultiplied by the alpha as stored: 254 × 128 / 255 is the result's 127.5.
        {"the same, straight",
         Depth::Byte,
         kOfxImageUnPreMultiplied,
         halfWhite,
         none,
         14,
         12,
         {254, 254, 254, 128}},
        {"the same, 16 bits",
         Depth::Short,
         kOfxImagePreMultiplied,
         halfWhite,
         none,
         14,
         12,
         {32768, 32768, 32768, 32768}},
        {"a glyph's edge keeps the plate under it",
         Depth::Byte,
         kOfxImagePreMultiplied,
         Params{},
         {128, 128, 128, 128},
         14,
         12,
         {128, 128, 128, 255}},
        {"a faint pixel below the threshold keeps its contribution",
         Depth::Byte,
         kOfxImagePreMultiplied,
         Params{},
         {20, 0, 0, 20},
         14,
         12,
         {20, 0, 0, 255}},
        {"outline ramp over the fill: the fill shows through",
         Depth::Byte,
         kOfxImagePreMultiplied,
         outline,
         none,
         9,
         12,
         {128, 128, 128, 255}},
        {"a fractional margin gives a half-covered edge column",
         Depth::Byte,
         kOfxImagePreMultiplied,
         fractional,
         none,
         9,
         12,
         {0, 0, 0, 128}},
        {"and nothing a column further",
         Depth::Byte,
         kOfxImagePreMultiplied,
         fractional,
         none,
         8,
         12,
         {0, 0, 0, 0}},
        {"float is not clamped",
         Depth::Float,
         kOfxImagePreMultiplied,
         wide,
         none,
         14,
         12,
         {2, -1, 0.5, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const double full = fullScale(c.depth);
        auto source = std::make_shared<Image>(OfxRectI{0, 0, 40, 30}, Components::RGBA, c.depth);
        setPixel(*source, 10, 10, {full, full, full, full});
        if (c.probe[3] >= 0)
            setPixel(*source, 14, 12, c.probe);
        auto out = render(source, c.q, c.state);
        EXPECT_EQ(pixelOf(*out, c.x, c.y), c.expected);
        EXPECT_EQ(pixelOf(*out, 10, 10), (Px{full, full, full, full}));
    }
}

// Tiles, thread counts and aborted rows, as in the compatible mode.
TEST(AccurateCompositing, TilesThreadsAndAbortsAsInTheCompatibleMode) {
    std::mt19937 rng(99);
    auto source = std::make_shared<Image>(OfxRectI{0, 0, 120, 64}, Components::RGBA, Depth::Short);
    drawGlyphs(*source, rng);
    Params q = randomParams(rng);
    q.fillOn = true;
    q.strokeWidth = 2.5;
    const auto whole = render(source, q);

    auto renderIn = [&](unsigned cpus, const std::vector<OfxRectI>& tiles, int abortFrom) {
        nimbra_test::LoadedPlugin p{bundleUnderTest()};
        ofxhost::Effect& fx = p.instantiate();
        auto out = p.host.makeImage(source->bounds(), Components::RGBA, Depth::Short);
        out->fill({1, 2, 3, 4});
        for (const char* clip : {"Source", "Output"})
            fx.clip(clip).setFormat(Components::RGBA, Depth::Short);
        fx.clip("Source").setImage(source);
        fx.clip("Output").setImage(out);
        fx.param("marginX").setValue({q.marginX});
        fx.param("marginY").setValue({q.marginY});
        fx.param("yOffset").setValue({q.yOffset});
        fx.param("cornerSize").setValue({q.cornerSize});
        fx.param("strokeWidth").setValue({q.strokeWidth});
        fx.param("detectionThreshold").setValue({q.threshold});
        fx.param("fillColor").setValue({q.fill.begin(), q.fill.end()});
        fx.param("strokeColor").setValue({q.stroke.begin(), q.stroke.end()});
        fx.param("strokeEnabled").setValue({q.strokeOn ? 1.0 : 0.0});
        fx.param("compositing").setValue({1});
        p.host.setNumCPUs(cpus);
        int calls = 0;
        if (abortFrom > 0)
            p.host.setAbortHook([&](OfxImageEffectHandle) { return ++calls >= abortFrom; });
        for (const OfxRectI& tile : tiles)
            EXPECT_EQ(p.session.render(fx, 0, tile), kOfxStatOK);
        EXPECT_TRUE(p.host.allImagesReleased());
        return out;
    };
    auto same = [&](const Image& a, int rows) {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 120; ++x)
                EXPECT_EQ(pixelOf(a, x, y), y < rows ? pixelOf(*whole, x, y) : (Px{1, 2, 3, 4}))
                    << x << "," << y;
    };
    same(*renderIn(1, {{0, 0, 60, 32}, {60, 0, 120, 32}, {0, 32, 60, 64}, {60, 32, 120, 64}}, 0),
         64);
    for (unsigned cpus : {2u, 3u, 8u})
        same(*renderIn(cpus, {{0, 0, 120, 64}}, 0), 64);
    same(*renderIn(1, {{0, 0, 120, 64}}, 6), 5); // the sixth row's query says abort
}

// Distances are full-size pixels: horizontal ones follow the horizontal scale, vertical ones
// the vertical scale, the outline width the geometric mean of the two.
TEST(AccurateCompositing, UnequalRenderScales) {
    auto source = std::make_shared<Image>(OfxRectI{0, 0, 60, 40}, Components::RGBA, Depth::Byte);
    setPixel(*source, 30, 20, {255, 255, 255, 255});
    Params q;
    q.marginX = 4;  // 2 × 4 × 0.5 = 4 columns
    q.marginY = 16; // 16 × 0.125 = 2 rows
    q.yOffset = 8;  // 1 row up
    q.strokeWidth = 2;
    q.stroke = {1, 0, 0, 1};
    auto out = render(source, q, kOfxImagePreMultiplied, {0.5, 0.125});
    // Plate: columns 26..34, rows 19..23; its edge half a pixel outside those. The outline,
    // 2 × √(0.5 × 0.125) = 0.5 wide on each side of the edge, half covers the edge pixels
    // inside and outside.
    EXPECT_EQ(pixelOf(*out, 26, 21), (Px{128, 0, 0, 255})); // fill under half an outline
    EXPECT_EQ(pixelOf(*out, 25, 21), (Px{128, 0, 0, 128})); // half an outline only
    EXPECT_EQ(pixelOf(*out, 24, 21), (Px{0, 0, 0, 0}));
    EXPECT_EQ(pixelOf(*out, 34, 21), (Px{128, 0, 0, 255}));
    EXPECT_EQ(pixelOf(*out, 35, 21), (Px{128, 0, 0, 128}));
    EXPECT_EQ(pixelOf(*out, 30, 19), (Px{128, 0, 0, 255}));
    EXPECT_EQ(pixelOf(*out, 30, 18), (Px{128, 0, 0, 128}));
    EXPECT_EQ(pixelOf(*out, 30, 23), (Px{128, 0, 0, 255}));
    EXPECT_EQ(pixelOf(*out, 30, 24), (Px{128, 0, 0, 128}));
    EXPECT_EQ(pixelOf(*out, 30, 25), (Px{0, 0, 0, 0}));
    EXPECT_EQ(pixelOf(*out, 30, 21), (Px{0, 0, 0, 255}));

    // The corner radius scales too: 8 at half scale is 4. Plate: columns 20..40, rows 10..30.
    Params round;
    round.marginX = 10; // counts twice: 2 × 10 × 0.5 = 10 columns
    round.marginY = 20;
    round.cornerSize = 8;
    auto half = render(source, round, kOfxImagePreMultiplied, {0.5, 0.5});
    EXPECT_EQ(pixelOf(*half, 20, 10)[3], 0);   // beyond a radius of 4 (and of 8)
    EXPECT_GT(pixelOf(*half, 21, 11)[3], 200); // inside a radius of 4, outside one of 8
    EXPECT_EQ(pixelOf(*half, 25, 10)[3], 255); // the straight bottom edge
}

/// 2×2 box average of a premultiplied 8-bit image, rounded.
std::shared_ptr<Image> halfSize(const Image& image) {
    const OfxRectI b = image.bounds();
    auto half = std::make_shared<Image>(OfxRectI{0, 0, (b.x2 - b.x1) / 2, (b.y2 - b.y1) / 2},
                                        Components::RGBA, image.depth());
    for (int y = 0; y < (b.y2 - b.y1) / 2; ++y)
        for (int x = 0; x < (b.x2 - b.x1) / 2; ++x) {
            Px sum{0, 0, 0, 0};
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const Px p = pixelOf(image, b.x1 + 2 * x + dx, b.y1 + 2 * y + dy);
                    for (int c = 0; c < 4; ++c)
                        sum[c] += p[c] / 4;
                }
            setPixel(*half, x, y, sum);
        }
    return half;
}

/// Pixels of `a` whose alpha is above `floor` with no such pixel in `b` within one pixel
/// (diagonals included): where the plate of one image reaches further than the other's.
int reachingFurther(const Image& a, const Image& b, double floor = 8) {
    const OfxRectI r = a.bounds();
    int count = 0;
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x) {
            if (a.get(x, y, 3) <= floor)
                continue;
            bool near = false;
            for (int v = std::max(r.y1, y - 1); v <= std::min(r.y2 - 1, y + 1); ++v)
                for (int u = std::max(r.x1, x - 1); u <= std::min(r.x2 - 1, x + 1); ++u)
                    near = near || b.get(u, v, 3) > floor;
            count += !near;
        }
    return count;
}

TEST(AccurateCompositing, HalfScaleRenderIsTheFullRenderScaledDown) {
    std::mt19937 rng(2);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        auto full =
            std::make_shared<Image>(OfxRectI{0, 0, 192, 112}, Components::RGBA, Depth::Byte);
        drawGlyphs(*full, rng);
        Params q = randomParams(rng);
        // Low enough that averaging does not hide the glyphs' extremities from detection.
        q.threshold = 0.05;
        q.marginX = 3 + 5 * (i % 3);
        q.marginY = 4 + 3 * (i % 2);
        q.yOffset = i - 3;
        q.cornerSize = 4 * i;
        q.strokeWidth = i % 2 ? 3 : 1.5;
        q.fillOn = true;
        q.fill[3] = 0.8;
        const auto downscaledFull = halfSize(*render(full, q));
        const auto halfRender = render(halfSize(*full), q, kOfxImagePreMultiplied, {0.5, 0.5});
        // The plate's edges within a pixel of each other...
        EXPECT_EQ(reachingFurther(*halfRender, *downscaledFull), 0);
        EXPECT_EQ(reachingFurther(*downscaledFull, *halfRender), 0);
        // ...and away from them, where the plate under a pixel is the same in both, the same
        // values: "over" a constant plate commutes with averaging.
        const ExpectedPlate plate(*full, q);
        const double band = q.strokeWidth + 4; // full-size pixels: outline, ramp, a half pixel
        int away = 0;
        for (int y = 0; y < 56; ++y)
            for (int x = 0; x < 96; ++x) {
                if (std::fabs(plate.distance(2 * x + 0.5, 2 * y + 0.5)) < band)
                    continue;
                ++away;
                for (int c = 0; c < 4; ++c)
                    EXPECT_NEAR(halfRender->get(x, y, c), downscaledFull->get(x, y, c), 2)
                        << x << "," << y << " channel " << c;
            }
        EXPECT_GT(away, 96 * 56 / 2);

        // The compatible arithmetic ignores the scale: its preview plate is twice as roomy.
        q.compositing = 0;
        const auto oldFull = halfSize(*render(full, q));
        const auto oldHalf = render(halfSize(*full), q, kOfxImagePreMultiplied, {0.5, 0.5});
        EXPECT_GT(reachingFurther(*oldHalf, *oldFull), 50);
    }
}

} // namespace
