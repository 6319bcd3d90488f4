// Loading a plug-in binary the way a host does: the system's loader and the exported entry
// points.
#pragma once

#include "ofx_api.h"

#include <string>

namespace ofxhost {

/// An opened .ofx binary. Accepts the binary itself or a <Name>.ofx.bundle directory, whose
/// binary for this system it opens.
class Module {
public:
    /// Opens `path` (dlopen with RTLD_NOW | RTLD_LOCAL, or LoadLibraryW); check ok() and error().
    explicit Module(const std::string& path, bool keepLoaded = false);
    /// Unloads (dlclose, FreeLibrary) unless keepLoaded was requested.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;

    /// True when the binary is open and exports both required entry points.
    bool ok() const { return handle_ != nullptr && getPlugin_ != nullptr; }
    /// What went wrong, in words ("" when ok()).
    const std::string& error() const { return error_; }
    /// The binary that was opened.
    const std::string& binaryPath() const { return binaryPath_; }
    /// The bundle directory, or "" when a bare binary was opened.
    const std::string& bundlePath() const { return bundlePath_; }

    /// True when the binary exports the optional OfxSetHost.
    bool hasSetHost() const { return setHost_ != nullptr; }
    /// Calls OfxSetHost when exported; kOfxStatReplyDefault when it is not.
    OfxStatus setHost(const OfxHost* host) const;
    /// OfxGetNumberOfPlugins(), or 0 when not ok().
    int pluginCount() const;
    /// OfxGetPlugin(nth), or null when not ok() or nth is out of range.
    OfxPlugin* plugin(int nth) const;
    /// The plug-in with that identifier, or null.
    OfxPlugin* pluginById(const std::string& identifier) const;

    /// Any exported symbol by name, or null; for tests that call entry points raw.
    void* symbol(const char* name) const;

    /// Binary path inside a bundle: <bundle>/Contents/<arch>/<Name>.ofx.
    static std::string binaryInBundle(const std::string& bundle, const std::string& arch);

private:
    void close();

    void* handle_ = nullptr;
    bool keepLoaded_ = false;
    std::string error_;
    std::string binaryPath_;
    std::string bundlePath_;
    int (*numberOfPlugins_)() = nullptr;
    OfxPlugin* (*getPlugin_)(int) = nullptr;
    OfxStatus (*setHost_)(const OfxHost*) = nullptr;
};

} // namespace ofxhost
