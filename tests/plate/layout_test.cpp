// Grouping text into plates on its own: the reach that makes pieces one block, the merging of
// blocks, the line gap that splits a block into lines, line plates joined into one shape, and
// the bounds of it all.
#include "plate_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using plate::Box;
using plate::Params;
using plate::PlateLayout;
using plate::Reach;

Params layoutParams(PlateLayout layout, float marginX, float marginY, float lineGap = 16) {
    Params p;
    p.plateLayout = layout;
    p.marginX = marginX;
    p.marginY = marginY;
    p.lineGap = lineGap;
    return p;
}

// Two boxes share a plate when their plates (grown by the margins, marginX twice, and by the
// outline) touch or overlap: adjacent pixels touch, one empty pixel between them does not.
TEST(Grouping, ReachIsWhereGrownBoxesTouch) {
    const Reach bare = Reach::of(layoutParams(PlateLayout::Blocks, 0, 0));
    EXPECT_TRUE(bare.touch({0, 4, 0, 4}, {5, 9, 0, 4}));  // side by side
    EXPECT_FALSE(bare.touch({0, 4, 0, 4}, {6, 9, 0, 4})); // a column between
    EXPECT_TRUE(bare.touch({0, 4, 0, 4}, {0, 4, 5, 9}));  // one above the other
    EXPECT_FALSE(bare.touch({0, 4, 0, 4}, {0, 4, 6, 9}));
    EXPECT_FALSE(bare.touch({0, 4, 0, 4}, {6, 9, 5, 9})); // diagonal, a gap both ways

    // marginX 2 grows each side by 4: plates of boxes 9 columns apart touch, 10 do not.
    const Reach margins = Reach::of(layoutParams(PlateLayout::Blocks, 2, 1));
    EXPECT_TRUE(margins.touch({0, 0, 0, 0}, {9, 9, 0, 0}));
    EXPECT_FALSE(margins.touch({0, 0, 0, 0}, {10, 10, 0, 0}));
    EXPECT_TRUE(margins.touch({0, 0, 0, 0}, {0, 0, 3, 3}));
    EXPECT_FALSE(margins.touch({0, 0, 0, 0}, {0, 0, 4, 4}));

    // The outline counts, sideways and up and down; negative margins do not shrink the reach.
    Params outlined = layoutParams(PlateLayout::Blocks, 0, 0);
    outlined.strokeWidth = 2;
    EXPECT_TRUE(Reach::of(outlined).touch({0, 0, 0, 0}, {5, 5, 0, 0}));
    outlined.strokeEnabled = false;
    EXPECT_FALSE(Reach::of(outlined).touch({0, 0, 0, 0}, {5, 5, 0, 0}));
    EXPECT_TRUE(
        Reach::of(layoutParams(PlateLayout::Blocks, -5, -5)).touch({0, 0, 0, 0}, {1, 1, 1, 1}));

    // For lines, fewer empty rows than the line gap join whatever the margins: the strokes of
    // a glyph drawn in separate strokes stay one block.
    const Reach lines = Reach::of(layoutParams(PlateLayout::Lines, 0, 0, 6));
    EXPECT_TRUE(lines.touch({0, 9, 0, 0}, {0, 9, 6, 6}));  // 5 empty rows
    EXPECT_FALSE(lines.touch({0, 9, 0, 0}, {0, 9, 7, 7})); // 6
}

TEST(Grouping, MergingJoinsChainsAndSortsBottomToTop) {
    const Reach bare = Reach::of(layoutParams(PlateLayout::Blocks, 0, 0));
    // A and C touch only through B, which comes last; D stays apart.
    std::vector<Box> boxes = {{0, 3, 20, 22}, {40, 45, 0, 1}, {8, 12, 20, 22}, {4, 7, 21, 21}};
    plate::mergeTouching(boxes, bare);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].minX, 40);
    EXPECT_EQ(boxes[1].minX, 0);
    EXPECT_EQ(boxes[1].maxX, 12);
    EXPECT_EQ(boxes[1].maxY, 22);

    // A box that grows by a merge is compared with the others again.
    std::vector<Box> growing = {{0, 1, 0, 0}, {12, 13, 0, 0}, {2, 9, 5, 5}, {5, 6, 1, 4}};
    plate::mergeTouching(growing, bare);
    EXPECT_EQ(growing.size(), 2u);
}

