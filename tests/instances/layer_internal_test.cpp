// The OFX layer's instance-side classes, linked in and run against the test host: the
// band split and the CPU count, images, parameters and the region-of-interest setter.
#include "host.h"
#include "multi_thread.h"
#include "session.h"
#include "text_auto_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

extern "C" OfxPlugin* OfxGetPlugin(int nth);

namespace {

constexpr const char* kFilter = "OfxImageEffectContextFilter";
using ofxhost::Components;
using ofxhost::Depth;

/// A bare effect put on an instance handle in place of the text effect, to reach what the
/// text effect never does. Its ROI answer is configurable.
class ProbeEffect : public OFX::ImageEffect {
public:
    using OFX::ImageEffect::ImageEffect;
    void render(const OFX::RenderArgs&) override {}
    void getRegionsOfInterest(const OFX::RegionsOfInterestArgs&,
                              OFX::RegionOfInterestSetter& rois) override {
        if (strayClip) {
            const OFX::Clip stray(this, "Matte", nullptr, nullptr);
            rois.setRegionOfInterest(stray, {0, 0, 1, 1});
        }
        rois.setRegionOfInterest(*fetchClip("Source"), {-1, -2, 30.5, 40});
    }
    bool strayClip = false;
};

/// The module's own code in this process, loaded through the test host, one filter instance.
class Layer : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(session.load(), kOfxStatOK);
        ASSERT_EQ(session.describe(), kOfxStatOK);
        ASSERT_EQ(session.describeInContext(kFilter), kOfxStatOK);
        fx = session.createInstance(kFilter).instance;
        ASSERT_NE(fx, nullptr);
        effect = static_cast<OFX::ImageEffect*>(fx->instanceData());
    }
    void TearDown() override {
        if (fx)
            session.destroyInstance(*fx);
        session.unload(); // the next test's load fetches the suites from its own host
    }
    /// Replaces the text effect on the handle with a probe.
    ProbeEffect* swapInProbe() {
        delete effect; // clears the handle's instance data
        auto* probe = new ProbeEffect(fx->handle());
        effect = probe;
        return probe;
    }
    std::unique_ptr<OFX::Image> fetch(std::shared_ptr<ofxhost::Image> image) {
        fx->clip("Source").setImage(std::move(image));
        return effect->fetchClip("Source")->fetchImage(0.0);
    }

    ofxhost::Host host;
    ofxhost::PluginSession session{host, OfxGetPlugin(0)};
    ofxhost::Effect* fx = nullptr;
    OFX::ImageEffect* effect = nullptr;
};

TEST(BandOfWindow, SplitsRowsEvenlyFromTheBottom) {
    const OfxRectI window{3, 7, 9, 17};
    const int expected[][2] = {{7, 9}, {9, 12}, {12, 14}, {14, 17}};
    for (unsigned i = 0; i < 4; ++i) {
        const OfxRectI band = OFX::bandOfWindow(window, i, 4);
        EXPECT_EQ(band.y1, expected[i][0]) << i;
        EXPECT_EQ(band.y2, expected[i][1]) << i;
        EXPECT_EQ(band.x1, 3);
        EXPECT_EQ(band.x2, 9);
    }
    int empty = 0, next = 0;
    for (unsigned i = 0; i < 8; ++i) {
        const OfxRectI band = OFX::bandOfWindow({0, 0, 4, 3}, i, 8);
        EXPECT_EQ(band.y1, next) << i; // contiguous, in order
        next = band.y2;
        empty += band.y1 == band.y2;
    }
    EXPECT_EQ(next, 3);
    EXPECT_EQ(empty, 5);
    // A tall window over many threads must not wrap in the products.
    const OfxRectI tall = OFX::bandOfWindow({0, 0, 1, 100000000}, 63, 64);
    EXPECT_EQ(tall.y2, 100000000);
    EXPECT_EQ(tall.y1, 98437500);
}

