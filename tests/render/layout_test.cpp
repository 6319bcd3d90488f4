// Plates per block and per line, on frames built up from rectangles of text: what gets a plate,
// where the plates stop, and the shape of touching line plates.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <random>
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

constexpr double kWhole = 0, kBlocks = 1, kLines = 2, kColumns = 3;
const Depth kDepths[] = {Depth::Byte, Depth::Short, Depth::Float};

double fullScale(Depth depth) {
    return depth == Depth::Byte ? 255 : depth == Depth::Short ? 65535 : 1;
}

struct Render {
    unsigned threads = 1;
    std::vector<OfxRectI> tiles; ///< empty: the whole frame at once
};

/// Renders the frame through a fresh instance of the module in `bundle`.
std::shared_ptr<Image> renderWith(const std::string& bundle, const std::shared_ptr<Image>& source,
                                  const Settings& settings, const Render& how = {}) {
    nimbra_test::LoadedPlugin p{bundle};
    ofxhost::Effect& fx = p.instantiate();
    const OfxRectI bounds = source->bounds();
    auto out = p.host.makeImage(bounds, Components::RGBA, source->depth());
    for (const char* clip : {"Source", "Output"})
        fx.clip(clip).setFormat(Components::RGBA, source->depth());
    fx.clip("Source").setImage(source);
    fx.clip("Output").setImage(out);
    for (const auto& [name, values] : settings)
        fx.param(name).setValue(values);
    p.host.setNumCPUs(how.threads);
    if (how.tiles.empty()) {
        EXPECT_EQ(p.session.render(fx, 0, bounds), kOfxStatOK);
    } else {
        for (const OfxRectI& tile : how.tiles)
            EXPECT_EQ(p.session.render(fx, 0, tile), kOfxStatOK);
    }
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(out->guardsIntact());
    return out;
}

/// Renders the frame through a fresh instance of the module under test.
std::shared_ptr<Image> render(const std::shared_ptr<Image>& source, const Settings& settings,
                              const Render& how = {}) {
    return renderWith(bundleUnderTest(), source, settings, how);
}

Px at(const Image& image, int x, int y) {
    return {image.get(x, y, 0), image.get(x, y, 1), image.get(x, y, 2), image.get(x, y, 3)};
}

bool same(const Image& a, const Image& b) {
    const OfxRectI r = a.bounds();
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x)
            if (at(a, x, y) != at(b, x, y))
                return false;
    return true;
}

/// Groups of touching (side by side) pixels that something covers: the plates, as seen.
int plateCount(const Image& out) {
    const OfxRectI r = out.bounds();
    const int w = r.x2 - r.x1, h = r.y2 - r.y1;
    std::vector<char> seen(static_cast<size_t>(w * h), 0);
    int count = 0;
    std::vector<std::pair<int, int>> stack;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (seen[static_cast<size_t>(y * w + x)] || out.get(x + r.x1, y + r.y1, 3) == 0)
                continue;
            ++count;
            stack.push_back({x, y});
            seen[static_cast<size_t>(y * w + x)] = 1;
            while (!stack.empty()) {
                const auto [px, py] = stack.back();
                stack.pop_back();
                const int next[4][2] = {{px + 1, py}, {px - 1, py}, {px, py + 1}, {px, py - 1}};
                for (const auto& n : next) {
                    if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h)
                        continue;
                    const size_t i = static_cast<size_t>(n[1] * w + n[0]);
                    if (!seen[i] && out.get(n[0] + r.x1, n[1] + r.y1, 3) != 0) {
                        seen[i] = 1;
                        stack.push_back({n[0], n[1]});
                    }
                }
            }
        }
    return count;
}

// A logo in the top-right corner and a subtitle at the bottom of a 400×240 frame.
const OfxRectI kFrame{0, 0, 400, 240};
const OfxRectI kLogo{340, 200, 380, 220};
const OfxRectI kSubtitle{60, 30, 300, 70};

