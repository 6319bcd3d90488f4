// The instance actions as a host sees them through the built module.
#include "loaded_plugin.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using nimbra_test::kFilter;
using nimbra_test::kGeneral;
using nimbra_test::LoadedPlugin;
using testhost::Components;
using testhost::Depth;

/// The diagnostic module opens its log when it is mapped: name it before the first load.
const std::string& diagLogPath() {
    static const std::string path = [] {
        std::string p = testing::TempDir() + "nimbra-instances-" +
                        std::to_string(testhost::platform::processId()) + ".log";
        testhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", p);
        return p;
    }();
    return path;
}

std::string diagLog() {
    std::ifstream in(diagLogPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(InstanceLife, CreateRecordsInstanceDataAndDestroyClearsIt) {
    LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    for (const char* context : {kFilter, kGeneral}) {
        SCOPED_TRACE(context);
        ASSERT_EQ(p.session.describeInContext(context), kOfxStatOK);
        testhost::InstanceResult created = p.session.createInstance(context);
        ASSERT_EQ(created.status, kOfxStatOK);
        testhost::Effect& fx = *created.instance;
        EXPECT_NE(fx.props().getPointer(kOfxPropInstanceData), nullptr);
        EXPECT_EQ(p.session.action(kOfxActionDestroyInstance, fx.handle(), nullptr, nullptr),
                  kOfxStatOK);
        EXPECT_EQ(fx.props().getPointer(kOfxPropInstanceData), nullptr);
    }
    EXPECT_TRUE(p.host.misuse().empty());
}

TEST(InstanceActions, RepliesOfTheNeutralActions) {
    diagLogPath();
    LoadedPlugin p(NIMBRA_DIAG_BUNDLE);
    testhost::Effect& fx = p.instantiate(kFilter);
    testhost::PluginSession& s = p.session;

    const testhost::IdentityResult identity = s.isIdentity(fx, 3.0, {0, 0, 10, 10});
    EXPECT_EQ(identity.status, kOfxStatReplyDefault);
    EXPECT_EQ(identity.clip, "");
    EXPECT_EQ(identity.time, 3.0);

    EXPECT_EQ(s.clipPreferences(fx).status, kOfxStatReplyDefault);
    EXPECT_EQ(s.purgeCaches(fx), kOfxStatReplyDefault);
    EXPECT_EQ(s.syncPrivateData(fx), kOfxStatReplyDefault);
    EXPECT_EQ(s.beginInstanceChanged(fx), kOfxStatReplyDefault);
    EXPECT_EQ(s.instanceChanged(fx, kOfxTypeClip, "Source"), kOfxStatReplyDefault);
    EXPECT_EQ(s.instanceChanged(fx, kOfxTypeParameter, "marginX"), kOfxStatReplyDefault);
    EXPECT_EQ(s.endInstanceChanged(fx), kOfxStatReplyDefault);
    EXPECT_EQ(s.beginSequenceRender(fx, {0, 10}), kOfxStatReplyDefault);
    EXPECT_EQ(s.endSequenceRender(fx, {0, 10}), kOfxStatReplyDefault);
    EXPECT_EQ(s.action(kOfxImageEffectActionInvokeHelp, fx.handle(), nullptr, nullptr),
              kOfxStatReplyDefault);
    EXPECT_EQ(s.action(kOfxImageEffectActionInvokeAbout, fx.handle(), nullptr, nullptr),
              kOfxStatReplyDefault);

    EXPECT_EQ(diagLog().find("Instance Changed called with unknown type"), std::string::npos);
    EXPECT_EQ(s.instanceChanged(fx, "OfxTypeWidget", "knob"), kOfxStatReplyDefault);
    EXPECT_NE(diagLog().find("Instance Changed called with unknown type"), std::string::npos);

    const testhost::RangeResult domain = s.getTimeDomain(fx);
    EXPECT_EQ(domain.status, kOfxStatReplyDefault);
    EXPECT_NE(diagLog().find("ERROR : Calling kOfxImageEffectActionGetTimeDomain on an effect "
                             "that is not a general context effect."),
              std::string::npos);

    fx.clip("Source").setRegionOfDefinition({-5, 2.5, 300, 400});
    const testhost::RectResult rod = s.regionOfDefinition(fx, 0.0);
    EXPECT_EQ(rod.status, kOfxStatOK);
    EXPECT_EQ(rod.rect.x1, -5);
    EXPECT_EQ(rod.rect.y1, 2.5);
    EXPECT_EQ(rod.rect.x2, 300);
    EXPECT_EQ(rod.rect.y2, 400);
    EXPECT_TRUE(p.host.misuse().empty());
}

TEST(InstanceActions, RegionsOfInterestAreTheWholeSourceAndNoFramesAreAskedFor) {
    LoadedPlugin p;
    testhost::Effect& fx = p.instantiate(kFilter);
    fx.clip("Source").setRegionOfDefinition({0, 0, 1920, 1080});
    const testhost::RoiResult roi = p.session.regionsOfInterest(fx, 0.0, {100, 200, 300, 400});
    EXPECT_EQ(roi.status, kOfxStatOK);
    ASSERT_EQ(roi.rois.count("Source"), 1u);
    const OfxRectD& r = roi.rois.at("Source");
    EXPECT_EQ(r.x1, 0);
    EXPECT_EQ(r.y1, 0);
    EXPECT_EQ(r.x2, 1920);
    EXPECT_EQ(r.y2, 1080);

    // The RoD at the asked time, not at time 0.
    auto later = p.host.makeImage({0, 0, 64, 32}, Components::RGBA, Depth::Float);
    testhost::Effect& other = *p.session.createInstance(kFilter).instance;
    other.clip("Source").setImageAt(7.0, later);
    const testhost::RoiResult atSeven = p.session.regionsOfInterest(other, 7.0, {1, 1, 2, 2});
    EXPECT_EQ(atSeven.status, kOfxStatOK);
    EXPECT_EQ(atSeven.rois.at("Source").x2, 64);
    EXPECT_EQ(atSeven.rois.at("Source").y2, 32);

    EXPECT_EQ(p.session.framesNeeded(fx, 4.0).status, kOfxStatReplyDefault);
}

TEST(InstanceActions, MissingArgumentsAndLostInstanceDataAreBadHandles) {
    LoadedPlugin p;
    testhost::Effect& fx = p.instantiate(kFilter);
    auto src = p.host.makeImage({0, 0, 8, 8}, Components::RGBA, Depth::Float);
    auto dst = p.host.makeImage({0, 0, 8, 8}, Components::RGBA, Depth::Float);
    src->fill({1, 1, 1, 1});
    dst->fill({0.25, 0.25, 0.25, 0.25});
    fx.clip("Source").setFormat(Components::RGBA, Depth::Float);
    fx.clip("Output").setFormat(Components::RGBA, Depth::Float);
    fx.clip("Source").setImage(src);
    fx.clip("Output").setImage(dst);

    EXPECT_EQ(p.session.action(kOfxImageEffectActionRender, fx.handle(), nullptr, nullptr),
              kOfxStatErrBadHandle);
    EXPECT_EQ(dst->get(3, 3, 0), 0.25);
    EXPECT_EQ(p.host.imagesFetched(), 0);

    // The host lost the pointer: every instance action refuses, destroy is harmless.
    void* kept = fx.props().getPointer(kOfxPropInstanceData);
    fx.props().setPointer(kOfxPropInstanceData, nullptr);
    EXPECT_EQ(p.session.render(fx, 0.0, {0, 0, 8, 8}), kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.purgeCaches(fx), kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.regionOfDefinition(fx, 0.0).status, kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.regionsOfInterest(fx, 0.0, {0, 0, 8, 8}).status, kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.instanceChanged(fx, kOfxTypeParameter, "marginX"), kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.action(kOfxActionDestroyInstance, fx.handle(), nullptr, nullptr),
              kOfxStatOK);
    EXPECT_EQ(dst->get(3, 3, 0), 0.25);
    fx.props().setPointer(kOfxPropInstanceData, kept);
    EXPECT_EQ(p.session.destroyInstance(fx), kOfxStatOK);

    // A host effect the plug-in never saw.
    testhost::Effect& fresh = *p.session.createInstance(kFilter).instance;
    EXPECT_EQ(p.session.action(kOfxActionDestroyInstance, fresh.handle(), nullptr, nullptr),
              kOfxStatOK);
    EXPECT_EQ(p.session.render(fresh, 0.0, {0, 0, 8, 8}), kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.action(kOfxActionDestroyInstance, fresh.handle(), nullptr, nullptr),
              kOfxStatOK);
    EXPECT_EQ(dst->get(3, 3, 0), 0.25);
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(dst->guardsIntact());
}

// marginX keyed 0 at t=0 and 20 at t=20: frame 10 uses 10, so the plate's left edge sits
// 2×10 pixels left of the text.
TEST(InstanceParams, AnimatedMarginIsReadAtTheRenderTime) {
    LoadedPlugin p;
    testhost::Effect& fx = p.instantiate(kFilter);
    fx.clip("Source").setFormat(Components::RGBA, Depth::Byte);
    fx.clip("Output").setFormat(Components::RGBA, Depth::Byte);
    auto src = p.host.makeImage({0, 0, 100, 20}, Components::RGBA, Depth::Byte);
    auto dst = p.host.makeImage({0, 0, 100, 20}, Components::RGBA, Depth::Byte);
    for (int c = 0; c < 4; ++c)
        src->set(50, 10, c, 255);
    fx.clip("Source").setImage(src);
    fx.clip("Output").setImage(dst);
    fx.param("marginX").setKey(0.0, {0.0});
    fx.param("marginX").setKey(20.0, {20.0});
    for (double t : {10.0, 20.0}) {
        SCOPED_TRACE(t);
        ASSERT_EQ(p.session.render(fx, t, {0, 0, 100, 20}), kOfxStatOK);
        const int left = 50 - 2 * static_cast<int>(t);
        EXPECT_EQ(dst->get(left, 10, 3), 255);
        EXPECT_EQ(dst->get(left - 1, 10, 3), 0);
        EXPECT_EQ(dst->get(100 - left, 10, 3), 255);
        EXPECT_EQ(dst->get(101 - left, 10, 3), 0);
    }
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(dst->guardsIntact());
}

} // namespace
