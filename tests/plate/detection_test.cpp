// Detection on small images held in plain buffers: the threshold's edge, the extent of the
// text, the notes of clear columns, and the blocks found by the band sweep against a plain
// flood fill.
#include "plate_detection.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using plate::Box;
using plate::Rows;

/// An RGBA image in a plain buffer, rows bottom up or top down.
template <class PIX> struct Buffer {
    Buffer(OfxRectI bounds, bool topDown = false)
        : bounds(bounds),
          pixels(static_cast<size_t>(4 * (bounds.x2 - bounds.x1) * (bounds.y2 - bounds.y1))),
          topDown(topDown) {}
    PIX* at(int x, int y) {
        const int w = bounds.x2 - bounds.x1, h = bounds.y2 - bounds.y1;
        const int row = topDown ? h - 1 - (y - bounds.y1) : y - bounds.y1;
        return &pixels[static_cast<size_t>(4 * (row * w + (x - bounds.x1)))];
    }
    Rows<PIX> rows() {
        const std::ptrdiff_t stride =
            static_cast<std::ptrdiff_t>(4 * sizeof(PIX)) * (bounds.x2 - bounds.x1);
        return Rows<PIX>(at(bounds.x1, bounds.y1), topDown ? -stride : stride, bounds);
    }
    OfxRectI bounds;
    std::vector<PIX> pixels;
    bool topDown;
};

/// Threads that run the shares one after another; `ran` shares, whatever was asked for.
plate::Threads serial(unsigned cpus, unsigned ran = 0) {
    plate::Threads t;
    t.cpus = cpus;
    t.run = [ran](unsigned shares, const plate::Threads::Share& share) {
        const unsigned n = ran ? ran : shares;
        for (unsigned i = 0; i < n; ++i)
            share(i, n);
    };
    return t;
}

TEST(Detection, TheThresholdsEdgeInEveryDepth) {
    EXPECT_EQ((plate::TextTest<unsigned char, 255>(0.1f * 255).firstText), 26);
    EXPECT_EQ((plate::TextTest<unsigned short, 65535>(0.1f * 65535).firstText), 6554);
    EXPECT_EQ((plate::TextTest<unsigned char, 255>(-1).firstText), 0);
    EXPECT_EQ((plate::TextTest<unsigned char, 255>(255).firstText), 256); // nothing is text
    const plate::TextTest<float, 1> f(0.1f);
    EXPECT_TRUE(f(std::nextafter(0.1f, 1.0f)));
    EXPECT_FALSE(f(0.1f));
}

// The extent of the text in every band split and share count a host may choose, in either
// row order; the columns noted clear hold only zero bits.
TEST(Detection, ExtentAndClearNotes) {
    std::mt19937 rng(3);
    for (int round = 0; round < 60; ++round) {
        const OfxRectI bounds{-3, 7, 37 + static_cast<int>(rng() % 30), 40};
        Buffer<unsigned char> image(bounds, round % 2 == 1);
        const int texts = static_cast<int>(rng() % 4);
        for (int k = 0; k < texts; ++k) {
            const int x = bounds.x1 + static_cast<int>(rng() % (bounds.x2 - bounds.x1));
            const int y = bounds.y1 + static_cast<int>(rng() % (bounds.y2 - bounds.y1));
            image.at(x, y)[3] = 200;
        }
        for (int k = 0; k < 20; ++k) { // faint pixels, colour under zero alpha
            const int x = bounds.x1 + static_cast<int>(rng() % (bounds.x2 - bounds.x1));
            const int y = bounds.y1 + static_cast<int>(rng() % (bounds.y2 - bounds.y1));
            image.at(x, y)[rng() % 4] = 9;
        }
        plate::Extent expected;
        for (int y = bounds.y1; y < bounds.y2; ++y)
            for (int x = bounds.x1; x < bounds.x2; ++x)
                if (image.at(x, y)[3] > 25)
                    expected.add(x - bounds.x1, x - bounds.x1, y - bounds.y1);
        const Rows<unsigned char> rows = image.rows();
        for (bool vector : {false, true}) {
            const plate::TextTest<unsigned char, 255> test(25.5f, vector);
            const unsigned cpus = 1 + rng() % 8;
            plate::ClearNotes clear;
            clear.prepare(rows.width(), rows.height());
            const plate::Extent found =
                plate::textExtent(rows, test, serial(cpus, round % 3 == 0 ? 1 : 0), &clear);
            ASSERT_EQ(found.found, expected.found) << round;
            if (expected.found) {
                EXPECT_EQ(found.minX, expected.minX) << round;
                EXPECT_EQ(found.maxX, expected.maxX) << round;
                EXPECT_EQ(found.minY, expected.minY) << round;
                EXPECT_EQ(found.maxY, expected.maxY) << round;
            }
            int noted = 0;
            for (int y = bounds.y1; y < bounds.y2; ++y) {
                int clearEnd = 0, clearFrom = 0;
                clear.columns(y, bounds, bounds.x1, bounds.x2, clearEnd, clearFrom);
                noted += (clearEnd - bounds.x1) + (bounds.x2 - clearFrom);
                for (int x = bounds.x1; x < bounds.x2; ++x) {
                    if (x >= clearEnd && x < clearFrom)
                        continue;
                    for (int c = 0; c < 4; ++c)
                        ASSERT_EQ(image.at(x, y)[c], 0) << x << "," << y << " " << round;
                }
            }
            if (!expected.found) {
                EXPECT_GT(noted, 0) << round;
            }
        }
    }
}

