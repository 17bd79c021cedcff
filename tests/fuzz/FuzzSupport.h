#pragma once
// Shared by the fuzz targets: readers that take a file name get the input through a file of this process.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

namespace velmora::fuzz {

// One file per process, so parallel fuzzing jobs never read each other's input; removed at exit.
class InputFile {
public:
    explicit InputFile(const char* stem)
        : path_((std::filesystem::temp_directory_path() /
                 (std::string("velmora-") + stem + "-" + std::to_string(::getpid()) + ".xml"))
                    .string()) {}
    ~InputFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& Write(const uint8_t* data, size_t size) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) {
            std::fprintf(stderr, "cannot write the fuzz input file %s\n", path_.c_str());
            std::abort();
        }
        return path_;
    }

private:
    std::string path_;
};

// A failure the reader's contract does not allow: report it and stop, so libFuzzer keeps the input.
[[noreturn]] inline void Fault(const char* what, const char* detail) {
    std::fprintf(stderr, "FAULT: %s: %s\n", what, detail);
    std::abort();
}

// Runs one reader over an input; anything it lets escape is a fault named after `who`.
template <class Body>
void NothingEscapes(const char* who, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        Fault(who, e.what());
    } catch (...) {
        Fault(who, "an object that is no std::exception");
    }
}

} // namespace velmora::fuzz
