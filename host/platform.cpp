#include "platform.h"

#include <cstdlib>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ofxhost::platform {

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string lastErrorText() {
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 ? std::string(text, n) : std::string();
    if (text != nullptr)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return "error " + std::to_string(code) + (message.empty() ? "" : " (" + message + ")");
}

} // namespace

const char* bundleArch() { return "Win64"; }

void* openLibrary(const std::string& path, std::string& error) {
    // No dialog box from the loader when a dependency is missing: a test host runs headless.
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryW(widen(path).c_str());
    if (module == nullptr)
        error = lastErrorText();
    ::SetErrorMode(previous);
    return reinterpret_cast<void*>(module);
}

void* librarySymbol(void* library, const char* name) {
    // GetProcAddress answers a generic function pointer; callers cast it to the real type.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }

bool isDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// _putenv_s changes the C runtime's copy, which getenv reads in every module sharing the
// runtime DLL, and the process's own environment block.
void setEnvironment(const std::string& name, const std::string& value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

void unsetEnvironment(const std::string& name) { ::_putenv_s(name.c_str(), ""); }

long processId() { return static_cast<long>(::GetCurrentProcessId()); }

void* reservePages(std::size_t bytes) {
    // Committed pages are zero and get physical memory on first touch.
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releasePages(void* pages, std::size_t /*bytes*/) { ::VirtualFree(pages, 0, MEM_RELEASE); }

#else

const char* bundleArch() {
#ifdef __APPLE__
    return "MacOS";
#else
    return "Linux-x86-64";
#endif
}

void* openLibrary(const std::string& path, std::string& error) {
    ::dlerror();
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* e = ::dlerror();
        error = e ? e : "unknown dl error";
    }
    return library;
}

void* librarySymbol(void* library, const char* name) {
    ::dlerror();
    return ::dlsym(library, name);
}

void closeLibrary(void* library) { ::dlclose(library); }

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void setEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnvironment(const std::string& name) { ::unsetenv(name.c_str()); }

long processId() { return static_cast<long>(::getpid()); }

void* reservePages(std::size_t bytes) {
    void* pages = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void releasePages(void* pages, std::size_t bytes) { ::munmap(pages, bytes); }

#endif

} // namespace ofxhost::platform
