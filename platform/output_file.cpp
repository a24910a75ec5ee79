#include "platform/output_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace torvik {

OutputFile::OutputFile(FileStore& files, const char* name, FileKind kind)
    : files_(files), name_(name) {
    crlf_ = kind == FileKind::text && files.text_files_end_lines_with_crlf();
    std::uint32_t error = 0;
    handle_ = files.create_temp_file(name, temp_name_, error);
    if (handle_ == kInvalidFileHandle) {
        result_ = FileResult{FileOutcome::not_created, error};
        committed_ = true;
    } else {
        created_ = true;
    }
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() {
    if (handle_ != kInvalidFileHandle) {
        files_.close_file(handle_);
        handle_ = kInvalidFileHandle;
    }
    if (!temp_name_.empty()) {
        files_.remove_file(temp_name_.c_str());
        temp_name_.clear();
    }
}

void OutputFile::fail(FileOutcome outcome, std::uint32_t error) {
    if (result_.outcome == FileOutcome::written)
        result_ = FileResult{outcome, error};
    discard();
}

void OutputFile::flush() {
    if (used_ == 0 || handle_ == kInvalidFileHandle)
        return;
    const std::uint32_t error = files_.write_file(handle_, buffer_, used_);
    used_ = 0;
    if (error != 0)
        fail(FileOutcome::write_failed, error);
}

void OutputFile::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0 && handle_ != kInvalidFileHandle) {
        if (used_ == sizeof buffer_)
            flush();
        std::size_t n = 0;
        if (crlf_) {
            // One line end takes two bytes of room.
            while (n < size && used_ + 2 <= sizeof buffer_) {
                if (bytes[n] == '\n')
                    buffer_[used_++] = '\r';
                buffer_[used_++] = bytes[n++];
            }
            if (n == 0)
                flush();
        } else {
            n = std::min(size, sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, bytes, n);
            used_ += n;
        }
        bytes += n;
        size -= n;
    }
}

void OutputFile::print(const char* text) {
    write(text, std::strlen(text));
}

void OutputFile::printf(const char* format, ...) {
    char line[1024];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof line) {
        write(line, static_cast<std::size_t>(n));
    } else if (n > 0) {
        std::vector<char> longer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(longer.data(), longer.size(), format, again);
        write(longer.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
}

FileResult OutputFile::commit() {
    if (committed_)
        return result_;
    committed_ = true;
    flush();
    if (handle_ == kInvalidFileHandle)
        return result_;  // a write failed; the temporary is already gone
    const std::uint32_t close_error = files_.close_file(handle_);
    handle_ = kInvalidFileHandle;
    if (close_error != 0) {
        fail(FileOutcome::write_failed, close_error);
        return result_;
    }
    const std::uint32_t rename_error = files_.replace_file(temp_name_.c_str(), name_.c_str());
    if (rename_error != 0) {
        fail(FileOutcome::not_created, rename_error);
        return result_;
    }
    temp_name_.clear();
    return result_;
}

FileResult write_whole_file(FileStore& files, std::FILE* console, const char* name,
                            const void* data, std::size_t length, FileKind kind) {
    OutputFile file(files, name, kind);
    file.write(data, length);
    const FileResult result = file.commit();
    if (result.outcome == FileOutcome::not_created) {
        std::fprintf(console, "%s: Create File Error\n", name);
    } else if (result.outcome == FileOutcome::write_failed) {
        std::fprintf(console, "%s: Write File Error\n", name);
    }
    return result;
}

FileResult write_text_file(FileStore& files, std::FILE* console, const char* name,
                           const std::string& text) {
    return write_whole_file(files, console, name, text.data(), text.size(), FileKind::text);
}

}  // namespace torvik
