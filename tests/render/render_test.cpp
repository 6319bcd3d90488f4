// The effect's pixels, rendered through the built module with the test host.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using nimbra_test::kFilter;
using nimbra_test::kGeneral;
using nimbra_test::LoadedPlugin;
using ofxhost::Components;
using ofxhost::Depth;
using ofxhost::Image;
using Px = std::array<double, 4>;

using nimbra_test::bundleUnderTest;

/// One instance with a Source and a destination image, both clips formatted to match.
struct Rig {
    explicit Rig(OfxRectI sourceBounds, OfxRectI destinationBounds,
                 Components components = Components::RGBA, Depth depth = Depth::Byte,
                 const std::string& context = kFilter)
        : fx(p.instantiate(context)) {
        fx.clip("Source").setFormat(components, depth);
        fx.clip("Output").setFormat(components, depth);
        src = p.host.makeImage(sourceBounds, components, depth);
        dst = p.host.makeImage(destinationBounds, components, depth);
        fx.clip("Source").setImage(src);
        fx.clip("Output").setImage(dst);
    }
    OfxStatus render(OfxRectI window, double time = 0.0) {
        return p.session.render(fx, time, window);
    }
    OfxStatus renderAll() { return render(dst->bounds()); }
    void set(const char* name, std::vector<double> values) { fx.param(name).setValue(values); }
    Px out(int x, int y) const { return pixel(*dst, x, y); }
    static Px pixel(const Image& image, int x, int y) {
        Px v{0, 0, 0, 0};
        for (int c = 0; c < image.channels(); ++c)
            v[static_cast<size_t>(c)] = image.get(x, y, c);
        return v;
    }
    /// Every render ends here: no image kept, nothing written outside the destination.
    void checkClean() const {
        EXPECT_TRUE(p.host.allImagesReleased());
        EXPECT_TRUE(dst->guardsIntact());
    }

    LoadedPlugin p{bundleUnderTest()};
    ofxhost::Effect& fx;
    std::shared_ptr<Image> src;
    std::shared_ptr<Image> dst;
};

void paint(Image& image, int x, int y, const std::vector<double>& raw) {
    for (size_t c = 0; c < raw.size(); ++c)
        image.set(x, y, static_cast<int>(c), raw[c]);
}

void paintRect(Image& image, OfxRectI r, const std::vector<double>& raw) {
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x)
            paint(image, x, y, raw);
}

bool sameImage(const Image& a, const Image& b) {
    for (int y = a.bounds().y1; y < a.bounds().y2; ++y)
        for (int x = a.bounds().x1; x < a.bounds().x2; ++x)
            if (Rig::pixel(a, x, y) != Rig::pixel(b, x, y))
                return false;
    return true;
}

