// Host-side property sets and the property suite that plug-ins reach them through.
#pragma once

#include "ofx_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ofxhost {

class FaultPlan;

/// The four value types an OFX property can hold.
enum class PropType { Int, Double, String, Pointer };

/// Name of a PropType for messages and dumps.
const char* toString(PropType type);

/// A named, typed, variable-dimension property bag; its address is the OfxPropertySetHandle.
///
/// The C++ accessors below are for tests and bypass fault injection. They throw
/// std::out_of_range for a missing property or index and std::logic_error for a wrong type.
/// The C++ setters re-type a property of another type, so a test can build odd descriptions.
/// All members are thread-safe; a string handed out by the suite lives until that element
/// changes or the set is destroyed.
class PropertySet {
public:
    /// `label` only appears in dumps and messages; `faults` may be null.
    explicit PropertySet(std::string label = {}, const FaultPlan* faults = nullptr);
    ~PropertySet();
    PropertySet(const PropertySet&) = delete;
    PropertySet& operator=(const PropertySet&) = delete;

    /// The handle plug-ins see.
    OfxPropertySetHandle handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
    /// The set behind a handle, or null when the handle is null or not a live set.
    static PropertySet* fromHandle(OfxPropertySetHandle handle);

    /// Label given at construction.
    const std::string& label() const { return label_; }
    /// Strict sets answer kOfxStatErrUnknown to a suite set of an unknown property.
    void setStrict(bool strict);
    /// When on, the suite's propGetDimension of an unknown property answers OK and 0.
    void setLenientDimension(bool lenient);
    /// Fault plan consulted by suite calls (null: none).
    void setFaults(const FaultPlan* faults);
    /// The fault plan in use (null: none).
    const FaultPlan* faults() const;

    /// True when the property exists.
    bool has(const std::string& name) const;
    /// Number of values, or -1 when the property does not exist.
    int dimension(const std::string& name) const;
    /// Type of an existing property.
    std::optional<PropType> type(const std::string& name) const;
    /// Property names in sorted order.
    std::vector<std::string> names() const;

    /// Value `index` of an int property.
    int getInt(const std::string& name, int index = 0) const;
    /// Value `index` of a double property.
    double getDouble(const std::string& name, int index = 0) const;
    /// Value `index` of a string property.
    std::string getString(const std::string& name, int index = 0) const;
    /// Value `index` of a pointer property.
    void* getPointer(const std::string& name, int index = 0) const;
    /// Every value of an int property.
    std::vector<int> getInts(const std::string& name) const;
    /// Every value of a double property.
    std::vector<double> getDoubles(const std::string& name) const;
    /// Every value of a string property.
    std::vector<std::string> getStrings(const std::string& name) const;

    /// Creates (or re-creates) a property of `type` with `dim` zero/empty/null values.
    void define(const std::string& name, PropType type, int dim);
    /// Sets value `index`, creating or growing the property.
    void setInt(const std::string& name, int value, int index = 0);
    /// Sets value `index`, creating or growing the property.
    void setDouble(const std::string& name, double value, int index = 0);
    /// Sets value `index`, creating or growing the property.
    void setString(const std::string& name, const std::string& value, int index = 0);
    /// Sets value `index`, creating or growing the property.
    void setPointer(const std::string& name, void* value, int index = 0);
    /// Replaces the whole property; its dimension becomes values.size().
    void setInts(const std::string& name, const std::vector<int>& values);
    /// Replaces the whole property; its dimension becomes values.size().
    void setDoubles(const std::string& name, const std::vector<double>& values);
    /// Replaces the whole property; its dimension becomes values.size().
    void setStrings(const std::string& name, const std::vector<std::string>& values);
    /// Deletes the property (a later suite get answers kOfxStatErrUnknown).
    void remove(const std::string& name);
    /// Copies every property of `other` over this set's (both values and reset defaults).
    void copyFrom(const PropertySet& other);
    /// One line per property: "name (type xN) = v0, v1".
    std::string dump() const;

    // Property-suite operations, with the suite's status codes and fault injection.
    /// Suite setter for one value; `value` is read according to `type`.
    OfxStatus suiteSet(const char* name, PropType type, int index, const void* value);
    /// Suite setter for values 0..count-1 from the array `values`.
    OfxStatus suiteSetN(const char* name, PropType type, int count, const void* values);
    /// Suite getter for one value into `out` (an int*, double*, char** or void**).
    OfxStatus suiteGet(const char* name, PropType type, int index, void* out);
    /// Suite getter for values 0..count-1 into the array `out`.
    OfxStatus suiteGetN(const char* name, PropType type, int count, void* out);
    /// Suite reset: back to the values the property had when it was created.
    OfxStatus suiteReset(const char* name);
    /// Suite dimension query.
    OfxStatus suiteDimension(const char* name, int* count);

private:
    struct Property {
        PropType type = PropType::Int;
        std::vector<int> ints;
        std::vector<double> doubles;
        // Each string lives in its own allocation so growing the vector keeps handed-out
        // pointers to the other elements valid.
        std::vector<std::unique_ptr<std::string>> strings;
        std::vector<void*> pointers;
        std::vector<int> defaultInts;
        std::vector<double> defaultDoubles;
        std::vector<std::string> defaultStrings;
        std::vector<void*> defaultPointers;

        int size() const;
        void resize(int n);
        void rememberDefaults();
        void restoreDefaults();
    };

    Property& createLocked(const std::string& name, PropType type, int dim);
    Property& typedForWriteLocked(const std::string& name, PropType type);
    const Property& wholeForReadLocked(const std::string& name, PropType type) const;
    const Property& typedForReadLocked(const std::string& name, PropType type, int index) const;
    std::optional<OfxStatus> fault(const char* name, unsigned op) const;
    static void storeCell(Property& p, int index, const void* value, int offset);
    static void loadCell(Property& p, int index, void* out, int offset);

    static constexpr std::uint32_t kMagic = 0x50524f50; // "PROP"
    std::uint32_t magic_ = kMagic;
    std::string label_;
    const FaultPlan* faults_;
    bool strict_ = false;
    bool lenientDimension_ = false;
    mutable std::recursive_mutex mutex_;
    std::map<std::string, Property> props_;
};

/// The property suite served to plug-ins (all 18 members).
const OfxPropertySuiteV1* propertySuite();

} // namespace ofxhost
