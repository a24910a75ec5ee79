// The health verdict: its rules over NVMe SMART / Health log values, the order in which it picks
// its source, and the verdict of every simulated drive through the whole program.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "model/controller_pages.h"
#include "model/drive_model.h"
#include "model/flash_figures.h"
#include "model/health_verdict.h"
#include "model/key_figures.h"
#include "model/nvme_pages.h"
#include "report/health_block.h"
#include "sim/profiles.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The verdict of pages given as bytes (nullptr: not read), decoded as a run decodes them.
HealthAssessment assess_bytes(const std::uint8_t* bridge, const std::uint8_t* identify,
                              const std::uint8_t* controller, const std::uint8_t* ext,
                              const std::uint8_t* sysinfo) {
    const NvmeSmartHealth bridge_page = bridge ? decode_nvme_smart(bridge) : NvmeSmartHealth{};
    const NvmeIdentity identify_page = identify ? decode_nvme_identity(identify) : NvmeIdentity{};
    const NvmeSmartHealth controller_page =
        controller ? decode_nvme_smart(controller) : NvmeSmartHealth{};
    const ExtendedSmart ext_page = ext ? decode_extended_smart(ext) : ExtendedSmart{};
    const FlashGeometry geometry = sysinfo ? decode_flash_geometry(sysinfo) : FlashGeometry{};
    HealthPages pages;
    pages.nvme_smart_bridge = bridge ? &bridge_page : nullptr;
    pages.nvme_identify = identify ? &identify_page : nullptr;
    pages.nvme_smart_controller = controller ? &controller_page : nullptr;
    pages.smartext = ext ? &ext_page : nullptr;
    pages.sysinfo = sysinfo ? &geometry : nullptr;
    return assess_health(pages);
}

// "field:level" for every reason, in order.
std::string levels(const HealthAssessment& health) {
    std::string out;
    for (const HealthReason& r : health.reasons) {
        if (!out.empty())
            out += ' ';
        out += std::string(r.field) + ':' + level_name(r.level);
    }
    return out;
}

// The levels of the five NVMe reasons, with the changes "field:level ..." applied; a level of "-"
// means the reason is absent.
std::string nvme_levels(const std::string& changes) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"critical_warning", "ok"},      {"available_spare", "ok"},
        {"percentage_used", "ok"},       {"media_and_data_integrity_errors", "ok"},
        {"composite_temperature", "ok"},
    };
    std::size_t at = 0;
    while (at < changes.size()) {
        std::size_t end = changes.find(' ', at);
        if (end == std::string::npos)
            end = changes.size();
        const std::string change = changes.substr(at, end - at);
        const std::size_t colon = change.find(':');
        for (auto& f : fields) {
            if (f.first == change.substr(0, colon))
                f.second = change.substr(colon + 1);
        }
        at = end + 1;
    }
    std::string out;
    for (const auto& f : fields) {
        if (f.second == "-")
            continue;
        out += (out.empty() ? "" : " ") + f.first + ':' + f.second;
    }
    return out;
}

using Thresholds = std::pair<std::uint16_t, std::uint16_t>;  // WCTEMP, CCTEMP in kelvins

struct NvmeCase {
    std::uint8_t warning = 0;
    std::uint16_t kelvin = 309;
    std::uint8_t spare = 100, threshold = 10, used = 2;
    std::uint64_t media_low = 0, media_high = 0;
    std::optional<Thresholds> identify{};  // absent: no Identify page
    const char* verdict = "PASSED";
    const char* changes = "";
};

