// Status names, the exception classes, the suite-status check and the diagnostic log's format.
#include "core.h"
#include "scratch_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(StatusName, NamesEveryCodeAndOnlyThose) {
    const char* names[] = {"kOfxStatOK",
                           "kOfxStatFailed",
                           "kOfxStatErrFatal",
                           "kOfxStatErrUnknown",
                           "kOfxStatErrMissingHostFeature",
                           "kOfxStatErrUnsupported",
                           "kOfxStatErrExists",
                           "kOfxStatErrFormat",
                           "kOfxStatErrMemory",
                           "kOfxStatErrBadHandle",
                           "kOfxStatErrBadIndex",
                           "kOfxStatErrValue",
                           "kOfxStatReplyYes",
                           "kOfxStatReplyNo",
                           "kOfxStatReplyDefault"};
    for (int code = 0; code <= 14; ++code)
        EXPECT_STREQ(OFX::statusName(code), names[code]);
    EXPECT_STREQ(OFX::statusName(1000), "kOfxStatErrImageFormat");
    for (int code : {15, -1, 999, 1001})
        EXPECT_STREQ(OFX::statusName(code), "UNKNOWN STATUS CODE") << code;
}

TEST(RaiseSuiteStatus, SuccessAndRepliesPassSilently) {
    for (int code : {kOfxStatOK, kOfxStatReplyYes, kOfxStatReplyNo, kOfxStatReplyDefault}) {
        testing::internal::CaptureStdout();
        EXPECT_NO_THROW(OFX::raiseSuiteStatus(code));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
}

TEST(RaiseSuiteStatus, MemoryErrorIsBadAllocWithoutALine) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(OFX::raiseSuiteStatus(kOfxStatErrMemory), std::bad_alloc);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(RaiseSuiteStatus, OtherErrorsPrintAndCarryTheStatus) {
    for (int code : {kOfxStatFailed, kOfxStatErrBadHandle, kOfxStatErrImageFormat, 4242}) {
        testing::internal::CaptureStdout();
        try {
            OFX::raiseSuiteStatus(code);
            ADD_FAILURE() << "no exception for " << code;
        } catch (const OFX::Exception::Suite& e) {
            EXPECT_EQ(e.status(), code);
            EXPECT_STREQ(e.what(), OFX::statusName(code));
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Threw suite exception!\n");
    }
}

TEST(Exceptions, StringExceptionsReturnTheirText) {
    EXPECT_STREQ(OFX::Exception::HostInadequate("OfxImageEffectSuite").what(),
                 "OfxImageEffectSuite");
    EXPECT_STREQ(OFX::Exception::PropertyUnknownToHost("OfxPropLabel").what(), "OfxPropLabel");
    EXPECT_STREQ(OFX::Exception::PropertyValueIllegalToHost("OfxPropTime").what(), "OfxPropTime");
    EXPECT_STREQ(OFX::Exception::TypeRequest("wrong").what(), "wrong");
}

TEST(LogFileName, ComesFromTheEnvironmentAtStartUp) {
    // The same binary runs twice under CTest, with and without OFX_PLUGIN_LOGFILE.
    const char* expected = std::getenv("OFX_PLUGIN_LOGFILE");
    EXPECT_EQ(OFX::logFileName(), expected ? expected : "ofxTestLog.txt");
}

/// Points the log at a temporary file for one test and reads back what it wrote.
class OpenLog : public testing::Test {
protected:
    void SetUp() override {
        file_ = scratch_.get();
        ASSERT_NE(file_, nullptr);
        OFX::Private::setLogStream(file_);
    }
    void TearDown() override {
        OFX::Private::setLogStream(nullptr);
        while (OFX::Private::logIndentLevel() > 0)
            OFX::logOutdent();
        while (OFX::Private::logIndentLevel() < 0)
            OFX::logIndent();
    }
    std::string contents() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }
    nimbra_test::ScratchFile scratch_;
    std::FILE* file_ = nullptr;
};

TEST_F(OpenLog, LinesAreIndentedAndPrefixed) {
    OFX::logPrint("plain %d", 1);
    OFX::logIndent();
    OFX::logError(true, "Unknown action '%s'.", "Foo");
    OFX::logIndent();
    OFX::logWarning(true, "w %s", "x");
    OFX::logOutdent();
    OFX::logOutdent();
    OFX::logPrint("STOP mainEntry (%s)\n", "A");
    EXPECT_EQ(contents(), "plain 1\n"
                          "    ERROR : Unknown action 'Foo'.\n"
                          "        WARNING : w x\n"
                          "STOP mainEntry (A)\n\n");
}

TEST_F(OpenLog, ConditionsDecideAndNegativeLevelsDoNotIndent) {
    OFX::logError(false, "never %d", 1);
    OFX::logWarning(false, "never %d", 2);
    OFX::logOutdent();
    OFX::logPrint("%s", "flush left");
    EXPECT_EQ(contents(), "flush left\n");
}

TEST_F(OpenLog, LongMessagesAreNotCut) {
    const std::string long_text(3000, 'x');
    OFX::logPrint("%s|", long_text.c_str());
    EXPECT_EQ(contents(), long_text + "|\n");
}

TEST_F(OpenLog, ThreadsLoggingAtOnceKeepWholeLinesAndTheLevel) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                OFX::logIndent();
                OFX::logPrint("line");
                OFX::logOutdent();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(OFX::Private::logIndentLevel(), 0);
    const std::string text = contents();
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find('\n', pos)) != std::string::npos; ++pos)
        ++lines;
    EXPECT_EQ(lines, 800u);
}

TEST_F(OpenLog, ClosedAgainItWritesAndFormatsNothing) {
    OFX::Private::setLogStream(nullptr);
    // Not terminated: formatting it would read past the end (AddressSanitizer reports it).
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    OFX::logPrint("%s", unterminated);
    OFX::logError(true, "%s", unterminated);
    OFX::logWarning(true, "%s", unterminated);
    EXPECT_EQ(contents(), "");
}

} // namespace
