// The shadow under the plates and the plates' least size, through the built module.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using ofxhost::Components;
using ofxhost::Depth;
using ofxhost::Image;
using Px = std::array<double, 4>;
using Settings = std::vector<std::pair<const char*, std::vector<double>>>;

using nimbra_test::bundleUnderTest;
using nimbra_test::textFrame;

struct How {
    unsigned threads = 2;
    std::vector<OfxRectI> tiles; ///< empty: the whole frame at once
    OfxPointD renderScale{1, 1};
};

std::shared_ptr<Image> render(const std::shared_ptr<Image>& source, const Settings& settings,
                              const How& how = {}) {
    nimbra_test::LoadedPlugin p{bundleUnderTest()};
    ofxhost::Effect& fx = p.instantiate();
    auto out =
        std::make_shared<Image>(source->bounds(), Components::RGBA, Depth::Byte, source->order());
    for (const char* clip : {"Source", "Output"})
        fx.clip(clip).setFormat(Components::RGBA, Depth::Byte);
    fx.clip("Source").setImage(source);
    fx.clip("Output").setImage(out);
    for (const auto& [name, values] : settings)
        fx.param(name).setValue(values);
    p.host.setNumCPUs(how.threads);
    if (how.tiles.empty()) {
        EXPECT_EQ(p.session.render(fx, 0, source->bounds(), how.renderScale), kOfxStatOK);
    } else {
        for (const OfxRectI& tile : how.tiles)
            EXPECT_EQ(p.session.render(fx, 0, tile), kOfxStatOK);
    }
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(out->guardsIntact());
    return out;
}

Px at(const Image& image, int x, int y) {
    return {image.get(x, y, 0), image.get(x, y, 1), image.get(x, y, 2), image.get(x, y, 3)};
}

bool same(const Image& a, const Image& b) {
    for (int y = a.bounds().y1; y < a.bounds().y2; ++y)
        for (int x = a.bounds().x1; x < a.bounds().x2; ++x)
            if (at(a, x, y) != at(b, x, y))
                return false;
    return true;
}

Settings with(Settings s, const Settings& more) {
    s.insert(s.end(), more.begin(), more.end());
    return s;
}

// Text 40..79 × 60..79 in a 160 × 140 frame; margins 10 and 5: the plate is 20..99 × 55..84.
const OfxRectI kFrame{0, 0, 160, 140};
const OfxRectI kText{40, 60, 80, 80};
const Settings kPlate = {{"marginX", {10}}, {"marginY", {5}}};
const Settings kHardShadow = {{"shadowEnabled", {1}},
                              {"shadowOffsetX", {8}},
                              {"shadowOffsetY", {8}},
                              {"shadowSoftness", {0}},
                              {"shadowColor", {0, 0, 0, 1}}};

// 8 right and 8 down on screen: down is towards lower rows in the image's own coordinates,
// whichever order its rows lie in memory.
TEST(Shadow, LiesRightAndDownOnScreenInEitherRowOrder) {
    for (auto order : {ofxhost::RowOrder::BottomUp, ofxhost::RowOrder::TopDown})
        for (double mode : {0.0, 1.0}) {
            SCOPED_TRACE(testing::Message()
                         << "order " << static_cast<int>(order) << " mode " << mode);
            const auto out = render(textFrame(kFrame, {kText}, Depth::Byte, order),
                                    with(with(kPlate, kHardShadow), {{"compositing", {mode}}}));
            // The shadow is the plate moved: 28..107 × 47..76.
            EXPECT_EQ(at(*out, 104, 50), (Px{0, 0, 0, 255})); // right of the plate, below it
            EXPECT_EQ(at(*out, 107, 47), (Px{0, 0, 0, 255}));
            EXPECT_EQ(at(*out, 108, 50)[3], 0);
            EXPECT_EQ(at(*out, 104, 46)[3], 0);
            EXPECT_EQ(at(*out, 15, 80)[3], 0); // no shadow left of the plate, nor above it
            EXPECT_EQ(at(*out, 60, 88)[3], 0);
        }
}

// The plate's shape knocks its shadow out: under a translucent plate the result is the same as
// without a shadow; beside it the shadow shows.
TEST(Shadow, NoShadowUnderATranslucentPlate) {
    const auto source = textFrame(kFrame, {kText});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings translucent = with(kPlate, {{"fillColor", {0.2, 0.4, 0.8, 0.5}},
                                                   {"compositing", {mode}},
                                                   {"strokeWidth", {2}},
                                                   {"cornerSize", {6}}});
        const auto plain = render(source, translucent);
        const auto shadowed = render(source, with(translucent, {{"shadowEnabled", {1}}}));
        for (int y = 59; y < 81; ++y) // well inside the plate, outline and corners aside
            for (int x = 28; x < 92; ++x)
                ASSERT_EQ(at(*shadowed, x, y), at(*plain, x, y)) << x << "," << y;
        EXPECT_GT(at(*shadowed, 106, 50)[3], at(*plain, 106, 50)[3]);
    }
}

