#include "core.h"

#include "image_effect.h"
#include "properties.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>

namespace OFX {

// ---- Status names and exceptions ----------------------------------------------------------------

const char* statusName(int status) {
    switch (status) {
    case kOfxStatOK:
        return "kOfxStatOK";
    case kOfxStatFailed:
        return "kOfxStatFailed";
    case kOfxStatErrFatal:
        return "kOfxStatErrFatal";
    case kOfxStatErrUnknown:
        return "kOfxStatErrUnknown";
    case kOfxStatErrMissingHostFeature:
        return "kOfxStatErrMissingHostFeature";
    case kOfxStatErrUnsupported:
        return "kOfxStatErrUnsupported";
    case kOfxStatErrExists:
        return "kOfxStatErrExists";
    case kOfxStatErrFormat:
        return "kOfxStatErrFormat";
    case kOfxStatErrMemory:
        return "kOfxStatErrMemory";
    case kOfxStatErrBadHandle:
        return "kOfxStatErrBadHandle";
    case kOfxStatErrBadIndex:
        return "kOfxStatErrBadIndex";
    case kOfxStatErrValue:
        return "kOfxStatErrValue";
    case kOfxStatReplyYes:
        return "kOfxStatReplyYes";
    case kOfxStatReplyNo:
        return "kOfxStatReplyNo";
    case kOfxStatReplyDefault:
        return "kOfxStatReplyDefault";
    case kOfxStatErrImageFormat:
        return "kOfxStatErrImageFormat";
    default:
        return "UNKNOWN STATUS CODE";
    }
}

namespace Exception {
Suite::~Suite() = default;
const char* Suite::what() const noexcept { return statusName(status_); }
HostInadequate::~HostInadequate() = default;
PropertyUnknownToHost::~PropertyUnknownToHost() = default;
PropertyValueIllegalToHost::~PropertyValueIllegalToHost() = default;
TypeRequest::~TypeRequest() = default;
} // namespace Exception

void raiseSuiteStatus(OfxStatus status) {
    switch (status) {
    case kOfxStatOK:
    case kOfxStatReplyYes:
    case kOfxStatReplyNo:
    case kOfxStatReplyDefault:
        return;
    case kOfxStatErrMemory:
        throw std::bad_alloc();
    default:
        std::cout << "Threw suite exception!" << std::endl;
        throw Exception::Suite(status);
    }
}

// ---- Diagnostic log -----------------------------------------------------------------------------

namespace {

std::string initialLogFileName() {
    const char* name = std::getenv("OFX_PLUGIN_LOGFILE");
    return name ? std::string(name) : std::string("ofxTestLog.txt");
}

const std::string gLogFileName = initialLogFileName();

// Render threads log at once, so both are atomic; stdio serialises the writes themselves.
std::atomic<std::FILE*> gLogStream{nullptr};
std::atomic<int> gIndentLevel{0};

#ifdef NIMBRA_DIAGNOSTIC_LOG
struct DiagnosticLogOpener {
    // Binary: a text-mode stream on Windows would end every line with CR LF.
    DiagnosticLogOpener() { gLogStream = std::fopen(gLogFileName.c_str(), "wb"); }
    ~DiagnosticLogOpener() {
        if (std::FILE* stream = gLogStream.exchange(nullptr))
            std::fclose(stream);
    }
};
const DiagnosticLogOpener gDiagnosticLogOpener;
#endif

// Never throws: the log must not be the reason an action fails.
void writeLine(std::FILE* stream, const char* prefix, const char* format,
               std::va_list args) noexcept {
    try {
        std::string line;
        for (int i = gIndentLevel.load(std::memory_order_relaxed); i > 0; --i)
            line += "    ";
        line += prefix;
        char buffer[512];
        std::va_list copy;
        va_copy(copy, args);
        const int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
        va_end(copy);
        if (length >= static_cast<int>(sizeof buffer)) {
            std::string big(static_cast<size_t>(length) + 1, '\0');
            std::vsnprintf(&big[0], big.size(), format, args);
            big.resize(static_cast<size_t>(length));
            line += big;
        } else if (length > 0) {
            line.append(buffer, static_cast<size_t>(length));
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fflush(stream);
    } catch (...) {
    }
}

} // namespace

const std::string& logFileName() { return gLogFileName; }

void logPrint(const char* format, ...) {
    std::FILE* stream = gLogStream.load(std::memory_order_relaxed);
    if (!stream)
        return;
    std::va_list args;
    va_start(args, format);
    writeLine(stream, "", format, args);
    va_end(args);
}

void logWarning(bool condition, const char* format, ...) {
    std::FILE* stream = gLogStream.load(std::memory_order_relaxed);
    if (!stream || !condition)
        return;
    std::va_list args;
    va_start(args, format);
    writeLine(stream, "WARNING : ", format, args);
    va_end(args);
}

void logError(bool condition, const char* format, ...) {
    std::FILE* stream = gLogStream.load(std::memory_order_relaxed);
    if (!stream || !condition)
        return;
    std::va_list args;
    va_start(args, format);
    writeLine(stream, "ERROR : ", format, args);
    va_end(args);
}

void logIndent() { gIndentLevel.fetch_add(1, std::memory_order_relaxed); }
void logOutdent() { gIndentLevel.fetch_sub(1, std::memory_order_relaxed); }

namespace Private {
void setLogStream(std::FILE* stream) { gLogStream = stream; }
int logIndentLevel() { return gIndentLevel.load(); }
} // namespace Private

// ---- Registry and exported entry points ---------------------------------------------------------

namespace {

struct Registry {
    PluginFactoryArray factories;
    /// One slot per factory; null: not built yet, or dropped at unload.
    std::vector<std::unique_ptr<OfxPlugin>> pluginRecords;
    /// Records dropped at unload stay alive until the module goes away: a host may still
    /// hold one, and records are small.
    std::vector<std::unique_ptr<OfxPlugin>> droppedRecords;
    std::map<std::string, std::pair<PluginFactory*, OfxPlugin*>> pluginsByUid;
    bool registryReady = false;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

OfxHost* gHostPointer = nullptr;

void setHostEntry(OfxHost* host) { setHost(host); }

std::unique_ptr<OfxPlugin> buildPluginRecord(const PluginFactory& factory) {
    auto record = std::make_unique<OfxPlugin>();
    record->pluginApi = kOfxImageEffectPluginApi;
    record->apiVersion = kOfxImageEffectPluginApiVersion;
    record->pluginIdentifier = factory.getId().c_str();
    record->pluginVersionMajor = factory.getMajorVersion();
    record->pluginVersionMinor = factory.getMinorVersion();
    record->setHost = &setHostEntry;
    record->mainEntry = factory.getMainEntry();
    return record;
}

void installRecord(Registry& reg, size_t slot) {
    PluginFactory* factory = reg.factories[slot];
    std::unique_ptr<OfxPlugin> record = buildPluginRecord(*factory);
    reg.pluginsByUid[factory->getUid()] = {factory, record.get()};
    reg.pluginRecords[slot] = std::move(record);
}

void initRegistry() {
    Registry& reg = registry();
    if (reg.registryReady)
        return;
    // Start clean, so that a first attempt cut short by a lack of memory is simply redone.
    reg.factories.clear();
    reg.pluginsByUid.clear();
    appendPluginFactories(reg.factories);
    reg.pluginRecords.resize(reg.factories.size());
    for (size_t i = 0; i < reg.factories.size(); ++i)
        installRecord(reg, i);
    reg.registryReady = true;
}

} // namespace

void setHost(OfxHost* host) { gHostPointer = host; }

namespace Private {

OfxHost* hostPointer() { return gHostPointer; }

PluginFactory* findFactory(const std::string& uniqueId) {
    const Registry& reg = registry();
    auto found = reg.pluginsByUid.find(uniqueId);
    return found == reg.pluginsByUid.end() ? nullptr : found->second.first;
}

void dropPluginRecord(const std::string& uniqueId) {
    Registry& reg = registry();
    auto found = reg.pluginsByUid.find(uniqueId);
    if (found == reg.pluginsByUid.end())
        return;
    for (size_t i = 0; i < reg.pluginRecords.size(); ++i) {
        if (reg.pluginRecords[i] && reg.pluginRecords[i].get() == found->second.second) {
            reg.droppedRecords.push_back(std::move(reg.pluginRecords[i]));
            return;
        }
    }
}

} // namespace Private
} // namespace OFX

extern "C" {

OfxExport int OfxGetNumberOfPlugins(void) {
    try {
        OFX::initRegistry();
        return static_cast<int>(OFX::registry().factories.size());
    } catch (...) {
        return 0;
    }
}

OfxExport OfxPlugin* OfxGetPlugin(int nth) {
    try {
        OFX::initRegistry();
        OFX::Registry& reg = OFX::registry();
        const int count = static_cast<int>(reg.pluginsByUid.size());
        const bool outOfRange = nth < 0 || nth >= count;
        OFX::logError(outOfRange,
                      "Host attempted to get plugin %d, when there is only %d plugin(s), so it "
                      "should have asked for 0.",
                      nth, count);
        if (outOfRange || static_cast<size_t>(nth) >= reg.pluginRecords.size())
            return nullptr;
        const size_t slot = static_cast<size_t>(nth);
        if (!reg.pluginRecords[slot])
            OFX::installRecord(reg, slot);
        return reg.pluginRecords[slot].get();
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"

namespace OFX {

// ---- Host suites and description ----------------------------------------------------------------

namespace {

HostDescription gHostDescription;
bool gHostDescriptionReady = false;
Private::HostSuites gSuites;
int gLoadCount = 0;

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

const void* requireSuite(const void* suite, const char* name) {
    if (!suite)
        throw Exception::HostInadequate(name);
    return suite;
}

} // namespace

const HostDescription& getHostDescription() { return gHostDescription; }

namespace Private {

const HostSuites& hostSuites() { return gSuites; }

const OfxImageEffectSuiteV1& imageEffectSuite() {
    return *static_cast<const OfxImageEffectSuiteV1*>(
        requireSuite(gSuites.imageEffect, kOfxImageEffectSuite));
}
const OfxPropertySuiteV1& propertySuite() {
    return *static_cast<const OfxPropertySuiteV1*>(
        requireSuite(gSuites.property, kOfxPropertySuite));
}
const OfxParameterSuiteV1& parameterSuite() {
    return *static_cast<const OfxParameterSuiteV1*>(
        requireSuite(gSuites.parameter, kOfxParameterSuite));
}
const OfxMultiThreadSuiteV1& multiThreadSuite() {
    return *static_cast<const OfxMultiThreadSuiteV1*>(
        requireSuite(gSuites.multiThread, kOfxMultiThreadSuite));
}

const void* fetchSuite(const char* name, int version, bool optional) {
    OfxHost* host = gHostPointer;
    const void* suite =
        host && host->fetchSuite ? host->fetchSuite(host->host, name, version) : nullptr;
    if (!suite) {
        if (!optional) {
            logError(true, "Could not fetch the mandatory suite '%s' version %d.", name, version);
            throw Exception::HostInadequate(name);
        }
        logWarning(true, "Could not fetch the optional suite '%s' version %d.", name, version);
    }
    return suite;
}

int loadCount() { return gLoadCount; }

namespace {

void fetchAllSuites() {
    HostSuites& s = gSuites;
    s.imageEffect =
        static_cast<const OfxImageEffectSuiteV1*>(fetchSuite(kOfxImageEffectSuite, 1, false));
    s.property = static_cast<const OfxPropertySuiteV1*>(fetchSuite(kOfxPropertySuite, 1, false));
    s.parameter = static_cast<const OfxParameterSuiteV1*>(fetchSuite(kOfxParameterSuite, 1, false));
    s.memory = static_cast<const OfxMemorySuiteV1*>(fetchSuite(kOfxMemorySuite, 1, false));
    s.multiThread =
        static_cast<const OfxMultiThreadSuiteV1*>(fetchSuite(kOfxMultiThreadSuite, 1, false));
    s.message = static_cast<const OfxMessageSuiteV1*>(fetchSuite(kOfxMessageSuite, 1, false));
    s.messageV2 = static_cast<const OfxMessageSuiteV2*>(fetchSuite(kOfxMessageSuite, 2, true));
    s.progress = static_cast<const OfxProgressSuiteV1*>(fetchSuite(kOfxProgressSuite, 1, true));
    s.vegasProgress = fetchSuite(kOfxVegasProgressSuite, 1, true);
    s.timeLine = static_cast<const OfxTimeLineSuiteV1*>(fetchSuite(kOfxTimeLineSuite, 1, true));
    s.vegasStereoscopic = fetchSuite(kOfxVegasStereoscopicImageEffectSuite, 1, true);
    s.vegasKeyframe = fetchSuite(kOfxVegasKeyframeSuite, 1, true);

    createHostDescription(gHostPointer);
    HostDescription& d = gHostDescription;
    d.supportsProgressSuite = s.progress != nullptr || s.vegasProgress != nullptr;
    d.supportsTimeLineSuite = s.timeLine != nullptr;
    d.supportsMessageSuiteV2 = s.messageV2 != nullptr;

    if (d.supportsOverlays || d.supportsCustomInteract)
        s.interact =
            static_cast<const OfxInteractSuiteV1*>(fetchSuite(kOfxInteractSuite, 1, false));
    s.hwndInteract = fetchSuite(kOfxHWndInteractSuite, 1, true);
}

} // namespace

void fetchHostSuites() {
    ++gLoadCount;
    if (!gHostPointer) {
        logError(true, "Host pointer has not been set.");
        --gLoadCount;
        throw Exception::Suite(kOfxStatErrBadHandle);
    }
    if (gLoadCount != 1)
        return;
    const bool describedBefore = gHostDescriptionReady;
    try {
        fetchAllSuites();
    } catch (...) {
        // Leave the module as if this load never happened, so the next one starts afresh
        // instead of running on whatever a faulty host handed out so far.
        --gLoadCount;
        gSuites = HostSuites();
        if (!describedBefore) {
            gHostDescription = HostDescription();
            gHostDescriptionReady = false;
        }
        throw;
    }
}

void releaseHostSuites() {
    if (gLoadCount <= 0)
        return;
    if (--gLoadCount == 0)
        gSuites = HostSuites();
}

} // namespace Private
} // namespace OFX
