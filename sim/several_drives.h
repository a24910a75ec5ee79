// Several simulated drives in one run (--sim=hot,default): a machine with portable SSDs plugged in
// beside its system disk. Drive 0 is that system disk, on the SATA bus, which the tool refuses as
// it refuses any drive that is not on USB; drives 1, 2, ... answer as the profiles named, in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_drive.h"

namespace torvik {

inline constexpr char kProfileSeparator = ',';

// Whether the profile text of --sim names several drives ("hot,default") rather than one.
constexpr bool names_several_drives(std::string_view text) {
    return text.find(kProfileSeparator) != std::string_view::npos;
}

// The names of a list of profiles, split at the commas; an empty name stays in the list as "" for
// the caller to refuse.
std::vector<std::string> profile_list(std::string_view text);

// Makes drive the system disk of drive 0: a disk on the SATA bus with a descriptor of its own.
void load_system_disk(SimDrive& drive);

}  // namespace torvik