TEST_F(Layer, NumCPUsIsTheHostsAnswerOrOne) {
    for (unsigned cpus : {1u, 2u, 7u, 64u, 1000u}) {
        host.setNumCPUs(cpus);
        EXPECT_EQ(OFX::MultiThread::getNumCPUs(), cpus);
    }
    host.setNumCPUs(0); // the calling thread is still there
    EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 1u);
    host.setNumCPUs(6);
    for (OfxStatus status : {kOfxStatFailed, kOfxStatErrBadHandle, kOfxStatErrUnsupported}) {
        host.faults().failFunction("multiThreadNumCPUs", status);
        EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 1u) << OFX::statusName(status);
        host.faults().clear();
    }
    EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 6u);
}

TEST(NumCPUs, NeedsALoadedModule) {
    // No fixture: nothing has loaded the module, or the Layer tests before unloaded it.
    EXPECT_THROW(OFX::MultiThread::getNumCPUs(), OFX::Exception::HostInadequate);
}

class Recorder : public OFX::ImageProcessor {
public:
    using OFX::ImageProcessor::ImageProcessor;
    void beforeThreads() override { ++before; }
    void processWindow(const OfxRectI& window) override {
        std::lock_guard<std::mutex> lock(mutex);
        windows.push_back(window);
        threads.push_back(std::this_thread::get_id());
    }
    void afterThreads() override { ++after; }
    std::vector<OfxRectI> sortedWindows() {
        std::sort(windows.begin(), windows.end(), [](const OfxRectI& a, const OfxRectI& b) {
            return a.y1 < b.y1 || (a.y1 == b.y1 && a.y2 < b.y2);
        });
        return windows;
    }
    std::mutex mutex;
    std::vector<OfxRectI> windows;
    std::vector<std::thread::id> threads;
    int before = 0, after = 0;
};

TEST_F(Layer, ImageProcessorSharesTheWindowOverTheHostThreads) {
    std::unique_ptr<OFX::Image> destination =
        fetch(host.makeImage({0, 0, 4, 4}, Components::RGBA, Depth::Byte));
    ASSERT_TRUE(destination);

    host.setNumCPUs(4);
    Recorder four(*effect);
    four.destinationImage = destination.get();
    four.renderWindow = {0, 0, 2, 10};
    four.process();
    ASSERT_EQ(four.windows.size(), 4u);
    const std::vector<OfxRectI> bands = four.sortedWindows();
    EXPECT_EQ(bands[1].y1, 2);
    EXPECT_EQ(bands[2].y1, 5);
    EXPECT_EQ(bands[3].y1, 7);
    EXPECT_EQ(bands[3].y2, 10);
    EXPECT_EQ(four.before, 1);
    EXPECT_EQ(four.after, 1);

    host.setNumCPUs(8);
    Recorder eight(*effect);
    eight.destinationImage = destination.get();
    eight.renderWindow = {0, 0, 2, 3};
    eight.process();
    ASSERT_EQ(eight.windows.size(), 8u);
    EXPECT_EQ(std::count_if(eight.windows.begin(), eight.windows.end(),
                            [](const OfxRectI& w) { return w.y1 == w.y2; }),
              5);

    // One share on the calling thread: one CPU, none, or a failing query.
    struct Single {
        unsigned cpus;
        bool failQuery;
    };
    for (Single s : {Single{1, false}, Single{0, false}, Single{6, true}}) {
        SCOPED_TRACE(s.cpus);
        host.setNumCPUs(s.cpus);
        if (s.failQuery)
            host.faults().failFunction("multiThreadNumCPUs", kOfxStatFailed);
        const unsigned threadCallsBefore = host.multiThreadCalls();
        Recorder one(*effect);
        one.destinationImage = destination.get();
        one.renderWindow = {0, 0, 2, 10};
        one.process();
        ASSERT_EQ(one.windows.size(), 1u);
        EXPECT_EQ(one.windows[0].y1, 0);
        EXPECT_EQ(one.windows[0].y2, 10);
        EXPECT_EQ(one.threads[0], std::this_thread::get_id());
        EXPECT_EQ(host.multiThreadCalls(), threadCallsBefore);
        host.faults().clear();
    }

    host.setNumCPUs(4);
    host.faults().failFunction("multiThread", kOfxStatErrMemory);
    Recorder refused(*effect);
    refused.destinationImage = destination.get();
    refused.renderWindow = {0, 0, 2, 10};
    EXPECT_THROW(refused.process(), std::bad_alloc);
    EXPECT_EQ(refused.after, 0);
    host.faults().clear();

    for (OfxRectI window : {OfxRectI{0, 0, 0, 10}, OfxRectI{0, 5, 2, 5}, OfxRectI{2, 0, 1, 4}}) {
        Recorder idle(*effect);
        idle.destinationImage = destination.get();
        idle.renderWindow = window;
        idle.process();
        EXPECT_TRUE(idle.windows.empty());
        EXPECT_EQ(idle.before + idle.after, 0);
    }
    Recorder noDestination(*effect);
    noDestination.renderWindow = {0, 0, 2, 10};
    noDestination.process();
    EXPECT_TRUE(noDestination.windows.empty());
    EXPECT_EQ(noDestination.before, 0);
}