// A block splits into lines at runs of at least lineGap rows without text.
TEST(Grouping, LineGapSplitsABlockIntoLines) {
    std::vector<int> textRows = {10, 11, 12, 18, 19, 30};
    auto rowExtent = [&](int y) {
        plate::RowExtent e;
        for (int r : textRows)
            if (r == y)
                e = {y, 2 * y}; // rows of different widths
        return e;
    };
    const Box block{10, 60, 10, 30};
    // 5 empty rows (13 to 17) and 10 (20 to 29).
    const auto five = plate::linesOfBlock(block, 5, plate::Along::Rows, rowExtent);
    ASSERT_EQ(five.size(), 3u);
    EXPECT_EQ(five[0].minY, 10);
    EXPECT_EQ(five[0].maxY, 12);
    EXPECT_EQ(five[0].maxX, 24);
    EXPECT_EQ(five[1].minY, 18);
    EXPECT_EQ(plate::linesOfBlock(block, 6, plate::Along::Rows, rowExtent).size(), 2u);
    EXPECT_EQ(plate::linesOfBlock(block, 11, plate::Along::Rows, rowExtent).size(), 1u);
}

// Vertical lines: a block splits at runs of at least lineGap columns without text, and text
// fewer columns beside other text joins it (the strokes of 川 stay one vertical line).
TEST(Grouping, LineGapSplitsABlockIntoVerticalLines) {
    std::vector<int> textColumns = {40, 41, 47, 60};
    auto columnExtent = [&](int x) {
        plate::RowExtent e;
        for (int c : textColumns)
            if (c == x)
                e = {x - 30, x - 20}; // columns of different heights
        return e;
    };
    const Box block{40, 60, 0, 50};
    const auto columns = plate::linesOfBlock(block, 5, plate::Along::Columns, columnExtent);
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].minX, 40);
    EXPECT_EQ(columns[0].maxX, 41);
    EXPECT_EQ(columns[0].minY, 10);
    EXPECT_EQ(columns[0].maxY, 21);
    EXPECT_EQ(columns[1].minX, 47);
    EXPECT_EQ(plate::linesOfBlock(block, 6, plate::Along::Columns, columnExtent).size(), 2u);

    const Reach strokes = Reach::of(layoutParams(PlateLayout::Columns, 0, 0, 6));
    EXPECT_TRUE(strokes.touch({0, 0, 0, 9}, {6, 6, 0, 9}));  // 5 empty columns
    EXPECT_FALSE(strokes.touch({0, 0, 0, 9}, {7, 7, 0, 9})); // 6
    EXPECT_FALSE(strokes.touch({0, 0, 0, 0}, {0, 0, 6, 6})); // rows are not joined so

    // Vertical line plates side by side that touch are one plate; the seam is closed.
    plate::Plates plates;
    plate::addLinePlate(plates, {0, 0, 10, 50}, true, plate::Along::Columns);
    plate::addLinePlate(plates, {10.5f, 20, 20, 40}, false, plate::Along::Columns);
    plate::addLinePlate(plates, {22, 0, 30, 50}, false, plate::Along::Columns);
    ASSERT_EQ(plates.size(), 2u);
    ASSERT_EQ(plates[0].size(), 2u);
    EXPECT_FLOAT_EQ(plates[0][0].right, 10.5f);
}

// The plate of a box: grown by marginX twice and marginY once, moved by the offset, clamped to
// the frame.
TEST(Grouping, PlateOfABoxIsGrownMovedAndClamped) {
    Params p = layoutParams(PlateLayout::Whole, 3, 2);
    p.yOffset = 1.5f;
    const plate::PlateRect r = plate::plateFromExtremes(10, 20, 5, 8, 100, 50, p);
    EXPECT_FLOAT_EQ(r.left, 4);
    EXPECT_FLOAT_EQ(r.right, 26);
    EXPECT_FLOAT_EQ(r.bottom, 4.5f);
    EXPECT_FLOAT_EQ(r.top, 11.5f);
    const plate::PlateRect clamped = plate::plateFromExtremes(1, 98, 0, 49, 100, 50, p);
    EXPECT_FLOAT_EQ(clamped.left, 0);
    EXPECT_FLOAT_EQ(clamped.right, 100);
    EXPECT_FLOAT_EQ(clamped.bottom, 0);
    EXPECT_FLOAT_EQ(clamped.top, 50);
}