TEST(PlateLayouts, LogoAndSubtitleGetTwoPlatesAndNothingBetween) {
    const auto source = textFrame(kFrame, {kLogo, kSubtitle});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const auto whole = render(source, {{"compositing", {mode}}});
        EXPECT_EQ(plateCount(*whole), 1);
        EXPECT_EQ(at(*whole, 200, 150), (Px{0, 0, 0, 255})); // the one plate covers the middle

        for (double layout : {kBlocks, kLines}) {
            SCOPED_TRACE(layout);
            const auto out = render(source, {{"compositing", {mode}}, {"plateLayout", {layout}}});
            EXPECT_EQ(plateCount(*out), 2);
            // Each plate is the single plate of its own text: margins 40 and 20.
            EXPECT_EQ(at(*out, 300, 210), (Px{0, 0, 0, 255}));
            EXPECT_EQ(at(*out, 299, 210)[3], 0);
            EXPECT_EQ(at(*out, 200, 89), (Px{0, 0, 0, 255}));
            EXPECT_EQ(at(*out, 200, 90)[3], 0);
            // Between the plates, every pixel is the source's.
            for (int y = 90; y < 180; ++y)
                for (int x = 0; x < 400; ++x)
                    ASSERT_EQ(at(*out, x, y), (Px{0, 0, 0, 0})) << x << "," << y;
        }
    }
}

// Two subtitle lines 40 px tall with 24 rows between them: two lines at the default
// settings, whose plates (margins 20) overlap and so form one shape.
const OfxRectI kWideLine{60, 40, 300, 80};
const OfxRectI kNarrowLine{140, 104, 220, 144};

TEST(PlateLayouts, TouchingLinesFitTheirWidthsAndShareOneOutline) {
    const auto source = textFrame({0, 0, 360, 200}, {kWideLine, kNarrowLine});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings settings = {{"compositing", {mode}}, {"strokeWidth", {2}}};
        Settings lines = settings;
        lines.push_back({"plateLayout", {kLines}});
        const auto out = render(source, lines);
        const Px fill{0, 0, 0, 255}, outline{255, 255, 255, 255}, nothing{0, 0, 0, 0};
        EXPECT_EQ(plateCount(*out), 1);
        // The plates: wide [20, 339] × [20, 99], narrow [100, 259] × [84, 163].
        EXPECT_EQ(at(*out, 60, 140), nothing) << "beside the narrow line";
        EXPECT_EQ(at(*out, 40, 60), fill);
        EXPECT_EQ(at(*out, 97, 140), nothing);
        EXPECT_EQ(at(*out, 100, 140), outline);
        EXPECT_EQ(at(*out, 102, 140), fill);
        // No outline where the plates overlap or meet: across the seam, fill only.
        for (int y = 80; y < 104; ++y)
            for (int x = 103; x < 257; ++x)
                ASSERT_EQ(at(*out, x, y), fill) << x << "," << y;
        // The outline runs all round the joined shape: every pixel on the union's edge.
        auto inUnion = [](int x, int y) {
            return (x >= 20 && x <= 339 && y >= 20 && y <= 99) ||
                   (x >= 100 && x <= 259 && y >= 84 && y <= 163);
        };
        int edge = 0;
        for (int y = 20; y <= 163; ++y)
            for (int x = 20; x <= 339; ++x) {
                if (!inUnion(x, y) || (inUnion(x - 1, y) && inUnion(x + 1, y) &&
                                       inUnion(x, y - 1) && inUnion(x, y + 1)))
                    continue;
                ++edge;
                ASSERT_EQ(at(*out, x, y), outline) << x << "," << y;
            }
        EXPECT_GT(edge, 800);

        // The same text as a block: one rectangle, filled beside the narrow line.
        Settings blocks = settings;
        blocks.push_back({"plateLayout", {kBlocks}});
        EXPECT_EQ(at(*render(source, blocks), 60, 140), fill);

        // lineGap is the least number of empty rows that parts lines: 24 parts these, 25 not.
        Settings gap24 = lines, gap25 = lines;
        gap24.push_back({"lineGap", {24}});
        gap25.push_back({"lineGap", {25}});
        EXPECT_EQ(at(*render(source, gap24), 60, 140), nothing);
        EXPECT_EQ(at(*render(source, gap25), 60, 140), fill);
    }
}

