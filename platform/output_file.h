// An output file that replaces its name only once it is complete.
//
// The data goes to a new file created under a temporary name beside the final one; every write,
// the flush and the close are checked, and only then is the temporary renamed over the final
// name. So a failed or interrupted run leaves the previous file as it was, and whatever was
// planted under the name (a link, a FIFO, a device) is replaced, never opened or followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_store.h"

namespace torvik {

// What became of one output file.
enum class FileOutcome {
    written,
    not_created,   // the file could not be created or put in place under its name
    write_failed,  // created, but not every byte reached it; the temporary is gone
};

struct FileResult {
    FileOutcome outcome = FileOutcome::written;
    std::uint32_t error = 0;  // the system's error code when the file is not written
};

enum class FileKind {
    text,    // "\n" becomes the platform's line end
    binary,  // bytes as they are
};

class OutputFile {
  public:
    // Creates the temporary file; created() tells whether that worked.
    OutputFile(FileStore& files, const char* name, FileKind kind);
    // A file that was not committed is removed; the final name stays as it was.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool created() const { return created_; }
    const std::string& name() const { return name_; }

    // Writing after a failure does nothing; the failure is kept for commit().
    void write(const void* data, std::size_t size);
    void print(const char* text);
    void printf(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Flushes, closes and renames the file over its name. Once committed (or failed), later
    // calls return the same result.
    FileResult commit();

  private:
    void flush();
    void fail(FileOutcome outcome, std::uint32_t error);
    void discard();

    FileStore& files_;
    std::string name_;
    std::string temp_name_;
    FileHandle handle_ = kInvalidFileHandle;
    bool crlf_ = false;
    bool created_ = false;
    bool committed_ = false;
    FileResult result_;
    std::size_t used_ = 0;
    char buffer_[4096];
};

// A whole file in one call: `length` bytes of data under name. A file that cannot be created (or
// put in place under its name) prints "<name>: Create File Error" on console, one that cannot be
// written "<name>: Write File Error"; the caller goes on either way.
FileResult write_whole_file(FileStore& files, std::FILE* console, const char* name,
                            const void* data, std::size_t length, FileKind kind);

// A whole text file (CRLF line ends on Windows), with the same messages.
FileResult write_text_file(FileStore& files, std::FILE* console, const char* name,
                           const std::string& text);

}  // namespace torvik
