// The drive history file (--history FILE): the one file the tool appends to rather than
// replaces. FILE is a path as the user gave it, relative to the current folder. Neither call
// goes through a symbolic link (or a Windows reparse point) at the path's last component, and
// neither opens anything but a regular file there, so a name planted by someone else is
// refused instead of followed, and a FIFO never blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace torvik {

enum class HistoryOpen {
    ok,
    missing,  // no file yet: the history is empty
    failed,   // the reason in the message
};

// Reads the file from its start, in blocks.
class HistoryReader {
  public:
    HistoryReader() = default;
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    HistoryOpen open(const std::string& path, std::string& message);
    // Bytes read into buffer, 0 at the end of the file, -1 on an error (the reason in message).
    std::ptrdiff_t read(char* buffer, std::size_t size, std::string& message);
    // Bytes read so far: where the file ended when read() gave 0.
    std::uint64_t offset() const { return offset_; }

  private:
    std::intptr_t handle_ = -1;
    std::uint64_t offset_ = 0;
};

// How long an append waits for another run that holds the file's lock.
inline constexpr int kHistoryLockWaitMs = 10000;

// What an append checks under the lock before it writes: the bytes appended since the caller read
// the file (from read_end, the length it read; the whole file when it is shorter now), given to
// recorded, which says whether they hold the line's run already. Another run may have appended
// it between the read and the lock.
struct AppendCheck {
    std::uint64_t read_end = 0;
    std::function<bool(std::string_view appended)> recorded;
    bool already = false;  // set when recorded said so: nothing was appended
};

// Appends line (one whole line, ending in '\n') as one write under the file's exclusive advisory
// lock, so two runs never interleave their lines; existing bytes are never rewritten. A file
// whose last byte is not a line end (an earlier write cut short) first gets one, in the same
// write, so the new line stands on a line of its own. A write that fails or is cut short (a full
// disk, a file-size limit) is undone: the file is cut back to its length before the append,
// still under the lock. A missing file is created (read and write for its owner, read for
// others, less the umask); an existing one keeps its permissions. False, with the reason in
// message, when the line could not be appended whole.
bool append_history_line(const std::string& path, std::string_view line, std::string& message,
                         int lock_wait_ms = kHistoryLockWaitMs, AppendCheck* check = nullptr);

}  // namespace torvik
