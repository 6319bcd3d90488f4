// Parameters through the parameter suite: definition rules, variadic reads and writes of
// each type's exact argument list, and key interpolation.
#include "host.h"

#include <gtest/gtest.h>

namespace {

using ofxhost::Effect;
using ofxhost::Host;

class ParamSuiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        global = &host.createDescriptor();
        desc = &host.createContextDescriptor(*global, kOfxImageEffectContextFilter);
        effects.getParamSet(desc->handle(), &descSet);
    }

    // Defines in the context descriptor and returns the descriptor's property set.
    OfxPropertySetHandle define(const char* type, const char* name) {
        OfxPropertySetHandle props = nullptr;
        EXPECT_EQ(params.paramDefine(descSet, type, name, &props), kOfxStatOK) << name;
        return props;
    }

    OfxParamHandle handleOf(Effect& instance, const char* name) {
        OfxParamSetHandle set = nullptr;
        OfxParamHandle p = nullptr;
        effects.getParamSet(instance.handle(), &set);
        EXPECT_EQ(params.paramGetHandle(set, name, &p, nullptr), kOfxStatOK) << name;
        return p;
    }

    Host host;
    const OfxParameterSuiteV1& params =
        *static_cast<const OfxParameterSuiteV1*>(host.fetchSuite(kOfxParameterSuite, 1));
    const OfxImageEffectSuiteV1& effects =
        *static_cast<const OfxImageEffectSuiteV1*>(host.fetchSuite(kOfxImageEffectSuite, 1));
    const OfxPropertySuiteV1& props =
        *static_cast<const OfxPropertySuiteV1*>(host.fetchSuite(kOfxPropertySuite, 1));
    Effect* global = nullptr;
    Effect* desc = nullptr;
    OfxParamSetHandle descSet = nullptr;
};

TEST_F(ParamSuiteTest, DefinitionRules) {
    OfxPropertySetHandle p = define(kOfxParamTypeDouble, "gain");
    EXPECT_EQ(params.paramDefine(descSet, kOfxParamTypeDouble, "gain", &p), kOfxStatErrExists);
    EXPECT_EQ(params.paramDefine(descSet, "OfxParamTypeNonsense", "x", &p), kOfxStatErrUnknown);
    EXPECT_EQ(params.paramDefine(descSet, "OfxParamTypeBytes", "blob", &p), kOfxStatErrUnsupported);
    // Default is pre-typed by the param type: an int default on a double param is refused.
    EXPECT_EQ(props.propSetInt(define(kOfxParamTypeDouble, "g2"), kOfxParamPropDefault, 0, 1),
              kOfxStatErrValue);

    OfxParamHandle h = nullptr;
    EXPECT_EQ(params.paramGetHandle(descSet, "gain", &h, nullptr), kOfxStatErrBadHandle);
    EXPECT_EQ(host.misuse().size(), 1u);

    // Params may only be defined in describe-in-context.
    OfxParamSetHandle globalSet = nullptr;
    effects.getParamSet(global->handle(), &globalSet);
    EXPECT_NE(params.paramDefine(globalSet, kOfxParamTypeDouble, "early", &p), kOfxStatOK);

    // The effect's property set is its param set's property set.
    OfxPropertySetHandle effectProps = nullptr, setProps = nullptr;
    effects.getPropertySet(desc->handle(), &effectProps);
    params.paramSetGetPropertySet(descSet, &setProps);
    EXPECT_EQ(effectProps, setProps);
    EXPECT_EQ(desc->paramNames(), (std::vector<std::string>{"gain", "g2"}));
}

TEST_F(ParamSuiteTest, VariadicGetsWriteExactlyTheDeclaredArguments) {
    props.propSetDouble(define(kOfxParamTypeDouble, "gain"), kOfxParamPropDefault, 0, 0.75);
    const double rgba[4] = {0.1, 0.2, 0.3, 0.4};
    props.propSetDoubleN(define(kOfxParamTypeRGBA, "tint"), kOfxParamPropDefault, 4, rgba);
    props.propSetInt(define(kOfxParamTypeBoolean, "flag"), kOfxParamPropDefault, 0, 1);
    const int offset[2] = {-3, 8};
    props.propSetIntN(define(kOfxParamTypeInteger2D, "offset"), kOfxParamPropDefault, 2, offset);
    props.propSetString(define(kOfxParamTypeString, "label"), kOfxParamPropDefault, 0, "hi");
    Effect& inst = host.createInstance(*desc);

    double gain = 0;
    ASSERT_EQ(params.paramGetValueAtTime(handleOf(inst, "gain"), 3.0, &gain), kOfxStatOK);
    EXPECT_EQ(gain, 0.75);

    double c[5] = {-1, -1, -1, -1, -1};
    ASSERT_EQ(params.paramGetValue(handleOf(inst, "tint"), &c[0], &c[1], &c[2], &c[3], &c[4]),
              kOfxStatOK);
    EXPECT_EQ(c[0], 0.1);
    EXPECT_EQ(c[3], 0.4);
    EXPECT_EQ(c[4], -1); // a fifth pointer must be left alone

    // An int target next to a sentinel: a host writing a double here would clobber it.
    struct {
        int flag;
        int sentinel;
    } b{0, 12345};
    ASSERT_EQ(params.paramGetValueAtTime(handleOf(inst, "flag"), 0.0, &b.flag), kOfxStatOK);
    EXPECT_EQ(b.flag, 1);
    EXPECT_EQ(b.sentinel, 12345);

    int xy[2] = {0, 0};
    ASSERT_EQ(params.paramGetValue(handleOf(inst, "offset"), &xy[0], &xy[1]), kOfxStatOK);
    EXPECT_EQ(xy[0], -3);
    EXPECT_EQ(xy[1], 8);

    char* text = nullptr;
    ASSERT_EQ(params.paramGetValue(handleOf(inst, "label"), &text), kOfxStatOK);
    EXPECT_STREQ(text, "hi");
}

