// Reads named files of one folder that someone else may have filled (a replay folder): only a
// regular file inside it is read, never one reached through a symbolic link (or a Windows reparse
// point), and opening a named pipe or a device planted under a name never blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvik {

enum class FolderOpen {
    ok,
    not_a_directory,  // missing, or not a directory
    unreadable,       // a directory that cannot be opened; the reason in the message
};

enum class FileRead {
    ok,
    missing,      // no such name
    not_regular,  // a symbolic link, reparse point, FIFO, directory, device or socket
    failed,       // present but it could not be opened or read; the reason in the message
};

class FolderReader {
  public:
    FolderReader() = default;
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // Opens the folder (a link naming the folder itself is followed: the user named it).
    FolderOpen open(const std::string& dir, std::string& message);

    // Reads at most `limit` bytes of the file `name` (a plain file name, no separator) into bytes.
    FileRead read(const char* name, std::size_t limit, std::vector<std::uint8_t>& bytes,
                  std::string& message) const;

  private:
    std::string dir_;
    std::intptr_t handle_ = -1;  // the folder's descriptor where the OS has one
};

}  // namespace torvik
