#include "effect.h"

#include "host.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace ofxhost {

namespace {

// Not in ofx_api.h: the module defines no such params, but a plug-in may still ask for them.
const char* const kParamTypeStrChoice = "OfxParamTypeStrChoice";
const char* const kParamTypeBytes = "OfxParamTypeBytes";

// Pre-creates the properties a host gives every descriptor, with their types, so a plug-in
// that sets one with the wrong type gets kOfxStatErrValue as it would from a real host.
void seedEffectDescriptor(PropertySet& p) {
    p.setString(kOfxPropType, kOfxTypeImageEffect);
    p.setString(kOfxPropLabel, "");
    p.setString(kOfxPropShortLabel, "");
    p.setString(kOfxPropLongLabel, "");
    p.setString(kOfxPropPluginDescription, "");
    p.setString(kOfxImageEffectPluginPropGrouping, "");
    p.setString(kOfxPluginPropFilePath, "");
    p.define(kOfxImageEffectPropSupportedContexts, PropType::String, 0);
    p.define(kOfxImageEffectPropSupportedPixelDepths, PropType::String, 0);
    p.setInt(kOfxImageEffectPluginPropSingleInstance, 0);
    p.setString("OfxImageEffectPluginRenderThreadSafety", "OfxImageEffectRenderInstanceSafe");
    p.setInt(kOfxImageEffectPluginPropHostFrameThreading, 1);
    p.setInt(kOfxImageEffectPropSupportsMultiResolution, 1);
    p.setInt(kOfxImageEffectPropSupportsTiles, 1);
    p.setInt(kOfxImageEffectPropTemporalClipAccess, 0);
    p.setInt(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    p.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
    p.setInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, 1);
    p.setPointer(kOfxImageEffectPluginPropOverlayInteractV1, nullptr);
}

void seedClipDescriptor(PropertySet& p, const std::string& name) {
    p.setString(kOfxPropType, kOfxTypeClip);
    p.setString(kOfxPropName, name);
    p.setString(kOfxPropLabel, name);
    p.setString(kOfxPropShortLabel, name);
    p.setString(kOfxPropLongLabel, name);
    p.define(kOfxImageEffectPropSupportedComponents, PropType::String, 0);
    p.setInt(kOfxImageEffectPropTemporalClipAccess, 0);
    p.setInt(kOfxImageClipPropOptional, 0);
    p.setInt(kOfxImageClipPropIsMask, 0);
    p.setString("OfxImageClipPropFieldExtraction", "OfxFieldDoubled");
    p.setInt(kOfxImageEffectPropSupportsTiles, 1);
}

void seedParamDescriptor(PropertySet& p, const std::string& type, const std::string& name,
                         const ParamTypeInfo& info) {
    p.setString(kOfxPropType, "OfxTypeParameter");
    p.setString(kOfxParamPropType, type);
    p.setString(kOfxPropName, name);
    p.setString(kOfxPropLabel, name);
    p.setString(kOfxPropShortLabel, name);
    p.setString(kOfxPropLongLabel, name);
    p.setString("OfxParamPropScriptName", name);
    p.setString("OfxParamPropHint", "");
    p.setString("OfxParamPropParent", "");
    p.setInt("OfxParamPropSecret", 0);
    p.setInt("OfxParamPropEnabled", 1);
    p.setInt("OfxParamPropEvaluateOnChange", 1);
    p.setInt("OfxParamPropPersistant", 1);
    p.setInt("OfxParamPropCanUndo", 1);
    p.setPointer("OfxParamPropDataPtr", nullptr);
    if (info.kind != ValueKind::None)
        p.setInt(kOfxParamPropAnimates, 1);
    int dim = info.dimension;
    switch (info.kind) {
    case ValueKind::Double:
        p.define(kOfxParamPropDefault, PropType::Double, dim);
        p.setDoubles(kOfxParamPropMin, std::vector<double>(dim, -DBL_MAX));
        p.setDoubles(kOfxParamPropMax, std::vector<double>(dim, DBL_MAX));
        p.setDoubles(kOfxParamPropDisplayMin, std::vector<double>(dim, -DBL_MAX));
        p.setDoubles(kOfxParamPropDisplayMax, std::vector<double>(dim, DBL_MAX));
        p.setDouble("OfxParamPropIncrement", 1.0);
        p.setInt("OfxParamPropDigits", 2);
        p.setString("OfxParamPropDoubleType", "OfxParamDoubleTypePlain");
        break;
    case ValueKind::Int:
        p.define(kOfxParamPropDefault, PropType::Int, dim);
        if (type == kOfxParamTypeChoice) {
            p.define("OfxParamPropChoiceOption", PropType::String, 0);
        } else if (type != kOfxParamTypeBoolean) {
            p.setInts(kOfxParamPropMin, std::vector<int>(dim, INT_MIN));
            p.setInts(kOfxParamPropMax, std::vector<int>(dim, INT_MAX));
            p.setInts(kOfxParamPropDisplayMin, std::vector<int>(dim, INT_MIN));
            p.setInts(kOfxParamPropDisplayMax, std::vector<int>(dim, INT_MAX));
        }
        break;
    case ValueKind::String:
        p.define(kOfxParamPropDefault, PropType::String, 1);
        if (type == kOfxParamTypeString)
            p.setString("OfxParamPropStringMode", "OfxParamStringIsSingleLine");
        if (type == kParamTypeStrChoice) {
            p.define("OfxParamPropChoiceOption", PropType::String, 0);
            p.define("OfxParamPropChoiceEnum", PropType::String, 0);
        }
        break;
    case ValueKind::None:
        if (type == kOfxParamTypePage)
            p.define(kOfxParamPropPageChild, PropType::String, 0);
        if (type == kOfxParamTypeGroup)
            p.setInt("OfxParamPropGroupOpen", 1);
        break;
    }
}

} // namespace

