// Eight bits: away from the outline a pixel's result depends only on each of its channels and
// its alpha, so each channel is a table lookup. A table row (one alpha's results) costs as much
// as a few hundred pixels, so rows are made the first time a pixel needs them: a frame of text
// holds few alphas.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace plate {

/// The results of the two spans that depend on the pixel alone: outside the plate (the source
/// recomputed, where the arithmetic does not copy it) and deep inside its fill.
template <class S> class ByteTables {
public:
    /// Call before the threads start.
    void prepare() {
        recomputed_.resize(S::kCopiesOutside ? 0 : 256 * 256);
        interior_.resize(3 * 256 * 256);
        for (std::atomic<unsigned char>& state : rows_)
            state.store(kRowMissing, std::memory_order_relaxed);
    }

    /// The result of an 8-bit pixel outside the plate (`interior` false) or deep inside its
    /// fill; false when its alpha's row is being made by another thread (the caller then works
    /// the pixel out itself).
    bool lookUp(const S& s, const unsigned char* in, unsigned char* out, bool interior) const {
        if (!rowReady(s, in[3]))
            return false;
        const unsigned char* colour = interior ? interior_.data() : recomputed_.data();
        const size_t plane = interior ? 256 * 256 : 0;
        const unsigned char* alpha = interior ? interiorAlpha_ : recomputedAlpha_;
        const size_t a = static_cast<size_t>(in[3]) * 256;
        out[0] = colour[a + in[0]];
        out[1] = colour[plane + a + in[1]];
        out[2] = colour[2 * plane + a + in[2]];
        out[3] = alpha[in[3]];
        return true;
    }

private:
    /// The table row of alpha a, made by the calling thread.
    void makeRow(const S& s, int a) const {
        for (int c = 0; c < 256; ++c) {
            const unsigned char in[4] = {
                static_cast<unsigned char>(c), static_cast<unsigned char>(c),
                static_cast<unsigned char>(c), static_cast<unsigned char>(a)};
            unsigned char out[4];
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

    /// Whether alpha a's row is ready, making it if no other thread is: a thread that finds
    /// it in the making works its pixel out directly meanwhile.
    bool rowReady(const S& s, int a) const {
        std::atomic<unsigned char>& state = rows_[a];
        unsigned char seen = state.load(std::memory_order_acquire);
        if (seen == kRowReady)
            return true;
        if (seen != kRowMissing ||
            !state.compare_exchange_strong(seen, kRowMaking, std::memory_order_relaxed))
            return false;
        makeRow(s, a);
        state.store(kRowReady, std::memory_order_release);
        return true;
    }

    // A row is written by the thread that makes it, once, while the threads run, and read
    // only once its state says it is ready.
    static constexpr unsigned char kRowMissing = 0, kRowMaking = 1, kRowReady = 2;
    mutable std::vector<unsigned char> recomputed_; ///< [alpha][channel]
    mutable std::vector<unsigned char> interior_;   ///< [R, G, B][alpha][channel]
    mutable unsigned char recomputedAlpha_[256] = {};
    mutable unsigned char interiorAlpha_[256] = {};
    mutable std::atomic<unsigned char> rows_[256] = {}; ///< per alpha
};

} // namespace plate
