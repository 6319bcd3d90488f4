// The fast processors against the straightforward ones, over random formats, bounds,
// windows, thread counts, parameters and pixels: every byte of the output must agree, and
// so must what a host sees (abort queries, images released).
//
// NIMBRA_COMPARE_BUNDLE=<bundle> compares with another build of the module instead of the
// straightforward one (an earlier release, say: a change that must keep every byte), and
// NIMBRA_COMPARE_SEED=<n> draws other random cases.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

/// The module the fast one is compared with.
std::string comparedBundle() {
    const char* other = std::getenv("NIMBRA_COMPARE_BUNDLE");
    return other && *other ? other : NIMBRA_REFERENCE_BUNDLE;
}

/// The random cases' seed: the test's own unless the environment names another.
std::mt19937 randomCases(unsigned seed) {
    const char* other = std::getenv("NIMBRA_COMPARE_SEED");
    return std::mt19937(other && *other ? static_cast<unsigned>(std::stoul(other)) + seed : seed);
}

using ofxhost::Components;
using ofxhost::Depth;

struct Case {
    Components components;
    Depth depth;
    OfxRectI sourceBounds;
    OfxRectI destinationBounds;
    OfxRectI window;
    unsigned threads;
    std::string premultiplication;
    bool hasSource;
    OfxPointD renderScale;
    std::map<std::string, std::vector<double>> params;
};

OfxRectI randomRect(std::mt19937& rng, int extent) {
    std::uniform_int_distribution<int> corner(-extent / 4, extent / 2);
    std::uniform_int_distribution<int> size(0, extent);
    const int x1 = corner(rng), y1 = corner(rng);
    return {x1, y1, x1 + size(rng), y1 + size(rng)};
}