/// Stripes one row tall, `gap` empty rows apart, of alternating widths, in one block.
std::vector<int> stripeRows(int count, int gap) {
    std::vector<int> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(i * (gap + 1));
    return rows;
}

// Lines whose plates touch are one plate of several rectangles (the seam closed); lines apart
// are plates of their own; past 64 lines the block gets one plate, past 64 blocks the frame.
TEST(Grouping, LinePlatesJoinAndTheLimitsHold) {
    auto platesOfStripes = [](int count, int gap, float marginY) {
        const Params p = layoutParams(PlateLayout::Lines, 0, marginY, 1);
        const std::vector<int> rows = stripeRows(count, gap);
        const Box block{0, 40, 0, rows.back()};
        return plate::platesOfBlocks(p, {block}, 100, 1000, [&](const Box& b) {
            return plate::linesOfBlock(b, p.lineGap, plate::Along::Rows, [&](int y) {
                plate::RowExtent e;
                if ((y % (gap + 1)) == 0)
                    e = y / (gap + 1) % 2 ? plate::RowExtent{10, 30} : plate::RowExtent{0, 40};
                return e;
            });
        });
    };
    // marginY 1, one empty row: each plate reaches the next line's row.
    const plate::Plates joined = platesOfStripes(3, 1, 1);
    ASSERT_EQ(joined.size(), 1u);
    ASSERT_EQ(joined[0].size(), 3u);
    EXPECT_FLOAT_EQ(joined[0][1].left, 10);
    // marginY 0.25, three empty rows: apart.
    EXPECT_EQ(platesOfStripes(3, 3, 0.25f).size(), 3u);
    // A seam of less than a row is closed: the lower plate's top moves up to meet the next.
    const plate::Plates seamed = platesOfStripes(2, 1, 0.6f);
    ASSERT_EQ(seamed.size(), 1u);
    EXPECT_FLOAT_EQ(seamed[0][0].top, seamed[0][1].bottom);

    EXPECT_EQ(platesOfStripes(64, 1, 1)[0].size(), 64u);
    const plate::Plates tooMany = platesOfStripes(65, 1, 1);
    ASSERT_EQ(tooMany.size(), 1u);
    ASSERT_EQ(tooMany[0].size(), 1u); // the block's plate
    EXPECT_FLOAT_EQ(tooMany[0][0].left, 0);

    const Params blocks = layoutParams(PlateLayout::Blocks, 0, 0);
    auto platesOfSpecks = [&](int n) {
        std::vector<Box> specks;
        for (int i = 0; i < n; ++i)
            specks.push_back({3 * i, 3 * i, 0, 0});
        return plate::platesOfBlocks(blocks, specks, 400, 10,
                                     [](const Box&) { return std::vector<Box>{}; });
    };
    EXPECT_EQ(platesOfSpecks(64).size(), 64u);
    const plate::Plates all = platesOfSpecks(65);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FLOAT_EQ(all[0][0].right, 192);
}

// Each line layout joins across its own gap only: lines join pieces above one another that
// fewer empty rows than the gap part, vertical lines pieces side by side that fewer empty
// columns part; blocks neither, with margins this small.
TEST(Grouping, EachLayoutJoinsAcrossItsOwnGapOnly) {
    const Box piece{0, 0, 0, 9}, beside{6, 6, 0, 9}, above{0, 0, 15, 20}; // 5 empty each way
    for (PlateLayout layout : {PlateLayout::Blocks, PlateLayout::Lines, PlateLayout::Columns}) {
        SCOPED_TRACE(static_cast<int>(layout));
        const Reach reach = Reach::of(layoutParams(layout, 0, 0, 6));
        EXPECT_EQ(reach.touch(piece, beside), layout == PlateLayout::Columns);
        EXPECT_EQ(reach.touch(piece, above), layout == PlateLayout::Lines);
    }
}

} // namespace
