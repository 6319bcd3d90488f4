#include "host.h"

#include "suites.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ofxhost {

namespace {

// Live hosts, so fetchSuite and clipReleaseImage can find the host behind a bare handle.
std::mutex gRegistryMutex;
std::vector<Host*> gHosts;
std::atomic<Host*> gCurrent{nullptr};

thread_local OfxPointD tlRenderScale{1.0, 1.0};

// The Vegas and HWnd suites are fetched and kept but never called, so any distinct non-null
// address will do.
const char kVegasProgressSuite[] = "vegas-progress";
const char kVegasStereoSuite[] = "vegas-stereo";
const char kVegasKeyframeSuite[] = "vegas-keyframe";
const char kHWndInteractSuite[] = "hwnd-interact";

struct ServedSuite {
    const char* name;
    int version;
    const void* (*table)();
};

const ServedSuite kServed[] = {
    {kOfxImageEffectSuite, 1, [] { return static_cast<const void*>(imageEffectSuite()); }},
    {kOfxPropertySuite, 1, [] { return static_cast<const void*>(propertySuite()); }},
    {kOfxParameterSuite, 1, [] { return static_cast<const void*>(parameterSuite()); }},
    {kOfxMemorySuite, 1, [] { return static_cast<const void*>(memorySuite()); }},
    {kOfxMultiThreadSuite, 1, [] { return static_cast<const void*>(multiThreadSuite()); }},
    {kOfxMessageSuite, 1, [] { return static_cast<const void*>(messageSuiteV1()); }},
    {kOfxMessageSuite, 2, [] { return static_cast<const void*>(messageSuiteV2()); }},
    {kOfxProgressSuite, 1, [] { return static_cast<const void*>(progressSuite()); }},
    {kOfxTimeLineSuite, 1, [] { return static_cast<const void*>(timeLineSuite()); }},
    {kOfxInteractSuite, 1, [] { return static_cast<const void*>(interactSuite()); }},
    {kOfxVegasProgressSuite, 1, [] { return static_cast<const void*>(kVegasProgressSuite); }},
    {kOfxVegasStereoscopicImageEffectSuite, 1,
     [] { return static_cast<const void*>(kVegasStereoSuite); }},
    {kOfxVegasKeyframeSuite, 1, [] { return static_cast<const void*>(kVegasKeyframeSuite); }},
    {kOfxHWndInteractSuite, 1, [] { return static_cast<const void*>(kHWndInteractSuite); }},
};

} // namespace

Host::Host() : props_("host", &faults_) {
    ofxHost_.host = props_.handle();
    ofxHost_.fetchSuite = &Host::fetchSuiteEntry;
    fillHostProperties();
    // Plug-ins read the host's description; writing to it is a bug worth an error.
    props_.setStrict(true);
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gHosts.push_back(this);
    gCurrent = this;
}

Host::~Host() {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gHosts.erase(std::remove(gHosts.begin(), gHosts.end(), this), gHosts.end());
    if (gCurrent == this)
        gCurrent = gHosts.empty() ? nullptr : gHosts.back();
}