// One text pixel at (10,10) of a 40×30 transparent 8-bit frame; each case probes one output
// pixel after setting a few parameters.
TEST(RenderPixels, CompositingArithmeticIsBitExact) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::vector<double>>> params;
        std::vector<double> textPixel;
        int x, y;
        std::vector<double> probeSource; ///< painted at (x, y) first when not empty
        Px expected;
    };
    const std::vector<double> text = {252, 252, 252, 252};
    const std::vector<Case> cases = {
        {"text pixel recomputed under a plate", {}, text, 10, 10, {}, {251, 251, 251, 252}},
        {"transparent pixel inside the plate", {}, text, 12, 12, {}, {0, 0, 0, 255}},
        {"alpha 20 is below the threshold: filled",
         {},
         text,
         12,
         12,
         {20, 20, 20, 20},
         {0, 0, 0, 255}},
        {"alpha exactly at the threshold is not text",
         {{"detectionThreshold", {0.2}}},
         text,
         12,
         12,
         {51, 51, 51, 51},
         {0, 0, 0, 255}},
        {"only alpha at the threshold: nothing detected",
         {{"detectionThreshold", {0.2}}},
         {51, 51, 51, 51},
         12,
         12,
         {},
         {0, 0, 0, 0}},
        {"alpha just above the threshold is text",
         {{"detectionThreshold", {0.2}}},
         text,
         12,
         12,
         {52, 0, 0, 52},
         {52, 0, 0, 52}},
        {"alpha 26 is text: keeps its colour", {}, text, 12, 12, {26, 0, 0, 26}, {26, 0, 0, 26}},
        {"half-transparent white fill",
         {{"fillColor", {1, 1, 1, 0.5}}},
         text,
         12,
         12,
         {},
         {63, 63, 63, 127}},
        {"stroke 2.5 at distance 1.75",
         {{"marginX", {0.875}}, {"marginY", {5}}, {"strokeWidth", {2.5}}},
         text,
         10,
         12,
         {},
         {143, 143, 143, 191}},
        {"stroke coverage 0.5 inside the fill",
         {{"marginX", {0.75}}, {"marginY", {5}}, {"strokeWidth", {2}}},
         text,
         10,
         12,
         {},
         {63, 63, 63, 127}},
        {"stroke width 0 draws no outline on the plate's corner",
         {{"marginY", {5}}, {"strokeWidth", {0}}, {"fillEnabled", {0}}},
         text,
         0,
         5,
         {},
         {0, 0, 0, 0}},
        {"stroke width 1 on the outline",
         {{"marginY", {5}}, {"strokeWidth", {1}}},
         text,
         0,
         5,
         {},
         {255, 255, 255, 255}},
        {"stroke width 1 at distance 0.5",
         {{"marginX", {0.25}}, {"marginY", {5}}, {"strokeWidth", {1}}},
         text,
         10,
         12,
         {},
         {63, 63, 63, 127}},
        {"half-covering outline composites over a faint pixel, keeping its alpha",
         {{"marginX", {0.25}}, {"marginY", {5}}, {"strokeWidth", {1}}},
         text,
         10,
         12,
         {0, 0, 0, 20},
         {68, 68, 68, 137}},
        {"stroke width 1 leaves distance 1 to the fill",
         {{"marginX", {0.5}}, {"marginY", {5}}, {"strokeWidth", {1}}},
         text,
         10,
         12,
         {},
         {0, 0, 0, 255}},
        {"fill and stroke off: text recomputed",
         {{"fillEnabled", {0}}, {"strokeEnabled", {0}}, {"strokeWidth", {3}}},
         text,
         10,
         10,
         {},
         {251, 251, 251, 252}},
        {"fill and stroke off: empty stays empty",
         {{"fillEnabled", {0}}, {"strokeEnabled", {0}}},
         text,
         12,
         12,
         {},
         {0, 0, 0, 0}},
        {"fill colour saturates per channel",
         {{"fillColor", {2, -1, 0.5, 1}}},
         text,
         12,
         12,
         {},
         {255, 0, 127, 255}},
        {"colour above alpha does not wrap", {}, text, 12, 12, {250, 0, 0, 30}, {249, 0, 0, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig({0, 0, 40, 30}, {0, 0, 40, 30});
        paint(*rig.src, 10, 10, c.textPixel);
        if (!c.probeSource.empty())
            paint(*rig.src, c.x, c.y, c.probeSource);
        for (const auto& [name, values] : c.params)
            rig.set(name, values);
        ASSERT_EQ(rig.renderAll(), kOfxStatOK);
        EXPECT_EQ(rig.out(c.x, c.y), c.expected);
        rig.checkClean();
    }
}

// The plate edges are found through where the fill starts and stops.
TEST(RenderPixels, PlateGeometryAndShapes) {
    Rig rig({0, 0, 1920, 1080}, {0, 0, 1920, 1080});
    paintRect(*rig.src, {100, 50, 301, 81}, {255, 255, 255, 255});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    auto alpha = [&](int x, int y) { return rig.out(x, y)[3]; };
    EXPECT_EQ(alpha(60, 60), 255);
    EXPECT_EQ(alpha(59, 60), 0);
    EXPECT_EQ(alpha(340, 60), 255);
    EXPECT_EQ(alpha(341, 60), 0);
    EXPECT_EQ(alpha(200, 30), 255);
    EXPECT_EQ(alpha(200, 29), 0);
    EXPECT_EQ(alpha(200, 100), 255);
    EXPECT_EQ(alpha(200, 101), 0);
    rig.checkClean();

    // A corner radius larger than half the short side makes a pill: the corners are cut, the
    // middle of the short sides is not.
    rig.set("cornerSize", {100});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_EQ(alpha(60, 30), 0);
    EXPECT_EQ(alpha(60, 65), 255);
    EXPECT_EQ(alpha(95, 30), 255); // centre (95,65), radius 35
    EXPECT_EQ(alpha(340, 100), 0);
    rig.set("cornerSize", {-5});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_EQ(alpha(60, 30), 255);
    EXPECT_EQ(alpha(340, 100), 255);
    rig.checkClean();

    // Clamped to the frame, the plate's right and top edges are the frame's edge lines, half a
    // pixel past the last column and row; its left and bottom edges run through the first ones.
    // A 1.5 outline therefore covers the last column and row by half, the first ones fully.
    Rig clamped({0, 0, 60, 40}, {0, 0, 60, 40});
    paint(*clamped.src, 55, 35, {255, 255, 255, 255});
    paint(*clamped.src, 8, 4, {255, 255, 255, 255});
    clamped.set("strokeWidth", {1.5});
    ASSERT_EQ(clamped.renderAll(), kOfxStatOK);
    EXPECT_EQ(clamped.out(59, 20), (Px{63, 63, 63, 127}));
    EXPECT_EQ(clamped.out(30, 39), (Px{63, 63, 63, 127}));
    EXPECT_EQ(clamped.out(0, 20), (Px{255, 255, 255, 255}));
    EXPECT_EQ(clamped.out(30, 0), (Px{255, 255, 255, 255}));
    EXPECT_EQ(clamped.out(58, 20), (Px{0, 0, 0, 255}));
    EXPECT_EQ(clamped.out(30, 38), (Px{0, 0, 0, 255}));
    clamped.checkClean();

    // Pushed up past the frame, the plate clamps to an inverted strip: no fill anywhere, and
    // a stroke at most along the clamped edge line.
    Rig small({0, 0, 60, 40}, {0, 0, 60, 40});
    small.set("yOffset", {100});
    small.set("marginY", {0});
    small.set("strokeWidth", {2});
    paint(*small.src, 30, 10, {255, 255, 255, 255});
    ASSERT_EQ(small.renderAll(), kOfxStatOK);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            if (!(x == 30 && y == 10)) {
                EXPECT_EQ(small.out(x, y)[3], y == 39 ? 255 : 0) << x << "," << y;
            }
    small.checkClean();
}

TEST(RenderPixels, NothingDetectedCopiesAndNoSourceGivesZeros) {
    Rig rig({0, 0, 20, 10}, {0, 0, 20, 10});
    paintRect(*rig.src, {0, 0, 20, 10}, {7, 9, 11, 13}); // alpha 13 < 25.5
    rig.set("strokeWidth", {4});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_TRUE(sameImage(*rig.src, *rig.dst));
    rig.checkClean();

    // A destination wider than the source: the uncovered pixels become zero.
    Rig wide({0, 0, 10, 10}, {-5, 0, 15, 10});
    wide.dst->fill({1, 2, 3, 4});
    paintRect(*wide.src, {0, 0, 10, 10}, {7, 9, 11, 13});
    ASSERT_EQ(wide.renderAll(), kOfxStatOK);
    EXPECT_EQ(wide.out(-5, 3), (Px{0, 0, 0, 0}));
    EXPECT_EQ(wide.out(14, 3), (Px{0, 0, 0, 0}));
    EXPECT_EQ(wide.out(4, 3), (Px{7, 9, 11, 13}));
    wide.checkClean();

    Rig none({0, 0, 20, 10}, {0, 0, 20, 10});
    none.fx.clip("Source").clearImages();
    none.dst->fill({1, 2, 3, 4});
    ASSERT_EQ(none.render({2, 2, 8, 6}), kOfxStatOK);
    EXPECT_EQ(none.out(2, 2), (Px{0, 0, 0, 0}));
    EXPECT_EQ(none.out(7, 5), (Px{0, 0, 0, 0}));
    EXPECT_EQ(none.out(8, 5), (Px{1, 2, 3, 4}));
    EXPECT_EQ(none.out(1, 2), (Px{1, 2, 3, 4}));
    none.checkClean();
}

// Detection's threshold at its edge in every depth: an alpha just above it is text, one at it
// is not, wherever in a row of 16-pixel chunks the pixel stands.
TEST(RenderPixels, TheLeastAlphaAboveTheThresholdIsText) {
    struct Case {
        Depth depth;
        double above, at; // the least alpha above 0.1 of full scale, and the greatest at or below
        double opaque;
    };
    const Case cases[] = {
        {Depth::Byte, 26, 25, 255},
        {Depth::Short, 6554, 6553, 65535},
        {Depth::Float, static_cast<double>(std::nextafter(0.1f, 1.0f)), static_cast<double>(0.1f),
         1},
    };
    for (const Case& c : cases)
        for (int x : {5, 37, 63}) {
            for (bool text : {true, false}) {
                Rig rig({0, 0, 64, 8}, {0, 0, 64, 8}, Components::RGBA, c.depth);
                paint(*rig.src, x, 4, {0, 0, 0, text ? c.above : c.at});
                ASSERT_EQ(rig.renderAll(), kOfxStatOK);
                const int away = x < 32 ? x + 10 : x - 10; // transparent, inside any plate
                EXPECT_EQ(rig.out(away, 4)[3], text ? c.opaque : 0)
                    << "depth " << static_cast<int>(c.depth) << ", column " << x
                    << (text ? ", alpha above" : ", alpha at") << " the threshold";
                rig.checkClean();
            }
        }
}

TEST(RenderPixels, FloatOutputIsNotClamped) {
    Rig rig({0, 0, 40, 30}, {0, 0, 40, 30}, Components::RGBA, Depth::Float);
    paint(*rig.src, 10, 10, {1, 1, 1, 1});
    rig.set("fillColor", {2, -1, 0.5, 1});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_EQ(rig.out(12, 12), (Px{2, -1, 0.5, 1}));
    rig.checkClean();
}

// The plate is measured from the source's lower-left corner whatever the output's bounds.
TEST(RenderPixels, PlateStaysOnTheTextWhenBoundsDiffer) {
    Rig rig({0, 0, 100, 50}, {-10, -10, 110, 60});
    paint(*rig.src, 50, 25, {255, 255, 255, 255});
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_EQ(rig.out(10, 25)[3], 255);
    EXPECT_EQ(rig.out(9, 25)[3], 0);
    EXPECT_EQ(rig.out(90, 25)[3], 255);
    EXPECT_EQ(rig.out(91, 25)[3], 0);
    EXPECT_EQ(rig.out(50, 5)[3], 255);
    EXPECT_EQ(rig.out(50, 4)[3], 0);
    EXPECT_EQ(rig.out(50, 45)[3], 255);
    EXPECT_EQ(rig.out(50, 46)[3], 0);
    EXPECT_EQ(rig.out(-10, -10), (Px{0, 0, 0, 0}));
    EXPECT_EQ(rig.out(105, 55), (Px{0, 0, 0, 0}));
    rig.checkClean();
}

TEST(RenderPixels, TilesThreadCountsAndRenderScaleDoNotChangePixels) {
    auto scene = [](Rig& rig) {
        paintRect(*rig.src, {30, 20, 70, 30}, {200, 100, 50, 200});
        paintRect(*rig.src, {40, 24, 44, 40}, {255, 255, 255, 255});
        rig.set("cornerSize", {6});
        rig.set("strokeWidth", {2.5});
        rig.set("fillColor", {0.2, 0.3, 0.4, 0.7});
    };
    const OfxRectI frame{0, 0, 120, 64};
    Rig whole(frame, frame);
    scene(whole);
    whole.p.host.setNumCPUs(1);
    ASSERT_EQ(whole.renderAll(), kOfxStatOK);
    whole.checkClean();

    Rig tiled(frame, frame);
    scene(tiled);
    for (OfxRectI tile : {OfxRectI{0, 0, 60, 32}, OfxRectI{60, 0, 120, 32}, OfxRectI{0, 32, 60, 64},
                          OfxRectI{60, 32, 120, 64}})
        ASSERT_EQ(tiled.render(tile), kOfxStatOK);
    EXPECT_TRUE(sameImage(*whole.dst, *tiled.dst));
    tiled.checkClean();

    // 0: a host that reports no CPU still lends the calling thread.
    for (unsigned cpus : {0u, 2u, 3u, 8u}) {
        SCOPED_TRACE(cpus);
        Rig threaded(frame, frame);
        scene(threaded);
        threaded.p.host.setNumCPUs(cpus);
        ASSERT_EQ(threaded.renderAll(), kOfxStatOK);
        EXPECT_TRUE(sameImage(*whole.dst, *threaded.dst));
        threaded.checkClean();
    }

    Rig scaled(frame, frame);
    scene(scaled);
    ASSERT_EQ(scaled.p.session.render(scaled.fx, 0.0, frame, {0.5, 0.5}), kOfxStatOK);
    EXPECT_TRUE(sameImage(*whole.dst, *scaled.dst));
    scaled.checkClean();
}

TEST(RenderPixels, RefusedDestinationsAndFormatsLeaveTheImageAlone) {
    const std::vector<double> sentinel = {9, 8, 7, 6};
    // A destination that does not cover the window, by a pixel on any side.
    for (OfxRectI window : {OfxRectI{0, 0, 20, 10}, OfxRectI{-1, 0, 10, 10},
                            OfxRectI{0, -1, 10, 10}, OfxRectI{0, 0, 10, 11}}) {
        SCOPED_TRACE(testing::Message()
                     << window.x1 << "," << window.y1 << " " << window.x2 << "," << window.y2);
        Rig rig({-5, -5, 20, 20}, {0, 0, 10, 10});
        paint(*rig.src, 5, 5, {255, 255, 255, 255});
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.render(window), kOfxStatErrImageFormat);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    {
        // Both images 16-bit while the Output clip says 8-bit.
        Rig rig({0, 0, 10, 10}, {0, 0, 10, 10}, Components::RGBA, Depth::Short);
        rig.fx.clip("Output").setFormat(Components::RGBA, Depth::Byte);
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.renderAll(), kOfxStatErrImageFormat);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    {
        Rig rig({0, 0, 10, 10}, {0, 0, 10, 10}, Components::RGBA, Depth::Byte);
        rig.fx.clip("Output").setFormat(Components::Alpha, Depth::Byte);
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.renderAll(), kOfxStatErrImageFormat);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    {
        Rig rig({0, 0, 10, 10}, {0, 0, 10, 10});
        rig.fx.clip("Output").imageOverrides().setPointer(kOfxImagePropData, nullptr);
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.renderAll(), kOfxStatErrImageFormat);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    for (const char* depth : {"OfxBitDepthNone", "OfxBitDepthHalf", "OfxBitDepthByteBGR"}) {
        SCOPED_TRACE(depth);
        Rig rig({0, 0, 10, 10}, {0, 0, 10, 10});
        rig.fx.clip("Output").props().setString(kOfxImageEffectPropPixelDepth, depth);
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.renderAll(), kOfxStatErrUnsupported);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    struct Mismatch {
        Components c;
        Depth d;
    };
    for (Mismatch m :
         {Mismatch{Components::RGBA, Depth::Short}, Mismatch{Components::Alpha, Depth::Byte}}) {
        Rig rig({0, 0, 10, 10}, {0, 0, 10, 10});
        rig.src = rig.p.host.makeImage({0, 0, 10, 10}, m.c, m.d);
        rig.fx.clip("Source").setImage(rig.src);
        rig.dst->fill(sentinel);
        EXPECT_EQ(rig.renderAll(), kOfxStatErrFormat);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
}

// A host call failing half-way through a render: the host's status comes back, both images
// are given back and nothing is written.
TEST(RenderPixels, FailuresMidRenderReleaseEveryImage) {
    struct Fault {
        const char* member;
        OfxStatus injected, expected;
    };
    for (Fault f : {Fault{"paramGetValueAtTime", kOfxStatErrUnknown, kOfxStatErrUnknown},
                    Fault{"clipGetImage", kOfxStatErrMemory, kOfxStatErrMemory},
                    Fault{"multiThread", kOfxStatErrMemory, kOfxStatErrMemory}}) {
        SCOPED_TRACE(f.member);
        Rig rig({0, 0, 20, 10}, {0, 0, 20, 10});
        paint(*rig.src, 5, 5, {255, 255, 255, 255});
        rig.dst->fill({9, 8, 7, 6});
        rig.p.host.setNumCPUs(4);
        rig.p.host.faults().failFunction(f.member, f.injected);
        EXPECT_EQ(rig.renderAll(), f.expected);
        EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
        EXPECT_EQ(rig.out(0, 0), (Px{9, 8, 7, 6}));
        rig.checkClean();
    }
    // The source described with a premultiplication nobody knows.
    Rig rig({0, 0, 20, 10}, {0, 0, 20, 10});
    rig.fx.clip("Source").imageOverrides().setString(kOfxImageEffectPropPreMultiplication,
                                                     "OfxImageHalfMultiplied");
    rig.dst->fill({9, 8, 7, 6});
    EXPECT_EQ(rig.renderAll(), kOfxStatFailed);
    EXPECT_EQ(rig.out(5, 5), (Px{9, 8, 7, 6}));
    EXPECT_GE(rig.p.host.imagesFetched(), 1);
    rig.checkClean();
}

TEST(RenderPixels, PremultiplicationStates) {
    struct Case {
        const char* state;
        Px text, outside;
    };
    // Text (100,50,25,200) and an outside-the-plate pixel (80,40,20,0) with colour but no
    // alpha: the colour nobody can see reads as 0 whatever the premultiplication.
    const Case cases[] = {
        {kOfxImageUnPreMultiplied, {100, 50, 25, 200}, {0, 0, 0, 0}},
        {kOfxImagePreMultiplied, {100, 50, 25, 200}, {0, 0, 0, 0}},
        {kOfxImageOpaque, {100, 50, 25, 200}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        Rig rig({0, 0, 100, 40}, {0, 0, 100, 40});
        rig.fx.clip("Source").setPremultiplication(c.state);
        paint(*rig.src, 10, 10, {100, 50, 25, 200});
        paint(*rig.src, 90, 35, {80, 40, 20, 0});
        rig.set("fillColor", {0.5, 0.25, 1, 0.5});
        ASSERT_EQ(rig.renderAll(), kOfxStatOK);
        Px text = rig.out(10, 10);
        for (int ch = 0; ch < 4; ++ch) // float round trips may land one below
            EXPECT_NEAR(text[ch], c.text[ch], 1.0) << ch;
        EXPECT_EQ(rig.out(90, 35), c.outside);
        // Half-alpha fill over nothing: straight keeps the fill colour, premultiplied scales.
        const bool straight = std::string(c.state) == kOfxImageUnPreMultiplied;
        EXPECT_EQ(rig.out(12, 12), straight ? (Px{63, 31, 127, 127}) : (Px{31, 15, 63, 127}));
        rig.checkClean();
    }
}

// A straight pixel with (almost) no alpha has no colour anyone can see: the plate must not
// pick it up, in either arithmetic and at any depth.
TEST(RenderPixels, HiddenColourOfStraightPixelsStaysHidden) {
    struct Case {
        Depth depth;
        double full, hiddenAlpha, visibleAlpha;
    };
    // 0.001 of full scale: 0 in 8 bits, 65 in 16 bits; just above it keeps its colour.
    const Case cases[] = {
        {Depth::Byte, 255, 0, 1}, {Depth::Short, 65535, 65, 66}, {Depth::Float, 1, 0.001, 0.0011}};
    for (const Case& c : cases) {
        for (const char* mode : {"0", "1"}) {
            SCOPED_TRACE(std::to_string(c.full) + " mode " + mode);
            Rig rig({0, 0, 40, 30}, {0, 0, 40, 30}, Components::RGBA, c.depth);
            rig.fx.clip("Source").setPremultiplication(kOfxImageUnPreMultiplied);
            paint(*rig.src, 10, 10, {c.full, c.full, c.full, c.full});
            paint(*rig.src, 12, 12, {c.full, c.full, c.full, c.hiddenAlpha});
            paint(*rig.src, 14, 12, {c.full, c.full, c.full, c.visibleAlpha});
            rig.set("fillColor", {0, 0, 0, 0.5});
            rig.set("compositing", {std::stod(mode)});
            ASSERT_EQ(rig.renderAll(), kOfxStatOK);
            // Half-opaque black over a pixel that is as good as transparent: black.
            const Px hidden = rig.out(12, 12);
            EXPECT_EQ(hidden[0], 0);
            EXPECT_EQ(hidden[1], 0);
            EXPECT_EQ(hidden[2], 0);
            EXPECT_NEAR(hidden[3], c.full / 2, c.full / 200);
            EXPECT_GT(rig.out(14, 12)[0], 0); // the rule stops at 0.001
            rig.checkClean();
        }
    }
}

// The same rule for premultiplied 16-bit and float images in the compatible arithmetic, which
// divides colour by alpha: a pixel with alpha at most 0.001 of full scale gives exactly what
// it would with colour 0, inside a translucent fill and outside the plate alike. (8 bits has
// no alpha that small but 0.)
TEST(RenderPixels, HiddenColourOfPremultipliedPixelsStaysHidden) {
    struct Case {
        Depth depth;
        double full, hiddenAlpha, visibleAlpha;
    };
    const Case cases[] = {{Depth::Short, 65535, 65, 66}, {Depth::Float, 1, 0.001, 0.0011}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.full);
        auto renderWith = [&](double colour, double alpha) {
            Rig rig({0, 0, 60, 30}, {0, 0, 60, 30}, Components::RGBA, c.depth);
            rig.fx.clip("Source").setPremultiplication(kOfxImagePreMultiplied);
            paint(*rig.src, 10, 10, {c.full, c.full, c.full, c.full});
            paint(*rig.src, 12, 12, {colour, colour / 2, colour / 4, alpha}); // in the fill
            paint(*rig.src, 55, 25, {colour, colour / 2, colour / 4, alpha}); // beyond the plate
            rig.set("fillColor", {0.2, 0.4, 0.6, 0.5});
            rig.set("marginX", {5});
            EXPECT_EQ(rig.renderAll(), kOfxStatOK);
            rig.checkClean();
            return rig.dst;
        };
        const double colour = c.hiddenAlpha * 0.9; // a proper premultiplied colour, not 0
        EXPECT_TRUE(sameImage(*renderWith(colour, c.hiddenAlpha), *renderWith(0, c.hiddenAlpha)));
        // Just above 0.001 the colour counts.
        const double seen = c.visibleAlpha * 0.9;
        EXPECT_FALSE(sameImage(*renderWith(seen, c.visibleAlpha), *renderWith(0, c.visibleAlpha)));
    }
}

// Numbers a GUI never sends but a command line or an edited project can: not a number,
// infinities, or values beyond single precision. The frame is copied, not drawn over.
TEST(RenderPixels, NonFiniteParametersCopyTheSource) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const char* distances[] = {"marginX",         "marginY",       "yOffset",
                               "cornerSize",      "strokeWidth",   "detectionThreshold",
                               "innerCornerSize", "minPlateWidth", "minPlateHeight",
                               "shadowOffsetX",   "shadowOffsetY", "shadowSoftness"};
    std::vector<std::pair<const char*, std::vector<double>>> settings;
    for (const char* name : distances)
        for (double bad : {nan, inf, -inf, 1e300})
            settings.push_back({name, {bad}});
    for (const char* name : {"fillColor", "strokeColor", "shadowColor"})
        for (int c = 0; c < 4; ++c) {
            std::vector<double> colour = {0.5, 0.5, 0.5, 1};
            colour[static_cast<size_t>(c)] = c % 2 ? inf : nan;
            settings.push_back({name, colour});
        }
    // The line gap is a distance of the block, line and vertical line layouts.
    for (double bad : {nan, inf, -inf})
        settings.push_back({"lineGap", {bad}});
    for (const auto& [name, values] : settings) {
        const bool gap = std::string(name) == "lineGap";
        for (double mode : {0.0, 1.0})
            for (double layout : gap ? std::vector<double>{1, 2, 3} : std::vector<double>{0}) {
                SCOPED_TRACE(std::string(name) + " " + std::to_string(values[0]) + " mode " +
                             std::to_string(mode) + " layout " + std::to_string(layout));
                Rig rig({0, 0, 40, 30}, {0, 0, 40, 30});
                paint(*rig.src, 10, 10, {200, 100, 50, 255});
                paint(*rig.src, 11, 10, {20, 10, 5, 64});
                paint(*rig.src, 30, 20, {9, 9, 9, 9});
                rig.set("strokeWidth", {2});
                rig.set("compositing", {mode});
                rig.set("plateLayout", {layout});
                rig.set("shadowEnabled", {1}); // the shadow's values count only with it on
                rig.set(name, values);
                ASSERT_EQ(rig.renderAll(), kOfxStatOK);
                EXPECT_TRUE(sameImage(*rig.src, *rig.dst));
                rig.checkClean();
            }
    }
}

TEST(RenderPixels, AllSixFormats) {
    const Depth depths[] = {Depth::Byte, Depth::Short, Depth::Float};
    const double full[] = {255, 65535, 1};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Rig rgba({0, 0, 80, 40}, {0, 0, 80, 40}, Components::RGBA, depths[i]);
        paint(*rgba.src, 10, 10, {full[i], full[i], full[i], full[i]});
        rgba.set("fillColor", {1, 0, 0, 1});
        ASSERT_EQ(rgba.renderAll(), kOfxStatOK);
        EXPECT_EQ(rgba.out(12, 12), (Px{full[i], 0, 0, full[i]}));
        EXPECT_EQ(rgba.out(10, 10), (Px{full[i], full[i], full[i], full[i]}));
        EXPECT_EQ(rgba.out(79, 39), (Px{0, 0, 0, 0}));
        rgba.checkClean();

        // Alpha images are copied whatever the parameters say.
        Rig alpha({0, 0, 40, 30}, {0, 0, 40, 30}, Components::Alpha, depths[i]);
        alpha.src->set(10, 10, 0, full[i]);
        alpha.src->set(3, 3, 0, full[i] / 100);
        alpha.set("strokeWidth", {5});
        ASSERT_EQ(alpha.renderAll(), kOfxStatOK);
        EXPECT_TRUE(sameImage(*alpha.src, *alpha.dst));
        alpha.checkClean();
    }
}

