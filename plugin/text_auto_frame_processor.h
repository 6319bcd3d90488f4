// Detecting the text and compositing the plate behind it, for the six pixel formats.
//
// The arithmetic is that of the shaders (plate::Shader, plate::AccurateShader), pixel for
// pixel; what is fast here is the order of work: the plate is detected and its arithmetic
// chosen once per render, before the threads start; rows are walked by pointer; and most
// pixels skip the geometry, because whole spans of a row are known to lie outside the plate or
// deep inside its fill. Only the pixels near the outline and the corners take the full
// per-pixel path.
#pragma once

#include "text_auto_frame_layout.h"
#include "text_auto_frame_simd.h"

#include <array>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace plate {

/// An image's rows by pointer; no rows when the image holds no pixel data.
template <class PIX> struct Rows {
    explicit Rows(const OFX::Image* image) {
        if (image && image->getPixelData() && image->getPixelBytes() > 0) {
            base = static_cast<unsigned char*>(image->getPixelData());
            rowBytes = image->getRowBytes();
            bounds = image->getBounds();
        }
    }
    bool hasRow(int y) const { return base && y >= bounds.y1 && y < bounds.y2; }
    /// Pixel (bounds.x1, y); y must be a row of the image.
    PIX* row(int y) const {
        return reinterpret_cast<PIX*>(base + static_cast<std::ptrdiff_t>(y - bounds.y1) * rowBytes);
    }

    unsigned char* base = nullptr;
    std::ptrdiff_t rowBytes = 0;
    OfxRectI bounds{0, 0, 0, 0};
};

/// "The tested channel exceeds the threshold", decided without converting each pixel for
/// integer channels: float(v) > T grows with v, so it holds exactly from one value up.
template <class PIX, int maxValue> struct TextTest {
    explicit TextTest(float threshold, bool vector = false) : threshold(threshold), vector(vector) {
        if constexpr (!std::is_floating_point_v<PIX>) {
            firstText = maxValue + 1;
            for (int v = maxValue; v >= 0 && static_cast<float>(v) > threshold; --v)
                firstText = v;
        }
    }
    bool operator()(PIX v) const {
        if constexpr (std::is_floating_point_v<PIX>)
            return v > threshold;
        else
            return static_cast<int>(v) >= firstText;
    }
    float threshold;
    int firstText = 0;
    bool vector; ///< the chunk tests may use vector instructions
};

// The word-wise text tests find alpha in the high bits of a pixel's word.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#elif defined(_WIN32)
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false; // unknown: the plain per-pixel test
#endif

inline int clampToInt(double v, int lo, int hi) {
    if (!(v > lo))
        return lo;
    if (v > hi)
        return hi;
    return static_cast<int>(v);
}

} // namespace plate

template <class PIX, int nComponents, int maxValue>
class TextAutoFrameProcessor : public TextAutoFrameProcessorBase {
public:
    explicit TextAutoFrameProcessor(OFX::ImageEffect& effect)
        : TextAutoFrameProcessorBase(effect, plate::bitDepthOf<PIX>(),
                                     nComponents == 4 ? OFX::PixelComponents::RGBA
                                                      : OFX::PixelComponents::Alpha) {}

    /// Detection, the choice of arithmetic and the per-render tables; runs on the calling
    /// thread before the bands.
    void beforeThreads() override {
        vector_ = plate::quad::vectorEnabled();
        if constexpr (nComponents == 4) {
            if (!parametersFinite())
                return;
            if (plateLayout == PlateLayout::Whole) {
                // The one plate is drawn as a layout of one.
                const PlateRect plate = detectPlateRect();
                if (plate.found)
                    plates_ = {{plate}};
            } else {
                plates_ = detectPlates();
            }
            if (plates_.empty())
                return;
            switch (compositing) {
            case Compositing::Accurate:
                accurate_.emplace(*this, plates_);
                prepareDrawing(*accurate_);
                draw_ = &TextAutoFrameProcessor::drawPlates<Accurate>;
                break;
            case Compositing::Compatible:
            default:
                compatible_.emplace(*this, plates_);
                prepareDrawing(*compatible_);
                draw_ = &TextAutoFrameProcessor::drawPlates<Compatible>;
                break;
            }
        }
    }

    void processWindow(const OfxRectI& window) override {
        if (draw_)
            (this->*draw_)(window);
        else
            copySource(window);
    }

    /// Bounding box of the pixels whose alpha (or only channel) exceeds the threshold, grown
    /// into the plate. The rows are scanned on the host's threads, each share its own bands,
    /// and the bands' boxes combined afterwards.
    PlateRect detectPlateRect() {
        if (!sourceImage)
            return {};
        const OfxRectI& b = sourceImage->getBounds();
        if (b.y1 >= b.y2)
            return {};
        const plate::Rows<PIX> rows(sourceImage);
        if (!rows.base || b.x2 <= b.x1)
            return {};
        // No buffer holds more than INT_MAX columns or rows; such bounds are not an image.
        if (static_cast<long long>(b.x2) - b.x1 > INT_MAX ||
            static_cast<long long>(b.y2) - b.y1 > INT_MAX)
            return {};
        const Extremes all = textExtremes(rows);
        if (!all.found)
            return {};
        return plate::plateFromExtremes(all.minX, all.maxX, all.minY, all.maxY, b.x2 - b.x1,
                                        b.y2 - b.y1, marginX, marginY, yOffset);
    }