// Line plates that only just meet (the narrow one starts on the row above the wide one's top)
// are one shape too: no outline along the row where they meet.
TEST(PlateLayouts, LinePlatesThatJustMeetShareOneOutline) {
    // Text rows 40..79 and 120..159: 40 empty rows; plates (margins 20) end at row 99 and
    // start at row 100.
    const auto source = textFrame({0, 0, 360, 200}, {kWideLine, {140, 120, 220, 160}});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const auto out = render(
            source, {{"compositing", {mode}}, {"strokeWidth", {2}}, {"plateLayout", {kLines}}});
        EXPECT_EQ(plateCount(*out), 1);
        for (int y = 95; y < 105; ++y)
            for (int x = 110; x < 250; ++x)
                ASSERT_EQ(at(*out, x, y), (Px{0, 0, 0, 255})) << x << "," << y;
        EXPECT_EQ(at(*out, 97, 104), (Px{0, 0, 0, 0}));          // beside the narrow plate
        EXPECT_EQ(at(*out, 100, 104), (Px{255, 255, 255, 255})); // its outline
    }
}

// Plates whose fills stay apart but whose outlines would overlap are one block: the outline
// counts in the reach, sideways as well as up and down.
TEST(PlateLayouts, OutlinesThatWouldOverlapJoinTheirBlocks) {
    // Pieces 60 columns apart; margins 5 sideways (10 columns) leave 40 columns between the
    // fills, which outlines 21 wide on each side would cover; margins 30 up and down keep the
    // middle row clear of the top and bottom outlines.
    const auto source = textFrame({0, 0, 200, 100}, {{40, 40, 60, 60}, {120, 40, 140, 60}});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const auto out = render(source, {{"compositing", {mode}},
                                         {"marginX", {5}},
                                         {"marginY", {30}},
                                         {"strokeWidth", {21}},
                                         {"plateLayout", {kBlocks}}});
        EXPECT_EQ(plateCount(*out), 1);
        EXPECT_EQ(at(*out, 90, 50), (Px{0, 0, 0, 255})); // one fill from piece to piece
    }
}

TEST(PlateLayouts, RoundedJoinedShapeKeepsItsSeamFilled) {
    // Rounded corners on the joined shape: the outer corners are cut, the seam is not.
    const auto source = textFrame({0, 0, 360, 200}, {kWideLine, kNarrowLine});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const auto out = render(source, {{"compositing", {mode}},
                                         {"plateLayout", {kLines}},
                                         {"cornerSize", {12}},
                                         {"strokeWidth", {2}}});
        EXPECT_EQ(plateCount(*out), 1);
        EXPECT_EQ(at(*out, 20, 20)[3], 0);   // the wide plate's lower-left corner, cut
        EXPECT_EQ(at(*out, 100, 163)[3], 0); // the narrow plate's upper-left corner, cut
        EXPECT_EQ(at(*out, 100, 84), (Px{0, 0, 0, 255})) << "hidden corner of the narrow line";
        EXPECT_EQ(at(*out, 180, 92), (Px{0, 0, 0, 255}));
    }
}

TEST(PlateLayouts, VerticallySplitGlyphStaysOneLine) {
    // "二" 40 px tall: two strokes with 12 rows between them; an accent 5 rows above a letter.
    const std::vector<OfxRectI> two = {{100, 50, 140, 56}, {96, 68, 144, 74}};
    const std::vector<OfxRectI> accent = {{100, 50, 120, 80}, {106, 86, 114, 90}};
    for (const auto& glyph : {two, accent}) {
        const auto source = textFrame({0, 0, 240, 140}, glyph);
        for (double mode : {0.0, 1.0}) {
            SCOPED_TRACE(mode);
            const auto whole = render(source, {{"compositing", {mode}}, {"marginY", {2}}});
            const auto lines = render(
                source, {{"compositing", {mode}}, {"marginY", {2}}, {"plateLayout", {kLines}}});
            EXPECT_TRUE(same(*whole, *lines));
            // A gap setting below the glyph's own gap splits it: the comparison can fail.
            const auto split = render(source, {{"compositing", {mode}},
                                               {"marginY", {2}},
                                               {"plateLayout", {kLines}},
                                               {"lineGap", {4}}});
            EXPECT_FALSE(same(*whole, *split));
            EXPECT_EQ(plateCount(*split), 2);
        }
    }
}

