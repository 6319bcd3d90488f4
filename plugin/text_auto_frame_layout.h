// From pieces of text to plates: pieces whose plates would touch form a block, a block splits
// into lines at rows without text, and the plates of touching lines form one shape. Shared by
// the fast processors and the reference ones, which find the pieces each their own way.
#pragma once

#include "text_auto_frame_processor_base.h"

#include <algorithm>
#include <vector>

namespace plate {

/// More plates than this are taken for noise or specks: lines beyond it fall back to one plate
/// per block, blocks beyond it to the one plate around all the text.
constexpr size_t kMaxPlates = 64;

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

/// How far apart two pieces may lie and still share a plate: their boxes grown by the
/// margins and the outline touch (adjacent pixels) or overlap. Negative margins do not
/// shrink the reach below that of the pieces themselves. For lines, pieces above one another
/// with fewer rows than the line gap between them belong together too (the strokes of 二
/// with small margins), as they would be one line.
struct Reach {
    double x = 1, y = 1; ///< the largest gap between two boxes' edges that still touches
    double lineRows = 0; ///< fewer rows without text than this join, whatever the margins

    static Reach of(const TextAutoFrameProcessorBase& p) {
        const double stroke = p.strokeEnabled && p.strokeWidth > 0 ? p.strokeWidth : 0.0;
        const double growX = std::max(0.0, 2.0 * p.marginX + stroke);
        const double growY = std::max(0.0, static_cast<double>(p.marginY) + stroke);
        const double lines = p.plateLayout == PlateLayout::Lines ? p.lineGap : 0.0;
        return {2 * growX + 1, 2 * growY + 1, lines};
    }
    bool touchX(double aMin, double aMax, double bMin, double bMax) const {
        return bMin - aMax <= x && aMin - bMax <= x;
    }
    /// Whether rows this far apart (next minY - last maxY) touch.
    bool withinY(double gap) const { return gap <= y || gap - 1 < lineRows; }
    bool touch(const Box& a, const Box& b) const {
        return touchX(a.minX, a.maxX, b.minX, b.maxX) && withinY(b.minY - double(a.maxY)) &&
               withinY(a.minY - double(b.maxY));
    }
};

/// Merges boxes that touch until none do. Each box, once it has grown, is compared with all
/// the others again, so every pair is compared in its final state: O(n²) for n boxes.
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

/// The plates of a layout from the blocks; `rowExtent(block, y)` gives the text of row y
/// within the block's columns. W and H are the source's width and height.
template <class RowExtentOf>
PlateSet platesOfBlocks(const TextAutoFrameProcessorBase& p, std::vector<Box> blocks, int width,
                        int height, RowExtentOf rowExtent) {
    PlateSet set;
    if (blocks.empty())
        return set;
    auto plateOf = [&](const Box& b) {
        return plateFromExtremes(b.minX, b.maxX, b.minY, b.maxY, width, height, p.marginX,
                                 p.marginY, p.yOffset);
    };
    if (blocks.size() > kMaxPlates) {
        Box all = blocks.front();
        for (const Box& b : blocks)
            all.add(b);
        blocks = {all};
    }
    std::vector<std::vector<Box>> lines;
    size_t lineCount = 0;
    if (p.plateLayout == PlateLayout::Lines) {
        for (const Box& block : blocks) {
            lines.emplace_back();
            std::vector<Box>& ofBlock = lines.back();
            bool open = false;
            for (int y = block.minY; y <= block.maxY; ++y) {
                const RowExtent e = rowExtent(block, y);
                if (e.first < 0)
                    continue;
                const Box row{e.first, e.last, y, y};
                // The rows between this one and the line's last one hold no text.
                if (open && static_cast<float>(y - ofBlock.back().maxY - 1) < p.lineGap) {
                    ofBlock.back().add(row);
                } else {
                    ofBlock.push_back(row);
                    open = true;
                }
            }
            lineCount += ofBlock.size();
        }
    }
    if (p.plateLayout != PlateLayout::Lines || lineCount > kMaxPlates) {
        for (const Box& b : blocks)
            set.push_back({plateOf(b)});
        return set;
    }
    auto proper = [](const PlateRect& r) { return r.left <= r.right && r.bottom <= r.top; };
    for (const std::vector<Box>& ofBlock : lines) {
        for (size_t i = 0; i < ofBlock.size(); ++i) {
            PlateRect plate = plateOf(ofBlock[i]);
            if (i > 0) {
                // Lines whose plates overlap or touch (adjacent rows) are one shape; a seam
                // of less than a row between them is closed.
                PlateRect& below = set.back().back();
                if (proper(below) && proper(plate) && below.left <= plate.right &&
                    plate.left <= below.right && plate.bottom - below.top <= 1) {
                    if (plate.bottom > below.top)
                        below.top = plate.bottom;
                    set.back().push_back(plate);
                    continue;
                }
            }
            set.push_back({plate});
        }
    }
    return set;
}

} // namespace plate
