#include "properties.h"

#include <new>

namespace OFX {

PropertySet::~PropertySet() = default;

void raisePropertyStatus(OfxStatus status, const char* propertyName) {
    switch (status) {
    case kOfxStatOK:
    case kOfxStatReplyYes:
    case kOfxStatReplyNo:
    case kOfxStatReplyDefault:
        return;
    case kOfxStatErrUnknown:
    case kOfxStatErrUnsupported:
        throw Exception::PropertyUnknownToHost(propertyName);
    case kOfxStatErrMemory:
        throw std::bad_alloc();
    case kOfxStatErrValue:
        throw Exception::PropertyValueIllegalToHost(propertyName);
    default:
        raiseSuiteStatus(status);
    }
}

namespace {
void check(OfxStatus status, const char* name, bool throwOnFailure) {
    if (throwOnFailure)
        raisePropertyStatus(status, name);
}
} // namespace

int PropertySet::getDimension(const char* name, bool throwOnFailure) const {
    int count = 0;
    const OfxStatus status = Private::propertySuite().propGetDimension(handle_, name, &count);
    logError(status != kOfxStatOK,
             "Failed on fetching dimension for property %s, host returned status %s.", name,
             statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Fetched dimension of property %s, returned %d.", name, count);
    return count;
}

int PropertySet::getInt(const char* name, int index, bool throwOnFailure) const {
    int value = 0;
    const OfxStatus status = Private::propertySuite().propGetInt(handle_, name, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting int property %s[%d], host returned status %s;", name, index,
             statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Retrieved int property %s[%d], was given %d.", name, index, value);
    return value;
}

double PropertySet::getDouble(const char* name, int index, bool throwOnFailure) const {
    double value = 0.0;
    const OfxStatus status = Private::propertySuite().propGetDouble(handle_, name, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting double property %s[%d], host returned status %s;", name, index,
             statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Retrieved double property %s[%d], was given %lf.", name, index, value);
    return value;
}

void* PropertySet::getPointer(const char* name, int index, bool throwOnFailure) const {
    void* value = nullptr;
    const OfxStatus status = Private::propertySuite().propGetPointer(handle_, name, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting pointer property %s[%d], host returned status %s;", name, index,
             statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Retrieved pointer property %s[%d], was given %p.", name, index, value);
    return value;
}

std::string PropertySet::getString(const char* name, int index, bool throwOnFailure) const {
    static char empty[] = "";
    char* value = empty;
    const OfxStatus status = Private::propertySuite().propGetString(handle_, name, index, &value);
    if (!value) // a host that answers with a null string has given the empty one
        value = empty;
    logError(status != kOfxStatOK,
             "Failed on getting string property %s[%d], host returned status %s;", name, index,
             statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Retrieved string property %s[%d], was given %s.", name, index, value);
    return std::string(value);
}

void PropertySet::setInt(const char* name, int value, int index, bool throwOnFailure) {
    const OfxStatus status = Private::propertySuite().propSetInt(handle_, name, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting int property %s[%d] to %d, host returned status %s (%d);", name,
             index, value, statusName(status), status);
    check(status, name, throwOnFailure);
    logPrint("Set int property %s[%d] to be %d.", name, index, value);
}

void PropertySet::setDouble(const char* name, double value, int index, bool throwOnFailure) {
    const OfxStatus status = Private::propertySuite().propSetDouble(handle_, name, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting double property %s[%d] to %lf, host returned status %s;", name,
             index, value, statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Set double property %s[%d] to be %lf.", name, index, value);
}

void PropertySet::setPointer(const char* name, void* value, int index, bool throwOnFailure) {
    const OfxStatus status = Private::propertySuite().propSetPointer(handle_, name, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting pointer property %s[%d] to %p, host returned status %s;", name,
             index, value, statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Set pointer property %s[%d] to be %p.", name, index, value);
}

void PropertySet::setString(const char* name, const std::string& value, int index,
                            bool throwOnFailure) {
    const OfxStatus status =
        Private::propertySuite().propSetString(handle_, name, index, value.c_str());
    logError(status != kOfxStatOK,
             "Failed on setting string property %s[%d] to %s, host returned status %s;", name,
             index, value.c_str(), statusName(status));
    check(status, name, throwOnFailure);
    logPrint("Set string property %s[%d] to be %s.", name, index, value.c_str());
}

} // namespace OFX