TEST(PlateLayouts, LinesOfOneBlockThatDoNotTouchGetSeparatePlates) {
    // An invisible outline 6 wide keeps both lines in one block (its reach counts), while
    // the line plates, margins 4, stay 10 rows apart.
    const auto source = textFrame({0, 0, 240, 140}, {{40, 30, 200, 50}, {40, 68, 200, 88}});
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings common = {{"compositing", {mode}},
                                 {"marginY", {4}},
                                 {"strokeWidth", {6}},
                                 {"strokeColor", {1, 1, 1, 0}}};
        Settings blocks = common, lines = common;
        blocks.push_back({"plateLayout", {kBlocks}});
        lines.push_back({"plateLayout", {kLines}});
        EXPECT_EQ(at(*render(source, blocks), 120, 59), (Px{0, 0, 0, 255}));
        const auto out = render(source, lines);
        EXPECT_EQ(at(*out, 120, 59), (Px{0, 0, 0, 0}));
        EXPECT_EQ(at(*out, 201, 40), (Px{0, 0, 0, 255})); // 7 inside the first line's plate
        EXPECT_EQ(at(*out, 201, 78), (Px{0, 0, 0, 255})); // and the second's
    }
}

TEST(PlateLayouts, SpecksAndNoiseGiveABoundedNumberOfPlates) {
    std::mt19937 rng(14);
    // A few specks far apart: a plate each.
    std::vector<OfxRectI> few;
    for (int i = 0; i < 6; ++i)
        few.push_back({20 + 60 * i, 100, 21 + 60 * i, 101});
    const Settings tight = {{"marginX", {2}}, {"marginY", {2}}};
    Settings blocks = tight;
    blocks.push_back({"plateLayout", {kBlocks}});
    EXPECT_EQ(plateCount(*render(textFrame({0, 0, 400, 200}, few), blocks)), 6);

    // Thousands of specks: more blocks than the limit, so the one plate around them all.
    std::vector<OfxRectI> specks;
    for (int i = 0; i < 3000; ++i) {
        const int x = static_cast<int>(rng() % 400), y = static_cast<int>(rng() % 300);
        specks.push_back({x, y, x + 1, y + 1});
    }
    const auto noise = textFrame({0, 0, 400, 300}, specks);
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings none = {{"compositing", {mode}}, {"marginX", {0}}, {"marginY", {0}}};
        const auto whole = render(noise, none);
        for (double layout : {kBlocks, kLines}) {
            Settings s = none;
            s.push_back({"plateLayout", {layout}});
            EXPECT_TRUE(same(*whole, *render(noise, s))) << layout;
        }
    }

    // One block of many thin lines (a gap of 1 row splits them): more lines than the limit,
    // so the block's plate.
    std::vector<OfxRectI> stripes;
    for (int i = 0; i < 100; ++i)
        stripes.push_back({50, 20 + 2 * i, 150, 21 + 2 * i});
    const auto striped = textFrame({0, 0, 200, 240}, stripes);
    const auto asBlock = render(striped, {{"plateLayout", {kBlocks}}});
    const auto asLines = render(striped, {{"plateLayout", {kLines}}, {"lineGap", {1}}});
    EXPECT_TRUE(same(*asBlock, *asLines));
    // The same with stripes of two widths, close enough for one block (margins 0 and 1) but
    // parted into lines by every empty row: as lines they would leave notches at the narrow
    // stripes; beyond the limit they get the block's plate.
    std::vector<OfxRectI> alternating;
    for (int i = 0; i < 100; ++i)
        alternating.push_back({i % 2 ? 70 : 50, 20 + 2 * i, i % 2 ? 130 : 150, 21 + 2 * i});
    const auto notched = textFrame({0, 0, 200, 240}, alternating);
    const Settings thin = {{"marginX", {0}}, {"marginY", {1}}};
    Settings thinBlock = thin, thinLines = thin;
    thinBlock.push_back({"plateLayout", {kBlocks}});
    thinLines.push_back({"plateLayout", {kLines}});
    thinLines.push_back({"lineGap", {1}});
    EXPECT_TRUE(same(*render(notched, thinBlock), *render(notched, thinLines)));
    // Fewer stripes than the limit do split.
    stripes.resize(20);
    const auto fewStripes = textFrame({0, 0, 200, 240}, stripes);
    EXPECT_FALSE(same(
        *render(fewStripes, {{"plateLayout", {kBlocks}}}),
        *render(
            fewStripes,
            {{"plateLayout", {kLines}}, {"lineGap", {1}}, {"marginY", {0}}, {"marginX", {0}}})));
}