TEST(HealthVerdict, NvmeRulesGiveTheVerdictAndOneReasonPerFigure) {
    const Thresholds t70_85{343, 358};
    const NvmeCase cases[] = {
        {},
        // Bit 1 alone (a temperature) is a warning; every other bit fails the drive.
        {.warning = 0x02, .verdict = "WARNING", .changes = "critical_warning:warning"},
        {.warning = 0x01, .verdict = "FAILED", .changes = "critical_warning:failed"},
        {.warning = 0x04, .verdict = "FAILED", .changes = "critical_warning:failed"},
        {.warning = 0x08, .verdict = "FAILED", .changes = "critical_warning:failed"},
        {.warning = 0x10, .verdict = "FAILED", .changes = "critical_warning:failed"},
        {.warning = 0x20, .verdict = "WARNING", .changes = "critical_warning:warning"},
        {.warning = 0x03, .verdict = "FAILED", .changes = "critical_warning:failed"},
        // Spare against the drive's own threshold: equal passes.
        {.spare = 10},
        {.spare = 9, .verdict = "FAILED", .changes = "available_spare:failed"},
        {.spare = 0, .threshold = 0},
        // Wear: 90 warns, 100 and beyond (the field may exceed 100) fail.
        {.used = 89},
        {.used = 90, .verdict = "WARNING", .changes = "percentage_used:warning"},
        {.used = 100, .verdict = "FAILED", .changes = "percentage_used:failed"},
        {.used = 255, .verdict = "FAILED", .changes = "percentage_used:failed"},
        // Media errors: any, in the low or the high half of the 128-bit count.
        {.media_low = 1,
         .verdict = "WARNING",
         .changes = "media_and_data_integrity_errors:warning"},
        {.media_high = 1,
         .verdict = "WARNING",
         .changes = "media_and_data_integrity_errors:warning"},
        // Temperature against WCTEMP / CCTEMP when the Identify page gives them; none: not judged.
        {.kelvin = 342, .identify = t70_85},
        {.kelvin = 343,
         .identify = t70_85,
         .verdict = "WARNING",
         .changes = "composite_temperature:warning"},
        // At or above CCTEMP too: a temperature alone clears once the drive cools.
        {.kelvin = 358,
         .identify = t70_85,
         .verdict = "WARNING",
         .changes = "composite_temperature:warning"},
        {.kelvin = 360,
         .identify = Thresholds{343, 0},
         .verdict = "WARNING",
         .changes = "composite_temperature:warning"},
        {.kelvin = 360,
         .identify = Thresholds{0, 358},
         .verdict = "WARNING",
         .changes = "composite_temperature:warning"},
        {.kelvin = 400, .identify = Thresholds{0, 0}},
        {.kelvin = 400},
        {.kelvin = 0, .identify = t70_85, .changes = "composite_temperature:-"},
        // The worst figure decides.
        {.warning = 0x02,
         .used = 100,
         .media_low = 3,
         .verdict = "FAILED",
         .changes = "critical_warning:warning percentage_used:failed "
                    "media_and_data_integrity_errors:warning"},
    };
    for (const NvmeCase& c : cases) {
        Bytes smart(512, 0);
        smart[0] = c.warning;
        put_le16(smart.data() + 1, c.kelvin);
        smart[3] = c.spare;
        smart[4] = c.threshold;
        smart[5] = c.used;
        put_le64(smart.data() + 160, c.media_low);
        put_le64(smart.data() + 168, c.media_high);
        smart[0x70] = 1;  // a power cycle: the page is never all zeros
        Bytes identify(4096, 0);
        identify[0] = 0x79;
        if (c.identify) {
            put_le16(identify.data() + 266, c.identify->first);
            put_le16(identify.data() + 268, c.identify->second);
        }
        const HealthAssessment health = assess_bytes(
            smart.data(), c.identify ? identify.data() : nullptr, nullptr, nullptr, nullptr);
        SCOPED_TRACE(health_block(health, nullptr, nullptr, false));
        EXPECT_EQ(verdict_name(health.verdict), std::string(c.verdict));
        EXPECT_EQ(health.source, HealthSource::nvme_smart_bridge);
        EXPECT_EQ(levels(health), nvme_levels(c.changes));
        // Every reason names its page, and shows its value as the page holds it (temperatures
        // in Celsius, the critical warning as the numbers of its set bits).
        for (const HealthReason& r : health.reasons) {
            EXPECT_NE(r.source.find("NVMe SMART log via the bridge"), std::string::npos);
            if (r.field == std::string("critical_warning") && c.warning != 0) {
                for (unsigned bit = 0; bit < 8; ++bit) {
                    const bool named =
                        r.text.find("bit " + std::to_string(bit) + ": ") != std::string::npos;
                    EXPECT_EQ(named, (c.warning >> bit & 1) != 0) << r.text;
                }
                continue;
            }
            // The one value beyond 64 bits is the media error count with only its high half set.
            const std::string shown = r.unit == std::string("K")
                                          ? std::to_string(static_cast<int>(r.value.low) - 273)
                                      : r.value.high == 0 ? std::to_string(r.value.low)
                                                          : "18446744073709551616";
            EXPECT_NE(r.text.find(" " + shown), std::string::npos) << r.field << ": " << r.text;
        }
    }
}