// ---- Clip -----------------------------------------------------------------------

Clip::Clip(Host& host, Effect& effect, std::string name, const Clip* descriptor)
    : host_(host), effect_(effect), name_(std::move(name)), instance_(descriptor != nullptr),
      props_("clip " + name_, &host.faults()), overrides_("image overrides of " + name_) {
    if (descriptor == nullptr) {
        seedClipDescriptor(props_, name_);
        return;
    }
    props_.copyFrom(descriptor->props_);
    bool mlt = host.flavour() == Flavour::MltLike;
    // Prefer RGBA when the plug-in supports it, else its first supported layout (masks).
    std::vector<std::string> supported = props_.getStrings(kOfxImageEffectPropSupportedComponents);
    Components components = Components::RGBA;
    if (!supported.empty() &&
        std::find(supported.begin(), supported.end(), kOfxImageComponentRGBA) == supported.end())
        components = componentsFromString(supported.front()).value_or(Components::RGBA);
    setFormat(components, mlt ? Depth::Byte : Depth::Float);
    setPremultiplication(mlt ? kOfxImageUnPreMultiplied : kOfxImagePreMultiplied);
    setConnected(true);
    OfxRangeD range = host.timeBounds();
    props_.setDouble(kOfxImagePropPixelAspectRatio, 1.0);
    props_.setDouble("OfxImageEffectPropFrameRate", 25.0);
    props_.setDouble("OfxImageEffectPropUnmappedFrameRate", 25.0);
    props_.setDoubles(kOfxImageEffectPropFrameRange, {range.min, range.max});
    props_.setDoubles("OfxImageEffectPropUnmappedFrameRange", {range.min, range.max});
    props_.setString("OfxImageClipPropFieldOrder", kOfxImageFieldNone);
    props_.setInt("OfxImageClipPropContinuousSamples", 0);
}

Clip::~Clip() { magic_ = 0; }

Clip* Clip::fromHandle(OfxImageClipHandle handle) {
    auto* clip = reinterpret_cast<Clip*>(handle);
    return clip != nullptr && clip->magic_ == kMagic ? clip : nullptr;
}

