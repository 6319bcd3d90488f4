// The instance actions as a host sees them through the built module.
#include "loaded_plugin.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

using nimbra_test::kFilter;
using nimbra_test::kGeneral;
using nimbra_test::LoadedPlugin;
using ofxhost::Components;
using ofxhost::Depth;

/// The diagnostic module opens its log when it is mapped: name it before the first load.
const std::string& diagLogPath() {
    static const std::string path = [] {
        std::string p = testing::TempDir() + "nimbra-instances-" +
                        std::to_string(ofxhost::platform::processId()) + ".log";
        ofxhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", p);
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
        ofxhost::InstanceResult created = p.session.createInstance(context);
        ASSERT_EQ(created.status, kOfxStatOK);
        ofxhost::Effect& fx = *created.instance;
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
    ofxhost::Effect& fx = p.instantiate(kFilter);
    ofxhost::PluginSession& s = p.session;

    const ofxhost::IdentityResult identity = s.isIdentity(fx, 3.0, {0, 0, 10, 10});
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

    const ofxhost::RangeResult domain = s.getTimeDomain(fx);
    EXPECT_EQ(domain.status, kOfxStatReplyDefault);
    EXPECT_NE(diagLog().find("ERROR : Calling kOfxImageEffectActionGetTimeDomain on an effect "
                             "that is not a general context effect."),
              std::string::npos);

    fx.clip("Source").setRegionOfDefinition({-5, 2.5, 300, 400});
    const ofxhost::RectResult rod = s.regionOfDefinition(fx, 0.0);
    EXPECT_EQ(rod.status, kOfxStatOK);
    EXPECT_EQ(rod.rect.x1, -5);
    EXPECT_EQ(rod.rect.y1, 2.5);
    EXPECT_EQ(rod.rect.x2, 300);
    EXPECT_EQ(rod.rect.y2, 400);
    EXPECT_TRUE(p.host.misuse().empty());
}

TEST(InstanceActions, RegionsOfInterestAreTheWholeSourceAndNoFramesAreAskedFor) {
    LoadedPlugin p;
    ofxhost::Effect& fx = p.instantiate(kFilter);
    fx.clip("Source").setRegionOfDefinition({0, 0, 1920, 1080});
    const ofxhost::RoiResult roi = p.session.regionsOfInterest(fx, 0.0, {100, 200, 300, 400});
    EXPECT_EQ(roi.status, kOfxStatOK);
    ASSERT_EQ(roi.rois.count("Source"), 1u);
    const OfxRectD& r = roi.rois.at("Source");
    EXPECT_EQ(r.x1, 0);
    EXPECT_EQ(r.y1, 0);
    EXPECT_EQ(r.x2, 1920);
    EXPECT_EQ(r.y2, 1080);

    // The RoD at the asked time, not at time 0.
    auto later = p.host.makeImage({0, 0, 64, 32}, Components::RGBA, Depth::Float);
    ofxhost::Effect& other = *p.session.createInstance(kFilter).instance;
    other.clip("Source").setImageAt(7.0, later);
    const ofxhost::RoiResult atSeven = p.session.regionsOfInterest(other, 7.0, {1, 1, 2, 2});
    EXPECT_EQ(atSeven.status, kOfxStatOK);
    EXPECT_EQ(atSeven.rois.at("Source").x2, 64);
    EXPECT_EQ(atSeven.rois.at("Source").y2, 32);

    EXPECT_EQ(p.session.framesNeeded(fx, 4.0).status, kOfxStatReplyDefault);
}

TEST(InstanceActions, MissingArgumentsAndLostInstanceDataAreBadHandles) {
    LoadedPlugin p;
    ofxhost::Effect& fx = p.instantiate(kFilter);
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
    // The actions that answer through outArgs refuse to run without them.
    ofxhost::PropertySet in("in");
    in.setDouble(kOfxPropTime, 0.0);
    in.setString(kOfxImageEffectPropFieldToRender, kOfxImageFieldNone);
    in.setInts(kOfxImageEffectPropRenderWindow, {0, 0, 8, 8});
    in.setDoubles(kOfxImageEffectPropRenderScale, {1, 1});
    in.setDoubles(kOfxImageEffectPropRegionOfInterest, {0, 0, 8, 8});
    for (const char* action :
         {kOfxImageEffectActionIsIdentity, kOfxImageEffectActionGetRegionOfDefinition,
          kOfxImageEffectActionGetRegionsOfInterest, kOfxImageEffectActionGetFramesNeeded}) {
        EXPECT_EQ(p.session.action(action, fx.handle(), in.handle(), nullptr), kOfxStatErrBadHandle)
            << action;
    }

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
    ofxhost::Effect& fresh = *p.session.createInstance(kFilter).instance;
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
    ofxhost::Effect& fx = p.instantiate(kFilter);
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

// Every parameter is read at the time being rendered: keyed to change between frames 0 and
// 10, a render of frame 10 is the render of the frame-10 value without keys, and differs from
// that of the frame-0 value.
TEST(InstanceParams, EveryParameterIsReadAtTheRenderTime) {
    LoadedPlugin p;
    ofxhost::Effect& fx = p.instantiate(kFilter);
    fx.clip("Source").setFormat(Components::RGBA, Depth::Byte);
    fx.clip("Output").setFormat(Components::RGBA, Depth::Byte);
    auto src = p.host.makeImage({0, 0, 100, 40}, Components::RGBA, Depth::Byte);
    auto dst = p.host.makeImage({0, 0, 100, 40}, Components::RGBA, Depth::Byte);
    for (int y = 15; y < 25; ++y)
        for (int x = 40; x < 60; ++x)
            for (int c = 0; c < 4; ++c)
                src->set(x, y, c, 255);
    for (int c = 0; c < 4; ++c)
        src->set(30, 20, c, 128); // text below a threshold of 0.5, not above one of 0.6
    fx.clip("Source").setImage(src);
    fx.clip("Output").setImage(dst);

    const std::map<std::string, std::vector<double>> base = {
        {"marginX", {5}},       {"marginY", {5}},
        {"yOffset", {0}},       {"cornerSize", {0}},
        {"fillEnabled", {1}},   {"fillColor", {0, 0, 0, 1}},
        {"strokeEnabled", {1}}, {"strokeColor", {1, 1, 1, 1}},
        {"strokeWidth", {2}},   {"detectionThreshold", {0.1}}};
    const std::map<std::string, std::vector<double>> atTen = {
        {"marginX", {12}},      {"marginY", {9}},
        {"yOffset", {4}},       {"cornerSize", {8}},
        {"fillEnabled", {0}},   {"fillColor", {0.2, 0.4, 0.6, 0.8}},
        {"strokeEnabled", {0}}, {"strokeColor", {1, 0, 0, 0.5}},
        {"strokeWidth", {4}},   {"detectionThreshold", {0.6}}};
    auto renderTen = [&]() {
        EXPECT_EQ(p.session.render(fx, 10.0, {0, 0, 100, 40}), kOfxStatOK);
        std::vector<double> pixels;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 100; ++x)
                for (int c = 0; c < 4; ++c)
                    pixels.push_back(dst->get(x, y, c));
        return pixels;
    };
    for (const auto& [name, later] : atTen) {
        SCOPED_TRACE(name);
        for (const auto& [other, value] : base) {
            fx.param(other).clearKeys();
            fx.param(other).setValue(value);
        }
        const std::vector<double> before = renderTen();
        fx.param(name).setValue(later);
        const std::vector<double> after = renderTen();
        EXPECT_NE(before, after) << "the change does not show in this scene";
        fx.param(name).setKey(0.0, base.at(name));
        fx.param(name).setKey(10.0, later);
        EXPECT_EQ(renderTen(), after);
    }
    EXPECT_TRUE(p.host.allImagesReleased());
    EXPECT_TRUE(dst->guardsIntact());
}

} // namespace
