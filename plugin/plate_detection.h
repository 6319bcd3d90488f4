// Finding the text in an RGBA source: the extent of every pixel whose alpha passes the
// threshold, the pieces of text grouped into blocks, each row's text within a block, and notes
// of the columns read and found wholly transparent. Rows are scanned in bands, possibly on
// several threads at once; each function returns its findings as a value.
#pragma once

#include "plate_layout.h"
#include "plate_rows.h"
#include "plate_simd.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <vector>

namespace plate {

/// Runs share(index, count) for every index below the count it was asked for, possibly on
/// several threads at once, and returns when every share has. `count` is the number of shares
/// actually run, which a host may make larger or smaller than asked. `cpus` is how many the
/// host would run at once.
struct Threads {
    using Share = std::function<void(unsigned index, unsigned count)>;
    unsigned cpus = 1;
    std::function<void(unsigned shares, const Share& share)> run = [](unsigned shares,
                                                                      const Share& share) {
        for (unsigned i = 0; i < shares; ++i)
            share(i, shares);
    };
};

/// "The alpha exceeds the threshold", decided without converting each pixel for integer
/// channels: float(v) > T grows with v, so it holds exactly from one value up.
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

/// The text's extent, relative to the source's lower-left corner.
struct Extent {
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
    void merge(const Extent& other) {
        if (!other.found)
            return;
        add(other.minX, other.maxX, other.minY);
        add(other.minX, other.maxX, other.maxY);
    }
};

/// Columns of each source row that detection read and found transparent, every bit zero:
/// [0, left) and [right, width), relative to the source's left edge. The drawing writes their
/// results without reading them again, so that outside the text the source is read once in
/// all. Empty: nothing known.
struct ClearNotes {
    struct Row {
        int left = 0;
        int right = INT_MAX;
    };
    std::vector<Row> rows; ///< per source row, from its bottom

    /// Room for the notes of an image's rows; none for narrow images, which would need more
    /// for the notes than for their pixels, nor when there is no memory for them (the drawing
    /// then reads every pixel).
    void prepare(int width, int height) {
        rows.clear();
        if (width < 16)
            return;
        try {
            rows.assign(static_cast<size_t>(height), Row());
        } catch (const std::bad_alloc&) {
            rows.clear();
        }
    }

