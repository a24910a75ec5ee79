#include "model/flash_figures.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "common/grouped_digits.h"
#include "model/drive_model.h"
#include "model/scsi_pages.h"

namespace torvik {

namespace {

// A gigabit of flash in bytes: 2^30 bits.
constexpr std::uint64_t kBytesPerGigabit = std::uint64_t{1} << 27;

bool less(Uint128 a, Uint128 b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
}

double as_double(Uint128 value) {
    return std::ldexp(static_cast<double>(value.high), 64) + static_cast<double>(value.low);
}

// value / divisor and its remainder, by long division over 32-bit limbs, most significant first.
Uint128 divide(Uint128 value, std::uint32_t divisor, std::uint32_t& remainder) {
    std::uint32_t limbs[4] = {
        static_cast<std::uint32_t>(value.high >> 32), static_cast<std::uint32_t>(value.high),
        static_cast<std::uint32_t>(value.low >> 32), static_cast<std::uint32_t>(value.low)};
    std::uint64_t rest = 0;
    for (std::uint32_t& limb : limbs) {
        const std::uint64_t dividend = rest << 32 | limb;
        limb = static_cast<std::uint32_t>(dividend / divisor);
        rest = dividend % divisor;
    }
    remainder = static_cast<std::uint32_t>(rest);
    return Uint128{std::uint64_t{limbs[0]} << 32 | limbs[1],
                   std::uint64_t{limbs[2]} << 32 | limbs[3]};
}

}  // namespace

std::optional<FlashFigures> flash_figures(const DriveModel& model) {
    if (!model.commands[static_cast<std::size_t>(CommandId::fidall)].sent)
        return std::nullopt;
    FlashFigures f;
    if (model.last_lba)
        f.offered_bytes = size_in_bytes(*model.last_lba);
    const Uint128 nvme_total = model.nvme_identity.total_capacity;
    if (model.has(CommandId::nvme_identify) && (nvme_total.high != 0 || nvme_total.low != 0))
        f.nvme_total_bytes = nvme_total;
    if (model.has(CommandId::sysinfo)) {
        f.ce_count = model.geometry.ce_count;
        f.ce_mask_bits = static_cast<unsigned>(std::popcount(model.geometry.ce_mask));
        f.bits_per_cell = model.geometry.bits_per_cell;
    }

    if (!model.has(CommandId::fidall)) {
        f.unknown = FlashUnknown::banks_not_read;
    } else {
        unsigned banks = 0;
        std::uint64_t bytes = 0;
        for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
            const FlashReading& reading = model.banks[bank];
            if (!flash_id_present(reading.bytes))
                continue;
            ++banks;
            auto part = std::find_if(f.parts.begin(), f.parts.end(),
                                     [&](const FlashPart& p) { return p.bytes == reading.bytes; });
            if (part == f.parts.end())
                part = f.parts.insert(f.parts.end(), FlashPart{reading.bytes, reading.fields, 0});
            part->banks |= std::uint32_t{1} << bank;
            if (reading.fields.capacity) {
                bytes += reading.fields.capacity->per_ce_gb * kBytesPerGigabit;
            } else if (f.unknown == FlashUnknown::known) {
                f.unknown = FlashUnknown::unknown_capacity;
                f.unknown_bank = bank;
            }
        }
        f.banks = banks;
        if (banks == 0)
            f.unknown = FlashUnknown::no_bank;
        else if (f.unknown == FlashUnknown::known)
            f.bytes = bytes;
    }

    // A bank the page does not list would make a genuine drive look short: the flash is held
    // against the offer only when the page's banks, Flash CE and the mask count the same.
    const bool counts_agree = f.banks && f.ce_count && f.ce_mask_bits && *f.banks == *f.ce_count &&
                              *f.ce_count == *f.ce_mask_bits;
    const bool known = f.bytes && f.offered_bytes;
    f.offers_more_than_flash = known && less(Uint128{0, *f.bytes}, *f.offered_bytes);
    const bool over_nvme =
        f.nvme_total_bytes && f.offered_bytes && less(*f.nvme_total_bytes, *f.offered_bytes);
    if (f.offers_more_than_flash && counts_agree) {
        f.exceeds = true;
        f.usable_bytes = Uint128{0, *f.bytes};
    }
    if (over_nvme && (!f.exceeds || less(*f.nvme_total_bytes, f.usable_bytes))) {
        f.exceeds = true;
        f.usable_bytes = *f.nvme_total_bytes;
        f.usable_by_nvme_total = true;
    }
    f.consistent = known && !f.offers_more_than_flash && !over_nvme;
    if (known) {
        const auto flash = static_cast<double>(*f.bytes);
        f.kept_back_permille = std::llround((flash - as_double(*f.offered_bytes)) * 1000.0 / flash);
    }

