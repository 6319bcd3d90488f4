// Findings of the session fuzzer, each pinned down by the host answer that caused it.
#include "loaded_plugin.h"

#include <gtest/gtest.h>

namespace {

// The instance is reachable only through the host's OfxPropInstanceData. A host answering
// the set with a reply status (a success to the property wrapper) without storing anything
// used to get an instance that no later action, destroy included, could find: it leaked.
TEST(HostAnswers, InstanceDataNotStoredRefusesTheInstance) {
    for (OfxStatus reply : {kOfxStatReplyYes, kOfxStatReplyNo, kOfxStatReplyDefault}) {
        nimbra_test::LoadedPlugin p;
        ASSERT_EQ(p.session.load(), kOfxStatOK);
        ASSERT_EQ(p.session.describe(), kOfxStatOK);
        ASSERT_EQ(p.session.describeInContext(nimbra_test::kFilter), kOfxStatOK);
        p.host.faults().failFunction("propSetPointer", reply);
        testhost::InstanceResult refused = p.session.createInstance(nimbra_test::kFilter);
        EXPECT_NE(refused.status, kOfxStatOK) << "reply " << reply;
        EXPECT_EQ(refused.instance, nullptr);

        // An honest answer afterwards gets a working instance.
        p.host.faults().clear();
        testhost::InstanceResult created = p.session.createInstance(nimbra_test::kFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        EXPECT_EQ(p.session.destroyInstance(*created.instance), kOfxStatOK);
        EXPECT_EQ(p.session.unload(), kOfxStatOK);
    }
}

} // namespace
