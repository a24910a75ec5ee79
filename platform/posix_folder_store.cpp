// The output store on POSIX systems: a descriptor of the output folder, and every file created,
// renamed and removed relative to it (openat, renameat, unlinkat).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/host_platform.h"
#include "platform/output_folder.h"
#include "platform/posix_interrupt.h"
#include "platform/temp_file_table.h"

namespace torvik {

namespace {

constexpr int kFolderOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

class PosixFolderStore final : public FileStore {
  public:
    // folder is owned when it is a descriptor (not AT_FDCWD).
    PosixFolderStore(int folder, bool flush) : folder_(folder), flush_(flush) {}
    ~PosixFolderStore() override {
        if (folder_ >= 0)
            ::close(folder_);
    }
    PosixFolderStore(const PosixFolderStore&) = delete;
    PosixFolderStore& operator=(const PosixFolderStore&) = delete;

    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override;
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override;
    std::uint32_t close_file(FileHandle file) override;
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override;
    void remove_file(const char* temp_name) override;
    bool text_files_end_lines_with_crlf() override { return false; }
    std::string error_text(std::uint32_t error) override {
        return std::strerror(static_cast<int>(error));
    }
    void sync_folder() override {
        // Some file systems cannot flush a directory (EINVAL); the files themselves are flushed.
        if (flush_ && folder_ >= 0)
            ::fsync(folder_);
    }
    bool lock_folder(int wait_ms) override;
    void unlock_folder() override {
        if (folder_ >= 0)
            ::flock(folder_, LOCK_UN);
    }
    void remove_leftover_temps(const std::vector<const char*>& names,
                               const std::vector<std::string>& keep) override;
    std::unique_ptr<FileStore> open_subfolder(const char* name, std::string& error) override;