void Clip::setFormat(Components components, Depth depth) {
    props_.setString(kOfxImageEffectPropComponents, toString(components));
    props_.setString(kOfxImageEffectPropPixelDepth, toString(depth));
    props_.setString("OfxImageClipPropUnmappedComponents", toString(components));
    props_.setString("OfxImageClipPropUnmappedPixelDepth", toString(depth));
}

void Clip::setPremultiplication(const std::string& premultiplication) {
    props_.setString(kOfxImageEffectPropPreMultiplication, premultiplication);
}

void Clip::setConnected(bool connected) {
    props_.setInt(kOfxImageClipPropConnected, connected ? 1 : 0);
}

void Clip::setImage(std::shared_ptr<Image> image) {
    std::lock_guard<std::mutex> lock(mutex_);
    image_ = std::move(image);
    images_.clear();
}

void Clip::setImageAt(double time, std::shared_ptr<Image> image) {
    std::lock_guard<std::mutex> lock(mutex_);
    images_[time] = std::move(image);
}

void Clip::clearImages() {
    std::lock_guard<std::mutex> lock(mutex_);
    image_.reset();
    images_.clear();
}

std::shared_ptr<Image> Clip::imageAt(double time) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = images_.find(time);
    return it != images_.end() ? it->second : image_;
}

void Clip::setRegionOfDefinition(const OfxRectD& rod) {
    std::lock_guard<std::mutex> lock(mutex_);
    rod_ = rod;
}

OfxRectD Clip::regionOfDefinition(double time, OfxPointD renderScale) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rod_)
            return *rod_;
    }
    std::shared_ptr<Image> image = imageAt(time);
    if (!image)
        return OfxRectD{0, 0, 0, 0};
    // Image bounds are pixels at the render scale; the RoD is canonical.
    double par = props_.has(kOfxImagePropPixelAspectRatio)
                     ? props_.getDouble(kOfxImagePropPixelAspectRatio)
                     : 1.0;
    double sx = renderScale.x > 0 ? renderScale.x : 1.0;
    double sy = renderScale.y > 0 ? renderScale.y : 1.0;
    const OfxRectI& b = image->bounds();
    return OfxRectD{b.x1 * par / sx, b.y1 / sy, b.x2 * par / sx, b.y2 / sy};
}

std::vector<ImageRequest> Clip::imageRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void Clip::noteRequest(const ImageRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
}

// ---- Param types ------------------------------------------------------------------

ParamTypeInfo paramTypeInfo(const std::string& type) {
    struct Row {
        const char* type;
        ValueKind kind;
        int dimension;
        bool stepped;
    };
    static const Row kRows[] = {
        {kOfxParamTypeInteger, ValueKind::Int, 1, false},
        {kOfxParamTypeDouble, ValueKind::Double, 1, false},
        {kOfxParamTypeBoolean, ValueKind::Int, 1, true},
        {kOfxParamTypeChoice, ValueKind::Int, 1, true},
        {kOfxParamTypeRGBA, ValueKind::Double, 4, false},
        {kOfxParamTypeRGB, ValueKind::Double, 3, false},
        {kOfxParamTypeDouble2D, ValueKind::Double, 2, false},
        {kOfxParamTypeInteger2D, ValueKind::Int, 2, false},
        {kOfxParamTypeDouble3D, ValueKind::Double, 3, false},
        {kOfxParamTypeInteger3D, ValueKind::Int, 3, false},
        {kOfxParamTypeString, ValueKind::String, 1, true},
        {kOfxParamTypeCustom, ValueKind::String, 1, true},
        {kParamTypeStrChoice, ValueKind::String, 1, true},
        {kOfxParamTypeGroup, ValueKind::None, 0, false},
        {kOfxParamTypePage, ValueKind::None, 0, false},
        {kOfxParamTypePushButton, ValueKind::None, 0, false},
    };
    ParamTypeInfo info;
    for (const Row& row : kRows) {
        if (type == row.type) {
            info.known = info.supported = true;
            info.kind = row.kind;
            info.dimension = row.dimension;
            info.stepped = row.stepped;
            return info;
        }
    }
    if (type == kParamTypeBytes)
        info.known = true;
    return info;
}

