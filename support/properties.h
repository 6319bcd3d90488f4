// Typed, logged access to one host property set.
#pragma once

#include "core.h"

#include <string>

namespace OFX {

/// Wraps a property-set handle that the host owns; copies address the same host object.
/// Every access is one property-suite call plus a log line. With throwOnFailure a failing
/// status raises (raisePropertyStatus); without it the getter returns 0, 0.0, null or "".
class PropertySet {
public:
    PropertySet(OfxPropertySetHandle handle = nullptr) : handle_(handle) {}
    virtual ~PropertySet();

    void propSetHandle(OfxPropertySetHandle handle) { handle_ = handle; }
    OfxPropertySetHandle propSetHandle() const { return handle_; }

    int getDimension(const char* name, bool throwOnFailure = true) const;
    int getInt(const char* name, int index = 0, bool throwOnFailure = true) const;
    double getDouble(const char* name, int index = 0, bool throwOnFailure = true) const;
    void* getPointer(const char* name, int index = 0, bool throwOnFailure = true) const;
    std::string getString(const char* name, int index = 0, bool throwOnFailure = true) const;

    void setInt(const char* name, int value, int index = 0, bool throwOnFailure = true);
    void setDouble(const char* name, double value, int index = 0, bool throwOnFailure = true);
    void setPointer(const char* name, void* value, int index = 0, bool throwOnFailure = true);
    void setString(const char* name, const std::string& value, int index = 0,
                   bool throwOnFailure = true);

private:
    OfxPropertySetHandle handle_;
};

/// The property-status mapping: unknown or unsupported → PropertyUnknownToHost, bad value →
/// PropertyValueIllegalToHost, memory → std::bad_alloc, other errors → raiseSuiteStatus.
void raisePropertyStatus(OfxStatus status, const char* propertyName);

} // namespace OFX
