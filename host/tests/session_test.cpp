// The whole host path with a plug-in loaded from a bundle by the system's loader: bootstrap,
// describe, instances, render in both host flavours, and the out-args a host pre-fills.
#include "module.h"
#include "platform.h"
#include "session.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using ofxhost::Components;
using ofxhost::Depth;
using ofxhost::Effect;
using ofxhost::Flavour;
using ofxhost::Host;
using ofxhost::Module;
using ofxhost::PluginSession;

class ProbeSession : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.ok()) << module.error(); }

    // load, describe and describe-in-context Filter, then an instance with images attached.
    Effect& start(Depth depth) {
        EXPECT_EQ(session.load(), kOfxStatOK);
        EXPECT_EQ(session.describe(), kOfxStatOK);
        EXPECT_EQ(session.describeInContext(kOfxImageEffectContextFilter), kOfxStatOK);
        ofxhost::InstanceResult created = session.createInstance(kOfxImageEffectContextFilter);
        EXPECT_EQ(created.status, kOfxStatReplyDefault);
        Effect& inst = *created.instance;
        source = host.makeImage({0, 0, 8, 6}, Components::RGBA, depth);
        output = host.makeImage({0, 0, 8, 6}, Components::RGBA, depth);
        inst.clip("Source").setImage(source);
        inst.clip("Output").setImage(output);
        return inst;
    }

    Module module{OFXHOST_PROBE_BUNDLE};
    Host host;
    PluginSession session{host, module.plugin(0)};
    std::shared_ptr<ofxhost::Image> source, output;
};

TEST(ModuleLoader, ResolvesBundlesAndExplainsFailures) {
    Module bundle(OFXHOST_PROBE_BUNDLE);
    ASSERT_TRUE(bundle.ok()) << bundle.error();
    EXPECT_EQ(bundle.binaryPath(), std::string(OFXHOST_PROBE_BUNDLE) + "/Contents/" +
                                       ofxhost::platform::bundleArch() + "/Probe.ofx");
    EXPECT_EQ(bundle.pluginCount(), 1);
    EXPECT_NE(bundle.pluginById("net.nimbra.ofxhost.probe"), nullptr);
    EXPECT_EQ(bundle.plugin(1), nullptr);
    EXPECT_FALSE(bundle.hasSetHost());

    Module direct(bundle.binaryPath());
    EXPECT_TRUE(direct.ok());
    Module missing("/nonexistent/Nothing.ofx.bundle");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("Nothing.ofx"), std::string::npos);
}

TEST_F(ProbeSession, DescribeRecordsClipsParamsAndSuiteRequests) {
    start(Depth::Float);
    Effect* desc = session.contextDescriptor(kOfxImageEffectContextFilter);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->clipNames(), (std::vector<std::string>{"Source", "Output"}));
    EXPECT_EQ(desc->paramNames(), (std::vector<std::string>{"gain", "tint", "invert"}));
    EXPECT_EQ(
        session.descriptor()->props().getStrings(kOfxImageEffectPropSupportedContexts),
        (std::vector<std::string>{kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}));
    std::vector<ofxhost::SuiteRequest> asked = host.suiteRequests();
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0].name, kOfxPropertySuite);
    EXPECT_TRUE(asked[3].served);
    EXPECT_TRUE(host.misuse().empty());
}

TEST_F(ProbeSession, RenderUsesParamsAtTimeAndReleasesEveryImage) {
    Effect& inst = start(Depth::Float);
    source->fill({0.5, 0.25, 1.0, 1.0});
    inst.param("gain").setKey(0.0, {1.0});
    inst.param("gain").setKey(10.0, {3.0});
    ASSERT_EQ(session.render(inst, 5.0, {0, 0, 8, 6}), kOfxStatOK);
    EXPECT_FLOAT_EQ(output->get(7, 5, 0), 1.0f); // 0.5 * gain 2
    EXPECT_FLOAT_EQ(output->get(0, 0, 1), 0.5f);
    EXPECT_TRUE(host.allImagesReleased());
    EXPECT_EQ(host.multiThreadCalls(), 1u);
    EXPECT_TRUE(output->guardsIntact());

    // The plug-in's own edits go through paramSetValue's variadic doubles and ints.
    ASSERT_EQ(session.instanceChanged(inst, "OfxTypeParameter", "gain"), kOfxStatOK);
    EXPECT_EQ(inst.param("tint").valueAt(0.0), (std::vector<double>{0.5, 0.25, 0.125, 1.0}));
    EXPECT_EQ(inst.param("invert").valueAt(0.0), (std::vector<double>{1.0}));
}