TEST(HealthVerdict, SourceIsTheFirstPageReadAndNotAllZero) {
    Bytes bridge(512, 0);
    bridge[5] = 95;  // percentage used: a warning
    Bytes controller(512, 0);
    controller[5] = 100;  // worn out: a failure
    Bytes zero512(512, 0);
    Bytes ext(4096, 0);
    auto record = [&ext](std::size_t k, std::uint16_t int_id, std::uint64_t raw) {
        put_le16(ext.data() + 16 * k, static_cast<std::uint16_t>(k + 1));
        put_le16(ext.data() + 16 * k + 2, int_id);
        put_le64(ext.data() + 16 * k + 8, raw);
    };
    record(0, 0x0100, 0);
    record(1, 0x020F, 0);     // life remaining 0%: a failure
    record(2, 0x020B, 2700);  // average erases, 90% of the 3000 limit: a warning
    Bytes sysinfo(4096, 0);
    put_le16(sysinfo.data() + 0x290, 3000);
    Bytes ext_without_life(4096, 0);
    put_le16(ext_without_life.data(), 1);
    put_le16(ext_without_life.data() + 2, 0x0100);

    struct Case {
        const char* name;
        const std::uint8_t *bridge, *controller, *ext, *sys;
        HealthSource source;
        const char* verdict;
        const char* levels;
    } cases[] = {
        {"bridge first", bridge.data(), controller.data(), ext.data(), sysinfo.data(),
         HealthSource::nvme_smart_bridge, "WARNING", nullptr},
        {"zero bridge page", zero512.data(), controller.data(), ext.data(), sysinfo.data(),
         HealthSource::nvme_smart_controller, "FAILED", nullptr},
        {"controller copy", nullptr, controller.data(), nullptr, nullptr,
         HealthSource::nvme_smart_controller, "FAILED", nullptr},
        {"extended smart", nullptr, zero512.data(), ext.data(), sysinfo.data(),
         HealthSource::extended_smart, "FAILED",
         "life_remaining:failed average_erase_count:warning"},
        {"no PE limit", nullptr, nullptr, ext.data(), nullptr, HealthSource::extended_smart,
         "FAILED", "life_remaining:failed"},
        {"no life figures", nullptr, nullptr, ext_without_life.data(), sysinfo.data(),
         HealthSource::none, "UNKNOWN", "health_pages:unknown"},
        {"nothing", nullptr, nullptr, nullptr, sysinfo.data(), HealthSource::none, "UNKNOWN",
         "health_pages:unknown"},
    };
    for (const Case& c : cases) {
        const HealthAssessment health = assess_bytes(c.bridge, nullptr, c.controller, c.ext, c.sys);
        EXPECT_EQ(health.source, c.source) << c.name;
        EXPECT_EQ(verdict_name(health.verdict), std::string(c.verdict)) << c.name;
        if (c.levels != nullptr) {
            EXPECT_EQ(levels(health), c.levels) << c.name;
        }
    }
}

