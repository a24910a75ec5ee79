#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/folder_reader.h"
#include "platform/posix_descriptor.h"

namespace torvik {

FolderReader::~FolderReader() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

FolderOpen FolderReader::open(const std::string& dir, std::string& message) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        message = std::strerror(errno);
        return errno == ENOENT || errno == ENOTDIR ? FolderOpen::not_a_directory
                                                   : FolderOpen::unreadable;
    }
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = fd;
    dir_ = dir;
    return FolderOpen::ok;
}

// The name is opened relative to the folder's descriptor, without following a link (ELOOP) and
// without waiting for a FIFO's writer or a device; then only a regular file is read. A look at the
// name first keeps a device node from being opened at all; the check on the open descriptor is
// the one that counts, as the name may change between the two.
FileRead FolderReader::read(const char* name, std::size_t limit, std::vector<std::uint8_t>& bytes,
                            std::string& message) const {
    bytes.clear();
    const int dir = static_cast<int>(handle_);
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        message = std::strerror(errno);
        return errno == ENOENT ? FileRead::missing : FileRead::failed;
    }
    if (!S_ISREG(st.st_mode))
        return FileRead::not_regular;
    const Descriptor file{
        ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        message = std::strerror(errno);
        if (errno == ENOENT)
            return FileRead::missing;
        return errno == ELOOP ? FileRead::not_regular : FileRead::failed;
    }
    if (::fstat(file.fd, &st) != 0) {
        message = std::strerror(errno);
        return FileRead::failed;
    }
    if (!S_ISREG(st.st_mode))
        return FileRead::not_regular;
    bytes.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(file.fd, bytes.data() + got, limit - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            message = std::strerror(errno);
            bytes.clear();
            return FileRead::failed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return FileRead::ok;
}

}  // namespace torvik
