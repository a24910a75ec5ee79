// The output half of the platform seam: a store of files over one folder, what writing the tool's
// own files needs and nothing of the drive. It is passed beside the drive platform; the report's
// writers take this, never the drive platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvik {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

class FileStore {
  public:
    virtual ~FileStore() = default;

    // Output files (see platform/output_file.h, which is how the tool uses these). Names are
    // plain file names inside the store's folder. The file operations give their error code as
    // their result (0: done).
    //
    // Creates a new, empty file for writing under a name that did not exist before: final_name
    // with a unique suffix, so in the same folder. Never opens an existing name, so nothing
    // planted there is followed or blocks. Refuses a final_name that is a directory. When
    // final_name is an existing file, the new one gets its permission bits, but never more open
    // than a new file's. The name it made goes to temp_name; until it is replaced or removed, an
    // interrupted run removes it.
    virtual FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                        std::uint32_t& error) = 0;
    // Writes all of data, or fails.
    virtual std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) = 0;
    // The real stores first flush the file's data to the disk, so that a power loss after the
    // rename never leaves the new name empty.
    virtual std::uint32_t close_file(FileHandle file) = 0;
    // Renames the closed temporary over final_name, replacing whatever name was there (a link is
    // replaced, not followed).
    virtual std::uint32_t replace_file(const char* temp_name, const char* final_name) = 0;
    virtual void remove_file(const char* temp_name) = 0;
    // Whether a text file ends its lines with CR LF (Windows) rather than LF.
    virtual bool text_files_end_lines_with_crlf() = 0;
    // The system's own words for an error code of this platform.
    virtual std::string error_text(std::uint32_t error) = 0;

    // Flushes the folder's own entries (the renames) to the disk, once after the run's last file.
    virtual void sync_folder() {}
    // The run's advisory lock on the folder, so that two runs never mix their files: waits at
    // most wait_ms for another run to release it; false when it is still held. A folder that
    // cannot be locked at all (a file system without locks) counts as locked.
    virtual bool lock_folder(int /*wait_ms*/) { return true; }
    virtual void unlock_folder() {}
    // Removes what a killed run left behind: the regular files named as temporaries of one of
    // names (temp_file_name's form), except those named in keep (files the user named, which
    // only look like temporaries). Only while this store holds the folder's lock, which every
    // writer of the folder holds while it writes, so no temporary there belongs to a live run.
    virtual void remove_leftover_temps(const std::vector<const char*>& /*names*/,
                                       const std::vector<std::string>& /*keep*/) {}

    // The folder `name` inside this one, made when it is missing, as a store of its own. name is
    // one plain component; a link in its place is never followed and anything but a directory is
    // refused. nullptr, with the reason in error, when it cannot be made or opened. A store that
    // keeps no folders (the default) refuses every name.
    virtual std::unique_ptr<FileStore> open_subfolder(const char* name, std::string& error) {
        error = std::string(name) + ": this output store holds no folders";
        return nullptr;
    }
};

// The folder's lock for the length of a scope, once taken.
class FolderLock {
  public:
    FolderLock(FileStore& files, int wait_ms) : files_(files), held_(files.lock_folder(wait_ms)) {}
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return held_; }
    void release() {
        if (held_)
            files_.unlock_folder();
        held_ = false;
    }

  private:
    FileStore& files_;
    bool held_;
};

}  // namespace torvik
