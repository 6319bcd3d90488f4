// Host-side objects behind the effect, clip, parameter-set and parameter handles.
#pragma once

#include "images.h"
#include "ofx_api.h"
#include "property_store.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ofxhost {

class Effect;
class Host;
class ParamSet;

/// Which stage of an effect's life an Effect object stands for.
enum class EffectKind {
    Descriptor,        ///< The global descriptor passed to Describe.
    ContextDescriptor, ///< A per-context descriptor passed to DescribeInContext.
    Instance,          ///< A live instance.
};

/// One clipGetImage call as the host saw it.
struct ImageRequest {
    double time;
    bool hasRegion;
    OfxRectD region; ///< Meaningful only when hasRegion.
};

/// A clip descriptor or clip instance; its address is the OfxImageClipHandle.
class Clip {
public:
    /// Instance clips start as a copy of `descriptor`'s properties.
    Clip(Host& host, Effect& effect, std::string name, const Clip* descriptor);
    ~Clip();
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    /// The handle plug-ins see.
    OfxImageClipHandle handle() { return reinterpret_cast<OfxImageClipHandle>(this); }
    /// The clip behind a handle, or null when it is not a live clip.
    static Clip* fromHandle(OfxImageClipHandle handle);

    /// Clip name ("Source", "Output", ...).
    const std::string& name() const { return name_; }
    /// The effect this clip belongs to.
    Effect& effect() { return effect_; }
    /// The host that owns the clip.
    Host& host() { return host_; }
    /// True for a clip instance, false for a clip descriptor.
    bool isInstance() const { return instance_; }
    /// The clip's property set (descriptor or instance properties).
    PropertySet& props() { return props_; }

    /// Sets OfxImageEffectPropComponents/PixelDepth (and their unmapped twins).
    void setFormat(Components components, Depth depth);
    /// Sets OfxImageEffectPropPreMultiplication.
    void setPremultiplication(const std::string& premultiplication);
    /// Sets OfxImageClipPropConnected; an unconnected clip hands out no images.
    void setConnected(bool connected);
    /// One image for every time (replaces the per-time images).
    void setImage(std::shared_ptr<Image> image);
    /// The image for one time; takes precedence over setImage() at that time.
    void setImageAt(double time, std::shared_ptr<Image> image);
    /// Drops every attached image.
    void clearImages();
    /// Image handed out at `time`, or null.
    std::shared_ptr<Image> imageAt(double time) const;
    /// RoD answered by clipGetRegionOfDefinition (canonical coordinates).
    void setRegionOfDefinition(const OfxRectD& rod);
    /// The test's RoD, else the bounds of the image at `time` in canonical coordinates, else 0.
    OfxRectD regionOfDefinition(double time, OfxPointD renderScale) const;
    /// Properties copied over every image property set this clip hands out.
    PropertySet& imageOverrides() { return overrides_; }
    /// Every clipGetImage call so far, in order.
    std::vector<ImageRequest> imageRequests() const;
    /// Records a clipGetImage call.
    void noteRequest(const ImageRequest& request);

private:
    static constexpr std::uint32_t kMagic = 0x434c4950; // "CLIP"
    std::uint32_t magic_ = kMagic;
    Host& host_;
    Effect& effect_;
    std::string name_;
    bool instance_;
    PropertySet props_;
    PropertySet overrides_;
    mutable std::mutex mutex_;
    std::shared_ptr<Image> image_;
    std::map<double, std::shared_ptr<Image>> images_;
    std::optional<OfxRectD> rod_;
    std::vector<ImageRequest> requests_;
};

/// How a parameter type stores its value.
enum class ValueKind { None, Double, Int, String };

/// What the host knows about a parameter type string.
struct ParamTypeInfo {
    bool known = false;     ///< A type the ABI defines.
    bool supported = false; ///< A type this host implements.
    ValueKind kind = ValueKind::None;
    int dimension = 0;    ///< Number of values (1 for strings, 0 for valueless types).
    bool stepped = false; ///< Keys hold until the next key instead of interpolating.
};

/// Type information for an OfxParamType* string.
ParamTypeInfo paramTypeInfo(const std::string& type);

/// A parameter descriptor or instance; its address is the OfxParamHandle.
///
/// Numeric values of every numeric type are held as doubles (ints are exact). Value at time t:
/// with no keys the static value; otherwise linear between keys (stepped for Boolean, Choice
/// and strings, rounded for ints) and constant outside the keyed range.
class Param {
public:
    /// Instance params copy `descriptor`'s properties and take its OfxParamPropDefault.
    Param(Host& host, ParamSet& set, std::string type, std::string name, const Param* descriptor);
    ~Param();
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;

    /// The handle plug-ins see.
    OfxParamHandle handle() { return reinterpret_cast<OfxParamHandle>(this); }
    /// The param behind a handle, or null when it is not a live param.
    static Param* fromHandle(OfxParamHandle handle);

    /// Param name.
    const std::string& name() const { return name_; }
    /// OfxParamType* string.
    const std::string& type() const { return type_; }
    /// Storage and interpolation facts of the type.
    const ParamTypeInfo& info() const { return info_; }
    /// True for an instance.
    bool isInstance() const { return instance_; }
    /// The param set it belongs to.
    ParamSet& paramSet() { return set_; }
    /// The host that owns it.
    Host& host() { return host_; }
    /// The param's property set.
    PropertySet& props() { return props_; }