TEST_F(ParamSuiteTest, VariadicSetsReadPromotedValuesAndKeysInterpolate) {
    define(kOfxParamTypeRGBA, "tint");
    define(kOfxParamTypeInteger, "count");
    define(kOfxParamTypeBoolean, "flag");
    Effect& inst = host.createInstance(*desc);
    OfxParamHandle tint = handleOf(inst, "tint");
    ASSERT_EQ(params.paramSetValueAtTime(tint, 0.0, 0.0, 1.0, 0.5, 1.0), kOfxStatOK);
    ASSERT_EQ(params.paramSetValueAtTime(tint, 10.0, 1.0, 0.0, 0.5, 1.0), kOfxStatOK);
    EXPECT_EQ(inst.param("tint").valueAt(2.5), (std::vector<double>{0.25, 0.75, 0.5, 1.0}));
    EXPECT_EQ(inst.param("tint").valueAt(-4.0), (std::vector<double>{0.0, 1.0, 0.5, 1.0}));
    EXPECT_EQ(inst.param("tint").valueAt(99.0), (std::vector<double>{1.0, 0.0, 0.5, 1.0}));

    OfxParamHandle count = handleOf(inst, "count");
    ASSERT_EQ(params.paramSetValueAtTime(count, 0.0, 0), kOfxStatOK);
    ASSERT_EQ(params.paramSetValueAtTime(count, 4.0, 10), kOfxStatOK);
    int n = -1;
    ASSERT_EQ(params.paramGetValueAtTime(count, 1.0, &n), kOfxStatOK);
    EXPECT_EQ(n, 3); // 2.5 rounded to nearest, away from zero

    OfxParamHandle flag = handleOf(inst, "flag");
    ASSERT_EQ(params.paramSetValueAtTime(flag, 0.0, 0), kOfxStatOK);
    ASSERT_EQ(params.paramSetValueAtTime(flag, 10.0, 1), kOfxStatOK);
    int f = -1;
    params.paramGetValueAtTime(flag, 9.9, &f);
    EXPECT_EQ(f, 0); // booleans hold until the next key

    unsigned keys = 0;
    params.paramGetNumKeys(tint, &keys);
    EXPECT_EQ(keys, 2u);
    int index = 0;
    EXPECT_EQ(params.paramGetKeyIndex(tint, 5.0, -1, &index), kOfxStatOK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(params.paramGetKeyIndex(tint, 10.0, 1, &index), kOfxStatFailed);
    EXPECT_EQ(index, -1);
    OfxTime t = 0;
    EXPECT_EQ(params.paramGetKeyTime(tint, 2, &t), kOfxStatErrBadIndex);
}

TEST_F(ParamSuiteTest, IntegralAndDerivativeFollowThePiecewiseLinearCurve) {
    define(kOfxParamTypeDouble, "ramp");
    Effect& inst = host.createInstance(*desc);
    OfxParamHandle ramp = handleOf(inst, "ramp");
    params.paramSetValueAtTime(ramp, 0.0, 0.0);
    params.paramSetValueAtTime(ramp, 10.0, 10.0);
    double area = 0, slope = 0;
    // 0..10 is the triangle (50), 10..12 the flat tail at 10 (20).
    ASSERT_EQ(params.paramGetIntegral(ramp, 0.0, 12.0, &area), kOfxStatOK);
    EXPECT_DOUBLE_EQ(area, 70.0);
    ASSERT_EQ(params.paramGetDerivative(ramp, 5.0, &slope), kOfxStatOK);
    EXPECT_DOUBLE_EQ(slope, 1.0);
}

TEST_F(ParamSuiteTest, CopyShiftsKeysAndSetValueKeysWhenAnimated) {
    define(kOfxParamTypeDouble2D, "from");
    define(kOfxParamTypeDouble2D, "to");
    define(kOfxParamTypeDouble, "other");
    Effect& inst = host.createInstance(*desc);
    OfxParamHandle from = handleOf(inst, "from");
    OfxParamHandle to = handleOf(inst, "to");
    params.paramSetValueAtTime(from, 1.0, 1.0, 2.0);
    params.paramSetValueAtTime(from, 5.0, 3.0, 4.0);
    params.paramSetValueAtTime(from, 9.0, 5.0, 6.0);
    const OfxRangeD range{0.0, 6.0};
    ASSERT_EQ(params.paramCopy(to, from, 10.0, &range), kOfxStatOK);
    EXPECT_EQ(inst.param("to").keyTimes(), (std::vector<double>{11.0, 15.0}));
    EXPECT_EQ(params.paramCopy(handleOf(inst, "other"), from, 0.0, nullptr), kOfxStatErrValue);

    // An animated param takes a plain set as a key at the time-line's time.
    host.setTime(20.0);
    ASSERT_EQ(params.paramSetValue(to, 7.0, 8.0), kOfxStatOK);
    EXPECT_EQ(inst.param("to").keyTimes(), (std::vector<double>{11.0, 15.0, 20.0}));
    EXPECT_EQ(inst.param("to").valueAt(17.5), (std::vector<double>{5.0, 6.0}));
}

} // namespace