TEST(RenderPixels, OutputOutsideTheWindowIsUntouched) {
    Rig rig({0, 0, 40, 30}, {0, 0, 40, 30});
    paint(*rig.src, 10, 10, {255, 255, 255, 255});
    rig.dst->fill({1, 2, 3, 4});
    ASSERT_EQ(rig.render({5, 5, 5, 15}), kOfxStatOK);
    ASSERT_EQ(rig.render({5, 15, 15, 5}), kOfxStatOK);
    ASSERT_EQ(rig.render({5, 5, 15, 15}), kOfxStatOK);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 5 && x < 15 && y >= 5 && y < 15;
            EXPECT_EQ(rig.out(x, y) == (Px{1, 2, 3, 4}), !inside) << x << "," << y;
        }
    rig.checkClean();
}

TEST(RenderPixels, AbortLeavesLaterRowsUnwritten) {
    Rig rig({0, 0, 10, 8}, {0, 0, 10, 8});
    paint(*rig.src, 5, 5, {255, 255, 255, 255});
    rig.p.host.setNumCPUs(1);
    rig.dst->fill({1, 2, 3, 4});
    int calls = 0;
    rig.p.host.setAbortHook([&](OfxImageEffectHandle) { return ++calls >= 3 ? 1 : 0; });
    ASSERT_EQ(rig.renderAll(), kOfxStatOK);
    EXPECT_GE(rig.p.host.abortCalls(), 3);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(rig.out(2, y) == (Px{1, 2, 3, 4}), y >= 2) << y;
    EXPECT_EQ(rig.out(2, 1), (Px{0, 0, 0, 255}));
    rig.checkClean();
}