/// The pieces (groups of text pixels touching by side or corner), by flood fill.
std::vector<Box> floodFillPieces(const std::vector<char>& text, int w, int h) {
    std::vector<Box> pieces;
    std::vector<char> seen(text.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!text[y * w + x] || seen[y * w + x])
                continue;
            Box piece{x, x, y, y};
            std::vector<std::pair<int, int>> stack = {{x, y}};
            seen[y * w + x] = 1;
            while (!stack.empty()) {
                const auto [px, py] = stack.back();
                stack.pop_back();
                piece.add({px, px, py, py});
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx >= 0 && ny >= 0 && nx < w && ny < h && text[ny * w + nx] &&
                            !seen[ny * w + nx]) {
                            seen[ny * w + nx] = 1;
                            stack.push_back({nx, ny});
                        }
                    }
            }
            pieces.push_back(piece);
        }
    return pieces;
}

// The band sweep finds the blocks that grouping the flood-filled pieces gives, whatever the
// margins, the line gap and the number of shares.
TEST(Detection, BandSweepFindsTheBlocksOfTheTouchingPieces) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const int w = 20 + static_cast<int>(rng() % 60), h = 10 + static_cast<int>(rng() % 50);
        Buffer<unsigned short> image({0, 0, w, h});
        std::vector<char> text(static_cast<size_t>(w * h), 0);
        const int shapes = 1 + static_cast<int>(rng() % 12);
        for (int k = 0; k < shapes; ++k) {
            const int x = static_cast<int>(rng() % w), y = static_cast<int>(rng() % h);
            const int sw = 1 + static_cast<int>(rng() % 6), sh = 1 + static_cast<int>(rng() % 4);
            for (int yy = y; yy < std::min(h, y + sh); ++yy)
                for (int xx = x; xx < std::min(w, x + sw); ++xx)
                    if (rng() % 5 != 0) {
                        image.at(xx, yy)[3] = 40000;
                        text[yy * w + xx] = 1;
                    }
        }
        plate::Params p;
        const plate::PlateLayout layouts[] = {plate::PlateLayout::Blocks, plate::PlateLayout::Lines,
                                              plate::PlateLayout::Columns};
        p.plateLayout = layouts[rng() % 3];
        p.marginX = static_cast<float>(rng() % 4) * 0.5f;
        p.marginY = static_cast<float>(rng() % 4) * 0.5f - 0.5f;
        p.lineGap = static_cast<float>(1 + rng() % 6);
        const plate::Reach reach = plate::Reach::of(p);
        std::vector<Box> expected = floodFillPieces(text, w, h);
        plate::mergeTouching(expected, reach);

        const Rows<unsigned short> rows = image.rows();
        const plate::TextTest<unsigned short, 65535> test(6553.5f, rng() % 2 == 0);
        plate::ClearNotes none;
        const plate::Extent all = plate::textExtent(rows, test, serial(2), &none);
        if (!all.found) {
            EXPECT_TRUE(expected.empty());
            continue;
        }
        const plate::BlockSearch search =
            plate::findBlocks(rows, test, reach, {all.minX, all.minY, all.maxX + 1, all.maxY + 1},
                              serial(1 + rng() % 5));
        ASSERT_FALSE(search.overflow);
        // Each block's vertical lines, found from its columns' text, are those of the layout's
        // plain statement.
        for (const Box& block : search.blocks) {
            const auto found =
                plate::RowScan<unsigned short, 65535>::verticalLines(rows, block, p.lineGap, test);
            const auto plain =
                plate::linesOfBlock(block, p.lineGap, plate::Along::Columns, [&](int x) {
                    plate::RowExtent e;
                    for (int y = block.minY; y <= block.maxY; ++y)
                        if (text[y * w + x]) {
                            e.first = e.first < 0 ? y : e.first;
                            e.last = y;
                        }
                    return e;
                });
            ASSERT_EQ(found.size(), plain.size()) << round;
            for (size_t i = 0; i < plain.size(); ++i) {
                EXPECT_EQ(found[i].minX, plain[i].minX) << round;
                EXPECT_EQ(found[i].maxX, plain[i].maxX) << round;
                EXPECT_EQ(found[i].minY, plain[i].minY) << round;
                EXPECT_EQ(found[i].maxY, plain[i].maxY) << round;
            }
        }
        ASSERT_EQ(search.blocks.size(), expected.size()) << round;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(search.blocks[i].minX, expected[i].minX) << round;
            EXPECT_EQ(search.blocks[i].maxX, expected[i].maxX) << round;
            EXPECT_EQ(search.blocks[i].minY, expected[i].minY) << round;
            EXPECT_EQ(search.blocks[i].maxY, expected[i].maxY) << round;
        }
    }
}

