#include "render_job.h"

#include "image_io.h"

#include "effect.h"
#include "host.h"
#include "module.h"
#include "session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace nimbra_render {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFilterContext = "OfxImageEffectContextFilter";
constexpr const char* kBundleName = "Nimbra_JP.ofx.bundle";

// A status is fine when it is OK or, for actions a plug-in may leave to the host, "default".
void check(OfxStatus status, const std::string& action, ofxhost::Host& host,
           bool defaultIsFine = true) {
    if (status == kOfxStatOK || (defaultIsFine && status == kOfxStatReplyDefault))
        return;
    std::string message = "the plug-in failed " + action + ": " + statusName(status);
    for (const ofxhost::Message& m : host.messages())
        if (!m.text.empty())
            message += "\n  plug-in says: " + m.text;
    throw RenderError(message);
}

// The module and the host it talks to. The module is declared first so that it outlives
// the host, which outlives every session built on them.
struct LoadedModule {
    explicit LoadedModule(const std::string& path) : module(path) {
        if (!module.ok())
            throw RenderError("cannot load the plug-in " + path + ": " + module.error());
        module.setHost(host.ofxHost());
    }
    std::string bundleOrBinary() const {
        return module.bundlePath().empty() ? module.binaryPath() : module.bundlePath();
    }
    ofxhost::Module module;
    ofxhost::Host host;
};

bool isImageEffect(const OfxPlugin* plugin) {
    return plugin && plugin->pluginApi &&
           std::strcmp(plugin->pluginApi, kOfxImageEffectPluginApi) == 0;
}

OfxPlugin* choosePlugin(const ofxhost::Module& module, const std::string& id) {
    if (module.pluginCount() <= 0)
        throw RenderError("the module holds no plug-ins");
    if (id.empty()) {
        for (int i = 0; i < module.pluginCount(); ++i)
            if (isImageEffect(module.plugin(i)))
                return module.plugin(i);
        throw RenderError("the module holds no image-effect plug-in");
    }
    if (OfxPlugin* p = module.pluginById(id))
        return p;
    std::string known;
    for (int i = 0; i < module.pluginCount(); ++i)
        known += std::string(known.empty() ? "" : ", ") + module.plugin(i)->pluginIdentifier;
    throw RenderError("no plug-in with the identifier '" + id + "' (the module has: " + known +
                      ")");
}

