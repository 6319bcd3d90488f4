#include "module.h"

#include "platform.h"

#include <cstring>
#include <utility>

namespace ofxhost {

namespace {

const char kBundleSuffix[] = ".ofx.bundle";

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::string Module::binaryInBundle(const std::string& bundle, const std::string& arch) {
    std::string dir = bundle;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    std::string base =
        dir.substr(dir.find_last_of('/') == std::string::npos ? 0 : dir.find_last_of('/') + 1);
    if (endsWith(base, kBundleSuffix))
        base.resize(base.size() - std::strlen(kBundleSuffix));
    return dir + "/Contents/" + arch + "/" + base + ".ofx";
}

Module::Module(const std::string& path, bool keepLoaded) : keepLoaded_(keepLoaded) {
    if (platform::isDirectory(path)) {
        std::string dir = path;
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        if (!endsWith(dir, kBundleSuffix)) {
            error_ = path + ": a directory that is not a " + kBundleSuffix;
            return;
        }
        bundlePath_ = dir;
        binaryPath_ = binaryInBundle(dir, platform::bundleArch());
    } else {
        binaryPath_ = path;
    }
    std::string why;
    handle_ = platform::openLibrary(binaryPath_, why);
    if (handle_ == nullptr) {
        error_ = "cannot open " + binaryPath_ + ": " + why;
        return;
    }
    // Both systems hand out symbols as data pointers that convert to the functions they are.
    numberOfPlugins_ = reinterpret_cast<int (*)()>(symbol("OfxGetNumberOfPlugins"));
    getPlugin_ = reinterpret_cast<OfxPlugin* (*)(int)>(symbol("OfxGetPlugin"));
    setHost_ = reinterpret_cast<OfxStatus (*)(const OfxHost*)>(symbol("OfxSetHost"));
    if (numberOfPlugins_ == nullptr || getPlugin_ == nullptr) {
        error_ = binaryPath_ + " does not export " +
                 (numberOfPlugins_ == nullptr ? "OfxGetNumberOfPlugins" : "OfxGetPlugin") +
                 " (missing extern \"C\" or default visibility?)";
        getPlugin_ = nullptr;
    }
}

void* Module::symbol(const char* name) const {
    return handle_ != nullptr ? platform::librarySymbol(handle_, name) : nullptr;
}

Module::~Module() { close(); }

Module::Module(Module&& other) noexcept { *this = std::move(other); }

Module& Module::operator=(Module&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        keepLoaded_ = other.keepLoaded_;
        error_ = std::move(other.error_);
        binaryPath_ = std::move(other.binaryPath_);
        bundlePath_ = std::move(other.bundlePath_);
        numberOfPlugins_ = std::exchange(other.numberOfPlugins_, nullptr);
        getPlugin_ = std::exchange(other.getPlugin_, nullptr);
        setHost_ = std::exchange(other.setHost_, nullptr);
    }
    return *this;
}

void Module::close() {
    if (handle_ != nullptr && !keepLoaded_)
        platform::closeLibrary(handle_);
    handle_ = nullptr;
}

OfxStatus Module::setHost(const OfxHost* host) const {
    return setHost_ ? setHost_(host) : kOfxStatReplyDefault;
}

int Module::pluginCount() const { return ok() ? numberOfPlugins_() : 0; }

OfxPlugin* Module::plugin(int nth) const {
    if (!ok() || nth < 0 || nth >= pluginCount())
        return nullptr;
    return getPlugin_(nth);
}

OfxPlugin* Module::pluginById(const std::string& identifier) const {
    for (int i = 0; i < pluginCount(); ++i) {
        OfxPlugin* p = getPlugin_(i);
        if (p != nullptr && p->pluginIdentifier != nullptr && identifier == p->pluginIdentifier)
            return p;
    }
    return nullptr;
}

} // namespace ofxhost
