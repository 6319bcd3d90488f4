// From text to plates: the text's box grown by the margins into a plate rectangle; pieces whose
// plates would touch form a block, a block splits into lines at rows without text, and the
// plates of touching lines form one plate of several rectangles.
#pragma once

#include "plate_params.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace plate {

/// A plate rectangle: edges in pixel positions relative to the source bounds' lower-left
/// corner, compared inclusively.
struct PlateRect {
    float left = 0;
    float bottom = 0;
    float right = 0;
    float top = 0;
};

/// One plate: a single rectangle, or the rectangles of lines whose plates touch (bottom to
/// top), drawn as one shape.
using Plate = std::vector<PlateRect>;
using Plates = std::vector<Plate>;

/// More plates than this are taken for noise or specks: lines beyond it fall back to one plate
/// per block, blocks beyond it to the one plate around all the text.
constexpr size_t kMaxPlates = 64;

/// Grows `lo` and `hi` apart, each by half the difference, until they span at least `least`
/// pixels (the pixels from lo to hi, both included).
inline void growToLeast(float& lo, float& hi, float least) {
    const float span = (hi - lo) + 1;
    if (least > 0 && span < least) {
        const float extra = 0.5f * (least - span);
        lo -= extra;
        hi += extra;
    }
}

/// Grows the bounding box of the text (relative columns and rows) into the plate: by the
/// margins, then about its centre to the least size, then moved by the offset and clamped to
/// the source, `width` × `height` pixels.
inline PlateRect plateFromExtremes(int minX, int maxX, int minY, int maxY, int width, int height,
                                   const Params& p) {
    PlateRect plate;
    plate.left = static_cast<float>(minX) - (p.marginX + p.marginX);
    plate.bottom = static_cast<float>(minY) - p.marginY;
    plate.right = static_cast<float>(maxX) + (p.marginX + p.marginX);
    plate.top = static_cast<float>(maxY) + p.marginY;
    growToLeast(plate.left, plate.right, p.minPlateWidth);
    growToLeast(plate.bottom, plate.top, p.minPlateHeight);
    plate.bottom += p.yOffset;
    plate.top += p.yOffset;
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

/// Text's extent, inclusive, in pixel positions relative to the source's lower-left corner.
struct Box {
    int minX = 0, maxX = 0, minY = 0, maxY = 0;

    void add(const Box& other) {
        minX = std::min(minX, other.minX);
        maxX = std::max(maxX, other.maxX);
        minY = std::min(minY, other.minY);
        maxY = std::max(maxY, other.maxY);
    }
    bool operator<(const Box& other) const {
        return minY != other.minY ? minY < other.minY : minX < other.minX;
    }
};

/// How far apart two pieces may lie and still share a plate: their boxes grown by the margins
/// and the outline touch (adjacent pixels) or overlap. Negative margins do not shrink the reach
/// below that of the pieces themselves. For lines, pieces above one another with fewer rows
/// than the line gap between them belong together too (the strokes of 二 with small margins),
/// as they would be one line; for vertical lines, pieces side by side with fewer columns than
/// the gap between them (the strokes of 川 and ハ).
struct Reach {
    double x = 1, y = 1;    ///< the largest gap between two boxes' edges that still touches
    double lineRows = 0;    ///< fewer rows without text than this join, whatever the margins
    double lineColumns = 0; ///< fewer columns without text than this join

    static Reach of(const Params& p) {
        const double stroke = p.outlineReach();
        const double growX = std::max(0.0, 2.0 * p.marginX + stroke);
        const double growY = std::max(0.0, static_cast<double>(p.marginY) + stroke);
        const double rows = p.plateLayout == PlateLayout::Lines ? p.lineGap : 0.0;
        const double columns = p.plateLayout == PlateLayout::Columns ? p.lineGap : 0.0;
        return {2 * growX + 1, 2 * growY + 1, rows, columns};
    }
    /// Whether columns this far apart (next minX - last maxX) touch.
    bool withinX(double gap) const { return gap <= x || gap - 1 < lineColumns; }
    bool touchX(double aMin, double aMax, double bMin, double bMax) const {
        return withinX(bMin - aMax) && withinX(aMin - bMax);
    }
    /// Whether rows this far apart (next minY - last maxY) touch.
    bool withinY(double gap) const { return gap <= y || gap - 1 < lineRows; }
    bool touch(const Box& a, const Box& b) const {
        return touchX(a.minX, a.maxX, b.minX, b.maxX) && withinY(b.minY - double(a.maxY)) &&
               withinY(a.minY - double(b.maxY));
    }
};

/// Merges boxes that touch until none do, and sorts them bottom to top. Each box, once it has
/// grown, is compared with all the others again, so every pair is compared in its final
/// state: O(n²) for n boxes.
inline void mergeTouching(std::vector<Box>& boxes, const Reach& reach) {
    for (size_t i = 0; i < boxes.size(); ++i) {
        for (size_t j = 0; j < boxes.size();) {
            if (j == i || !reach.touch(boxes[i], boxes[j])) {
                ++j;
                continue;
            }
            boxes[i].add(boxes[j]);
            boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
            if (j < i)
                --i;
            j = 0;
        }
    }
    std::sort(boxes.begin(), boxes.end());
}

/// The text columns of one row of a block; first < 0: none.
struct RowExtent {
    int first = -1, last = -1;
};

/// How a block is split: into lines at rows without text, or into vertical lines at columns
/// without text.
enum class Along { Rows, Columns };

/// Splits a block into lines at runs of at least `lineGap` rows (Along::Rows) or columns
/// without text; `extentAt(i)` gives the text of row (column) i across the block. Bottom to
/// top, or left to right.
template <class ExtentOf>
std::vector<Box> linesOfBlock(const Box& block, float lineGap, Along along, ExtentOf extentAt) {
    const bool rows = along == Along::Rows;
    std::vector<Box> lines;
    int lastEnd = 0; ///< the last row (column) of the line being built
    for (int i = rows ? block.minY : block.minX; i <= (rows ? block.maxY : block.maxX); ++i) {
        const RowExtent e = extentAt(i);
        if (e.first < 0)
            continue;
        const Box part = rows ? Box{e.first, e.last, i, i} : Box{i, i, e.first, e.last};
        // The rows (columns) between this one and the line's last one hold no text.
        if (!lines.empty() && static_cast<float>(i - lastEnd - 1) < lineGap)
            lines.back().add(part);
        else
            lines.push_back(part);
        lastEnd = i;
    }
    return lines;
}

/// Line plates whose rectangles overlap or touch (adjacent rows; for vertical lines adjacent
/// columns) are one plate; a seam of less than a row (column) between them is closed.
inline void addLinePlate(Plates& plates, PlateRect plate, bool firstOfBlock,
                         Along along = Along::Rows) {
    auto proper = [](const PlateRect& r) { return r.left <= r.right && r.bottom <= r.top; };
    if (!firstOfBlock) {
        PlateRect& before = plates.back().back();
        const bool rows = along == Along::Rows;
        // Overlapping across, and apart along by a row (column) at most.
        const bool across = rows ? before.left <= plate.right && plate.left <= before.right
                                 : before.bottom <= plate.top && plate.bottom <= before.top;
        float& end = rows ? before.top : before.right;
        const float start = rows ? plate.bottom : plate.left;
        if (proper(before) && proper(plate) && across && start - end <= 1) {
            if (start > end)
                end = start;
            plates.back().push_back(plate);
            return;
        }
    }
    plates.push_back({plate});
}

/// The plates of a block or line layout from its blocks; `linesOf(block)` splits a block into
/// its lines (for 列, its vertical lines), as linesOfBlock does. `width` × `height` is the
/// source's size.
template <class LinesOf>
Plates platesOfBlocks(const Params& p, std::vector<Box> blocks, int width, int height,
                      LinesOf linesOf) {
    Plates plates;
    if (blocks.empty())
        return plates;
    auto plateOf = [&](const Box& b) {
        return plateFromExtremes(b.minX, b.maxX, b.minY, b.maxY, width, height, p);
    };
    if (blocks.size() > kMaxPlates) {
        Box all = blocks.front();
        for (const Box& b : blocks)
            all.add(b);
        blocks = {all};
    }
    std::vector<std::vector<Box>> lines;
    size_t lineCount = 0;
    const Along along = p.plateLayout == PlateLayout::Columns ? Along::Columns : Along::Rows;
    if (p.splitsLines()) {
        for (const Box& block : blocks) {
            lines.push_back(linesOf(block));
            lineCount += lines.back().size();
        }
    }
    if (!p.splitsLines() || lineCount > kMaxPlates) {
        for (const Box& b : blocks)
            plates.push_back({plateOf(b)});
        return plates;
    }
    for (const std::vector<Box>& ofBlock : lines)
        for (size_t i = 0; i < ofBlock.size(); ++i)
            addLinePlate(plates, plateOf(ofBlock[i]), i == 0, along);
    return plates;
}

} // namespace plate