std::vector<std::string> stringsOf(ofxhost::PropertySet& props, const char* name) {
    return props.has(name) ? props.getStrings(name) : std::vector<std::string>{};
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::vector<double> numbersOf(ofxhost::PropertySet& props, const char* name) {
    if (!props.has(name))
        return {};
    if (props.type(name) == ofxhost::PropType::Double)
        return props.getDoubles(name);
    if (props.type(name) == ofxhost::PropType::Int) {
        std::vector<int> ints = props.getInts(name);
        return {ints.begin(), ints.end()};
    }
    return {};
}

std::string joinNumbers(const std::vector<double>& values) {
    std::ostringstream out;
    for (std::size_t i = 0; i < values.size(); ++i)
        out << (i ? "," : "") << values[i];
    return out.str();
}

// Descriptors say "no limit" with the extreme doubles.
bool bounded(const std::vector<double>& min, const std::vector<double>& max) {
    for (std::size_t i = 0; i < min.size() && i < max.size(); ++i)
        if (min[i] > -1e300 || max[i] < 1e300)
            return true;
    return false;
}

std::string shortType(const std::string& type) {
    const std::string prefix = "OfxParamType";
    return type.rfind(prefix, 0) == 0 ? type.substr(prefix.size()) : type;
}

std::string describeDefault(ofxhost::Param& param, const ParamShape& shape) {
    ofxhost::PropertySet& props = param.props();
    if (!props.has(kOfxParamPropDefault))
        return "-";
    if (shape.isString)
        return "\"" + props.getString(kOfxParamPropDefault) + "\"";
    const std::vector<double> v = numbersOf(props, kOfxParamPropDefault);
    if (shape.type == kOfxParamTypeBoolean && v.size() == 1)
        return v[0] != 0.0 ? "true" : "false";
    if (shape.type == kOfxParamTypeChoice && v.size() == 1 && v[0] >= 0 &&
        static_cast<std::size_t>(v[0]) < shape.choices.size())
        return shape.choices[static_cast<std::size_t>(v[0])];
    return joinNumbers(v);
}

// Removes temporary files unless they were all renamed into place.
class PendingOutputs {
public:
    PendingOutputs() = default;
    PendingOutputs(const PendingOutputs&) = delete;
    PendingOutputs& operator=(const PendingOutputs&) = delete;
    ~PendingOutputs() {
        for (const auto& [temp, final] : files_)
            std::remove(temp.c_str());
    }

    /// A new empty temporary file beside `finalPath`.
    std::string create(const std::string& finalPath) {
        const fs::path target(finalPath);
        const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
        std::string temp = (dir / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
        const int fd = mkstemp(temp.data());
        if (fd < 0)
            throw RenderError("cannot create a file in " + dir.string() + ": " +
                              std::strerror(errno));
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        close(fd);
        files_.emplace_back(temp, finalPath);
        return temp;
    }

    /// Renames every temporary file into place.
    void commit() {
        for (auto& [temp, final] : files_) {
            if (std::rename(temp.c_str(), final.c_str()) != 0)
                throw RenderError("cannot write " + final + ": " + std::strerror(errno));
            temp.clear();
        }
        files_.clear();
    }

private:
    std::vector<std::pair<std::string, std::string>> files_;
};

void showProgress(int done, int total) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? done * kWidth / total : kWidth;
    std::fprintf(stderr, "\r[%.*s%*s] %d/%d frames", filled, "##############################",
                 kWidth - filled, "", done, total);
    if (done == total)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

ofxhost::Depth depthFor(DepthChoice choice, SampleFormat format) {
    switch (choice) {
    case DepthChoice::Byte:
        return ofxhost::Depth::Byte;
    case DepthChoice::Short:
        return ofxhost::Depth::Short;
    case DepthChoice::Float:
        return ofxhost::Depth::Float;
    case DepthChoice::FromInput:
        break;
    }
    switch (format) {
    case SampleFormat::U8:
        return ofxhost::Depth::Byte;
    case SampleFormat::U16:
        return ofxhost::Depth::Short;
    default:
        return ofxhost::Depth::Float;
    }
}

double depthScale(ofxhost::Depth depth) {
    return depth == ofxhost::Depth::Byte ? 255.0 : depth == ofxhost::Depth::Short ? 65535.0 : 1.0;
}

// File rows are stored top first; OFX rows grow upward from y = 0.
std::shared_ptr<ofxhost::Image> toHostImage(const Raster& raster, ofxhost::Depth depth) {
    auto image = std::make_shared<ofxhost::Image>(OfxRectI{0, 0, raster.width, raster.height},
                                                  ofxhost::Components::RGBA, depth);
    const double scale = depthScale(depth);
    for (int row = 0; row < raster.height; ++row) {
        const int y = raster.height - 1 - row;
        const float* p = raster.pixel(0, row);
        for (int x = 0; x < raster.width; ++x, p += 4)
            for (int c = 0; c < 4; ++c)
                image->set(x, y, c, static_cast<double>(p[c]) * scale);
    }
    return image;
}

Raster fromHostImage(const ofxhost::Image& image, Alpha alpha) {
    Raster raster;
    raster.width = image.width();
    raster.height = image.height();
    raster.alpha = alpha;
    raster.rgba.resize(static_cast<std::size_t>(raster.width) * raster.height * 4);
    const double scale = depthScale(image.depth());
    for (int row = 0; row < raster.height; ++row) {
        const int y = raster.height - 1 - row;
        float* p = raster.pixel(0, row);
        for (int x = 0; x < raster.width; ++x, p += 4)
            for (int c = 0; c < 4; ++c)
                p[c] = static_cast<float>(image.get(x, y, c) / scale);
    }
    return raster;
}

} // namespace

std::string statusName(OfxStatus status) {
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
        return "status " + std::to_string(status);
    }
}

