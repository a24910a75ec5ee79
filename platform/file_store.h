// The output-file half of the platform seam: what writing the tool's own files needs, and
// nothing of the drive. The report's writers take this, never the whole platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvik {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

class FileStore {
  public:
    virtual ~FileStore() = default;

    // Output files (see platform/output_file.h, which is how the tool uses these). The file
    // operations give their error code as their result (0: done) and leave last_error() alone,
    // which belongs to the drive.
    //
    // Creates a new, empty file for writing under a name that did not exist before: final_name
    // with a unique suffix, so in the same directory. Never opens an existing name, so nothing
    // planted there is followed or blocks. Refuses a final_name that is a directory. The name it
    // made goes to temp_name; until it is replaced or removed, an interrupted run removes it.
    virtual FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                        std::uint32_t& error) = 0;
    // Writes all of data, or fails.
    virtual std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) = 0;
    virtual std::uint32_t close_file(FileHandle file) = 0;
    // Renames the closed temporary over final_name, replacing whatever name was there (a link is
    // replaced, not followed).
    virtual std::uint32_t replace_file(const char* temp_name, const char* final_name) = 0;
    virtual void remove_file(const char* temp_name) = 0;
    // Whether a text file ends its lines with CR LF (Windows) rather than LF.
    virtual bool text_files_end_lines_with_crlf() = 0;
    // The system's own words for an error code of this platform.
    virtual std::string error_text(std::uint32_t error) = 0;
};

}  // namespace torvik