void Host::fillHostProperties() {
    PropertySet& p = props_;
    p.setString(kOfxPropType, kOfxTypeImageEffectHost);
    p.setString(kOfxPropName, "nimbra.ofxhost");
    p.setString(kOfxPropLabel, "Nimbra test host");
    p.setInts(kOfxPropVersion, {1, 0, 0});
    p.setString(kOfxPropVersionLabel, "1.0");
    p.setInt(kOfxImageEffectHostPropIsBackground, 0);
    p.setInt(kOfxImageEffectPropSupportsOverlays, 0);
    p.setInt(kOfxImageEffectPropSupportsMultiResolution, 1);
    p.setInt(kOfxImageEffectPropSupportsTiles, 1);
    p.setInt(kOfxImageEffectPropTemporalClipAccess, 0);
    p.setInt(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    p.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
    p.setInt(kOfxImageEffectPropSetableFrameRate, 0);
    p.setInt(kOfxImageEffectPropSetableFielding, 0);
    p.setInt(kOfxParamHostPropSupportsStringAnimation, 0);
    p.setInt(kOfxParamHostPropSupportsCustomInteract, 0);
    p.setInt(kOfxParamHostPropSupportsChoiceAnimation, 0);
    p.setInt(kOfxParamHostPropSupportsBooleanAnimation, 1);
    p.setInt(kOfxParamHostPropSupportsCustomAnimation, 0);
    p.setInt(kOfxParamHostPropMaxParameters, -1);
    p.setInt(kOfxParamHostPropMaxPages, 0);
    p.setInts(kOfxParamHostPropPageRowColumnCount, {0, 0});
    p.setStrings(kOfxImageEffectPropSupportedComponents,
                 {kOfxImageComponentRGBA, kOfxImageComponentAlpha});
    p.setStrings(kOfxImageEffectPropSupportedContexts,
                 {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
    p.setStrings(kOfxImageEffectPropSupportedPixelDepths,
                 {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat});
    p.setInts(kOfxPropAPIVersion, {1, 4});
}

void Host::setFlavour(Flavour flavour) {
    flavour_ = flavour;
    if (flavour == Flavour::MltLike) {
        props_.remove(kOfxImageEffectPropSupportedContexts);
        props_.setLenientDimension(true);
    } else {
        props_.setStrings(kOfxImageEffectPropSupportedContexts,
                          {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
        props_.setLenientDimension(false);
        props_.remove(kOfxImageEffectPropContext);
    }
}

void Host::setAbortHook(std::function<int(OfxImageEffectHandle)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    abortHook_ = std::move(hook);
}

int Host::callAbort(OfxImageEffectHandle effect) {
    ++abortCalls_;
    std::function<int(OfxImageEffectHandle)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = abortHook_;
    }
    return hook ? hook(effect) : 0;
}

std::vector<SuiteRequest> Host::suiteRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return suiteRequests_;
}

std::vector<Message> Host::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<std::string> Host::progressLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
}

std::vector<std::string> Host::misuse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return misuse_;
}

void Host::noteMisuse(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    misuse_.push_back(what);
}

void Host::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    suiteRequests_.clear();
    messages_.clear();
    progress_.clear();
    misuse_.clear();
}

void Host::recordMessage(Message message) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(message));
}

void Host::recordProgress(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_.push_back(event);
}

std::shared_ptr<Image> Host::makeImage(OfxRectI bounds, Components components, Depth depth) const {
    RowOrder order = flavour_ == Flavour::MltLike ? RowOrder::TopDown : RowOrder::BottomUp;
    return std::make_shared<Image>(bounds, components, depth, order);
}

int Host::memoryBlocksOutstanding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(blocks_.size());
}

void Host::trackBlock(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.insert(block);
}

bool Host::untrackBlock(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.erase(block) != 0;
}

Effect& Host::createDescriptor() {
    auto effect = std::make_unique<Effect>(*this, EffectKind::Descriptor, "", nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    effects_.push_back(std::move(effect));
    return *effects_.back();
}

Effect& Host::createContextDescriptor(const Effect& global, const std::string& context) {
    auto effect = std::make_unique<Effect>(*this, EffectKind::ContextDescriptor, context, &global);
    std::lock_guard<std::mutex> lock(mutex_);
    effects_.push_back(std::move(effect));
    return *effects_.back();
}

Effect& Host::createInstance(const Effect& contextDescriptor) {
    auto effect = std::make_unique<Effect>(*this, EffectKind::Instance, contextDescriptor.context(),
                                           &contextDescriptor);
    std::lock_guard<std::mutex> lock(mutex_);
    effects_.push_back(std::move(effect));
    return *effects_.back();
}

void Host::destroy(Effect& effect) {
    std::unique_ptr<Effect> doomed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = effects_.begin(); it != effects_.end(); ++it) {
            if (it->get() == &effect) {
                doomed = std::move(*it);
                effects_.erase(it);
                break;
            }
        }
    }
}

void Host::setTime(double time) {
    std::lock_guard<std::mutex> lock(mutex_);
    time_ = time;
}

double Host::time() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return time_;
}

void Host::setTimeBounds(double first, double last) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeBounds_ = OfxRangeD{first, last};
}

OfxRangeD Host::timeBounds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeBounds_;
}

Host* Host::current() { return gCurrent; }

void Host::makeCurrent() { gCurrent = this; }

void Host::setThreadRenderScale(OfxPointD scale) { tlRenderScale = scale; }

OfxPointD Host::threadRenderScale() { return tlRenderScale; }

std::optional<OfxStatus> Host::injected(const char* member) const {
    return faults_.functionFault(member);
}