// The host answers "abort" once, for one row of one thread's band, and "no" ever after: that
// row alone is left as it was, and every row after it is drawn, in the drawing and in the copy
// of a frame without text, on one thread and on several.
TEST(RenderPixels, AnAbortForOneRowLeavesOnlyThatRow) {
    const OfxRectI frame{0, 0, 24, 12};
    const std::vector<double> sentinel = {1, 2, 3, 4};
    for (unsigned threads : {1u, 3u})
        for (bool text : {true, false})
            for (double mode : {0.0, 1.0}) {
                SCOPED_TRACE(testing::Message()
                             << threads << " threads, text " << text << ", mode " << mode);
                auto scene = [&](Rig& rig) {
                    paintRect(*rig.src, {0, 0, 24, 12}, {3, 3, 3, 3}); // under the threshold
                    if (text)
                        paintRect(*rig.src, {10, 4, 14, 8}, {255, 255, 255, 255});
                    rig.set("marginX", {2});
                    rig.set("marginY", {1});
                    rig.set("strokeWidth", {1.5});
                    rig.set("compositing", {mode});
                    rig.p.host.setNumCPUs(threads);
                    rig.dst->fill(sentinel);
                };
                Rig clean(frame, frame);
                scene(clean);
                ASSERT_EQ(clean.renderAll(), kOfxStatOK);

                Rig rig(frame, frame);
                scene(rig);
                // The third row of the second band (or of the only one); the multi-thread
                // suite says which share asks.
                const unsigned share = threads > 1 ? 1 : 0;
                const int aborted = frame.y1 + static_cast<int>(share * 12 / threads) + 2;
                const auto* suite = static_cast<const OfxMultiThreadSuiteV1*>(
                    rig.p.host.fetchSuite(kOfxMultiThreadSuite, 1));
                ASSERT_NE(suite, nullptr);
                std::mutex mutex;
                std::vector<int> asked(threads, 0);
                rig.p.host.setAbortHook([&](OfxImageEffectHandle) {
                    unsigned index = 0;
                    suite->multiThreadIndex(&index);
                    std::lock_guard<std::mutex> lock(mutex);
                    return index == share && ++asked[index] == 3 ? 1 : 0;
                });
                ASSERT_EQ(rig.renderAll(), kOfxStatOK);
                for (int y = frame.y1; y < frame.y2; ++y)
                    for (int x = frame.x1; x < frame.x2; ++x)
                        ASSERT_EQ(rig.out(x, y), (y == aborted ? Px{1, 2, 3, 4} : clean.out(x, y)))
                            << x << "," << y;
                EXPECT_NE(clean.out(11, aborted), (Px{1, 2, 3, 4})); // the row is drawn normally
                rig.checkClean();
            }
}

