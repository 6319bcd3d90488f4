// OfxParameterSuiteV1. The value functions are real variadic functions: each one reads its
// va_list through one shared helper, taking exactly the arguments the param's type declares.
#include "host.h"
#include "suites.h"

#include <cstdarg>

namespace ofxhost {

namespace {

#define OFXHOST_INJECT(host, member)                                                               \
    if (auto injected = (host).injected(member))                                                   \
        return *injected;

// Resolves a param handle; misuse of a descriptor param is reported, not served.
#define OFXHOST_PARAM_ENTRY(member)                                                                \
    Param* param = Param::fromHandle(paramHandle);                                                 \
    if (param == nullptr)                                                                          \
        return kOfxStatErrBadHandle;                                                               \
    OFXHOST_INJECT(param->host(), member);

// The get-family: one pointer per value (double*, int* or char**), written from `time`.
OfxStatus writeValue(Param& param, double time, va_list ap) {
    const ParamTypeInfo& info = param.info();
    switch (info.kind) {
    case ValueKind::Double: {
        std::vector<double> v = param.valueAt(time);
        for (int i = 0; i < info.dimension; ++i) {
            double* out = va_arg(ap, double*);
            if (out == nullptr)
                return kOfxStatErrBadHandle;
            *out = v[static_cast<size_t>(i)];
        }
        return kOfxStatOK;
    }
    case ValueKind::Int: {
        std::vector<double> v = param.valueAt(time);
        for (int i = 0; i < info.dimension; ++i) {
            int* out = va_arg(ap, int*);
            if (out == nullptr)
                return kOfxStatErrBadHandle;
            *out = static_cast<int>(v[static_cast<size_t>(i)]);
        }
        return kOfxStatOK;
    }
    case ValueKind::String: {
        char** out = va_arg(ap, char**);
        if (out == nullptr)
            return kOfxStatErrBadHandle;
        *out = const_cast<char*>(param.stringStorageAt(time));
        return kOfxStatOK;
    }
    case ValueKind::None:
        break;
    }
    return kOfxStatErrUnsupported;
}

// The set-family: the values themselves, promoted (double, int or const char*).
OfxStatus readValue(Param& param, bool keyed, double time, va_list ap) {
    const ParamTypeInfo& info = param.info();
    std::vector<double> values;
    switch (info.kind) {
    case ValueKind::Double:
        for (int i = 0; i < info.dimension; ++i)
            values.push_back(va_arg(ap, double));
        break;
    case ValueKind::Int:
        for (int i = 0; i < info.dimension; ++i)
            values.push_back(va_arg(ap, int));
        break;
    case ValueKind::String: {
        const char* s = va_arg(ap, const char*);
        if (keyed)
            param.setStringKey(time, s ? s : "");
        else
            param.setString(s ? s : "");
        return kOfxStatOK;
    }
    case ValueKind::None:
        return kOfxStatErrUnsupported;
    }
    if (keyed)
        param.setKey(time, values);
    else
        param.setValue(values);
    return kOfxStatOK;
}

// Derivative and integral: one double* per value, double-valued types only.
OfxStatus writeDoubles(Param& param, const std::vector<double>& v, va_list ap) {
    if (param.info().kind != ValueKind::Double)
        return kOfxStatErrUnsupported;
    for (size_t i = 0; i < v.size(); ++i) {
        double* out = va_arg(ap, double*);
        if (out == nullptr)
            return kOfxStatErrBadHandle;
        *out = v[i];
    }
    return kOfxStatOK;
}

OfxStatus paramDefine(OfxParamSetHandle paramSet, const char* paramType, const char* name,
                      OfxPropertySetHandle* propertySet) {
    ParamSet* set = ParamSet::fromHandle(paramSet);
    if (set == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(set->host(), "paramDefine");
    if (set->effect().kind() != EffectKind::ContextDescriptor) {
        set->host().noteMisuse("paramDefine outside describe-in-context");
        return kOfxStatErrBadHandle;
    }
    Param* param = nullptr;
    OfxStatus st = set->define(paramType, name, &param);
    if (st == kOfxStatOK && propertySet != nullptr)
        *propertySet = param->props().handle();
    return st;
}

OfxStatus paramGetHandle(OfxParamSetHandle paramSet, const char* name, OfxParamHandle* out,
                         OfxPropertySetHandle* propertySet) {
    ParamSet* set = ParamSet::fromHandle(paramSet);
    if (set == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(set->host(), "paramGetHandle");
    if (set->effect().kind() != EffectKind::Instance) {
        set->host().noteMisuse("paramGetHandle on a descriptor param set");
        return kOfxStatErrBadHandle;
    }
    if (name == nullptr || out == nullptr)
        return kOfxStatErrBadHandle;
    Param* param = set->find(name);
    if (param == nullptr)
        return kOfxStatErrUnknown;
    *out = param->handle();
    if (propertySet != nullptr)
        *propertySet = param->props().handle();
    return kOfxStatOK;
}

OfxStatus paramSetGetPropertySet(OfxParamSetHandle paramSet, OfxPropertySetHandle* propHandle) {
    ParamSet* set = ParamSet::fromHandle(paramSet);
    if (set == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(set->host(), "paramSetGetPropertySet");
    if (propHandle == nullptr)
        return kOfxStatErrBadHandle;
    *propHandle = set->effect().props().handle();
    return kOfxStatOK;
}

OfxStatus paramGetPropertySet(OfxParamHandle paramHandle, OfxPropertySetHandle* propHandle) {
    OFXHOST_PARAM_ENTRY("paramGetPropertySet");
    if (propHandle == nullptr)
        return kOfxStatErrBadHandle;
    *propHandle = param->props().handle();
    return kOfxStatOK;
}

OfxStatus paramGetValue(OfxParamHandle paramHandle, ...) {
    OFXHOST_PARAM_ENTRY("paramGetValue");
    va_list ap;
    va_start(ap, paramHandle);
    OfxStatus st = writeValue(*param, param->host().time(), ap);
    va_end(ap);
    return st;
}

OfxStatus paramGetValueAtTime(OfxParamHandle paramHandle, OfxTime time, ...) {
    OFXHOST_PARAM_ENTRY("paramGetValueAtTime");
    va_list ap;
    va_start(ap, time);
    OfxStatus st = writeValue(*param, time, ap);
    va_end(ap);
    return st;
}

OfxStatus paramGetDerivative(OfxParamHandle paramHandle, OfxTime time, ...) {
    OFXHOST_PARAM_ENTRY("paramGetDerivative");
    va_list ap;
    va_start(ap, time);
    OfxStatus st = writeDoubles(*param, param->derivativeAt(time), ap);
    va_end(ap);
    return st;
}

OfxStatus paramGetIntegral(OfxParamHandle paramHandle, OfxTime time1, OfxTime time2, ...) {
    OFXHOST_PARAM_ENTRY("paramGetIntegral");
    va_list ap;
    va_start(ap, time2);
    OfxStatus st = writeDoubles(*param, param->integral(time1, time2), ap);
    va_end(ap);
    return st;
}

// With keys present a static value would be invisible, so, as an auto-keying host does,
// the value becomes a key at the time-line's current time.
OfxStatus paramSetValue(OfxParamHandle paramHandle, ...) {
    OFXHOST_PARAM_ENTRY("paramSetValue");
    bool keyed = !param->keyTimes().empty();
    va_list ap;
    va_start(ap, paramHandle);
    OfxStatus st = readValue(*param, keyed, param->host().time(), ap);
    va_end(ap);
    return st;
}

OfxStatus paramSetValueAtTime(OfxParamHandle paramHandle, OfxTime time, ...) {
    OFXHOST_PARAM_ENTRY("paramSetValueAtTime");
    va_list ap;
    va_start(ap, time);
    OfxStatus st = readValue(*param, true, time, ap);
    va_end(ap);
    return st;
}

OfxStatus paramGetNumKeys(OfxParamHandle paramHandle, unsigned int* numberOfKeys) {
    OFXHOST_PARAM_ENTRY("paramGetNumKeys");
    if (numberOfKeys == nullptr)
        return kOfxStatErrBadHandle;
    *numberOfKeys = static_cast<unsigned int>(param->keyTimes().size());
    return kOfxStatOK;
}

OfxStatus paramGetKeyTime(OfxParamHandle paramHandle, unsigned int nthKey, OfxTime* time) {
    OFXHOST_PARAM_ENTRY("paramGetKeyTime");
    if (time == nullptr)
        return kOfxStatErrBadHandle;
    std::vector<double> keys = param->keyTimes();
    if (nthKey >= keys.size())
        return kOfxStatErrBadIndex;
    *time = keys[nthKey];
    return kOfxStatOK;
}

OfxStatus paramGetKeyIndex(OfxParamHandle paramHandle, OfxTime time, int direction, int* index) {
    OFXHOST_PARAM_ENTRY("paramGetKeyIndex");
    if (index == nullptr)
        return kOfxStatErrBadHandle;
    std::vector<double> keys = param->keyTimes();
    *index = -1;
    for (size_t i = 0; i < keys.size(); ++i) {
        bool found = direction == 0 ? keys[i] == time : direction > 0 ? keys[i] > time : false;
        if (direction < 0 && keys[i] < time)
            *index = static_cast<int>(i); // the last one before `time` wins
        if (found) {
            *index = static_cast<int>(i);
            break;
        }
    }
    return *index < 0 ? kOfxStatFailed : kOfxStatOK;
}

OfxStatus paramDeleteKey(OfxParamHandle paramHandle, OfxTime time) {
    OFXHOST_PARAM_ENTRY("paramDeleteKey");
    return param->deleteKey(time) ? kOfxStatOK : kOfxStatErrBadIndex;
}

OfxStatus paramDeleteAllKeys(OfxParamHandle paramHandle) {
    OFXHOST_PARAM_ENTRY("paramDeleteAllKeys");
    param->clearKeys();
    return kOfxStatOK;
}

OfxStatus paramCopy(OfxParamHandle paramTo, OfxParamHandle paramFrom, OfxTime dstOffset,
                    const OfxRangeD* frameRange) {
    Param* to = Param::fromHandle(paramTo);
    Param* from = Param::fromHandle(paramFrom);
    if (to == nullptr || from == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(to->host(), "paramCopy");
    if (to->type() != from->type())
        return kOfxStatErrValue;
    to->copyFrom(*from, dstOffset, frameRange);
    return kOfxStatOK;
}

OfxStatus paramEditBegin(OfxParamSetHandle paramSet, const char* name) {
    ParamSet* set = ParamSet::fromHandle(paramSet);
    if (set == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(set->host(), "paramEditBegin");
    (void)name; // only a label for an undo entry
    set->beginEdit();
    return kOfxStatOK;
}

OfxStatus paramEditEnd(OfxParamSetHandle paramSet) {
    ParamSet* set = ParamSet::fromHandle(paramSet);
    if (set == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(set->host(), "paramEditEnd");
    if (!set->endEdit()) {
        set->host().noteMisuse("paramEditEnd without paramEditBegin");
        return kOfxStatFailed;
    }
    return kOfxStatOK;
}

const OfxParameterSuiteV1 kParameterSuite = {
    paramDefine,      paramGetHandle,      paramSetGetPropertySet, paramGetPropertySet,
    paramGetValue,    paramGetValueAtTime, paramGetDerivative,     paramGetIntegral,
    paramSetValue,    paramSetValueAtTime, paramGetNumKeys,        paramGetKeyTime,
    paramGetKeyIndex, paramDeleteKey,      paramDeleteAllKeys,     paramCopy,
    paramEditBegin,   paramEditEnd,
};

} // namespace

const OfxParameterSuiteV1* parameterSuite() { return &kParameterSuite; }

} // namespace ofxhost
