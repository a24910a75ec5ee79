#include "platform/linux_disk_names.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace torvik {

namespace fs = std::filesystem;

namespace {

// Disk families in drive-number order. The first four number their disks with letters after the
// prefix (sda..sdz, sdaa..), the others with digits.
constexpr const char* kFamilies[] = {"sd", "hd", "vd", "xvd", "nvme", "mmcblk"};
constexpr std::size_t kLetterFamilies = 4;

struct NameKey {
    std::size_t rank;
    std::string family;
    std::string rest;
};

NameKey name_key(const std::string& name) {
    for (std::size_t k = 0; k < std::size(kFamilies); ++k) {
        const std::string family = kFamilies[k];
        if (name.rfind(family, 0) != 0)
            continue;
        const std::string rest = name.substr(family.size());
        const bool letters = !rest.empty() && rest[0] >= 'a' && rest[0] <= 'z';
        const bool digits = !rest.empty() && rest[0] >= '0' && rest[0] <= '9';
        if ((k < kLetterFamilies && letters) || (k >= kLetterFamilies && digits)) {
            return NameKey{k, family, rest};
        }
    }
    return NameKey{std::size(kFamilies), {}, name};
}

// Digit runs compare as numbers; letter runs by length first, so "z" < "aa".
bool runs_less(const std::string& a, const std::string& b) {
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = is_digit(a[i]);
        if (digits != is_digit(b[j]))
            return digits;
        std::size_t ei = i;
        std::size_t ej = j;
        while (ei < a.size() && is_digit(a[ei]) == digits)
            ++ei;
        while (ej < b.size() && is_digit(b[ej]) == digits)
            ++ej;
        std::string ra = a.substr(i, ei - i);
        std::string rb = b.substr(j, ej - j);
        if (digits) {
            ra.erase(0, std::min(ra.find_first_not_of('0'), ra.size()));
            rb.erase(0, std::min(rb.find_first_not_of('0'), rb.size()));
        }
        if (ra.size() != rb.size())
            return ra.size() < rb.size();
        if (ra != rb)
            return ra < rb;
        i = ei;
        j = ej;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

bool natural_name_less(const std::string& a, const std::string& b) {
    const NameKey ka = name_key(a);
    const NameKey kb = name_key(b);
    if (ka.rank != kb.rank)
        return ka.rank < kb.rank;
    return runs_less(ka.rest, kb.rest);
}

std::vector<std::string> list_whole_disks(const std::string& sysfs_root) {
    std::vector<std::string> disks;
    std::error_code ec;
    const fs::path block = fs::path(sysfs_root) / "block";
    for (const fs::directory_entry& entry : fs::directory_iterator(block, ec)) {
        // Real disks have a device link; loop, ram, zram, dm and md devices do not.
        if (!fs::exists(entry.path() / "device", ec))
            continue;
        disks.push_back(entry.path().filename().string());
    }
    std::sort(disks.begin(), disks.end(), natural_name_less);
    return disks;
}

std::string scsi_generic_name(const std::string& sysfs_root, const std::string& disk) {
    std::error_code ec;
    const fs::path dir = fs::path(sysfs_root) / "block" / disk / "device" / "scsi_generic";
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
        return entry.path().filename().string();
    return {};
}

std::int32_t disk_number_of_node(const std::string& sysfs_root, const std::string& dev_root,
                                 const std::string& node, bool& missing) {
    std::error_code ec;
    missing = false;
    // Links are followed to the end, so /dev/disk/by-id/... names the node it points at.
    const fs::path target = fs::canonical(node, ec);
    if (ec) {
        missing = true;
        return -1;
    }
    const fs::path dev = fs::canonical(dev_root, ec);
    if (ec || target.parent_path() != dev)
        return -1;
    const std::string name = target.filename().string();
    const std::vector<std::string> disks = list_whole_disks(sysfs_root);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        if (disks[i] == name || scsi_generic_name(sysfs_root, disks[i]) == name)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

}  // namespace torvik
