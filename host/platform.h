// What the test host needs from the operating system, behind one small seam: loading a module,
// the bundle folder of this system, and the few process services the tests use. Everything
// else in the host is standard C++.
#pragma once

#include <cstddef>
#include <string>

namespace ofxhost::platform {

/// The folder of a bundle's Contents that holds this system's binary: "Linux-x86-64", "Win64".
const char* bundleArch();

/// An opened shared library (dlopen or LoadLibraryW), or null when it could not be opened,
/// with the system's reason in `error`. Paths are UTF-8.
void* openLibrary(const std::string& path, std::string& error);
/// The address of an exported symbol, or null.
void* librarySymbol(void* library, const char* name);
/// Unloads the library: its static destructors run now, if nothing else holds it.
void closeLibrary(void* library);

/// True when `path` names an existing directory.
bool isDirectory(const std::string& path);

/// Sets a variable in this process's environment, where getenv (the module's too) sees it.
void setEnvironment(const std::string& name, const std::string& value);
/// Removes a variable from this process's environment.
void unsetEnvironment(const std::string& name);

/// This process's identifier, for file names of its own.
long processId();

/// `bytes` of zeroed memory whose pages take physical memory only once they are touched (an
/// image gigabytes tall of which a test writes a few rows); null when the system refuses.
void* reservePages(std::size_t bytes);
/// Gives back what reservePages answered, with the same size.
void releasePages(void* pages, std::size_t bytes);

} // namespace ofxhost::platform
