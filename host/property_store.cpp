#include "property_store.h"

#include "faults.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace ofxhost {

const char* toString(PropType type) {
    switch (type) {
    case PropType::Int:
        return "int";
    case PropType::Double:
        return "double";
    case PropType::String:
        return "string";
    case PropType::Pointer:
        return "pointer";
    }
    return "?";
}

// ---- Property -------------------------------------------------------------

int PropertySet::Property::size() const {
    switch (type) {
    case PropType::Int:
        return static_cast<int>(ints.size());
    case PropType::Double:
        return static_cast<int>(doubles.size());
    case PropType::String:
        return static_cast<int>(strings.size());
    case PropType::Pointer:
        return static_cast<int>(pointers.size());
    }
    return 0;
}

void PropertySet::Property::resize(int n) {
    switch (type) {
    case PropType::Int:
        ints.resize(static_cast<size_t>(n), 0);
        break;
    case PropType::Double:
        doubles.resize(static_cast<size_t>(n), 0.0);
        break;
    case PropType::String:
        // Shrinking frees only the dropped elements; growing allocates fresh ones.
        while (static_cast<int>(strings.size()) > n)
            strings.pop_back();
        while (static_cast<int>(strings.size()) < n)
            strings.push_back(std::make_unique<std::string>());
        break;
    case PropType::Pointer:
        pointers.resize(static_cast<size_t>(n), nullptr);
        break;
    }
}

void PropertySet::Property::rememberDefaults() {
    defaultInts = ints;
    defaultDoubles = doubles;
    defaultPointers = pointers;
    defaultStrings.clear();
    for (const auto& s : strings)
        defaultStrings.push_back(*s);
}

void PropertySet::Property::restoreDefaults() {
    ints = defaultInts;
    doubles = defaultDoubles;
    pointers = defaultPointers;
    if (type != PropType::String)
        return;
    resize(static_cast<int>(defaultStrings.size()));
    for (size_t i = 0; i < defaultStrings.size(); ++i)
        *strings[i] = defaultStrings[i];
}

// ---- PropertySet: C++ side ---------------------------------------------------

PropertySet::PropertySet(std::string label, const FaultPlan* faults)
    : label_(std::move(label)), faults_(faults) {}

// Clearing the tag turns a later use of a dangling handle into kOfxStatErrBadHandle in
// practice (the memory is usually still mapped), which is the most useful failure for a test.
PropertySet::~PropertySet() { magic_ = 0; }

PropertySet* PropertySet::fromHandle(OfxPropertySetHandle handle) {
    auto* set = reinterpret_cast<PropertySet*>(handle);
    if (set == nullptr || set->magic_ != kMagic)
        return nullptr;
    return set;
}

void PropertySet::setStrict(bool strict) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    strict_ = strict;
}

void PropertySet::setLenientDimension(bool lenient) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    lenientDimension_ = lenient;
}

void PropertySet::setFaults(const FaultPlan* faults) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    faults_ = faults;
}

const FaultPlan* PropertySet::faults() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return faults_;
}

bool PropertySet::has(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return props_.count(name) != 0;
}

int PropertySet::dimension(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = props_.find(name);
    return it == props_.end() ? -1 : it->second.size();
}

std::optional<PropType> PropertySet::type(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = props_.find(name);
    if (it == props_.end())
        return std::nullopt;
    return it->second.type;
}

std::vector<std::string> PropertySet::names() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& p : props_)
        out.push_back(p.first);
    return out;
}

const PropertySet::Property& PropertySet::typedForReadLocked(const std::string& name, PropType type,
                                                             int index) const {
    const Property& p = wholeForReadLocked(name, type);
    if (index < 0 || index >= p.size())
        throw std::out_of_range(label_ + ": property " + name + " has no index " +
                                std::to_string(index));
    return p;
}

int PropertySet::getInt(const std::string& name, int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return typedForReadLocked(name, PropType::Int, index).ints[static_cast<size_t>(index)];
}

double PropertySet::getDouble(const std::string& name, int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return typedForReadLocked(name, PropType::Double, index).doubles[static_cast<size_t>(index)];
}

std::string PropertySet::getString(const std::string& name, int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return *typedForReadLocked(name, PropType::String, index).strings[static_cast<size_t>(index)];
}

void* PropertySet::getPointer(const std::string& name, int index) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return typedForReadLocked(name, PropType::Pointer, index).pointers[static_cast<size_t>(index)];
}

const PropertySet::Property& PropertySet::wholeForReadLocked(const std::string& name,
                                                             PropType type) const {
    auto it = props_.find(name);
    if (it == props_.end())
        throw std::out_of_range(label_ + ": no property " + name);
    if (it->second.type != type)
        throw std::logic_error(label_ + ": property " + name + " is " + toString(it->second.type) +
                               ", not " + toString(type));
    return it->second;
}

