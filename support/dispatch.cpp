// The action dispatcher: turns the host's action strings into calls on the factory or on the
// effect instance, and every exception into a status. Nothing escapes to the host. The load
// action also reads what the host says of itself.
#include "image_effect.h"

#include <cstring>
#include <iostream>
#include <new>

namespace OFX {

namespace {

// ---- What the host said of itself --------------------------------------------------------------

HostDescription gHostDescription;
bool gHostDescriptionReady = false;

bool readBool(const PropertySet& props, const char* name, int index = 0) {
    return props.getInt(name, index, true) != 0;
}

void createHostDescription(OfxHost* host) {
    if (gHostDescriptionReady) {
        logError(true, "Tried to create host description when we already have one.");
        return;
    }
    gHostDescriptionReady = true;
    PropertySet props(host->host);
    HostDescription& d = gHostDescription;
    d.hostName = props.getString(kOfxPropName, 0, true);
    d.hostIsBackground = readBool(props, kOfxImageEffectHostPropIsBackground);
    d.supportsOverlays = readBool(props, kOfxImageEffectPropSupportsOverlays);
    d.supportsMultiResolution = readBool(props, kOfxImageEffectPropSupportsMultiResolution);
    d.supportsTiles = readBool(props, kOfxImageEffectPropSupportsTiles);
    d.temporalClipAccess = readBool(props, kOfxImageEffectPropTemporalClipAccess);
    d.supportsMultipleClipDepths = readBool(props, kOfxImageEffectPropSupportsMultipleClipDepths);
    d.supportsMultipleClipPARs = readBool(props, kOfxImageEffectPropSupportsMultipleClipPARs);
    d.supportsSetableFrameRate = readBool(props, kOfxImageEffectPropSetableFrameRate);
    d.supportsSetableFielding = readBool(props, kOfxImageEffectPropSetableFielding);
    d.supportsStringAnimation = readBool(props, kOfxParamHostPropSupportsStringAnimation);
    d.supportsCustomInteract = readBool(props, kOfxParamHostPropSupportsCustomInteract);
    d.supportsChoiceAnimation = readBool(props, kOfxParamHostPropSupportsChoiceAnimation);
    d.supportsBooleanAnimation = readBool(props, kOfxParamHostPropSupportsBooleanAnimation);
    d.supportsCustomAnimation = readBool(props, kOfxParamHostPropSupportsCustomAnimation);
    d.maxParameters = props.getInt(kOfxParamHostPropMaxParameters, 0, true);
    d.maxPages = props.getInt(kOfxParamHostPropMaxPages, 0, true);
    d.pageRowCount = props.getInt(kOfxParamHostPropPageRowColumnCount, 0, true);
    d.pageColumnCount = props.getInt(kOfxParamHostPropPageRowColumnCount, 1, true);

    int n = props.getDimension(kOfxImageEffectPropSupportedComponents, true);
    for (int i = 0; i < n; ++i)
        d.supportedComponents.push_back(decodePixelComponents(
            props.getString(kOfxImageEffectPropSupportedComponents, i, true)));
    n = props.getDimension(kOfxImageEffectPropSupportedContexts, true);
    for (int i = 0; i < n; ++i)
        d.supportedContexts.push_back(
            decodeContext(props.getString(kOfxImageEffectPropSupportedContexts, i, true)));
    n = props.getDimension(kOfxImageEffectPropSupportedPixelDepths, true);
    for (int i = 0; i < n; ++i)
        d.supportedPixelDepths.push_back(
            decodeBitDepth(props.getString(kOfxImageEffectPropSupportedPixelDepths, i, true)));
}

/// The load action's first step: the suites, then on the first load the host's description
/// and the interact suites it calls for. On failure the load is undone, so a later load starts
/// afresh instead of running on whatever a faulty host handed out so far.
void loadHost() {
    Private::fetchHostSuites();
    if (Private::loadCount() != 1)
        return;
    const bool describedBefore = gHostDescriptionReady;
    try {
        createHostDescription(Private::hostPointer());
        const Private::HostSuites& s = Private::hostSuites();
        HostDescription& d = gHostDescription;
        d.supportsProgressSuite = s.progress != nullptr || s.vegasProgress != nullptr;
        d.supportsTimeLineSuite = s.timeLine != nullptr;
        d.supportsMessageSuiteV2 = s.messageV2 != nullptr;
        Private::fetchInteractSuites(d.supportsOverlays || d.supportsCustomInteract);
    } catch (...) {
        Private::releaseHostSuites();
        if (!describedBefore) {
            gHostDescription = HostDescription();
            gHostDescriptionReady = false;
        }
        throw;
    }
}

} // namespace

const HostDescription& getHostDescription() { return gHostDescription; }

namespace {

// ---- Descriptors and instances ------------------------------------------------------------------

// Descriptors kept from the describe actions until unload, by unique id, then context
// (None for the describe action's own).
using DescriptorsByContext = std::map<EffectContext, std::unique_ptr<ImageEffectDescriptor>>;
std::map<std::string, DescriptorsByContext>& descriptorCache() {
    static std::map<std::string, DescriptorsByContext> cache;
    return cache;
}

/// The cached descriptor, or null; never creates an entry.
ImageEffectDescriptor* findDescriptor(const std::string& uniqueId, EffectContext context) {
    auto& cache = descriptorCache();
    auto plugin = cache.find(uniqueId);
    if (plugin == cache.end())
        return nullptr;
    auto found = plugin->second.find(context);
    return found == plugin->second.end() ? nullptr : found->second.get();
}

/// The descriptor an instance action needs; a host that created an instance in a context it
/// never described gets a clean failure instead of a half-made entry.
ImageEffectDescriptor& requireDescriptor(const std::string& uniqueId, EffectContext context) {
    ImageEffectDescriptor* descriptor = findDescriptor(uniqueId, context);
    logError(descriptor == nullptr, "No descriptor was cached for the instance's context.");
    if (!descriptor)
        raiseSuiteStatus(kOfxStatErrBadHandle);
    return *descriptor;
}

void storeDescriptor(const std::string& uniqueId, EffectContext context,
                     std::unique_ptr<ImageEffectDescriptor> descriptor) {
    descriptorCache()[uniqueId][context] = std::move(descriptor);
}

// Which handles an action needs.
enum class HandleRule { Required, ExpectedNull, Ignored };

struct HandleRules {
    HandleRule handle, inArgs, outArgs;
};

constexpr HandleRule R = HandleRule::Required;
constexpr HandleRule N = HandleRule::ExpectedNull;
[[maybe_unused]] constexpr HandleRule I = HandleRule::Ignored; // no action ignores a handle yet

void checkMainHandles(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                      OfxPropertySetHandle outArgs, HandleRules rules) {
    const bool missingHandle = rules.handle == R && handle == nullptr;
    const bool missingIn = rules.inArgs == R && inArgs == nullptr;
    const bool missingOut = rules.outArgs == R && outArgs == nullptr;
    logError(missingHandle, "'Handle passed to '%s' is null.", action);
    logWarning(rules.handle == N && handle != nullptr, "Handle passed to '%s' is not null.",
               action);
    logError(missingIn, "'inArgs' handle passed to '%s' is null.", action);
    logWarning(rules.inArgs == N && inArgs != nullptr,
               "'inArgs' Handle passed to '%s' is not null.", action);
    logError(missingOut, "'outArgs' handle passed to '%s' is null.", action);
    logWarning(rules.outArgs == N && outArgs != nullptr,
               "'outArgs' Handle passed to '%s' is not null.", action);
    if (missingHandle || missingIn || missingOut)
        raiseSuiteStatus(kOfxStatErrBadHandle);
}

OfxImageEffectHandle effectHandle(const void* handle) {
    return static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
}

/// The instance recorded on the handle, or null (logged).
ImageEffect* retrieveEffectInstance(OfxImageEffectHandle handle) {
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(Private::imageEffectSuite().getPropertySet(handle, &props));
    auto* instance =
        static_cast<ImageEffect*>(PropertySet(props).getPointer(kOfxPropInstanceData, 0, true));
    logError(instance == nullptr, "Instance data handle in effect instance properties is NULL!");
    return instance;
}

/// As above, for the actions that cannot go on without it.
ImageEffect& requireEffectInstance(OfxImageEffectHandle handle) {
    ImageEffect* instance = retrieveEffectInstance(handle);
    if (!instance)
        raiseSuiteStatus(kOfxStatErrBadHandle);
    return *instance;
}

// ---- The per-action work ------------------------------------------------------------------------

class ActualROISetter : public RegionOfInterestSetter {
public:
    ActualROISetter(OfxPropertySetHandle outArgs, const ClipPropNameMap& names)
        : outArgs_(outArgs), names_(names) {}

