// Render cost through the in-process host, each render measured against what bounds it: a
// memcpy of the same source into the same destination, split into bands over as many threads
// as the render is given (the least any render that reads one and writes the other can cost).
// The two alternate within every benchmark, so their ratio (counter `x_memcpy`) is measured
// under the same load; only ratios mean anything on a shared machine.
//
// NIMBRA_BENCH_BEFORE=<bundle folder> adds every frame case once more for that module, right
// after its own, so that two builds are compared in one run.
#include "host.h"
#include "module.h"
#include "session.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using ofxhost::Components;
using ofxhost::Depth;
using Clock = std::chrono::steady_clock;

/// What the frame holds.
enum class Text {
    Rows,    ///< glyphs in rows: one block, one line per row
    Columns, ///< the same glyphs in columns: one block, one vertical line per column
    Caption, ///< rows of two widths, close enough (with marginY 30) to join into one shape
};

/// Text-like content: glyph blocks covering about 40% of a band that takes a quarter of the
/// frame, so about 10% of the pixels are text and the plate is about a quarter of the frame.
/// The glyphs stand in rows with empty rows between them (or in columns with empty columns
/// between them); a caption's every other row is 30% shorter.
void drawText(ofxhost::Image& image, Text text) {
    const int w = image.width(), h = image.height();
    const double top = image.depth() == Depth::Byte    ? 255
                       : image.depth() == Depth::Short ? 65535
                                                       : 1;
    const int x0 = w / 4, x1 = 3 * w / 4, y0 = h / 8, y1 = h / 8 + h / 2;
    const int glyph = std::max(4, h / 40);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            // Along a line, and across the lines.
            const int along = text == Text::Columns ? y - y0 : x - x0;
            const int across = text == Text::Columns ? x - x0 : y - y0;
            const int line = across / (glyph * 2);
            if (text == Text::Caption && line % 2 == 1 &&
                (along < (x1 - x0) * 15 / 100 || along >= (x1 - x0) * 85 / 100))
                continue;
            const int ga = along % (glyph + glyph / 2), gc = across % (glyph * 2);
            if (ga < glyph && gc < glyph && ((x / 3 + y / 5) % 7 != 0))
                for (int c = 0; c < 4; ++c)
                    image.set(x, y, c, top * 0.9);
        }
}

struct Fixture {
    Fixture(const std::string& bundle, int width, int height, Depth depth, int compositing,
            int layout, Text text = Text::Rows)
        : module(bundle, true), session(host, module.plugin(0)) {
        if (!module.ok())
            throw std::runtime_error(module.error());
        session.load();
        session.describe();
        session.describeInContext(kOfxImageEffectContextFilter);
        instance = session.createInstance(kOfxImageEffectContextFilter).instance;
        source = std::make_shared<ofxhost::Image>(OfxRectI{0, 0, width, height}, Components::RGBA,
                                                  depth);
        destination = std::make_shared<ofxhost::Image>(OfxRectI{0, 0, width, height},
                                                       Components::RGBA, depth);
        drawText(*source, text);
        for (const char* clip : {"Source", "Output"}) {
            instance->clip(clip).setFormat(Components::RGBA, depth);
            instance->clip(clip).setPremultiplication(kOfxImagePreMultiplied);
        }
        instance->clip("Source").setImage(source);
        instance->clip("Output").setImage(destination);
        instance->param("cornerSize").setValue({12});
        instance->param("strokeWidth").setValue({3});
        instance->param("fillColor").setValue({0, 0, 0, 0.6});
        instance->param("compositing").setValue({double(compositing)});
        instance->param("plateLayout").setValue({double(layout)});
    }
    ofxhost::Host host;
    ofxhost::Module module;
    ofxhost::PluginSession session;
    ofxhost::Effect* instance = nullptr;
    std::shared_ptr<ofxhost::Image> source, destination;
};

/// How a copy moves its band of rows.
enum class Copy {
    Rows, ///< one memcpy per row, as a render writes
    Band, ///< one memcpy per band: the C library may use streaming stores for a large one
};

