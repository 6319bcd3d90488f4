// The property suite as a plug-in sees it: status codes, growth, string lifetime, faults.
#include "faults.h"
#include "property_store.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ofxhost::FaultPlan;
using ofxhost::PropertySet;

class PropertySuiteTest : public ::testing::Test {
protected:
    const OfxPropertySuiteV1& suite = *ofxhost::propertySuite();
    FaultPlan faults;
    PropertySet set{"test", &faults};
    OfxPropertySetHandle h = set.handle();
};

TEST_F(PropertySuiteTest, GetAnswersUnknownWrongTypeAndBadIndex) {
    int i = 7;
    double d = 0;
    EXPECT_EQ(suite.propGetInt(h, "Missing", 0, &i), kOfxStatErrUnknown);
    set.setInts("Pair", {1, 2});
    EXPECT_EQ(suite.propGetDouble(h, "Pair", 0, &d), kOfxStatErrValue);
    EXPECT_EQ(suite.propGetInt(h, "Pair", 2, &i), kOfxStatErrBadIndex);
    EXPECT_EQ(suite.propGetInt(h, "Pair", -1, &i), kOfxStatErrBadIndex);
    int both[3] = {0, 0, 0};
    EXPECT_EQ(suite.propGetIntN(h, "Pair", 3, both), kOfxStatErrBadIndex);
    ASSERT_EQ(suite.propGetIntN(h, "Pair", 2, both), kOfxStatOK);
    EXPECT_EQ(both[0], 1);
    EXPECT_EQ(both[1], 2);
    EXPECT_EQ(suite.propGetInt(nullptr, "Pair", 0, &i), kOfxStatErrBadHandle);
}

TEST_F(PropertySuiteTest, SetCreatesTypedAndGrowsWithZeroedSlots) {
    ASSERT_EQ(suite.propSetDouble(h, "Grown", 3, 2.5), kOfxStatOK);
    int dim = 0;
    ASSERT_EQ(suite.propGetDimension(h, "Grown", &dim), kOfxStatOK);
    EXPECT_EQ(dim, 4);
    EXPECT_EQ(set.getDouble("Grown", 0), 0.0);
    EXPECT_EQ(set.getDouble("Grown", 3), 2.5);
    // The setter fixed the type: an int set on it is refused.
    EXPECT_EQ(suite.propSetInt(h, "Grown", 0, 1), kOfxStatErrValue);
    EXPECT_EQ(suite.propSetDouble(h, "Grown", -1, 1.0), kOfxStatErrBadIndex);

    ASSERT_EQ(suite.propSetString(h, "Words", 1, "b"), kOfxStatOK);
    EXPECT_EQ(set.getString("Words", 0), "");
    ASSERT_EQ(suite.propSetPointer(h, "Ptrs", 1, &dim), kOfxStatOK);
    EXPECT_EQ(set.getPointer("Ptrs", 0), nullptr);

    // The N form states the whole property, so it also shrinks it.
    const double two[2] = {1.0, 2.0};
    ASSERT_EQ(suite.propSetDoubleN(h, "Grown", 2, two), kOfxStatOK);
    EXPECT_EQ(set.dimension("Grown"), 2);
}

TEST_F(PropertySuiteTest, StrictSetRefusesUnknownButWritesKnown) {
    set.setInt("Known", 0);
    set.setStrict(true);
    EXPECT_EQ(suite.propSetInt(h, "Unknown", 0, 1), kOfxStatErrUnknown);
    EXPECT_FALSE(set.has("Unknown"));
    EXPECT_EQ(suite.propSetInt(h, "Known", 0, 5), kOfxStatOK);
    EXPECT_EQ(set.getInt("Known"), 5);
}

TEST_F(PropertySuiteTest, HandedOutStringSurvivesGrowthUntilItsElementChanges) {
    set.setString("Name", "first element, long enough to live on the heap");
    char* held = nullptr;
    ASSERT_EQ(suite.propGetString(h, "Name", 0, &held), kOfxStatOK);
    for (int i = 1; i < 40; ++i)
        ASSERT_EQ(suite.propSetString(h, "Name", i, "x"), kOfxStatOK);
    EXPECT_STREQ(held, "first element, long enough to live on the heap");
    char* shortOne = nullptr;
    ASSERT_EQ(suite.propGetString(h, "Name", 1, &shortOne), kOfxStatOK);
    ASSERT_EQ(suite.propSetString(h, "Name", 60, "y"), kOfxStatOK);
    EXPECT_STREQ(shortOne, "x"); // short strings live inside their object; it must not move
}

TEST_F(PropertySuiteTest, DimensionAndResetOfUnknownAndKnown) {
    int dim = -1;
    EXPECT_EQ(suite.propGetDimension(h, "Missing", &dim), kOfxStatErrUnknown);
    EXPECT_EQ(suite.propReset(h, "Missing"), kOfxStatErrUnknown);
    set.setLenientDimension(true);
    ASSERT_EQ(suite.propGetDimension(h, "Missing", &dim), kOfxStatOK);
    EXPECT_EQ(dim, 0);
    char* s = nullptr;
    EXPECT_EQ(suite.propGetString(h, "Missing", 0, &s), kOfxStatErrUnknown);

    set.setDoubles("Scale", {1.0, 1.0});
    suite.propSetDouble(h, "Scale", 0, 0.5);
    suite.propSetDouble(h, "Scale", 2, 9.0);
    ASSERT_EQ(suite.propReset(h, "Scale"), kOfxStatOK);
    EXPECT_EQ(set.getDoubles("Scale"), (std::vector<double>{1.0, 1.0}));
}

TEST_F(PropertySuiteTest, InjectedFaultsHitOnlyTheChosenOperationAndSet) {
    PropertySet other{"other", &faults};
    set.setInt("Flag", 1);
    other.setInt("Flag", 1);
    faults.failProperty("Flag", kOfxStatErrMemory, ofxhost::kPropGet, &set);
    int v = 0;
    EXPECT_EQ(suite.propGetInt(h, "Flag", 0, &v), kOfxStatErrMemory);
    EXPECT_EQ(suite.propSetInt(h, "Flag", 0, 2), kOfxStatOK);
    EXPECT_EQ(suite.propGetInt(other.handle(), "Flag", 0, &v), kOfxStatOK);

    faults.failFunction("propGetDimension", kOfxStatErrFatal);
    int dim = 0;
    EXPECT_EQ(suite.propGetDimension(other.handle(), "Flag", &dim), kOfxStatErrFatal);
    faults.clear();
    EXPECT_EQ(suite.propGetInt(h, "Flag", 0, &v), kOfxStatOK);
    EXPECT_EQ(v, 2);
}

} // namespace