std::string locatePlugin(const std::string& requested) {
    std::error_code ec;
    if (!requested.empty()) {
        if (!fs::exists(requested, ec))
            throw RenderError("no plug-in at " + requested);
        return requested;
    }
    std::vector<fs::path> candidates;
    const fs::path exeDir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    const bool inBuildTree = !ec && fs::equivalent(exeDir, NIMBRA_RENDERER_BUILD_DIR, ec);
    if (inBuildTree)
        candidates.emplace_back(NIMBRA_BUILD_BUNDLE);
    if (const char* env = std::getenv("OFX_PLUGIN_PATH")) {
        std::istringstream dirs(env);
        std::string dir;
        while (std::getline(dirs, dir, ':'))
            if (!dir.empty())
                candidates.push_back(fs::path(dir) / kBundleName);
    }
    fs::path installDir(NIMBRA_INSTALL_PLUGIN_DIR);
    if (installDir.is_relative())
        installDir = exeDir.parent_path() / installDir;
    candidates.push_back(installDir / kBundleName);
    candidates.push_back(fs::path("/usr/OFX/Plugins") / kBundleName);
    // An installed copy never looks into the tree it was built in: that bundle may be stale,
    // of another version, or gone, and the user asked for the installed one.
    for (const fs::path& c : candidates)
        if (fs::is_directory(c, ec))
            return c.string();
    std::string tried;
    for (const fs::path& c : candidates)
        tried += "\n  " + c.string();
    throw RenderError("cannot find " + std::string(kBundleName) + "; looked in:" + tried +
                      "\nname one with --plugin PATH");
}

ParamShape shapeOf(ofxhost::Param& param) {
    ParamShape shape;
    shape.type = param.type();
    const ofxhost::ParamTypeInfo& info = param.info();
    shape.dimension = info.dimension;
    shape.isString = info.kind == ofxhost::ValueKind::String;
    shape.integral = info.kind == ofxhost::ValueKind::Int;
    ofxhost::PropertySet& props = param.props();
    if (shape.type == kOfxParamTypeChoice)
        shape.choices = stringsOf(props, "OfxParamPropChoiceOption");
    if (shape.type != kOfxParamTypeBoolean && shape.type != kOfxParamTypeChoice) {
        std::vector<double> min = numbersOf(props, kOfxParamPropMin);
        std::vector<double> max = numbersOf(props, kOfxParamPropMax);
        if (min.size() == max.size() && static_cast<int>(min.size()) == shape.dimension) {
            shape.min = std::move(min);
            shape.max = std::move(max);
        }
    }
    return shape;
}

void applyAssignment(ofxhost::Param& param, const Assignment& assignment) {
    const ParamShape shape = shapeOf(param);
    if (shape.dimension == 0 || !param.info().supported)
        throw UsageError(assignment.name + " (" + shortType(shape.type) + ") holds no value");
    const ParamValue value = parseParamValue(assignment.name, shape, assignment.value);
    if (shape.isString) {
        if (assignment.time)
            param.setStringKey(*assignment.time, value.text);
        else
            param.setString(value.text);
    } else if (assignment.time) {
        param.setKey(*assignment.time, value.numbers);
    } else {
        param.setValue(value.numbers);
    }
}

