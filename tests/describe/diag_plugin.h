// The diagnostic module under the test host, with its log in a file of this test's own.
#pragma once

#include "loaded_plugin.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace nimbra_test {

/// The module reads OFX_PLUGIN_LOGFILE once, when it is first mapped, so the variable is set
/// before the module is opened. Each test runs in a process of its own, hence the pid.
inline std::string freshLogPath() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string path = testing::TempDir() + "nimbra-" + info->name() + "-" +
                       std::to_string(ofxhost::platform::processId()) + ".log";
    std::remove(path.c_str());
    return path;
}

struct DiagPlugin {
    DiagPlugin() : logPath(freshLogPath()) {
        ofxhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", logPath);
        plugin = std::make_unique<LoadedPlugin>(NIMBRA_DIAG_BUNDLE);
    }
    ~DiagPlugin() {
        plugin.reset();
        std::remove(logPath.c_str());
    }

    /// Everything logged so far (the module flushes every line).
    std::string log() const {
        std::ifstream in(logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    ofxhost::Host& host() { return plugin->host; }
    ofxhost::PluginSession& session() { return plugin->session; }

    std::string logPath;
    std::unique_ptr<LoadedPlugin> plugin;
};

/// Number of non-overlapping occurrences of `needle`.
inline int countOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

} // namespace nimbra_test
