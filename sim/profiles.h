// Built-in simulated drives: what each command is answered with, which commands fail, and how
// the drive presents itself to the listing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scsi/commands.h"
#include "sim/sim_drive.h"

namespace torvik {

struct SimProfileData {
    std::array<std::vector<std::uint8_t>, kCommandCount> replies;  // by CommandId
    std::array<Fault, kCommandCount> faults{};
    bool tunnel_supported = true;  // the bridge knows the 0xE6 NVMe tunnel
    // The bridge's USB ID and the NVMe tunnel it speaks (none: a SATA bridge, which knows none).
    UsbId bridge_id = kSimDefaultBridge;
    std::optional<BridgeForm> bridge_form = BridgeForm::e6;
    std::string vendor = "TORVIK  ";
    std::string product = "PSSD SIM 1TB    ";
    // A replayed folder, and when it was recorded as its manifest says (none: a folder without a
    // manifest or from before manifests held the time). A built-in profile is simulated now.
    bool replayed = false;
    std::optional<std::int64_t> recorded_time;
    // A replayed folder's bridge as its manifest records it (no bridge line: the 0xE6 form, ID
    // not known); the replayed drive answers every tunnel form as the recording says.
    std::optional<RecordedBridge> recorded_bridge;
};

struct SimProfile {
    const char* name;
    const char* summary;
    SimProfileData (*make)();
    // A drive whose figures follow the run's time: moves them from make()'s to those at now.
    void (*age)(SimProfileData& data, std::int64_t now) = nullptr;
};

// The profile's drive as it stands at the run's time (none: as make() has it).
SimProfileData make_profile(const SimProfile& profile, std::optional<std::int64_t> now);

// The profiles in the order --sim=list shows them; the first is the default.
const std::vector<SimProfile>& sim_profiles();

// nullptr when no profile has that name.
const SimProfile* find_sim_profile(std::string_view name);

// Makes the drive answer as the profile says: every reply, every fault, the tunnel, and the
// descriptor the listing shows.
void load_profile(SimDrive& drive, const SimProfileData& data);

}  // namespace torvik