  private:
    int folder_;
    bool flush_;
    std::minstd_rand random_{std::random_device{}()};  // suffixes of temporary names
};

// The tool runs as root, often in a folder that others can write to. The temporary is created
// with O_EXCL (and O_NOFOLLOW): it is always a new regular file, so a link, FIFO or device planted
// under any name is never opened, and nothing blocks. A new file gets mode 0644 (less the umask);
// one that replaces a file keeps that file's bits where they are narrower. Its owner is the user
// who runs the tool, never the owner of the file it replaces.
FileHandle PosixFolderStore::create_temp_file(const char* final_name, std::string& temp_name,
                                              std::uint32_t& error) {
    struct stat previous {};
    const bool exists = ::fstatat(folder_, final_name, &previous, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(previous.st_mode)) {
        error = EISDIR;
        return kInvalidFileHandle;
    }
    constexpr mode_t kFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
    constexpr int kAttempts = 100;
    const InterruptHold hold;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temp_name = temp_file_name(final_name, static_cast<std::uint32_t>(random_()));
        if (!temp_file_table().add(folder_, temp_name.c_str())) {
            error = temp_name.size() >= TempFileTable::kNameSize ? ENAMETOOLONG : EMFILE;
            temp_name.clear();
            return kInvalidFileHandle;
        }
        const int fd =
            ::openat(folder_, temp_name.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kFileMode);
        if (fd >= 0) {
            struct stat created {};
            if (exists && S_ISREG(previous.st_mode) && ::fstat(fd, &created) == 0) {
                const mode_t kept = previous.st_mode & created.st_mode & 0777;
                if (kept != (created.st_mode & 0777))
                    ::fchmod(fd, kept);
            }
            return fd;
        }
        error = static_cast<std::uint32_t>(errno);
        temp_file_table().drop(folder_, temp_name.c_str());
        temp_name.clear();
        if (error != EEXIST)
            return kInvalidFileHandle;
    }
    return kInvalidFileHandle;
}

std::uint32_t PosixFolderStore::write_file(FileHandle file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(file), bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return static_cast<std::uint32_t>(errno);
        if (n == 0)
            return EIO;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::uint32_t PosixFolderStore::close_file(FileHandle file) {
    const int fd = static_cast<int>(file);
    std::uint32_t error = 0;
    if (flush_ && ::fsync(fd) != 0)
        error = static_cast<std::uint32_t>(errno);
    if (::close(fd) != 0 && error == 0)
        error = static_cast<std::uint32_t>(errno);
    return error;
}

std::uint32_t PosixFolderStore::replace_file(const char* temp_name, const char* final_name) {
    const InterruptHold hold;
    if (::renameat(folder_, temp_name, folder_, final_name) != 0)
        return static_cast<std::uint32_t>(errno);
    temp_file_table().drop(folder_, temp_name);
    return 0;
}

void PosixFolderStore::remove_file(const char* temp_name) {
    const InterruptHold hold;
    ::unlinkat(folder_, temp_name, 0);
    temp_file_table().drop(folder_, temp_name);
}

bool PosixFolderStore::lock_folder(int wait_ms) {
    if (folder_ < 0)
        return true;
    constexpr int kPollMs = 50;
    for (int waited = 0;; waited += kPollMs) {
        if (::flock(folder_, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;  // no locks on this file system: nothing to wait for
        if (waited >= wait_ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

void PosixFolderStore::remove_leftover_temps(const std::vector<const char*>& names,
                                             const std::vector<std::string>& keep) {
    if (folder_ < 0)
        return;  // the current folder without a descriptor has no lock either
    const int listing = ::openat(folder_, ".", kFolderOpenFlags);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        bool ours = false;
        for (const char* final_name : names)
            ours = ours || is_temp_file_name(name, final_name);
        for (const std::string& kept : keep)
            ours = ours && name != kept;
        struct stat st {};
        if (ours && ::fstatat(folder_, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            ::unlinkat(folder_, entry->d_name, 0);
    }
    ::closedir(dir);
}

// mkdirat and openat relative to the folder's descriptor, the open with O_NOFOLLOW: a link planted
// under the name is refused, never followed, and nothing is made anywhere else.
std::unique_ptr<FileStore> PosixFolderStore::open_subfolder(const char* name, std::string& error) {
    const std::string_view plain = name;
    if (plain.empty() || plain == "." || plain == ".." ||
        plain.find('/') != std::string_view::npos) {
        error = std::string(name) + ": not a plain folder name";
        return nullptr;
    }
    if (::mkdirat(folder_, name, 0777) != 0 && errno != EEXIST) {
        error = std::string(name) + ": cannot be made (" + std::strerror(errno) + ")";
        return nullptr;
    }
    const int fd = ::openat(folder_, name, kFolderOpenFlags | O_NOFOLLOW);
    if (fd >= 0)
        return std::make_unique<PosixFolderStore>(fd, flush_);
    const int why = errno;
    struct stat st {};
    if (::fstatat(folder_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        error = std::string(name) + ": is a symbolic link; it is not followed";
    else if (::fstatat(folder_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        error = std::string(name) + ": exists and is not a directory";
    else
        error = std::string(name) + ": cannot be opened (" + std::strerror(why) + ")";
    return nullptr;
}

// The parts of a path between its separators, without the empty ones and ".".
std::vector<std::string> path_parts(const std::string& path) {
    std::vector<std::string> parts;
    std::string_view rest = path;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
    }
    return parts;
}

// Opens dir one part at a time, each relative to the one before, making the parts that are
// missing; the last named part is never followed when it is a link. -1 with error set on failure.
int open_folder_path(const std::string& dir, std::string& error) {
    const std::vector<std::string> parts = path_parts(dir);
    int at = ::open(dir.front() == '/' ? "/" : ".", kFolderOpenFlags);
    if (at < 0) {
        error = std::string("cannot be opened (") + std::strerror(errno) + ")";
        return -1;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const bool last = i + 1 == parts.size();
        const int flags = kFolderOpenFlags | (last ? O_NOFOLLOW : 0);
        int next = ::openat(at, part.c_str(), flags);
        if (next < 0 && errno == ENOENT && part != "..") {
            if (!last && parts[i + 1] == "..") {
                ++i;  // a folder that is not there is not made only to step back out of it
                continue;
            }
            if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) {
                error = std::string("cannot be made (") + std::strerror(errno) + ")";
                ::close(at);
                return -1;
            }
            next = ::openat(at, part.c_str(), flags);
        }
        if (next < 0) {
            const int why = errno;
            struct stat st {};
            if (last && ::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(st.st_mode))
                    error = "is a symbolic link; give the directory it points to";
                else if (!S_ISDIR(st.st_mode))
                    error = "exists and is not a directory";
            }
            if (error.empty())
                error = std::string("cannot be opened (") + std::strerror(why) + ")";
            ::close(at);
            return -1;
        }
        ::close(at);
        at = next;
    }
    return at;
}

}  // namespace

std::unique_ptr<FileStore> open_output_folder(const std::string& dir, std::string& error,
                                              const OutputFolderOptions& options) {
    if (dir.empty()) {
        // The current folder as it is; without a descriptor of it (no read permission), files
        // are still made relative to it, only without the lock and the folder's flush.
        const int fd = ::open(".", kFolderOpenFlags);
        return std::make_unique<PosixFolderStore>(fd >= 0 ? fd : AT_FDCWD, options.flush_to_disk);
    }
    std::string why;
    const int fd = open_folder_path(dir, why);
    if (fd >= 0) {
        struct statvfs fs {};
        if (::faccessat(fd, ".", W_OK, AT_EACCESS) != 0)
            why = std::string("cannot be written (") + std::strerror(errno) + ")";
        else if (::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0)
            why = std::string("cannot be written (") + std::strerror(EROFS) + ")";
        if (why.empty())
            return std::make_unique<PosixFolderStore>(fd, options.flush_to_disk);
        ::close(fd);
    }
    error = "--output-dir " + dir + ": " + why;
    return nullptr;
}

}  // namespace torvik