void listPlugins(const Options& options, std::ostream& out) {
    LoadedModule loaded(locatePlugin(options.plugin));
    ofxhost::Host& host = loaded.host;
    out << loaded.bundleOrBinary() << "\n";
    if (!options.id.empty())
        choosePlugin(loaded.module, options.id); // an unknown identifier is an error here too
    std::vector<std::unique_ptr<ofxhost::PluginSession>> sessions;
    for (int i = 0; i < loaded.module.pluginCount(); ++i) {
        OfxPlugin* plugin = loaded.module.plugin(i);
        if (!options.id.empty() && options.id != plugin->pluginIdentifier)
            continue;
        out << "\n"
            << plugin->pluginIdentifier << " " << plugin->pluginVersionMajor << "."
            << plugin->pluginVersionMinor;
        if (!isImageEffect(plugin)) {
            out << " (" << (plugin->pluginApi ? plugin->pluginApi : "?") << ", not listed)\n";
            continue;
        }
        sessions.push_back(std::make_unique<ofxhost::PluginSession>(host, plugin));
        ofxhost::PluginSession& session = *sessions.back();
        session.setFilePath(loaded.bundleOrBinary());
        check(session.load(), "kOfxActionLoad", host);
        check(session.describe(), "kOfxActionDescribe", host);
        ofxhost::PropertySet& props = session.descriptor()->props();
        const std::vector<std::string> contexts =
            stringsOf(props, kOfxImageEffectPropSupportedContexts);
        if (props.has(kOfxPropLabel))
            out << "  \"" << props.getString(kOfxPropLabel) << "\"";
        out << "\n  contexts:";
        for (const std::string& c : contexts)
            out << " " << c;
        out << "\n  depths:";
        for (const std::string& d : stringsOf(props, kOfxImageEffectPropSupportedPixelDepths))
            out << " " << d;
        out << "\n";
        if (contexts.empty())
            continue;
        const std::string context =
            contains(contexts, kFilterContext) ? kFilterContext : contexts.front();
        check(session.describeInContext(context), "kOfxImageEffectActionDescribeInContext", host);
        ofxhost::Effect& descriptor = *session.contextDescriptor(context);
        out << "  parameters (" << context << "):\n";
        for (const std::string& name : descriptor.paramNames()) {
            ofxhost::Param& param = *descriptor.findParam(name);
            const ParamShape shape = shapeOf(param);
            out << "    " << name << "  " << shortType(shape.type);
            if (param.props().has(kOfxPropLabel))
                out << "  \"" << param.props().getString(kOfxPropLabel) << "\"";
            if (shape.dimension > 0)
                out << "  default " << describeDefault(param, shape);
            const bool hasRange = bounded(shape.min, shape.max);
            if (hasRange)
                out << "  range " << joinNumbers(shape.min) << ".." << joinNumbers(shape.max);
            const std::vector<double> dmin = numbersOf(param.props(), kOfxParamPropDisplayMin);
            const std::vector<double> dmax = numbersOf(param.props(), kOfxParamPropDisplayMax);
            if (hasRange && bounded(dmin, dmax) && dmin.size() == dmax.size())
                out << "  display " << joinNumbers(dmin) << ".." << joinNumbers(dmax);
            if (!shape.choices.empty()) {
                out << "  options";
                for (const std::string& c : shape.choices)
                    out << " \"" << c << "\"";
            }
            out << "\n";
        }
    }
    for (auto& session : sessions)
        session->unload();
}

OfxRectI stripOf(int width, int height, int index, int count) {
    // 64-bit products: height × index overflows an int from 46341 rows and as many strips.
    const auto edge = [&](int i) {
        return static_cast<int>(static_cast<long long>(height) * i / count);
    };
    return {0, edge(index), width, edge(index + 1)};
}