// The flash against the capacity offered: a model filled as a run fills it (the bank page, the
// configuration, the size, the NVMe Identify page), its figures drawn and the verdict judged.
TEST(HealthVerdict, FlashAgainstTheCapacityOffered) {
    constexpr FlashIdBytes k2Tb = {0x98, 0x49, 0x9A, 0xB3, 0x7E, 0xF4, 0x08, 0x00};
    constexpr FlashIdBytes kOther2Tb = {0x9B, 0xC6, 0x28, 0x49, 0x20, 0x00, 0x00, 0x00};
    constexpr FlashIdBytes k133Tb = {0x98, 0x73, 0x9A, 0xB3, 0x7E, 0xF4, 0x00, 0x00};
    constexpr FlashIdBytes kNoCapacity = {0x98, 0x01, 0x9A, 0xB3, 0x7E, 0xF4, 0x00, 0x00};
    static constexpr std::uint64_t kFourBanks = std::uint64_t{4} << 38;  // 4 x 2048 Gb, in bytes
    const std::vector<FlashIdBytes> four(4, k2Tb);
    struct Case {
        const char* name;
        std::vector<FlashIdBytes> banks;            // from bank 0
        std::uint64_t offered_blocks = 1953525168;  // 1,000.2 GB
        int ce = -1;                                // -1: one per bank, and the mask alike
        std::uint32_t mask = 0;
        unsigned bits = 3;
        std::uint64_t nvme_total = 0;
        bool fidall_fails = false, sysinfo = true, smart = true;
        const char* verdict = "PASSED";
        const char* lines = "capacity_exceeds_flash:ok";  // the flash rule's, "field:level ..."
        std::optional<std::uint64_t> bytes = kFourBanks;
        const char* text = "";  // in the first of them
    } cases[] = {
        {.name = "below",
         .banks = four,
         .text = "Flash 1,099.5 GB in 4 banks of Toshiba 112L BiCS5 TLC; offers 1,000.2 GB, 9.0% "
                 "kept back"},
        {.name = "equal",
         .banks = four,
         .offered_blocks = kFourBanks / 512,
         .text = "offers 1,099.5 GB, 0.0% kept back"},
        {.name = "one block above",
         .banks = four,
         .offered_blocks = kFourBanks / 512 + 1,
         .verdict = "FAILED",
         .lines = "capacity_exceeds_flash:failed",
         .text = "Offers 1,099.5 GB but its flash holds 1,099.5 GB: data written past that is "
                 "lost (a counterfeit or a capacity set wrong); copy your data off and use no "
                 "more than 1,099.5 GB"},
        {.name = "no populated bank",
         .banks = {},
         .ce = 4,
         .mask = 0xF,
         .lines = "flash_size_unknown:note",
         .bytes = std::nullopt,
         .text = "Flash size unknown: the bank page lists no populated bank"},
        {.name = "unknown capacity code",
         .banks = {k2Tb, k2Tb, kNoCapacity, k2Tb},
         .lines = "mixed_flash_parts:note flash_size_unknown:note",
         .bytes = std::nullopt},
        {.name = "mixed parts",
         .banks = {k2Tb, k2Tb, kOther2Tb, kOther2Tb},
         .lines = "capacity_exceeds_flash:ok mixed_flash_parts:note",
         .text = "4 banks of Toshiba 112L BiCS5 TLC and YMTC 3dv3-128L TLC"},
        // A bank the page does not list may hold flash: a note, and no failure.
        {.name = "CE count and mask disagree",
         .banks = four,
         .offered_blocks = 7814037168,
         .ce = 16,
         .mask = 0xFFFF,
         .lines = "ce_count_mismatch:note",
         .text = "The 4 populated banks, Flash CE 16 and the CE mask's 16 bits disagree"},
        {.name = "configuration not read",
         .banks = four,
         .sysinfo = false,
         .lines = "capacity_exceeds_flash:ok ce_count_mismatch:note",
         .text = "Flash 1,099.5 GB in 4 banks"},
        {.name = "configuration not read, too little flash",
         .banks = four,
         .offered_blocks = 7814037168,
         .sysinfo = false,
         .lines = "ce_count_mismatch:note",
         .text = "Flash CE and the CE mask were not read: the 4 populated banks cannot be checked "
                 "against them, so the offer of 4,000.8 GB is not held against the 1,099.5 GB"},
        {.name = "mask alone disagrees",
         .banks = four,
         .ce = 4,
         .mask = 0xFF,
         .lines = "capacity_exceeds_flash:ok ce_count_mismatch:note"},
        {.name = "terabit capacities",
         .banks = std::vector<FlashIdBytes>(4, k133Tb),
         .verdict = "FAILED",
         .lines = "capacity_exceeds_flash:failed",
         .bytes = std::uint64_t{4} * 1365 << 27,
         .text = "but its flash holds 732.8 GB"},
        {.name = "NVMe total below the offer",
         .banks = four,
         .nvme_total = 500000000000,
         .verdict = "FAILED",
         .lines = "capacity_exceeds_flash:failed",
         .text = "but the NVMe drive's total capacity is 500.0 GB"},
        {.name = "NVMe total at the offer", .banks = four, .nvme_total = 1000204886016},
        {.name = "TLC run at 1 bit per cell",
         .banks = four,
         .offered_blocks = 715827882,
         .bits = 1,
         .lines = "capacity_exceeds_flash:ok cell_mode:note",
         .text = "offers 366.5 GB, 66.7% kept back"},
        {.name = "one bank of 1.33 Tb",
         .banks = {k133Tb},
         .offered_blocks = 300000000,
         .bytes = std::uint64_t{1365} << 27,
         .text = "Flash 183.2 GB in 1 bank of Toshiba 112L BiCS5 TLC; offers 153.6 GB"},
        {.name = "failed fidall read",
         .banks = four,
         .fidall_fails = true,
         .lines = "flash_size_unknown:note",
         .bytes = std::nullopt,
         .text = "the bank page (fidall) could not be read"},
        // Without a health page the flash alone can fail the drive, never pass it.
        {.name = "no health page, too little flash",
         .banks = four,
         .offered_blocks = 7814037168,
         .smart = false,
         .verdict = "FAILED",
         .lines = "capacity_exceeds_flash:failed"},
        {.name = "no health page, enough flash",
         .banks = four,
         .smart = false,
         .verdict = "UNKNOWN"},
    };
    const CommandResult read{CommandResult::Outcome::data, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DriveModel model;
        Bytes fidall(512, 0);
        for (std::size_t bank = 0; bank < c.banks.size(); ++bank)
            std::copy(c.banks[bank].begin(), c.banks[bank].end(), fidall.begin() + 8 * bank);
        model.sent(CommandId::fidall, fidall.data(), read);
        if (c.fidall_fails)
            model.failed(CommandId::fidall, 31);
        Bytes sysinfo(4096, 0);
        const unsigned ces = c.ce < 0 ? static_cast<unsigned>(c.banks.size()) : c.ce;
        write_field(sysinfo.data(), kFlashCe, ces);
        write_field(sysinfo.data(), kFlashCeMask, c.ce < 0 ? (1u << ces) - 1 : c.mask);
        write_field(sysinfo.data(), kBitsPerCell, c.bits);
        if (c.sysinfo)
            model.sent(CommandId::sysinfo, sysinfo.data(), read);
        model.last_lba = c.offered_blocks - 1;
        Bytes identify(4096, 0);
        write_wide(identify.data(), kIdentifyTotalCapacity, Uint128{0, c.nvme_total});
        model.sent(CommandId::nvme_identify, identify.data(), read);
        Bytes smart(512, 0);
        smart[3] = 100;
        smart[4] = 10;
        smart[0x70] = 1;
        if (c.smart)
            model.sent(CommandId::nvme_smart_log, smart.data(), read);
        model.flash = flash_figures(model);
        ASSERT_TRUE(model.flash);
        model.health = assess_health(health_pages(model));
        SCOPED_TRACE(health_block(model.health, nullptr, nullptr, false));

        EXPECT_EQ(verdict_name(model.health.verdict), std::string(c.verdict));
        if (!c.smart) {
            EXPECT_EQ(model.health.source, c.verdict == std::string("FAILED") ? HealthSource::flash
                                                                              : HealthSource::none);
        }
        std::string lines;
        const HealthReason* first = nullptr;
        for (const HealthReason& r : model.health.reasons) {
            const std::string field = r.field;
            if (field == kCapacityExceedsFlash || r.level == HealthLevel::note) {
                lines += (lines.empty() ? "" : " ") + field + ':' + level_name(r.level);
                first = first != nullptr ? first : &r;
            }
        }
        EXPECT_EQ(lines, c.lines);
        ASSERT_NE(first, nullptr);
        EXPECT_NE(first->text.find(c.text), std::string::npos);
        EXPECT_EQ(model.flash->bytes, c.bytes);
        // The metric's 0/1 is the failed line's, so a drive of disagreeing counts never fires it.
        EXPECT_EQ(model.flash->exceeds, std::string(c.lines).find(":failed") != std::string::npos);
    }
    // A drive whose bank page was not sent (a controller the report does not cover) has none.
    EXPECT_FALSE(flash_figures(DriveModel{}));
}

