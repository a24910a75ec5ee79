// Test helpers: a temporary working directory, a console capture, whole-file reads.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/output_file.h"

namespace torvik::testing {

// Makes a fresh directory and works in it for the lifetime of the object.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    bool exists(const std::string& name) const;
    std::string read(const std::string& name) const;  // whole file, binary
    // A text file as the program meant it: CRLF line ends (Windows text mode) read back as LF.
    std::string read_text(const std::string& name) const;
    std::vector<unsigned char> read_bytes(const std::string& name) const;

  private:
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

// A FILE* that collects what is written to it.
class Capture {
  public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* file() const { return file_; }
    std::string text() const;

  private:
    std::FILE* file_;
};

// A FILE* that reads the given text (for the drive prompt). Close it with std::fclose; the file
// behind it disappears then.
std::FILE* input_from(const std::string& text);

// An anonymous binary read/write file, gone when closed: std::tmpfile() where it is usable.
std::FILE* anonymous_file();

// The text that writer puts into an output file (on a fake platform, in a scratch directory),
// with LF line ends.
std::string written_text(const std::function<void(OutputFile*)>& writer);

// Text with every CRLF turned into LF.
std::string without_cr(const std::string& text);

// The whole file as it is on disk (empty when it cannot be read).
std::string read_file(const std::filesystem::path& path);
// A text file as the program meant it: CRLF line ends read back as LF.
std::string read_text_file(const std::filesystem::path& path);

bool contains(const std::string& text, const std::string& part);

}  // namespace torvik::testing
