#include "tests/e2e/usbdev/profiles.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "sim/profiles.h"

namespace torvik::usbdev {

namespace {

constexpr std::uint8_t kFlashId[8] = {0x98, 0x3C, 0x98, 0xB3, 0x76, 0xF2, 0x00, 0x00};
constexpr std::size_t kInfoControllerId = 382;
constexpr std::uint16_t kSupportedController = 0x5017;
constexpr std::size_t kPopulatedBanks = 4;
constexpr std::size_t kIdentifyModel = 24;  // NVMe Identify Controller: model number, 40 bytes
constexpr std::size_t kIdentifyModelSize = 40;

// 1..251: never zero, and a different sequence for every seed.
std::vector<std::uint8_t> pattern(std::size_t size, std::size_t seed) {
    std::vector<std::uint8_t> page(size);
    for (std::size_t i = 0; i < size; ++i) {
        page[i] = static_cast<std::uint8_t>(1 + (i * 13 + seed * 7) % 251);
    }
    return page;
}

void apply_patterned(SimDrive& drive) {
    const CommandId patterned[] = {CommandId::read_fid,
                                   CommandId::read_info,
                                   CommandId::sysinfo,
                                   CommandId::infoblock,
                                   CommandId::id,
                                   CommandId::smart,
                                   CommandId::smartext,
                                   CommandId::nvme_identify,
                                   CommandId::nvme_smart_log};
    for (const CommandId id : patterned) {
        const std::size_t index = static_cast<std::size_t>(id);
        drive.set_page(id, pattern(command_info(id).length, index + 1));
    }

    std::vector<std::uint8_t> fid = drive.page(CommandId::read_fid);
    std::copy(std::begin(kFlashId), std::end(kFlashId), fid.begin());
    drive.set_page(CommandId::read_fid, fid);

    std::vector<std::uint8_t> info = drive.page(CommandId::read_info);
    put_be16(info.data() + kInfoControllerId, kSupportedController);
    drive.set_page(CommandId::read_info, info);

    std::vector<std::uint8_t> fidall(command_info(CommandId::fidall).length, 0);
    for (std::size_t bank = 0; bank < kPopulatedBanks; ++bank) {
        std::copy(std::begin(kFlashId), std::end(kFlashId), fidall.begin() + 8 * bank);
    }
    drive.set_page(CommandId::fidall, fidall);

    std::vector<std::uint8_t> identify = drive.page(CommandId::nvme_identify);
    const std::string model = "TORVIK PSSD E2E";
    std::fill_n(identify.begin() + kIdentifyModel, kIdentifyModelSize, ' ');
    std::copy(model.begin(), model.end(), identify.begin() + kIdentifyModel);
    drive.set_page(CommandId::nvme_identify, identify);
}

}  // namespace

bool parse_fault(const std::string& text, CommandId& command, Fault& fault) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    const std::string page = text.substr(0, equals);
    const std::string kind = text.substr(equals + 1);
    const CommandInfo* found = command_by_page_name(page);
    if (found == nullptr) {
        return false;
    }
    Fault parsed;
    const std::string error_prefix = "platform_error:";
    if (kind == "check_condition") {
        parsed.kind = FaultKind::check_condition;
    } else if (kind.rfind(error_prefix, 0) == 0 && kind.size() > error_prefix.size() &&
               kind.size() <= error_prefix.size() + 9 &&
               kind.find_first_not_of("0123456789", error_prefix.size()) == std::string::npos) {
        parsed.kind = FaultKind::platform_error;
        parsed.error_code =
            static_cast<std::uint32_t>(std::stoul(kind.substr(error_prefix.size())));
    } else {
        return false;
    }
    command = found->id;
    fault = parsed;
    return true;
}

bool apply_profile(const std::string& name, SimDrive& drive) {
    const std::string sim_prefix = "sim:";
    if (name == "sim" || name.rfind(sim_prefix, 0) == 0) {
        const SimProfile* profile = name == "sim"
                                        ? &sim_profiles().front()
                                        : find_sim_profile(name.substr(sim_prefix.size()));
        if (profile == nullptr) {
            return false;
        }
        load_profile(drive, profile->make());
        return true;
    }
    if (name == "minimal") {
        return true;
    }
    if (name == "patterned") {
        apply_patterned(drive);
        return true;
    }
    return false;
}

}  // namespace torvik::usbdev
