// The two exported entry points, called the way a host calls them, in any order.
#include "loaded_plugin.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

/// The diagnostic module reads OFX_PLUGIN_LOGFILE once, when first mapped.
std::string freshLogPath() {
    std::string path = testing::TempDir() + "nimbra-entry-" +
                       std::to_string(ofxhost::platform::processId()) + ".log";
    std::remove(path.c_str());
    return path;
}

/// The raw entry points of a bundle; ofxhost::Module checks the count before OfxGetPlugin,
/// which would hide what the module does when a host does not.
struct EntryPoints {
    explicit EntryPoints(const std::string& bundle) : module(bundle, /*keepLoaded=*/true) {
        if (!module.ok())
            throw std::runtime_error(module.error());
        count = reinterpret_cast<int (*)()>(module.symbol("OfxGetNumberOfPlugins"));
        get = reinterpret_cast<OfxPlugin* (*)(int)>(module.symbol("OfxGetPlugin"));
        if (!count || !get)
            throw std::runtime_error("entry points missing");
    }
    ofxhost::Module module;
    int (*count)() = nullptr;
    OfxPlugin* (*get)(int) = nullptr;
};

struct RecordContents {
    std::string api;
    int apiVersion;
    std::string id;
    unsigned major, minor;
    void (*setHost)(OfxHost*);
    OfxPluginEntryPoint* mainEntry;

    explicit RecordContents(const OfxPlugin& p)
        : api(p.pluginApi ? p.pluginApi : "(null)"), apiVersion(p.apiVersion),
          id(p.pluginIdentifier ? p.pluginIdentifier : "(null)"), major(p.pluginVersionMajor),
          minor(p.pluginVersionMinor), setHost(p.setHost), mainEntry(p.mainEntry) {}
    bool operator==(const RecordContents& o) const {
        return api == o.api && apiVersion == o.apiVersion && id == o.id && major == o.major &&
               minor == o.minor && setHost == o.setHost && mainEntry == o.mainEntry;
    }
};

TEST(EntryPoints, RecordBeforeCountStableAndOnlyForIndexZero) {
    EntryPoints entry(NIMBRA_BUNDLE);
    OfxPlugin* first = entry.get(0); // before any OfxGetNumberOfPlugins
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->pluginApi, kOfxImageEffectPluginApi);
    EXPECT_STREQ(first->pluginApi, "OfxImageEffectPluginAPI");
    EXPECT_EQ(first->apiVersion, 1);
    EXPECT_STREQ(first->pluginIdentifier, "com.example.nimbra.jp");
    EXPECT_EQ(first->pluginVersionMajor, 2u);
    EXPECT_EQ(first->pluginVersionMinor, 0u);
    EXPECT_NE(first->setHost, nullptr);
    EXPECT_NE(first->mainEntry, nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(entry.count(), 1);
    EXPECT_EQ(entry.get(0), first);
    for (int nth : {1, 2, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(entry.get(nth), nullptr) << nth;
    EXPECT_EQ(entry.get(0), first);
}

TEST(EntryPoints, OutOfRangeIndexIsLogged) {
    const std::string logPath = freshLogPath();
    ofxhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", logPath);
    EntryPoints entry(NIMBRA_DIAG_BUNDLE);
    EXPECT_EQ(entry.get(1), nullptr);
    EXPECT_EQ(entry.get(-1), nullptr);
    EXPECT_NE(entry.get(0), nullptr);
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_EQ(log.str(), "ERROR : Host attempted to get plugin 1, when there is only 1 "
                         "plugin(s), so it should have asked for 0.\n"
                         "ERROR : Host attempted to get plugin -1, when there is only 1 "
                         "plugin(s), so it should have asked for 0.\n");
    std::remove(logPath.c_str());
}

// A host may keep the record it was given across an unload; the module keeps it alive until
// the next OfxGetPlugin hands out its replacement.
TEST(EntryPoints, UnloadRebuildsTheRecord) {
    EntryPoints entry(NIMBRA_BUNDLE);
    ASSERT_EQ(entry.count(), 1);
    OfxPlugin* old = entry.get(0);
    ASSERT_NE(old, nullptr);
    const RecordContents before(*old);
    ofxhost::Host host;
    {
        ofxhost::PluginSession session(host, old);
        ASSERT_EQ(session.load(), kOfxStatOK);
        ASSERT_EQ(session.describe(), kOfxStatOK);
        ASSERT_EQ(session.unload(), kOfxStatOK);
    }
    EXPECT_TRUE(RecordContents(*old) == before) << "the dropped record was overwritten";

    OfxPlugin* fresh = entry.get(0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_TRUE(RecordContents(*fresh) == before);
    EXPECT_EQ(entry.get(0), fresh);

    ofxhost::PluginSession again(host, fresh);
    EXPECT_EQ(again.load(), kOfxStatOK);
    EXPECT_EQ(again.describe(), kOfxStatOK);
    EXPECT_EQ(again.unload(), kOfxStatOK);
}

} // namespace
