// The run's manifest: a small text file beside the dumps that says, for every command of the
// sequence, whether it was sent and how it ended, and for every dump this run wrote its length
// and CRC-32. Replay reads it to answer each command exactly as the drive did, failures
// included, and to tell this run's dumps from files an earlier run left behind.
//
// A first line naming the format, the run's time in UTC (left out when it is not known), then one
// line a command, in the order of the command table:
//
//   torvik_pssd_manifest 1
//   run_time 2026-03-14T09:26:53Z
//   bridge a1 152d:0583
//   inq data=56 dump=56 crc32=1c291ca3
//   cap16 not_sent
//   fid failed=0x1f dump=512 crc32=b2aa7578
//   nvme_id check_condition=0 zeros
//
// data=N: the drive sent N bytes; check_condition=N: it ended the command with CHECK CONDITION
// after N bytes; failed=0xE: the platform call failed with error E (hexadecimal). dump=L
// crc32=C: this run wrote the command's dump, L bytes with that checksum. zeros: the reply area
// held only zero bytes (a reply the run did not dump can still be replayed when it was empty).
// The bridge line names the form of the run's NVMe reads (e6, e4, a1, or unknown: no tunnel) and
// the bridge's USB ID when it was known; a manifest without one read through 0xE6 a bridge the
// bridge table gives that form (or, recorded before the line named 0xE6, any bridge).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scsi/bridge_table.h"
#include "scsi/commands.h"

namespace torvik {

inline constexpr const char* kManifestFileName = "torvik_pssd_manifest.txt";

struct ManifestDump {
    std::uint32_t length = 0;
    std::uint32_t crc32 = 0;

    bool operator==(const ManifestDump&) const = default;
};

struct ManifestEntry {
    bool sent = false;
    CommandOutcome outcome = CommandOutcome::failed;
    std::uint32_t received = 0;  // data bytes that came (data, check_condition)
    std::uint32_t error = 0;     // the platform's error code (failed)
    bool zeros = false;          // the reply area held only zeros
    std::optional<ManifestDump> dump;

    bool operator==(const ManifestEntry&) const = default;
};

struct RunManifest {
    std::array<ManifestEntry, kCommandCount> commands{};  // by CommandId
    // When the run took place, in seconds since 1970 UTC; none when the run did not know it (a
    // replay of a folder recorded before manifests held the time) or the manifest is that old.
    std::optional<std::int64_t> run_time;
    // The USB bridge, unless the run's NVMe reads used the 0xE6 tunnel the bridge table gives
    // the bridge: its form (none: no tunnel) and its ID, the kind the table makes of them.
    // Absent: the 0xE6 form.
    std::optional<BridgeChoice> bridge;

    ManifestEntry& operator[](std::size_t id) { return commands[id]; }
    const ManifestEntry& operator[](std::size_t id) const { return commands[id]; }
    bool operator==(const RunManifest&) const = default;
};

std::string format_manifest(const RunManifest& manifest);

// False, with the line and what is wrong in error, for a text that is not a manifest: an unknown
// first line, page or field, a number out of range, a page named twice, a time that is not one or
// given twice. Pages it does not name were not sent. A line whose length (data, check_condition or
// dump) is more than its command's transfer length cannot be a run's: the page is taken as not
// sent, and notes get the line and why.
bool parse_manifest(std::string_view text, RunManifest& manifest, std::string& error,
                    std::vector<std::string>* notes = nullptr);

}  // namespace torvik
