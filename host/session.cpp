#include "session.h"

#include <algorithm>

namespace ofxhost {

namespace {

// Images fetched while an action runs carry that action's render scale.
class RenderScaleScope {
public:
    explicit RenderScaleScope(OfxPointD scale) : saved_(Host::threadRenderScale()) {
        Host::setThreadRenderScale(scale);
    }
    ~RenderScaleScope() { Host::setThreadRenderScale(saved_); }
    RenderScaleScope(const RenderScaleScope&) = delete;
    RenderScaleScope& operator=(const RenderScaleScope&) = delete;

private:
    OfxPointD saved_;
};

bool accepted(OfxStatus st) { return st == kOfxStatOK || st == kOfxStatReplyDefault; }

} // namespace

PluginSession::PluginSession(Host& host, OfxPlugin* plugin) : host_(host), plugin_(plugin) {}

PluginSession::~PluginSession() {
    // A host closing down destroys the instances still alive, as it would on closing a
    // project: without the action the plug-in could never free its side of them.
    const std::vector<Effect*> alive = instances_;
    for (Effect* instance : alive) {
        try {
            destroyInstance(*instance);
        } catch (...) { // the action log could not grow; the host side still goes below
        }
    }
    for (Effect* instance : instances_)
        host_.destroy(*instance);
    for (auto& c : contexts_)
        host_.destroy(*c.second);
    if (descriptor_ != nullptr)
        host_.destroy(*descriptor_);
}

// Out-args are strict, as a host's are: a plug-in setting a property the host did not
// pre-fill (a per-clip name for a clip that does not exist, say) gets kOfxStatErrUnknown.
std::unique_ptr<PropertySet> PluginSession::args(const std::string& label) const {
    auto set = std::make_unique<PropertySet>(label, &host_.faults());
    set->setStrict(true);
    return set;
}

std::vector<std::string> PluginSession::inputClips(Effect& instance) const {
    std::vector<std::string> names = instance.clipNames();
    names.erase(std::remove(names.begin(), names.end(), kOfxImageEffectOutputClipName),
                names.end());
    return names;
}

OfxStatus PluginSession::action(const char* name, const void* handle, OfxPropertySetHandle inArgs,
                                OfxPropertySetHandle outArgs) {
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(name ? name : "(null)");
    }
    if (plugin_ == nullptr || plugin_->mainEntry == nullptr)
        return kOfxStatErrBadHandle;
    return plugin_->mainEntry(name, handle, inArgs, outArgs);
}

