// The bottom of the OFX layer: status names, exceptions, the diagnostic log, the host pointer
// and the host's suites. It knows nothing of properties, parameters or effects.
#pragma once

#include "ofx_api.h"

#include <cstdio>
#include <exception>
#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define NIMBRA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NIMBRA_PRINTF(fmt, args)
#endif

namespace OFX {

/// Name of an OFX status code for log lines and exceptions; "UNKNOWN STATUS CODE" otherwise.
const char* statusName(int status);

namespace Exception {

/// A host suite answered with an error status, or a required handle was null.
class Suite : public std::exception {
public:
    explicit Suite(OfxStatus status) : status_(status) {}
    ~Suite() override;
    const char* what() const noexcept override;
    OfxStatus status() const { return status_; }

private:
    OfxStatus status_;
};

/// Base of the exceptions that carry one string; each is still a direct std::exception.
#define NIMBRA_STRING_EXCEPTION(Name)                                                              \
    class Name : public std::exception {                                                           \
    public:                                                                                        \
        explicit Name(std::string text) : text_(std::move(text)) {}                                \
        ~Name() override;                                                                          \
        const char* what() const noexcept override { return text_.c_str(); }                       \
                                                                                                   \
    private:                                                                                       \
        std::string text_;                                                                         \
    };

/// The host lacks something the module cannot do without (a mandatory suite).
NIMBRA_STRING_EXCEPTION(HostInadequate)
/// The host does not know a property (or the named clip has no per-clip property).
NIMBRA_STRING_EXCEPTION(PropertyUnknownToHost)
/// The host refused a property value.
NIMBRA_STRING_EXCEPTION(PropertyValueIllegalToHost)
/// A parameter was fetched or defined with the wrong type.
NIMBRA_STRING_EXCEPTION(TypeRequest)
#undef NIMBRA_STRING_EXCEPTION

} // namespace Exception

/// Returns for OK and the three reply codes; throws std::bad_alloc for kOfxStatErrMemory;
/// otherwise prints "Threw suite exception!" and throws Exception::Suite.
void raiseSuiteStatus(OfxStatus status);

// ---- Diagnostic log -----------------------------------------------------------------------------
// Dormant unless the build opens it: every call then costs one test and formats nothing.
// Callers pass conditions instead of testing them, so a guarded line is one call.

/// OFX_PLUGIN_LOGFILE at start-up, else "ofxTestLog.txt".
const std::string& logFileName();
/// Plain line, indented four spaces per level.
void logPrint(const char* format, ...) NIMBRA_PRINTF(1, 2);
/// "WARNING : " line, written only when condition holds.
void logWarning(bool condition, const char* format, ...) NIMBRA_PRINTF(2, 3);
/// "ERROR : " line, written only when condition holds.
void logError(bool condition, const char* format, ...) NIMBRA_PRINTF(2, 3);
void logIndent();
void logOutdent();

namespace Private {
/// Points the log at a stream (null closes it); for tests and diagnostic builds.
void setLogStream(std::FILE* stream);
int logIndentLevel();
} // namespace Private

// ---- Host pointer and suites -------------------------------------------------------------------

/// Stored in every plug-in record; the last call wins. [main thread]
void setHost(OfxHost* host);

namespace Private {

/// Suite pointers fetched at load; null while unloaded. Written only by load and unload,
/// which the host never runs alongside other actions.
struct HostSuites {
    const OfxImageEffectSuiteV1* imageEffect = nullptr;
    const OfxPropertySuiteV1* property = nullptr;
    const OfxParameterSuiteV1* parameter = nullptr;
    const OfxMemorySuiteV1* memory = nullptr;
    const OfxMultiThreadSuiteV1* multiThread = nullptr;
    const OfxMessageSuiteV1* message = nullptr;
    const OfxMessageSuiteV2* messageV2 = nullptr;
    const OfxProgressSuiteV1* progress = nullptr;
    const void* vegasProgress = nullptr;
    const OfxTimeLineSuiteV1* timeLine = nullptr;
    const void* vegasStereoscopic = nullptr;
    const void* vegasKeyframe = nullptr;
    const OfxInteractSuiteV1* interact = nullptr;
    const void* hwndInteract = nullptr;
};

const HostSuites& hostSuites();
/// The mandatory suites; throw Exception::HostInadequate when the module is not loaded,
/// so that an action sent before load fails instead of calling through null.
const OfxImageEffectSuiteV1& imageEffectSuite();
const OfxPropertySuiteV1& propertySuite();
const OfxParameterSuiteV1& parameterSuite();
const OfxMultiThreadSuiteV1& multiThreadSuite();

/// First step of the load action: counts the load and, on the first, fetches every suite
/// the module asks for whatever the host is. On failure the load is undone, so a later load
/// starts afresh.
void fetchHostSuites();
/// Second step of the first load, once the host has said whether it draws interacts: the
/// interact suite (mandatory then, not fetched otherwise) and the optional HWND one. A failure
/// here leaves undoing the load to the caller (releaseHostSuites).
void fetchInteractSuites(bool hostDrawsInteracts);
/// Undoes one load; the last one clears the suite pointers.
void releaseHostSuites();
int loadCount();
/// One call of the host's fetchSuite; a missing mandatory suite throws HostInadequate.
const void* fetchSuite(const char* name, int version, bool optional);
/// The host structure handed to setHost, or null.
OfxHost* hostPointer();

} // namespace Private
} // namespace OFX
