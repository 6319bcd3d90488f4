// Vertical lines (plateLayout 列) and rounded inner corners (innerCornerSize) through the whole
// module: which pixels the plates of vertical lines cover, the fillets of joined line plates
// where the plate reaches past its rectangles, and the render scale of both distances.
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

constexpr double kBlocks = 1, kLines = 2, kColumns = 3;

/// One render of the whole frame through a fresh instance: an opaque red fill, no outline,
/// unless the settings say otherwise.
std::shared_ptr<Image> render(const std::shared_ptr<Image>& source, const Settings& settings,
                              OfxPointD scale = {1, 1}) {
    nimbra_test::LoadedPlugin p{bundleUnderTest()};
    ofxhost::Effect& fx = p.instantiate();
    const OfxRectI bounds = source->bounds();
    auto out = p.host.makeImage(bounds, Components::RGBA, Depth::Byte);
    for (const char* clip : {"Source", "Output"})
        fx.clip(clip).setFormat(Components::RGBA, Depth::Byte);
    fx.clip("Source").setImage(source);
    fx.clip("Output").setImage(out);
    fx.param("fillColor").setValue({1, 0, 0, 1});
    fx.param("strokeWidth").setValue({0});
    for (const auto& [name, values] : settings)
        fx.param(name).setValue(values);
    EXPECT_EQ(p.session.render(fx, 0, bounds, scale), kOfxStatOK);
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(out->guardsIntact());
    return out;
}

Px at(const Image& image, int x, int y) {
    return {image.get(x, y, 0), image.get(x, y, 1), image.get(x, y, 2), image.get(x, y, 3)};
}

bool filled(const Image& image, int x, int y) { return at(image, x, y) == Px{255, 0, 0, 255}; }
bool bare(const Image& image, int x, int y) { return at(image, x, y) == Px{0, 0, 0, 0}; }

/// Where two images differ, as "x,y"; empty when they agree on every pixel.
std::string firstDifference(const Image& a, const Image& b) {
    const OfxRectI r = a.bounds();
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x)
            if (at(a, x, y) != at(b, x, y))
                return std::to_string(x) + "," + std::to_string(y);
    return "";
}

// Two vertical lines of one block, a tall one and a shorter one, 11 empty columns apart. With
// marginX 2.75 (5.5 a side) the block holds both, and the line plates (columns 34.5 to 64.5
// and 65.5 to 95.5) meet across a seam of one column, which is closed: one plate, whose
// column 65 is filled. Beside the shorter line, above and below its plate, nothing is drawn,
// where the block's plate would be.
TEST(VerticalLines, EachLineGetsItsOwnHeightAndTouchingPlatesJoin) {
    const auto source = textFrame({0, 0, 160, 200}, {{40, 20, 60, 180}, {71, 60, 91, 140}});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings common = {
            {"compositing", {mode}}, {"marginX", {2.75}}, {"marginY", {4}}, {"lineGap", {8}}};
        Settings columns = common;
        columns.push_back({"plateLayout", {kColumns}});
        const auto out = render(source, columns);
        EXPECT_TRUE(filled(*out, 36, 17)); // the tall line's plate, below its text
        EXPECT_TRUE(filled(*out, 62, 182));
        EXPECT_TRUE(filled(*out, 65, 100)); // the closed seam
        EXPECT_TRUE(filled(*out, 94, 57));  // the shorter line's plate, around its text
        EXPECT_TRUE(filled(*out, 94, 142));
        EXPECT_TRUE(bare(*out, 80, 170)); // beside the shorter line, above its plate
        EXPECT_TRUE(bare(*out, 80, 30));
        EXPECT_TRUE(bare(*out, 33, 100)); // left of the tall line's plate
        EXPECT_TRUE(bare(*out, 97, 100));
        EXPECT_EQ(at(*out, 50, 100), (Px{255, 255, 255, 255})); // text

        Settings blocks = common;
        blocks.push_back({"plateLayout", {kBlocks}});
        EXPECT_TRUE(filled(*render(source, blocks), 80, 170));
        // A gap wider than the lines' own: one vertical line, the block's plate.
        columns.push_back({"lineGap", {12}});
        EXPECT_EQ(firstDifference(*render(source, columns), *render(source, blocks)), "");
    }
}

