// How Linux disks become numbered drives: the whole disks of /sys/block in natural name order
// (drive N is the N-th of them), and the device nodes that name each disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvik {

// Natural order of block device names: by family (sd, hd, vd, xvd, nvme, mmcblk, others), then
// digit runs as numbers and letter runs by length first, so sdz < sdaa and sd* < nvme*.
bool natural_name_less(const std::string& a, const std::string& b);

// The whole disks under sysfs_root/block in drive-number order (names such as "sda").
std::vector<std::string> list_whole_disks(const std::string& sysfs_root);

// The name of the disk's SCSI generic node ("sg1"), or empty when it has none.
std::string scsi_generic_name(const std::string& sysfs_root, const std::string& disk);

// The drive number of the disk a device node names: a whole disk's block node or its SCSI
// generic node under dev_root, or any symbolic link to one (/dev/disk/by-id/...). -1 when it
// names none of the disks; missing is set when nothing exists at the path.
std::int32_t disk_number_of_node(const std::string& sysfs_root, const std::string& dev_root,
                                 const std::string& node, bool& missing);

}  // namespace torvik