// The limits on plates, at the last value that passes and the first that fails: 64 blocks get
// a plate each and 65 the one plate; 64 lines of one block get a plate each (notched where a
// narrow line sits between wide ones) and 65 the block's plate.
TEST(PlateLayouts, PlateLimitsHoldExactlyAtTheirBounds) {
    for (int blocks : {64, 65}) {
        SCOPED_TRACE(blocks);
        std::vector<OfxRectI> specks;
        for (int i = 0; i < blocks; ++i) {
            const int x = 10 + 24 * (i % 16), y = 10 + 24 * (i / 16);
            specks.push_back({x, y, x + 1, y + 1});
        }
        const auto out = render(textFrame({0, 0, 400, 130}, specks),
                                {{"plateLayout", {kBlocks}}, {"marginX", {2}}, {"marginY", {2}}});
        EXPECT_EQ(plateCount(*out), blocks == 64 ? 64 : 1);
    }
    for (int lines : {64, 65}) {
        SCOPED_TRACE(lines);
        std::vector<OfxRectI> stripes;
        for (int i = 0; i < lines; ++i)
            stripes.push_back({i % 2 ? 70 : 50, 20 + 2 * i, i % 2 ? 130 : 150, 21 + 2 * i});
        const auto out = render(
            textFrame({0, 0, 200, 160}, stripes),
            {{"plateLayout", {kLines}}, {"lineGap", {1}}, {"marginX", {0}}, {"marginY", {1}}});
        EXPECT_EQ(plateCount(*out), 1);
        // Beside the narrow line of row 22, between the wide lines' plates.
        EXPECT_EQ(at(*out, 60, 22)[3], lines == 64 ? 0 : 255);
        EXPECT_EQ(at(*out, 100, 22)[3], 255);
    }
}

// The search for pieces gives up on a detection band that would hold more than 256 separate
// blocks: two combs side by side in one band, each joined by a bar above its teeth, are two
// plates with 256 teeth between them and the one plate around all the text with 257. (The
// text's extent, 160 rows, makes the 16 bands 10 rows each; the combs lie in rows 21 to 26.)
// The reference processors look for pieces without bands, so this is the fast module's alone.
TEST(PlateLayouts, ADetectionBandGivesUpPastItsBlockLimit) {
    for (int teeth : {256, 257}) {
        SCOPED_TRACE(teeth);
        std::vector<OfxRectI> text = {{5, 0, 6, 1}, {5, 159, 6, 160}};
        auto comb = [&](int x, int n) {
            for (int t = 0; t < n; ++t)
                text.push_back({x + 2 * t, 21, x + 2 * t + 1, 26});
            text.push_back({x, 26, x + 2 * n - 1, 27});
        };
        comb(20, 200);
        comb(440, teeth - 200);
        const auto frame = textFrame({0, 0, 640, 160}, text);
        const Settings settings = {{"plateLayout", {kBlocks}}, {"marginX", {0}}, {"marginY", {0}}};
        const auto out = renderWith(NIMBRA_BUNDLE, frame, settings);
        EXPECT_EQ(plateCount(*out), teeth == 256 ? 4 : 1);
    }
}

// A vertical telop: two vertical lines 40 px wide with 24 columns between them, the one on
// the right taller. Plates (marginX 20 counts twice: 40 columns each side) overlap.
const OfxRectI kTallColumn{40, 60, 80, 300};
const OfxRectI kShortColumn{104, 140, 144, 220};

