// Shared by the fuzz targets: a check that stops the run with a message, a reader that takes
// typed values from the fuzz input (zeros once it runs out), and a private working directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// A broken property is a crash for the fuzzer: it keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace torvik::fuzz {

class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - at_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (std::uint32_t{u16()} << 16); }

    // Up to n bytes, fewer when the input ends first.
    std::string bytes(std::size_t n) {
        const std::size_t take = n < remaining() ? n : remaining();
        std::string out(reinterpret_cast<const char*>(data_ + at_), take);
        at_ += take;
        return out;
    }
    std::string rest() { return bytes(remaining()); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A fresh directory of the system's temporary area, made the working directory for the life of
// the process (and removed at its normal end): the targets that run the tool write its output
// files there.
class WorkDir {
  public:
    WorkDir() : previous_(std::filesystem::current_path()) {
        namespace fs = std::filesystem;
        std::random_device random;
        while (true) {
            const fs::path candidate =
                fs::temp_directory_path() / ("torvik_fuzz_" + std::to_string(random()));
            if (fs::create_directory(candidate)) {
                path_ = candidate;
                break;
            }
        }
        fs::current_path(path_);
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

inline const std::filesystem::path& work_dir() {
    static const WorkDir dir;
    return dir.path();
}

}  // namespace torvik::fuzz
