// How Linux disks become numbered drives: the whole disks of /sys/block in natural name order,
// and the "\\.\PhysicalDriveN" path that names the N-th of them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace torvik {

// Natural order of block device names: by family (sd, hd, vd, xvd, nvme, mmcblk, others), then
// digit runs as numbers and letter runs by length first, so sdz < sdaa and sd* < nvme*.
bool natural_name_less(const std::string& a, const std::string& b);

// The whole disks under sysfs_root/block in drive-number order (names such as "sda").
std::vector<std::string> list_whole_disks(const std::string& sysfs_root);

// The N of "\\.\PhysicalDriveN"; false for any other text.
bool parse_drive_number(const char* path, std::size_t& index);

}  // namespace torvik