// ---- Param ------------------------------------------------------------------------

Param::Param(Host& host, ParamSet& set, std::string type, std::string name, const Param* descriptor)
    : host_(host), set_(set), type_(std::move(type)), name_(std::move(name)),
      info_(paramTypeInfo(type_)), instance_(descriptor != nullptr),
      props_("param " + name_, &host.faults()) {
    static_.numbers.assign(
        static_cast<size_t>(info_.kind == ValueKind::String ? 0 : info_.dimension), 0.0);
    if (descriptor == nullptr) {
        seedParamDescriptor(props_, type_, name_, info_);
        return;
    }
    props_.copyFrom(descriptor->props_);
    props_.setString(kOfxPropType, "OfxTypeParameterInstance");
    props_.setInt("OfxParamPropIsAnimating", 0);
    props_.setInt("OfxParamPropIsAutoKeying", 0);
    // The instance starts at the default the plug-in declared, whatever type it used.
    if (!props_.has(kOfxParamPropDefault))
        return;
    switch (props_.type(kOfxParamPropDefault).value()) {
    case PropType::Double: {
        std::vector<double> d = props_.getDoubles(kOfxParamPropDefault);
        for (size_t i = 0; i < d.size() && i < static_.numbers.size(); ++i)
            static_.numbers[i] = d[i];
        break;
    }
    case PropType::Int: {
        std::vector<int> d = props_.getInts(kOfxParamPropDefault);
        for (size_t i = 0; i < d.size() && i < static_.numbers.size(); ++i)
            static_.numbers[i] = d[i];
        break;
    }
    case PropType::String:
        if (props_.dimension(kOfxParamPropDefault) > 0)
            static_.text = props_.getString(kOfxParamPropDefault);
        break;
    case PropType::Pointer:
        break;
    }
}

Param::~Param() { magic_ = 0; }

Param* Param::fromHandle(OfxParamHandle handle) {
    auto* param = reinterpret_cast<Param*>(handle);
    return param != nullptr && param->magic_ == kMagic ? param : nullptr;
}

Param::Value Param::normalised(Value v) const {
    v.numbers.resize(static_cast<size_t>(info_.kind == ValueKind::String ? 0 : info_.dimension),
                     0.0);
    if (info_.kind == ValueKind::Int)
        for (double& x : v.numbers)
            x = std::round(x);
    return v;
}

void Param::setValue(const std::vector<double>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    static_ = normalised(Value{values, {}});
}

void Param::setString(const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    static_.text = value;
}

void Param::setKey(double time, const std::vector<double>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[time] = normalised(Value{values, {}});
    props_.setInt("OfxParamPropIsAnimating", 1);
}

void Param::setStringKey(double time, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[time] = Value{{}, value};
    props_.setInt("OfxParamPropIsAnimating", 1);
}

bool Param::deleteKey(double time) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool erased = keys_.erase(time) != 0;
    if (keys_.empty() && instance_)
        props_.setInt("OfxParamPropIsAnimating", 0);
    return erased;
}

void Param::clearKeys() {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.clear();
    if (instance_)
        props_.setInt("OfxParamPropIsAnimating", 0);
}

std::vector<double> Param::keyTimes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> out;
    for (const auto& k : keys_)
        out.push_back(k.first);
    return out;
}

Param::Value Param::valueAtLocked(double time) const {
    if (keys_.empty())
        return static_;
    auto after = keys_.lower_bound(time);
    if (after == keys_.end())
        return std::prev(after)->second;
    if (after->first == time || after == keys_.begin())
        return after->second;
    auto before = std::prev(after);
    if (info_.stepped || info_.kind == ValueKind::String)
        return before->second;
    double f = (time - before->first) / (after->first - before->first);
    Value v = before->second;
    for (size_t i = 0; i < v.numbers.size(); ++i)
        v.numbers[i] += f * (after->second.numbers[i] - before->second.numbers[i]);
    return normalised(v);
}

