// --output-dir: every file of the run goes to one directory. The run's platform is wrapped so
// that each output file name becomes DIR/name on its way down, and the closing prompt opens the
// report there; nothing changes the current directory.
#pragma once

#include <string>

#include "platform/platform.h"

namespace torvik {

// Makes dir (and its missing parents) when it does not exist. A dir that is a symbolic link, or
// that exists as anything but a directory, is refused: error then says why.
bool prepare_output_dir(const std::string& dir, std::string& error);

// name inside dir, with one separator between them.
std::string output_path(const std::string& dir, const char* name);

// The platform of a run whose files go to dir; everything else is inner's.
class OutputDirPlatform : public Platform {
  public:
    OutputDirPlatform(Platform& inner, std::string dir) : inner_(inner), dir_(std::move(dir)) {}

    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override;
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override;
    std::intptr_t shell_open(const char* file) override;

    // The temporary's name is the one the inner platform made, already inside dir.
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override {
        return inner_.write_file(file, data, size);
    }
    std::uint32_t close_file(FileHandle file) override { return inner_.close_file(file); }
    void remove_file(const char* temp_name) override { inner_.remove_file(temp_name); }
    bool text_files_end_lines_with_crlf() override {
        return inner_.text_files_end_lines_with_crlf();
    }
    std::string error_text(std::uint32_t error) override { return inner_.error_text(error); }

    bool get_version(OsVersion& os) override { return inner_.get_version(os); }
    DriveHandle open_drive(const char* path, std::uint32_t flags) override {
        return inner_.open_drive(path, flags);
    }
    void close_drive(DriveHandle drive) override { inner_.close_drive(drive); }
    bool device_io_control(DriveHandle drive, std::uint32_t code, void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) override {
        return inner_.device_io_control(drive, code, in, in_size, out, out_size, returned);
    }
    std::uint32_t last_error() override { return inner_.last_error(); }
    KeyState wait_key(int timeout_ms) override { return inner_.wait_key(timeout_ms); }
    int read_key() override { return inner_.read_key(); }
    DriveNames drive_names(std::int32_t drive) override { return inner_.drive_names(drive); }
    std::int32_t find_drive(const char* os_path, bool& missing) override {
        return inner_.find_drive(os_path, missing);
    }
    ErrorKind error_kind(std::uint32_t error) const override { return inner_.error_kind(error); }
    std::optional<std::int64_t> run_time() override { return inner_.run_time(); }

  private:
    Platform& inner_;
    std::string dir_;
};

}  // namespace torvik
