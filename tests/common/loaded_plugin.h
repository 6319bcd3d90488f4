// The built module, loaded the way a host loads it, with the in-process test host.
#pragma once

#include "host.h"
#include "module.h"
#include "session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace nimbra_test {

constexpr const char* kFilter = "OfxImageEffectContextFilter";
constexpr const char* kGeneral = "OfxImageEffectContextGeneral";

/// The module the render tests load: NIMBRA_RENDER_BUNDLE when set (a run of the same tests
/// against the reference processor), else the built one.
inline std::string bundleUnderTest() {
    const char* bundle = std::getenv("NIMBRA_RENDER_BUNDLE");
    return bundle && *bundle ? bundle : NIMBRA_BUNDLE;
}

/// Opaque white text as solid rectangles (x1, y1, x2, y2; half-open) over transparency.
inline std::shared_ptr<ofxhost::Image>
textFrame(OfxRectI bounds, const std::vector<OfxRectI>& text,
          ofxhost::Depth depth = ofxhost::Depth::Byte,
          ofxhost::RowOrder order = ofxhost::RowOrder::BottomUp) {
    auto image = std::make_shared<ofxhost::Image>(bounds, ofxhost::Components::RGBA, depth, order);
    const double full = depth == ofxhost::Depth::Byte    ? 255
                        : depth == ofxhost::Depth::Short ? 65535
                                                         : 1;
    for (const OfxRectI& r : text)
        for (int y = r.y1; y < r.y2; ++y)
            for (int x = r.x1; x < r.x2; ++x)
                for (int c = 0; c < 4; ++c)
                    image->set(x, y, c, full);
    return image;
}

/// Host, module and session for one test. The module stays mapped for the rest of the
/// process (its statics too), so a test that needs a fresh module runs in its own process:
/// CTest runs every test that way.
struct LoadedPlugin {
    explicit LoadedPlugin(const std::string& bundle = NIMBRA_BUNDLE)
        : module(bundle, /*keepLoaded=*/true), session(host, firstPlugin(module)) {}

    /// Load, describe, describe in the context and create an instance; fails the test on
    /// any refusal.
    ofxhost::Effect& instantiate(const std::string& context = kFilter) {
        EXPECT_EQ(session.load(), kOfxStatOK);
        EXPECT_EQ(session.describe(), kOfxStatOK);
        EXPECT_EQ(session.describeInContext(context), kOfxStatOK);
        ofxhost::InstanceResult created = session.createInstance(context);
        EXPECT_EQ(created.status, kOfxStatOK);
        if (!created.instance)
            throw std::runtime_error("the plug-in refused to create an instance");
        return *created.instance;
    }

    ofxhost::Host host;
    ofxhost::Module module;
    ofxhost::PluginSession session;

private:
    static OfxPlugin* firstPlugin(const ofxhost::Module& m) {
        if (!m.ok())
            throw std::runtime_error("cannot load the module: " + m.error());
        return m.plugin(0);
    }
};

} // namespace nimbra_test
