// The straightforward text plate processor, kept to check the fast one against and to measure
// it by: every band detects the text again over the whole source, the pieces of text are found
// by flood fill, and every pixel goes through the image's address lookup and the whole
// per-pixel algorithm over every plate. It shares the layout, the shapes and the arithmetic
// with the fast processor, and nothing of its drawing. Built only for tests and the benchmark.
#pragma once

#include "plate_layout.h"
#include "plate_shading.h"
#include "plate_shadow.h"
#include "plate_shape.h"
#include "text_auto_frame_processor_base.h"

#include <cstdint>
#include <vector>

template <class PIX, int nComponents, int maxValue>
class TextAutoFrameReferenceProcessor : public TextAutoFrameProcessorBase {
public:
    explicit TextAutoFrameReferenceProcessor(OFX::ImageEffect& effect)
        : TextAutoFrameProcessorBase(effect, plate::bitDepthOf<PIX>(),
                                     nComponents == 4 ? OFX::PixelComponents::RGBA
                                                      : OFX::PixelComponents::Alpha) {}

    void processWindow(const OfxRectI& window) override {
        if constexpr (nComponents == 4) {
            const plate::Plates plates = params.finite() ? detect() : plate::Plates{};
            if (!plates.empty()) {
                if (params.compositing == plate::Compositing::Accurate)
                    draw(window, plates, plate::AccurateShading<PIX, maxValue>(params));
                else
                    draw(window, plates, plate::CompatibleShading<PIX, maxValue>(params));
                return;
            }
        }
        copySource(window);
    }

private:
    /// Whether pixel (x, y) of the source (relative to its corner) is text.
    bool isText(int x, int y) const {
        const OfxRectI& b = sourceImage->getBounds();
        auto* pixel = static_cast<const PIX*>(sourceImage->pixelAddress(x + b.x1, y + b.y1));
        const float threshold = params.detectionThreshold * static_cast<float>(maxValue);
        return pixel && static_cast<float>(pixel[nComponents - 1]) > threshold;
    }

    /// The plates of the layout; none when nothing is detected.
    plate::Plates detect() const {
        if (!sourceImage)
            return {};
        const OfxRectI& b = sourceImage->getBounds();
        if (b.y1 >= b.y2 || b.x1 >= b.x2)
            return {};
        const int width = b.x2 - b.x1;
        const int height = b.y2 - b.y1;
        if (params.plateLayout == plate::PlateLayout::Whole) {
            int minX = width, maxX = 0, minY = height, maxY = 0;
            bool found = false;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    if (!isText(x, y))
                        continue;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                    found = true;
                }
            if (!found)
                return {};
            return {{plate::plateFromExtremes(minX, maxX, minY, maxY, width, height, params)}};
        }
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        std::vector<char> text(count, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                text[static_cast<size_t>(y) * width + x] = isText(x, y);
        std::vector<plate::Box> pieces = piecesOf(text, width, height);
        plate::mergeTouching(pieces, plate::Reach::of(params));
        const plate::Along along = params.plateLayout == plate::PlateLayout::Columns
                                       ? plate::Along::Columns
                                       : plate::Along::Rows;
        return plate::platesOfBlocks(params, pieces, width, height, [&](const plate::Box& block) {
            return plate::linesOfBlock(block, params.lineGap, along,
                                       [&](int i) { return extentAcross(text, width, block, i); });
        });
    }

    /// The text of row i of a block across its columns, or for vertical lines of column i
    /// across its rows.
    plate::RowExtent extentAcross(const std::vector<char>& text, int width, const plate::Box& block,
                                  int i) const {
        const bool columns = params.plateLayout == plate::PlateLayout::Columns;
        plate::RowExtent e;
        for (int j = columns ? block.minY : block.minX; j <= (columns ? block.maxY : block.maxX);
             ++j) {
            const int x = columns ? i : j, y = columns ? j : i;
            if (text[static_cast<size_t>(y) * width + x]) {
                if (e.first < 0)
                    e.first = j;
                e.last = j;
            }
        }
        return e;
    }

    /// The groups of text pixels that touch, sides or corners, by flood fill.
    static std::vector<plate::Box> piecesOf(const std::vector<char>& text, int width, int height) {
        std::vector<plate::Box> pieces;
        std::vector<char> seen(text.size(), 0);
        std::vector<std::pair<int, int>> stack;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const size_t at = static_cast<size_t>(y) * width + x;
                if (!text[at] || seen[at])
                    continue;
                plate::Box piece{x, x, y, y};
                seen[at] = 1;
                stack.push_back({x, y});
                while (!stack.empty()) {
                    const auto [px, py] = stack.back();
                    stack.pop_back();
                    piece.add({px, px, py, py});
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = px + dx, ny = py + dy;
                            if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                                continue;
                            const size_t n = static_cast<size_t>(ny) * width + nx;
                            if (text[n] && !seen[n]) {
                                seen[n] = 1;
                                stack.push_back({nx, ny});
                            }
                        }
                }
                pieces.push_back(piece);
            }
        return pieces;
    }

    /// Every pixel of the window through the whole per-pixel algorithm over every plate.
    template <class S> void draw(const OfxRectI& window, const plate::Plates& plates, const S& s) {
        std::vector<plate::Shape> shapes;
        for (const plate::Plate& p : plates)
            shapes.emplace_back(p, params.cornerSize, params.innerCornerSize, S::kEdges,
                                params.outlineReach(), params.fillEnabled || params.strokeActive());
        std::vector<const plate::Shape*> all;
        for (const plate::Shape& shape : shapes)
            all.push_back(&shape);
        const plate::ShadowField shadow(params, plates, params.outlineReach());
        const OfxRectI& origin = sourceImage->getBounds();
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue;
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            const float py = plate::relative(y, origin.y1);
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const PIX* src = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));
                s.shadeAt(src, dst, all.data(), all.size(), plate::relative(x, origin.x1), py,
                          shadowAt(shadow, x - static_cast<std::int64_t>(origin.x1),
                                   y - static_cast<std::int64_t>(origin.y1)));
            }
        }
    }

    /// The shadow's coverage of a pixel, its position from the source's corner.
    static int shadowAt(const plate::ShadowField& shadow, std::int64_t px, std::int64_t py) {
        const OfxRectI& r = shadow.reach();
        if (!shadow.active() || px < r.x1 || px >= r.x2 || py < r.y1 || py >= r.y2)
            return 0;
        return shadow.coverage(static_cast<int>(px), static_cast<int>(py));
    }

    void copySource(const OfxRectI& window) {
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue;
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const PIX* src = sourceImage
                                     ? static_cast<const PIX*>(sourceImage->pixelAddress(x, y))
                                     : nullptr;
                for (int c = 0; c < nComponents; ++c)
                    dst[c] = src ? src[c] : PIX(0);
            }
        }
    }
};
