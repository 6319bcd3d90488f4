// The plug-in boundary: status names, exceptions, the diagnostic log, the plug-in registry,
// the host's suites and description, and the action dispatcher.
#pragma once

#include "ofx_api.h"

#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#if defined(__GNUC__) || defined(__clang__)
#define NIMBRA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NIMBRA_PRINTF(fmt, args)
#endif

namespace OFX {

class ImageEffectDescriptor;
class ImageEffect;
// Defined with their strings in image_effect.h; the fixed underlying type makes them complete.
enum class EffectContext : int;
enum class BitDepth : int;
enum class PixelComponents : int;

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

// ---- Plug-in factories and registry -------------------------------------------------------------

/// What the registry and the dispatcher know of one plug-in. Factories are module-wide
/// objects that are never deleted through this interface.
class PluginFactory {
public:
    virtual void load() {}
    virtual void unload() {}
    virtual void describe(ImageEffectDescriptor& desc) = 0;
    virtual void describeInContext(ImageEffectDescriptor& desc, EffectContext context) = 0;
    /// The instance attaches itself to the handle; the dispatcher deletes it on destroy.
    virtual ImageEffect* createInstance(OfxImageEffectHandle handle, EffectContext context) = 0;
    virtual const std::string& getId() const = 0;
    virtual const std::string& getUid() const = 0;
    virtual unsigned int getMajorVersion() const = 0;
    virtual unsigned int getMinorVersion() const = 0;
    virtual OfxPluginEntryPoint* getMainEntry() const = 0;

protected:
    ~PluginFactory() = default;
};

/// The dispatcher: every action of every plug-in ends here. Never throws.
OfxStatus dispatchAction(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                         OfxPropertySetHandle outArgs, const char* uniqueId) noexcept;

/// Gives factory class T its unique id and its entry function.
template <class T> class FactoryMainEntryHelper {
public:
    /// Identifier followed by the major and minor version; empty until T is constructed.
    static const std::string& uniqueId() { return uniqueIdStorage(); }

protected:
    // A function-local static, so that it is built before any factory writes it, whatever
    // order the module's static objects are initialised in.
    static std::string& uniqueIdStorage() {
        static std::string id;
        return id;
    }
    static OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                               OfxPropertySetHandle outArgs) {
        return dispatchAction(action, handle, inArgs, outArgs, uniqueIdStorage().c_str());
    }
};

template <class T>
class PluginFactoryHelper : public PluginFactory, public FactoryMainEntryHelper<T> {
public:
    PluginFactoryHelper(std::string identifier, unsigned int majorVersion,
                        unsigned int minorVersion)
        : identifier_(std::move(identifier)), majorVersion_(majorVersion),
          minorVersion_(minorVersion) {
        FactoryMainEntryHelper<T>::uniqueIdStorage() =
            identifier_ + std::to_string(majorVersion_) + std::to_string(minorVersion_);
    }
    const std::string& getId() const override { return identifier_; }
    const std::string& getUid() const override { return FactoryMainEntryHelper<T>::uniqueId(); }
    unsigned int getMajorVersion() const override { return majorVersion_; }
    unsigned int getMinorVersion() const override { return minorVersion_; }
    OfxPluginEntryPoint* getMainEntry() const override {
        return &FactoryMainEntryHelper<T>::mainEntry;
    }

protected:
    ~PluginFactoryHelper() = default;

private:
    std::string identifier_;
    unsigned int majorVersion_;
    unsigned int minorVersion_;
};

using PluginFactoryArray = std::vector<PluginFactory*>;

/// Supplied by the plug-in code: appends the address of each of its factories.
void appendPluginFactories(PluginFactoryArray& factories);

/// Stored in every plug-in record; the last call wins. [main thread]
void setHost(OfxHost* host);

namespace Private {
/// The host structure handed to setHost, or null.
OfxHost* hostPointer();
/// The factory registered under a unique id, or null.
PluginFactory* findFactory(const std::string& uniqueId);
/// Empties the record slot of that plug-in so that OfxGetPlugin builds a fresh one.
void dropPluginRecord(const std::string& uniqueId);
} // namespace Private

// ---- Host suites and description ----------------------------------------------------------------

/// What the host said of itself at the first load.
struct HostDescription {
    std::string hostName;
    bool hostIsBackground = false;
    bool supportsOverlays = false;
    bool supportsMultiResolution = false;
    bool supportsTiles = false;
    bool temporalClipAccess = false;
    bool supportsMultipleClipDepths = false;
    bool supportsMultipleClipPARs = false;
    bool supportsSetableFrameRate = false;
    bool supportsSetableFielding = false;
    bool supportsStringAnimation = false;
    bool supportsCustomInteract = false;
    bool supportsChoiceAnimation = false;
    bool supportsBooleanAnimation = false;
    bool supportsCustomAnimation = false;
    int maxParameters = 0;
    int maxPages = 0;
    int pageRowCount = 0;
    int pageColumnCount = 0;
    std::vector<PixelComponents> supportedComponents;
    std::vector<EffectContext> supportedContexts;
    std::vector<BitDepth> supportedPixelDepths;
    bool supportsProgressSuite = false;
    bool supportsTimeLineSuite = false;
    bool supportsMessageSuiteV2 = false;
};

/// The description read at the first load (all false and empty before).
const HostDescription& getHostDescription();

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

/// First step of the load action. On failure the load is undone, so a later load starts
/// afresh.
void fetchHostSuites();
/// Undoes one load; the last one clears the suite pointers.
void releaseHostSuites();
int loadCount();
/// One call of the host's fetchSuite; a missing mandatory suite throws HostInadequate.
const void* fetchSuite(const char* name, int version, bool optional);

} // namespace Private
} // namespace OFX
