// Render cost through the in-process host, side by side with what bounds it: a memcpy of the
// source into the destination (the least any render that reads one and writes the other
// can cost) and the straightforward reference processors. Compare ratios within one run.
#include "host.h"
#include "module.h"
#include "session.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

using testhost::Components;
using testhost::Depth;

/// Text-like content: glyph blocks covering about 40% of a band that takes a quarter of the
/// frame, so about 10% of the pixels are text and the plate is about a quarter of the frame.
void drawText(testhost::Image& image) {
    const int w = image.width(), h = image.height();
    const double top = image.depth() == Depth::Byte    ? 255
                       : image.depth() == Depth::Short ? 65535
                                                       : 1;
    const int x0 = w / 4, x1 = 3 * w / 4, y0 = h / 8, y1 = h / 8 + h / 2;
    const int glyph = std::max(4, h / 40);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const int gx = (x - x0) % (glyph + glyph / 2), gy = (y - y0) % (glyph * 2);
            if (gx < glyph && gy < glyph && ((x / 3 + y / 5) % 7 != 0))
                for (int c = 0; c < 4; ++c)
                    image.set(x, y, c, top * 0.9);
        }
}

struct Fixture {
    Fixture(const std::string& bundle, int width, int height, Depth depth, int compositing = 0,
            int layout = 0)
        : module(bundle, true), session(host, module.plugin(0)) {
        if (!module.ok())
            throw std::runtime_error(module.error());
        session.load();
        session.describe();
        session.describeInContext(kOfxImageEffectContextFilter);
        instance = session.createInstance(kOfxImageEffectContextFilter).instance;
        source = std::make_shared<testhost::Image>(OfxRectI{0, 0, width, height}, Components::RGBA,
                                                   depth);
        destination = std::make_shared<testhost::Image>(OfxRectI{0, 0, width, height},
                                                        Components::RGBA, depth);
        drawText(*source);
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
    testhost::Host host;
    testhost::Module module;
    testhost::PluginSession session;
    testhost::Effect* instance = nullptr;
    std::shared_ptr<testhost::Image> source, destination;
};

Depth depthOf(int64_t code) { return static_cast<Depth>(code); }

void renderBench(benchmark::State& state, const char* bundle) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    Fixture f(bundle, width, height, depthOf(state.range(1)));
    f.host.setNumCPUs(static_cast<unsigned>(state.range(2)));
    f.host.makeCurrent();
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, {0, 0, width, height}) != kOfxStatOK)
            state.SkipWithError("render failed");
    }
    state.SetBytesProcessed(state.iterations() * 2 * int64_t(width) * height *
                            f.source->pixelBytes());
}

void BM_Render(benchmark::State& state) { renderBench(state, NIMBRA_BUNDLE); }

// The two compositing modes side by side. Arguments: depth, mode (0 compatible, 1 accurate),
// threads; 3840 × 2160.
void BM_Compositing(benchmark::State& state) {
    const int width = 3840, height = 2160;
    Fixture f(NIMBRA_BUNDLE, width, height, depthOf(state.range(0)),
              static_cast<int>(state.range(1)));
    f.host.setNumCPUs(static_cast<unsigned>(state.range(2)));
    f.host.makeCurrent();
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, {0, 0, width, height}) != kOfxStatOK)
            state.SkipWithError("render failed");
    }
    state.SetBytesProcessed(state.iterations() * 2 * int64_t(width) * height *
                            f.source->pixelBytes());
}
// The plate layouts against the one plate. Arguments: layout (0 whole, 1 blocks, 2 lines),
// depth, compositing mode; 3840 × 2160, two threads. The frame's text is rows of glyphs with
// empty rows between them: one block, and a line per row of glyphs.
void BM_Layout(benchmark::State& state) {
    const int width = 3840, height = 2160;
    Fixture f(NIMBRA_BUNDLE, width, height, depthOf(state.range(1)),
              static_cast<int>(state.range(2)), static_cast<int>(state.range(0)));
    f.host.setNumCPUs(2);
    f.host.makeCurrent();
    for (auto _ : state) {
        if (f.session.render(*f.instance, 0, {0, 0, width, height}) != kOfxStatOK)
            state.SkipWithError("render failed");
    }
    state.SetBytesProcessed(state.iterations() * 2 * int64_t(width) * height *
                            f.source->pixelBytes());
}
// A frame of specks (one pixel in a hundred, margins 0): far more blocks than plates allowed,
// so every layout falls back to the one plate; what it costs to find that out. Argument:
// layout. 3840 × 2160, 8-bit, compatible, two threads.
void BM_LayoutNoise(benchmark::State& state) {
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
void BM_Reference(benchmark::State& state) { renderBench(state, NIMBRA_REFERENCE_BUNDLE); }

void BM_Memcpy(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    testhost::Image source({0, 0, width, height}, Components::RGBA, depthOf(state.range(1)));
    testhost::Image destination({0, 0, width, height}, Components::RGBA, depthOf(state.range(1)));
    drawText(source);
    const size_t row = size_t(width) * source.pixelBytes();
    for (auto _ : state) {
        for (int y = 0; y < height; ++y)
            std::memcpy(destination.pixel(0, y), source.pixel(0, y), row);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 2 * int64_t(row) * height);
}

// Arguments: width (height is 9/16 of it), depth (0 byte, 1 short, 2 float), threads.
void sizes(benchmark::internal::Benchmark* b, bool threads) {
    for (int width : {1920, 3840})
        for (int depth : {0, 1, 2})
            for (int n : {1, 2, 8}) {
                b->Args({width, depth, n});
                if (!threads)
                    break;
            }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Memcpy)->Apply([](auto* b) { sizes(b, false); });
BENCHMARK(BM_Render)->Apply([](auto* b) { sizes(b, true); });
BENCHMARK(BM_Compositing)
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Layout)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LayoutNoise)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reference)->Apply([](auto* b) { sizes(b, true); }) -> MinTime(0.2);

} // namespace

BENCHMARK_MAIN();