Case randomCase(std::mt19937& rng, int extent = 90) {
    Case c;
    c.components = rng() % 5 == 0 ? Components::Alpha : Components::RGBA;
    c.depth = static_cast<Depth>(rng() % 3);
    c.sourceBounds = randomRect(rng, extent);
    if (rng() % 3 == 0) {
        c.destinationBounds = c.sourceBounds;
    } else {
        c.destinationBounds = randomRect(rng, extent);
    }
    // A window inside the destination (possibly empty).
    const OfxRectI& d = c.destinationBounds;
    auto inside = [&](int lo, int hi) {
        return hi <= lo ? lo : lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
    };
    const int x1 = inside(d.x1, d.x2), y1 = inside(d.y1, d.y2);
    c.window = {x1, y1, inside(x1, d.x2), inside(y1, d.y2)};
    const unsigned threads[] = {1, 2, 3, 8};
    c.threads = threads[rng() % 4];
    const char* premult[] = {kOfxImagePreMultiplied, kOfxImageUnPreMultiplied, kOfxImageOpaque};
    c.premultiplication = premult[rng() % 3];
    c.hasSource = rng() % 10 != 0;

    std::uniform_real_distribution<double> unit(0, 1);
    auto pick = [&](std::initializer_list<double> special, double lo, double hi) {
        if (rng() % 4 == 0) {
            auto it = special.begin();
            std::advance(it, rng() % special.size());
            return *it;
        }
        return lo + (hi - lo) * unit(rng);
    };
    c.params["marginX"] = {pick({0, -5, 20}, -10, 30)};
    c.params["marginY"] = {pick({0, -5, 20}, -10, 30)};
    c.params["yOffset"] = {pick({0, 200, -200}, -20, 20)};
    c.params["cornerSize"] = {pick({0, -4, 1000}, 0, 25)};
    c.params["strokeWidth"] = {pick({0, 1, 2.5}, 0, 8)};
    c.params["detectionThreshold"] = {pick({0, 0.1, -1, 1}, 0, 1)};
    c.params["fillEnabled"] = {double(rng() % 4 != 0)};
    c.params["strokeEnabled"] = {double(rng() % 3 != 0)};
    // Huge colours overflow single precision once premultiplied.
    c.params["fillColor"] = {pick({0, 1, 2, 1e30}, -0.2, 1.2), unit(rng), unit(rng),
                             pick({1, 0.5, 0, 1e30}, 0, 1)};
    c.params["strokeColor"] = {unit(rng), pick({1, -1, 1e30}, 0, 1), unit(rng),
                               pick({1, 1e30}, 0, 1)};
    c.params["compositing"] = {double(rng() % 2)};
    c.params["plateLayout"] = {double(rng() % 4)};
    if (c.params["plateLayout"][0] != 0 && rng() % 4 != 0) {
        // Margins small against the frame, so that the text falls into several plates.
        c.params["marginX"] = {pick({0, 1, -1}, 0, 4)};
        c.params["marginY"] = {pick({0, 2, -1}, 0, 6)};
        c.params["strokeWidth"] = {pick({0, 1, 2.5}, 0, 3)};
        c.params["detectionThreshold"] = {pick({0.1, 0.5}, 0, 0.6)};
    }
    c.params["lineGap"] = {pick({16, 1, 2}, 1, 10)};
    c.params["innerCornerSize"] = {rng() % 2 ? 0.0 : pick({0, 1000, -3}, 0, 12)};
    // A shadow in one case of two; least sizes in one of three.
    c.params["shadowEnabled"] = {double(rng() % 2 == 0)};
    c.params["shadowColor"] = {unit(rng), unit(rng), pick({0, 1e30}, 0, 1), pick({1, 0.5}, 0, 1)};
    c.params["shadowOffsetX"] = {pick({0, 6, -20}, -12, 12)};
    c.params["shadowOffsetY"] = {pick({0, 6, 30}, -12, 12)};
    c.params["shadowSoftness"] = {pick({0, 8, 200}, 0, 30)};
    c.params["minPlateWidth"] = {rng() % 3 ? 0.0 : pick({0, 1e5}, 0, 80)};
    c.params["minPlateHeight"] = {rng() % 3 ? 0.0 : pick({0, 1e5}, 0, 60)};
    // The accurate arithmetic scales distances; unequal scales included.
    const OfxPointD scales[] = {{1, 1}, {1, 1}, {0.5, 0.5}, {0.25, 0.75}, {0.3, 0.3}};
    c.renderScale = scales[rng() % 5];
    return c;
}

/// Random noise with a few solid "glyphs", so that detection finds something most times.
void fillSource(ofxhost::Image& image, std::mt19937& rng, bool sparse = false) {
    const OfxRectI b = image.bounds();
    const int channels = image.channels();
    const double top = image.depth() == Depth::Byte    ? 255
                       : image.depth() == Depth::Short ? 65535
                                                       : 1;
    std::uniform_real_distribution<double> unit(0, 1);
    // Mostly transparent, as text over transparency is.
    const bool quiet = rng() % 2 == 0 || sparse;
    for (int y = b.y1; y < b.y2; ++y)
        for (int x = b.x1; x < b.x2; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                double v = unit(rng) * top;
                if (quiet)
                    v = unit(rng) < 0.9 ? 0 : v * 0.08;
                if (image.depth() == Depth::Float && rng() % 50 == 0 && !sparse)
                    v = unit(rng) * 3 - 1; // out-of-range floats
                image.set(x, y, ch, v);
            }
    // Glyphs of random sizes, so that the layouts find blocks and lines of several widths.
    const int glyphs = 3 + static_cast<int>(rng() % 4);
    for (int glyph = 0; glyph < glyphs; ++glyph) {
        if (b.x2 <= b.x1 || b.y2 <= b.y1)
            break;
        const int gx = b.x1 + static_cast<int>(rng() % static_cast<unsigned>(b.x2 - b.x1));
        const int gy = b.y1 + static_cast<int>(rng() % static_cast<unsigned>(b.y2 - b.y1));
        const int gw = glyph < 3 ? 4 : 2 + static_cast<int>(rng() % 30);
        const int gh = glyph < 3 ? 6 : 1 + static_cast<int>(rng() % 8);
        for (int y = gy; y < std::min(b.y2, gy + gh); ++y)
            for (int x = gx; x < std::min(b.x2, gx + gw); ++x) {
                const double a = top * (0.2 + 0.8 * unit(rng));
                for (int ch = 0; ch < channels; ++ch)
                    image.set(x, y, ch, ch == channels - 1 ? a : a * unit(rng));
            }
    }
}