std::vector<double> Param::valueAt(double time) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return valueAtLocked(time).numbers;
}

std::string Param::stringAt(double time) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return valueAtLocked(time).text;
}

const char* Param::stringStorageAt(double time) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.empty())
        return static_.text.c_str();
    // Strings are stepped: the value at `time` is the text of the key at or before it.
    auto it = keys_.upper_bound(time);
    if (it != keys_.begin())
        --it;
    return it->second.text.c_str();
}

std::vector<double> Param::derivativeAt(double time) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> d(static_.numbers.size(), 0.0);
    if (keys_.size() < 2 || info_.stepped || info_.kind != ValueKind::Double)
        return d;
    // Slope of the segment containing `time`; at a key, the segment that starts there.
    auto after = keys_.upper_bound(time);
    if (after == keys_.begin() || after == keys_.end())
        return d;
    auto before = std::prev(after);
    double dt = after->first - before->first;
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = (after->second.numbers[i] - before->second.numbers[i]) / dt;
    return d;
}

std::vector<double> Param::integral(double t1, double t2) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t dim = static_.numbers.size();
    std::vector<double> sum(dim, 0.0);
    if (info_.kind != ValueKind::Double || t1 == t2)
        return sum;
    double sign = 1.0;
    if (t2 < t1) {
        std::swap(t1, t2);
        sign = -1.0;
    }
    // The curve is piecewise linear between these breakpoints, so trapezoids are exact.
    std::vector<double> points{t1};
    for (const auto& k : keys_)
        if (k.first > t1 && k.first < t2)
            points.push_back(k.first);
    points.push_back(t2);
    for (size_t s = 0; s + 1 < points.size(); ++s) {
        double a = points[s], b = points[s + 1];
        Value va = valueAtLocked(a);
        Value vb = valueAtLocked(b);
        if (info_.stepped)
            vb = va;
        for (size_t i = 0; i < dim; ++i)
            sum[i] += 0.5 * (va.numbers[i] + vb.numbers[i]) * (b - a);
    }
    for (double& x : sum)
        x *= sign;
    return sum;
}

void Param::copyFrom(const Param& from, double offset, const OfxRangeD* range) {
    if (&from == this) {
        return;
    }
    std::scoped_lock lock(mutex_, from.mutex_);
    static_ = from.static_;
    keys_.clear();
    for (const auto& k : from.keys_) {
        if (range != nullptr && (k.first < range->min || k.first > range->max))
            continue;
        keys_[k.first + offset] = k.second;
    }
}

// ---- ParamSet ---------------------------------------------------------------------

ParamSet::ParamSet(Host& host, Effect& effect) : host_(host), effect_(effect) {}

ParamSet::~ParamSet() { magic_ = 0; }

ParamSet* ParamSet::fromHandle(OfxParamSetHandle handle) {
    auto* set = reinterpret_cast<ParamSet*>(handle);
    return set != nullptr && set->magic_ == kMagic ? set : nullptr;
}

Param* ParamSet::find(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& p : params_)
        if (p->name() == name)
            return p.get();
    return nullptr;
}

std::vector<std::string> ParamSet::names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& p : params_)
        out.push_back(p->name());
    return out;
}

OfxStatus ParamSet::define(const char* type, const char* name, Param** out) {
    if (type == nullptr || name == nullptr)
        return kOfxStatErrValue;
    ParamTypeInfo info = paramTypeInfo(type);
    if (!info.known)
        return kOfxStatErrUnknown;
    if (!info.supported)
        return kOfxStatErrUnsupported;
    if (find(name) != nullptr)
        return kOfxStatErrExists;
    auto param = std::make_unique<Param>(host_, *this, type, name, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    params_.push_back(std::move(param));
    if (out != nullptr)
        *out = params_.back().get();
    return kOfxStatOK;
}

Param& ParamSet::instantiate(const Param& descriptor) {
    auto param =
        std::make_unique<Param>(host_, *this, descriptor.type(), descriptor.name(), &descriptor);
    std::lock_guard<std::mutex> lock(mutex_);
    params_.push_back(std::move(param));
    return *params_.back();
}

int ParamSet::editDepth() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return editDepth_;
}

