// The straightforward text plate processor, kept to check the fast one against and to
// measure it by: every band scans the whole source again, every pixel goes through the
// image's address lookup and the full per-pixel algorithm. Built only for tests and the
// benchmark.
#pragma once

#include "text_auto_frame_layout.h"

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
            if (plateLayout != PlateLayout::Whole) {
                const plate::PlateSet plates =
                    parametersFinite() ? detectPlates() : plate::PlateSet{};
                if (!plates.empty()) {
                    drawPlates(window, plates);
                    return;
                }
                copySource(window);
                return;
            }
            const PlateRect found = parametersFinite() ? detectPlateRect() : PlateRect{};
            if (found.found) {
                drawPlate(window, found);
                return;
            }
        }
        copySource(window);
    }

    PlateRect detectPlateRect() const {
        if (!sourceImage)
            return {};
        const OfxRectI& b = sourceImage->getBounds();
        if (b.y1 >= b.y2)
            return {};
        const int width = b.x2 - b.x1;
        const int height = b.y2 - b.y1;
        const float threshold = detectionThreshold * static_cast<float>(maxValue);
        int minX = width, maxX = 0, minY = height, maxY = 0;
        bool found = false;
        for (int y = b.y1; y < b.y2; ++y) {
            for (int x = b.x1; x < b.x2; ++x) {
                auto* pixel = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));
                if (!pixel || !(static_cast<float>(pixel[nComponents - 1]) > threshold))
                    continue;
                minX = std::min(minX, x - b.x1);
                maxX = std::max(maxX, x - b.x1);
                minY = std::min(minY, y - b.y1);
                maxY = std::max(maxY, y - b.y1);
                found = true;
            }
        }
        if (!found)
            return {};
        return plate::plateFromExtremes(minX, maxX, minY, maxY, width, height, marginX, marginY,
                                        yOffset);
    }

    /// The layouts' plates: the pieces are the groups of text pixels that touch, sides or
    /// corners (found by flood fill), grouped into blocks and lines.
    plate::PlateSet detectPlates() const {
        if (!sourceImage)
            return {};
        const OfxRectI& b = sourceImage->getBounds();
        if (b.y1 >= b.y2 || b.x1 >= b.x2)
            return {};
        const int width = b.x2 - b.x1;
        const int height = b.y2 - b.y1;
        const float threshold = detectionThreshold * static_cast<float>(maxValue);
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        std::vector<char> text(count, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                auto* pixel =
                    static_cast<const PIX*>(sourceImage->pixelAddress(x + b.x1, y + b.y1));
                text[static_cast<size_t>(y) * width + x] =
                    pixel && static_cast<float>(pixel[nComponents - 1]) > threshold;
            }
        std::vector<plate::Box> pieces;
        std::vector<char> seen(count, 0);
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
        plate::mergeTouching(pieces, plate::Reach::of(*this));
        return plate::platesOfBlocks(*this, pieces, width, height,
                                     [&](const plate::Box& block, int y) {
                                         plate::RowExtent e;
                                         for (int x = block.minX; x <= block.maxX; ++x)
                                             if (text[static_cast<size_t>(y) * width + x]) {
                                                 if (e.first < 0)
                                                     e.first = x;
                                                 e.last = x;
                                             }
                                         return e;
                                     });
    }

    void drawPlates(const OfxRectI& window, const plate::PlateSet& plates) {
        switch (compositing) {
        case Compositing::Accurate:
            return drawAll(window, plate::AccurateShader<PIX, maxValue>(*this, plates));
        case Compositing::Compatible:
        default:
            return drawAll(window, plate::Shader<PIX, maxValue>(*this, plates));
        }
    }

    template <class S> void drawAll(const OfxRectI& window, const S& shader) {
        std::vector<const typename S::Plate*> all;
        for (const auto& p : shader.plates)
            all.push_back(&p);
        const OfxRectI& origin = sourceImage->getBounds();
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue;
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            const float py = static_cast<float>(static_cast<std::int64_t>(y) - origin.y1);
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const float px = static_cast<float>(static_cast<std::int64_t>(x) - origin.x1);
                const PIX* src = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));
                shader.shadeAtPlates(src, dst, px, py, all.data(), all.size());
            }
        }
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

    void drawPlate(const OfxRectI& window, const PlateRect& found) {
        switch (compositing) {
        case Compositing::Accurate:
            return drawWith(window, plate::AccurateShader<PIX, maxValue>(*this, found));
        case Compositing::Compatible:
        default:
            return drawWith(window, plate::Shader<PIX, maxValue>(*this, found));
        }
    }

    template <class S> void drawWith(const OfxRectI& window, const S& shader) {
        const OfxRectI& origin = sourceImage->getBounds();
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue;
            auto* dst = static_cast<PIX*>(destinationImage->pixelAddress(window.x1, y));
            // 64-bit: images at opposite ends of the int range are further apart than an int.
            const float py = static_cast<float>(static_cast<std::int64_t>(y) - origin.y1);
            for (int x = window.x1; x < window.x2; ++x, dst += nComponents) {
                const float px = static_cast<float>(static_cast<std::int64_t>(x) - origin.x1);
                const PIX* src = static_cast<const PIX*>(sourceImage->pixelAddress(x, y));
                shader.shadeAt(src, dst, px, py);
            }
        }
    }
};