// A narrow line on a wide one, their plates joined (rectangles 30..209 × 25..55 and
// 70..169 × 55..104, margins 5). innerCornerSize 16 fills the concave corners with fillets
// centred at (54, 71) and (185, 71): pixels above the wide rectangle and beside the narrow
// one, further from both than the outline reaches, are drawn all the same.
TEST(InnerCorners, FilletsFillTheConcaveCornersOfJoinedLines) {
    const auto source = textFrame({0, 0, 240, 140}, {{40, 30, 200, 50}, {80, 60, 160, 100}});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings lines = {{"compositing", {mode}},
                                {"marginX", {5}},
                                {"marginY", {5}},
                                {"lineGap", {8}},
                                {"plateLayout", {kLines}}};
        Settings rounded = lines;
        rounded.push_back({"innerCornerSize", {16}});
        const auto square = render(source, lines);
        const auto out = render(source, rounded);
        for (const auto& [x, y] : std::vector<std::pair<int, int>>{{66, 59}, {64, 58}, {68, 57}}) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            EXPECT_TRUE(bare(*square, x, y));
            EXPECT_TRUE(filled(*out, x, y));
            EXPECT_TRUE(bare(*square, 239 - x, y)); // the mirror image, right of the narrow line
            EXPECT_TRUE(filled(*out, 239 - x, y));
        }
        // Between the arc and its centre the corner stays empty.
        EXPECT_TRUE(bare(*out, 60, 63));
        EXPECT_TRUE(bare(*out, 179, 63));
        // The convex corners are not rounded by the inner corner size.
        EXPECT_TRUE(filled(*out, 30, 25));
        EXPECT_TRUE(filled(*out, 70, 104));
    }
}

// The accurate mode takes distances in full-size pixels: at half scale the inner corner
// radius is halved like the margins, and the gap between vertical lines follows the
// horizontal scale alone.
TEST(InnerCorners, RenderScaleAppliesToInnerCornersAndTheGapBetweenVerticalLines) {
    const auto lines = textFrame({0, 0, 240, 140}, {{40, 30, 200, 50}, {80, 60, 160, 100}});
    const auto atHalf = render(lines,
                               {{"compositing", {1}},
                                {"marginX", {10}},
                                {"marginY", {10}},
                                {"lineGap", {16}},
                                {"plateLayout", {kLines}},
                                {"innerCornerSize", {32}}},
                               {0.5, 0.5});
    const auto atFull = render(lines, {{"compositing", {1}},
                                       {"marginX", {5}},
                                       {"marginY", {5}},
                                       {"lineGap", {8}},
                                       {"plateLayout", {kLines}},
                                       {"innerCornerSize", {16}}});
    EXPECT_EQ(firstDifference(*atHalf, *atFull), "");

    // Vertical lines 11 columns apart at a horizontal scale of 1 and a vertical one of 0.5:
    // a gap of 16 keeps them one line (at 8 they would split).
    const auto columns = textFrame({0, 0, 160, 200}, {{40, 20, 60, 180}, {71, 60, 91, 140}});
    const auto squeezed = render(columns,
                                 {{"compositing", {1}},
                                  {"marginX", {2.75}},
                                  {"marginY", {8}},
                                  {"lineGap", {16}},
                                  {"plateLayout", {kColumns}}},
                                 {1, 0.5});
    const auto unscaled = render(columns, {{"compositing", {1}},
                                           {"marginX", {2.75}},
                                           {"marginY", {4}},
                                           {"lineGap", {16}},
                                           {"plateLayout", {kColumns}}});
    EXPECT_TRUE(filled(*unscaled, 80, 170));
    EXPECT_EQ(firstDifference(*squeezed, *unscaled), "");
}

} // namespace
