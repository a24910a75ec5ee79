// The temporary output files that exist at this moment, so that an interrupted run can remove
// them. The table has fixed slots and lock-free flags: the interrupt handler (a signal handler, or
// the console control handler's thread on Windows) may read it at any moment without allocating
// or locking. Each platform adds a name right after creating the file (with interruptions held
// back) and drops it once the file is renamed or removed. A name is relative to its folder: a
// handle of the platform's own (a descriptor on POSIX; unused on Windows, whose names are whole
// paths).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvik {

class TempFileTable {
  public:
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kNameSize = 4096;

    // False when the name is too long or every slot is taken.
    bool add(std::intptr_t folder, const char* name);
    void drop(std::intptr_t folder, const char* name);

    // Calls remove(folder, name) for every name in the table; safe inside a signal handler.
    template <typename Remove>
    void remove_all(Remove remove) {
        for (Slot& slot : slots_) {
            if (slot.used.load())
                remove(slot.folder, slot.name);
        }
    }

  private:
    struct Slot {
        std::atomic<bool> used{false};
        std::intptr_t folder = 0;
        char name[kNameSize] = {};
    };
    static_assert(std::atomic<bool>::is_always_lock_free);
    Slot slots_[kSlots];
};

// The process's one table (the only process-wide state besides the interrupt handler's own).
TempFileTable& temp_file_table();

// The temporary name for final_name: the same name with a random suffix, so the same directory.
std::string temp_file_name(const char* final_name, std::uint32_t random);

// The suffix temp_file_name adds: '.', 8 hexadecimal digits, ".tmp".
inline constexpr std::size_t kTempSuffixSize = 13;
// The longest file name the tool's file systems take: 255 bytes (NAME_MAX on Linux; Windows counts
// 255 UTF-16 units, at least as many). A final name longer than kLongestFinalName has a temporary
// that no folder takes.
inline constexpr std::size_t kLongestFileName = 255;
inline constexpr std::size_t kLongestFinalName = kLongestFileName - kTempSuffixSize;

// Whether name is one temp_file_name gives for final_name: final_name, '.', 8 hexadecimal digits,
// ".tmp".
bool is_temp_file_name(std::string_view name, std::string_view final_name);

}  // namespace torvik
