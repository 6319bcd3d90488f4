// OFX::PropertySet against a host's property suite: values, trace lines, and how each
// failing status surfaces with and without throwOnFailure.
#include "host.h"
#include "properties.h"
#include "scratch_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <new>
#include <string>

namespace {

/// The module's suites fetched from a test host, and its log in a temporary file.
class PropertyWrapper : public testing::Test {
protected:
    void SetUp() override {
        OFX::setHost(host.ofxHost());
        OFX::Private::fetchHostSuites();
        log_ = scratch_.get();
        ASSERT_NE(log_, nullptr);
        OFX::Private::setLogStream(log_);
    }
    void TearDown() override {
        OFX::Private::setLogStream(nullptr);
        OFX::Private::releaseHostSuites();
        OFX::setHost(nullptr);
    }

    /// What was logged since the last call.
    std::string newLog() {
        std::fflush(log_);
        const long end = std::ftell(log_);
        std::string text(static_cast<size_t>(end - read_), '\0');
        std::fseek(log_, read_, SEEK_SET);
        const size_t got = std::fread(&text[0], 1, text.size(), log_);
        text.resize(got);
        std::fseek(log_, 0, SEEK_END);
        read_ = end;
        return text;
    }

    ofxhost::Host host;
    ofxhost::PropertySet set{"under test", &host.faults()};
    OFX::PropertySet props{set.handle()};

private:
    nimbra_test::ScratchFile scratch_;
    std::FILE* log_ = nullptr;
    long read_ = 0;
};

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

TEST_F(PropertyWrapper, ValuesRoundTripWithTraceLines) {
    int target = 0;
    const std::string at = pointerText(&target);
    const struct {
        std::function<std::string()> op;
        std::string result;
        std::string line;
    } rows[] = {
        {[&] { return props.setInt("i", 7, 1), std::string(); }, "",
         "Set int property i[1] to be 7."},
        {[&] { return std::to_string(props.getInt("i", 1)); }, "7",
         "Retrieved int property i[1], was given 7."},
        {[&] { return props.setDouble("d", -2.5), std::string(); }, "",
         "Set double property d[0] to be -2.500000."},
        {[&] { return std::to_string(props.getDouble("d")); }, "-2.500000",
         "Retrieved double property d[0], was given -2.500000."},
        {[&] { return props.setPointer("p", &target, 0), std::string(); }, "",
         "Set pointer property p[0] to be " + at + "."},
        {[&] { return pointerText(props.getPointer("p")); }, at,
         "Retrieved pointer property p[0], was given " + at + "."},
        {[&] { return props.setString("s", "テキスト", 2), std::string(); }, "",
         "Set string property s[2] to be テキスト."},
        {[&] { return props.getString("s", 2); }, "テキスト",
         "Retrieved string property s[2], was given テキスト."},
        {[&] { return std::to_string(props.getDimension("s")); }, "3",
         "Fetched dimension of property s, returned 3."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(row.op(), row.result);
        EXPECT_EQ(newLog(), row.line + "\n"); // level 0: no indentation
    }
    // The host saw what was set, at the indices given.
    EXPECT_EQ(set.getInt("i", 1), 7);
    EXPECT_EQ(set.getDouble("d"), -2.5);
    EXPECT_EQ(set.getPointer("p"), &target);
    EXPECT_EQ(set.getString("s", 2), "テキスト");
}

std::string thrown(const std::function<void()>& op) {
    try {
        op();
    } catch (const OFX::Exception::PropertyUnknownToHost& e) {
        return std::string("unknown ") + e.what();
    } catch (const OFX::Exception::PropertyValueIllegalToHost& e) {
        return std::string("illegal ") + e.what();
    } catch (const OFX::Exception::Suite& e) {
        return "suite " + std::to_string(e.status());
    } catch (const std::bad_alloc&) {
        return "bad_alloc";
    } catch (...) {
        return "other";
    }
    return "none";
}

TEST_F(PropertyWrapper, FailingStatusesThrowOrLogAndFallBack) {
    int target = 0;
    const std::string at = pointerText(&target);
    const struct {
        const char* name;
        OfxStatus status;
        std::function<std::string(bool)> op; ///< Takes throwOnFailure; returns the result.
        std::string thrown;
        std::string stdoutText; ///< With throwOnFailure.
        std::string quietResult;
        std::string quietLog; ///< Without throwOnFailure, one indentation level in.
    } rows[] = {
        {"X", kOfxStatErrUnknown, [&](bool t) { return std::to_string(props.getInt("X", 0, t)); },
         "unknown X", "", "0",
         "ERROR : Failed on getting int property X[0], host returned status kOfxStatErrUnknown;\n"
         "Retrieved int property X[0], was given 0.\n"},
        {"S", kOfxStatErrUnsupported, [&](bool t) { return props.getString("S", 1, t); },
         "unknown S", "", "",
         "ERROR : Failed on getting string property S[1], host returned status "
         "kOfxStatErrUnsupported;\nRetrieved string property S[1], was given .\n"},
        {"V", kOfxStatErrValue,
         [&](bool t) { return props.setDouble("V", 1.5, 0, t), std::string(); }, "illegal V", "",
         "",
         "ERROR : Failed on setting double property V[0] to 1.500000, host returned status "
         "kOfxStatErrValue;\nSet double property V[0] to be 1.500000.\n"},
        {"M", kOfxStatErrMemory, [&](bool t) { return std::to_string(props.getDouble("M", 0, t)); },
         "bad_alloc", "", "0.000000",
         "ERROR : Failed on getting double property M[0], host returned status "
         "kOfxStatErrMemory;\nRetrieved double property M[0], was given 0.000000.\n"},
        {"B", kOfxStatErrBadHandle,
         [&](bool t) { return pointerText(props.getPointer("B", 0, t)); },
         "suite " + std::to_string(kOfxStatErrBadHandle), "Threw suite exception!\n",
         pointerText(nullptr),
         "ERROR : Failed on getting pointer property B[0], host returned status "
         "kOfxStatErrBadHandle;\nRetrieved pointer property B[0], was given " +
             pointerText(nullptr) + ".\n"},
        {"Q", kOfxStatErrUnknown, [&](bool t) { return props.setInt("Q", 5, 2, t), std::string(); },
         "unknown Q", "", "",
         "ERROR : Failed on setting int property Q[2] to 5, host returned status "
         "kOfxStatErrUnknown (3);\nSet int property Q[2] to be 5.\n"},
        {"D", kOfxStatErrUnknown,
         [&](bool t) { return std::to_string(props.getDimension("D", t)); }, "unknown D", "", "0",
         "ERROR : Failed on fetching dimension for property D, host returned status "
         "kOfxStatErrUnknown.\nFetched dimension of property D, returned 0.\n"},
        {"T", kOfxStatFailed,
         [&](bool t) { return props.setString("T", "x", 0, t), std::string(); },
         "suite " + std::to_string(kOfxStatFailed), "Threw suite exception!\n", "",
         "ERROR : Failed on setting string property T[0] to x, host returned status "
         "kOfxStatFailed;\nSet string property T[0] to be x.\n"},
        {"P", kOfxStatErrBadIndex,
         [&](bool t) { return props.setPointer("P", &target, 0, t), std::string(); },
         "suite " + std::to_string(kOfxStatErrBadIndex), "Threw suite exception!\n", "",
         "ERROR : Failed on setting pointer property P[0] to " + at +
             ", host returned status kOfxStatErrBadIndex;\nSet pointer property P[0] to be " + at +
             ".\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        host.faults().failProperty(row.name, row.status, ofxhost::kPropAny, &set);
        testing::internal::CaptureStdout();
        EXPECT_EQ(thrown([&] { row.op(true); }), row.thrown);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), row.stdoutText);
        newLog();

        OFX::logIndent();
        testing::internal::CaptureStdout();
        std::string result = "threw";
        EXPECT_EQ(thrown([&] { result = row.op(false); }), "none");
        OFX::logOutdent();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(result, row.quietResult);
        std::string indented;
        for (size_t start = 0; start < row.quietLog.size();) {
            const size_t end = row.quietLog.find('\n', start) + 1;
            indented += "    " + row.quietLog.substr(start, end - start);
            start = end;
        }
        EXPECT_EQ(newLog(), indented);
    }
}

} // namespace