    /// Where row y of `src` is known clear within the columns [first, end) that the source
    /// holds: [first, clearEnd) and [clearFrom, end).
    void columns(int y, const OfxRectI& src, int first, int end, int& clearEnd,
                 int& clearFrom) const {
        clearEnd = first;
        clearFrom = end;
        if (rows.empty())
            return;
        const Row& c = rows[static_cast<size_t>(static_cast<std::int64_t>(y) - src.y1)];
        const std::int64_t x1 = src.x1;
        clearEnd = static_cast<int>(std::clamp<std::int64_t>(x1 + c.left, first, end));
        clearFrom = static_cast<int>(std::clamp<std::int64_t>(x1 + c.right, clearEnd, end));
    }
};

// The word-wise text tests find alpha in the high bits of a pixel's word.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#elif defined(_WIN32)
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false; // unknown: the plain per-pixel test
#endif

/// The text of one RGBA row: where it starts and ends, 16 pixels at a time.
template <class PIX, int maxValue> struct RowScan {
    using Test = TextTest<PIX, maxValue>;

    static PIX alpha(const PIX* row, int x) { return row[x * 4 + 3]; }

    /// The first text column of [from, to), or -1. With `zero`, when there is none, also
    /// whether every bit of those pixels is zero. `ahead`: the row read next, whose same
    /// columns are fetched meanwhile.
    static int firstText(const PIX* row, int from, int to, const Test& test, bool* zero = nullptr,
                         const PIX* ahead = nullptr) {
        constexpr int kChunk = 16;
        int x = from;
        bool nonzero = false;
        // Whole chunks first: the test over a chunk has no early exit, so it vectorises.
        for (; x + kChunk <= to; x += kChunk) {
            if (ahead)
                quad::prefetch(ahead + x * 4, static_cast<int>(kChunk * 4 * sizeof(PIX)));
            if (anyText(row, x, test))
                break;
            if (zero)
                nonzero = nonzero || !chunkZero(row + x * 4, test.vector);
        }
        for (; x < to; ++x) {
            if (test(alpha(row, x)))
                return x;
            if (zero)
                for (int c = 0; c < 4; ++c)
                    nonzero = nonzero || !isZeroBits(row[x * 4 + c]);
        }
        if (zero)
            *zero = !nonzero;
        return -1;
    }

    /// The last text column of [from, to), or -1.
    static int lastText(const PIX* row, int from, int to, const Test& test) {
        constexpr int kChunk = 16;
        int x = to;
        for (; x - kChunk >= from; x -= kChunk)
            if (anyText(row, x - kChunk, test))
                break;
        for (--x; x >= from; --x)
            if (test(alpha(row, x)))
                return x;
        return -1;
    }

    static bool isZeroBits(PIX v) {
        PIX z = 0;
        return std::memcmp(&v, &z, sizeof v) == 0;
    }

    /// Whether every bit of 16 pixels is zero.
    static bool chunkZero(const PIX* p, bool vector) {
        bool zero = true;
        for (int k = 0; k < 4; ++k)
            zero = zero && quad::allZero(p + 16 * k, vector);
        return zero;
    }

    /// Whether any of the 16 pixels from x on is text.
    static bool anyText(const PIX* row, int x, const Test& test) {
#ifdef NIMBRA_SSE2
        if (test.vector) {
            if constexpr (std::is_floating_point_v<PIX>) {
                return quad::anyAlphaAbove(row + x * 4, test.threshold);
            } else {
                if (test.firstText <= 0)
                    return true;
                if (test.firstText > maxValue)
                    return false;
                return quad::anyAlphaAtLeast(row + x * 4, test.firstText);
            }
        }
#endif
        // Whole words at a time: adding (limit - first) to a channel carries into the bit just
        // above it exactly when the channel is at least `first`.
        if constexpr (kLittleEndian && std::is_same_v<PIX, unsigned char>) {
            std::uint64_t words[8]; // two pixels each, alpha in the top byte of each half
            std::memcpy(words, row + x * 4, sizeof words);
            const std::uint64_t add =
                (256u - static_cast<std::uint64_t>(test.firstText)) * 0x0000000100000001ull;
            std::uint64_t any = 0;
            for (std::uint64_t w : words)
                any |= (((w >> 24) & 0x000000FF000000FFull) + add) & 0x0000010000000100ull;
            return any != 0;
        } else if constexpr (kLittleEndian && std::is_same_v<PIX, unsigned short>) {
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
                any |= test(alpha(row, x + k));
            return any;
        }
    }

    /// The text of row y (relative) within a block's columns.
    static RowExtent within(const Rows<PIX>& rows, const Box& block, int y, const Test& test) {
        const PIX* row = rows.row(y + rows.bounds.y1);
        RowExtent e;
        e.first = firstText(row, block.minX, block.maxX + 1, test);
        if (e.first >= 0)
            e.last = lastText(row, e.first, block.maxX + 1, test);
        return e;
    }

    /// The vertical lines of a block: exactly linesOfBlock along columns, found by first
    /// learning which columns hold text (each row scanned only in the columns not yet known to,
    /// 16 pixels at a time) and then each line's lowest and highest rows.
    static std::vector<Box> verticalLines(const Rows<PIX>& rows, const Box& block, float lineGap,
                                          const Test& test) {
        std::vector<char> occupied(static_cast<size_t>(block.maxX - block.minX + 1), 0);
        std::vector<std::pair<int, int>> unknown = {{block.minX, block.maxX + 1}}, next;
        for (int y = block.minY; y <= block.maxY && !unknown.empty(); ++y) {
            const PIX* row = rows.row(y + rows.bounds.y1);
            next.clear();
            for (const auto& [from, to] : unknown) {
                for (int x = from; x < to;) {
                    const int text = firstText(row, x, to, test);
                    if (text < 0) {
                        next.push_back({x, to});
                        break;
                    }
                    if (text > x)
                        next.push_back({x, text});
                    for (x = text; x < to && test(alpha(row, x)); ++x)
                        occupied[static_cast<size_t>(x - block.minX)] = 1;
                }
            }
            unknown.swap(next);
        }
        std::vector<Box> lines = linesOfBlock(block, lineGap, Along::Columns, [&](int x) {
            return occupied[static_cast<size_t>(x - block.minX)] ? RowExtent{0, 0} : RowExtent{};
        });
        for (Box& line : lines) {
            auto hasText = [&](int y) {
                return firstText(rows.row(y + rows.bounds.y1), line.minX, line.maxX + 1, test) >= 0;
            };
            int bottom = block.minY, top = block.maxY;
            while (!hasText(bottom))
                ++bottom;
            while (!hasText(top))
                --top;
            line.minY = bottom;
            line.maxY = top;
        }
        return lines;
    }
};

/// The text of one band of rows: the lowest and the highest text rows, each found from its own
/// end reading whole rows; in the rows between only the columns left and right of the box
/// found so far can add. With `notes`, the columns read and found clear are noted there.
template <class PIX, int maxValue> class BandExtent {
public:
    using Test = TextTest<PIX, maxValue>;
    using Scan = RowScan<PIX, maxValue>;

    BandExtent(const Rows<PIX>& rows, const Test& test, ClearNotes::Row* notes)
        : rows_(rows), test_(test), notes_(notes), width_(rows.width()) {}

    Extent scan(const OfxRectI& band) const {
        Extent found;
        int y = band.y1;
        for (; y < band.y2 && !found.found; ++y)
            scanRow(y, 0, width_, found, y + 1 < band.y2 ? 1 : 0);
        const int lowest = y;
        // Counted down from y2 itself: y2 - 1 wraps for an empty band at the bottom of the int
        // range, and the loop would then walk four billion rows.
        for (int top = band.y2; top > lowest;) {
            --top;
            if (scanRow(top, 0, width_, found, top > lowest ? -1 : 0)) {
                for (int between = lowest; between < top; ++between) {
                    const int next = between + 1 < top ? 1 : 0;
                    scanRow(between, 0, found.minX, found, next);
                    scanRow(between, found.maxX + 1, width_, found, next);
                }
                break;
            }
        }
        return found;
    }

private:
    /// Adds the text of columns [from, to) of row y; true when there was some. Columns
    /// without text that reach an end of the row are noted as clear if they are. `next`: the
    /// row read after this one (+1 or -1), fetched meanwhile; 0: none.
    bool scanRow(int y, int from, int to, Extent& found, int next) const {
        if (from >= to)
            return false;
        const PIX* row = rows_.row(y);
        const PIX* ahead = next != 0 && test_.vector ? rows_.row(y + next) : nullptr;
        bool zero = false;
        const bool noted = notes_ && (from == 0 || to == width_);
        const int first = Scan::firstText(row, from, to, test_, noted ? &zero : nullptr, ahead);
        if (first < 0) {
            if (zero) {
                ClearNotes::Row& c = notes_[y - rows_.bounds.y1];
                if (from == 0)
                    c.left = std::max(c.left, to);
                if (to == width_)
                    c.right = std::min(c.right, from);
            }
            return false;
        }
        found.add(first, Scan::lastText(row, first, to, test_), y - rows_.bounds.y1);
        return true;
    }

    const Rows<PIX>& rows_;
    const Test& test_;
    ClearNotes::Row* notes_;
    int width_;
};

/// The extent of all the text, relative to the source's corner; rows scanned in bands, one
/// band per CPU (at most 64). With `clear` prepared (ClearNotes::prepare), the columns read
/// and found clear are noted there.
template <class PIX, int maxValue>
Extent textExtent(const Rows<PIX>& rows, const TextTest<PIX, maxValue>& test,
                  const Threads& threads, ClearNotes* clear) {
    const unsigned count = std::min(std::max(threads.cpus, 1u), 64u);
    std::vector<Extent> bands(count);
    const BandExtent<PIX, maxValue> scan(
        rows, test, clear && !clear->rows.empty() ? clear->rows.data() : nullptr);
    // A host may run more or fewer shares than asked for: every band is still scanned by
    // exactly one share, and only its own entry is written.
    threads.run(count, [&](unsigned index, unsigned shares) {
        for (unsigned band = index; band < count; band += shares)
            bands[band] = scan.scan(bandOfRows(rows.bounds, band, count));
    });
    Extent all;
    for (const Extent& band : bands)
        all.merge(band);
    return all;
}

/// The blocks of text found in some rows, or overflow when there were too many.
struct BlockSearch {
    std::vector<Box> blocks;
    bool overflow = false;
};

/// The pieces are looked for in a fixed number of row bands (the same whatever the thread
/// count), and a band that would hold more than kBandBlocks separate blocks gives up.
constexpr unsigned kSearchBands = 16;
constexpr size_t kBandBlocks = 256;

/// The blocks of one band of rows. Rows are swept upward: the blocks still within vertical
/// reach are kept in column order, never touching one another, and each row's runs of text
/// (those closer than the reach joined) are merged into them in one pass. Work per row is
/// linear in its width.
template <class PIX, int maxValue> class BandSweep {
public:
    using Test = TextTest<PIX, maxValue>;
    using Scan = RowScan<PIX, maxValue>;

    /// `area`: the columns and rows to search, relative to the source's corner.
    BandSweep(const Rows<PIX>& rows, const Test& test, const Reach& reach, const OfxRectI& area)
        : rows_(rows), test_(test), reach_(reach), area_(area) {}

    BlockSearch sweep(const OfxRectI& band) const {
        BlockSearch found;
        std::vector<Box> active, next, runs;
        for (int ry = band.y1; ry < band.y2; ++ry) {
            next.clear();
            for (const Box& block : active) {
                if (!reach_.withinY(ry - static_cast<double>(block.maxY)))
                    found.blocks.push_back(block); // out of reach from here on
                else
                    next.push_back(block);
            }
            active.swap(next);
            runsOfRow(rows_.row(ry + rows_.bounds.y1), ry, runs);
            // Every block kept and every run lie within vertical reach of one another, so
            // whatever touches in columns belongs together.
            next.clear();
            for (size_t i = 0, j = 0; i < active.size() || j < runs.size();) {
                const bool takeBlock =
                    j >= runs.size() || (i < active.size() && active[i].minX <= runs[j].minX);
                const Box& item = takeBlock ? active[i++] : runs[j++];
                if (!next.empty() &&
                    reach_.touchX(next.back().minX, next.back().maxX, item.minX, item.maxX))
                    next.back().add(item);
                else
                    next.push_back(item);
            }
            active.swap(next);
            if (active.size() + found.blocks.size() > kBandBlocks) {
                found.overflow = true;
                return found;
            }
        }
        found.blocks.insert(found.blocks.end(), active.begin(), active.end());
        mergeTouching(found.blocks, reach_);
        return found;
    }

private:
    /// The runs of text of one row, those closer than the reach joined, in column order.
    void runsOfRow(const PIX* row, int ry, std::vector<Box>& runs) const {
        runs.clear();
        const int width = area_.x2;
        int start = Scan::firstText(row, area_.x1, width, test_);
        while (start >= 0) {
            int last = start, next = -1;
            for (;;) {
                int end = last + 1;
                while (end < width && test_(Scan::alpha(row, end)))
                    ++end;
                last = end - 1;
                next = end < width ? Scan::firstText(row, end, width, test_) : -1;
                if (next < 0 || !reach_.withinX(static_cast<double>(next) - last))
                    break;
                last = next;
            }
            runs.push_back({start, last, ry, ry});
            start = next;
        }
    }

    const Rows<PIX>& rows_;
    const Test& test_;
    Reach reach_;
    OfxRectI area_;
};

/// The blocks of the text within `area` (columns and rows relative to the source's corner),
/// merged until none touch; overflow when a band gives up.
template <class PIX, int maxValue>
BlockSearch findBlocks(const Rows<PIX>& rows, const TextTest<PIX, maxValue>& test,
                       const Reach& reach, const OfxRectI& area, const Threads& threads) {
    const long long height = static_cast<long long>(area.y2) - area.y1;
    const unsigned count = static_cast<unsigned>(std::min<long long>(kSearchBands, height));
    std::vector<BlockSearch> bands(count);
    const BandSweep<PIX, maxValue> sweep(rows, test, reach, area);
    threads.run(std::min(std::max(threads.cpus, 1u), count), [&](unsigned index, unsigned shares) {
        for (unsigned band = index; band < count; band += shares)
            bands[band] = sweep.sweep(bandOfRows(area, band, count));
    });
    BlockSearch all;
    for (BlockSearch& band : bands) {
        if (band.overflow)
            return {{}, true};
        all.blocks.insert(all.blocks.end(), band.blocks.begin(), band.blocks.end());
    }
    mergeTouching(all.blocks, reach);
    return all;
}

} // namespace plate