    /// Sets the static value (numeric types; one number per dimension).
    void setValue(const std::vector<double>& values);
    /// Sets the static value of a string-valued param.
    void setString(const std::string& value);
    /// Adds or replaces a key (numeric types).
    void setKey(double time, const std::vector<double>& values);
    /// Adds or replaces a key (string-valued types).
    void setStringKey(double time, const std::string& value);
    /// Removes the key at exactly `time`; false when there is none.
    bool deleteKey(double time);
    /// Removes every key.
    void clearKeys();
    /// Key times in increasing order.
    std::vector<double> keyTimes() const;
    /// Numeric value at `time`.
    std::vector<double> valueAt(double time) const;
    /// String value at `time`.
    std::string stringAt(double time) const;
    /// Pointer into host storage for the string value at `time`, valid until the value changes.
    const char* stringStorageAt(double time) const;
    /// d(value)/dt at `time` (0 for stepped, string and unkeyed params).
    std::vector<double> derivativeAt(double time) const;
    /// Integral of the value over [t1, t2].
    std::vector<double> integral(double t1, double t2) const;
    /// Copies value and keys from `from` (same type), keys shifted by `offset`, limited to
    /// `range` when given.
    void copyFrom(const Param& from, double offset, const OfxRangeD* range);

private:
    struct Value {
        std::vector<double> numbers;
        std::string text;
    };
    Value valueAtLocked(double time) const;
    Value normalised(Value v) const;

    static constexpr std::uint32_t kMagic = 0x5041524d; // "PARM"
    std::uint32_t magic_ = kMagic;
    Host& host_;
    ParamSet& set_;
    std::string type_;
    std::string name_;
    ParamTypeInfo info_;
    bool instance_;
    PropertySet props_;
    mutable std::mutex mutex_;
    Value static_;
    std::map<double, Value> keys_;
};

/// A descriptor's or instance's parameter set; its address is the OfxParamSetHandle. Its
/// property set is the effect's own property set.
class ParamSet {
public:
    ParamSet(Host& host, Effect& effect);
    ~ParamSet();
    ParamSet(const ParamSet&) = delete;
    ParamSet& operator=(const ParamSet&) = delete;

    /// The handle plug-ins see.
    OfxParamSetHandle handle() { return reinterpret_cast<OfxParamSetHandle>(this); }
    /// The param set behind a handle, or null when it is not a live param set.
    static ParamSet* fromHandle(OfxParamSetHandle handle);

    /// The effect it belongs to.
    Effect& effect() { return effect_; }
    /// The host that owns it.
    Host& host() { return host_; }
    /// Param by name, or null.
    Param* find(const std::string& name);
    /// Param names in definition order.
    std::vector<std::string> names() const;
    /// Creates a param, with paramDefine's status codes.
    OfxStatus define(const char* type, const char* name, Param** out);
    /// Creates an instance param from a descriptor param.
    Param& instantiate(const Param& descriptor);
    /// Nesting depth of paramEditBegin/paramEditEnd.
    int editDepth() const;
    /// paramEditBegin; returns the new depth.
    int beginEdit();
    /// paramEditEnd; returns false when no edit was open.
    bool endEdit();

private:
    static constexpr std::uint32_t kMagic = 0x50534554; // "PSET"
    std::uint32_t magic_ = kMagic;
    Host& host_;
    Effect& effect_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Param>> params_;
    int editDepth_ = 0;
};

/// An effect descriptor or instance; its address is the OfxImageEffectHandle.
class Effect {
public:
    /// Instances copy `source` (a context descriptor): properties, clips and params.
    Effect(Host& host, EffectKind kind, std::string context, const Effect* source);
    ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    /// The handle plug-ins see.
    OfxImageEffectHandle handle() { return reinterpret_cast<OfxImageEffectHandle>(this); }
    /// The effect behind a handle, or null when it is not a live effect.
    static Effect* fromHandle(const void* handle);

    /// The owning host.
    Host& host() { return host_; }
    /// Descriptor, context descriptor or instance.
    EffectKind kind() const { return kind_; }
    /// Context name ("" for the global descriptor).
    const std::string& context() const { return context_; }
    /// The effect's property set (also its param set's property set).
    PropertySet& props() { return props_; }
    /// The effect's param set.
    ParamSet& paramSet() { return params_; }

    /// Clip by name, or null.
    Clip* findClip(const std::string& name);
    /// Clip by name; throws std::out_of_range when missing.
    Clip& clip(const std::string& name);
    /// Clip names in definition order.
    std::vector<std::string> clipNames() const;
    /// Creates a clip descriptor, with clipDefine's status codes.
    OfxStatus defineClip(const char* name, Clip** out);
    /// Param by name, or null.
    Param* findParam(const std::string& name) { return params_.find(name); }
    /// Param by name; throws std::out_of_range when missing.
    Param& param(const std::string& name);
    /// Param names in definition order.
    std::vector<std::string> paramNames() const { return params_.names(); }
    /// The plug-in's OfxPropInstanceData pointer.
    void* instanceData() const;

private:
    static constexpr std::uint32_t kMagic = 0x45464658; // "EFFX"
    std::uint32_t magic_ = kMagic;
    Host& host_;
    EffectKind kind_;
    std::string context_;
    PropertySet props_;
    ParamSet params_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Clip>> clips_;
};

} // namespace ofxhost