/// Copies the source into the destination, the rows split into `threads` bands each copied
/// by a thread of its own (started per copy, as the test host starts them per render).
void copyFrame(ofxhost::Image& source, ofxhost::Image& destination, unsigned threads,
               Copy how = Copy::Rows) {
    const int height = source.height();
    const size_t row = size_t(source.width()) * source.pixelBytes();
    auto band = [&](unsigned i) {
        const int y1 = int(int64_t(height) * i / threads),
                  y2 = int(int64_t(height) * (i + 1) / threads);
        if (y1 >= y2)
            return;
        if (how == Copy::Band) // the host's rows lie one after another
            std::memcpy(destination.pixel(0, y1), source.pixel(0, y1), row * size_t(y2 - y1));
        else
            for (int y = y1; y < y2; ++y)
                std::memcpy(destination.pixel(0, y), source.pixel(0, y), row);
    };
    if (threads <= 1) {
        band(0);
        return;
    }
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < threads; ++i)
        workers.emplace_back(band, i);
    band(0);
    for (std::thread& t : workers)
        t.join();
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Case {
    int width, depth, compositing, layout;
    unsigned threads;
    Text text = Text::Rows;
    double innerCornerSize = 0;
    double shadowSoftness = -1; ///< negative: no shadow
};

/// One frame case. Each iteration renders twice and copies the frame twice each way on as
/// many threads, timing only the second of each: a render after a render and a copy after a
/// copy, as each runs in a sequence of its own (a copy right after a render runs a third
/// slower here, as it first writes back what the render left in the cache). The render's time
/// is the one reported; `x_memcpy` is the render's total time over the row-by-row copies',
/// `x_band` over the copies of one memcpy per band.
void frameBench(benchmark::State& state, std::string bundle, Case c) {
    const int height = c.width * 9 / 16;
    Fixture f(bundle, c.width, height, static_cast<Depth>(c.depth), c.compositing, c.layout,
              c.text);
    if (c.text == Text::Caption) {
        f.instance->param("marginY").setValue({30});
        f.instance->param("innerCornerSize").setValue({c.innerCornerSize});
    }
    if (c.shadowSoftness >= 0) {
        f.instance->param("shadowEnabled").setValue({1});
        f.instance->param("shadowSoftness").setValue({c.shadowSoftness});
    }
    f.host.setNumCPUs(c.threads);
    f.host.makeCurrent();
    const OfxRectI window{0, 0, c.width, height};
    // Warm: every page of both buffers touched.
    copyFrame(*f.source, *f.destination, c.threads);
    double render = 0, copy = 0, bandCopy = 0;
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, window) != kOfxStatOK) {
            state.SkipWithError("render failed");
            return;
        }
        const Clock::time_point t0 = Clock::now();
        const OfxStatus status = f.session.render(*f.instance, 0, window);
        const Clock::time_point t1 = Clock::now();
        copyFrame(*f.source, *f.destination, c.threads);
        benchmark::ClobberMemory();
        const Clock::time_point t2 = Clock::now();
        copyFrame(*f.source, *f.destination, c.threads);
        benchmark::ClobberMemory();
        const Clock::time_point t3 = Clock::now();
        copyFrame(*f.source, *f.destination, c.threads, Copy::Band);
        benchmark::ClobberMemory();
        const Clock::time_point t4 = Clock::now();
        copyFrame(*f.source, *f.destination, c.threads, Copy::Band);
        benchmark::ClobberMemory();
        const Clock::time_point t5 = Clock::now();
        if (status != kOfxStatOK) {
            state.SkipWithError("render failed");
            return;
        }
        render += seconds(t1 - t0);
        copy += seconds(t3 - t2);
        bandCopy += seconds(t5 - t4);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["memcpy_ms"] = 1e3 * copy / double(state.iterations());
    state.counters["x_memcpy"] = render / copy;
    state.counters["band_ms"] = 1e3 * bandCopy / double(state.iterations());
    state.counters["x_band"] = render / bandCopy;
}