// An unknown bridge's missing log is a note beside a verdict from another page, and stays unknown
// when no page gave one.
TEST(HealthVerdict, UnknownBridgeLineIsANoteBesideAVerdict) {
    Bytes controller(512, 0);
    controller[3] = 100;
    controller[0x70] = 1;
    for (const bool copy : {true, false}) {
        const NvmeSmartHealth page = decode_nvme_smart(controller.data());
        HealthPages pages;
        pages.nvme_smart_controller = copy ? &page : nullptr;
        pages.bridge_note = "NVMe health not read";
        const HealthAssessment health = assess_health(pages);
        EXPECT_EQ(health.reasons.front().field, std::string("usb_bridge"));
        EXPECT_EQ(health.reasons.front().level, copy ? HealthLevel::note : HealthLevel::unknown);
        EXPECT_EQ(health.verdict, copy ? HealthVerdict::passed : HealthVerdict::unknown);
    }
}

// The golden files pin each simulated drive's --health block and exit status; the option changes
// nothing in the JSON's health object, which the goldens hold from a run without it.
TEST(HealthVerdict, HealthOptionLeavesTheJsonAsItIs) {
    for (const SimProfile& profile : sim_profiles()) {
        SCOPED_TRACE(profile.name);
        FakePlatform host;
        const std::string sim = std::string("--sim=") + profile.name;
        std::string json[2];
        for (int with = 0; with < 2; ++with) {
            ScratchDir dir;
            std::vector<const char*> args = {"--json", sim.c_str(), "0y"};
            if (with != 0)
                args.insert(args.begin(), "--health");
            run_whole_program(host, args);
            json[with] = dir.read("torvik_usb_pssd_flash_id.json");
        }
        EXPECT_FALSE(json[0].empty());
        EXPECT_EQ(json[1], json[0]);
    }
}