struct Renderer {
    explicit Renderer(const std::string& bundle) : plugin(bundle) {
        instance = &plugin.instantiate();
    }
    /// Renders the case over a copy of `background`; returns the destination's bytes.
    std::vector<unsigned char> render(const Case& c, const std::shared_ptr<ofxhost::Image>& source,
                                      const ofxhost::Image& background, int& aborts) {
        ofxhost::Host& host = plugin.host;
        host.setNumCPUs(c.threads);
        std::atomic<int> calls{0};
        host.setAbortHook([&calls](OfxImageEffectHandle) {
            ++calls;
            return 0;
        });
        auto destination =
            std::make_shared<ofxhost::Image>(c.destinationBounds, c.components, c.depth);
        copyPixels(background, *destination);
        for (const char* clip : {"Source", "Output"}) {
            instance->clip(clip).setFormat(c.components, c.depth);
            instance->clip(clip).setPremultiplication(c.premultiplication);
        }
        instance->clip("Source").clearImages();
        if (c.hasSource)
            instance->clip("Source").setImage(source);
        instance->clip("Output").setImage(destination);
        for (const auto& [name, value] : c.params)
            instance->param(name).setValue(value);
        EXPECT_EQ(plugin.session.render(*instance, 0, c.window, c.renderScale), kOfxStatOK);
        EXPECT_TRUE(host.allImagesReleased());
        EXPECT_TRUE(destination->guardsIntact());
        aborts = calls;
        return bytes(*destination);
    }
    static void copyPixels(const ofxhost::Image& from, ofxhost::Image& to) {
        const OfxRectI b = to.bounds();
        for (int y = b.y1; y < b.y2; ++y)
            for (int x = b.x1; x < b.x2; ++x)
                for (int ch = 0; ch < to.channels(); ++ch)
                    to.set(x, y, ch, from.get(x, y, ch));
    }
    static std::vector<unsigned char> bytes(ofxhost::Image& image) {
        std::vector<unsigned char> out;
        const OfxRectI b = image.bounds();
        const size_t row = static_cast<size_t>(image.width()) * image.pixelBytes();
        for (int y = b.y1; y < b.y2; ++y) {
            auto* p = static_cast<unsigned char*>(image.pixel(b.x1, y));
            out.insert(out.end(), p, p + row);
        }
        return out;
    }

    nimbra_test::LoadedPlugin plugin;
    ofxhost::Effect* instance = nullptr;
};