// An image whose rows lie a mebibyte apart, 2,200 rows tall: rows past the 2,048th start more
// than 2^31 bytes from the first, in either row order. The plate and the text land on the right
// rows of the far end, in a window there, in every depth.
TEST(RenderPixels, RowsBeyondTwoGibibytesAreAddressedRight) {
    const OfxRectI bounds{0, 0, 4, 2200};
    for (ofxhost::RowOrder order : {ofxhost::RowOrder::BottomUp, ofxhost::RowOrder::TopDown})
        for (Depth depth : {Depth::Byte, Depth::Float}) {
            SCOPED_TRACE(testing::Message() << "order " << static_cast<int>(order) << " depth "
                                            << static_cast<int>(depth));
            const double full = depth == Depth::Byte ? 255 : 1;
            const int pixelBytes = 4 * (depth == Depth::Byte ? 1 : 4);
            auto tall = [&] {
                return std::make_shared<Image>(bounds, Components::RGBA, depth, order,
                                               (1 << 20) - 4 * pixelBytes,
                                               ofxhost::Allocation::Sparse);
            };
            for (double mode : {0.0, 1.0}) {
                Rig rig(bounds, bounds, Components::RGBA, depth);
                rig.src = tall();
                rig.dst = tall();
                rig.fx.clip("Source").setImage(rig.src);
                rig.fx.clip("Output").setImage(rig.dst);
                paint(*rig.src, 1, 2190, {full, 0, full, full});
                rig.set("marginX", {0});
                rig.set("marginY", {2});
                rig.set("compositing", {mode});
                const OfxRectI window{0, 2150, 4, 2200};
                for (int y = 2140; y < 2200; ++y)
                    paint(*rig.dst, 3, y, {9, 9, 9, 9});
                ASSERT_EQ(rig.render(window), kOfxStatOK);
                EXPECT_EQ(rig.out(1, 2190), (Px{full, 0, full, full}));
                for (int y : {2188, 2189, 2191, 2192})
                    EXPECT_EQ(rig.out(1, y), (Px{0, 0, 0, full})) << y;
                for (int y : {2187, 2193})
                    EXPECT_EQ(rig.out(1, y), (Px{0, 0, 0, 0})) << y;
                EXPECT_EQ(rig.out(0, 2190), (Px{0, 0, 0, 0}));
                EXPECT_EQ(rig.out(3, 2150), (Px{0, 0, 0, 0})); // in the window
                EXPECT_EQ(rig.out(3, 2149), (Px{9, 9, 9, 9})); // below it
                rig.checkClean();
            }
        }
}