// A band gives up past 256 blocks: 256 teeth in one row are searched, 257 are not.
TEST(Detection, ABandGivesUpPastItsBlockLimit) {
    for (int teeth : {256, 257}) {
        Buffer<float> image({0, 0, 2 * teeth, 3});
        for (int t = 0; t < teeth; ++t)
            image.at(2 * t, 1)[3] = 1;
        const plate::TextTest<float, 1> test(0.5f);
        const plate::BlockSearch search =
            plate::findBlocks(image.rows(), test, plate::Reach{}, {0, 0, 2 * teeth, 3}, serial(4));
        EXPECT_EQ(search.overflow, teeth > 256) << teeth;
        EXPECT_EQ(search.blocks.size(), teeth > 256 ? 0u : 256u) << teeth;
    }
}

// A count of no CPU (cpus 0) still scans every row once, for the extent and for the blocks.
TEST(Detection, NoCpuStillScansEveryRow) {
    Buffer<unsigned char> image({0, 0, 40, 20});
    image.at(5, 3)[3] = 255;
    image.at(30, 17)[3] = 255;
    const plate::TextTest<unsigned char, 255> test(25.5f);
    const plate::Extent all = plate::textExtent(image.rows(), test, serial(0), nullptr);
    ASSERT_TRUE(all.found);
    EXPECT_EQ(all.minX, 5);
    EXPECT_EQ(all.maxX, 30);
    EXPECT_EQ(all.minY, 3);
    EXPECT_EQ(all.maxY, 17);
    const plate::BlockSearch search =
        plate::findBlocks(image.rows(), test, plate::Reach{}, {0, 0, 40, 20}, serial(0));
    ASSERT_FALSE(search.overflow);
    ASSERT_EQ(search.blocks.size(), 2u);
    EXPECT_EQ(search.blocks[0].minY, 3);
    EXPECT_EQ(search.blocks[1].minX, 30);
}

} // namespace
