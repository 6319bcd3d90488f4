// Driving one plug-in through its actions with in-args and out-args built as a host does.
#pragma once

#include "effect.h"
#include "host.h"
#include "ofx_api.h"
#include "property_store.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ofxhost {

/// Edits an action's in-args after the host filled them (to add or spoil properties).
using ArgsEditor = std::function<void(PropertySet&)>;

/// Status and canonical rectangle (GetRegionOfDefinition).
struct RectResult {
    OfxStatus status;
    OfxRectD rect;
};

/// Status and per-input-clip RoIs read back from the out-args (GetRegionsOfInterest).
struct RoiResult {
    OfxStatus status;
    std::map<std::string, OfxRectD> rois;
};

/// Status and per-input-clip frame ranges (GetFramesNeeded).
struct FramesResult {
    OfxStatus status;
    std::map<std::string, std::vector<OfxRangeD>> ranges;
};

/// Status, clip and time (IsIdentity; OK means "is an identity").
struct IdentityResult {
    OfxStatus status;
    std::string clip;
    double time;
};

/// Status and frame range (GetTimeDomain).
struct RangeResult {
    OfxStatus status;
    OfxRangeD range;
};

/// Status and the whole out-args set (GetClipPreferences).
struct ArgsResult {
    OfxStatus status;
    std::unique_ptr<PropertySet> outArgs;
};

/// Status and the new instance (null unless the plug-in accepted it).
struct InstanceResult {
    OfxStatus status;
    Effect* instance;
};

/// One plug-in of a loaded module, bound to a host. Not thread-safe for setup; render,
/// isIdentity and the other per-frame actions may run concurrently on different threads.
class PluginSession {
public:
    PluginSession(Host& host, OfxPlugin* plugin);
    /// Sends DestroyInstance for every instance still alive, then destroys the host-side
    /// descriptors and instances (no other action is sent).
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    /// The host.
    Host& host() { return host_; }
    /// The plug-in record.
    OfxPlugin* plugin() const { return plugin_; }
    /// Path stored in descriptors' OfxPluginPropFilePath (the bundle directory).
    void setFilePath(const std::string& path) { filePath_ = path; }
    /// Optional OfxImageEffectPropRenderQuality string sent with Render ("" = not sent).
    void setRenderQuality(const std::string& quality) { renderQuality_ = quality; }

    /// Calls plugin->setHost with the host's OfxHost.
    void setHost();
    /// Load (calls setHost first if that has not happened).
    OfxStatus load();
    /// Unload.
    OfxStatus unload();
    /// Describe on a fresh global descriptor (MltLike: Load is sent again first).
    OfxStatus describe();
    /// DescribeInContext on a fresh context descriptor (needs describe()).
    OfxStatus describeInContext(const std::string& context);
    /// The global descriptor, or null before describe().
    Effect* descriptor() { return descriptor_; }
    /// The descriptor of `context`, or null before describeInContext(context).
    Effect* contextDescriptor(const std::string& context);

    /// New instance of a described context plus CreateInstance; a refused instance is
    /// destroyed again and the result's instance is null.
    InstanceResult createInstance(const std::string& context);
    /// DestroyInstance, then the host-side object goes.
    OfxStatus destroyInstance(Effect& instance);

    /// Render of `window` (pixel coordinates) at `time`.
    OfxStatus render(Effect& instance, double time, OfxRectI window,
                     OfxPointD renderScale = {1.0, 1.0},
                     const std::string& field = kOfxImageFieldNone, const ArgsEditor& extra = {});
    /// BeginSequenceRender over `frames` (inclusive).
    OfxStatus beginSequenceRender(Effect& instance, OfxRangeD frames, double step = 1.0,
                                  OfxPointD renderScale = {1.0, 1.0}, bool interactive = false,
                                  const ArgsEditor& extra = {});
    /// EndSequenceRender over `frames` (inclusive).
    OfxStatus endSequenceRender(Effect& instance, OfxRangeD frames, double step = 1.0,
                                OfxPointD renderScale = {1.0, 1.0}, bool interactive = false,
                                const ArgsEditor& extra = {});
    /// GetRegionOfDefinition; out-args pre-filled with the Source clip's RoD (or zeros).
    RectResult regionOfDefinition(Effect& instance, double time,
                                  OfxPointD renderScale = {1.0, 1.0});
    /// GetRegionsOfInterest; every input clip's RoI is pre-filled with `roi`.
    RoiResult regionsOfInterest(Effect& instance, double time, OfxRectD roi,
                                OfxPointD renderScale = {1.0, 1.0});
    /// GetFramesNeeded; every input clip is pre-filled with [time, time].
    FramesResult framesNeeded(Effect& instance, double time);
    /// IsIdentity; out-args pre-filled with OfxPropName "" and OfxPropTime `time`.
    IdentityResult isIdentity(Effect& instance, double time, OfxRectI window,
                              OfxPointD renderScale = {1.0, 1.0},
                              const std::string& field = kOfxImageFieldNone);
    /// GetClipPreferences; out-args pre-filled from every clip's current format.
    ArgsResult clipPreferences(Effect& instance);
    /// GetTimeDomain; out-args pre-filled with the host's time bounds.
    RangeResult getTimeDomain(Effect& instance);
    /// InstanceChanged for a param ("OfxTypeParameter") or clip ("OfxTypeClip").
    OfxStatus instanceChanged(Effect& instance, const std::string& type, const std::string& name,
                              const std::string& reason = kOfxChangeUserEdited, double time = 0.0,
                              OfxPointD renderScale = {1.0, 1.0});
    /// BeginInstanceChanged.
    OfxStatus beginInstanceChanged(Effect& instance,
                                   const std::string& reason = kOfxChangeUserEdited);
    /// EndInstanceChanged.
    OfxStatus endInstanceChanged(Effect& instance,
                                 const std::string& reason = kOfxChangeUserEdited);
    /// PurgeCaches.
    OfxStatus purgeCaches(Effect& instance);
    /// SyncPrivateData.
    OfxStatus syncPrivateData(Effect& instance);
    /// Any action, passed straight to mainEntry (and logged).
    OfxStatus action(const char* name, const void* handle, OfxPropertySetHandle inArgs,
                     OfxPropertySetHandle outArgs);
    /// Every action sent so far, in order.
    std::vector<std::string> actionLog() const;

private:
    std::unique_ptr<PropertySet> args(const std::string& label) const;
    std::vector<std::string> inputClips(Effect& instance) const;
    OfxStatus sequenceAction(const char* name, Effect& instance, OfxRangeD frames, double step,
                             OfxPointD renderScale, bool interactive, const ArgsEditor& extra);

    Host& host_;
    OfxPlugin* plugin_;
    bool hostSet_ = false;
    std::string filePath_;
    std::string renderQuality_;
    Effect* descriptor_ = nullptr;
    std::map<std::string, Effect*> contexts_;
    std::vector<Effect*> instances_;
    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
};

} // namespace ofxhost