// Every image the effect fetched goes back to the host on every way out of a render: a
// refusal, a host call that fails half-way, an abort, a render with no destination.
TEST(RenderPixels, EveryWayOutOfARenderGivesBackTheImages) {
    struct Path {
        const char* what;
        std::function<void(Rig&)> arrange;
        OfxStatus status;
        int fetched; ///< images the effect fetches on this path
    };
    const Path paths[] = {
        {"no destination image", [](Rig& rig) { rig.fx.clip("Output").clearImages(); }, kOfxStatOK,
         1},
        {"unsupported depth",
         [](Rig& rig) {
             rig.fx.clip("Output").props().setString(kOfxImageEffectPropPixelDepth,
                                                     "OfxBitDepthHalf");
         },
         kOfxStatErrUnsupported, 0},
        {"destination smaller than the window",
         [](Rig& rig) {
             rig.dst = rig.p.host.makeImage({0, 0, 19, 10}, Components::RGBA, Depth::Byte);
             rig.fx.clip("Output").setImage(rig.dst);
         },
         kOfxStatErrImageFormat, 2},
        {"source of another depth",
         [](Rig& rig) {
             rig.src = rig.p.host.makeImage({0, 0, 20, 10}, Components::RGBA, Depth::Short);
             rig.fx.clip("Source").setImage(rig.src);
         },
         kOfxStatErrFormat, 2},
        {"abort on every row",
         [](Rig& rig) { rig.p.host.setAbortHook([](OfxImageEffectHandle) { return 1; }); },
         kOfxStatOK, 2},
        {"parameter read fails after the fetch",
         [](Rig& rig) {
             rig.p.host.faults().failFunction("paramGetValueAtTime", kOfxStatErrUnknown);
         },
         kOfxStatErrUnknown, 2},
        {"threads refused",
         [](Rig& rig) { rig.p.host.faults().failFunction("multiThread", kOfxStatErrMemory); },
         kOfxStatErrMemory, 2},
        {"second image refused",
         [](Rig& rig) { rig.p.host.faults().failFunction("clipGetImage", kOfxStatErrMemory, 1); },
         kOfxStatErrMemory, 1},
    };
    for (const Path& path : paths)
        for (double layout : {0.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << path.what << ", layout " << layout);
            Rig rig({0, 0, 20, 10}, {0, 0, 20, 10});
            paint(*rig.src, 5, 5, {255, 255, 255, 255});
            rig.set("plateLayout", {layout});
            rig.p.host.setNumCPUs(3);
            path.arrange(rig);
            EXPECT_EQ(rig.render({0, 0, 20, 10}), path.status);
            EXPECT_EQ(rig.p.host.imagesFetched(), path.fetched);
            EXPECT_EQ(rig.p.host.imagesReleased(), path.fetched);
            EXPECT_TRUE(rig.p.host.misuse().empty());
        }
}