std::vector<std::string> PluginSession::actionLog() const {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

void PluginSession::setHost() {
    if (plugin_ != nullptr && plugin_->setHost != nullptr)
        plugin_->setHost(host_.ofxHost());
    hostSet_ = true;
}

OfxStatus PluginSession::load() {
    if (!hostSet_)
        setHost();
    return action(kOfxActionLoad, nullptr, nullptr, nullptr);
}

OfxStatus PluginSession::unload() { return action(kOfxActionUnload, nullptr, nullptr, nullptr); }

OfxStatus PluginSession::describe() {
    if (host_.flavour() == Flavour::MltLike)
        action(kOfxActionLoad, nullptr, nullptr, nullptr);
    if (descriptor_ != nullptr)
        host_.destroy(*descriptor_);
    descriptor_ = &host_.createDescriptor();
    descriptor_->props().setString(kOfxPluginPropFilePath, filePath_);
    return action(kOfxActionDescribe, descriptor_->handle(), nullptr, nullptr);
}

OfxStatus PluginSession::describeInContext(const std::string& context) {
    if (descriptor_ == nullptr)
        return kOfxStatFailed;
    auto old = contexts_.find(context);
    if (old != contexts_.end()) {
        host_.destroy(*old->second);
        contexts_.erase(old);
    }
    Effect& desc = host_.createContextDescriptor(*descriptor_, context);
    contexts_[context] = &desc;
    if (host_.flavour() == Flavour::MltLike) {
        host_.properties().setString(kOfxImageEffectPropContext, context);
        return action(kOfxImageEffectActionDescribeInContext, desc.handle(),
                      host_.properties().handle(), nullptr);
    }
    auto in = args("describeInContext in");
    in->setString(kOfxImageEffectPropContext, context);
    return action(kOfxImageEffectActionDescribeInContext, desc.handle(), in->handle(), nullptr);
}

Effect* PluginSession::contextDescriptor(const std::string& context) {
    auto it = contexts_.find(context);
    return it == contexts_.end() ? nullptr : it->second;
}

InstanceResult PluginSession::createInstance(const std::string& context) {
    Effect* desc = contextDescriptor(context);
    if (desc == nullptr)
        return {kOfxStatErrUnknown, nullptr};
    Effect& instance = host_.createInstance(*desc);
    OfxStatus st = action(kOfxActionCreateInstance, instance.handle(), nullptr, nullptr);
    if (!accepted(st)) {
        host_.destroy(instance);
        return {st, nullptr};
    }
    instances_.push_back(&instance);
    return {st, &instance};
}

OfxStatus PluginSession::destroyInstance(Effect& instance) {
    OfxStatus st = action(kOfxActionDestroyInstance, instance.handle(), nullptr, nullptr);
    instances_.erase(std::remove(instances_.begin(), instances_.end(), &instance),
                     instances_.end());
    host_.destroy(instance);
    return st;
}

OfxStatus PluginSession::render(Effect& instance, double time, OfxRectI window,
                                OfxPointD renderScale, const std::string& field,
                                const ArgsEditor& extra) {
    auto in = args("render in");
    in->setDouble(kOfxPropTime, time);
    in->setString(kOfxImageEffectPropFieldToRender, field);
    in->setInts(kOfxImageEffectPropRenderWindow, {window.x1, window.y1, window.x2, window.y2});
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    in->setInt("OfxImageEffectPropSequentialRenderStatus", 0);
    in->setInt("OfxImageEffectPropInteractiveRenderStatus", 0);
    in->setInt("OfxImageEffectPropRenderQualityDraft", 0);
    if (!renderQuality_.empty())
        in->setString(kOfxImageEffectPropRenderQuality, renderQuality_);
    if (extra)
        extra(*in);
    RenderScaleScope scope(renderScale);
    return action(kOfxImageEffectActionRender, instance.handle(), in->handle(), nullptr);
}

OfxStatus PluginSession::sequenceAction(const char* name, Effect& instance, OfxRangeD frames,
                                        double step, OfxPointD renderScale, bool interactive,
                                        const ArgsEditor& extra) {
    auto in = args(std::string(name) + " in");
    in->setDoubles(kOfxImageEffectPropFrameRange, {frames.min, frames.max});
    in->setDouble(kOfxImageEffectPropFrameStep, step);
    in->setInt(kOfxPropIsInteractive, interactive ? 1 : 0);
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    in->setInt("OfxImageEffectPropSequentialRenderStatus", 0);
    in->setInt("OfxImageEffectPropInteractiveRenderStatus", interactive ? 1 : 0);
    if (extra)
        extra(*in);
    RenderScaleScope scope(renderScale);
    return action(name, instance.handle(), in->handle(), nullptr);
}

OfxStatus PluginSession::beginSequenceRender(Effect& instance, OfxRangeD frames, double step,
                                             OfxPointD renderScale, bool interactive,
                                             const ArgsEditor& extra) {
    return sequenceAction(kOfxImageEffectActionBeginSequenceRender, instance, frames, step,
                          renderScale, interactive, extra);
}

OfxStatus PluginSession::endSequenceRender(Effect& instance, OfxRangeD frames, double step,
                                           OfxPointD renderScale, bool interactive,
                                           const ArgsEditor& extra) {
    return sequenceAction(kOfxImageEffectActionEndSequenceRender, instance, frames, step,
                          renderScale, interactive, extra);
}

RectResult PluginSession::regionOfDefinition(Effect& instance, double time, OfxPointD renderScale) {
    auto in = args("regionOfDefinition in");
    in->setDouble(kOfxPropTime, time);
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    OfxRectD def{0, 0, 0, 0};
    if (Clip* source = instance.findClip(kOfxImageEffectSimpleSourceClipName))
        def = source->regionOfDefinition(time, renderScale);
    auto out = args("regionOfDefinition out");
    out->setDoubles(kOfxImageEffectPropRegionOfDefinition, {def.x1, def.y1, def.x2, def.y2});
    RenderScaleScope scope(renderScale);
    OfxStatus st = action(kOfxImageEffectActionGetRegionOfDefinition, instance.handle(),
                          in->handle(), out->handle());
    std::vector<double> r = out->getDoubles(kOfxImageEffectPropRegionOfDefinition);
    r.resize(4, 0.0);
    return {st, OfxRectD{r[0], r[1], r[2], r[3]}};
}

RoiResult PluginSession::regionsOfInterest(Effect& instance, double time, OfxRectD roi,
                                           OfxPointD renderScale) {
    auto in = args("regionsOfInterest in");
    in->setDouble(kOfxPropTime, time);
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    in->setDoubles(kOfxImageEffectPropRegionOfInterest, {roi.x1, roi.y1, roi.x2, roi.y2});
    auto out = args("regionsOfInterest out");
    std::vector<std::string> inputs = inputClips(instance);
    for (const std::string& clip : inputs)
        out->setDoubles(kOfxImageClipPropRoIPrefix + clip, {roi.x1, roi.y1, roi.x2, roi.y2});
    RenderScaleScope scope(renderScale);
    RoiResult result{action(kOfxImageEffectActionGetRegionsOfInterest, instance.handle(),
                            in->handle(), out->handle()),
                     {}};
    for (const std::string& clip : inputs) {
        std::vector<double> r = out->getDoubles(kOfxImageClipPropRoIPrefix + clip);
        r.resize(4, 0.0);
        result.rois[clip] = OfxRectD{r[0], r[1], r[2], r[3]};
    }
    return result;
}

FramesResult PluginSession::framesNeeded(Effect& instance, double time) {
    auto in = args("framesNeeded in");
    in->setDouble(kOfxPropTime, time);
    auto out = args("framesNeeded out");
    std::vector<std::string> inputs = inputClips(instance);
    for (const std::string& clip : inputs)
        out->setDoubles(kOfxImageClipPropFrameRangePrefix + clip, {time, time});
    FramesResult result{action(kOfxImageEffectActionGetFramesNeeded, instance.handle(),
                               in->handle(), out->handle()),
                        {}};
    for (const std::string& clip : inputs) {
        std::vector<double> r = out->getDoubles(kOfxImageClipPropFrameRangePrefix + clip);
        auto& ranges = result.ranges[clip];
        for (size_t i = 0; i + 1 < r.size(); i += 2)
            ranges.push_back(OfxRangeD{r[i], r[i + 1]});
    }
    return result;
}

IdentityResult PluginSession::isIdentity(Effect& instance, double time, OfxRectI window,
                                         OfxPointD renderScale, const std::string& field) {
    auto in = args("isIdentity in");
    in->setDouble(kOfxPropTime, time);
    in->setString(kOfxImageEffectPropFieldToRender, field);
    in->setInts(kOfxImageEffectPropRenderWindow, {window.x1, window.y1, window.x2, window.y2});
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    auto out = args("isIdentity out");
    out->setString(kOfxPropName, "");
    out->setDouble(kOfxPropTime, time);
    RenderScaleScope scope(renderScale);
    OfxStatus st =
        action(kOfxImageEffectActionIsIdentity, instance.handle(), in->handle(), out->handle());
    return {st, out->getString(kOfxPropName), out->getDouble(kOfxPropTime)};
}

ArgsResult PluginSession::clipPreferences(Effect& instance) {
    auto out = args("clipPreferences out");
    for (const std::string& name : instance.clipNames()) {
        PropertySet& clip = instance.clip(name).props();
        out->setString(kOfxImageClipPropComponentsPrefix + name,
                       clip.getString(kOfxImageEffectPropComponents));
        out->setString(kOfxImageClipPropDepthPrefix + name,
                       clip.getString(kOfxImageEffectPropPixelDepth));
        out->setDouble(kOfxImageClipPropPARPrefix + name,
                       clip.getDouble(kOfxImagePropPixelAspectRatio));
    }
    out->setDouble("OfxImageEffectPropFrameRate", 25.0);
    out->setString("OfxImageClipPropFieldOrder", kOfxImageFieldNone);
    Clip* output = instance.findClip(kOfxImageEffectOutputClipName);
    out->setString(kOfxImageEffectPropPreMultiplication,
                   output ? output->props().getString(kOfxImageEffectPropPreMultiplication)
                          : std::string(kOfxImagePreMultiplied));
    out->setInt("OfxImageClipPropContinuousSamples", 0);
    out->setInt("OfxImageEffectFrameVarying", 0);
    OfxStatus st =
        action(kOfxImageEffectActionGetClipPreferences, instance.handle(), nullptr, out->handle());
    return {st, std::move(out)};
}

RangeResult PluginSession::getTimeDomain(Effect& instance) {
    OfxRangeD bounds = host_.timeBounds();
    auto out = args("getTimeDomain out");
    out->setDoubles(kOfxImageEffectPropFrameRange, {bounds.min, bounds.max});
    OfxStatus st =
        action(kOfxImageEffectActionGetTimeDomain, instance.handle(), nullptr, out->handle());
    std::vector<double> r = out->getDoubles(kOfxImageEffectPropFrameRange);
    r.resize(2, 0.0);
    return {st, OfxRangeD{r[0], r[1]}};
}

OfxStatus PluginSession::instanceChanged(Effect& instance, const std::string& type,
                                         const std::string& name, const std::string& reason,
                                         double time, OfxPointD renderScale) {
    auto in = args("instanceChanged in");
    in->setString(kOfxPropType, type);
    in->setString(kOfxPropName, name);
    in->setString(kOfxPropChangeReason, reason);
    in->setDouble(kOfxPropTime, time);
    in->setDoubles(kOfxImageEffectPropRenderScale, {renderScale.x, renderScale.y});
    return action(kOfxActionInstanceChanged, instance.handle(), in->handle(), nullptr);
}

OfxStatus PluginSession::beginInstanceChanged(Effect& instance, const std::string& reason) {
    auto in = args("beginInstanceChanged in");
    in->setString(kOfxPropChangeReason, reason);
    return action(kOfxActionBeginInstanceChanged, instance.handle(), in->handle(), nullptr);
}

OfxStatus PluginSession::endInstanceChanged(Effect& instance, const std::string& reason) {
    auto in = args("endInstanceChanged in");
    in->setString(kOfxPropChangeReason, reason);
    return action(kOfxActionEndInstanceChanged, instance.handle(), in->handle(), nullptr);
}

OfxStatus PluginSession::purgeCaches(Effect& instance) {
    return action(kOfxActionPurgeCaches, instance.handle(), nullptr, nullptr);
}

OfxStatus PluginSession::syncPrivateData(Effect& instance) {
    return action(kOfxActionSyncPrivateData, instance.handle(), nullptr, nullptr);
}

} // namespace ofxhost
