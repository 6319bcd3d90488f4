#include "parameters.h"

namespace OFX {

const char* paramTypeName(ParamType type) {
    switch (type) {
    case ParamType::String:
        return kOfxParamTypeString;
    case ParamType::Integer2D:
        return kOfxParamTypeInteger2D;
    case ParamType::Integer3D:
        return kOfxParamTypeInteger3D;
    case ParamType::Double:
        return kOfxParamTypeDouble;
    case ParamType::Double2D:
        return kOfxParamTypeDouble2D;
    case ParamType::Double3D:
        return kOfxParamTypeDouble3D;
    case ParamType::RGB:
        return kOfxParamTypeRGB;
    case ParamType::RGBA:
        return kOfxParamTypeRGBA;
    case ParamType::Boolean:
        return kOfxParamTypeBoolean;
    case ParamType::Choice:
        return kOfxParamTypeChoice;
    case ParamType::Custom:
        return kOfxParamTypeCustom;
    case ParamType::Group:
        return kOfxParamTypeGroup;
    case ParamType::Page:
        return kOfxParamTypePage;
    case ParamType::PushButton:
        return kOfxParamTypePushButton;
    case ParamType::Integer:
    default:
        return kOfxParamTypeInteger;
    }
}

// ---- Descriptors --------------------------------------------------------------------------------

ParamDescriptor::ParamDescriptor(std::string name, ParamType type, OfxPropertySetHandle props)
    : name_(std::move(name)), type_(type), properties_(props) {}

ParamDescriptor::~ParamDescriptor() = default;

ParamDescriptor& ParamDescriptor::skipRow() {
    static DummyParamDescriptor marker(kOfxParamPageSkipRow);
    return marker;
}

ParamDescriptor& ParamDescriptor::skipColumn() {
    static DummyParamDescriptor marker(kOfxParamPageSkipColumn);
    return marker;
}

void ParamDescriptor::setLabels(const std::string& label, const std::string& shortLabel,
                                const std::string& longLabel) {
    properties_.setString(kOfxPropLabel, label, 0, true);
    properties_.setString(kOfxPropShortLabel, shortLabel, 0, false);
    properties_.setString(kOfxPropLongLabel, longLabel, 0, false);
}

void ParamDescriptor::setHint(const std::string& hint) {
    properties_.setString(kOfxParamPropHint, hint, 0, false);
}

void ValueParamDescriptor::setAnimates(bool animates) {
    getProps().setInt(kOfxParamPropAnimates, animates ? 1 : 0, 0, true);
}

void BooleanParamDescriptor::setDefault(bool value) {
    getProps().setInt(kOfxParamPropDefault, value ? 1 : 0, 0, true);
}

void DoubleParamDescriptor::setDefault(double value) {
    getProps().setDouble(kOfxParamPropDefault, value, 0, true);
}

void BaseDoubleParamDescriptor::setRange(double min, double max) {
    getProps().setDouble(kOfxParamPropMin, min, 0, true);
    getProps().setDouble(kOfxParamPropMax, max, 0, true);
}

void BaseDoubleParamDescriptor::setDisplayRange(double min, double max) {
    getProps().setDouble(kOfxParamPropDisplayMin, min, 0, true);
    getProps().setDouble(kOfxParamPropDisplayMax, max, 0, true);
}

void RGBAParamDescriptor::setDefault(double r, double g, double b, double a) {
    getProps().setDouble(kOfxParamPropDefault, r, 0, true);
    getProps().setDouble(kOfxParamPropDefault, g, 1, true);
    getProps().setDouble(kOfxParamPropDefault, b, 2, true);
    getProps().setDouble(kOfxParamPropDefault, a, 3, true);
}

void ChoiceParamDescriptor::appendOption(const std::string& option) {
    const int n = getProps().getDimension(kOfxParamPropChoiceOption, true);
    getProps().setString(kOfxParamPropChoiceOption, option, n, true);
}

void ChoiceParamDescriptor::setDefault(int index) {
    getProps().setInt(kOfxParamPropDefault, index, 0, true);
}

void PageParamDescriptor::addChild(const ParamDescriptor& child) {
    const int n = getProps().getDimension(kOfxParamPropPageChild, true);
    getProps().setString(kOfxParamPropPageChild, child.getName(), n, true);
}

ParamSetDescriptor::~ParamSetDescriptor() = default;

namespace {

/// The parameter set's own property set, or none for a null set; throws on a failing status
/// after storing what the host gave.
void fetchParamSetProperties(OfxParamSetHandle handle, PropertySet& properties) {
    if (!handle) {
        properties.propSetHandle(nullptr);
        return;
    }
    OfxPropertySetHandle props = nullptr;
    const OfxStatus status = Private::parameterSuite().paramSetGetPropertySet(handle, &props);
    properties.propSetHandle(props);
    raiseSuiteStatus(status);
}

} // namespace

void ParamSetDescriptor::setParamSetHandle(OfxParamSetHandle handle) {
    paramSetHandle_ = handle;
    fetchParamSetProperties(handle, paramSetProperties_);
}

ParamDescriptor* ParamSetDescriptor::findParamDescriptor(const std::string& name) const {
    auto found = descriptors_.find(name);
    return found == descriptors_.end() ? nullptr : found->second.get();
}

template <class D> D* ParamSetDescriptor::defineParam(const std::string& name, ParamType type) {
    if (ParamDescriptor* existing = findParamDescriptor(name))
        return existing->getType() == type ? static_cast<D*>(existing) : nullptr;
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(Private::parameterSuite().paramDefine(paramSetHandle_, paramTypeName(type),
                                                           name.c_str(), &props));
    std::unique_ptr<D> descriptor(new D(name, type, props));
    D* result = descriptor.get();
    descriptors_[name] = std::move(descriptor);
    return result;
}

BooleanParamDescriptor* ParamSetDescriptor::defineBooleanParam(const std::string& name) {
    return defineParam<BooleanParamDescriptor>(name, ParamType::Boolean);
}
DoubleParamDescriptor* ParamSetDescriptor::defineDoubleParam(const std::string& name) {
    return defineParam<DoubleParamDescriptor>(name, ParamType::Double);
}
RGBAParamDescriptor* ParamSetDescriptor::defineRGBAParam(const std::string& name) {
    return defineParam<RGBAParamDescriptor>(name, ParamType::RGBA);
}
ChoiceParamDescriptor* ParamSetDescriptor::defineChoiceParam(const std::string& name) {
    return defineParam<ChoiceParamDescriptor>(name, ParamType::Choice);
}
PageParamDescriptor* ParamSetDescriptor::definePageParam(const std::string& name) {
    return defineParam<PageParamDescriptor>(name, ParamType::Page);
}

// ---- Instances ----------------------------------------------------------------------------------

Param::Param(const ParamSet* owner, std::string name, ParamType type, OfxParamHandle handle)
    : name_(std::move(name)), type_(type), handle_(handle), paramSet_(owner) {
    OfxPropertySetHandle props = nullptr;
    const OfxStatus status = Private::parameterSuite().paramGetPropertySet(handle, &props);
    raiseSuiteStatus(status);
    properties_.propSetHandle(props);
}

Param::~Param() = default;

void DoubleParam::getValueAtTime(double time, double& value) const {
    raiseSuiteStatus(Private::parameterSuite().paramGetValueAtTime(getHandle(), time, &value));
}

void RGBAParam::getValueAtTime(double time, double& r, double& g, double& b, double& a) const {
    raiseSuiteStatus(
        Private::parameterSuite().paramGetValueAtTime(getHandle(), time, &r, &g, &b, &a));
}

void BooleanParam::getValueAtTime(double time, bool& value) const {
    int v = 0; // the host writes an int, never a bool
    raiseSuiteStatus(Private::parameterSuite().paramGetValueAtTime(getHandle(), time, &v));
    value = v != 0;
}

void ChoiceParam::getValueAtTime(double time, int& value) const {
    raiseSuiteStatus(Private::parameterSuite().paramGetValueAtTime(getHandle(), time, &value));
}

ParamSet::~ParamSet() = default;

void ParamSet::setParamSetHandle(OfxParamSetHandle handle) {
    paramSetHandle_ = handle;
    fetchParamSetProperties(handle, paramSetProperties_);
}

template <class P> P* ParamSet::fetchParam(const std::string& name, ParamType type) {
    auto found = params_.find(name);
    if (found != params_.end()) {
        if (found->second->getType() != type)
            throw Exception::TypeRequest("Fetching param and attempting to return the wrong type");
        return static_cast<P*>(found->second.get());
    }
    OfxParamHandle handle = nullptr;
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(
        Private::parameterSuite().paramGetHandle(paramSetHandle_, name.c_str(), &handle, &props));
    const std::string hostType = PropertySet(props).getString(kOfxParamPropType, 0, true);
    if (hostType != paramTypeName(type))
        throw Exception::TypeRequest("Parameter exists but is of the wrong type");
    std::unique_ptr<P> param(new P(this, name, type, handle));
    P* result = param.get();
    params_[name] = std::move(param);
    return result;
}

BooleanParam* ParamSet::fetchBooleanParam(const std::string& name) {
    return fetchParam<BooleanParam>(name, ParamType::Boolean);
}
DoubleParam* ParamSet::fetchDoubleParam(const std::string& name) {
    return fetchParam<DoubleParam>(name, ParamType::Double);
}
RGBAParam* ParamSet::fetchRGBAParam(const std::string& name) {
    return fetchParam<RGBAParam>(name, ParamType::RGBA);
}
ChoiceParam* ParamSet::fetchChoiceParam(const std::string& name) {
    return fetchParam<ChoiceParam>(name, ParamType::Choice);
}

} // namespace OFX