    void setRegionOfInterest(const Clip& clip, const OfxRectD& region) override {
        auto found = names_.find(clip.getName());
        if (found == names_.end())
            throw Exception::PropertyUnknownToHost(clip.getName());
        const char* name = found->second.c_str();
        outArgs_.setDouble(name, region.x1, 0, true);
        outArgs_.setDouble(name, region.y1, 1, true);
        outArgs_.setDouble(name, region.x2, 2, true);
        outArgs_.setDouble(name, region.y2, 3, true);
        didSomething_ = true;
    }
    bool didSomething() const { return didSomething_; }

private:
    PropertySet outArgs_;
    const ClipPropNameMap& names_;
    bool didSomething_ = false;
};

class ActualSetter : public FramesNeededSetter {
public:
    ActualSetter(OfxPropertySetHandle outArgs, const ClipPropNameMap& names)
        : outArgs_(outArgs), names_(names) {}

    void setFramesNeeded(const Clip& clip, const OfxRangeD& range) override {
        frames_[clip.getName()].push_back(range);
    }

    /// Writes what was collected; true when any clip other than the output was written.
    bool write() {
        bool didSomething = false;
        for (const auto& [clipName, ranges] : frames_) {
            if (clipName == kOfxImageEffectOutputClipName)
                continue;
            auto found = names_.find(clipName);
            if (found == names_.end())
                throw Exception::PropertyUnknownToHost(clipName);
            didSomething = true;
            const char* name = found->second.c_str();
            for (size_t i = 0; i < ranges.size(); ++i) {
                outArgs_.setDouble(name, ranges[i].min, static_cast<int>(2 * i), true);
                outArgs_.setDouble(name, ranges[i].max, static_cast<int>(2 * i + 1), true);
            }
        }
        return didSomething;
    }

private:
    PropertySet outArgs_;
    const ClipPropNameMap& names_;
    std::map<std::string, std::vector<OfxRangeD>> frames_;
};

} // namespace

namespace Private {

bool regionsOfInterestAction(OfxImageEffectHandle handle, OfxPropertySetHandle inArgs,
                             OfxPropertySetHandle outArgs, const std::string& uniqueId) {
    ImageEffect& effect = requireEffectInstance(handle);
    const RegionsOfInterestArgs args = buildRegionsOfInterestArgs(PropertySet(inArgs));
    ImageEffectDescriptor& descriptor = requireDescriptor(uniqueId, effect.getContext());
    ActualROISetter setter(outArgs, descriptor.roiPropNames());
    effect.getRegionsOfInterest(args, setter);
    return setter.didSomething();
}

bool framesNeededAction(OfxImageEffectHandle handle, OfxPropertySetHandle inArgs,
                        OfxPropertySetHandle outArgs, const std::string& uniqueId) {
    ImageEffect& effect = requireEffectInstance(handle);
    const FramesNeededArgs args = buildFramesNeededArgs(PropertySet(inArgs));
    ImageEffectDescriptor& descriptor = requireDescriptor(uniqueId, effect.getContext());
    ActualSetter setter(outArgs, descriptor.frameRangePropNames());
    effect.getFramesNeeded(args, setter);
    return setter.write();
}

void dispatchInstanceChanged(OfxImageEffectHandle handle, OfxPropertySetHandle inArgs) {
    ImageEffect& effect = requireEffectInstance(handle);
    const PropertySet in(inArgs);
    const InstanceChangedArgs args = buildInstanceChangedArgs(in);
    const std::string type = in.getString(kOfxPropType, 0, true);
    const std::string name = in.getString(kOfxPropName, 0, true);
    if (type == kOfxTypeParameter)
        effect.changedParam(args, name);
    else if (type == kOfxTypeClip)
        effect.changedClip(args, name);
    else
        logError(true, "Instance Changed called with unknown type '%s' of object '%s'",
                 type.c_str(), name.c_str());
}

} // namespace Private

namespace {

bool is(const char* action, const char* name) { return std::strcmp(action, name) == 0; }

/// Releases what unload leaves behind: the suites on the last unload, the descriptors, the
/// plug-in record.
void releasePluginState(const std::string& uniqueId) {
    Private::releaseHostSuites();
    auto& cache = descriptorCache();
    auto plugin = cache.find(uniqueId);
    if (plugin != cache.end()) {
        for (auto& entry : plugin->second)
            entry.second.reset();
        plugin->second.clear();
    }
    Private::dropPluginRecord(uniqueId);
}

/// Runs one action; throws on failure. Returns the reply.
OfxStatus runAction(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs, const std::string& uniqueId) {
    PluginFactory* factory = Private::findFactory(uniqueId);
    if (!factory) // only a host calling a stale record gets here
        raiseSuiteStatus(kOfxStatErrBadHandle);
    const OfxImageEffectHandle effect = effectHandle(handle);

    // ---- Module and descriptor actions
    // --------------------------------------------------------------
    if (is(action, kOfxActionLoad)) {
        loadHost();
        factory->load();
        return kOfxStatOK;
    }
    if (is(action, kOfxActionUnload)) {
        checkMainHandles(action, handle, inArgs, outArgs, {N, N, N});
        factory->unload();
        releasePluginState(uniqueId);
        return kOfxStatOK;
    }
    if (is(action, kOfxActionDescribe)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        auto descriptor = std::make_unique<ImageEffectDescriptor>(effect);
        OfxPropertySetHandle props = nullptr;
        raiseSuiteStatus(Private::imageEffectSuite().getPropertySet(effect, &props));
        factory->describe(*descriptor);
        storeDescriptor(uniqueId, EffectContext::None, std::move(descriptor));
        return kOfxStatOK;
    }
    if (is(action, kOfxImageEffectActionDescribeInContext)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        auto descriptor = std::make_unique<ImageEffectDescriptor>(effect);
        const EffectContext context =
            decodeContext(PropertySet(inArgs).getString(kOfxImageEffectPropContext, 0, true));
        OfxPropertySetHandle props = nullptr;
        raiseSuiteStatus(Private::imageEffectSuite().getPropertySet(effect, &props));
        factory->describeInContext(*descriptor, context);
        storeDescriptor(uniqueId, context, std::move(descriptor));
        return kOfxStatOK;
    }
    if (is(action, kOfxActionCreateInstance)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        OfxPropertySetHandle props = nullptr;
        raiseSuiteStatus(Private::imageEffectSuite().getPropertySet(effect, &props));
        const EffectContext context =
            decodeContext(PropertySet(props).getString(kOfxImageEffectPropContext, 0, true));
        ImageEffect* instance = factory->createInstance(effect, context);
        try {
            raiseSuiteStatus(Private::imageEffectSuite().getPropertySet(effect, &props));
        } catch (...) {
            delete instance; // the host will not destroy what it was told failed
            throw;
        }
        return kOfxStatOK;
    }

    // ---- Instance actions
    // ---------------------------------------------------------------------------
    if (is(action, kOfxActionDestroyInstance)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        delete retrieveEffectInstance(effect);
        return kOfxStatOK;
    }
    if (is(action, kOfxImageEffectActionRender)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.render(buildRenderArgs(PropertySet(inArgs)));
        return kOfxStatOK;
    }
    if (is(action, kOfxImageEffectActionBeginSequenceRender)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.beginSequenceRender(buildBeginSequenceArgs(PropertySet(inArgs)));
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionEndSequenceRender)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.endSequenceRender(buildEndSequenceArgs(PropertySet(inArgs)));
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionIsIdentity)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, R});
        ImageEffect& instance = requireEffectInstance(effect);
        const RenderArgs args = buildRenderArgs(PropertySet(inArgs));
        Clip* identityClip = nullptr;
        double identityTime = args.time;
        if (instance.isIdentity(args, identityClip, identityTime) && identityClip) {
            PropertySet out(outArgs);
            out.setString(kOfxPropName, identityClip->getName(), 0, true);
            out.setDouble(kOfxPropTime, identityTime, 0, true);
            return kOfxStatOK;
        }
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionGetRegionOfDefinition)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, R});
        ImageEffect& instance = requireEffectInstance(effect);
        OfxRectD rod{0, 0, 0, 0};
        if (!instance.getRegionOfDefinition(buildRegionOfDefinitionArgs(PropertySet(inArgs)), rod))
            return kOfxStatReplyDefault;
        PropertySet out(outArgs);
        out.setDouble(kOfxImageEffectPropRegionOfDefinition, rod.x1, 0, true);
        out.setDouble(kOfxImageEffectPropRegionOfDefinition, rod.y1, 1, true);
        out.setDouble(kOfxImageEffectPropRegionOfDefinition, rod.x2, 2, true);
        out.setDouble(kOfxImageEffectPropRegionOfDefinition, rod.y2, 3, true);
        return kOfxStatOK;
    }
    if (is(action, kOfxImageEffectActionGetRegionsOfInterest)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, R});
        return Private::regionsOfInterestAction(effect, inArgs, outArgs, uniqueId)
                   ? kOfxStatOK
                   : kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionGetFramesNeeded)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, R});
        return Private::framesNeededAction(effect, inArgs, outArgs, uniqueId)
                   ? kOfxStatOK
                   : kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionGetClipPreferences)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, R});
        ImageEffect& instance = requireEffectInstance(effect);
        ImageEffectDescriptor& descriptor = requireDescriptor(uniqueId, instance.getContext());
        ClipPreferencesWriter writer(outArgs, descriptor.depthPropNames(),
                                     descriptor.componentsPropNames(), descriptor.parPropNames());
        instance.getClipPreferences(writer);
        return writer.changed() ? kOfxStatOK : kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionPurgeCaches)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        requireEffectInstance(effect).purgeCaches();
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionSyncPrivateData)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        requireEffectInstance(effect).syncPrivateData();
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionGetTimeDomain)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, R});
        ImageEffect& instance = requireEffectInstance(effect);
        logError(instance.getContext() != EffectContext::General,
                 "Calling kOfxImageEffectActionGetTimeDomain on an effect that is not a general "
                 "context effect.");
        OfxRangeD range{0, 0};
        if (!instance.getTimeDomain(range))
            return kOfxStatReplyDefault;
        PropertySet out(outArgs);
        out.setDouble(kOfxImageEffectPropFrameRange, range.min, 0, true);
        out.setDouble(kOfxImageEffectPropFrameRange, range.max, 1, true);
        return kOfxStatOK;
    }
    if (is(action, kOfxActionBeginInstanceChanged)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.beginChanged(
            decodeChangeReason(PropertySet(inArgs).getString(kOfxPropChangeReason, 0, true)));
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionInstanceChanged)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        Private::dispatchInstanceChanged(effect, inArgs);
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionEndInstanceChanged)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.endChanged(
            decodeChangeReason(PropertySet(inArgs).getString(kOfxPropChangeReason, 0, true)));
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionBeginInstanceEdit)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        requireEffectInstance(effect).beginEdit();
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxActionEndInstanceEdit)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        requireEffectInstance(effect).endEdit();
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionVegasKeyframeUplift)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, R, N});
        ImageEffect& instance = requireEffectInstance(effect);
        instance.upliftVegasKeyframes(buildKeyframeUpliftArgs(PropertySet(inArgs)));
        return kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionInvokeHelp)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        return requireEffectInstance(effect).invokeHelp() ? kOfxStatOK : kOfxStatReplyDefault;
    }
    if (is(action, kOfxImageEffectActionInvokeAbout)) {
        checkMainHandles(action, handle, inArgs, outArgs, {R, N, N});
        return requireEffectInstance(effect).invokeAbout() ? kOfxStatOK : kOfxStatReplyDefault;
    }

    logError(true, "Unknown action '%s'.", action);
    return kOfxStatReplyDefault;
}

