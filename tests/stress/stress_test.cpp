// The module under a busy host: instances created and destroyed on the main thread while
// other instances render on worker threads, load cycles over and over, and aborts at random
// rows. Run under ThreadSanitizer and LeakSanitizer in CI; here the outputs are compared
// against single-threaded renders and the host's books (images, guards, misuse) checked.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using ofxhost::Components;
using ofxhost::Depth;

struct Format {
    Components components;
    Depth depth;
};

const Format kFormats[] = {{Components::RGBA, Depth::Byte},   {Components::RGBA, Depth::Short},
                           {Components::RGBA, Depth::Float},  {Components::Alpha, Depth::Byte},
                           {Components::Alpha, Depth::Short}, {Components::Alpha, Depth::Float}};

/// Text-like blocks over transparency, so that a plate is detected and drawn.
std::shared_ptr<ofxhost::Image> makeSource(const Format& f, int seed) {
    auto image = std::make_shared<ofxhost::Image>(OfxRectI{-8, -4, 56, 36}, f.components, f.depth,
                                                  seed % 2 ? ofxhost::RowOrder::TopDown
                                                           : ofxhost::RowOrder::BottomUp);
    const double top = f.depth == Depth::Byte ? 255 : f.depth == Depth::Short ? 65535 : 1;
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (int glyph = 0; glyph < 3; ++glyph) {
        const int gx = static_cast<int>(rng() % 50) - 4, gy = static_cast<int>(rng() % 26);
        for (int y = gy; y < gy + 5; ++y)
            for (int x = gx; x < gx + 4; ++x)
                for (int c = 0; c < image->channels(); ++c)
                    image->set(x, y, c, top * (0.3 + 0.1 * c));
    }
    return image;
}

std::vector<unsigned char> bytesOf(ofxhost::Image& image) {
    std::vector<unsigned char> out;
    const OfxRectI b = image.bounds();
    const size_t row = static_cast<size_t>(image.width()) * image.pixelBytes();
    for (int y = b.y1; y < b.y2; ++y) {
        auto* p = static_cast<unsigned char*>(image.pixel(b.x1, y));
        out.insert(out.end(), p, p + row);
    }
    return out;
}

const OfxRectI kWindow{-6, -2, 50, 33};

/// One instance with its own images; rendering it fills `output`.
struct Job {
    ofxhost::Effect* fx = nullptr;
    Format format{};
    std::shared_ptr<ofxhost::Image> source, output;

    void attach(ofxhost::Effect& effect, const Format& f, int seed) {
        fx = &effect;
        format = f;
        source = makeSource(f, seed);
        output = std::make_shared<ofxhost::Image>(OfxRectI{-8, -4, 56, 36}, f.components, f.depth);
        for (const char* clip : {"Source", "Output"})
            fx->clip(clip).setFormat(f.components, f.depth);
        fx->clip("Source").setImage(source);
        fx->clip("Output").setImage(output);
        fx->param("strokeWidth").setValue({1.5 + seed % 3});
        fx->param("cornerSize").setValue({static_cast<double>(seed % 7)});
    }
};

/// Single-threaded renders of every format and seed, the expected outputs.
std::map<std::pair<int, int>, std::vector<unsigned char>> expectedOutputs(int seeds) {
    nimbra_test::LoadedPlugin p;
    ofxhost::Effect& fx = p.instantiate();
    p.host.setNumCPUs(1);
    std::map<std::pair<int, int>, std::vector<unsigned char>> expected;
    for (int f = 0; f < 6; ++f)
        for (int seed = 0; seed < seeds; ++seed) {
            Job job;
            job.attach(fx, kFormats[f], seed);
            EXPECT_EQ(p.session.render(fx, 0, kWindow), kOfxStatOK);
            expected[{f, seed}] = bytesOf(*job.output);
        }
    EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
    return expected;
}