std::vector<int> PropertySet::getInts(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return wholeForReadLocked(name, PropType::Int).ints;
}

std::vector<double> PropertySet::getDoubles(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return wholeForReadLocked(name, PropType::Double).doubles;
}

std::vector<std::string> PropertySet::getStrings(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& s : wholeForReadLocked(name, PropType::String).strings)
        out.push_back(*s);
    return out;
}

PropertySet::Property& PropertySet::createLocked(const std::string& name, PropType type, int dim) {
    Property& p = props_[name];
    p = Property();
    p.type = type;
    p.resize(dim);
    p.rememberDefaults();
    return p;
}

PropertySet::Property& PropertySet::typedForWriteLocked(const std::string& name, PropType type) {
    auto it = props_.find(name);
    if (it == props_.end() || it->second.type != type)
        return createLocked(name, type, 0);
    return it->second;
}

void PropertySet::define(const std::string& name, PropType type, int dim) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    createLocked(name, type, dim);
}

void PropertySet::setInt(const std::string& name, int value, int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::Int);
    if (index >= p.size())
        p.resize(index + 1);
    p.ints.at(static_cast<size_t>(index)) = value;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setDouble(const std::string& name, double value, int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::Double);
    if (index >= p.size())
        p.resize(index + 1);
    p.doubles.at(static_cast<size_t>(index)) = value;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setString(const std::string& name, const std::string& value, int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::String);
    if (index >= p.size())
        p.resize(index + 1);
    *p.strings.at(static_cast<size_t>(index)) = value;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setPointer(const std::string& name, void* value, int index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::Pointer);
    if (index >= p.size())
        p.resize(index + 1);
    p.pointers.at(static_cast<size_t>(index)) = value;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setInts(const std::string& name, const std::vector<int>& values) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::Int);
    p.ints = values;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setDoubles(const std::string& name, const std::vector<double>& values) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::Double);
    p.doubles = values;
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::setStrings(const std::string& name, const std::vector<std::string>& values) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    bool fresh = props_.count(name) == 0;
    Property& p = typedForWriteLocked(name, PropType::String);
    p.resize(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        *p.strings[i] = values[i];
    if (fresh)
        p.rememberDefaults();
}

void PropertySet::remove(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    props_.erase(name);
}

void PropertySet::copyFrom(const PropertySet& other) {
    if (&other == this)
        return;
    std::scoped_lock lock(mutex_, other.mutex_);
    for (const auto& entry : other.props_) {
        const Property& src = entry.second;
        Property& dst = createLocked(entry.first, src.type, src.size());
        dst.ints = src.ints;
        dst.doubles = src.doubles;
        dst.pointers = src.pointers;
        for (size_t i = 0; i < src.strings.size(); ++i)
            *dst.strings[i] = *src.strings[i];
        dst.defaultInts = src.defaultInts;
        dst.defaultDoubles = src.defaultDoubles;
        dst.defaultStrings = src.defaultStrings;
        dst.defaultPointers = src.defaultPointers;
    }
}

std::string PropertySet::dump() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::ostringstream out;
    out << "[" << label_ << "]\n";
    for (const auto& entry : props_) {
        const Property& p = entry.second;
        out << "  " << entry.first << " (" << toString(p.type) << " x" << p.size() << ") =";
        for (int i = 0; i < p.size(); ++i) {
            out << (i == 0 ? " " : ", ");
            size_t u = static_cast<size_t>(i);
            switch (p.type) {
            case PropType::Int:
                out << p.ints[u];
                break;
            case PropType::Double:
                out << p.doubles[u];
                break;
            case PropType::String:
                out << '"' << *p.strings[u] << '"';
                break;
            case PropType::Pointer:
                out << p.pointers[u];
                break;
            }
        }
        out << "\n";
    }
    return out.str();
}

// ---- PropertySet: suite side -------------------------------------------------

std::optional<OfxStatus> PropertySet::fault(const char* name, unsigned op) const {
    return faults_ ? faults_->propertyFault(name, op, this) : std::nullopt;
}

// `value` points at a single cell of the C type matching p.type; `offset` indexes an array.
void PropertySet::storeCell(Property& p, int index, const void* value, int offset) {
    size_t i = static_cast<size_t>(index);
    switch (p.type) {
    case PropType::Int:
        p.ints[i] = static_cast<const int*>(value)[offset];
        break;
    case PropType::Double:
        p.doubles[i] = static_cast<const double*>(value)[offset];
        break;
    case PropType::String: {
        const char* s = static_cast<const char* const*>(value)[offset];
        *p.strings[i] = s ? s : "";
        break;
    }
    case PropType::Pointer:
        p.pointers[i] = static_cast<void* const*>(value)[offset];
        break;
    }
}

