// What the drive's flash holds against the capacity it offers, from pages the run has already
// read: the flash ID of every populated bank (fidall) with its capacity per chip enable, the
// controller's chip enable count, CE mask and bits per cell (sysinfo), the size READ CAPACITY gives
// and the NVMe drive's own total capacity (Identify). A drive that offers more than its flash holds
// loses whatever is written past it; a capacity tester finds that out only by writing the whole
// drive. Pure: it reads the model's decoded pages and never the drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/uint128.h"
#include "flashid/flash_id.h"
#include "model/controller_pages.h"

namespace torvik {

struct DriveModel;

// One distinct flash ID of the banks and the banks that hold it.
struct FlashPart {
    FlashIdBytes bytes{};
    FlashFields fields;
    std::uint32_t banks = 0;  // bit k: bank k
};

// Facts worth knowing that the verdict does not count, in the order the verdict lists them.
enum class FlashNote : std::uint8_t {
    mixed_flash_parts,   // the banks hold different flash parts
    ce_count_mismatch,   // the populated banks, Flash CE and the CE mask's bits disagree
    cell_mode,           // the controller runs the flash at another number of bits per cell
    flash_size_unknown,  // see FlashFigures::unknown
};

// Why the flash size is not known.
enum class FlashUnknown : std::uint8_t { known, banks_not_read, no_bank, unknown_capacity };

struct FlashFigures {
    std::optional<std::uint64_t> bytes;  // the flash the banks hold; absent when unknown
    FlashUnknown unknown = FlashUnknown::known;
    unsigned unknown_bank = 0;  // with unknown_capacity: the first bank the decoder cannot size
    std::optional<Uint128> offered_bytes;     // (last LBA + 1) x 512
    std::optional<Uint128> nvme_total_bytes;  // the Identify page's, when read and not zero
    // Tenths of a percent of the flash that the drive does not offer (negative: it offers more
    // than it holds); absent unless both are known.
    std::optional<std::int64_t> kept_back_permille;
    std::optional<unsigned> banks;  // populated; absent when the bank page was not read
    std::vector<FlashPart> parts;   // in the order of their first bank
    // The controller's configuration (sysinfo); absent when it was not read.
    std::optional<unsigned> ce_count;
    std::optional<unsigned> ce_mask_bits;
    std::optional<unsigned> bits_per_cell;

    // What it concludes. The drive offers more than its flash holds while the banks, Flash CE and
    // the mask agree (a bank the page does not list would make a genuine drive look short), or
    // more than the NVMe drive's total capacity: the verdict's failed line.
    bool exceeds = false;
    Uint128 usable_bytes{};             // with exceeds: what may be used, the smaller limit broken
    bool usable_by_nvme_total = false;  // that limit is the NVMe total's, not the flash's
    bool consistent = false;  // both known, and the offer within the flash (and the NVMe total)
    bool offers_more_than_flash = false;  // whether the banks agree or not
    std::vector<FlashNote> notes;
};

// The figures of a run whose bank page was sent (a supported controller); none otherwise.
std::optional<FlashFigures> flash_figures(const DriveModel& model);

// "mixed_flash_parts" ...: the note's code, the verdict's field.
const char* flash_note_name(FlashNote note);

// The bits a cell of that type holds in its native mode: SLC 1 ... PLC 5.
unsigned flash_native_bits(CellType cell);

// The verdict's field of the flash against the offered capacity.
inline constexpr const char* kCapacityExceedsFlash = "capacity_exceeds_flash";

// A capacity in decimal gigabytes with one decimal and grouped thousands: "1,099.5 GB".
std::string gigabytes_text(Uint128 bytes);

// Tenths as a percentage: 90 -> "9.0%", -5 -> "-0.5%".
std::string permille_percent_text(std::int64_t permille);

// A part as the description begins: maker, node, part and cell type ("Toshiba 112L BiCS5 TLC");
// an unknown maker as its ID ("flash ID 77 01 02 03 04 05 00 00").
std::string flash_part_name(const FlashPart& part);

// The ID's bytes in lower-case hexadecimal, as --decode takes them: "98 49 9a b3 7e f4 08 00".
std::string flash_id_hex(const FlashIdBytes& bytes);

// Bank numbers as ranges: "0-3", "0, 2, 5-7".
std::string bank_list_text(std::uint32_t banks);

}  // namespace torvik