TEST_F(ProbeSession, MltLikeHostRendersBytesThroughNegativeRowBytes) {
    host.setFlavour(Flavour::MltLike);
    Effect& inst = start(Depth::Byte);
    EXPECT_LT(source->rowBytes(), 0);
    EXPECT_EQ(inst.clip("Source").props().getString(kOfxImageEffectPropPreMultiplication),
              kOfxImageUnPreMultiplied);
    // Load went out again before Describe.
    std::vector<std::string> log = session.actionLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], kOfxActionLoad);
    EXPECT_EQ(log[2], kOfxActionDescribe);
    int dim = -1;
    const auto* props =
        static_cast<const OfxPropertySuiteV1*>(host.fetchSuite(kOfxPropertySuite, 1));
    EXPECT_EQ(
        props->propGetDimension(host.ofxHost()->host, kOfxImageEffectPropSupportedContexts, &dim),
        kOfxStatOK);
    EXPECT_EQ(dim, 0);

    source->set(0, 5, 0, 200); // top-left: the first row in memory
    source->set(7, 0, 2, 100); // bottom-right: the row data points at
    ASSERT_EQ(session.render(inst, 0.0, {0, 0, 8, 6}), kOfxStatOK);
    EXPECT_EQ(output->get(0, 5, 0), 200);
    EXPECT_EQ(output->get(7, 0, 2), 100);
    EXPECT_TRUE(output->guardsIntact());
}

TEST_F(ProbeSession, OutArgsArePrefilledPerClipAndStrict) {
    Effect& inst = start(Depth::Float);
    ofxhost::RoiResult roi = session.regionsOfInterest(inst, 0.0, {0, 0, 8, 6});
    ASSERT_EQ(roi.status, kOfxStatOK);
    ASSERT_EQ(roi.rois.count("Source"), 1u);
    EXPECT_EQ(roi.rois["Source"].x1, -1.0);
    EXPECT_EQ(roi.rois["Source"].y2, 7.0);
    EXPECT_EQ(roi.rois.count("Output"), 0u);

    ofxhost::IdentityResult same = session.isIdentity(inst, 0.0, {0, 0, 8, 6});
    EXPECT_EQ(same.status, kOfxStatOK);
    EXPECT_EQ(same.clip, "Source");
    inst.param("gain").setValue({2.0});
    EXPECT_EQ(session.isIdentity(inst, 0.0, {0, 0, 8, 6}).status, kOfxStatReplyDefault);

    ofxhost::RectResult rod = session.regionOfDefinition(inst, 0.0);
    EXPECT_EQ(rod.status, kOfxStatReplyDefault);
    EXPECT_EQ(rod.rect.x2, 8.0); // the Source RoD the host pre-filled

    ofxhost::ArgsResult prefs = session.clipPreferences(inst);
    EXPECT_EQ(prefs.outArgs->getString("OfxImageClipPropDepth_Output"), kOfxBitDepthFloat);
    const auto* props =
        static_cast<const OfxPropertySuiteV1*>(host.fetchSuite(kOfxPropertySuite, 1));
    EXPECT_EQ(props->propSetString(prefs.outArgs->handle(), "OfxImageClipPropDepth_Nope", 0,
                                   kOfxBitDepthByte),
              kOfxStatErrUnknown);
}

TEST_F(ProbeSession, ConcurrentRendersOfTwoInstancesStayApart) {
    Effect& first = start(Depth::Float);
    Effect& second = *session.createInstance(kOfxImageEffectContextFilter).instance;
    auto out2 = host.makeImage({0, 0, 8, 6}, Components::RGBA, Depth::Float);
    second.clip("Source").setImage(source);
    second.clip("Output").setImage(out2);
    second.param("gain").setValue({0.5});
    source->fill({0.5, 0.5, 0.5, 1.0});
    auto renderFrames = [&](Effect& inst, OfxStatus& st) {
        for (int t = 0; t < 20 && st == kOfxStatOK; ++t)
            st = session.render(inst, t, {0, 0, 8, 6});
    };
    OfxStatus st1 = kOfxStatOK, st2 = kOfxStatOK;
    std::thread a(renderFrames, std::ref(first), std::ref(st1));
    std::thread b(renderFrames, std::ref(second), std::ref(st2));
    a.join();
    b.join();
    EXPECT_EQ(st1, kOfxStatOK);
    EXPECT_EQ(st2, kOfxStatOK);
    EXPECT_FLOAT_EQ(output->get(3, 3, 0), 0.5f);
    EXPECT_FLOAT_EQ(out2->get(3, 3, 0), 0.25f);
    EXPECT_EQ(host.imagesFetched(), 80);
    EXPECT_TRUE(host.allImagesReleased());
}

TEST_F(ProbeSession, InjectedFaultsReachThePlugin) {
    host.faults().withholdSuite(kOfxMultiThreadSuite, 1);
    EXPECT_EQ(session.load(), kOfxStatErrMissingHostFeature);
    host.faults().clear();
    Effect& inst = start(Depth::Float);
    host.faults().failFunction("clipGetImage", kOfxStatErrMemory);
    EXPECT_EQ(session.render(inst, 0.0, {0, 0, 8, 6}), kOfxStatFailed);
    EXPECT_TRUE(host.allImagesReleased());
    EXPECT_EQ(session.destroyInstance(inst), kOfxStatReplyDefault);
    EXPECT_EQ(session.unload(), kOfxStatReplyDefault);
}

} // namespace