void PropertySet::loadCell(Property& p, int index, void* out, int offset) {
    size_t i = static_cast<size_t>(index);
    switch (p.type) {
    case PropType::Int:
        static_cast<int*>(out)[offset] = p.ints[i];
        break;
    case PropType::Double:
        static_cast<double*>(out)[offset] = p.doubles[i];
        break;
    case PropType::String:
        static_cast<char**>(out)[offset] = const_cast<char*>(p.strings[i]->c_str());
        break;
    case PropType::Pointer:
        static_cast<void**>(out)[offset] = p.pointers[i];
        break;
    }
}

OfxStatus PropertySet::suiteSet(const char* name, PropType type, int index, const void* value) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropSet))
        return *st;
    auto it = props_.find(name);
    if (it == props_.end()) {
        if (strict_)
            return kOfxStatErrUnknown;
        if (index < 0)
            return kOfxStatErrBadIndex;
        createLocked(name, type, 0);
        it = props_.find(name);
    }
    Property& p = it->second;
    if (p.type != type)
        return kOfxStatErrValue;
    if (index < 0)
        return kOfxStatErrBadIndex;
    if (index >= p.size())
        p.resize(index + 1);
    storeCell(p, index, value, 0);
    return kOfxStatOK;
}

OfxStatus PropertySet::suiteSetN(const char* name, PropType type, int count, const void* values) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropSet))
        return *st;
    if (count > 0 && values == nullptr)
        return kOfxStatErrValue;
    auto it = props_.find(name);
    if (it == props_.end()) {
        if (strict_)
            return kOfxStatErrUnknown;
        if (count < 0)
            return kOfxStatErrBadIndex;
        createLocked(name, type, 0);
        it = props_.find(name);
    }
    Property& p = it->second;
    if (p.type != type)
        return kOfxStatErrValue;
    if (count < 0)
        return kOfxStatErrBadIndex;
    // The N form states the whole property, so its dimension becomes count.
    p.resize(count);
    for (int i = 0; i < count; ++i)
        storeCell(p, i, values, i);
    return kOfxStatOK;
}

OfxStatus PropertySet::suiteGet(const char* name, PropType type, int index, void* out) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropGet))
        return *st;
    auto it = props_.find(name);
    if (it == props_.end())
        return kOfxStatErrUnknown;
    Property& p = it->second;
    if (p.type != type)
        return kOfxStatErrValue;
    if (index < 0 || index >= p.size())
        return kOfxStatErrBadIndex;
    if (out == nullptr)
        return kOfxStatErrBadHandle;
    loadCell(p, index, out, 0);
    return kOfxStatOK;
}

OfxStatus PropertySet::suiteGetN(const char* name, PropType type, int count, void* out) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropGet))
        return *st;
    auto it = props_.find(name);
    if (it == props_.end())
        return kOfxStatErrUnknown;
    Property& p = it->second;
    if (p.type != type)
        return kOfxStatErrValue;
    if (count < 0 || count > p.size())
        return kOfxStatErrBadIndex;
    if (count > 0 && out == nullptr)
        return kOfxStatErrBadHandle;
    for (int i = 0; i < count; ++i)
        loadCell(p, i, out, i);
    return kOfxStatOK;
}

OfxStatus PropertySet::suiteReset(const char* name) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropSet))
        return *st;
    auto it = props_.find(name);
    if (it == props_.end())
        return kOfxStatErrUnknown;
    it->second.restoreDefaults();
    return kOfxStatOK;
}

OfxStatus PropertySet::suiteDimension(const char* name, int* count) {
    if (name == nullptr)
        return kOfxStatErrUnknown;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (auto st = fault(name, kPropDimension))
        return *st;
    if (count == nullptr)
        return kOfxStatErrBadHandle;
    auto it = props_.find(name);
    if (it == props_.end()) {
        if (!lenientDimension_)
            return kOfxStatErrUnknown;
        *count = 0;
        return kOfxStatOK;
    }
    *count = it->second.size();
    return kOfxStatOK;
}

// ---- The suite -----------------------------------------------------------------