void printCaught(const char* text) noexcept {
    try {
        std::cout << text << std::endl;
    } catch (...) { // a host that made its streams throw still gets its status
    }
}

} // namespace

OfxStatus dispatchAction(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                         OfxPropertySetHandle outArgs, const char* uniqueId) noexcept {
    const char* shownAction = action ? action : "(null)";
    logPrint("********************************************************************************");
    logPrint("START mainEntry (%s)", shownAction);
    logIndent();
    OfxStatus reply = kOfxStatReplyDefault;
    try {
        if (!action)
            logError(true, "Requested action was a null pointer.");
        else
            reply = runAction(action, handle, inArgs, outArgs, uniqueId ? uniqueId : "");
    } catch (const Exception::Suite& e) {
        printCaught("Caught OFX::Exception::Suite");
        reply = e.status();
    } catch (const Exception::HostInadequate&) {
        printCaught("Caught OFX::Exception::HostInadequate");
        reply = kOfxStatErrMissingHostFeature;
    } catch (const Exception::PropertyUnknownToHost&) {
        printCaught("Caught OFX::Exception::PropertyUnknownToHost");
        reply = kOfxStatErrMissingHostFeature;
    } catch (const std::bad_alloc&) {
        reply = kOfxStatErrMemory;
    } catch (...) {
        printCaught("Caught Unknown exception");
        reply = kOfxStatFailed;
    }
    logOutdent();
    logPrint("STOP mainEntry (%s)\n", shownAction);
    return reply;
}

} // namespace OFX
