// A temporary file for a test to write and read back.
#pragma once

#include "platform.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace nimbra_test {

/// A file in the temporary directory, open for update, removed when it goes. Its name holds
/// this process's identifier and a count: std::tmpfile() on Windows names its files in a
/// sequence every process starts alike, so two test programs running at once (CTest -j)
/// collide and one of them gets no file.
class ScratchFile {
public:
    ScratchFile() {
        static std::atomic<unsigned> count{0};
        std::error_code error;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(error);
        if (error)
            return;
        path_ = dir / ("nimbra-test-" + std::to_string(ofxhost::platform::processId()) + "-" +
                       std::to_string(count++) + ".txt");
        file_ = std::fopen(path_.string().c_str(), "w+b");
    }
    ~ScratchFile() {
        if (file_)
            std::fclose(file_);
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    /// The open file; null when it could not be made.
    std::FILE* get() const { return file_; }

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
};

} // namespace nimbra_test
