// The effect's processors for the six pixel formats: before the threads start, the text is
// detected over the whole source and its plates laid out; then each thread draws its band of
// the render window (or copies the source where there is nothing to draw).
#pragma once

#include "plate_drawing.h"
#include "plate_layout.h"
#include "text_auto_frame_processor_base.h"

#include <climits>
#include <optional>
#include <vector>

template <class PIX, int nComponents, int maxValue>
class TextAutoFrameProcessor : public TextAutoFrameProcessorBase {
public:
    explicit TextAutoFrameProcessor(OFX::ImageEffect& effect)
        : TextAutoFrameProcessorBase(effect, plate::bitDepthOf<PIX>(),
                                     nComponents == 4 ? OFX::PixelComponents::RGBA
                                                      : OFX::PixelComponents::Alpha) {}

    /// Detection, the layout and the drawing's set-up; runs on the calling thread before the
    /// bands.
    void beforeThreads() override {
        if constexpr (nComponents == 4) {
            const bool vector = plate::quad::vectorEnabled();
            if (!params.finite())
                return;
            const plate::Plates plates = platesOfSource(vector);
            if (plates.empty())
                return;
            shadow_ = plate::ShadowField(params, plates, params.outlineReach());
            if (params.compositing == plate::Compositing::Accurate)
                accurate_.emplace(params, plates, shadow_, renderWindow, vector);
            else
                compatible_.emplace(params, plates, shadow_, renderWindow, vector);
        }
    }

    void processWindow(const OfxRectI& window) override {
        const plate::Rows<PIX> dst = plate::rowsOf<PIX>(destinationImage);
        const plate::Rows<PIX> src = plate::rowsOf<PIX>(sourceImage);
        auto abortRequested = [this] { return effect.abortRequested(); };
        if constexpr (nComponents == 4) {
            if (accurate_)
                return accurate_->draw(window, dst, src, clear_, abortRequested);
            if (compatible_)
                return compatible_->draw(window, dst, src, clear_, abortRequested);
        }
        plate::copyRows<PIX, nComponents>(window, dst, src, clear_, abortRequested);
    }

private:
    using Test = plate::TextTest<PIX, maxValue>;

    /// The plates of the text in the source, laid out; none when nothing is detected. Notes the
    /// clear columns on the way.
    plate::Plates platesOfSource(bool vector) {
        const plate::Rows<PIX> rows = plate::rowsOf<PIX>(sourceImage);
        const OfxRectI& b = rows.bounds;
        if (!rows.base || b.x2 <= b.x1 || b.y2 <= b.y1)
            return {};
        // No buffer holds more than INT_MAX columns or rows; such bounds are not an image.
        if (static_cast<long long>(b.x2) - b.x1 > INT_MAX ||
            static_cast<long long>(b.y2) - b.y1 > INT_MAX)
            return {};
        const plate::Threads threads = plate::hostThreads();
        const Test test(params.detectionThreshold * static_cast<float>(maxValue), vector);
        clear_.prepare(rows.width(), rows.height());
        const plate::Extent all = plate::textExtent(rows, test, threads, &clear_);
        if (!all.found)
            return {};
        const plate::Plate whole = {plate::plateFromExtremes(all.minX, all.maxX, all.minY, all.maxY,
                                                             rows.width(), rows.height(), params)};
        if (params.plateLayout == plate::PlateLayout::Whole)
            return {whole};
        // The pieces are looked for only within the extent of all the text.
        const plate::Reach reach = plate::Reach::of(params);
        const plate::BlockSearch search = plate::findBlocks(
            rows, test, reach, {all.minX, all.minY, all.maxX + 1, all.maxY + 1}, threads);
        if (search.overflow) // too many pieces to group: the one plate around all the text
            return {whole};
        using Scan = plate::RowScan<PIX, maxValue>;
        auto linesOf = [&](const plate::Box& block) {
            if (params.plateLayout == plate::PlateLayout::Columns)
                return Scan::verticalLines(rows, block, params.lineGap, test);
            return plate::linesOfBlock(block, params.lineGap, plate::Along::Rows,
                                       [&](int y) { return Scan::within(rows, block, y, test); });
        };
        return plate::platesOfBlocks(params, search.blocks, rows.width(), rows.height(), linesOf);
    }

    plate::ClearNotes clear_;
    plate::ShadowField shadow_;
    std::optional<plate::Drawing<PIX, maxValue, plate::CompatibleShading<PIX, maxValue>>>
        compatible_;
    std::optional<plate::Drawing<PIX, maxValue, plate::AccurateShading<PIX, maxValue>>> accurate_;
};