    /// The plates of a block or line layout: the pieces of text are found by a sweep over
    /// the rows of fixed bands (on the host's threads), the blocks by merging what touches.
    /// Empty when nothing is detected.
    plate::PlateSet detectPlates() {
        if (!sourceImage)
            return {};
        const OfxRectI& b = sourceImage->getBounds();
        const plate::Rows<PIX> rows(sourceImage);
        if (!rows.base || b.x2 <= b.x1 || b.y2 <= b.y1)
            return {};
        if (static_cast<long long>(b.x2) - b.x1 > INT_MAX ||
            static_cast<long long>(b.y2) - b.y1 > INT_MAX)
            return {};
        // The extent of all the text first (quick: it stops at the first text from each
        // side); the pieces are looked for only within it.
        const Extremes all = textExtremes(rows);
        if (!all.found)
            return {};
        const plate::TextTest<PIX, maxValue> test(detectionThreshold * static_cast<float>(maxValue),
                                                  vector_);
        const plate::Reach reach = plate::Reach::of(*this);
        PiecePass pass(rows, test, reach, {all.minX, all.minY, all.maxX + 1, all.maxY + 1});
        pass.run();
        std::vector<plate::Box> blocks;
        for (const auto& band : pass.bands) {
            if (band.overflow) {
                // Too many pieces to group within a band: the one plate around all the text.
                return {
                    {plate::plateFromExtremes(all.minX, all.maxX, all.minY, all.maxY, b.x2 - b.x1,
                                              b.y2 - b.y1, marginX, marginY, yOffset)}};
            }
            blocks.insert(blocks.end(), band.blocks.begin(), band.blocks.end());
        }
        plate::mergeTouching(blocks, reach);
        return plate::platesOfBlocks(*this, blocks, b.x2 - b.x1, b.y2 - b.y1,
                                     [&](const plate::Box& block, int y) {
                                         const PIX* row = rows.row(y + b.y1);
                                         plate::RowExtent e;
                                         e.first = firstText(row, block.minX, block.maxX + 1, test);
                                         if (e.first >= 0)
                                             e.last = lastText(row, e.first, block.maxX + 1, test);
                                         return e;
                                     });
    }

    /// Exact copy of the source; zeros where the source has no pixel.
    void copySource(const OfxRectI& window) {
        const plate::Rows<PIX> dst(destinationImage);
        const plate::Rows<PIX> src(sourceImage);
        const int sx1 = std::clamp(src.bounds.x1, window.x1, window.x2);
        const int sx2 = std::clamp(src.bounds.x2, sx1, window.x2);
        const size_t pixelSize = sizeof(PIX) * nComponents;
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue; // row left as it was
            PIX* out =
                dst.row(y) + static_cast<std::ptrdiff_t>(window.x1 - dst.bounds.x1) * nComponents;
            if (!src.hasRow(y) || sx1 >= sx2) {
                std::memset(out, 0, pixelSize * static_cast<size_t>(window.x2 - window.x1));
                continue;
            }
            // Columns that detection found clear are zeros, written without reading them.
            int copyFrom = sx1, copyEnd = sx2;
            if (!clear_.empty()) {
                RowContext row{};
                row.in = src.row(y);
                row.srcFirst = sx1;
                row.srcEnd = sx2;
                clearColumns(row, y, src);
                copyFrom = row.clearEnd;
                copyEnd = std::max(row.clearFrom, copyFrom);
            }
            const PIX* in =
                src.row(y) + static_cast<std::ptrdiff_t>(copyFrom - src.bounds.x1) * nComponents;
            std::memset(out, 0, pixelSize * static_cast<size_t>(copyFrom - window.x1));
            std::memmove(out + static_cast<std::ptrdiff_t>(copyFrom - window.x1) * nComponents, in,
                         pixelSize * static_cast<size_t>(copyEnd - copyFrom));
            std::memset(out + static_cast<std::ptrdiff_t>(copyEnd - window.x1) * nComponents, 0,
                        pixelSize * static_cast<size_t>(window.x2 - copyEnd));
        }
    }

