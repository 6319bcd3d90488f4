// Findings of the session fuzzer, each pinned down by the host answer that caused it.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

namespace {

// The instance is reachable only through the host's OfxPropInstanceData. A host answering
// the set with a reply status (a success to the property wrapper) without storing anything
// used to get an instance that no later action, destroy included, could find: it leaked.
TEST(HostAnswers, InstanceDataNotStoredRefusesTheInstance) {
    for (OfxStatus reply : {kOfxStatReplyYes, kOfxStatReplyNo, kOfxStatReplyDefault}) {
        nimbra_test::LoadedPlugin p;
        ASSERT_EQ(p.session.load(), kOfxStatOK);
        ASSERT_EQ(p.session.describe(), kOfxStatOK);
        ASSERT_EQ(p.session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
        p.host.faults().failFunction("propSetPointer", reply);
        ofxhost::InstanceResult refused = p.session.createInstance(nimbra_test::kFilter);
        EXPECT_NE(refused.status, kOfxStatOK) << "reply " << reply;
        EXPECT_EQ(refused.instance, nullptr);

        // An honest answer afterwards gets a working instance.
        p.host.faults().clear();
        ofxhost::InstanceResult created = p.session.createInstance(nimbra_test::kFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        EXPECT_EQ(p.session.destroyInstance(*created.instance), kOfxStatOK);
        EXPECT_EQ(p.session.unload(), kOfxStatOK);
    }
}

// A host that fails the create action after the instance was built will never send destroy
// for it: whichever of the action's getPropertySet calls fails, the action fails and leaves
// no instance on the handle (the instance clears its pointer there when it is deleted).
TEST(HostAnswers, FailedCreateLeavesNoInstanceBehind) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
    ofxhost::Effect& descriptor = *p.session.contextDescriptor(nimbra_test::kFilter);
    int failures = 0;
    for (unsigned served = 0;; ++served) {
        SCOPED_TRACE(served);
        p.host.faults().failFunction("getPropertySet", kOfxStatErrMemory, served);
        ofxhost::Effect& fx = p.host.createInstance(descriptor);
        const OfxStatus status =
            p.session.action(kOfxActionCreateInstance, fx.handle(), nullptr, nullptr);
        p.host.faults().clear();
        if (status == kOfxStatOK) { // this many calls were all the action needed
            EXPECT_NE(fx.props().getPointer(kOfxPropInstanceData), nullptr);
            EXPECT_EQ(p.session.action(kOfxActionDestroyInstance, fx.handle(), nullptr, nullptr),
                      kOfxStatOK);
            p.host.destroy(fx);
            break;
        }
        ++failures;
        EXPECT_EQ(status, kOfxStatErrMemory);
        EXPECT_EQ(fx.props().getPointer(kOfxPropInstanceData), nullptr);
        p.host.destroy(fx);
        ASSERT_LT(served, 10u);
    }
    EXPECT_GE(failures, 3); // before, while and after the instance is built
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
}

// Pixel positions are measured from the source's lower-left corner. With the source at one
// end of the int range and the output at the other, that difference does not fit an int:
// it used to wrap around to a small number and put the plate's outline on pixels far away.
TEST(HostAnswers, ImagesAtOppositeEndsOfTheIntRangeGetNoPlate) {
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    for (ofxhost::Depth depth : {ofxhost::Depth::Byte, ofxhost::Depth::Float}) {
        nimbra_test::LoadedPlugin p;
        ofxhost::Effect& fx = p.instantiate();
        auto source = std::make_shared<ofxhost::Image>(OfxRectI{kMin, kMin, kMin + 16, kMin + 16},
                                                       ofxhost::Components::RGBA, depth);
        const double full = depth == ofxhost::Depth::Byte ? 255 : 1;
        for (int y = kMin; y < kMin + 4; ++y)
            for (int x = kMin; x < kMin + 4; ++x)
                for (int c = 0; c < 4; ++c)
                    source->set(x, y, c, full);
        const OfxRectI far{kMax - 16, kMax - 16, kMax, kMax};
        auto output = std::make_shared<ofxhost::Image>(far, ofxhost::Components::RGBA, depth);
        output->fill({full / 5, full / 5, full / 5, full / 5});
        for (const char* clip : {"Source", "Output"})
            fx.clip(clip).setFormat(ofxhost::Components::RGBA, depth);
        fx.clip("Source").setImage(source);
        fx.clip("Output").setImage(output);
        fx.param("strokeWidth").setValue({3.0});

        ASSERT_EQ(p.session.render(fx, 0, far), kOfxStatOK);
        // Four billion pixels from the text: nothing of the plate, and no source pixels.
        for (int y = far.y1; y < far.y2; ++y)
            for (int x = far.x1; x < far.x2; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(output->get(x, y, c), 0.0) << "pixel " << x << ", " << y;
        EXPECT_TRUE(output->guardsIntact());
        EXPECT_TRUE(p.host.allImagesReleased());
        EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);
        EXPECT_EQ(p.session.unload(), kOfxStatOK);
    }
}

// With more threads than rows some detection bands hold no row; one at the very bottom of
// the int range used to compute its top row as INT_MIN - 1.
TEST(HostAnswers, EmptyDetectionBandsAtTheBottomOfTheIntRange) {
    constexpr int kMin = std::numeric_limits<int>::min();
    const OfxRectI bounds{-4, kMin, 12, kMin + 3};
    std::vector<double> expected;
    for (unsigned threads : {1u, 8u, 64u}) {
        nimbra_test::LoadedPlugin p;
        ofxhost::Effect& fx = p.instantiate();
        p.host.setNumCPUs(threads);
        auto source = std::make_shared<ofxhost::Image>(bounds, ofxhost::Components::RGBA,
                                                       ofxhost::Depth::Byte);
        for (int c = 0; c < 4; ++c)
            source->set(3, kMin + 1, c, 255);
        auto output = std::make_shared<ofxhost::Image>(bounds, ofxhost::Components::RGBA,
                                                       ofxhost::Depth::Byte);
        for (const char* clip : {"Source", "Output"})
            fx.clip(clip).setFormat(ofxhost::Components::RGBA, ofxhost::Depth::Byte);
        fx.clip("Source").setImage(source);
        fx.clip("Output").setImage(output);
        fx.param("strokeWidth").setValue({1.0});
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(p.session.render(fx, 0, bounds), kOfxStatOK) << threads << " threads";
        // Three rows: anything near a second means rows far outside the image were walked.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        std::vector<double> got;
        for (int y = bounds.y1; y < bounds.y2; ++y)
            for (int x = bounds.x1; x < bounds.x2; ++x)
                for (int c = 0; c < 4; ++c)
                    got.push_back(output->get(x, y, c));
        if (expected.empty())
            expected = got;
        EXPECT_EQ(got, expected) << threads << " threads";
        EXPECT_TRUE(output->guardsIntact());
        EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);
        EXPECT_EQ(p.session.unload(), kOfxStatOK);
    }
}

// The actions reaching the module through the recording record below.
std::vector<std::string> gActions;
OfxPlugin* gRecorded = nullptr;

OfxStatus recordingEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                         OfxPropertySetHandle outArgs) {
    gActions.push_back(action ? action : "(null)");
    return gRecorded->mainEntry(action, handle, inArgs, outArgs);
}

// A session that ends with instances alive used to drop its side of them without a word,
// so the module's instances leaked in every test that did not destroy its own.
TEST(HostTeardown, SessionEndDestroysTheInstancesStillAlive) {
    ofxhost::Module module(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    ASSERT_TRUE(module.ok()) << module.error();
    gRecorded = module.plugin(0);
    OfxPlugin recording = *gRecorded;
    recording.mainEntry = &recordingEntry;
    gActions.clear();
    ofxhost::Host host;
    {
        ofxhost::PluginSession session(host, &recording);
        ASSERT_EQ(session.load(), kOfxStatOK);
        ASSERT_EQ(session.describe(), kOfxStatOK);
        ASSERT_EQ(session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
        ASSERT_NE(session.createInstance(nimbra_test::kFilter).instance, nullptr);
        ASSERT_NE(session.createInstance(nimbra_test::kFilter).instance, nullptr);
        gActions.clear();
    }
    EXPECT_EQ(gActions, std::vector<std::string>(2, kOfxActionDestroyInstance));
    ofxhost::PluginSession last(host, module.plugin(0));
    EXPECT_EQ(last.unload(), kOfxStatOK);
}

} // namespace
