// The built module, loaded the way a host loads it, with the in-process test host.
#pragma once

#include "host.h"
#include "module.h"
#include "session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace nimbra_test {

constexpr const char* kFilter = "OfxImageEffectContextFilter";
constexpr const char* kGeneral = "OfxImageEffectContextGeneral";

/// The module the render tests load: NIMBRA_RENDER_BUNDLE when set (a run of the same tests
/// against the reference processor), else the built one.
inline std::string bundleUnderTest() {
    const char* bundle = std::getenv("NIMBRA_RENDER_BUNDLE");
    return bundle && *bundle ? bundle : NIMBRA_BUNDLE;
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
