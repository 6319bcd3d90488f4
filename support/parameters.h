// Parameters: descriptors defined at describe time, instances read at render time.
#pragma once

#include "properties.h"

#include <map>
#include <memory>
#include <string>

namespace OFX {

enum class ParamType : int {
    Dummy = 0,
    String = 1,
    Integer = 2,
    Integer2D = 3,
    Integer3D = 4,
    Double = 5,
    Double2D = 6,
    Double3D = 7,
    RGB = 8,
    RGBA = 9,
    Boolean = 10,
    Choice = 11,
    Custom = 12,
    Group = 13,
    Page = 14,
    PushButton = 15,
};

/// The OFX type string; "OfxParamTypeInteger" for Integer and for any value without one.
const char* paramTypeName(ParamType type);

// ---- Descriptors --------------------------------------------------------------------------------

class ParamSetDescriptor;

class ParamDescriptor {
public:
    virtual ~ParamDescriptor();
    const std::string& getName() const { return name_; }
    ParamType getType() const { return type_; }
    const PropertySet& getProps() const { return properties_; }
    PropertySet& getProps() { return properties_; }

    /// Label, then short and long label (those two only logged when the host refuses them).
    void setLabels(const std::string& label, const std::string& shortLabel,
                   const std::string& longLabel);
    /// The tooltip hosts show; only logged when the host refuses it.
    void setHint(const std::string& hint);

protected:
    friend class ParamSetDescriptor;
    ParamDescriptor(std::string name, ParamType type, OfxPropertySetHandle props);

private:
    std::string name_;
    ParamType type_;
    PropertySet properties_;

public:
    /// The two layout markers a page may hold; they belong to no parameter set.
    static ParamDescriptor& skipRow();
    static ParamDescriptor& skipColumn();
};

class ValueParamDescriptor : public ParamDescriptor {
public:
    void setAnimates(bool animates);

protected:
    using ParamDescriptor::ParamDescriptor;
};

class BaseDoubleParamDescriptor : public ValueParamDescriptor {
public:
    void setRange(double min, double max);
    void setDisplayRange(double min, double max);

protected:
    using ValueParamDescriptor::ValueParamDescriptor;
};

class DoubleParamDescriptor : public BaseDoubleParamDescriptor {
public:
    void setDefault(double value);

protected:
    friend class ParamSetDescriptor;
    using BaseDoubleParamDescriptor::BaseDoubleParamDescriptor;
};

class RGBAParamDescriptor : public ValueParamDescriptor {
public:
    void setDefault(double r, double g, double b, double a);

protected:
    friend class ParamSetDescriptor;
    using ValueParamDescriptor::ValueParamDescriptor;
};

class BooleanParamDescriptor : public ValueParamDescriptor {
public:
    void setDefault(bool value);

protected:
    friend class ParamSetDescriptor;
    using ValueParamDescriptor::ValueParamDescriptor;
};

class ChoiceParamDescriptor : public ValueParamDescriptor {
public:
    /// Appends an option; the value of a choice is the index of its option.
    void appendOption(const std::string& option);
    void setDefault(int index);

protected:
    friend class ParamSetDescriptor;
    using ValueParamDescriptor::ValueParamDescriptor;
};

class PageParamDescriptor : public ParamDescriptor {
public:
    /// Appends the child's name (or a skip marker) to the page's child list.
    void addChild(const ParamDescriptor& child);

protected:
    friend class ParamSetDescriptor;
    using ParamDescriptor::ParamDescriptor;
};

class DummyParamDescriptor : public ParamDescriptor {
public:
    explicit DummyParamDescriptor(std::string name)
        : ParamDescriptor(std::move(name), ParamType::Dummy, nullptr) {}
};

/// Defines parameters through the host and keeps their descriptors by name.
class ParamSetDescriptor {
public:
    ParamSetDescriptor() = default;
    virtual ~ParamSetDescriptor();
    ParamSetDescriptor(const ParamSetDescriptor&) = delete;
    ParamSetDescriptor& operator=(const ParamSetDescriptor&) = delete;

