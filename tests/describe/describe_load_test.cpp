// Load and unload against hosts that lack something, count loads oddly, or behave like MLT.
#include "diag_plugin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nimbra_test::countOf;
using nimbra_test::kFilter;

int requestsFor(const ofxhost::Host& host, const std::string& suite) {
    int n = 0;
    for (const ofxhost::SuiteRequest& r : host.suiteRequests())
        n += r.name == suite ? 1 : 0;
    return n;
}

TEST(ModuleLoad, MissingMandatorySuiteFailsAndALaterLoadStartsAfresh) {
    nimbra_test::DiagPlugin p;
    p.host().faults().withholdSuite(kOfxMemorySuite, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session().load(), kOfxStatErrMissingHostFeature);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Caught OFX::Exception::HostInadequate\n");
    EXPECT_NE(p.log().find("    ERROR : Could not fetch the mandatory suite 'OfxMemorySuite' "
                           "version 1.\n"),
              std::string::npos);

    p.host().faults().clear();
    p.host().clearRecords();
    ASSERT_EQ(p.session().load(), kOfxStatOK);
    EXPECT_EQ(requestsFor(p.host(), kOfxImageEffectSuite), 1); // the failed load left no count
    ASSERT_EQ(p.session().describe(), kOfxStatOK);
    ASSERT_EQ(p.session().describeInContext(kFilter), kOfxStatOK);
    EXPECT_EQ(p.session().createInstance(kFilter).status, kOfxStatOK);
}

TEST(ModuleLoad, MissingMessageSuiteV2IsOneWarning) {
    nimbra_test::DiagPlugin p;
    p.host().faults().withholdSuite(kOfxMessageSuite, 2);
    EXPECT_EQ(p.session().load(), kOfxStatOK);
    const std::string log = p.log();
    EXPECT_EQ(countOf(log, "WARNING : Could not fetch the optional suite 'OfxMessageSuite'"), 1);
    EXPECT_EQ(
        countOf(log,
                "    WARNING : Could not fetch the optional suite 'OfxMessageSuite' version 2.\n"),
        1);
    EXPECT_EQ(countOf(log, "ERROR"), 0);
}

TEST(ModuleLoad, InteractSuiteIsNotAskedForWithoutInteracts) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    EXPECT_EQ(requestsFor(p.host, kOfxInteractSuite), 0);
    EXPECT_GT(requestsFor(p.host, kOfxMemorySuite), 0); // the requests were recorded at all
}

// A failed load forgets the host's description, so each row reads the host afresh; the row
// that loads comes last.
TEST(ModuleLoad, InteractSuiteIsMandatoryForHostsWithInteracts) {
    const struct {
        const char* capability;
        bool withheld;
        OfxStatus expected;
    } rows[] = {
        {kOfxImageEffectPropSupportsOverlays, true, kOfxStatErrMissingHostFeature},
        {kOfxParamHostPropSupportsCustomInteract, true, kOfxStatErrMissingHostFeature},
        {kOfxImageEffectPropSupportsOverlays, false, kOfxStatOK},
    };
    ofxhost::Module module(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    ASSERT_TRUE(module.ok()) << module.error();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.capability);
        ofxhost::Host host;
        host.properties().setInt(row.capability, 1);
        if (row.withheld)
            host.faults().withholdSuite(kOfxInteractSuite, 1);
        ofxhost::PluginSession session(host, module.plugin(0));
        testing::internal::CaptureStdout();
        EXPECT_EQ(session.load(), row.expected);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(requestsFor(host, kOfxInteractSuite), 1);
        EXPECT_EQ(out, row.withheld ? "Caught OFX::Exception::HostInadequate\n" : "");
    }
}

TEST(ModuleLoad, SuitesLiveUntilTheLastUnload) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    EXPECT_EQ(requestsFor(p.host, kOfxImageEffectSuite), 1);
    EXPECT_EQ(requestsFor(p.host, kOfxPropertySuite), 1);

    EXPECT_EQ(p.session.unload(), kOfxStatOK);
    EXPECT_EQ(p.session.describe(), kOfxStatOK);
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session.describe(), kOfxStatErrMissingHostFeature);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Caught OFX::Exception::HostInadequate\n");
    // An unload too many is harmless, and the next load fetches the suites again.
    EXPECT_EQ(p.session.unload(), kOfxStatOK);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    EXPECT_EQ(requestsFor(p.host, kOfxImageEffectSuite), 2);
    EXPECT_EQ(p.session.describe(), kOfxStatOK);
}

TEST(ModuleLoad, SecondLoadAfterUnloadKeepsTheFirstHostDescription) {
    nimbra_test::DiagPlugin p;
    const std::string complaint = "Tried to create host description when we already have one.";
    ASSERT_EQ(p.session().load(), kOfxStatOK);
    ASSERT_EQ(p.session().unload(), kOfxStatOK);
    EXPECT_EQ(countOf(p.log(), complaint), 0);
    ASSERT_EQ(p.session().load(), kOfxStatOK);
    EXPECT_EQ(countOf(p.log(), "    ERROR : " + complaint + "\n"), 1);
}

TEST(ModuleLoad, MltLikeHostLoadsDescribesAndInstantiates) {
    nimbra_test::LoadedPlugin p;
    p.host.setFlavour(ofxhost::Flavour::MltLike);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK); // sends another load first
    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    EXPECT_EQ(
        p.session.actionLog(),
        (std::vector<std::string>{kOfxActionLoad, kOfxActionLoad, kOfxActionLoad,
                                  kOfxActionDescribe, kOfxImageEffectActionDescribeInContext}));
    ofxhost::Effect& desc = *p.session.contextDescriptor(kFilter);
    EXPECT_EQ(desc.clipNames(), (std::vector<std::string>{"Source", "Output"}));
    // The page, ten values, the compositing mode, the layout, its line gap and inner corners,
    // the shadow's five and the least sizes.
    EXPECT_EQ(desc.paramNames().size(), 22u);
    ofxhost::InstanceResult created = p.session.createInstance(kFilter);
    ASSERT_EQ(created.status, kOfxStatOK);
    ASSERT_NE(created.instance, nullptr);
    EXPECT_NE(created.instance->instanceData(), nullptr);
    EXPECT_EQ(p.session.destroyInstance(*created.instance), kOfxStatOK);
    EXPECT_TRUE(p.host.misuse().empty());
}

TEST(ModuleLoad, UnloadForgetsDescriptorsAndDescribingAgainRestoresThem) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    ASSERT_EQ(p.session.unload(), kOfxStatOK);
    ASSERT_EQ(p.session.load(), kOfxStatOK);

    // The host still has its old context descriptor, the module no longer does: clip
    // preferences, which need the cached one, are refused.
    ofxhost::InstanceResult stale = p.session.createInstance(kFilter);
    ASSERT_EQ(stale.status, kOfxStatOK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.session.clipPreferences(*stale.instance).status, kOfxStatErrBadHandle);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.session.destroyInstance(*stale.instance), kOfxStatOK);

    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    ofxhost::InstanceResult created = p.session.createInstance(kFilter);
    ASSERT_EQ(created.status, kOfxStatOK);
    EXPECT_NE(p.session.clipPreferences(*created.instance).status, kOfxStatErrBadHandle);
    EXPECT_EQ(p.session.destroyInstance(*created.instance), kOfxStatOK);
}

} // namespace