const void* Host::fetchSuiteEntry(OfxPropertySetHandle host, const char* name, int version) {
    Host* self = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRegistryMutex);
        for (Host* h : gHosts)
            if (h->props_.handle() == host)
                self = h;
    }
    if (self == nullptr) {
        if (Host* fallback = current())
            fallback->noteMisuse("fetchSuite: first argument is not the OfxHost's host set");
        return nullptr;
    }
    return self->fetchSuite(name, version);
}

const void* Host::fetchSuite(const char* name, int version) {
    const void* table = nullptr;
    if (name != nullptr && !faults_.isWithheld(name, version)) {
        for (const ServedSuite& s : kServed)
            if (s.version == version && std::strcmp(s.name, name) == 0)
                table = s.table();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    suiteRequests_.push_back({name ? name : "(null)", version, table != nullptr});
    return table;
}

OfxPropertySetHandle Host::fetchImage(Clip& clip, double time, const OfxRectD* region) {
    (void)region; // The whole image is always handed out; a host may give more than asked.
    std::shared_ptr<Image> image = clip.imageAt(time);
    if (!image)
        return nullptr;
    PropertySet& clipProps = clip.props();
    OfxPointD scale = threadRenderScale();
    double par = clipProps.has(kOfxImagePropPixelAspectRatio)
                     ? clipProps.getDouble(kOfxImagePropPixelAspectRatio)
                     : 1.0;
    const OfxRectI& b = image->bounds();
    // Canonical RoD back to pixels; the epsilon keeps exact round trips from drifting a pixel.
    OfxRectD rod = clip.regionOfDefinition(time, scale);
    const double eps = 1e-9;
    std::vector<int> rodPixels = {
        static_cast<int>(std::floor(rod.x1 * scale.x / par + eps)),
        static_cast<int>(std::floor(rod.y1 * scale.y + eps)),
        static_cast<int>(std::ceil(rod.x2 * scale.x / par - eps)),
        static_cast<int>(std::ceil(rod.y2 * scale.y - eps)),
    };

    unsigned serial = ++imageSerial_;
    auto props = std::make_unique<PropertySet>(
        "image " + clip.name() + " #" + std::to_string(serial), &faults_);
    PropertySet& p = *props;
    p.setString(kOfxPropType, kOfxTypeImage);
    p.setPointer(kOfxImagePropData, image->data());
    p.setInt(kOfxImagePropRowBytes, image->rowBytes());
    p.setInts(kOfxImagePropBounds, {b.x1, b.y1, b.x2, b.y2});
    p.setInts(kOfxImagePropRegionOfDefinition, rodPixels);
    p.setString(kOfxImageEffectPropComponents, toString(image->components()));
    p.setString(kOfxImageEffectPropPixelDepth, toString(image->depth()));
    p.setString(kOfxImageEffectPropPreMultiplication,
                clipProps.has(kOfxImageEffectPropPreMultiplication)
                    ? clipProps.getString(kOfxImageEffectPropPreMultiplication)
                    : std::string(kOfxImagePreMultiplied));
    p.setDouble(kOfxImagePropPixelAspectRatio, par);
    p.setString(kOfxImagePropField, kOfxImageFieldNone);
    p.setString(kOfxImagePropUniqueIdentifier, "ofxhost-image-" + std::to_string(serial));
    p.setDoubles(kOfxImageEffectPropRenderScale, {scale.x, scale.y});
    p.copyFrom(clip.imageOverrides());
    p.setStrict(true);

    OfxPropertySetHandle handle = p.handle();
    std::lock_guard<std::mutex> lock(mutex_);
    images_.emplace(&p, LiveImage{std::move(props), std::move(image)});
    ++imagesFetched_;
    return handle;
}

bool Host::releaseImage(OfxPropertySetHandle image) {
    LiveImage doomed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = images_.find(reinterpret_cast<PropertySet*>(image));
        if (it == images_.end())
            return false;
        doomed = std::move(it->second);
        images_.erase(it);
        ++imagesReleased_;
    }
    return true;
}

Host* Host::imageOwner(OfxPropertySetHandle image) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    for (Host* h : gHosts) {
        std::lock_guard<std::mutex> hostLock(h->mutex_);
        if (h->images_.count(reinterpret_cast<PropertySet*>(image)) != 0)
            return h;
    }
    return nullptr;
}

} // namespace ofxhost