// A controller the report does not cover: the bridge's two NVMe pages are read, after the run's
// commands, only when an output uses them; the default run sends what it always sent.
TEST(HealthVerdict, BridgePagesOfAnyControllerOnlyForTheOptionsThatUseThem) {
    const struct {
        std::vector<const char*> options;
        bool bridge_read;
    } cases[] = {{{}, false},
                 {{"--health"}, true},
                 {{"--json"}, true},
                 {{"--html"}, true},
                 {{"--history", "h.jsonl"}, true},
                 {{"--metrics", "m.prom"}, true}};
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        std::vector<const char*> args = c.options;
        args.insert(args.end(), {"--sim=unsupported", "0y"});
        const ProgramRun r = run_whole_program(host, args);
        SCOPED_TRACE(r.out);
        EXPECT_EQ(dir.exists("torvik_pssd_nvme_id.bin"), c.bridge_read);
        EXPECT_EQ(dir.exists("torvik_pssd_nvme_smart.bin"), c.bridge_read);
        EXPECT_FALSE(dir.exists("torvik_pssd_sysinfo.bin"));
        const std::string manifest = dir.read("torvik_pssd_manifest.txt");
        EXPECT_EQ(manifest.find("nvme_smart not_sent") == std::string::npos, c.bridge_read);
        if (!c.options.empty() && std::string(c.options[0]) == "--health") {
            EXPECT_NE(r.out.find("Health: PASSED\nSummary: 2% used"), std::string::npos);
            EXPECT_NE(r.out.find("\nNVMe: TORVIK PSSD SIM 1TB, serial SIM00000000000002, "
                                 "firmware TK5021.3\n"),
                      std::string::npos);
        }
    }
}