namespace {

// Resolves the handle and applies a fault injected on the suite member itself.
#define OFXHOST_PROP_ENTRY(member)                                                                 \
    PropertySet* set = PropertySet::fromHandle(properties);                                        \
    if (set == nullptr)                                                                            \
        return kOfxStatErrBadHandle;                                                               \
    if (const FaultPlan* plan = set->faults())                                                     \
        if (auto injected = plan->functionFault(member))                                           \
            return *injected;

OfxStatus propSetPointer(OfxPropertySetHandle properties, const char* property, int index,
                         void* value) {
    OFXHOST_PROP_ENTRY("propSetPointer");
    return set->suiteSet(property, PropType::Pointer, index, &value);
}

OfxStatus propSetString(OfxPropertySetHandle properties, const char* property, int index,
                        const char* value) {
    OFXHOST_PROP_ENTRY("propSetString");
    return set->suiteSet(property, PropType::String, index, &value);
}

OfxStatus propSetDouble(OfxPropertySetHandle properties, const char* property, int index,
                        double value) {
    OFXHOST_PROP_ENTRY("propSetDouble");
    return set->suiteSet(property, PropType::Double, index, &value);
}

OfxStatus propSetInt(OfxPropertySetHandle properties, const char* property, int index, int value) {
    OFXHOST_PROP_ENTRY("propSetInt");
    return set->suiteSet(property, PropType::Int, index, &value);
}

OfxStatus propSetPointerN(OfxPropertySetHandle properties, const char* property, int count,
                          void* const* value) {
    OFXHOST_PROP_ENTRY("propSetPointerN");
    return set->suiteSetN(property, PropType::Pointer, count, value);
}

OfxStatus propSetStringN(OfxPropertySetHandle properties, const char* property, int count,
                         const char* const* value) {
    OFXHOST_PROP_ENTRY("propSetStringN");
    return set->suiteSetN(property, PropType::String, count, value);
}

OfxStatus propSetDoubleN(OfxPropertySetHandle properties, const char* property, int count,
                         const double* value) {
    OFXHOST_PROP_ENTRY("propSetDoubleN");
    return set->suiteSetN(property, PropType::Double, count, value);
}

OfxStatus propSetIntN(OfxPropertySetHandle properties, const char* property, int count,
                      const int* value) {
    OFXHOST_PROP_ENTRY("propSetIntN");
    return set->suiteSetN(property, PropType::Int, count, value);
}

OfxStatus propGetPointer(OfxPropertySetHandle properties, const char* property, int index,
                         void** value) {
    OFXHOST_PROP_ENTRY("propGetPointer");
    return set->suiteGet(property, PropType::Pointer, index, value);
}

OfxStatus propGetString(OfxPropertySetHandle properties, const char* property, int index,
                        char** value) {
    OFXHOST_PROP_ENTRY("propGetString");
    return set->suiteGet(property, PropType::String, index, value);
}

OfxStatus propGetDouble(OfxPropertySetHandle properties, const char* property, int index,
                        double* value) {
    OFXHOST_PROP_ENTRY("propGetDouble");
    return set->suiteGet(property, PropType::Double, index, value);
}

OfxStatus propGetInt(OfxPropertySetHandle properties, const char* property, int index, int* value) {
    OFXHOST_PROP_ENTRY("propGetInt");
    return set->suiteGet(property, PropType::Int, index, value);
}

OfxStatus propGetPointerN(OfxPropertySetHandle properties, const char* property, int count,
                          void** value) {
    OFXHOST_PROP_ENTRY("propGetPointerN");
    return set->suiteGetN(property, PropType::Pointer, count, value);
}

OfxStatus propGetStringN(OfxPropertySetHandle properties, const char* property, int count,
                         char** value) {
    OFXHOST_PROP_ENTRY("propGetStringN");
    return set->suiteGetN(property, PropType::String, count, value);
}

OfxStatus propGetDoubleN(OfxPropertySetHandle properties, const char* property, int count,
                         double* value) {
    OFXHOST_PROP_ENTRY("propGetDoubleN");
    return set->suiteGetN(property, PropType::Double, count, value);
}

OfxStatus propGetIntN(OfxPropertySetHandle properties, const char* property, int count,
                      int* value) {
    OFXHOST_PROP_ENTRY("propGetIntN");
    return set->suiteGetN(property, PropType::Int, count, value);
}

OfxStatus propReset(OfxPropertySetHandle properties, const char* property) {
    OFXHOST_PROP_ENTRY("propReset");
    return set->suiteReset(property);
}

OfxStatus propGetDimension(OfxPropertySetHandle properties, const char* property, int* count) {
    OFXHOST_PROP_ENTRY("propGetDimension");
    return set->suiteDimension(property, count);
}

#undef OFXHOST_PROP_ENTRY

const OfxPropertySuiteV1 kPropertySuite = {
    propSetPointer, propSetString,  propSetDouble,    propSetInt,     propSetPointerN,
    propSetStringN, propSetDoubleN, propSetIntN,      propGetPointer, propGetString,
    propGetDouble,  propGetInt,     propGetPointerN,  propGetStringN, propGetDoubleN,
    propGetIntN,    propReset,      propGetDimension,
};

} // namespace

const OfxPropertySuiteV1* propertySuite() { return &kPropertySuite; }

} // namespace ofxhost
