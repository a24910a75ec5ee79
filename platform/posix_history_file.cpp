#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/history_file.h"
#include "platform/posix_descriptor.h"

namespace torvik {

namespace {

// What a name that is not a regular file is; nullptr for a regular file.
const char* not_regular(mode_t mode) {
    if (S_ISREG(mode))
        return nullptr;
    if (S_ISLNK(mode))
        return "it is a symbolic link; name the file it points to";
    if (S_ISDIR(mode))
        return "it is a directory";
    return "it is not a regular file";
}

// Opens path without following a link at its last component, and without blocking on a FIFO; a
// look at the name first keeps a device from being opened at all, the check on the descriptor is
// the one that counts. -1 with the reason in message; ENOENT in missing when there is no file.
int open_regular(const std::string& path, int flags, std::string& message, bool& missing) {
    missing = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (const char* what = not_regular(st.st_mode)) {
            message = what;
            return -1;
        }
    } else if (errno != ENOENT) {
        message = std::strerror(errno);
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                          S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (fd < 0) {
        missing = errno == ENOENT;
        message = errno == ELOOP ? not_regular(S_IFLNK) : std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || not_regular(st.st_mode) != nullptr) {
        message =
            not_regular(st.st_mode) != nullptr ? not_regular(st.st_mode) : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool write_all(int fd, const char* data, std::size_t size, std::string& message) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            message = n < 0 ? std::strerror(errno) : "nothing was written";
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

HistoryReader::~HistoryReader() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

HistoryOpen HistoryReader::open(const std::string& path, std::string& message) {
    bool missing = false;
    const int fd = open_regular(path, O_RDONLY, message, missing);
    if (fd < 0)
        return missing ? HistoryOpen::missing : HistoryOpen::failed;
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = fd;
    offset_ = 0;
    return HistoryOpen::ok;
}

std::ptrdiff_t HistoryReader::read(char* buffer, std::size_t size, std::string& message) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            message = std::strerror(errno);
        else
            offset_ += static_cast<std::uint64_t>(n);
        return n;
    }
}

namespace {

// The bytes from `from` to `end`, read under the caller's lock.
bool read_between(int fd, off_t from, off_t end, std::string& text, std::string& message) {
    text.resize(static_cast<std::size_t>(end - from));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pread(fd, text.data() + done, text.size() - done, from + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            message = n < 0 ? std::strerror(errno) : "the file became shorter while locked";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool append_history_line(const std::string& path, std::string_view line, std::string& message,
                         int lock_wait_ms, AppendCheck* check) {
    bool missing = false;
    const Descriptor file{open_regular(path, O_RDWR | O_APPEND | O_CREAT, message, missing)};
    if (file.fd < 0)
        return false;
    // Another run appending holds the lock for one write only; a holder that never lets go is
    // reported rather than waited for.
    constexpr int kPollMs = 20;
    for (int waited = 0;; waited += kPollMs) {
        if (::flock(file.fd, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            message = std::string("it cannot be locked: ") + std::strerror(errno);
            return false;
        }
        if (waited >= lock_wait_ms) {
            message = "another program holds its lock";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    // Under the lock the end cannot move: its last byte says whether a line is open there.
    std::string text;
    const off_t end = ::lseek(file.fd, 0, SEEK_END);
    char last = '\n';
    if (end > 0 && ::pread(file.fd, &last, 1, end - 1) != 1) {
        message = std::strerror(errno);
        return false;
    }
    if (check != nullptr && check->recorded) {
        const auto known = static_cast<off_t>(check->read_end);
        std::string appended;
        if (!read_between(file.fd, known <= end ? known : 0, end, appended, message))
            return false;
        check->already = check->recorded(appended);
        if (check->already)
            return true;
    }
    if (last != '\n')
        text += '\n';
    text += line;
    if (!write_all(file.fd, text.data(), text.size(), message)) {
        // Half a line would be a damaged line for every later run: the file goes back to where
        // it ended. A file-size limit or a full disk never refuses making a file shorter.
        while (::ftruncate(file.fd, end) != 0 && errno == EINTR) {
        }
        return false;
    }
    if (::fsync(file.fd) != 0) {
        message = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace torvik