// MLT's habits: straight 8-bit RGBA in top-down rows, a new instance for every frame and a
// sequence around each render.
TEST(RenderPixels, MltLikeSession) {
    LoadedPlugin p{bundleUnderTest()};
    p.host.setFlavour(ofxhost::Flavour::MltLike);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    for (double frame : {0.0, 1.0, 2.0}) {
        SCOPED_TRACE(frame);
        ofxhost::InstanceResult created = p.session.createInstance(kFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        ofxhost::Effect& fx = *created.instance;
        auto src = p.host.makeImage({0, 0, 64, 36}, Components::RGBA, Depth::Byte);
        auto dst = p.host.makeImage({0, 0, 64, 36}, Components::RGBA, Depth::Byte);
        ASSERT_EQ(src->order(), ofxhost::RowOrder::TopDown);
        paint(*src, 20 + static_cast<int>(frame), 18, {200, 100, 50, 255});
        fx.clip("Source").setImage(src);
        fx.clip("Output").setImage(dst);
        ASSERT_EQ(p.session.beginSequenceRender(fx, {frame, frame}), kOfxStatReplyDefault);
        ASSERT_EQ(p.session.render(fx, frame, {0, 0, 64, 36}), kOfxStatOK);
        ASSERT_EQ(p.session.endSequenceRender(fx, {frame, frame}), kOfxStatReplyDefault);
        const int textX = 20 + static_cast<int>(frame);
        EXPECT_EQ(Rig::pixel(*dst, textX, 18), (Px{200, 100, 50, 255}));
        EXPECT_EQ(Rig::pixel(*dst, textX - 19, 18), (Px{0, 0, 0, 255}));
        EXPECT_EQ(Rig::pixel(*dst, textX, 0), (Px{0, 0, 0, 255}));
        EXPECT_EQ(Rig::pixel(*dst, textX + 41, 18), (Px{0, 0, 0, 0}));
        EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);
        EXPECT_TRUE(p.host.allImagesReleased());
        EXPECT_TRUE(dst->guardsIntact());
    }
}

} // namespace