// The compatible arithmetic inside the plate and its outline is what it was; outside, the
// source over the shadow.
TEST(Shadow, CompatibleArithmeticUnchangedInsideThePlate) {
    const auto source = textFrame(kFrame, {kText, {130, 20, 133, 23}});
    const Settings s = with(kPlate, {{"strokeWidth", {2.5}}, {"cornerSize", {8}}});
    const auto plain = render(source, s);
    const auto shadowed = render(source, with(s, {{"shadowEnabled", {1}}}));
    int inside = 0, darker = 0;
    for (int y = 0; y < 140; ++y)
        for (int x = 0; x < 160; ++x) {
            // The plate and its outline: a pixel the render without shadow changed, or text.
            const bool plate = at(*plain, x, y)[3] != 0;
            if (plate) {
                ++inside;
                ASSERT_EQ(at(*shadowed, x, y), at(*plain, x, y)) << x << "," << y;
            } else {
                darker += at(*shadowed, x, y)[3] > 0;
            }
        }
    EXPECT_GT(inside, 2000);
    EXPECT_GT(darker, 500);
}

// Two blocks whose shadows overlap: there each pixel has the stronger of the two shadows, not
// their sum.
TEST(Shadow, OverlappingShadowsTakeTheStronger) {
    const OfxRectI left{40, 60, 60, 80}, right{80, 60, 100, 80};
    for (double softness : {14.0, 40.0})
        for (double mode : {0.0, 1.0}) {
            SCOPED_TRACE(testing::Message() << softness << " " << mode);
            const Settings s = {{"plateLayout", {1}},
                                {"marginX", {2}},
                                {"marginY", {2}},
                                {"shadowEnabled", {1}},
                                {"shadowSoftness", {softness}},
                                {"shadowOffsetX", {0}},
                                {"shadowOffsetY", {0}},
                                {"shadowColor", {0, 0, 0, 1}},
                                {"compositing", {mode}}};
            const auto both = render(textFrame(kFrame, {left, right}), s);
            const auto one = render(textFrame(kFrame, {left}), s);
            const auto other = render(textFrame(kFrame, {right}), s);
            int shared = 0;
            for (int y = 30; y < 110; ++y)
                for (int x = 65; x < 75; ++x) { // between the plates
                    const double a = at(*one, x, y)[3], b = at(*other, x, y)[3];
                    ASSERT_EQ(at(*both, x, y)[3], std::max(a, b)) << x << "," << y;
                    shared += a > 8 && b > 8;
                }
            EXPECT_GT(shared, 100);
        }
}

// With the shadow off, its other settings change nothing: the frame is today's.
TEST(Shadow, OffLeavesTheRenderAsItWas) {
    const auto source = textFrame(kFrame, {kText});
    for (double mode : {0.0, 1.0}) {
        const Settings s = with(kPlate, {{"compositing", {mode}}, {"strokeWidth", {2}}});
        const auto plain = render(source, s);
        const auto off = render(source, with(s, {{"shadowColor", {1, 0, 0, 1}},
                                                 {"shadowOffsetX", {-20}},
                                                 {"shadowSoftness", {50}}}));
        EXPECT_TRUE(same(*plain, *off)) << mode;
        EXPECT_FALSE(same(*plain, *render(source, with(s, {{"shadowEnabled", {1}}})))) << mode;
    }
}

TEST(Shadow, TilesAndThreadCountsGiveTheSamePixels) {
    const auto source = textFrame(kFrame, {kText, {120, 100, 140, 110}});
    const std::vector<OfxRectI> tiles = {
        {0, 0, 80, 70}, {80, 0, 160, 70}, {0, 70, 80, 140}, {80, 70, 160, 140}};
    for (double mode : {0.0, 1.0})
        for (double softness : {0.0, 6.0, 90.0}) {
            SCOPED_TRACE(testing::Message() << mode << " " << softness);
            const Settings s = with(kPlate, {{"compositing", {mode}},
                                             {"plateLayout", {1}},
                                             {"shadowEnabled", {1}},
                                             {"shadowSoftness", {softness}},
                                             {"shadowOffsetX", {-5.5}}});
            const auto one = render(source, s, {1, {}});
            for (unsigned threads : {2u, 8u})
                EXPECT_TRUE(same(*one, *render(source, s, {threads, {}}))) << threads;
            EXPECT_TRUE(same(*one, *render(source, s, {3, tiles})));
        }
}

