// The host: the OfxHost struct, the suites it serves, and everything tests inspect afterwards.
#pragma once

#include "effect.h"
#include "faults.h"
#include "images.h"
#include "ofx_api.h"
#include "property_store.h"

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace ofxhost {

/// Real-host behaviours the host can imitate. MltLike acts as MLT does: Load again before
/// every Describe, the host property set (carrying the context) as DescribeInContext in-args,
/// no OfxImageEffectPropSupportedContexts on the host (dimension 0), and unpremultiplied
/// 8-bit RGBA clips whose images (from makeImage) have negative rowBytes.
enum class Flavour {
    Capable, ///< A host with the capabilities listed in the host property set.
    MltLike, ///< MLT's habits, listed above.
};

/// One fetchSuite call.
struct SuiteRequest {
    std::string name;
    int version;
    bool served; ///< False when the host answered null.
};

/// One message-suite call.
struct Message {
    void* handle;
    std::string type;
    std::string id;
    std::string text;
    bool persistent;
};

/// The in-process host. Construct it before loading a plug-in and keep it alive until the
/// plug-in is unloaded.
///
/// The suites are C tables without a user pointer: the functions taking a handle reach the
/// host through a back pointer in the handle's object; those without one (multi-thread, the
/// memory suite, a null message handle) use Host::current(), the most recently constructed
/// or made-current live host.
class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    /// The struct handed to setHost (and OfxSetHost).
    OfxHost* ofxHost() { return &ofxHost_; }
    /// The host property set; edit it before loading.
    PropertySet& properties() { return props_; }
    /// Injected faults.
    FaultPlan& faults() { return faults_; }

    /// Switches behaviour; also edits the host property set. Call before loading.
    void setFlavour(Flavour flavour);
    /// Current behaviour.
    Flavour flavour() const { return flavour_; }

    /// Answer of multiThreadNumCPUs (default 2).
    void setNumCPUs(unsigned n) { numCPUs_ = n; }
    /// Answer of multiThreadNumCPUs.
    unsigned numCPUs() const { return numCPUs_; }
    /// Number of multiThread calls so far.
    unsigned multiThreadCalls() const { return multiThreadCalls_; }

    /// Called by the abort suite function; the default answers 0.
    void setAbortHook(std::function<int(OfxImageEffectHandle)> hook);
    /// Number of abort calls so far.
    int abortCalls() const { return abortCalls_; }

    /// Every fetchSuite call, in order.
    std::vector<SuiteRequest> suiteRequests() const;
    /// Every message-suite call, in order.
    std::vector<Message> messages() const;
    /// Progress-suite calls as "start <label>", "update <fraction>" and "end".
    std::vector<std::string> progressLog() const;
    /// Descriptions of every ABI misuse the host noticed (bad release, wrong handle kind, ...).
    std::vector<std::string> misuse() const;
    /// Records an ABI misuse.
    void noteMisuse(const std::string& what);
    /// Forgets suite requests, messages, progress and misuse records.
    void clearRecords();

    /// New zeroed image; row order follows the flavour (MltLike: negative rowBytes).
    std::shared_ptr<Image> makeImage(OfxRectI bounds, Components components, Depth depth) const;
    /// Successful clipGetImage calls so far.
    int imagesFetched() const { return imagesFetched_; }
    /// Successful clipReleaseImage calls so far.
    int imagesReleased() const { return imagesReleased_; }
    /// Images fetched and not yet released.
    int imagesOutstanding() const { return imagesFetched_ - imagesReleased_; }
    /// True when every fetched image has been released.
    bool allImagesReleased() const { return imagesOutstanding() == 0; }
    /// Memory-suite and image-memory blocks not yet freed.
    int memoryBlocksOutstanding() const;

    /// Creates the global descriptor passed to Describe.
    Effect& createDescriptor();
    /// Creates a descriptor for DescribeInContext, seeded from the global descriptor.
    Effect& createContextDescriptor(const Effect& global, const std::string& context);
    /// Creates an instance from a context descriptor (clips, params, default formats).
    Effect& createInstance(const Effect& contextDescriptor);
    /// Destroys a host-side effect object (sends no action).
    void destroy(Effect& effect);

    /// Time answered by the time-line suite and used by paramGetValue.
    void setTime(double time);
    /// Current time-line time.
    double time() const;
    /// Bounds answered by getTimeBounds and used as clips' default frame range.
    void setTimeBounds(double first, double last);
    /// Time-line bounds.
    OfxRangeD timeBounds() const;

    /// The host whose functions run when a suite call has no handle to go by.
    static Host* current();
    /// Makes this host current().
    void makeCurrent();
    /// Render scale stamped on images fetched by the calling thread.
    static void setThreadRenderScale(OfxPointD scale);
    /// Render scale of the calling thread (1, 1 by default).
    static OfxPointD threadRenderScale();

    // ---- Used by the suite implementations -------------------------------------------------
    /// fetchSuite's answer, recorded.
    const void* fetchSuite(const char* name, int version);
    /// Injected status for suite member `member`, if any.
    std::optional<OfxStatus> injected(const char* member) const;
    /// Builds a fresh image property set for a clip instance; null when it has no image.
    OfxPropertySetHandle fetchImage(Clip& clip, double time, const OfxRectD* region);
    /// Releases an image handle; false when it is not a live image of this host.
    bool releaseImage(OfxPropertySetHandle image);
    /// The host owning a live image handle, or null.
    static Host* imageOwner(OfxPropertySetHandle image);
    /// Runs the abort hook and counts the call.
    int callAbort(OfxImageEffectHandle effect);
    /// Counts a multiThread call.
    void countMultiThread() { ++multiThreadCalls_; }
    /// Records a message.
    void recordMessage(Message message);
    /// Records a progress event.
    void recordProgress(const std::string& event);
    /// Tracks a memory block handed to the plug-in.
    void trackBlock(void* block);
    /// Forgets a block; false when it was not tracked.
    bool untrackBlock(void* block);

private:
    static const void* fetchSuiteEntry(OfxPropertySetHandle host, const char* name, int version);
    void fillHostProperties();

    OfxHost ofxHost_;
    FaultPlan faults_;
    PropertySet props_;
    std::atomic<Flavour> flavour_{Flavour::Capable};
    std::atomic<unsigned> numCPUs_{2};
    std::atomic<unsigned> multiThreadCalls_{0};
    std::atomic<int> abortCalls_{0};
    std::atomic<int> imagesFetched_{0};
    std::atomic<int> imagesReleased_{0};
    std::atomic<unsigned> imageSerial_{0};
    std::function<int(OfxImageEffectHandle)> abortHook_;

    mutable std::mutex mutex_;
    std::vector<SuiteRequest> suiteRequests_;
    std::vector<Message> messages_;
    std::vector<std::string> progress_;
    std::vector<std::string> misuse_;
    std::list<std::unique_ptr<Effect>> effects_;
    std::set<void*> blocks_;
    double time_ = 0.0;
    OfxRangeD timeBounds_{0.0, 100.0};

    struct LiveImage {
        std::unique_ptr<PropertySet> props;
        std::shared_ptr<Image> image;
    };
    std::map<PropertySet*, LiveImage> images_;
};

} // namespace ofxhost