int ParamSet::beginEdit() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ++editDepth_;
}

bool ParamSet::endEdit() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (editDepth_ == 0)
        return false;
    --editDepth_;
    return true;
}

// ---- Effect -----------------------------------------------------------------------

Effect::Effect(Host& host, EffectKind kind, std::string context, const Effect* source)
    : host_(host), kind_(kind), context_(std::move(context)),
      props_(std::string(kind == EffectKind::Instance ? "instance " : "descriptor ") + context_,
             &host.faults()),
      params_(host, *this) {
    if (source == nullptr) {
        seedEffectDescriptor(props_);
    } else {
        props_.copyFrom(source->props_);
    }
    if (kind == EffectKind::ContextDescriptor)
        props_.setString(kOfxImageEffectPropContext, context_);
    if (kind != EffectKind::Instance)
        return;

    // Instance: a live effect with clips and params copied from the context descriptor.
    props_.setString(kOfxPropType, kOfxTypeImageEffectInstance);
    props_.setString(kOfxImageEffectPropContext, context_);
    props_.setPointer(kOfxPropInstanceData, nullptr);
    props_.setInt(kOfxPropIsInteractive, 0);
    props_.setDoubles("OfxImageEffectPropProjectSize", {1920.0, 1080.0});
    props_.setDoubles("OfxImageEffectPropProjectExtent", {1920.0, 1080.0});
    props_.setDoubles("OfxImageEffectPropProjectOffset", {0.0, 0.0});
    props_.setDouble("OfxImageEffectPropPixelAspectRatio", 1.0);
    props_.setDouble("OfxImageEffectPropFrameRate", 25.0);
    OfxRangeD range = host.timeBounds();
    props_.setDouble("OfxImageEffectInstancePropEffectDuration", range.max - range.min);
    props_.setInt("OfxImageEffectInstancePropSequentialRender", 0);
    if (!props_.has(kOfxImageEffectPropSupportsTiles))
        props_.setInt(kOfxImageEffectPropSupportsTiles, 1);
    if (source == nullptr)
        return;
    auto& src = const_cast<Effect&>(*source);
    for (const std::string& name : src.clipNames())
        clips_.push_back(std::make_unique<Clip>(host, *this, name, src.findClip(name)));
    for (const std::string& name : src.paramNames())
        params_.instantiate(*src.findParam(name));
}

Effect::~Effect() { magic_ = 0; }

Effect* Effect::fromHandle(const void* handle) {
    auto* effect = static_cast<Effect*>(const_cast<void*>(handle));
    return effect != nullptr && effect->magic_ == kMagic ? effect : nullptr;
}

Clip* Effect::findClip(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : clips_)
        if (c->name() == name)
            return c.get();
    return nullptr;
}

Clip& Effect::clip(const std::string& name) {
    Clip* c = findClip(name);
    if (c == nullptr)
        throw std::out_of_range("ofxhost: no clip " + name);
    return *c;
}

std::vector<std::string> Effect::clipNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& c : clips_)
        out.push_back(c->name());
    return out;
}

OfxStatus Effect::defineClip(const char* name, Clip** out) {
    if (name == nullptr)
        return kOfxStatErrValue;
    if (findClip(name) != nullptr)
        return kOfxStatErrExists;
    auto clip = std::make_unique<Clip>(host_, *this, name, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    clips_.push_back(std::move(clip));
    if (out != nullptr)
        *out = clips_.back().get();
    return kOfxStatOK;
}

Param& Effect::param(const std::string& name) {
    Param* p = findParam(name);
    if (p == nullptr)
        throw std::out_of_range("ofxhost: no param " + name);
    return *p;
}

void* Effect::instanceData() const {
    return props_.has(kOfxPropInstanceData) ? props_.getPointer(kOfxPropInstanceData) : nullptr;
}

} // namespace ofxhost