TEST(FastAndReferenceProcessors, AgreeOnEveryByteOverRandomRenders) {
    Renderer fast(NIMBRA_BUNDLE);
    Renderer reference(comparedBundle());
    std::mt19937 rng = randomCases(20261208);
    int plates = 0, accurate = 0;
    int layouts[4] = {0, 0, 0, 0}; // renders that changed something, per layout
    int split = 0;                 // block and line renders unlike the single plate
    int cells[2][4][3] = {};       // renders that changed something: mode, layout, depth
    int shadows[2][3] = {};        // renders whose shadow changed something: mode, depth
    int least = 0;                 // renders whose least size changed something
    for (int i = 0; i < 700; ++i) {
        Case c = randomCase(rng);
        auto source = std::make_shared<ofxhost::Image>(c.sourceBounds, c.components, c.depth);
        const bool layoutCase = c.params.at("plateLayout")[0] != 0;
        if (layoutCase && rng() % 2 == 0)
            c.window = c.destinationBounds; // the plates side by side in one window
        fillSource(*source, rng, layoutCase && rng() % 4 != 0);
        ofxhost::Image background(c.destinationBounds, c.components, c.depth);
        fillSource(background, rng);

        int fastAborts = 0, referenceAborts = 0;
        const auto expected = reference.render(c, source, background, referenceAborts);
        const auto actual = fast.render(c, source, background, fastAborts);
        ASSERT_EQ(actual, expected) << "case " << i;
        // One abort query per row of the window, whatever the thread count.
        const bool empty = c.window.x2 <= c.window.x1 || c.window.y2 <= c.window.y1;
        EXPECT_EQ(fastAborts, empty ? 0 : c.window.y2 - c.window.y1) << "case " << i;
        EXPECT_EQ(fastAborts, referenceAborts) << "case " << i;
        const bool changed = actual != Renderer::bytes(background);
        plates += changed;
        accurate += changed && c.params.at("compositing")[0] == 1;
        const int layout = static_cast<int>(c.params.at("plateLayout")[0]);
        layouts[layout] += changed;
        if (c.components == Components::RGBA)
            cells[static_cast<int>(c.params.at("compositing")[0])][layout]
                 [static_cast<int>(c.depth)] += changed;
        if (c.components == Components::RGBA && c.params.at("shadowEnabled")[0] != 0) {
            Case plain = c;
            plain.params["shadowEnabled"] = {0};
            int unused = 0;
            shadows[static_cast<int>(c.params.at("compositing")[0])][static_cast<int>(c.depth)] +=
                fast.render(plain, source, background, unused) != actual;
        }
        if (c.params.at("minPlateWidth")[0] != 0 || c.params.at("minPlateHeight")[0] != 0) {
            Case plain = c;
            plain.params["minPlateWidth"] = plain.params["minPlateHeight"] = {0};
            int unused = 0;
            least += fast.render(plain, source, background, unused) != actual;
        }
        if (layout != 0) {
            // Did the layout give other plates than the one around all the text?
            Case whole = c;
            whole.params["plateLayout"] = {0};
            int unused = 0;
            split += fast.render(whole, source, background, unused) != actual;
        }
    }
    // The comparison means little unless most renders actually changed something, in both
    // arithmetics and every layout.
    EXPECT_GT(plates, 350);
    EXPECT_GT(accurate, 140);
    for (int count : layouts)
        EXPECT_GT(count, 90);
    EXPECT_GT(split, 40);
    EXPECT_GT(least, 40);
    for (int mode = 0; mode < 2; ++mode)
        for (int depth = 0; depth < 3; ++depth)
            EXPECT_GE(shadows[mode][depth], 6) << "shadow, mode " << mode << ", depth " << depth;
    for (int mode = 0; mode < 2; ++mode)
        for (int layout = 0; layout < 4; ++layout)
            for (int depth = 0; depth < 3; ++depth)
                EXPECT_GE(cells[mode][layout][depth], 8)
                    << "mode " << mode << ", layout " << layout << ", depth " << depth;
}