/// The frame with the straightforward reference processors, for scale.
void referenceBench(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = width * 9 / 16;
    Fixture f(NIMBRA_REFERENCE_BUNDLE, width, height, static_cast<Depth>(state.range(1)), 0, 0);
    f.host.setNumCPUs(2);
    f.host.makeCurrent();
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, {0, 0, width, height}) != kOfxStatOK)
            state.SkipWithError("render failed");
    }
}

// A frame of specks (one pixel in a hundred, margins 0): far more blocks than plates allowed,
// so every layout falls back to the one plate; what it costs to find that out. Argument:
// layout. 3840 × 2160, 8-bit, compatible, two threads.
void layoutNoiseBench(benchmark::State& state) {
    const int width = 3840, height = 2160;
    Fixture f(NIMBRA_BUNDLE, width, height, Depth::Byte, 0, static_cast<int>(state.range(0)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                f.source->set(x, y, c, (x * 7919 + y * 104729) % 100 == 0 ? 255 : 0);
    f.instance->param("marginX").setValue({0});
    f.instance->param("marginY").setValue({0});
    f.host.setNumCPUs(2);
    f.host.makeCurrent();
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, {0, 0, width, height}) != kOfxStatOK)
            state.SkipWithError("render failed");
    }
}

const char* const kDepths[] = {"8-bit", "16-bit", "float"};
const char* const kModes[] = {"compatible", "accurate"};
const char* const kLayouts[] = {"whole", "blocks", "lines", "columns"};

/// The layout column of a case's name: the layout, or for captions what is drawn.
std::string layoutName(const Case& c) {
    if (c.text == Text::Caption)
        return c.innerCornerSize > 0 ? "caption-inner" : "caption";
    if (c.shadowSoftness >= 0)
        return std::string(kLayouts[c.layout]) + "-shadow" +
               std::to_string(static_cast<int>(c.shadowSoftness));
    return kLayouts[c.layout];
}

void registerFrame(const std::string& tag, const std::string& bundle, Case c) {
    const std::string name = "frame/" + std::to_string(c.width) + "x" +
                             std::to_string(c.width * 9 / 16) + "/" + kDepths[c.depth] + "/" +
                             kModes[c.compositing] + "/" + layoutName(c) + "/" +
                             std::to_string(c.threads) + "cpu" + tag;
    benchmark::RegisterBenchmark(name.c_str(), frameBench, bundle, c)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

void registerAll() {
    const char* before = std::getenv("NIMBRA_BENCH_BEFORE");
    // An earlier build is measured on the cases it can render: those of its own parameters.
    auto both = [&](Case c) {
        registerFrame("", NIMBRA_BUNDLE, c);
        const bool newer = c.layout == 3 || c.text != Text::Rows || c.shadowSoftness >= 0;
        if (before && *before && !newer)
            registerFrame("/before", before, c);
    };
    // Every depth, mode and layout at both sizes, on two threads (this machine's count).
    for (int width : {1920, 3840})
        for (int depth = 0; depth < 3; ++depth)
            for (int mode = 0; mode < 2; ++mode)
                for (int layout = 0; layout < 3; ++layout)
                    both({width, depth, mode, layout, 2});
    // Vertical lines, on the same glyphs set in columns; joined lines of two widths with
    // square and rounded inner corners.
    for (int depth = 0; depth < 3; ++depth)
        for (int mode = 0; mode < 2; ++mode) {
            both({3840, depth, mode, 3, 2, Text::Columns});
            both({3840, depth, mode, 2, 2, Text::Caption, 0});
            both({3840, depth, mode, 2, 2, Text::Caption, 12});
            // The shadow, narrow and wide, against the same render without it.
            for (double softness : {8.0, 200.0})
                both({3840, depth, mode, 0, 2, Text::Rows, 0, softness});
        }
    // The thread count: detection must not grow with it, nor the render.
    for (int depth = 0; depth < 3; ++depth)
        for (unsigned n : {1u, 8u})
            both({3840, depth, 0, 0, n});
    benchmark::RegisterBenchmark("reference", referenceBench)
        ->ArgsProduct({{1920, 3840}, {0, 1, 2}})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.2);
    benchmark::RegisterBenchmark("layout_noise", layoutNoiseBench)
        ->Arg(0)
        ->Arg(1)
        ->Arg(2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
