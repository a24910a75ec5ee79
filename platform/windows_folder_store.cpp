// The output store on Windows. There is no documented call that creates a file relative to a
// folder handle, so the store keeps the folder's own handle open for the run (refusing a reparse
// point, and without delete sharing, so the folder can be neither renamed nor replaced by a
// junction meanwhile) and checks that each file it creates really lies in that folder.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "platform/host_platform.h"
#include "platform/output_folder.h"
#include "platform/temp_file_table.h"
#include "platform/windows_system.h"

namespace torvik {

namespace {

// The path the system resolves an open handle to; empty when it cannot tell.
std::wstring final_path(HANDLE handle) {
    wchar_t path[4096];
    const DWORD n = ::GetFinalPathNameByHandleW(handle, path, 4096, FILE_NAME_NORMALIZED);
    return n > 0 && n < 4096 ? std::wstring(path, n) : std::wstring();
}

class WindowsFolderStore final : public FileStore {
  public:
    // prefix is what goes before a file name: the folder's full path and a separator, or nothing
    // for the current folder.
    WindowsFolderStore(HANDLE folder, std::string prefix, bool flush)
        : folder_(folder), prefix_(std::move(prefix)), flush_(flush) {
        if (folder_ != INVALID_HANDLE_VALUE)
            folder_path_ = final_path(folder_);
    }
    ~WindowsFolderStore() override {
        if (mutex_ != nullptr)
            ::CloseHandle(mutex_);
        if (folder_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(folder_);
    }
    WindowsFolderStore(const WindowsFolderStore&) = delete;
    WindowsFolderStore& operator=(const WindowsFolderStore&) = delete;

    FileHandle create_temp_file(const char* final_name, std::string& temp_name,
                                std::uint32_t& error) override;
    std::uint32_t write_file(FileHandle file, const void* data, std::size_t size) override;
    std::uint32_t close_file(FileHandle file) override {
        const HANDLE handle = reinterpret_cast<HANDLE>(file);
        std::uint32_t error = 0;
        if (flush_ && !::FlushFileBuffers(handle))
            error = ::GetLastError();
        if (!::CloseHandle(handle) && error == 0)
            error = ::GetLastError();
        return error;
    }
    std::uint32_t replace_file(const char* temp_name, const char* final_name) override {
        // Write-through: the rename is on the disk when the call returns.
        const DWORD flags = MOVEFILE_REPLACE_EXISTING | (flush_ ? MOVEFILE_WRITE_THROUGH : 0);
        if (!::MoveFileExA(temp_name, (prefix_ + final_name).c_str(), flags))
            return ::GetLastError();
        temp_file_table().drop(0, temp_name);
        return 0;
    }
    void remove_file(const char* temp_name) override {
        ::DeleteFileA(temp_name);
        temp_file_table().drop(0, temp_name);
    }
    bool text_files_end_lines_with_crlf() override { return true; }
    std::string error_text(std::uint32_t error) override { return windows_error_text(error); }
    bool lock_folder(int wait_ms) override;
    void unlock_folder() override {
        if (mutex_ != nullptr)
            ::ReleaseMutex(mutex_);
    }
    void remove_leftover_temps(const std::vector<const char*>& names,
                               const std::vector<std::string>& keep) override;
    std::unique_ptr<FileStore> open_subfolder(const char* name, std::string& error) override;

  private:
    bool inside_folder(HANDLE file) const;

    HANDLE folder_;
    std::string prefix_;
    bool flush_;
    std::wstring folder_path_;
    HANDLE mutex_ = nullptr;
    std::minstd_rand random_{std::random_device{}()};  // suffixes of temporary names
};

void WindowsFolderStore::remove_leftover_temps(const std::vector<const char*>& names,
                                               const std::vector<std::string>& keep) {
    if (mutex_ == nullptr)
        return;  // not locked: a temporary may be another run's
    for (const char* final_name : names) {
        WIN32_FIND_DATAA found{};
        const HANDLE search = ::FindFirstFileA((prefix_ + final_name + ".*.tmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            constexpr DWORD kNotPlain =
                FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
            // Names compare without case, as the file system does.
            const bool kept = std::any_of(keep.begin(), keep.end(), [&](const std::string& k) {
                return ::lstrcmpiA(found.cFileName, k.c_str()) == 0;
            });
            if ((found.dwFileAttributes & kNotPlain) == 0 && !kept &&
                is_temp_file_name(found.cFileName, final_name))
                ::DeleteFileA((prefix_ + found.cFileName).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
}

bool WindowsFolderStore::inside_folder(HANDLE file) const {
    if (folder_path_.empty())
        return true;
    const std::wstring path = final_path(file);
    const std::size_t separator = path.find_last_of(L'\\');
    if (path.empty() || separator == std::wstring::npos)
        return true;  // the system cannot tell where the file is: nothing to compare
    return ::CompareStringOrdinal(path.c_str(), static_cast<int>(separator), folder_path_.c_str(),
                                  static_cast<int>(folder_path_.size()), TRUE) == CSTR_EQUAL;
}

// The tool runs as administrator, perhaps in a folder that others can write to. The temporary is
// created with CREATE_NEW and opened as a reparse point itself, so no existing name (a link, a
// junction, a device) is ever opened or followed. It may be deleted while open, which the
// interrupt handler relies on. It gets the folder's inherited permissions.
FileHandle WindowsFolderStore::create_temp_file(const char* final_name, std::string& temp_name,
                                                std::uint32_t& error) {
    const std::string path = prefix_ + final_name;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        error = ERROR_ACCESS_DENIED;  // what opening a directory for writing gives
        return kInvalidFileHandle;
    }
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temp_name = temp_file_name(path.c_str(), static_cast<std::uint32_t>(random_()));
        if (!temp_file_table().add(0, temp_name.c_str())) {
            error = ERROR_FILENAME_EXCED_RANGE;
            temp_name.clear();
            return kInvalidFileHandle;
        }
        const HANDLE handle = ::CreateFileA(
            temp_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE && inside_folder(handle))
            return reinterpret_cast<FileHandle>(handle);
        if (handle != INVALID_HANDLE_VALUE) {
            // The path led out of the folder: a folder on the way was swapped meanwhile.
            ::CloseHandle(handle);
            ::DeleteFileA(temp_name.c_str());
            error = ERROR_ACCESS_DENIED;
        } else {
            error = ::GetLastError();
        }
        temp_file_table().drop(0, temp_name.c_str());
        temp_name.clear();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return kInvalidFileHandle;
    }
    return kInvalidFileHandle;
}

std::uint32_t WindowsFolderStore::write_file(FileHandle file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(file), bytes, chunk, &written, nullptr))
            return ::GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        bytes += written;
        size -= written;
    }
    return 0;
}

// A named mutex for the folder, named after its volume's serial number and its file index, so
// that every path to the folder finds the same one.
bool WindowsFolderStore::lock_folder(int wait_ms) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (folder_ == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(folder_, &info))
        return true;
    if (mutex_ == nullptr) {
        char name[96];
        for (const char* scope : {"Global", "Local"}) {
            std::snprintf(name, sizeof name, "%s\\torvik_usb_pssd_flash_id %08lx %08lx%08lx", scope,
                          info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
            mutex_ = ::CreateMutexA(nullptr, FALSE, name);
            if (mutex_ != nullptr)
                break;
        }
        if (mutex_ == nullptr)
            return true;
    }
    const DWORD waited = ::WaitForSingleObject(mutex_, static_cast<DWORD>(wait_ms));
    return waited != WAIT_TIMEOUT;
}

// Opens the folder itself (a reparse point as itself, not what it leads to), for the length of
// the run, sharing everything but deletion.
HANDLE open_folder_handle(const std::string& path) {
    return ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The folder is made, then opened as itself (a junction or link planted under the name is seen,
// not followed, and refused) and must lie in this folder.
std::unique_ptr<FileStore> WindowsFolderStore::open_subfolder(const char* name,
                                                              std::string& error) {
    const std::string plain = name;
    if (plain.empty() || plain == "." || plain == ".." ||
        plain.find_first_of("\\/:") != std::string::npos) {
        error = plain + ": not a plain folder name";
        return nullptr;
    }
    const std::string path = prefix_ + plain;
    if (!::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = plain + ": cannot be made (" + windows_error_text(::GetLastError()) + ")";
        return nullptr;
    }
    const HANDLE folder = open_folder_handle(path);
    if (folder == INVALID_HANDLE_VALUE) {
        error = plain + ": cannot be opened (" + windows_error_text(::GetLastError()) + ")";
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder, &info))
        error = plain + ": cannot be opened (" + windows_error_text(::GetLastError()) + ")";
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        error = plain + ": is a symbolic link or junction; it is not followed";
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        error = plain + ": exists and is not a directory";
    else if (!inside_folder(folder))
        error = plain + ": does not lie in the output folder";
    if (!error.empty()) {
        ::CloseHandle(folder);
        return nullptr;
    }
    return std::make_unique<WindowsFolderStore>(folder, path + "\\", flush_);
}

}  // namespace

std::unique_ptr<FileStore> open_output_folder(const std::string& dir, std::string& error,
                                              const OutputFolderOptions& options) {
    if (dir.empty())
        return std::make_unique<WindowsFolderStore>(open_folder_handle("."), "",
                                                    options.flush_to_disk);
    // The system resolves "." and ".." by the letters of the path, so "a\..\b" names b alone.
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) {
        error = "--output-dir " + dir + ": cannot be opened (" +
                windows_error_text(::GetLastError()) + ")";
        return nullptr;
    }
    std::string path(full, n);
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec) {
            error = "--output-dir " + dir + ": cannot be made (" + ec.message() + ")";
            return nullptr;
        }
    }
    const HANDLE folder = open_folder_handle(path);
    BY_HANDLE_FILE_INFORMATION info{};
    std::string why;
    if (folder == INVALID_HANDLE_VALUE)
        why = "cannot be opened (" + windows_error_text(::GetLastError()) + ")";
    else if (!::GetFileInformationByHandle(folder, &info))
        why = "cannot be opened (" + windows_error_text(::GetLastError()) + ")";
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        why = "is a symbolic link or junction; give the directory it points to";
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        why = "exists and is not a directory";
    if (why.empty()) {
        // Whether a file can be made there: one that is gone again when closed.
        const std::string probe = path + "\\torvik_usb_pssd_flash_id.probe.tmp";
        const HANDLE file =
            ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            why = "cannot be written (" + windows_error_text(::GetLastError()) + ")";
        else if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
    }
    if (!why.empty()) {
        if (folder != INVALID_HANDLE_VALUE)
            ::CloseHandle(folder);
        error = "--output-dir " + dir + ": " + why;
        return nullptr;
    }
    return std::make_unique<WindowsFolderStore>(folder, path + "\\", options.flush_to_disk);
}

}  // namespace torvik