private:
    // What a span of a row is known to be.
    enum class Span {
        Outside,     ///< neither fill nor outline can reach it: the source recomputed
        Interior,    ///< deep in the fill, away from outline and corners: fill unless text
        ExactPlates, ///< near an outline or a corner: the whole per-pixel algorithm over the
                     ///< plates that reach the row
        Side,        ///< beside a left or right edge, where the plate depends on the column
        Straight,    ///< beside a straight edge, where the plate is the same all along
    };

    /// The text's extent within some rows, relative to the source's lower-left corner.
    struct Extremes {
        bool found = false;
        int minX = 0, maxX = 0, minY = 0, maxY = 0;

        void add(int first, int last, int v) {
            if (!found) {
                *this = {true, first, last, v, v};
                return;
            }
            minX = std::min(minX, first);
            maxX = std::max(maxX, last);
            minY = std::min(minY, v);
            maxY = std::max(maxY, v);
        }
        void merge(const Extremes& other) {
            if (!other.found)
                return;
            add(other.minX, other.maxX, other.minY);
            add(other.minX, other.maxX, other.maxY);
        }
    };

    /// Columns of a source row that detection read and found transparent, every bit zero:
    /// [0, left) and [right, width), relative to the source's left edge. The drawing writes
    /// their results without reading them again, so that outside the text the source is
    /// read once in all.
    struct Clear {
        int left = 0;
        int right = INT_MAX;
    };

    /// Scans the source's rows in bands, one box per band; each share writes only its own
    /// bands' boxes, and nothing is read until every share has returned.
    class DetectionPass : public OFX::MultiThread::Processor {
    public:
        /// `clear`: one entry per source row, or null.
        DetectionPass(const plate::Rows<PIX>& rows, float threshold, bool vector, Clear* clear)
            : rows_(rows), test_(threshold, vector), clear_(clear) {}

        void run() {
            unsigned int n = 1;
            if (Private().multiThreadNumCPUs(&n) != kOfxStatOK || n == 0)
                n = 1;
            bands.assign(std::min(n, 64u), Extremes());
            runThreads(static_cast<unsigned int>(bands.size()));
        }

        void processThreadShare(unsigned int index, unsigned int count) override {
            // A host may run more or fewer shares than asked for: every band is still
            // scanned by exactly one share.
            for (size_t band = index; band < bands.size(); band += count)
                scanBand(band);
        }

        std::vector<Extremes> bands;

    private:
        static const OfxMultiThreadSuiteV1& Private() { return OFX::Private::multiThreadSuite(); }

        void scanBand(size_t band) {
            const OfxRectI& b = rows_.bounds;
            const OfxRectI rowsOfBand = OFX::bandOfWindow(b, static_cast<unsigned int>(band),
                                                          static_cast<unsigned int>(bands.size()));
            const int width = b.x2 - b.x1;
            // The lowest and the highest text rows of the band, each from its own end; in
            // the rows between only the columns left and right of the box so far can add.
            Extremes found;
            int y = rowsOfBand.y1;
            for (; y < rowsOfBand.y2 && !found.found; ++y)
                scanRow(y, 0, width, found, y + 1 < rowsOfBand.y2 ? 1 : 0);
            const int lowest = y;
            // Counted down from y2 itself: y2 - 1 wraps for an empty band at the bottom of
            // the int range, and the loop would then walk four billion rows.
            for (int top = rowsOfBand.y2; top > lowest;) {
                --top;
                if (scanRow(top, 0, width, found, top > lowest ? -1 : 0)) {
                    for (int between = lowest; between < top; ++between) {
                        const int next = between + 1 < top ? 1 : 0;
                        scanRow(between, 0, found.minX, found, next);
                        scanRow(between, found.maxX + 1, width, found, next);
                    }
                    break;
                }
            }
            bands[band] = found;
        }

        /// Adds the text of columns [from, to) of row y; true when there was some. Columns
        /// without text that reach an end of the row are noted as clear if they are.
        /// `next`: the row read after this one (+1 or -1), fetched meanwhile; 0: none.
        bool scanRow(int y, int from, int to, Extremes& found, int next) const {
            if (from >= to)
                return false;
            const PIX* row = rows_.row(y);
            const PIX* ahead = next != 0 && test_.vector ? rows_.row(y + next) : nullptr;
            const int width = rows_.bounds.x2 - rows_.bounds.x1;
            bool zero = false;
            const int first =
                firstText(row, from, to, test_,
                          clear_ && (from == 0 || to == width) ? &zero : nullptr, ahead);
            if (first < 0) {
                if (zero) {
                    Clear& c = clear_[y - rows_.bounds.y1];
                    if (from == 0)
                        c.left = std::max(c.left, to);
                    if (to == width)
                        c.right = std::min(c.right, from);
                }
                return false;
            }
            found.add(first, lastText(row, first, to, test_), y - rows_.bounds.y1);
            return true;
        }

        const plate::Rows<PIX>& rows_;
        plate::TextTest<PIX, maxValue> test_;
        Clear* clear_;
    };

    std::vector<Clear> clear_; ///< per source row; empty: nothing known

    void noteClearColumns(const plate::Rows<PIX>& rows) {
        clear_.clear();
        // Narrow images would need more for the notes than for their pixels.
        if (rows.bounds.x2 - rows.bounds.x1 < 16)
            return;
        try {
            clear_.assign(static_cast<size_t>(rows.bounds.y2 - rows.bounds.y1), Clear());
        } catch (const std::bad_alloc&) {
            clear_.clear(); // the drawing reads every pixel instead
        }
    }

    /// The extent of all the text, relative to the source's corner, rows scanned in bands
    /// on the host's threads.
    Extremes textExtremes(const plate::Rows<PIX>& rows) {
        noteClearColumns(rows);
        DetectionPass pass(rows, detectionThreshold * static_cast<float>(maxValue), vector_,
                           clear_.empty() ? nullptr : clear_.data());
        pass.run();
        Extremes all;
        for (const Extremes& band : pass.bands)
            all.merge(band);
        return all;
    }

    /// Finds the blocks of each of a fixed number of row bands (the same whatever the thread
    /// count). Within a band, rows are swept upward: the blocks still within vertical reach
    /// are kept in column order, never touching one another, and each row's runs of text
    /// (those closer than the reach joined) are merged into them in one pass. Work per row
    /// is linear in its width; a band holding more than kBandBlocks blocks gives up.
    class PiecePass : public OFX::MultiThread::Processor {
    public:
        static constexpr unsigned kBands = 16;
        static constexpr size_t kBandBlocks = 256;
        struct Band {
            std::vector<plate::Box> blocks;
            bool overflow = false;
        };

        /// `area`: the columns and rows to search, relative to the source's corner.
        PiecePass(const plate::Rows<PIX>& rows, const plate::TextTest<PIX, maxValue>& test,
                  const plate::Reach& reach, const OfxRectI& area)
            : rows_(rows), test_(test), reach_(reach), area_(area) {}

        void run() {
            unsigned int n = 1;
            if (OFX::Private::multiThreadSuite().multiThreadNumCPUs(&n) != kOfxStatOK || n == 0)
                n = 1;
            const long long height = static_cast<long long>(area_.y2) - area_.y1;
            bands.assign(static_cast<size_t>(std::min<long long>(kBands, height)), Band());
            runThreads(std::min(n, static_cast<unsigned int>(bands.size())));
        }

        void processThreadShare(unsigned int index, unsigned int count) override {
            for (size_t band = index; band < bands.size(); band += count)
                sweep(band);
        }

        std::vector<Band> bands;

    private:
        void sweep(size_t index) {
            const OfxRectI& b = rows_.bounds;
            const OfxRectI rowsOfBand = OFX::bandOfWindow(area_, static_cast<unsigned int>(index),
                                                          static_cast<unsigned int>(bands.size()));
            Band& band = bands[index];
            std::vector<plate::Box> active, next, runs;
            for (int ry = rowsOfBand.y1; ry < rowsOfBand.y2; ++ry) {
                next.clear();
                for (const plate::Box& block : active) {
                    if (!reach_.withinY(ry - static_cast<double>(block.maxY)))
                        band.blocks.push_back(block); // out of reach from here on
                    else
                        next.push_back(block);
                }
                active.swap(next);
                runsOfRow(rows_.row(ry + b.y1), ry, runs);
                // Every block kept and every run lie within vertical reach of one another, so
                // whatever touches in columns belongs together.
                next.clear();
                for (size_t i = 0, j = 0; i < active.size() || j < runs.size();) {
                    const bool takeBlock =
                        j >= runs.size() || (i < active.size() && active[i].minX <= runs[j].minX);
                    const plate::Box& item = takeBlock ? active[i++] : runs[j++];
                    if (!next.empty() &&
                        reach_.touchX(next.back().minX, next.back().maxX, item.minX, item.maxX))
                        next.back().add(item);
                    else
                        next.push_back(item);
                }
                active.swap(next);
                if (active.size() + band.blocks.size() > kBandBlocks) {
                    band.overflow = true;
                    return;
                }
            }
            band.blocks.insert(band.blocks.end(), active.begin(), active.end());
            plate::mergeTouching(band.blocks, reach_);
        }

        /// The runs of text of one row, those closer than the reach joined, in column order.
        void runsOfRow(const PIX* row, int ry, std::vector<plate::Box>& runs) const {
            runs.clear();
            const int width = area_.x2;
            int start = firstText(row, area_.x1, width, test_);
            while (start >= 0) {
                int last = start, next = -1;
                for (;;) {
                    int end = last + 1;
                    while (end < width && test_(testedChannel(row, end)))
                        ++end;
                    last = end - 1;
                    next = end < width ? firstText(row, end, width, test_) : -1;
                    if (next < 0 || static_cast<double>(next) - last > reach_.x)
                        break;
                    last = next;
                }
                runs.push_back({start, last, ry, ry});
                start = next;
            }
        }

        const plate::Rows<PIX>& rows_;
        plate::TextTest<PIX, maxValue> test_;
        plate::Reach reach_;
        OfxRectI area_;
    };

    /// The tested channel of pixel x.
    static PIX testedChannel(const PIX* row, int x) {
        return row[x * nComponents + nComponents - 1];
    }

    /// The first text column of [from, to), or -1. With `zero`, when there is none, also
    /// whether every bit of those pixels is zero.
    static int firstText(const PIX* row, int from, int to,
                         const plate::TextTest<PIX, maxValue>& test, bool* zero = nullptr,
                         const PIX* ahead = nullptr) {
        constexpr int kChunk = 16;
        int x = from;
        bool nonzero = false;
        // Whole chunks first: the test over a chunk has no early exit, so it vectorises.
        for (; x + kChunk <= to; x += kChunk) {
            if (ahead) // the same columns of the row read next
                plate::quad::prefetch(ahead + x * nComponents,
                                      static_cast<int>(kChunk * nComponents * sizeof(PIX)));
            if (anyText(row, x, test))
                break;
            if (zero)
                nonzero = nonzero || !chunkZero(row + x * nComponents, test.vector);
        }
        for (; x < to; ++x) {
            if (test(testedChannel(row, x)))
                return x;
            if (zero)
                for (int c = 0; c < nComponents; ++c)
                    nonzero = nonzero || !isZeroBits(row[x * nComponents + c]);
        }
        if (zero)
            *zero = !nonzero;
        return -1;
    }

    static bool isZeroBits(PIX v) {
        PIX z = 0;
        return std::memcmp(&v, &z, sizeof v) == 0;
    }

    /// Whether every bit of 16 pixels is zero.
    static bool chunkZero(const PIX* p, bool vector) {
        if constexpr (nComponents == 4) {
            bool zero = true;
            for (int k = 0; k < 4; ++k)
                zero = zero && plate::quad::allZero(p + 16 * k, vector);
            return zero;
        } else {
            for (int k = 0; k < 16; ++k)
                if (!isZeroBits(p[k]))
                    return false;
            return true;
        }
    }

    static int lastText(const PIX* row, int from, int to,
                        const plate::TextTest<PIX, maxValue>& test) {
        constexpr int kChunk = 16;
        int x = to;
        for (; x - kChunk >= from; x -= kChunk)
            if (anyText(row, x - kChunk, test))
                break;
        for (--x; x >= from; --x)
            if (test(testedChannel(row, x)))
                return x;
        return -1;
    }

    /// Whether any of the 16 pixels from x on is text.
    static bool anyText(const PIX* row, int x, const plate::TextTest<PIX, maxValue>& test) {
#ifdef NIMBRA_SSE2
        if constexpr (nComponents == 4) {
            if (test.vector) {
                if constexpr (std::is_floating_point_v<PIX>) {
                    return plate::quad::anyAlphaAbove(row + x * 4, test.threshold);
                } else {
                    if (test.firstText <= 0)
                        return true;
                    if (test.firstText > maxValue)
                        return false;
                    return plate::quad::anyAlphaAtLeast(row + x * 4, test.firstText);
                }
            }
        }
#endif
        // Whole words at a time: adding (limit - first) to a channel carries into the bit
        // just above it exactly when the channel is at least `first`.
        if constexpr (plate::kLittleEndian && std::is_same_v<PIX, unsigned char> &&
                      nComponents == 4) {
            std::uint64_t words[8]; // two pixels each, alpha in the top byte of each half
            std::memcpy(words, row + x * 4, sizeof words);
            const std::uint64_t add =
                (256u - static_cast<std::uint64_t>(test.firstText)) * 0x0000000100000001ull;
            std::uint64_t any = 0;
            for (std::uint64_t w : words)
                any |= (((w >> 24) & 0x000000FF000000FFull) + add) & 0x0000010000000100ull;
            return any != 0;
        } else if constexpr (plate::kLittleEndian && std::is_same_v<PIX, unsigned short> &&
                             nComponents == 4) {
            std::uint64_t words[16]; // one pixel each, alpha in the top 16 bits
            std::memcpy(words, row + x * 4, sizeof words);
            const std::uint64_t add = 65536u - static_cast<std::uint64_t>(test.firstText);
            std::uint64_t any = 0;
            for (std::uint64_t w : words)
                any |= ((w >> 48) + add) & 0x10000ull;
            return any != 0;
        } else {
            bool any = false;
            for (int k = 0; k < 16; ++k)
                any |= test(testedChannel(row, x + k));
            return any;
        }
    }

    using Compatible = plate::Shader<PIX, maxValue>;
    using Accurate = plate::AccurateShader<PIX, maxValue>;

    template <class S> const S& shader() const {
        if constexpr (std::is_same_v<S, Accurate>)
            return *accurate_;
        else
            return *compatible_;
    }

    template <class S> void prepareDrawing(const S& s) {
        s.shadeInterior(nullptr, interiorOverNothing_);
        // Not the same as no pixel: in the compatible arithmetic with a threshold below zero
        // a transparent pixel is text.
        s.shadeInterior(zeroPixel_, interiorOverZero_);

        // Eight bits: away from the outline a pixel's result depends only on its own channel
        // and alpha, so each is a table lookup. A table row, one alpha's results, costs as
        // much as a few hundred pixels, so rows are made the first time a pixel needs them (a
        // frame of text holds few alphas), and small windows (thumbnails, tiles) compute
        // directly.
        const long long pixels = (static_cast<long long>(renderWindow.x2) - renderWindow.x1) *
                                 (static_cast<long long>(renderWindow.y2) - renderWindow.y1);
        useTables_ = std::is_same_v<PIX, unsigned char> && pixels >= kTablePixels;
        if (useTables_) {
            recomputed_.resize(S::kCopiesOutside ? 0 : 256 * 256);
            interior_.resize(3 * 256 * 256);
            for (std::atomic<unsigned char>& state : tableRows_)
                state.store(kRowMissing, std::memory_order_relaxed);
        }
    }

    /// The table row of alpha a, made by the calling thread.
    template <class S> void makeTableRow(const S& s, int a) const {
        for (int c = 0; c < 256; ++c) {
            const PIX in[4] = {PIX(c), PIX(c), PIX(c), PIX(a)};
            PIX out[4];
            if constexpr (!S::kCopiesOutside) {
                s.shadeOutside(in, out);
                recomputed_[a * 256 + c] = out[0];
                if (c == 0)
                    recomputedAlpha_[a] = out[3];
            }
            s.shadeInterior(in, out);
            for (int ch = 0; ch < 3; ++ch)
                interior_[(ch * 256 + a) * 256 + c] = out[ch];
            if (c == 0)
                interiorAlpha_[a] = out[3];
        }
    }

    /// Whether alpha a's table row is ready, making it if no other thread is: a thread that
    /// finds it in the making computes its pixel directly meanwhile.
    template <class S> bool tableRowReady(const S& s, int a) const {
        std::atomic<unsigned char>& state = tableRows_[a];
        unsigned char seen = state.load(std::memory_order_acquire);
        if (seen == kRowReady)
            return true;
        if (seen != kRowMissing ||
            !state.compare_exchange_strong(seen, kRowMaking, std::memory_order_relaxed))
            return false;
        makeTableRow(s, a);
        state.store(kRowReady, std::memory_order_release);
        return true;
    }

    /// The layouts' drawing: per row, the plates whose reach holds the row, each with its
    /// columns; where the reaches of two plates meet, all their columns take the whole
    /// per-pixel path over every plate of the row.
    template <class S> void drawPlates(const OfxRectI& window) {
        using Plate = typename S::Plate;
        const S& s = shader<S>();
        const plate::Rows<PIX> dst(destinationImage);
        const plate::Rows<PIX> src(sourceImage);
        const OfxRectI& origin = sourceImage->getBounds();
        const int sx1 = std::clamp(src.bounds.x1, window.x1, window.x2);
        const int sx2 = std::clamp(src.bounds.x2, sx1, window.x2);
        bool valid = true;
        for (const Plate& p : s.plates)
            for (const plate::SpanBounds& b : p.bounds)
                valid = valid && b.valid;
        std::vector<const Plate*> all, here;
        for (const Plate& p : s.plates)
            all.push_back(&p);
        // A shape of lines has many edges; a row's pixels are measured only against those
        // that can come near the row.
        std::vector<Plate> nearRow(s.plates.size(), s.plates.front());
        std::vector<SideColumns<S>> sides(s.plates.size());
        struct Reached {
            int first, end, innerFirst, innerEnd;
            double reachLo, reachHi; ///< px
            const Plate* plate;
        };
        std::vector<Reached> reached;
        for (int y = window.y1; y < window.y2; ++y) {
            if (effect.abortRequested())
                continue; // row left as it was
            PIX* out =
                dst.row(y) + static_cast<std::ptrdiff_t>(window.x1 - dst.bounds.x1) * nComponents;
            const PIX* in = src.hasRow(y) && sx1 < sx2 ? src.row(y) : nullptr;
            RowContext row{out,
                           window.x1,
                           in,
                           src.bounds.x1,
                           in ? sx1 : window.x2,
                           in ? sx2 : window.x2,
                           relative(y, origin.y1),
                           origin.x1};
            clearColumns(row, y, src);
            if (!valid) {
                row.plates = reinterpret_cast<const void* const*>(all.data());
                row.plateCount = all.size();
                span<Span::ExactPlates>(s, row, window.x1, window.x2);
                continue;
            }
            const double py = row.py;
            auto columns = [&](double lo, double hi, int& first, int& end) {
                first = plate::clampToInt(std::ceil(lo) + origin.x1, window.x1, window.x2);
                end = plate::clampToInt(std::floor(hi) + origin.x1 + 1, first, window.x2);
            };
            here.clear();
            reached.clear();
            for (const Plate& p : s.plates) {
                double lo = 0, hi = -1, innerLo = 0, innerHi = -1;
                bool any = false;
                for (const plate::SpanBounds& b : p.bounds) {
                    if (py < b.reachBottom || py > b.reachTop)
                        continue;
                    lo = any ? std::min(lo, b.reachLeft) : b.reachLeft;
                    hi = any ? std::max(hi, b.reachRight) : b.reachRight;
                    any = true;
                    if (py >= b.innerBottom && py <= b.innerTop &&
                        b.innerRight - b.innerLeft > innerHi - innerLo) {
                        innerLo = b.innerLeft;
                        innerHi = b.innerRight;
                    }
                }
                if (!any)
                    continue;
                double lo2, hi2;
                p.innerColumns(py, lo2, hi2);
                if (lo2 <= hi2 && hi2 - lo2 > innerHi - innerLo) {
                    innerLo = lo2;
                    innerHi = hi2;
                }
                const Plate* drawn = &p;
                if (!p.single) {
                    Plate& near = nearRow[static_cast<size_t>(&p - s.plates.data())];
                    near = p;
                    near.outline.keepNear(py, p.clearance);
                    drawn = &near;
                }
                Reached r;
                r.plate = &p;
                r.reachLo = lo;
                r.reachHi = hi;
                columns(lo, hi, r.first, r.end);
                r.innerFirst = r.innerEnd = r.first;
                if (innerHi >= innerLo) {
                    columns(innerLo, innerHi, r.innerFirst, r.innerEnd);
                    r.innerFirst = std::clamp(r.innerFirst, r.first, r.end);
                    r.innerEnd = std::clamp(r.innerEnd, r.innerFirst, r.end);
                }
                here.push_back(drawn);
                reached.push_back(r);
            }
            row.plates = reinterpret_cast<const void* const*>(here.data());
            row.plateCount = here.size();
            std::sort(reached.begin(), reached.end(),
                      [](const Reached& a, const Reached& b) { return a.first < b.first; });
            int x = window.x1;
            for (size_t i = 0; i < reached.size();) {
                Reached r = reached[i];
                size_t j = i + 1;
                for (; j < reached.size() && reached[j].first < r.end; ++j) {
                    r.end = std::max(r.end, reached[j].end);
                    r.innerFirst = r.innerEnd = r.first; // plates meet: no shortcut inside
                    r.plate = nullptr;
                }
                const int first = std::max(r.first, x);
                span<Span::Outside>(s, row, x, first);
                int innerFirst = std::clamp(r.innerFirst, first, r.end);
                int innerEnd = std::clamp(r.innerEnd, innerFirst, r.end);
                if (innerFirst == innerEnd && r.plate) {
                    // A row along a top or bottom edge: between the corners, one plate.
                    double lo, hi;
                    s.straightColumns(*r.plate, py, r.reachLo, r.reachHi, lo, hi);
                    if (lo <= hi) {
                        columns(lo, hi, innerFirst, innerEnd);
                        innerFirst = std::clamp(innerFirst, first, r.end);
                        innerEnd = std::clamp(innerEnd, innerFirst, r.end);
                    }
                    if (innerFirst < innerEnd) {
                        const typename S::Local local =
                            s.localAt(*r.plate, relative(innerFirst, origin.x1), row.py);
                        row.local = &local;
                        s.shadeLocal(nullptr, row.localOverNothing, local);
                        s.shadeLocal(zeroPixel_, row.localOverZero, local);
                        span<Span::ExactPlates>(s, row, first, innerFirst);
                        span<Span::Straight>(s, row, innerFirst, innerEnd);
                        span<Span::ExactPlates>(s, row, innerEnd, r.end);
                        x = std::max(x, r.end);
                        i = j;
                        continue;
                    }
                }
                if (r.plate && r.plate->single && innerFirst < innerEnd) {
                    // A row of a lone plate's inner rows.
                    SideColumns<S>& side = sides[static_cast<size_t>(r.plate - s.plates.data())];
                    // The same columns in every inner row of the plate: a lone plate's reach
                    // and inner columns do not depend on the row.
                    if (!side.built)
                        side.build(s, *r.plate, first, innerFirst, innerEnd, r.end, row.py,
                                   origin.x1);
                    row.side = &side;
                    span<Span::Side>(s, row, first, innerFirst);
                    span<Span::Interior>(s, row, innerFirst, innerEnd);
                    span<Span::Side>(s, row, innerEnd, r.end);
                } else {
                    span<Span::ExactPlates>(s, row, first, innerFirst);
                    span<Span::Interior>(s, row, innerFirst, innerEnd);
                    span<Span::ExactPlates>(s, row, innerEnd, r.end);
                }
                x = std::max(x, r.end);
                i = j;
            }
            span<Span::Outside>(s, row, x, window.x2);
        }
    }

    /// Position of a pixel from the source's corner; 64-bit, as images at opposite ends of
    /// the int range are further apart than an int holds.
    static float relative(int position, int origin) {
        return static_cast<float>(static_cast<std::int64_t>(position) - origin);
    }

    struct RowContext {
        PIX* out; ///< destination pixel at column outX
        int outX;
        const PIX* in; ///< source pixel at column inX, or null: no source row
        int inX;
        int srcFirst, srcEnd; ///< columns of the window the source holds
        float py;
        int originX;
        const void* const* plates = nullptr; ///< the shader's plates that reach the row
        size_t plateCount = 0;
        int clearEnd = 0, clearFrom = 0; ///< source columns known clear: before, from
        const void* local = nullptr;     ///< the shader's Local of a Straight span
        const void* side = nullptr;      ///< the SideColumns of a Side span
        PIX localOverNothing[4] = {0, 0, 0, 0};
        PIX localOverZero[4] = {0, 0, 0, 0};
    };

    /// Beside the left and right edges of a lone plate, in its inner rows, the plate depends
    /// on the column alone: the top and bottom edges are further than the outline reaches,
    /// and so are the corners. Each column's plate, and its result over a transparent pixel
    /// and over none, are worked out once per drawing.
    template <class S> struct SideColumns {
        bool built = false;
        int first = 0, innerFirst = 0, innerEnd = 0,
            end = 0; ///< [first, innerFirst), [innerEnd, end)
        std::vector<typename S::Local> local;
        std::vector<std::array<PIX, 4>> overZero, overNothing;

        size_t index(int x) const {
            return x < innerFirst ? static_cast<size_t>(x - first)
                                  : static_cast<size_t>(innerFirst - first) +
                                        static_cast<size_t>(x - innerEnd);
        }
        void build(const S& s, const typename S::Plate& plate, int first_, int innerFirst_,
                   int innerEnd_, int end_, float py, int originX) {
            built = true;
            first = first_;
            innerFirst = innerFirst_;
            innerEnd = innerEnd_;
            end = end_;
            const size_t n =
                static_cast<size_t>(innerFirst - first) + static_cast<size_t>(end - innerEnd);
            local.resize(n);
            overZero.resize(n);
            overNothing.resize(n);
            auto columns = [&](int from, int to) {
                for (int x = from; x < to; ++x) {
                    const size_t i = index(x);
                    local[i] = s.localAt(plate, relative(x, originX), py);
                    s.shadeLocal(zeroPixel_, overZero[i].data(), local[i]);
                    s.shadeLocal(nullptr, overNothing[i].data(), local[i]);
                }
            };
            columns(first, innerFirst);
            columns(innerEnd, end);
        }
    };

    /// Where row y's source pixels are known clear: [srcFirst, clearEnd) and
    /// [clearFrom, srcEnd) of the window.
    void clearColumns(RowContext& row, int y, const plate::Rows<PIX>& src) const {
        row.clearEnd = row.srcFirst;
        row.clearFrom = row.srcEnd;
        if (!row.in || clear_.empty())
            return;
        const Clear& c = clear_[static_cast<size_t>(static_cast<std::int64_t>(y) - src.bounds.y1)];
        const std::int64_t x1 = src.bounds.x1;
        row.clearEnd =
            static_cast<int>(std::clamp<std::int64_t>(x1 + c.left, row.srcFirst, row.srcEnd));
        row.clearFrom =
            static_cast<int>(std::clamp<std::int64_t>(x1 + c.right, row.clearEnd, row.srcEnd));
    }

    template <class S> static const typename S::Plate* const* platesOf(const RowContext& row) {
        return reinterpret_cast<const typename S::Plate* const*>(row.plates);
    }

    /// Columns [first, end) of one row, all of one kind.
    template <Span kind, class S>
    void span(const S& s, const RowContext& row, int first, int end) const {
        if (first >= end)
            return;
        // Split by where the source has pixels, so the loops below never test for it.
        const int a = std::clamp(row.srcFirst, first, end);
        const int b = std::clamp(row.srcEnd, a, end);
        spanWithout<kind>(s, row, first, a);
        if constexpr (kind == Span::ExactPlates || kind == Span::Side) {
            spanWith<kind>(s, row, a, b);
        } else {
            // Clear source pixels all give the result of a transparent one.
            const int c = std::clamp(row.clearEnd, a, b);
            const int d = std::clamp(row.clearFrom, c, b);
            spanClear<kind>(row, a, c);
            spanWith<kind>(s, row, c, d);
            spanClear<kind>(row, d, b);
        }
        spanWithout<kind>(s, row, b, end);
    }

    /// Columns [first, end) of a span over clear source pixels.
    template <Span kind> void spanClear(const RowContext& row, int first, int end) const {
        if (first >= end)
            return;
        const PIX* constant = kind == Span::Outside    ? zeroPixel_
                              : kind == Span::Interior ? interiorOverZero_
                                                       : row.localOverZero;
        fillPixels(row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4, constant,
                   end - first);
    }

    /// n copies of one pixel.
    void fillPixels(PIX* out, const PIX* pixel, int n) const {
        if (isZero<1>(pixel)) {
            std::memset(out, 0, sizeof(PIX) * 4 * static_cast<size_t>(n));
            return;
        }
        int x = 0;
        for (; n - x >= 4; x += 4, out += 16)
            plate::quad::fill(out, pixel, vector_);
        for (; x < n; ++x, out += 4)
            std::memcpy(out, pixel, sizeof(PIX) * 4);
    }

    template <Span kind, class S>
    void spanWithout(const S& s, const RowContext& row, int first, int end) const {
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        for (int x = first; x < end; ++x, out += 4) {
            if constexpr (kind == Span::Outside) {
                out[0] = out[1] = out[2] = out[3] = PIX(0);
            } else if constexpr (kind == Span::Interior) {
                std::copy(interiorOverNothing_, interiorOverNothing_ + 4, out);
            } else if constexpr (kind == Span::ExactPlates) {
                s.shadeAtPlates(nullptr, out, relative(x, row.originX), row.py, platesOf<S>(row),
                                row.plateCount);
            } else if constexpr (kind == Span::Side) {
                const auto& side = *static_cast<const SideColumns<S>*>(row.side);
                std::memcpy(out, side.overNothing[side.index(x)].data(), sizeof(PIX) * 4);
            } else {
                static_assert(kind == Span::Straight);
                std::copy(row.localOverNothing, row.localOverNothing + 4, out);
            }
        }
    }

    /// Whether every channel of n pixels is zero (bit for bit): transparent source pixels
    /// are the common case and their result is one constant per kind of span.
    template <int n> static bool isZero(const PIX* pixels) {
        constexpr size_t bytes = sizeof(PIX) * 4 * n;
        std::uint64_t words[(bytes + 7) / 8] = {};
        std::memcpy(words, pixels, bytes);
        std::uint64_t any = 0;
        for (std::uint64_t w : words)
            any |= w;
        return any == 0;
    }

    template <Span kind, class S>
    void spanWith(const S& s, const RowContext& row, int first, int end) const {
        if (first >= end) // without source pixels here, inX may be a world away from first
            return;
        PIX* out = row.out + static_cast<std::ptrdiff_t>(first - row.outX) * 4;
        const PIX* in = row.in + static_cast<std::ptrdiff_t>(first - row.inX) * 4;
        if constexpr (kind == Span::ExactPlates) {
            for (int x = first; x < end; ++x, out += 4, in += 4)
                s.shadeAtPlates(in, out, relative(x, row.originX), row.py, platesOf<S>(row),
                                row.plateCount);
        } else if constexpr (kind == Span::Side) {
            const auto& side = *static_cast<const SideColumns<S>*>(row.side);
            for (int x = first; x < end; ++x, out += 4, in += 4) {
                const size_t i = side.index(x);
                if (isZero<1>(in))
                    std::memcpy(out, side.overZero[i].data(), sizeof(PIX) * 4);
                else
                    s.shadeLocal(in, out, side.local[i]);
            }
        } else if constexpr (kind == Span::Straight) {
            const auto& local = *static_cast<const typename S::Local*>(row.local);
            for (int x = first; x < end; ++x, out += 4, in += 4) {
                if (isZero<1>(in))
                    std::memcpy(out, row.localOverZero, sizeof(PIX) * 4);
                else
                    s.shadeLocal(in, out, local);
            }
        } else if constexpr (kind == Span::Outside && S::kCopiesOutside) {
            std::memmove(out, in, sizeof(PIX) * 4 * static_cast<size_t>(end - first));
        } else {
            // Away from the outline a pixel's result depends on the pixel alone. Transparent
            // pixels, the common case, give a constant, and a run of one colour (a glyph's
            // inside) the result of its first pixel: four pixels at a time are tested for
            // either before any is worked out.
            const PIX* constant = kind == Span::Outside ? zeroPixel_ : interiorOverZero_;
            PIX lastIn[4] = {0, 0, 0, 0}, lastOut[4] = {0, 0, 0, 0};
            std::copy(constant, constant + 4, lastOut);
            const bool vector = vector_;
            auto one = [&](const PIX* pixel, PIX* result) {
                if (plate::quad::samePixel(pixel, lastIn)) {
                    std::memcpy(result, lastOut, sizeof lastOut);
                    return;
                }
                if (isZero<1>(pixel)) {
                    std::memcpy(result, constant, sizeof lastOut);
                    return;
                }
                shadeAway<kind>(s, pixel, result);
                std::memcpy(lastIn, pixel, sizeof lastIn);
                std::memcpy(lastOut, result, sizeof lastOut);
            };
            int x = first;
            for (; end - x >= 4; x += 4, out += 16, in += 16) { // x + 4 may not fit an int
                if (plate::quad::allZero(in, vector)) {
                    plate::quad::fill(out, constant, vector);
                    continue;
                }
                // A glyph's inside, or its pixels among transparent ones.
                if (plate::quad::zeroOrSame(in, lastIn, constant, lastOut, out, vector))
                    continue;
                for (int k = 0; k < 4; ++k)
                    one(in + 4 * k, out + 4 * k);
            }
            for (; x < end; ++x, out += 4, in += 4)
                one(in, out);
        }
    }

    /// One pixel away from the outline and the corners.
    template <Span kind, class S> void shadeAway(const S& s, const PIX* in, PIX* out) const {
        if constexpr (std::is_same_v<PIX, unsigned char>) {
            if (useTables_ && tableRowReady(s, in[3])) {
                const unsigned char* colour =
                    kind == Span::Outside ? recomputed_.data() : interior_.data();
                const size_t plane = kind == Span::Outside ? 0 : 256 * 256;
                const unsigned char* alpha =
                    kind == Span::Outside ? recomputedAlpha_ : interiorAlpha_;
                const size_t a = static_cast<size_t>(in[3]) * 256;
                out[0] = colour[a + in[0]];
                out[1] = colour[plane + a + in[1]];
                out[2] = colour[2 * plane + a + in[2]];
                out[3] = alpha[in[3]];
                return;
            }
        }
        if constexpr (kind == Span::Outside)
            s.shadeOutside(in, out);
        else
            s.shadeInterior(in, out);
    }

    plate::PlateSet plates_;
    std::optional<Compatible> compatible_;
    std::optional<Accurate> accurate_;
    /// The drawing of the chosen arithmetic; null: copy the source.
    using Drawing = void (TextAutoFrameProcessor::*)(const OfxRectI&);
    Drawing draw_ = nullptr;
    bool useTables_ = false;
    bool vector_ = false; ///< four-pixel tests and stores in vector instructions
    static constexpr long long kTablePixels = 1 << 16;
    PIX interiorOverNothing_[4] = {0, 0, 0, 0}; ///< interior result where the source has no pixel
    PIX interiorOverZero_[4] = {0, 0, 0, 0};    ///< interior result of a transparent pixel
    static constexpr PIX zeroPixel_[4] = {0, 0, 0, 0};
    // The tables' rows are written by the thread that makes them, once, while the threads
    // run; a row is read only once its state says it is ready.
    mutable std::vector<unsigned char> recomputed_; ///< [alpha][channel]
    mutable std::vector<unsigned char> interior_;   ///< [R, G, B][alpha][channel]
    mutable unsigned char recomputedAlpha_[256] = {};
    mutable unsigned char interiorAlpha_[256] = {};
    static constexpr unsigned char kRowMissing = 0, kRowMaking = 1, kRowReady = 2;
    mutable std::atomic<unsigned char> tableRows_[256] = {}; ///< per alpha
};