TEST(StressThreads, InstancesComeAndGoWhileOthersRender) {
    constexpr int kSeeds = 3;
    const auto expected = expectedOutputs(kSeeds);

    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
    p.host.setNumCPUs(3);

    // The instances the workers render are all created before any thread starts.
    constexpr int kWorkers = 3;
    std::vector<Job> workers(kWorkers);
    for (int w = 0; w < kWorkers; ++w) {
        ofxhost::InstanceResult created = p.session.createInstance(nimbra_test::kFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        workers[w].attach(*created.instance, kFormats[w * 2], w % kSeeds);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> renders{0};
    std::vector<std::string> failures;
    std::mutex failuresMutex;
    auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(failuresMutex);
        failures.push_back(what);
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([&, w] {
            Job& job = workers[w];
            const auto& want = expected.at({w * 2, w % kSeeds});
            for (int i = 0; i < 400 && !stop; ++i) {
                if (p.session.render(*job.fx, 0, kWindow) != kOfxStatOK)
                    note("render refused on worker " + std::to_string(w));
                else if (bytesOf(*job.output) != want)
                    note("wrong pixels on worker " + std::to_string(w));
                ++renders;
            }
        });
    }

    // Meanwhile the main thread creates, renders and destroys instances of every format.
    int cycles = 0;
    for (; cycles < 60; ++cycles) {
        ofxhost::InstanceResult created = p.session.createInstance(nimbra_test::kFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        Job job;
        const int f = cycles % 6, seed = cycles % kSeeds;
        job.attach(*created.instance, kFormats[f], seed);
        EXPECT_EQ(p.session.render(*job.fx, 0, kWindow), kOfxStatOK);
        EXPECT_EQ(bytesOf(*job.output), expected.at({f, seed})) << "cycle " << cycles;
        EXPECT_TRUE(job.output->guardsIntact());
        EXPECT_EQ(p.session.destroyInstance(*job.fx), kOfxStatOK);
    }
    stop = true;
    for (std::thread& t : threads)
        t.join();

    EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first: " << failures[0];
    EXPECT_GT(renders.load(), kWorkers);
    for (Job& job : workers) {
        EXPECT_TRUE(job.output->guardsIntact());
        EXPECT_TRUE(job.source->guardsIntact());
        EXPECT_EQ(p.session.destroyInstance(*job.fx), kOfxStatOK);
    }
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(p.host.misuse().empty()) << p.host.misuse().front();
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
}

TEST(StressThreads, AbortAtRandomRowsLeavesWholeRowsAndReleasesEverything) {
    nimbra_test::LoadedPlugin p;
    ofxhost::Effect& fx = p.instantiate();
    std::mt19937 rng(42);
    const unsigned threadCounts[] = {1, 2, 3, 8};
    for (int round = 0; round < 48; ++round) {
        const Format& f = kFormats[round % 6];
        p.host.setNumCPUs(threadCounts[rng() % 4]);
        // The reference, then the same render cut short after a random number of rows.
        p.host.setAbortHook(nullptr);
        Job reference;
        reference.attach(fx, f, round % 3);
        ASSERT_EQ(p.session.render(fx, 0, kWindow), kOfxStatOK);

        Job job;
        job.attach(fx, f, round % 3);
        job.output->fill(std::vector<double>(job.output->channels(), 7.0)); // "untouched"
        const auto untouched = bytesOf(*job.output);
        const int rowsBeforeAbort = static_cast<int>(rng() % (kWindow.y2 - kWindow.y1));
        auto calls = std::make_shared<std::atomic<int>>(0);
        p.host.setAbortHook([calls, rowsBeforeAbort](OfxImageEffectHandle) {
            return calls->fetch_add(1) >= rowsBeforeAbort ? 1 : 0;
        });
        p.session.render(fx, 0, kWindow);
        EXPECT_TRUE(p.host.allImagesReleased()) << "round " << round;
        EXPECT_TRUE(job.output->guardsIntact()) << "round " << round;

        // Every row of the window is either finished or untouched: nothing half-written.
        const size_t span = static_cast<size_t>(kWindow.x2 - kWindow.x1) * job.output->pixelBytes();
        const auto rowOf = [&](ofxhost::Image& image, int y) {
            auto* p = static_cast<unsigned char*>(image.pixel(kWindow.x1, y));
            return std::vector<unsigned char>(p, p + span);
        };
        ofxhost::Image blank(job.output->bounds(), f.components, f.depth);
        blank.fill(std::vector<double>(blank.channels(), 7.0));
        int finished = 0;
        for (int y = kWindow.y1; y < kWindow.y2; ++y) {
            const auto got = rowOf(*job.output, y);
            const bool done = got == rowOf(*reference.output, y);
            EXPECT_TRUE(done || got == rowOf(blank, y)) << "round " << round << " row " << y;
            finished += done && got != rowOf(blank, y);
        }
        EXPECT_EQ(bytesOf(*job.output).size(), untouched.size());
        EXPECT_LE(finished, rowsBeforeAbort + 1) << "round " << round;
    }
    p.host.setAbortHook(nullptr);
    EXPECT_TRUE(p.host.misuse().empty());
    EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
}

/// One whole host session on a fresh host; returns the rendered bytes.
std::vector<unsigned char> wholeSession(const ofxhost::Module& module, int extraLoads) {
    ofxhost::Host host;
    ofxhost::PluginSession session(host, module.plugin(0));
    for (int i = 0; i <= extraLoads; ++i)
        EXPECT_EQ(session.load(), kOfxStatOK);
    EXPECT_EQ(session.describe(), kOfxStatOK);
    EXPECT_EQ(session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
    ofxhost::InstanceResult created = session.createInstance(nimbra_test::kFilter);
    EXPECT_EQ(created.status, kOfxStatOK);
    if (!created.instance)
        return {};
    Job job;
    job.attach(*created.instance, kFormats[0], 1);
    EXPECT_EQ(session.render(*job.fx, 0, kWindow), kOfxStatOK);
    EXPECT_EQ(session.destroyInstance(*job.fx), kOfxStatOK);
    for (int i = 0; i <= extraLoads; ++i)
        EXPECT_EQ(session.unload(), kOfxStatOK);
    EXPECT_TRUE(host.allImagesReleased());
    EXPECT_TRUE(job.output->guardsIntact());
    return bytesOf(*job.output);
}

TEST(StressLoad, RepeatedSessionsOnFreshHostsGiveTheSamePixels) {
    ofxhost::Module module(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    ASSERT_TRUE(module.ok()) << module.error();
    const auto first = wholeSession(module, 0);
    ASSERT_FALSE(first.empty());
    for (int cycle = 1; cycle < 40; ++cycle)
        ASSERT_EQ(wholeSession(module, cycle % 4), first) << "cycle " << cycle;
}

TEST(StressLoad, UnloadWithoutLoadLeavesTheNextSessionIntact) {
    ofxhost::Module module(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    ASSERT_TRUE(module.ok()) << module.error();
    const auto first = wholeSession(module, 0);
    {
        ofxhost::Host host;
        ofxhost::PluginSession session(host, module.plugin(0));
        session.setHost();
        for (int i = 0; i < 3; ++i)
            session.unload();
    }
    EXPECT_EQ(wholeSession(module, 2), first);
}

} // namespace