void render(const Options& options, const HostSetup& setup) {
    fileKindOf(options.input); // an unknown type fails before anything loads
    const FileKind outKind = fileKindOf(options.output);

    LoadedModule loaded(locatePlugin(options.plugin));
    ofxhost::Host& host = loaded.host;
    if (setup)
        setup(host);
    host.setNumCPUs(options.threads ? options.threads
                                    : std::max(1u, std::thread::hardware_concurrency()));
    ofxhost::PluginSession session(host, choosePlugin(loaded.module, options.id));
    session.setFilePath(loaded.bundleOrBinary());
    check(session.load(), "kOfxActionLoad", host);
    check(session.describe(), "kOfxActionDescribe", host);
    ofxhost::PropertySet& descriptor = session.descriptor()->props();
    if (!contains(stringsOf(descriptor, kOfxImageEffectPropSupportedContexts), kFilterContext))
        throw RenderError(std::string(session.plugin()->pluginIdentifier) +
                          " is not a filter (it has no filter context)");
    check(session.describeInContext(kFilterContext), "kOfxImageEffectActionDescribeInContext",
          host);
    ofxhost::InstanceResult created = session.createInstance(kFilterContext);
    check(created.status, "kOfxActionCreateInstance", host);
    if (!created.instance)
        throw RenderError("the plug-in refused to create an instance");
    ofxhost::Effect& instance = *created.instance;
    // On any failure the plug-in still hears that its instance and the module are done with
    // (a host that stops rendering does the same), so it can free what it holds.
    struct Teardown {
        ofxhost::PluginSession& session;
        ofxhost::Effect* instance;
        ~Teardown() {
            if (instance) {
                session.destroyInstance(*instance);
                session.unload();
            }
        }
    } teardown{session, &instance};

    for (const Assignment& a : options.assignments) {
        ofxhost::Param* param = instance.findParam(a.name);
        if (!param) {
            std::string known;
            for (const std::string& n : instance.paramNames())
                if (shapeOf(*instance.findParam(n)).dimension > 0)
                    known += (known.empty() ? "" : ", ") + n;
            throw UsageError("unknown parameter '" + a.name + "' (known: " + known + ")");
        }
        applyAssignment(*param, a);
    }

    const FrameRange range = options.frames.value_or(FrameRange{0, 0});
    const bool sequence = options.frames.has_value();
    const int total = range.last - range.first + 1;
    const bool progress = sequence && total > 1 && isatty(STDERR_FILENO);
    const std::vector<std::string> supportedDepths =
        stringsOf(descriptor, kOfxImageEffectPropSupportedPixelDepths);

    ofxhost::Clip& source = instance.clip(kOfxImageEffectSimpleSourceClipName);
    ofxhost::Clip& output = instance.clip(kOfxImageEffectOutputClipName);
    PendingOutputs pending;
    const OfxRangeD frames{static_cast<double>(range.first), static_cast<double>(range.last)};
    check(session.beginSequenceRender(instance, frames), "kOfxImageEffectActionBeginSequenceRender",
          host);
    for (int frame = range.first; frame <= range.last; ++frame) {
        const std::string inPath = sequence ? framePath(options.input, frame) : options.input;
        const std::string outPath = sequence ? framePath(options.output, frame) : options.output;
        Raster raster = readImage(inPath);
        const ofxhost::Depth depth = depthFor(options.depth, raster.format);
        if (!supportedDepths.empty() && !contains(supportedDepths, ofxhost::toString(depth)))
            throw RenderError(std::string("the plug-in does not process ") +
                              ofxhost::toString(depth));
        const Alpha processing = options.premult == PremultChoice::Straight ? Alpha::Straight
                                 : options.premult == PremultChoice::Premultiplied
                                     ? Alpha::Premultiplied
                                     : raster.alpha;
        convertAlpha(raster, processing);
        const char* premultiplication =
            processing == Alpha::Straight ? kOfxImageUnPreMultiplied : kOfxImagePreMultiplied;

        std::shared_ptr<ofxhost::Image> in = toHostImage(raster, depth);
        auto out = std::make_shared<ofxhost::Image>(in->bounds(), ofxhost::Components::RGBA, depth);
        for (ofxhost::Clip* clip : {&source, &output}) {
            clip->setFormat(ofxhost::Components::RGBA, depth);
            clip->setPremultiplication(premultiplication);
        }
        source.setImage(in);
        output.setImage(out);
        host.setTime(frame);

        // Strips from the bottom up; each is a render action of its own on the same images.
        const int tiles = std::min(options.tiles, std::max(1, raster.height));
        for (int t = 0; t < tiles; ++t)
            check(session.render(instance, frame, stripOf(raster.width, raster.height, t, tiles)),
                  "kOfxImageEffectActionRender", host, false);
        source.clearImages();
        output.clearImages();

        Raster result = fromHostImage(*out, processing);
        convertAlpha(result, fileAlpha(outKind));
        const std::string temp = pending.create(outPath);
        if (outKind == FileKind::Exr)
            writeExr(temp, result, raster.format == SampleFormat::Half);
        else
            writePng(temp, result, depth == ofxhost::Depth::Byte ? 8 : 16);
        if (progress)
            showProgress(frame - range.first + 1, total);
    }
    check(session.endSequenceRender(instance, frames), "kOfxImageEffectActionEndSequenceRender",
          host);
    teardown.instance = nullptr;
    check(session.destroyInstance(instance), "kOfxActionDestroyInstance", host);
    check(session.unload(), "kOfxActionUnload", host);
    pending.commit();
}

} // namespace nimbra_render
