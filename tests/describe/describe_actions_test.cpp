// How the dispatcher answers malformed describe calls, odd contexts and unknown actions.
#include "diag_plugin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nimbra_test::countOf;
using nimbra_test::kFilter;

const std::string kBanner(80, '*');

TEST(DescribeActions, NullHandlesAreRefusedWithBadHandle) {
    nimbra_test::DiagPlugin p;
    ofxhost::PluginSession& s = p.session();
    ASSERT_EQ(s.load(), kOfxStatOK);
    ASSERT_EQ(s.describe(), kOfxStatOK);
    ofxhost::Effect& context = p.host().createContextDescriptor(*s.descriptor(), kFilter);
    ofxhost::PropertySet in("in");
    in.setString(kOfxImageEffectPropContext, kFilter);

    const struct {
        const char* action;
        const void* handle;
        OfxPropertySetHandle inArgs;
        const char* error;
    } rows[] = {
        {kOfxActionDescribe, nullptr, nullptr, "'Handle passed to 'OfxActionDescribe' is null."},
        {kOfxImageEffectActionDescribeInContext, nullptr, in.handle(),
         "'Handle passed to 'OfxImageEffectActionDescribeInContext' is null."},
        {kOfxImageEffectActionDescribeInContext, context.handle(), nullptr,
         "'inArgs' handle passed to 'OfxImageEffectActionDescribeInContext' is null."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        testing::internal::CaptureStdout();
        EXPECT_EQ(s.action(row.action, row.handle, row.inArgs, nullptr), kOfxStatErrBadHandle);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Threw suite exception!\nCaught OFX::Exception::Suite\n");
        EXPECT_EQ(countOf(p.log(), std::string("    ERROR : ") + row.error + "\n"), 1);
    }
    const std::string frame = kBanner + "\nSTART mainEntry (OfxActionDescribe)\n" +
                              "    ERROR : 'Handle passed to 'OfxActionDescribe' is null.\n" +
                              "STOP mainEntry (OfxActionDescribe)\n\n";
    EXPECT_EQ(countOf(p.log(), frame), 1) << p.log();

    EXPECT_EQ(s.action(kOfxActionUnload, context.handle(), nullptr, nullptr), kOfxStatOK);
    EXPECT_EQ(countOf(p.log(), "    WARNING : Handle passed to 'OfxActionUnload' is not null.\n"),
              1);
}

TEST(DescribeActions, PaintContextIsAcceptedAndUnknownContextsFail) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    EXPECT_EQ(p.session.describeInContext(kOfxImageEffectContextPaint), kOfxStatOK);
    EXPECT_EQ(p.session.contextDescriptor(kOfxImageEffectContextPaint)->clipNames().size(), 2u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session.describeInContext("OfxImageEffectContextSculpt"), kOfxStatFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Caught Unknown exception\n");
    EXPECT_TRUE(p.session.contextDescriptor("OfxImageEffectContextSculpt")->clipNames().empty());
}

TEST(DescribeActions, UnknownAndNullActionsGetTheDefaultReply) {
    nimbra_test::DiagPlugin p;
    ASSERT_EQ(p.session().load(), kOfxStatOK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session().action("Foo", nullptr, nullptr, nullptr), kOfxStatReplyDefault);
    EXPECT_EQ(p.session().action(nullptr, nullptr, nullptr, nullptr), kOfxStatReplyDefault);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string log = p.log();
    EXPECT_EQ(countOf(log, "START mainEntry (Foo)\n    ERROR : Unknown action 'Foo'.\n"
                           "STOP mainEntry (Foo)\n\n"),
              1)
        << log;
    EXPECT_EQ(countOf(log, "    ERROR : Requested action was a null pointer.\n"), 1);
}

TEST(DescribeActions, HostPropertyUnknownToTheHostFailsTheLoad) {
    nimbra_test::LoadedPlugin p;
    p.host.faults().failProperty(kOfxImageEffectPropSupportsTiles, kOfxStatErrUnknown,
                                 ofxhost::kPropGet, &p.host.properties());
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session.load(), kOfxStatErrMissingHostFeature);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Caught OFX::Exception::PropertyUnknownToHost\n");
}

TEST(DescribeActions, RejectedShortLabelLeavesTheOtherLabels) {
    nimbra_test::LoadedPlugin p;
    p.host.faults().failProperty(kOfxPropShortLabel, kOfxStatErrUnknown, ofxhost::kPropSet);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    testing::internal::CaptureStdout();
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ofxhost::PropertySet& fx = p.session.descriptor()->props();
    EXPECT_EQ(fx.getString(kOfxPropLabel), "ニンブラ");
    EXPECT_EQ(fx.getString(kOfxPropLongLabel), "ニンブラ");
    EXPECT_EQ(fx.getString(kOfxPropShortLabel), "");
    ofxhost::PropertySet& param =
        p.session.contextDescriptor(kFilter)->param("strokeWidth").props();
    EXPECT_EQ(param.getString(kOfxPropLabel), "枠線の幅");
    EXPECT_EQ(param.getString(kOfxPropLongLabel), "枠線の幅");
}

} // namespace