TEST_F(Layer, ImageDescriptionAndPixelAddresses) {
    struct Format {
        Components c;
        Depth d;
        int bytes;
    };
    for (Format f :
         {Format{Components::RGBA, Depth::Byte, 4}, Format{Components::RGBA, Depth::Short, 8},
          Format{Components::RGBA, Depth::Float, 16}, Format{Components::Alpha, Depth::Byte, 1},
          Format{Components::Alpha, Depth::Float, 4}}) {
        SCOPED_TRACE(f.bytes);
        std::unique_ptr<OFX::Image> image = fetch(host.makeImage({0, 0, 10, 5}, f.c, f.d));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->getPixelBytes(), f.bytes);
        auto* base = static_cast<unsigned char*>(image->getPixelData());
        EXPECT_EQ(image->pixelAddress(0, 0), base);
        EXPECT_EQ(image->pixelAddress(9, 4), base + 4 * image->getRowBytes() + 9 * f.bytes);
        for (auto [x, y] : {std::pair{10, 0}, std::pair{0, 5}, std::pair{-1, 0}, std::pair{0, -1}})
            EXPECT_EQ(image->pixelAddress(x, y), nullptr) << x << "," << y;
    }

    auto offset = host.makeImage({100, 50, 200, 150}, Components::RGBA, Depth::Byte);
    std::unique_ptr<OFX::Image> image = fetch(offset);
    ASSERT_EQ(image->getRowBytes(), 400);
    auto* base = static_cast<unsigned char*>(image->getPixelData());
    EXPECT_EQ(image->pixelAddress(100, 50), base);
    EXPECT_EQ(image->pixelAddress(101, 51), base + 404);
    EXPECT_EQ(image->getBounds().x2, 200);
    image.reset();

    auto topDown = std::make_shared<ofxhost::Image>(OfxRectI{100, 50, 200, 150}, Components::RGBA,
                                                    Depth::Byte, ofxhost::RowOrder::TopDown);
    image = fetch(topDown);
    ASSERT_EQ(image->getRowBytes(), -400);
    base = static_cast<unsigned char*>(image->getPixelData());
    EXPECT_EQ(image->pixelAddress(100, 51), base - 400);
    EXPECT_EQ(image->pixelAddress(199, 149), topDown->pixel(199, 149));
    image.reset();

    // Rows a mebibyte apart, past 2^31 bytes from the first in either row order: the offset
    // of a far row does not fit 32 bits. (The rows between are never touched.)
    for (ofxhost::RowOrder order : {ofxhost::RowOrder::BottomUp, ofxhost::RowOrder::TopDown}) {
        auto tall = std::make_shared<ofxhost::Image>(OfxRectI{-3, -10, 1, 2190}, Components::RGBA,
                                                     Depth::Float, order, (1 << 20) - 64,
                                                     ofxhost::Allocation::Sparse);
        image = fetch(tall);
        ASSERT_EQ(std::abs(image->getRowBytes()), 1 << 20);
        for (auto [x, y] : {std::pair{-3, -10}, std::pair{0, 2037}, std::pair{-2, 2038},
                            std::pair{0, 2189}, std::pair{-3, 2189}})
            EXPECT_EQ(image->pixelAddress(x, y), tall->pixel(x, y)) << x << "," << y;
        image.reset();
    }

    ofxhost::PropertySet& odd = fx->clip("Source").imageOverrides();
    odd.setString(kOfxImageEffectPropComponents, "OfxImageComponentYUVA");
    odd.setString(kOfxImagePropField, "OfxFieldSideways");
    image = fetch(host.makeImage({0, 0, 10, 5}, Components::RGBA, Depth::Byte));
    EXPECT_EQ(image->getPixelComponents(), OFX::PixelComponents::Custom);
    EXPECT_EQ(image->getPixelBytes(), 0);
    EXPECT_EQ(image->getField(), OFX::VideoField::None);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{9, 4}, std::pair{5, 2}})
        EXPECT_EQ(image->pixelAddress(x, y), nullptr);
    image.reset();
    odd.remove(kOfxImageEffectPropComponents);
    odd.remove(kOfxImagePropField);

    odd.setString(kOfxImageEffectPropPreMultiplication, "OfxImageHalfMultiplied");
    EXPECT_THROW(fetch(host.makeImage({0, 0, 10, 5}, Components::RGBA, Depth::Byte)),
                 std::invalid_argument);
    EXPECT_EQ(host.imagesOutstanding(), 0);
    EXPECT_TRUE(host.misuse().empty());
}