// A run the verdict does not decide keeps its own status, the documented number: a refused run
// says why it has no verdict, and a PASSED run that could not write one of its files ends with 5.
TEST(HealthVerdict, RunStatusStandsUnlessTheVerdictSaysOtherwise) {
    enum class Host { no_drives, sata_drive0, unopenable_drive0, uncreatable_json };
    const struct {
        std::vector<const char*> args;
        Host host;
        int status;
        const char* out;
    } cases[] = {
        {{"--health", "--sim=none", "0y"}, Host::no_drives, 1, ""},
        {{"--health"},
         Host::no_drives,
         2,
         "\nHealth: UNKNOWN\nSummary: the drive was not examined\n"
         "  unknown The drive was not examined"},
        {{"--health", "5y"}, Host::no_drives, 2, "exit!\nHealth: UNKNOWN\n"},
        {{"--health", "0y"}, Host::sata_drive0, 3, "exit!\nHealth: UNKNOWN\n"},
        {{"--health", "0y"}, Host::unopenable_drive0, 4, "Error open disk\nHealth: UNKNOWN\n"},
        {{"--health", "--json", "--sim", "0y"}, Host::uncreatable_json, 5, "\nHealth: PASSED\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;  // no drives of its own: drive 5 is not on USB
        if (c.host == Host::sata_drive0)
            host.drives[0] = FakeDrive{.bus_type = 11};
        if (c.host == Host::unopenable_drive0)
            host.drives[0] = FakeDrive{.disk_open_fails = true};
        if (c.host == Host::uncreatable_json)
            host.uncreatable.insert("torvik_usb_pssd_flash_id.json");
        const ProgramRun r = run_whole_program(host, c.args);
        EXPECT_EQ(r.status, c.status) << c.out;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
}

// The Summary line's figures, each as a person reads it at a glance, from the run's key figures.
TEST(HealthBlock, SummaryFormatsEachFigure) {
    struct Nvme {
        unsigned used = 2, spare = 100;
        std::optional<std::int32_t> celsius = 36;
        Uint128 hours{0, 1380}, written{0, 35276512}, read{0, 40112233};
    };
    const struct {
        HealthSource source;
        std::optional<Nvme> nvme;
        const char* summary;
    } cases[] = {
        {HealthSource::nvme_smart_bridge, Nvme{},
         "2% used, spare 100%, 36 C, 1,380 h (57 days), 18.06 TB written, 20.54 TB read"},
        {HealthSource::nvme_smart_controller,
         Nvme{.used = 104,
              .spare = 0,
              .celsius = std::nullopt,
              .hours = {0, 24},
              .written = {},
              .read = {0, 1}},
         "104% used, spare 0%, 24 h (1 day), 0 B written, 512.00 kB read"},
        {HealthSource::nvme_smart_bridge,
         Nvme{.celsius = -23, .hours = {0, 1000000}, .written = {0, 1953}, .read = {0, 1953124}},
         "2% used, spare 100%, -23 C, 1,000,000 h (41,666 days), 999.94 MB written, "
         "1.00 TB read"},
        {HealthSource::nvme_smart_bridge,
         Nvme{.hours = {0, 0}, .written = {1, 0}, .read = {0, 2000000000}},
         "2% used, spare 100%, 36 C, 0 h (0 days), 9.44 YB written, 1.02 PB read"},
        {HealthSource::nvme_smart_bridge, Nvme{.hours = {1, 0}},
         "2% used, spare 100%, 36 C, 18446744073709551616 h, 18.06 TB written, 20.54 TB read"},
        {HealthSource::extended_smart, std::nullopt,
         "3% life used, 97% life remaining (the controller's extended SMART figures)"},
        {HealthSource::none, std::nullopt, "no health figures could be read"},
    };
    for (const auto& c : cases) {
        KeyFigures k;
        if (c.nvme) {
            k.percentage_used = c.nvme->used;
            k.available_spare = c.nvme->spare;
            k.temperature_celsius = c.nvme->celsius;
            k.counters = KeyFigures::NvmeCounters{.power_on_hours = c.nvme->hours,
                                                  .data_units_read = c.nvme->read,
                                                  .data_units_written = c.nvme->written};
        }
        k.life_used_record = 3;
        k.life_remaining_record = 97;
        HealthAssessment health;
        health.source = c.source;
        EXPECT_EQ(health_summary(health, &k), c.summary);
    }
    EXPECT_EQ(health_summary(HealthAssessment{}, nullptr), "the drive was not examined");
}

// The verdict word is coloured only on a terminal that shows colour, and never with NO_COLOR set
// or a dumb terminal; the colour never changes the words.
TEST(HealthBlock, VerdictColourOnlyWhereItShows) {
    const struct {
        bool terminal;
        const char* no_color;
        const char* term;
        bool colour;
    } cases[] = {
        {true, nullptr, "xterm-256color", true},
        {true, nullptr, nullptr, true},  // a Windows console has no TERM
        {true, "", "xterm", true},       // NO_COLOR counts only when not empty
        {true, "1", "xterm", false},
        {true, nullptr, "dumb", false},
        {false, nullptr, "xterm", false},  // a file or a pipe
    };
    for (const auto& c : cases)
        EXPECT_EQ(wants_colour(c.terminal, c.no_color, c.term), c.colour) << c.no_color << c.term;

    const struct {
        HealthVerdict verdict;
        const char* line;
    } words[] = {
        {HealthVerdict::passed, "Health: \033[32mPASSED\033[0m\n"},
        {HealthVerdict::warning, "Health: \033[33mWARNING\033[0m\n"},
        {HealthVerdict::failed, "Health: \033[31mFAILED\033[0m\n"},
        {HealthVerdict::unknown, "Health: \033[90mUNKNOWN\033[0m\n"},
    };
    for (const auto& w : words) {
        HealthAssessment health;
        health.verdict = w.verdict;
        const std::string coloured = health_block(health, nullptr, nullptr, true);
        EXPECT_EQ(coloured.substr(0, coloured.find('\n') + 1), w.line);
        const std::string plain = health_block(health, nullptr, nullptr, false);
        EXPECT_EQ(plain.substr(0, plain.find('\n') + 1),
                  std::string("Health: ") + verdict_name(w.verdict) + "\n");
        EXPECT_EQ(coloured.substr(coloured.find('\n')), plain.substr(plain.find('\n')));
    }
}

}  // namespace
}  // namespace torvik::testing
