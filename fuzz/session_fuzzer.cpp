// Whole host sessions against the built module, with every answer of the host taken from the
// fuzzer's input: suite statuses, property values and dimensions, image descriptions,
// parameter values, thread counts and aborts.
//
// The host side stays honest about memory: a buffer always holds every pixel its
// description declares (a described image may be smaller, moved, empty or inverted, never
// larger than its buffer), so anything the sanitizers report is the module's doing. Each
// input is one balanced session: whatever was loaded is unloaded, whatever was created is
// destroyed, so no state leaks from one input into the next.
//
// Two input formats: format 1, the first, sets only the ten parameters the effect had then;
// format 2 (inputs that start with "NFz" and byte 2) sets every parameter of kParams with
// any value, choices included. Inputs of format 1 keep their meaning, so the committed
// corpus and past findings replay as they were found.
#include "host.h"
#include "module.h"
#include "session.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef NIMBRA_BUNDLE
#error "NIMBRA_BUNDLE must name the module's bundle"
#endif

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "session fuzzer: %s\n", what);
    std::abort();
}

/// Reads the input front to back; once it runs out every value is zero, which makes the
/// remainder of the session an ordinary one.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool flag() { return byte() & 1; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return v;
    }
    int below(int n) { return n <= 1 ? 0 : static_cast<int>(byte() % n); }
    /// One time in n, never on a zero byte: a run of zeros takes the ordinary path.
    bool rarely(int n) { return below(n) == 1; }

    int anyInt() {
        static const int kInts[] = {0,
                                    1,
                                    -1,
                                    2,
                                    64,
                                    -64,
                                    std::numeric_limits<int>::max(),
                                    std::numeric_limits<int>::min(),
                                    std::numeric_limits<int>::max() - 1,
                                    std::numeric_limits<int>::min() + 1,
                                    1 << 30,
                                    -(1 << 30)};
        const int k = below(14);
        if (k < 12)
            return kInts[k];
        return static_cast<int>(u32());
    }

    double anyDouble() {
        static const double kDoubles[] = {0.0,
                                          1.0,
                                          -1.0,
                                          0.5,
                                          20.0,
                                          std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::max(),
                                          -std::numeric_limits<double>::max(),
                                          std::numeric_limits<double>::denorm_min(),
                                          1e10,
                                          -1e10,
                                          3e38,
                                          2147483648.0};
        const int k = below(17);
        if (k < 15)
            return kDoubles[k];
        std::uint64_t bits = (static_cast<std::uint64_t>(u32()) << 32) | u32();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

    /// Any bytes, embedded zeros cut the C string short as a host's would.
    std::string text(std::size_t maxLength = 24) {
        const std::size_t n = byte() % (maxLength + 1);
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s.push_back(static_cast<char>(byte()));
        return s;
    }

    /// One of the known strings, or any string.
    std::string oneOf(const std::vector<const char*>& known) {
        const int k = below(static_cast<int>(known.size()) + 1);
        if (k < static_cast<int>(known.size()))
            return known[k];
        return text();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

OfxStatus anyStatus(Input& in) {
    static const OfxStatus kStatuses[] = {kOfxStatFailed,         kOfxStatErrFatal,
                                          kOfxStatErrUnknown,     kOfxStatErrMissingHostFeature,
                                          kOfxStatErrUnsupported, kOfxStatErrExists,
                                          kOfxStatErrFormat,      kOfxStatErrMemory,
                                          kOfxStatErrBadHandle,   kOfxStatErrBadIndex,
                                          kOfxStatErrValue,       kOfxStatReplyYes,
                                          kOfxStatReplyNo,        kOfxStatReplyDefault,
                                          kOfxStatErrImageFormat, kOfxStatOK};
    const int k = in.below(17);
    if (k < 16)
        return kStatuses[k];
    return static_cast<OfxStatus>(in.u32());
}

const std::vector<const char*> kSuiteMembers = {"clipGetImage",
                                                "clipReleaseImage",
                                                "clipGetRegionOfDefinition",
                                                "clipGetHandle",
                                                "clipGetPropertySet",
                                                "clipDefine",
                                                "getPropertySet",
                                                "getParamSet",
                                                "paramDefine",
                                                "paramGetHandle",
                                                "paramGetPropertySet",
                                                "paramGetValue",
                                                "paramGetValueAtTime",
                                                "multiThread",
                                                "multiThreadNumCPUs",
                                                "multiThreadIndex",
                                                "mutexCreate",
                                                "mutexLock",
                                                "mutexUnLock",
                                                "memoryAlloc",
                                                "imageMemoryAlloc",
                                                "message",
                                                "setPersistentMessage",
                                                "progressStart",
                                                "progressUpdate",
                                                "propGetInt",
                                                "propGetDouble",
                                                "propGetString",
                                                "propGetPointer",
                                                "propGetDimension",
                                                "propSetInt",
                                                "propSetDouble",
                                                "propSetString",
                                                "propSetPointer",
                                                "propSetIntN",
                                                "propGetIntN",
                                                "abort"};

const std::vector<const char*> kPropertyNames = {kOfxPropName,
                                                 kOfxPropTime,
                                                 kOfxPropInstanceData,
                                                 kOfxPropType,
                                                 kOfxImageEffectPropContext,
                                                 kOfxImageEffectPropComponents,
                                                 kOfxImageEffectPropPixelDepth,
                                                 kOfxImageEffectPropPreMultiplication,
                                                 kOfxImageEffectPropRenderWindow,
                                                 kOfxImageEffectPropRenderScale,
                                                 kOfxImageEffectPropFieldToRender,
                                                 kOfxImageEffectPropRegionOfInterest,
                                                 kOfxImageEffectPropRegionOfDefinition,
                                                 kOfxImageEffectPropFrameRange,
                                                 kOfxImageEffectPropFrameStep,
                                                 kOfxPropIsInteractive,
                                                 kOfxImagePropData,
                                                 kOfxImagePropBounds,
                                                 kOfxImagePropRowBytes,
                                                 kOfxImagePropRegionOfDefinition,
                                                 kOfxImagePropPixelAspectRatio,
                                                 kOfxImagePropField,
                                                 kOfxImagePropUniqueIdentifier,
                                                 kOfxImageClipPropConnected,
                                                 kOfxImageEffectPropSupportedContexts,
                                                 kOfxImageEffectPropSupportedPixelDepths,
                                                 kOfxImageEffectPropSupportedComponents,
                                                 kOfxImageEffectPropSupportsOverlays,
                                                 kOfxParamHostPropMaxParameters,
                                                 kOfxParamHostPropPageRowColumnCount,
                                                 kOfxImageEffectHostPropIsBackground,
                                                 kOfxImageEffectPropSupportsTiles,
                                                 kOfxImageEffectPropSupportsMultiResolution,
                                                 kOfxParamPropDefault,
                                                 kOfxImageEffectPropRenderQuality};

const std::vector<const char*> kHostPropertyNames = {kOfxPropName,
                                                     kOfxImageEffectHostPropIsBackground,
                                                     kOfxImageEffectPropSupportsOverlays,
                                                     kOfxImageEffectPropSupportsMultiResolution,
                                                     kOfxImageEffectPropSupportsTiles,
                                                     kOfxImageEffectPropTemporalClipAccess,
                                                     kOfxImageEffectPropSupportedComponents,
                                                     kOfxImageEffectPropSupportedContexts,
                                                     kOfxImageEffectPropSupportedPixelDepths,
                                                     kOfxImageEffectPropSupportsMultipleClipDepths,
                                                     kOfxImageEffectPropSupportsMultipleClipPARs,
                                                     kOfxParamHostPropSupportsCustomInteract,
                                                     kOfxParamHostPropMaxParameters,
                                                     kOfxParamHostPropMaxPages,
                                                     kOfxParamHostPropPageRowColumnCount};

const std::vector<const char*> kSuiteNames = {
    kOfxImageEffectSuite, kOfxPropertySuite,    kOfxParameterSuite,
    kOfxMemorySuite,      kOfxMultiThreadSuite, kOfxMessageSuite,
    kOfxProgressSuite,    kOfxTimeLineSuite,    kOfxInteractSuite};

const std::vector<const char*> kContexts = {
    kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral, kOfxImageEffectContextGenerator};
const std::vector<const char*> kDepths = {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat,
                                          kOfxBitDepthNone};
const std::vector<const char*> kComponentNames = {kOfxImageComponentRGBA, kOfxImageComponentAlpha,
                                                  kOfxImageComponentNone};
const std::vector<const char*> kPremultiplications = {kOfxImageOpaque, kOfxImagePreMultiplied,
                                                      kOfxImageUnPreMultiplied};
const std::vector<const char*> kFields = {kOfxImageFieldNone, kOfxImageFieldBoth,
                                          kOfxImageFieldLower, kOfxImageFieldUpper};

/// Sets one property of `set` to a value of any type and any dimension.
void spoilProperty(Input& in, ofxhost::PropertySet& set, const std::string& name) {
    // Arguments are read one statement at a time: their order must not depend on the
    // compiler, or an input would replay differently from how it was found.
    const int kind = in.below(8);
    const int index = in.below(3);
    switch (kind) {
    case 0:
        set.setInt(name, in.anyInt(), index);
        break;
    case 1:
        set.setDouble(name, in.anyDouble(), index);
        break;
    case 2:
        set.setString(name, in.text(), index);
        break;
    case 3:
        set.setStrings(name, {});
        break;
    case 4:
        set.remove(name);
        break;
    case 5:
        set.setInts(name, {in.anyInt(), in.anyInt(), in.anyInt(), in.anyInt(), in.anyInt()});
        break;
    case 6:
        set.setPointer(name, nullptr, index % 2);
        break;
    default:
        set.setDoubles(name, {in.anyDouble()});
        break;
    }
}

int pixelBytesOf(const std::string& components, const std::string& depth) {
    int n = 0;
    if (components == kOfxImageComponentRGBA)
        n = 4;
    else if (components == kOfxImageComponentAlpha)
        n = 1;
    if (depth == kOfxBitDepthShort)
        return 2 * n;
    if (depth == kOfxBitDepthFloat)
        return 4 * n;
    if (depth == kOfxBitDepthByte)
        return n;
    return 0;
}

/// One clip's image: a real buffer and a description of it, overridden within what the
/// buffer really holds.
std::shared_ptr<ofxhost::Image> attachImage(Input& in, ofxhost::Clip& clip,
                                            ofxhost::Components components, ofxhost::Depth depth,
                                            OfxPointI& shared) {
    // Sizes 0 to 64; zero bytes give an ordinary 32 x 32.
    const int w = (in.below(65) + 32) % 65;
    const int h = (in.below(65) + 32) % 65;
    // Coordinates anywhere, as long as x1 + w and y1 + h still fit an int.
    auto origin = [&](int extent, int previous) {
        switch (in.below(6)) {
        case 0:
            return 0;
        case 5: // where the other image is, so that the two overlap at the extremes too
            return previous <= std::numeric_limits<int>::max() - extent
                       ? previous
                       : std::numeric_limits<int>::max() - extent;
        case 1:
            return std::numeric_limits<int>::max() - extent;
        case 2:
            return std::numeric_limits<int>::min();
        case 3:
            return static_cast<int>(in.byte()) - 128;
        default:
            return static_cast<int>(in.u32() >> 1) - (1 << 30);
        }
    };
    const int x1 = origin(w, shared.x);
    const int y1 = origin(h, shared.y);
    shared = {x1, y1};
    const auto order = in.flag() ? ofxhost::RowOrder::TopDown : ofxhost::RowOrder::BottomUp;
    const int padding = 8 * in.below(5);
    auto image = std::make_shared<ofxhost::Image>(OfxRectI{x1, y1, x1 + w, y1 + h}, components,
                                                  depth, order, padding);
    for (int y = y1; y < y1 + h; ++y)
        for (int x = x1; x < x1 + w; ++x)
            for (int c = 0; c < image->channels(); ++c)
                if (in.flag()) {
                    if (depth == ofxhost::Depth::Float)
                        image->set(x, y, c, in.anyDouble() * 0.01);
                    else
                        image->set(x, y, c, in.byte() * (depth == ofxhost::Depth::Byte ? 1 : 257));
                }
    clip.setImage(image);

    ofxhost::PropertySet& over = clip.imageOverrides();
    int declaredHeight = h;
    std::optional<int> rowBytes;
    const int overrides = in.below(4);
    for (int i = 0; i < overrides; ++i) {
        switch (in.below(12)) {
        case 0: // no pixels at all, whatever the bounds say
            over.setPointer(kOfxImagePropData, nullptr);
            break;
        case 1: { // the same buffer, declared at other coordinates
            const int nx = origin(w, x1);
            const int ny = origin(h, y1);
            over.setInts(kOfxImagePropBounds, {nx, ny, nx + w, ny + h});
            declaredHeight = h;
            break;
        }
        case 2: { // fewer pixels than the buffer holds
            const int sw = in.below(w + 1);
            const int sh = in.below(h + 1);
            over.setInts(kOfxImagePropBounds, {x1, y1, x1 + sw, y1 + sh});
            declaredHeight = sh;
            break;
        }
        case 3: { // inverted or extreme bounds of no pixels
            const int a = in.anyInt(), b = in.anyInt(), c = in.anyInt(), d = in.anyInt();
            if (in.flag())
                over.setInts(kOfxImagePropBounds, {a, b, std::min(a, c), d});
            else
                over.setInts(kOfxImagePropBounds, {a, b, c, std::min(b, d)});
            declaredHeight = 0;
            break;
        }
        case 4: // any row stride; kept only where there is no second row to reach
            rowBytes = in.anyInt();
            break;
        case 5: { // a format name we do not know, or one needing no more bytes per pixel
            const std::string c = in.oneOf(kComponentNames);
            const std::string d = in.oneOf(kDepths);
            if (pixelBytesOf(c, d) <= image->pixelBytes() &&
                (pixelBytesOf(c, d) == 0 || pixelBytesOf(c, d) % 2 == 1 ||
                 image->rowBytes() % pixelBytesOf(c, d) == 0)) {
                over.setString(kOfxImageEffectPropComponents, c);
                over.setString(kOfxImageEffectPropPixelDepth, d);
            }
            break;
        }
        case 6:
            over.setString(kOfxImageEffectPropPreMultiplication, in.oneOf(kPremultiplications));
            break;
        case 7:
            over.setString(kOfxImagePropField, in.oneOf(kFields));
            break;
        case 8:
            over.setDouble(kOfxImagePropPixelAspectRatio, in.anyDouble());
            break;
        case 9:
            over.setDoubles(kOfxImageEffectPropRenderScale, {in.anyDouble(), in.anyDouble()});
            break;
        case 10: { // a property of the wrong type or dimension
            static const std::vector<const char*> kImageProps = {
                kOfxImagePropBounds,
                kOfxImagePropRegionOfDefinition,
                kOfxImagePropUniqueIdentifier,
                kOfxImageEffectPropComponents,
                kOfxImageEffectPropPixelDepth,
                kOfxImagePropField,
                kOfxImageEffectPropPreMultiplication,
                kOfxImageEffectPropRenderScale,
                kOfxImagePropPixelAspectRatio};
            const std::string name = kImageProps[in.below(static_cast<int>(kImageProps.size()))];
            if (name == kOfxImagePropBounds) {
                over.setInts(name, {x1, y1});
                declaredHeight = 0;
            } else if (name == kOfxImageEffectPropComponents ||
                       name == kOfxImageEffectPropPixelDepth) {
                over.setStrings(name, {});
            } else {
                spoilProperty(in, over, name);
            }
            break;
        }
        default:
            over.setInts(kOfxImagePropRegionOfDefinition,
                         {in.anyInt(), in.anyInt(), in.anyInt(), in.anyInt()});
            break;
        }
    }
    if (rowBytes && declaredHeight <= 1)
        over.setInt(kOfxImagePropRowBytes, *rowBytes);
    return image;
}

// ---- Parameters ---------------------------------------------------------------------------------

enum class ParamKind { Double, Boolean, Choice, RGBA };

struct FuzzedParam {
    const char* name;
    ParamKind kind;
};

/// Every parameter of the effect, in the order it defines them: a new one is one more line at
/// the end. Inputs name a parameter by its place here, so lines are appended, never inserted,
/// reordered or removed.
// clang-format off
constexpr FuzzedParam kParams[] = {
    {"marginX", ParamKind::Double},
    {"marginY", ParamKind::Double},
    {"yOffset", ParamKind::Double},
    {"cornerSize", ParamKind::Double},
    {"fillEnabled", ParamKind::Boolean},
    {"fillColor", ParamKind::RGBA},
    {"strokeEnabled", ParamKind::Boolean},
    {"strokeColor", ParamKind::RGBA},
    {"strokeWidth", ParamKind::Double},
    {"detectionThreshold", ParamKind::Double},
    {"compositing", ParamKind::Choice},
    {"plateLayout", ParamKind::Choice},
    {"lineGap", ParamKind::Double},
    {"innerCornerSize", ParamKind::Double},
    {"shadowEnabled", ParamKind::Boolean},
    {"shadowColor", ParamKind::RGBA},
    {"shadowOffsetX", ParamKind::Double},
    {"shadowOffsetY", ParamKind::Double},
    {"shadowSoftness", ParamKind::Double},
    {"minPlateWidth", ParamKind::Double},
    {"minPlateHeight", ParamKind::Double},
};
// clang-format on
constexpr int kParamCount = static_cast<int>(sizeof kParams / sizeof kParams[0]);

/// Format 2 picks a parameter as one of this many places; those past the table's end pick
/// none. Fixed, so that appending a parameter leaves what older inputs set as it was.
constexpr int kParamPlaces = 32;
static_assert(kParamCount <= kParamPlaces,
              "more parameters than an input can name: start a new input format");

/// The n-th parameter of a kind, in table order.
const FuzzedParam& nthOfKind(ParamKind kind, int n) {
    for (const FuzzedParam& param : kParams)
        if (param.kind == kind && n-- == 0)
            return param;
    fail("the parameter table lost a parameter that format 1 inputs name");
}

/// Format 1 picked a kind, then one of the first six Doubles, two RGBAs or two Booleans.
const FuzzedParam& formatOneParam(Input& in) {
    switch (in.below(3)) {
    case 0:
        return nthOfKind(ParamKind::Double, in.below(6));
    case 1:
        return nthOfKind(ParamKind::RGBA, in.below(2));
    default:
        return nthOfKind(ParamKind::Boolean, in.below(2));
    }
}

std::vector<double> anyValue(Input& in, ParamKind kind) {
    switch (kind) {
    case ParamKind::Double:
        return {in.anyDouble()};
    case ParamKind::RGBA: {
        std::vector<double> rgba;
        for (int i = 0; i < 4; ++i)
            rgba.push_back(in.anyDouble());
        return rgba;
    }
    case ParamKind::Boolean:
        return {static_cast<double>(in.below(3))};
    case ParamKind::Choice:
        // Each option and a few past the last, or any int (negative, huge): a host's value
        // is an int, whatever it is.
        if (in.flag())
            return {static_cast<double>(in.below(8))};
        return {static_cast<double>(in.anyInt())};
    }
    return {};
}

/// Sets a few parameters, each as its static value or as a key at one of four frames.
void setParams(Input& in, ofxhost::Effect& fx, int format) {
    const int n = format == 1 ? in.below(6) : in.below(9);
    for (int i = 0; i < n; ++i) {
        const FuzzedParam* param = nullptr;
        if (format == 1) {
            param = &formatOneParam(in);
        } else {
            const int place = in.below(kParamPlaces);
            param = place < kParamCount ? &kParams[place] : nullptr;
        }
        if (!param)
            continue;
        const std::vector<double> values = anyValue(in, param->kind);
        ofxhost::Param* p = fx.findParam(param->name);
        if (!p)
            continue;
        const bool isStatic = in.flag();
        const double time = isStatic ? 0.0 : static_cast<double>(in.below(4));
        if (isStatic)
            p->setValue(values);
        else
            p->setKey(time, values);
        if (std::getenv("NIMBRA_FUZZ_TRACE")) {
            std::fprintf(stderr, "param %s %s", param->name, isStatic ? "value" : "key");
            if (!isStatic)
                std::fprintf(stderr, "@%g", time);
            for (double v : values)
                std::fprintf(stderr, " %a", v);
            std::fprintf(stderr, "\n");
        }
    }
}

struct PendingFault {
    bool isFunction;
    std::string name;
    OfxStatus status;
    unsigned ops;
};

void applyFaults(ofxhost::Host& host, const std::vector<PendingFault>& faults) {
    for (const PendingFault& f : faults) {
        if (std::getenv("NIMBRA_FUZZ_TRACE"))
            std::fprintf(stderr, "fault %s %s -> %d (ops %u)\n",
                         f.isFunction ? "function" : "property", f.name.c_str(), f.status, f.ops);
        if (f.isFunction)
            host.faults().failFunction(f.name, f.status);
        else
            host.faults().failProperty(f.name, f.status, f.ops);
    }
}

/// Fails unless kParams names every parameter the effect defines, with its kind: a parameter
/// the table lacks would never be fuzzed.
void checkParamTable(ofxhost::Effect& descriptor) {
    static const std::pair<const char*, ParamKind> kKinds[] = {
        {kOfxParamTypeDouble, ParamKind::Double},
        {kOfxParamTypeBoolean, ParamKind::Boolean},
        {kOfxParamTypeChoice, ParamKind::Choice},
        {kOfxParamTypeRGBA, ParamKind::RGBA}};
    for (const std::string& name : descriptor.paramNames()) {
        const ofxhost::Param* param = descriptor.findParam(name);
        if (!param || param->info().dimension == 0)
            continue; // pages and groups hold no value
        const FuzzedParam* entry = nullptr;
        for (const FuzzedParam& p : kParams)
            if (name == p.name)
                entry = &p;
        bool kindAgrees = false;
        for (const auto& [type, kind] : kKinds)
            kindAgrees = kindAgrees || (param->type() == type && entry && entry->kind == kind);
        if (!kindAgrees) {
            std::fprintf(stderr, "session fuzzer: parameter %s (%s)\n", name.c_str(),
                         param->type().c_str());
            fail("kParams lacks a parameter of the effect, or gives it another kind");
        }
    }
}

/// The module reads the host's description on its first load ever and keeps it; an ordinary
/// host loads it first, so that every input meets the same module whatever ran before it.
/// The same host checks that the parameter table knows every parameter of the effect.
void warmUp(const ofxhost::Module& module) {
    ofxhost::Host host;
    ofxhost::PluginSession session(host, module.plugin(0));
    if (session.load() != kOfxStatOK || session.describe() != kOfxStatOK ||
        session.describeInContext(kOfxImageEffectContextFilter) != kOfxStatOK)
        fail("an ordinary host cannot load and describe the module");
    ofxhost::Effect* descriptor = session.contextDescriptor(kOfxImageEffectContextFilter);
    if (!descriptor)
        fail("the filter context has no descriptor");
    checkParamTable(*descriptor);
    if (session.unload() != kOfxStatOK)
        fail("an ordinary host cannot unload the module");
}

ofxhost::Module& module() {
    // Loaded once and kept: dlclose between inputs would hide state carried between sessions.
    static ofxhost::Module loaded(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    static bool ready = false;
    if (!loaded.ok())
        fail(("cannot load the module: " + loaded.error()).c_str());
    if (!ready) {
        ready = true;
        warmUp(loaded);
    }
    return loaded;
}

void runSession(Input& in, int format) {
    ofxhost::Host host;
    if (in.flag())
        host.setFlavour(ofxhost::Flavour::MltLike);
    const bool mlt = host.flavour() == ofxhost::Flavour::MltLike;

    for (int i = in.below(3); i > 0; --i)
        spoilProperty(in, host.properties(),
                      kHostPropertyNames[in.below(static_cast<int>(kHostPropertyNames.size()))]);
    if (in.rarely(4)) {
        const char* suite = kSuiteNames[in.below(static_cast<int>(kSuiteNames.size()))];
        host.faults().withholdSuite(suite, in.below(3));
    }

    // Faults take effect at one of three stages: loading, creating, acting.
    std::vector<PendingFault> stages[3];
    for (int i = in.below(4); i > 0; --i) {
        PendingFault f;
        f.isFunction = in.flag();
        f.name = f.isFunction ? kSuiteMembers[in.below(static_cast<int>(kSuiteMembers.size()))]
                              : kPropertyNames[in.below(static_cast<int>(kPropertyNames.size()))];
        f.status = anyStatus(in);
        f.ops = 1u + static_cast<unsigned>(in.below(7));
        stages[in.below(3)].push_back(f);
    }

    static const unsigned kThreads[] = {0, 1, 2, 3, 8, 64};
    host.setNumCPUs(kThreads[in.below(6)]);

    const int abortMode = in.below(4);
    const int abortAfter = in.byte();
    auto abortCalls = std::make_shared<std::atomic<int>>(0);
    if (abortMode == 1)
        host.setAbortHook([](OfxImageEffectHandle) { return 1; });
    else if (abortMode == 2)
        host.setAbortHook([abortCalls, abortAfter](OfxImageEffectHandle) {
            return abortCalls->fetch_add(1) >= abortAfter ? 1 : 0;
        });

    OfxPlugin* plugin = module().plugin(0);
    if (!plugin)
        fail("the module offers no plug-in");
    std::vector<std::shared_ptr<ofxhost::Image>> images;
    int loads = 0;
    bool releaseFaulted = false;
    {
        ofxhost::PluginSession session(host, plugin);
        applyFaults(host, stages[0]);
        for (const PendingFault& f : stages[0])
            releaseFaulted = releaseFaulted || f.name == "clipReleaseImage";
        for (int i = 1 + in.below(3); i > 0; --i)
            if (session.load() == kOfxStatOK)
                ++loads;
        ofxhost::Effect* fx = nullptr;
        if (loads > 0) {
            const int describes = 1 + in.below(2);
            for (int i = 0; i < describes; ++i) {
                session.describe();
                if (mlt)
                    ++loads; // a host like MLT loads again before every describe
            }
            const std::string context = in.oneOf(kContexts);
            session.describeInContext(context);
            applyFaults(host, stages[1]);
            for (const PendingFault& f : stages[1])
                releaseFaulted = releaseFaulted || f.name == "clipReleaseImage";
            fx = session.createInstance(context).instance;
        }
        if (fx) {
            struct ClipChoice {
                const char* name;
                ofxhost::Components components;
                ofxhost::Depth depth;
            };
            const auto pickComponents = [&] {
                return in.flag() ? ofxhost::Components::Alpha : ofxhost::Components::RGBA;
            };
            const auto pickDepth = [&] { return static_cast<ofxhost::Depth>(in.below(3)); };
            const ofxhost::Components components = pickComponents();
            const ofxhost::Depth depth = pickDepth();
            OfxPointI shared{0, 0};
            for (const char* name :
                 {kOfxImageEffectOutputClipName, kOfxImageEffectSimpleSourceClipName}) {
                ofxhost::Clip* clip = fx->findClip(name);
                if (!clip)
                    continue;
                // Mostly the formats agree; sometimes the source differs.
                const bool differ = in.rarely(4);
                const ofxhost::Components c = differ ? pickComponents() : components;
                const ofxhost::Depth d = differ ? pickDepth() : depth;
                clip->setFormat(c, d);
                if (in.rarely(4)) {
                    const bool ofDepth = in.flag();
                    const std::string value = in.oneOf(ofDepth ? kDepths : kComponentNames);
                    clip->props().setString(ofDepth ? kOfxImageEffectPropPixelDepth
                                                    : kOfxImageEffectPropComponents,
                                            value);
                }
                if (in.rarely(8))
                    clip->setPremultiplication(in.oneOf(kPremultiplications));
                if (in.rarely(8)) {
                    clip->setConnected(false);
                    continue;
                }
                if (in.rarely(8))
                    continue; // connected, yet no image
                images.push_back(attachImage(in, *clip, c, d, shared));
                if (in.rarely(4))
                    clip->setRegionOfDefinition({static_cast<double>(in.anyInt()) / 64,
                                                 static_cast<double>(in.anyInt()) / 64,
                                                 static_cast<double>(in.anyInt()) / 64,
                                                 static_cast<double>(in.anyInt()) / 64});
            }
            setParams(in, *fx, format);
            applyFaults(host, stages[2]);
            for (const PendingFault& f : stages[2])
                releaseFaulted = releaseFaulted || f.name == "clipReleaseImage";

            const auto window = [&]() -> OfxRectI {
                ofxhost::Clip* out = fx->findClip(kOfxImageEffectOutputClipName);
                std::shared_ptr<ofxhost::Image> img = out ? out->imageAt(0) : nullptr;
                const int choice = in.below(4);
                if (img && choice == 0)
                    return img->bounds(); // what most hosts ask for
                if (img && choice != 3) {
                    // Some part of the image.
                    const OfxRectI& b = img->bounds();
                    const int w = b.x2 - b.x1, h = b.y2 - b.y1;
                    const int x1 = b.x1 + in.below(w + 1);
                    const int y1 = b.y1 + in.below(h + 1);
                    const int x2 = x1 + in.below(b.x2 - x1 + 1);
                    return {x1, y1, x2, y1 + in.below(b.y2 - y1 + 1)};
                }
                return {in.anyInt(), in.anyInt(), in.anyInt(), in.anyInt()};
            };
            const auto spoiler = [&](std::vector<const char*> names) -> ofxhost::ArgsEditor {
                if (!in.rarely(4))
                    return {};
                const std::string name = names[in.below(static_cast<int>(names.size()))];
                const int kind = in.byte();
                const int i = in.anyInt();
                const double d = in.anyDouble();
                const std::string s = in.text();
                return [name, kind, i, d, s](ofxhost::PropertySet& args) {
                    switch (kind % 5) {
                    case 0:
                        args.setStrings(name, {});
                        break;
                    case 1:
                        args.setInt(name, i, kind / 5 % 4);
                        break;
                    case 2:
                        args.setDoubles(name, {d, d});
                        break;
                    case 3:
                        args.setString(name, s);
                        break;
                    default:
                        args.remove(name);
                        break;
                    }
                };
            };

            for (int step = 1 + in.below(6); step > 0; --step) {
                const double time = in.rarely(3) ? in.anyDouble() : 0.0;
                switch (in.below(8)) {
                case 0:
                case 1:
                case 2: {
                    const OfxRectI area = window();
                    const std::string field = in.oneOf(kFields);
                    const ofxhost::ArgsEditor edit =
                        spoiler({kOfxImageEffectPropRenderWindow, kOfxPropTime,
                                 kOfxImageEffectPropRenderScale, kOfxImageEffectPropFieldToRender,
                                 kOfxImageEffectPropRenderQuality});
                    session.render(*fx, time, area, {1.0, 1.0}, field, edit);
                    break;
                }
                case 3: {
                    const OfxRectI area = window();
                    session.isIdentity(*fx, time, area, {1.0, 1.0}, in.oneOf(kFields));
                    break;
                }
                case 4:
                    session.regionOfDefinition(*fx, time);
                    break;
                case 5:
                    session.regionsOfInterest(
                        *fx, time,
                        {in.anyDouble(), in.anyDouble(), in.anyDouble(), in.anyDouble()});
                    break;
                case 6: {
                    const OfxRangeD frames{in.anyDouble(), in.anyDouble()};
                    const double frameStep = in.anyDouble();
                    const bool interactive = in.flag();
                    const ofxhost::ArgsEditor edit =
                        spoiler({kOfxImageEffectPropFrameRange, kOfxImageEffectPropFrameStep,
                                 kOfxPropIsInteractive, kOfxImageEffectPropRenderScale});
                    session.beginSequenceRender(*fx, frames, frameStep, {1.0, 1.0}, interactive,
                                                edit);
                    session.render(*fx, time, window());
                    session.endSequenceRender(*fx, frames, frameStep, {1.0, 1.0}, in.flag());
                    break;
                }
                default:
                    session.clipPreferences(*fx);
                    session.framesNeeded(*fx, time);
                    const char* type = in.flag() ? kOfxTypeParameter : kOfxTypeClip;
                    const std::string name = in.text();
                    session.instanceChanged(
                        *fx, type, name,
                        in.oneOf({kOfxChangeUserEdited, kOfxChangePluginEdited, kOfxChangeTime}));
                    break;
                }
            }
        }

        // Whatever the host answered, the module wrote only inside the buffers and gave back
        // every image it took.
        for (const auto& image : images)
            if (!image->guardsIntact())
                fail("the module wrote outside an image's pixels");
        if (!releaseFaulted && !host.allImagesReleased())
            fail("the module kept an image");

        // Teardown runs on an honest host, so the module can release everything.
        host.faults().clear();
        host.setAbortHook(nullptr);
        const bool trace = std::getenv("NIMBRA_FUZZ_TRACE") != nullptr;
        if (fx) {
            const OfxStatus destroyed = session.destroyInstance(*fx);
            if (trace)
                std::fprintf(stderr, "destroy: %d\n", destroyed);
        }
        for (; loads > 0; --loads)
            session.unload();
        if (in.rarely(8))
            session.unload(); // one the host never loaded for
        if (trace)
            for (const std::string& line : session.actionLog())
                std::fprintf(stderr, "  %s\n", line.c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Format 2 inputs start with a mark; every other input is of format 1, read as ever.
    static const std::uint8_t kFormatTwo[] = {'N', 'F', 'z', 2};
    int format = 1;
    if (size >= sizeof kFormatTwo && std::memcmp(data, kFormatTwo, sizeof kFormatTwo) == 0) {
        format = 2;
        data += sizeof kFormatTwo;
        size -= sizeof kFormatTwo;
    }
    Input in(data, size);
    try {
        runSession(in, format);
    } catch (const std::exception& e) {
        // Only the host's own objects throw (the module answers with statuses); a host
        // refusing the harness's request is not a finding.
        (void)e;
    }
    return 0;
}
