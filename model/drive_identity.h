// Which drive a run examined: one identity per run, computed once in the drive model, that the
// history, the metrics and the --all summary all name the drive by.
#pragma once

#include <string>
#include <string_view>

namespace torvik {

struct DriveModel;

// The drive's identity: the NVMe Identify page's texts when it was read, else the bridge's
// INQUIRY texts. Padding is trimmed; the bytes are the drive's own (not made printable).
struct DriveKey {
    std::string serial;
    std::string model;
    std::string firmware;
    bool from_nvme = false;  // from the NVMe Identify page rather than the bridge
    // The bridge's INQUIRY serial and product, whichever page the identity came from: how a run
    // that could not read the NVMe page finds the drive's records.
    std::string bridge_serial;
    std::string bridge_model;
};

// The serial's bytes in lowercase hexadecimal when any of them is not printable ASCII (the text
// alone would lose or hide them); empty for a serial of printable ASCII.
std::string serial_hex(std::string_view serial);

// The identity the model's pages give; the model computes it once as its pages come in.
DriveKey identify_drive(const DriveModel& drive);

// The same identity: from the same page, with the same serial bytes and model.
bool same_identity(const DriveKey& a, const DriveKey& b);

}  // namespace torvik
