// Which NVMe tunnel a USB bridge speaks, by the bridge's USB vendor and product ID, and which
// bridges front a SATA drive only. A bridge that is not in the table is never sent a tunnel by
// guesswork: the 0xA1 form reads as ATA PASS-THROUGH (12) to a SATA bridge, and its first CDBs
// would ask the disk behind it for a reset.
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
    std::optional<BridgeForm> form;  // none: a SATA bridge, with no NVMe drive behind it
};

inline constexpr std::optional<BridgeForm> kSataBridge = std::nullopt;

// Columns: USB vendor ID, product ID, the tunnel form (kSataBridge: none). Rows in ascending ID
// order. A product that can also front a SATA drive (a dual-mode bridge) never gets the 0xA1
// form here, since to a SATA bridge that CDB is an ATA command; an ID that any NVMe or dual-mode
// product also uses is never a SATA row.
// clang-format off
inline constexpr BridgeRow kBridges[] = {
    {0x0BDA, 0x9210, BridgeForm::e4},  // Realtek RTL9210, NVMe
    {0x0BDA, 0x9220, BridgeForm::e4},  // Realtek RTL9220, NVMe
    {0x152D, 0x0567, kSataBridge},     // JMicron JMS567
    {0x152D, 0x0578, kSataBridge},     // JMicron JMS578
    {0x152D, 0x0583, BridgeForm::a1},  // JMicron JMS583, NVMe only
    {0x152D, 0x2339, kSataBridge},     // JMicron JM20339
    {0x174C, 0x1153, kSataBridge},     // ASMedia ASM1153
    {0x174C, 0x2362, BridgeForm::e6},  // ASMedia ASM2362, NVMe
    {0x174C, 0x5106, kSataBridge},     // ASMedia ASM1051 (some ASM1153 too)
    {0x174C, 0x55AA, kSataBridge},     // ASMedia ASM1051E, ASM1053E, ASM1153E
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

// The table's row for the bridge; nullptr for a bridge it does not list.
constexpr const BridgeRow* bridge_row(const UsbId& id) {
    for (const BridgeRow& row : kBridges) {
        if (row.vendor == id.vendor && row.product == id.product)
            return &row;
    }
    return nullptr;
}

// The form the table gives the bridge; none for a SATA bridge or one it does not list.
constexpr std::optional<BridgeForm> bridge_form(const UsbId& id) {
    const BridgeRow* row = bridge_row(id);
    return row != nullptr ? row->form : std::nullopt;
}

// Whether the table lists the bridge as a SATA bridge.
constexpr bool is_sata_bridge(const UsbId& id) {
    const BridgeRow* row = bridge_row(id);
    return row != nullptr && !row->form;
}

// How a run knows the tunnel of its bridge.
enum class BridgeKind : std::uint8_t {
    nvme,      // the bridge speaks the form: the table says so, or --bridge named it
    unlisted,  // not in the table, or its ID is not known: 0xE6, the fixed sequence's form
    sata,      // the table lists it as a SATA bridge: no NVMe drive behind it, no tunnel
};

// What a run knows of the bridge: its ID when the platform could read it, the form of the run's
// NVMe reads (none: no tunnel at all) and how the run came to it.
struct BridgeChoice {
    std::optional<UsbId> id;
    std::optional<BridgeForm> form = BridgeForm::e6;
    BridgeKind kind = BridgeKind::nvme;

    bool operator==(const BridgeChoice&) const = default;
};

// The choice the table makes for a bridge of that ID (none: the platform could not read it).
constexpr BridgeChoice bridge_choice(const std::optional<UsbId>& id) {
    const BridgeRow* row = id ? bridge_row(*id) : nullptr;
    if (row == nullptr)
        return BridgeChoice{id, BridgeForm::e6, BridgeKind::unlisted};
    return BridgeChoice{id, row->form, row->form ? BridgeKind::nvme : BridgeKind::sata};
}

// A recorded run's bridge: the ID and form it used, and what the table makes of them. A form
// other than 0xE6 for a bridge the table does not list was named by --bridge.
constexpr BridgeChoice recorded_bridge_choice(const std::optional<UsbId>& id,
                                              const std::optional<BridgeForm>& form) {
    BridgeChoice choice = bridge_choice(id);
    if (choice.kind == BridgeKind::unlisted && form && *form != BridgeForm::e6)
        choice.kind = BridgeKind::nvme;
    choice.form = form;
    return choice;
}

// A replayed folder's bridge as its manifest records it, and whether the recorded run sent the
// NVMe reads (none: a folder without a manifest, which does not tell). A replay sends them
// exactly when the recorded run did.
struct RecordedBridge {
    BridgeChoice bridge;
    std::optional<bool> nvme_reads_sent;
};

}  // namespace torvik
