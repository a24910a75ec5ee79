// Which NVMe tunnel a USB bridge speaks, by the bridge's USB vendor and product ID. A bridge that
// is not in the table is never sent a tunnel by guesswork: the 0xA1 form reads as ATA
// PASS-THROUGH (12) to a SATA bridge, and its first CDBs would ask the disk behind it for a reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/usb_id.h"
#include "scsi/tunnel_forms.h"

namespace torvik {

struct BridgeRow {
    std::uint16_t vendor;
    std::uint16_t product;
    BridgeForm form;
};

// Columns: USB vendor ID, product ID, the tunnel form. Rows in ascending ID order. A product that
// can also front a SATA drive (a dual-mode bridge) never gets the 0xA1 form here: to a SATA
// bridge that CDB is an ATA command.
// clang-format off
inline constexpr BridgeRow kBridges[] = {
    // Realtek RTL9210 and RTL9220 NVMe bridges.
    {0x0BDA, 0x9210, BridgeForm::e4},
    {0x0BDA, 0x9220, BridgeForm::e4},
    // JMicron JMS583, an NVMe-only bridge.
    {0x152D, 0x0583, BridgeForm::a1},
    // ASMedia ASM2362.
    {0x174C, 0x2362, BridgeForm::e6},
};
// clang-format on

namespace detail {

constexpr std::uint32_t bridge_key(const BridgeRow& row) {
    return (std::uint32_t{row.vendor} << 16) | row.product;
}

constexpr bool bridge_table_is_sound() {
    for (std::size_t i = 1; i < std::size(kBridges); ++i) {
        if (bridge_key(kBridges[i - 1]) >= bridge_key(kBridges[i]))
            return false;
    }
    return true;
}

}  // namespace detail

static_assert(detail::bridge_table_is_sound(),
              "bridge rows in ascending ID order, no ID in two rows");

// The form the table gives the bridge; none for a bridge it does not list.
constexpr std::optional<BridgeForm> bridge_form(const UsbId& id) {
    for (const BridgeRow& row : kBridges) {
        if (row.vendor == id.vendor && row.product == id.product)
            return row.form;
    }
    return std::nullopt;
}

// What a run knows of the bridge: its ID when the platform could read it, and the form the run's
// NVMe reads use (from the table, a recorded run or --bridge); no form: an unknown bridge, sent
// no tunnel by the reads the options add.
struct BridgeChoice {
    std::optional<UsbId> id;
    std::optional<BridgeForm> form = BridgeForm::e6;

    bool operator==(const BridgeChoice&) const = default;
};

}  // namespace torvik