    /// Stores the handle and fetches the set's own property set (none for null).
    void setParamSetHandle(OfxParamSetHandle handle);
    OfxParamSetHandle getParamSetHandle() const { return paramSetHandle_; }
    const PropertySet& getParamSetProps() const { return paramSetProperties_; }

    ParamDescriptor* findParamDescriptor(const std::string& name) const;
    /// Null when the name is already defined with another type.
    BooleanParamDescriptor* defineBooleanParam(const std::string& name);
    DoubleParamDescriptor* defineDoubleParam(const std::string& name);
    RGBAParamDescriptor* defineRGBAParam(const std::string& name);
    ChoiceParamDescriptor* defineChoiceParam(const std::string& name);
    PageParamDescriptor* definePageParam(const std::string& name);

private:
    template <class D> D* defineParam(const std::string& name, ParamType type);

    PropertySet paramSetProperties_;
    OfxParamSetHandle paramSetHandle_ = nullptr;
    std::map<std::string, std::unique_ptr<ParamDescriptor>> descriptors_;
};

// ---- Instances ----------------------------------------------------------------------------------

class ParamSet;

class Param {
public:
    virtual ~Param();
    const std::string& getName() const { return name_; }
    ParamType getType() const { return type_; }
    const PropertySet& getProps() const { return properties_; }
    OfxParamHandle getHandle() const { return handle_; }
    const ParamSet& getParamSet() const { return *paramSet_; }

protected:
    friend class ParamSet;
    /// Fetches the parameter's property set; throws on a failing status.
    Param(const ParamSet* owner, std::string name, ParamType type, OfxParamHandle handle);

private:
    std::string name_;
    ParamType type_;
    PropertySet properties_;
    OfxParamHandle handle_;
    const ParamSet* paramSet_;
};

class ValueParam : public Param {
protected:
    using Param::Param;
};

class BaseDoubleParam : public ValueParam {
protected:
    using ValueParam::ValueParam;
};

class DoubleParam : public BaseDoubleParam {
public:
    void getValueAtTime(double time, double& value) const;

protected:
    friend class ParamSet;
    using BaseDoubleParam::BaseDoubleParam;
};

class RGBAParam : public ValueParam {
public:
    void getValueAtTime(double time, double& r, double& g, double& b, double& a) const;

protected:
    friend class ParamSet;
    using ValueParam::ValueParam;
};

class BooleanParam : public ValueParam {
public:
    void getValueAtTime(double time, bool& value) const;

protected:
    friend class ParamSet;
    using ValueParam::ValueParam;
};

class ChoiceParam : public ValueParam {
public:
    /// The index of the chosen option.
    void getValueAtTime(double time, int& value) const;

protected:
    friend class ParamSet;
    using ValueParam::ValueParam;
};

/// The instance's parameters, each fetched from the host once and kept by name.
/// Fetch everything before rendering starts: the map is not locked.
class ParamSet {
public:
    ParamSet() = default;
    virtual ~ParamSet();
    ParamSet(const ParamSet&) = delete;
    ParamSet& operator=(const ParamSet&) = delete;

    void setParamSetHandle(OfxParamSetHandle handle);
    OfxParamSetHandle getParamSetHandle() const { return paramSetHandle_; }

    BooleanParam* fetchBooleanParam(const std::string& name);
    DoubleParam* fetchDoubleParam(const std::string& name);
    RGBAParam* fetchRGBAParam(const std::string& name);
    ChoiceParam* fetchChoiceParam(const std::string& name);

private:
    template <class P> P* fetchParam(const std::string& name, ParamType type);

    PropertySet paramSetProperties_;
    OfxParamSetHandle paramSetHandle_ = nullptr;
    std::map<std::string, std::unique_ptr<Param>> params_;
};

} // namespace OFX