TEST_F(Layer, ParametersAreFetchedOnceAndTyped) {
    ProbeEffect* probe = swapInProbe();
    EXPECT_THROW(
        {
            try {
                probe->fetchRGBAParam("marginX");
            } catch (const OFX::Exception::TypeRequest& e) {
                EXPECT_STREQ(e.what(), "Parameter exists but is of the wrong type");
                throw;
            }
        },
        OFX::Exception::TypeRequest);

    OFX::DoubleParam* first = probe->fetchDoubleParam("marginX");
    ASSERT_NE(first, nullptr);
    host.faults().failFunction("paramGetHandle", kOfxStatErrUnknown); // a second call would fail
    EXPECT_EQ(probe->fetchDoubleParam("marginX"), first);
    EXPECT_THROW(probe->fetchDoubleParam("marginY"), OFX::Exception::Suite);
    host.faults().clear();

    OFX::BooleanParam* fill = probe->fetchBooleanParam("fillEnabled");
    for (double raw : {0.0, 1.0, 5.0, -1.0}) {
        fx->param("fillEnabled").setValue({raw});
        bool value = raw == 0.0;
        fill->getValueAtTime(0.0, value);
        EXPECT_EQ(value, raw != 0.0) << raw;
    }

    fx->param("marginX").setKey(0.0, {0.0});
    fx->param("marginX").setKey(20.0, {20.0});
    double margin = -1;
    first->getValueAtTime(10.0, margin);
    EXPECT_EQ(margin, 10.0);

    // A value the host fails to give is an error with the host's status, not a made-up value.
    OFX::RGBAParam* colour = probe->fetchRGBAParam("fillColor");
    host.faults().failFunction("paramGetValueAtTime", kOfxStatErrUnknown);
    double r = 0, g = 0, b = 0, a = 0;
    bool on = false;
    for (const std::function<void()>& read :
         std::vector<std::function<void()>>{[&] { first->getValueAtTime(10.0, margin); },
                                            [&] { colour->getValueAtTime(0.0, r, g, b, a); },
                                            [&] { fill->getValueAtTime(0.0, on); }}) {
        try {
            read();
            ADD_FAILURE() << "a failed read gave a value";
        } catch (const OFX::Exception::Suite& e) {
            EXPECT_EQ(e.status(), kOfxStatErrUnknown);
        }
    }
    host.faults().clear();
}

TEST_F(Layer, RegionOfInterestSetterWritesTheClipsProperty) {
    ProbeEffect* probe = swapInProbe();
    ofxhost::RoiResult roi = session.regionsOfInterest(*fx, 0.0, {5, 5, 6, 6});
    EXPECT_EQ(roi.status, kOfxStatOK);
    const OfxRectD& r = roi.rois.at("Source");
    EXPECT_EQ(r.x1, -1);
    EXPECT_EQ(r.y1, -2);
    EXPECT_EQ(r.x2, 30.5);
    EXPECT_EQ(r.y2, 40);

    // A clip the context never defined has no property to write to.
    probe->strayClip = true;
    EXPECT_EQ(session.regionsOfInterest(*fx, 0.0, {5, 5, 6, 6}).status,
              kOfxStatErrMissingHostFeature);
}

} // namespace