TEST(PlateLayouts, VerticalLinesFitTheirHeightsAndShareOneOutline) {
    const auto source = textFrame({0, 0, 200, 360}, {kTallColumn, kShortColumn});
    // The plates: tall [0, 119] × [40, 319], short [64, 183] × [120, 239].
    auto inUnion = [](int x, int y) {
        return (x >= 0 && x <= 119 && y >= 40 && y <= 319) ||
               (x >= 64 && x <= 183 && y >= 120 && y <= 239);
    };
    const Px fill{0, 0, 0, 255}, outline{255, 255, 255, 255}, nothing{0, 0, 0, 0};
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings settings = {{"compositing", {mode}}, {"strokeWidth", {2}}};
        Settings columns = settings;
        columns.push_back({"plateLayout", {kColumns}});
        const auto out = render(source, columns);
        EXPECT_EQ(plateCount(*out), 1);
        EXPECT_EQ(at(*out, 150, 280), nothing) << "above the short line";
        EXPECT_EQ(at(*out, 150, 80), nothing) << "below it";
        EXPECT_EQ(at(*out, 150, 180), fill);
        // No outline across the overlap, between the lines; one all round the joined shape,
        // but for the frame's left edge, where the plate is cut.
        for (int y = 125; y < 235; ++y)
            for (int x = 82; x < 102; ++x)
                ASSERT_EQ(at(*out, x, y), fill) << x << "," << y;
        int edge = 0;
        for (int y = 40; y <= 319; ++y)
            for (int x = 1; x <= 183; ++x) {
                if (!inUnion(x, y) || (inUnion(x - 1, y) && inUnion(x + 1, y) &&
                                       inUnion(x, y - 1) && inUnion(x, y + 1)))
                    continue;
                ++edge;
                ASSERT_EQ(at(*out, x, y), outline) << x << "," << y;
            }
        EXPECT_GT(edge, 600);

        // As a block, or as lines (no row is empty): one rectangle, filled above the short
        // line.
        for (double layout : {kBlocks, kLines}) {
            Settings other = settings;
            other.push_back({"plateLayout", {layout}});
            EXPECT_EQ(at(*render(source, other), 150, 280), fill) << layout;
        }
        // lineGap is the least number of empty columns that parts vertical lines.
        Settings gap24 = columns, gap25 = columns;
        gap24.push_back({"lineGap", {24}});
        gap25.push_back({"lineGap", {25}});
        EXPECT_EQ(at(*render(source, gap24), 150, 280), nothing);
        EXPECT_EQ(at(*render(source, gap25), 150, 280), fill);
    }
}

// A glyph set vertically whose strokes stand side by side (川, ハ, 小) stays one vertical line:
// its gaps, 10 columns, are under the line gap.
TEST(PlateLayouts, GlyphOfStrokesSideBySideStaysOneVerticalLine) {
    const std::vector<OfxRectI> river = {
        {100, 50, 106, 90}, {116, 54, 122, 88}, {132, 50, 138, 92}};
    const auto source = textFrame({0, 0, 240, 140}, river);
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings tight = {{"compositing", {mode}}, {"marginX", {1}}, {"marginY", {2}}};
        Settings columns = tight;
        columns.push_back({"plateLayout", {kColumns}});
        EXPECT_TRUE(same(*render(source, tight), *render(source, columns)));
        columns.push_back({"lineGap", {4}}); // under the glyph's own gaps: three strokes
        EXPECT_EQ(plateCount(*render(source, columns)), 3);
    }
}