// In the accurate mode the shadow's offsets and the least sizes are pixels of the full-size
// image: at a render scale of ½ across and ¼ up, a horizontal offset of 16 is 8 pixels, a
// vertical one of 16 is 4, a least width of 200 is 100 and a least height of 120 is 30.
TEST(Shadow, OffsetsAndLeastSizesFollowTheRenderScale) {
    const Settings s = {{"compositing", {1}},      {"marginX", {0}},
                        {"marginY", {0}},          {"minPlateWidth", {200}},
                        {"minPlateHeight", {120}}, {"shadowEnabled", {1}},
                        {"shadowOffsetX", {16}},   {"shadowOffsetY", {16}},
                        {"shadowSoftness", {0}},   {"shadowColor", {1, 0, 0, 1}}};
    How scaled;
    scaled.renderScale = {0.5, 0.25};
    const auto out = render(textFrame(kFrame, {{70, 60, 90, 80}}), s, scaled);
    // The plate: 100 × 30 about the text's centre (79.5, 69.5): 30..129 × 55..84.
    EXPECT_EQ(at(*out, 30, 70), (Px{0, 0, 0, 255}));
    EXPECT_EQ(at(*out, 129, 55), (Px{0, 0, 0, 255}));
    EXPECT_EQ(at(*out, 29, 70)[3], 0);
    EXPECT_EQ(at(*out, 130, 70)[0], 255); // the shadow beside it: 8 right
    EXPECT_EQ(at(*out, 137, 60)[0], 255);
    EXPECT_EQ(at(*out, 138, 60)[3], 0);
    EXPECT_EQ(at(*out, 80, 51)[0], 255); // and 4 down
    EXPECT_EQ(at(*out, 80, 50)[3], 0);
}

/// The columns and rows where the output differs from transparency.
OfxRectI covered(const Image& out) {
    OfxRectI r{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = out.bounds().y1; y < out.bounds().y2; ++y)
        for (int x = out.bounds().x1; x < out.bounds().x2; ++x)
            if (at(out, x, y)[3] != 0) {
                r.x1 = std::min(r.x1, x), r.y1 = std::min(r.y1, y);
                r.x2 = std::max(r.x2, x + 1), r.y2 = std::max(r.y2, y + 1);
            }
    return r;
}

// Every plate of every layout grows about its centre to the least size; plates already larger
// keep theirs; lines that then touch join as lines do.
TEST(LeastSize, EveryLayoutGrowsItsPlatesAboutTheirCentres) {
    const Settings least = {
        {"marginX", {0}}, {"marginY", {0}}, {"minPlateWidth", {100}}, {"minPlateHeight", {30}}};
    for (double mode : {0.0, 1.0})
        for (double layout : {0.0, 1.0, 2.0, 3.0}) {
            SCOPED_TRACE(testing::Message() << mode << " " << layout);
            const auto out =
                render(textFrame({0, 0, 240, 160}, {{60, 70, 80, 80}}),
                       with(least, {{"compositing", {mode}}, {"plateLayout", {layout}}}));
            // The text's 20 × 10 pixels, centred at 69.5, 74.5: 100 × 30 about that.
            const OfxRectI r = covered(*out);
            EXPECT_EQ(r.x1, 20);
            EXPECT_EQ(r.x2, 120);
            EXPECT_EQ(r.y1, 60);
            EXPECT_EQ(r.y2, 90);
        }
    // Two lines 20 rows apart, 10 rows tall: with a least height of 30 their plates touch, and
    // are one shape (nothing between them) in the 行 layout.
    const auto lines = render(textFrame({0, 0, 240, 160}, {{40, 40, 200, 50}, {80, 70, 160, 80}}),
                              with(least, {{"plateLayout", {2}}, {"lineGap", {4}}}));
    for (int y = 50; y < 70; ++y)
        EXPECT_EQ(at(*lines, 120, y), (Px{0, 0, 0, 255})) << y;
    EXPECT_EQ(at(*lines, 60, 72)[3], 0); // beside the shorter line
    // A plate larger than the least keeps its size.
    const auto large = render(textFrame({0, 0, 240, 160}, {{20, 20, 220, 140}}), least);
    EXPECT_EQ(covered(*large).x1, 20);
    EXPECT_EQ(covered(*large).y2, 140);
}

// Hosts pass values beyond the ranges (MLT does, from a project file): a blur far wider than
// the frame, or an offset far beyond it, leaves the frame as it is without a shadow, and the
// render neither runs out of memory nor leaves the arithmetic's range.
TEST(Shadow, ValuesFarBeyondTheRangesLeaveNoShadowOnTheFrame) {
    const auto source = textFrame(kFrame, {kText});
    const auto plain = render(source, kPlate);
    const std::pair<const char*, std::vector<double>> extremes[] = {
        {"shadowSoftness", {1e9, 1e30}},
        {"shadowOffsetX", {1e9, 1e30, -1e30}},
        {"shadowOffsetY", {1e9, 1e30, -1e30}}};
    for (const auto& [name, values] : extremes)
        for (double v : values) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(v));
            const Settings s = with(kPlate, {{"shadowEnabled", {1}},
                                             {"shadowColor", {0, 0, 0, 1}},
                                             {"shadowSoftness", {0}},
                                             {name, {v}}});
            EXPECT_TRUE(same(*plain, *render(source, s)));
        }
}

} // namespace
