#include "core.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <iostream>
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

// ---- Host pointer and suites -------------------------------------------------------------------

namespace {

OfxHost* gHostPointer = nullptr;
Private::HostSuites gSuites;
int gLoadCount = 0;

const void* requireSuite(const void* suite, const char* name) {
    if (!suite)
        throw Exception::HostInadequate(name);
    return suite;
}

} // namespace

void setHost(OfxHost* host) { gHostPointer = host; }

namespace Private {

OfxHost* hostPointer() { return gHostPointer; }

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

void fetchFixedSuites() {
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
    try {
        fetchFixedSuites();
    } catch (...) {
        // Leave the module as if this load never happened, so the next one starts afresh
        // instead of running on whatever a faulty host handed out so far.
        --gLoadCount;
        gSuites = HostSuites();
        throw;
    }
}

void fetchInteractSuites(bool hostDrawsInteracts) {
    if (hostDrawsInteracts)
        gSuites.interact =
            static_cast<const OfxInteractSuiteV1*>(fetchSuite(kOfxInteractSuite, 1, false));
    gSuites.hwndInteract = fetchSuite(kOfxHWndInteractSuite, 1, true);
}

void releaseHostSuites() {
    if (gLoadCount <= 0)
        return;
    if (--gLoadCount == 0)
        gSuites = HostSuites();
}

} // namespace Private
} // namespace OFX