// Rounded inner corners: where the narrow line's plate meets the wide one's, a fillet of
// innerCornerSize fills the corner, and the outline follows it; 0 leaves it square.
TEST(PlateLayouts, FilletsRoundTheInnerCornersOfJoinedPlates) {
    const auto source = textFrame({0, 0, 360, 200}, {kWideLine, kNarrowLine});
    const Px fill{0, 0, 0, 255}, outline{255, 255, 255, 255}, nothing{0, 0, 0, 0};
    for (double mode : {0.0, 1.0}) {
        SCOPED_TRACE(mode);
        const Settings lines = {
            {"compositing", {mode}}, {"strokeWidth", {2}}, {"plateLayout", {kLines}}};
        Settings rounded = lines;
        rounded.push_back({"innerCornerSize", {12}});
        const auto square = render(source, lines), round = render(source, rounded);
        // The corner where the wide plate's top (row 99) meets the narrow one's side (x 100).
        EXPECT_EQ(at(*square, 99, 100), outline);
        EXPECT_EQ(at(*round, 99, 100), fill);
        EXPECT_EQ(at(*round, 97, 103), outline); // on the fillet's arc
        EXPECT_EQ(at(*round, 91, 108), nothing); // beyond it
        EXPECT_EQ(at(*round, 260, 100), fill);   // the mirror corner on the right
        EXPECT_EQ(at(*round, 97, 140), nothing); // beside the narrow line, further up
        // Away from the two fillets nothing changes.
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 360; ++x) {
                const bool nearFillet =
                    std::abs(y - 99) <= 16 && (std::abs(x - 100) <= 16 || std::abs(x - 259) <= 16);
                if (!nearFillet) {
                    ASSERT_EQ(at(*round, x, y), at(*square, x, y)) << x << "," << y;
                }
            }
        // A fillet takes at most half of an edge: at 1000 the same as at the limit, 32 (half
        // the narrow plate's exposed side, rows 99 to 163).
        Settings huge = lines, limit = lines;
        huge.push_back({"innerCornerSize", {1000}});
        limit.push_back({"innerCornerSize", {32}});
        EXPECT_TRUE(same(*render(source, huge), *render(source, limit)));
    }
}

TEST(PlateLayouts, ThreadCountsAndTilesDoNotChangePixels) {
    const auto source = textFrame(kFrame, {kLogo, {60, 30, 300, 60}, {120, 80, 240, 110}});
    const std::vector<OfxRectI> tiles = {
        {0, 0, 200, 120}, {200, 0, 400, 120}, {0, 120, 200, 240}, {200, 120, 400, 240}};
    const auto vertical =
        textFrame(kFrame, {kLogo, {60, 20, 90, 200}, {110, 80, 140, 200}, {160, 40, 190, 160}});
    for (double mode : {0.0, 1.0})
        for (double layout : {kBlocks, kLines, kColumns}) {
            SCOPED_TRACE(std::to_string(mode) + " " + std::to_string(layout));
            const Settings s = {{"compositing", {mode}},
                                {"plateLayout", {layout}},
                                {"cornerSize", {9}},
                                {"strokeWidth", {2.5}},
                                {"innerCornerSize", {7}},
                                {"marginX", {6}},
                                {"fillColor", {0.2, 0.3, 0.4, 0.7}}};
            for (const auto& frame : {source, vertical}) {
                const auto one = render(frame, s, {1, {}});
                EXPECT_EQ(plateCount(*one), 2);
                for (unsigned threads : {2u, 8u})
                    EXPECT_TRUE(same(*one, *render(frame, s, {threads, {}}))) << threads;
                EXPECT_TRUE(same(*one, *render(frame, s, {3, tiles})));
            }
        }
}

TEST(PlateLayouts, EveryLayoutWithEveryDepth) {
    for (Depth depth : kDepths) {
        const double full = fullScale(depth);
        const auto source = textFrame(kFrame, {kLogo, kSubtitle}, depth);
        for (double mode : {0.0, 1.0})
            for (double layout : {kWhole, kBlocks, kLines, kColumns}) {
                SCOPED_TRACE(std::to_string(full) + " " + std::to_string(mode) + " " +
                             std::to_string(layout));
                const auto out = render(source, {{"compositing", {mode}},
                                                 {"plateLayout", {layout}},
                                                 {"fillColor", {1, 0, 0, 1}}});
                EXPECT_EQ(at(*out, 200, 80), (Px{full, 0, 0, full}));
                EXPECT_EQ(at(*out, 320, 210), (Px{full, 0, 0, full}));
                EXPECT_EQ(at(*out, 100, 50), (Px{full, full, full, full})); // text
                EXPECT_EQ(at(*out, 200, 150)[3], layout == kWhole ? full : 0);
            }
    }
}

} // namespace
