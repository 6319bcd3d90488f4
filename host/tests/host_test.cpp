// What fetchSuite serves, and the suites whose only effect is what the host records.
#include "host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

using ofxhost::Host;

TEST(FetchSuite, ServesExactlyTheImplementedVersionsAndHonoursWithholding) {
    Host host;
    OfxHost* ofx = host.ofxHost();
    const void* effects = ofx->fetchSuite(ofx->host, kOfxImageEffectSuite, 1);
    EXPECT_NE(effects, nullptr);
    EXPECT_EQ(ofx->fetchSuite(ofx->host, kOfxImageEffectSuite, 1), effects);
    EXPECT_EQ(ofx->fetchSuite(ofx->host, kOfxImageEffectSuite, 2), nullptr);
    // A V2 progress table cannot stand in for V1 (its first member differs), nor V1 for V2.
    EXPECT_EQ(ofx->fetchSuite(ofx->host, kOfxProgressSuite, 2), nullptr);
    EXPECT_NE(ofx->fetchSuite(ofx->host, kOfxMessageSuite, 2), nullptr);
    EXPECT_NE(ofx->fetchSuite(ofx->host, kOfxVegasKeyframeSuite, 1), nullptr);
    EXPECT_EQ(ofx->fetchSuite(ofx->host, "OfxNoSuchSuite", 1), nullptr);

    host.faults().withholdSuite(kOfxVegasKeyframeSuite, 1);
    EXPECT_EQ(ofx->fetchSuite(ofx->host, kOfxVegasKeyframeSuite, 1), nullptr);

    ofxhost::PropertySet stranger("not the host");
    EXPECT_EQ(ofx->fetchSuite(stranger.handle(), kOfxPropertySuite, 1), nullptr);
    EXPECT_EQ(host.misuse().size(), 1u);

    std::vector<ofxhost::SuiteRequest> asked = host.suiteRequests();
    ASSERT_EQ(asked.size(), 8u);
    EXPECT_EQ(asked[2].version, 2);
    EXPECT_FALSE(asked[7].served);
}

TEST(HostProperties, DescribeACapableHostAndRefusePluginWrites) {
    Host host;
    const auto* props =
        static_cast<const OfxPropertySuiteV1*>(host.fetchSuite(kOfxPropertySuite, 1));
    OfxPropertySetHandle h = host.ofxHost()->host;
    int dim = 0;
    ASSERT_EQ(props->propGetDimension(h, kOfxImageEffectPropSupportedPixelDepths, &dim),
              kOfxStatOK);
    EXPECT_EQ(dim, 3);
    int rowsCols[2] = {-1, -1};
    ASSERT_EQ(props->propGetIntN(h, kOfxParamHostPropPageRowColumnCount, 2, rowsCols), kOfxStatOK);
    EXPECT_EQ(rowsCols[1], 0);
    char* name = nullptr;
    ASSERT_EQ(props->propGetString(h, kOfxPropName, 0, &name), kOfxStatOK);
    EXPECT_STREQ(name, "nimbra.ofxhost");
    EXPECT_EQ(props->propSetInt(h, "OfxSomethingNew", 0, 1), kOfxStatErrUnknown);

    host.setFlavour(ofxhost::Flavour::MltLike);
    char* context = nullptr;
    EXPECT_EQ(props->propGetString(h, kOfxImageEffectPropSupportedContexts, 0, &context),
              kOfxStatErrUnknown);
    host.setFlavour(ofxhost::Flavour::Capable);
    EXPECT_EQ(props->propGetDimension(h, kOfxImageEffectPropSupportedContexts, &dim), kOfxStatOK);
    EXPECT_EQ(dim, 2);
}

TEST(RecordingSuites, MessagesMemoryAndAbortAreRecorded) {
    Host host;
    ASSERT_EQ(Host::current(), &host);
    const auto* msg = static_cast<const OfxMessageSuiteV2*>(host.fetchSuite(kOfxMessageSuite, 2));
    std::string longText(10000, 'x');
    EXPECT_EQ(msg->message(nullptr, "OfxMessageError", "id.1", "%s: %d", "bad", 42), kOfxStatOK);
    EXPECT_EQ(msg->message(nullptr, "OfxMessageLog", nullptr, "%s", longText.c_str()), kOfxStatOK);
    EXPECT_EQ(msg->setPersistentMessage(nullptr, "OfxMessageError", "", "x"), kOfxStatErrBadHandle);
    std::vector<ofxhost::Message> seen = host.messages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "bad: 42");
    EXPECT_EQ(seen[0].id, "id.1");
    EXPECT_EQ(seen[1].text.size(), 4095u); // truncated, never overrun

    const auto* mem = static_cast<const OfxMemorySuiteV1*>(host.fetchSuite(kOfxMemorySuite, 1));
    void* block = nullptr;
    ASSERT_EQ(mem->memoryAlloc(nullptr, 64, &block), kOfxStatOK);
    EXPECT_EQ(host.memoryBlocksOutstanding(), 1);
    int local = 0;
    EXPECT_EQ(mem->memoryFree(&local), kOfxStatErrBadHandle);
    EXPECT_EQ(mem->memoryFree(block), kOfxStatOK);
    EXPECT_EQ(host.memoryBlocksOutstanding(), 0);
    host.faults().failFunction("memoryAlloc", kOfxStatErrMemory);
    EXPECT_EQ(mem->memoryAlloc(nullptr, 64, &block), kOfxStatErrMemory);

    const auto* fx =
        static_cast<const OfxImageEffectSuiteV1*>(host.fetchSuite(kOfxImageEffectSuite, 1));
    host.setAbortHook([](OfxImageEffectHandle) { return 1; });
    std::thread other([&] {
        for (int i = 0; i < 100; ++i)
            fx->abort(nullptr);
    });
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(fx->abort(nullptr), 1);
    other.join();
    EXPECT_EQ(host.abortCalls(), 200);
}

} // namespace