    if (f.parts.size() > 1)
        f.notes.push_back(FlashNote::mixed_flash_parts);
    if (f.banks.value_or(0) != 0 && !counts_agree)
        f.notes.push_back(FlashNote::ce_count_mismatch);
    // A count no cell type has (0, a page of rubbish) says nothing of the mode.
    const unsigned bits = f.bits_per_cell.value_or(0);
    if (bits >= 1 && bits <= flash_native_bits(CellType::plc) &&
        std::any_of(f.parts.begin(), f.parts.end(), [bits](const FlashPart& p) {
            return p.fields.cell && flash_native_bits(*p.fields.cell) != bits;
        }))
        f.notes.push_back(FlashNote::cell_mode);
    if (f.unknown != FlashUnknown::known)
        f.notes.push_back(FlashNote::flash_size_unknown);
    return f;
}

const char* flash_note_name(FlashNote note) {
    switch (note) {
        case FlashNote::mixed_flash_parts:
            return "mixed_flash_parts";
        case FlashNote::ce_count_mismatch:
            return "ce_count_mismatch";
        case FlashNote::cell_mode:
            return "cell_mode";
        case FlashNote::flash_size_unknown:
            break;
    }
    return "flash_size_unknown";
}

unsigned flash_native_bits(CellType cell) {
    static_assert(static_cast<unsigned>(CellType::plc) == 4);
    return static_cast<unsigned>(cell) + 1;
}

std::string gigabytes_text(Uint128 bytes) {
    std::uint32_t rest = 0;
    Uint128 tenths = divide(bytes, 100000000, rest);  // of a gigabyte of 10^9 bytes
    if (rest >= 50000000 && ++tenths.low == 0)
        ++tenths.high;
    std::string digits = decimal_text(tenths).text;
    std::string text =
        digits.size() == 1 ? std::string("0") : grouped(digits.substr(0, digits.size() - 1));
    text += '.';
    text += digits.back();
    return text + " GB";
}

std::string permille_percent_text(std::int64_t permille) {
    const std::uint64_t magnitude = permille < 0
                                        ? std::uint64_t{0} - static_cast<std::uint64_t>(permille)
                                        : static_cast<std::uint64_t>(permille);
    std::string text = permille < 0 ? "-" : "";
    text += grouped(std::to_string(magnitude / 10));
    text += '.';
    text += static_cast<char>('0' + magnitude % 10);
    return text + "%";
}

std::string flash_part_name(const FlashPart& part) {
    const FlashFields& f = part.fields;
    if (f.maker == nullptr)
        return "flash ID " + flash_id_hex(part.bytes);
    std::string name = f.maker;
    for (const char* piece : {f.node, f.part, f.cell ? cell_type_text(*f.cell) : nullptr}) {
        if (piece != nullptr)
            name += piece;
    }
    return name;
}

std::string flash_id_hex(const FlashIdBytes& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(byte));
        if (!text.empty())
            text += ' ';
        text += hex;
    }
    return text;
}

std::string bank_list_text(std::uint32_t banks) {
    std::string text;
    for (unsigned bank = 0; bank < 32; ++bank) {
        if ((banks >> bank & 1) == 0)
            continue;
        unsigned last = bank;
        while (last + 1 < 32 && (banks >> (last + 1) & 1) != 0)
            ++last;
        if (!text.empty())
            text += ", ";
        text += std::to_string(bank);
        if (last != bank) {
            text += '-';
            text += std::to_string(last);
        }
        bank = last;
    }
    return text;
}

}  // namespace torvik