TEST(FastAndReferenceProcessors, AgreeOnBuiltUpLayouts) {
    // Lines of text of several widths (vertical lines for 列) and a logo, so that blocks,
    // lines and joined line shapes (rounded inside and out, outlined, offset) are compared in
    // every mode, depth and layout.
    Renderer fast(NIMBRA_BUNDLE);
    Renderer reference(comparedBundle());
    std::mt19937 rng = randomCases(1414);
    int joined = 0;
    for (int i = 0; i < 120; ++i) {
        Case c = randomCase(rng, 120);
        c.components = Components::RGBA;
        c.depth = static_cast<Depth>(i / 8 % 3); // every depth with every layout and mode
        c.hasSource = true;
        c.sourceBounds = {0, 0, 160, 120};
        c.destinationBounds = c.sourceBounds;
        c.window = i % 4 == 0 ? OfxRectI{20, 10, 150, 100} : c.sourceBounds;
        const int layout = i % 4;
        c.params["plateLayout"] = {double(layout)};
        c.params["compositing"] = {double((i / 4) % 2)};
        c.params["innerCornerSize"] = {rng() % 3 ? double(rng() % 10) : 0.0};
        // Shadows under every layout, mode and depth; least sizes now and then.
        c.params["shadowEnabled"] = {double(i / 24 % 2)};
        c.params["minPlateHeight"] = {rng() % 4 ? 0.0 : double(rng() % 30)};
        c.params["marginX"] = {double(rng() % 8)};
        c.params["marginY"] = {double(rng() % 12) + 0.5 * (rng() % 2)};
        c.params["lineGap"] = {double(4 + rng() % 12)};
        c.params["yOffset"] = {double(static_cast<int>(rng() % 9) - 4)};
        auto source = std::make_shared<ofxhost::Image>(c.sourceBounds, c.components, c.depth);
        const double top = c.depth == Depth::Byte ? 255 : c.depth == Depth::Short ? 65535 : 1;
        // Lines along x, or for 列 along y: `along` runs the length of a line, `across` its
        // thickness.
        auto glyphs = [&](int along, int across) {
            const bool columns = layout == 3;
            const int x = columns ? across : along, y = columns ? along : across;
            if (x < 160 && y < 120 && (along / 3 + across) % 5 != 0) // glyph-like gaps
                for (int ch = 0; ch < 4; ++ch)
                    source->set(x, y, ch, top * 0.9);
        };
        int at = 8 + static_cast<int>(rng() % 10);
        while (at < (layout == 3 ? 125 : 100)) {
            const int thick = 4 + static_cast<int>(rng() % 12);
            const int from = 10 + static_cast<int>(rng() % (layout == 3 ? 30 : 50));
            const int to = from + 10 + static_cast<int>(rng() % (layout == 3 ? 60 : 80));
            for (int a = at; a < at + thick; ++a)
                for (int l = from; l < to; ++l)
                    glyphs(l, a);
            at += thick + 2 + static_cast<int>(rng() % 24);
        }
        for (int yy = 100; yy < 110; ++yy) // the logo
            for (int x = 135; x < 152; ++x)
                source->set(x, yy, 3, top);
        ofxhost::Image background(c.destinationBounds, c.components, c.depth);
        fillSource(background, rng);
        int fastAborts = 0, referenceAborts = 0;
        const auto expected = reference.render(c, source, background, referenceAborts);
        ASSERT_EQ(fast.render(c, source, background, fastAborts), expected) << "case " << i;
        EXPECT_EQ(fastAborts, referenceAborts);
        if (layout >= 2) {
            Case blocks = c;
            blocks.params["plateLayout"] = {1};
            joined += fast.render(blocks, source, background, fastAborts) != expected;
        }
    }
    EXPECT_GE(joined, 16); // lines and vertical lines drawn unlike their blocks
}

TEST(FastAndReferenceProcessors, AgreeOnLargeEightBitWindows) {
    // Windows past 65536 pixels take the 8-bit table path.
    Renderer fast(NIMBRA_BUNDLE);
    Renderer reference(comparedBundle());
    std::mt19937 rng = randomCases(8);
    int tabled = 0, accurateTabled = 0;
    for (int i = 0; i < 60; ++i) {
        Case c = randomCase(rng, 420);
        c.components = Components::RGBA;
        c.depth = Depth::Byte;
        c.hasSource = true;
        c.params["compositing"] = {double(i / 2 % 2)};
        if (i % 2 == 0)
            c.window = c.destinationBounds;
        auto source = std::make_shared<ofxhost::Image>(c.sourceBounds, c.components, c.depth);
        fillSource(*source, rng);
        ofxhost::Image background(c.destinationBounds, c.components, c.depth);
        int fastAborts = 0, referenceAborts = 0;
        ASSERT_EQ(fast.render(c, source, background, fastAborts),
                  reference.render(c, source, background, referenceAborts))
            << "case " << i;
        const bool large =
            static_cast<long long>(c.window.x2 - c.window.x1) * (c.window.y2 - c.window.y1) >=
            65536;
        tabled += large;
        accurateTabled += large && c.params.at("compositing")[0] == 1;
    }
    EXPECT_GE(tabled, 5);
    EXPECT_GE(accurateTabled, 2);
}

