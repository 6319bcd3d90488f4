// The module's life in a host's process, as the system's loader gives it: the diagnostic log
// named when the module is mapped, closed by its static destructors when the host unloads it,
// and written byte for byte the same on every system.
#include "host.h"
#include "module.h"
#include "platform.h"
#include "session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

/// Maps the diagnostic module, runs a load / describe / unload session and unmaps it again,
/// as a host does when it scans its plug-in folders.
void scanOnce() {
    ofxhost::Module module(NIMBRA_DIAG_BUNDLE);
    ASSERT_TRUE(module.ok()) << module.error();
    ofxhost::Host host;
    ofxhost::PluginSession session(host, module.plugin(0));
    ASSERT_EQ(session.load(), kOfxStatOK);
    ASSERT_EQ(session.describe(), kOfxStatOK);
    ASSERT_EQ(session.unload(), kOfxStatOK);
}

/// A directory of this test's own, removed with everything in it at the end.
struct ScratchDirectory {
    ScratchDirectory()
        : path(fs::temp_directory_path() /
               ("nimbra-lifetime-" + std::to_string(ofxhost::platform::processId()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const char kDescribeLine[] = "START mainEntry (OfxActionDescribe)";

TEST(DiagnosticLog, DefaultFileIsInTheHostsWorkingDirectory) {
    ScratchDirectory scratch;
    const fs::path before = fs::current_path();
    ofxhost::platform::unsetEnvironment("OFX_PLUGIN_LOGFILE");
    fs::current_path(scratch.path);
    scanOnce();
    fs::current_path(before);

    const std::string log = fileBytes(scratch.path / "ofxTestLog.txt");
    EXPECT_NE(log.find(kDescribeLine), std::string::npos) << log;
    EXPECT_EQ(log.find('\r'), std::string::npos) << "a line ends with CR LF";
}

// Unloading runs the module's static destructors (the log file is closed: on Windows an open
// file could not be removed), and the next load starts from scratch: the log is named anew from
// the environment and the whole session is logged again, identically.
TEST(ModuleUnload, ClosesTheLogAndTheNextLoadStartsAfresh) {
    ScratchDirectory scratch;
    const fs::path first = scratch.path / "first log.txt";
    const fs::path second = scratch.path / "second log.txt";

    ofxhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", first.string());
    scanOnce();
    const std::string firstLog = fileBytes(first);
    std::error_code removal;
    EXPECT_TRUE(fs::remove(first, removal)) << "the log is still open: " << removal.message();

    ofxhost::platform::setEnvironment("OFX_PLUGIN_LOGFILE", second.string());
    scanOnce();
    const std::string secondLog = fileBytes(second);
    EXPECT_NE(firstLog.find(kDescribeLine), std::string::npos) << firstLog;
    EXPECT_EQ(secondLog, firstLog);
    EXPECT_FALSE(fs::exists(first)) << "the second load wrote to the first load's log";
    EXPECT_EQ(secondLog.find('\r'), std::string::npos) << "a line ends with CR LF";
}

} // namespace