TEST(FastAndReferenceProcessors, AgreeOnTextOverTransparency) {
    // Rows of glyphs over transparency, as titles are, with faint pixels below the threshold
    // (a shadow, colour under zero alpha, a speck of -0.0) scattered over the empty part: the
    // part that detection reads on its own, which the drawing takes as known.
    Renderer fast(NIMBRA_BUNDLE);
    Renderer reference(comparedBundle());
    std::mt19937 rng = randomCases(2160);
    int changed = 0;
    for (int i = 0; i < 96; ++i) {
        Case c = randomCase(rng);
        c.components = Components::RGBA;
        c.depth = static_cast<Depth>(i % 3);
        c.params["compositing"] = {double(i / 3 % 2)};
        c.params["plateLayout"] = {double(i / 6 % 4)};
        c.params["detectionThreshold"] = {0.1};
        c.hasSource = true;
        c.sourceBounds = {-7, 3, 313 + static_cast<int>(rng() % 40), 243};
        c.destinationBounds = i % 4 && rng() % 2 ? randomRect(rng, 330) : c.sourceBounds;
        c.window = i % 4 == 0 ? OfxRectI{0, 20, 200, 230} : c.destinationBounds;
        const unsigned threads[] = {1, 2, 3, 8};
        c.threads = threads[i / 24];
        auto source = std::make_shared<ofxhost::Image>(c.sourceBounds, c.components, c.depth);
        const double top = c.depth == Depth::Byte ? 255 : c.depth == Depth::Short ? 65535 : 1;
        const int x0 = 60 + static_cast<int>(rng() % 40), y0 = 40 + static_cast<int>(rng() % 30);
        for (int y = y0; y < y0 + 120; ++y)
            for (int x = x0; x < x0 + 150; ++x)
                if ((y - y0) % 20 < 9 && (x - x0) % 11 < 8 && (x / 3 + y / 5) % 7 != 0)
                    for (int ch = 0; ch < 4; ++ch)
                        source->set(x, y, ch, top * (ch == 3 ? 1.0 : 0.9));
        const OfxRectI b = c.sourceBounds;
        for (int k = 0; k < 40; ++k) {
            const int x = b.x1 + static_cast<int>(rng() % static_cast<unsigned>(b.x2 - b.x1));
            const int y = b.y1 + static_cast<int>(rng() % static_cast<unsigned>(b.y2 - b.y1));
            const int kind = static_cast<int>(rng() % 3);
            if (kind == 0) {
                source->set(x, y, 3, top * 0.05); // a faint shadow
            } else if (kind == 1) {
                source->set(x, y, static_cast<int>(rng() % 3), top * 0.5); // under zero alpha
            } else if (c.depth == Depth::Float) {
                source->set(x, y, static_cast<int>(rng() % 4), -0.0);
            } else {
                source->set(x, y, static_cast<int>(rng() % 3), 1);
            }
        }
        ofxhost::Image background(c.destinationBounds, c.components, c.depth);
        fillSource(background, rng);
        int fastAborts = 0, referenceAborts = 0;
        const auto expected = reference.render(c, source, background, referenceAborts);
        const auto actual = fast.render(c, source, background, fastAborts);
        ASSERT_EQ(actual, expected) << "case " << i;
        EXPECT_EQ(fastAborts, referenceAborts) << "case " << i;
        changed += actual != Renderer::bytes(background);
    }
    EXPECT_GE(changed, 80);
}

} // namespace
