// The bridge tunnels: each form's CDBs and the 0xA1 command block as literal bytes, the
// completion check, the bridge table, the bridge's USB ID as Linux and Windows give it, what
// every platform lets through, and --bridge on whole runs.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "common/bytes.h"
#include "model/drive_model.h"
#include "model/drive_reader.h"
#include "platform/pass_through.h"
#include "platform/usb_id.h"
#include "scsi/bridge_table.h"
#include "scsi/cdb.h"
#include "scsi/tunnel_forms.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "support/fake_platform.h"
#include "support/program_run.h"
#include "support/scratch.h"
#include "transport/operations.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes cdb_bytes(const Cdb& cdb) {
    return Bytes(cdb.bytes.begin(), cdb.bytes.begin() + cdb.length);
}

NvmeCommandBlock block_of(CommandId id) {
    const CommandInfo& c = command_info(id);
    return nvme_command_block(static_cast<std::uint8_t>(c.code), c.nvme_namespace, c.nvme_cdw10);
}

// Each form's CDBs through its row, and the same bytes read back as the step and NVMe read they
// carry; a CDB whose last byte is not zero reads as none.
TEST(BridgeTunnel, CdbsOfEachFormAreTheseBytes) {
    const NvmeCommandBlock identify = block_of(CommandId::nvme_identify);
    const NvmeCommandBlock smart = block_of(CommandId::nvme_smart_log);
    using S = TunnelStep;
    using F = BridgeForm;
    struct Case {
        const char* what;
        BridgeForm form;
        const NvmeCommandBlock& block;
        TunnelStep step;
        std::uint32_t length;
        Bytes bytes;
    } cases[] = {
        // clang-format off
        {"e6 identify",   F::e6, identify, S::data,       4096, {0xE6, 0x06, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"e6 smart",      F::e6, smart,    S::data,       512,  {0xE6, 0x02, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"e4 identify",   F::e4, identify, S::data,       4096, {0xE4, 0x00, 0x10, 0x06, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"e4 smart",      F::e4, smart,    S::data,       512,  {0xE4, 0x00, 0x02, 0x02, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"a1 command",    F::a1, smart,    S::command,    512,  {0xA1, 0x80, 0, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0}},
        {"a1 page",       F::a1, identify, S::data,       4096, {0xA1, 0x82, 0, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0}},
        {"a1 completion", F::a1, smart,    S::completion, 512,  {0xA1, 0x8F, 0, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TunnelFormInfo& form = tunnel_form(c.form);
        EXPECT_EQ(cdb_bytes(form.cdb(c.block, c.step, c.length)), c.bytes);
        EXPECT_EQ(tunnel_form_of(c.bytes[0]), &form);
        const std::optional<TunnelCdbFields> read = form.read(c.bytes.data(), c.length);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->step, c.step);
        if (!form.framed) {
            EXPECT_EQ(read->nvme_opcode, c.block[0]);
            EXPECT_EQ(read->cdw10_low, c.block[8]);
        }
        Bytes stray = c.bytes;
        stray.back() = 1;
        EXPECT_FALSE(form.read(stray.data(), c.length).has_value());
    }
}

TEST(BridgeTunnel, CommandBlockOfTheSmartLogRead) {
    const A1CommandBlock block = a1_command_block(block_of(CommandId::nvme_smart_log));
    Bytes expected(512, 0);
    const Bytes set = {'N', 'V', 'M', 'E'};
    std::copy(set.begin(), set.end(), expected.begin());
    expected[8] = 0x02;                                                // dword 2: opcode
    expected[12] = expected[13] = expected[14] = expected[15] = 0xFF;  // dword 3: all namespaces
    expected[48] = 0x02;                                               // dword 12: cdw10, log 2
    expected[50] = 0x7F;                                               // 128 dwords - 1
    EXPECT_EQ(Bytes(block.begin(), block.end()), expected);
    EXPECT_TRUE(a1_command_block_reads(block.data()));
}

TEST(BridgeTunnel, CompletionCheck) {
    struct Case {
        std::uint32_t signature;
        std::uint32_t dword5;
        bool ok;
        std::uint16_t status;
    } cases[] = {
        {0x454D564E, 0, true, 0},
        {0x454D564E, 0x0001FFFF, true, 0},   // the low 17 bits are not the status
        {0x454D564E, 0x00040000, false, 2},  // status 2
        {0x454D564F, 0, false, 0},           // not the signature
        {0, 0, false, 0},
    };
    for (const Case& c : cases) {
        Bytes block(512, 0);
        put_le32(block.data(), c.signature);
        put_le32(block.data() + 20, c.dword5);
        const A1Completion done = a1_completion(block.data());
        EXPECT_EQ(done.ok(), c.ok) << std::hex << c.signature << " " << c.dword5;
        EXPECT_EQ(done.status, c.status);
    }
}

TEST(BridgeTable, LooksUpEachListedBridgeAndNoOther) {
    EXPECT_EQ(bridge_form(UsbId{0x174C, 0x2362}), BridgeForm::e6);
    EXPECT_EQ(bridge_form(UsbId{0x0BDA, 0x9210}), BridgeForm::e4);
    EXPECT_EQ(bridge_form(UsbId{0x0BDA, 0x9220}), BridgeForm::e4);
    EXPECT_EQ(bridge_form(UsbId{0x152D, 0x0583}), BridgeForm::a1);
    for (const UsbId other : {UsbId{0x152D, 0x0578}, UsbId{0x2362, 0x174C}, UsbId{0, 0}})
        EXPECT_EQ(bridge_form(other), std::nullopt) << usb_id_text(other);
    // SATA bridges of the listed vendors: no form, and known as such.
    for (const UsbId sata : {UsbId{0x152D, 0x0578}, UsbId{0x174C, 0x55AA}})
        EXPECT_TRUE(is_sata_bridge(sata)) << usb_id_text(sata);
    for (const UsbId other : {UsbId{0x152D, 0x0583}, UsbId{0xF0E1, 0x0D0C}})
        EXPECT_FALSE(is_sata_bridge(other)) << usb_id_text(other);
    EXPECT_EQ(usb_id_text(UsbId{0x0BDA, 0x9210}), "0bda:9210");
    EXPECT_EQ(parse_bridge_form("a1"), BridgeForm::a1);
    EXPECT_EQ(parse_bridge_form("A1"), std::nullopt);
    EXPECT_EQ(parse_bridge_form("e5"), std::nullopt);
}

TEST(BridgeUsbId, WindowsInstanceIds) {
    struct Case {
        const char* id;
        std::optional<UsbId> usb;
    } cases[] = {
        {"USB\\VID_0BDA&PID_9210\\012345678904", UsbId{0x0BDA, 0x9210}},
        {"usb\\vid_152d&pid_0583\\0000", UsbId{0x152D, 0x0583}},
        {"USB\\VID_174C&PID_2362&MI_00\\6&1", UsbId{0x174C, 0x2362}},
        {"USB\\VID_174C&PID_2362", UsbId{0x174C, 0x2362}},
        {"USBSTOR\\DISK&VEN_TORVIK&PROD_PSSD\\7&2", std::nullopt},
        {"USB\\VID_174C&PID_23623\\1", std::nullopt},
        {"USB\\VID_17XC&PID_2362\\1", std::nullopt},
        {"USB\\VID_174C", std::nullopt},
        {"SCSI\\DISK&VEN_ATA", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_usb_instance_id(c.id), c.usb) << c.id;
}

void write_text(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

TEST(BridgeUsbId, LinuxWalksUpToTheUsbDevice) {
    ScratchDir dir;
    const fs::path root = dir.path() / "sys";
    const fs::path usb = root / "devices/pci0000_00/usb2/2-1";
    const fs::path disk = usb / "2-1_1.0/host3/target3_0_0/3_0_0_0";
    fs::create_directories(disk);
    // The root hub above holds IDs of its own: the walk stops at the first device that has them.
    write_text(usb.parent_path() / "idVendor", "1d6b\n");
    write_text(usb.parent_path() / "idProduct", "0003\n");
    write_text(usb / "idVendor", "0bda\n");
    write_text(usb / "idProduct", "9210\n");
    EXPECT_EQ(usb_id_from_sysfs(disk.generic_string(), root.generic_string()),
              (UsbId{0x0BDA, 0x9210}));
    // A malformed ID is no ID: the walk goes on up.
    write_text(usb / "idProduct", "92100\n");
    EXPECT_EQ(usb_id_from_sysfs(disk.generic_string(), root.generic_string()),
              (UsbId{0x1D6B, 0x0003}));
    // (Names without the colons of real sysfs, so that the tree can be made on any file system.)
    // Nothing above the root is looked at, and a disk on another bus has none.
    const fs::path ata = root / "devices/pci0000_00/ata1/host0/target0_0_0/0_0_0_0";
    fs::create_directories(ata);
    write_text(dir.path() / "idVendor", "ffff\n");
    write_text(dir.path() / "idProduct", "ffff\n");
    EXPECT_EQ(usb_id_from_sysfs(ata.generic_string(), root.generic_string()), std::nullopt);
}

// What a platform lets through: the 0xA1 tunnel's one data-out request only with a command block
// of an NVMe read in it, and its data-in phases only as the page or the completion.
TEST(BridgeRefusal, OnlyAnA1CommandBlockOfANvmeReadGoesOut) {
    const PassThroughRefusals codes{87, 5};
    A1CommandBlock good = a1_command_block(block_of(CommandId::nvme_identify));
    const auto request = [](const Cdb& cdb, DataDirection direction, std::uint8_t* data,
                            std::uint32_t length) {
        PassThroughRequest r;
        r.cdb = cdb.bytes;
        r.cdb_length = cdb.length;
        r.direction = direction;
        r.data = data;
        r.transfer_length = length;
        return r;
    };
    const auto a1 = [](TunnelStep step, std::uint32_t length) {
        return a1_cdb(NvmeCommandBlock{}, step, length);
    };
    const Cdb out = a1(TunnelStep::command, 512);
    EXPECT_EQ(refusal(request(out, DataDirection::out, good.data(), 512), codes), 0u);
    Bytes page(4096);
    EXPECT_EQ(
        refusal(request(a1(TunnelStep::data, 4096), DataDirection::in, page.data(), 4096), codes),
        0u);
    EXPECT_EQ(refusal(request(a1(TunnelStep::completion, 512), DataDirection::in, page.data(), 512),
                      codes),
              0u);

    struct Case {
        const char* what;
        std::size_t byte;  // of the command block
        std::uint8_t value;
    } blocks[] = {
        {"NVMe Write (0x01)", 8, 0x01},
        {"NVMe Format NVM (0x80)", 8, 0x80},
        {"an opcode above a byte", 9, 0x01},
        {"a broken signature", 0, 'n'},
        {"dword 1 set", 4, 1},
        {"dword 10 set (a data pointer)", 40, 1},
        {"dword 18 set", 72, 1},
        {"the last byte set", 511, 1},
    };
    for (const Case& c : blocks) {
        A1CommandBlock bad = good;
        bad[c.byte] = c.value;
        EXPECT_EQ(refusal(request(out, DataDirection::out, bad.data(), 512), codes), 5u) << c.what;
    }
    // The completion is one 512-byte block: no other length, though the CDB names it.
    for (const std::uint32_t length : {16u, 511u, 513u, 4096u}) {
        EXPECT_EQ(refusal(request(a1(TunnelStep::completion, length), DataDirection::in,
                                  page.data(), length),
                          codes),
                  5u)
            << length;
    }
    // The command phase as data in, the page phase as data out, another phase, a length that
    // is not the transfer's, and data out with any other CDB.
    EXPECT_EQ(refusal(request(out, DataDirection::in, good.data(), 512), codes), 5u);
    EXPECT_EQ(
        refusal(request(a1(TunnelStep::data, 512), DataDirection::out, good.data(), 512), codes),
        5u);
    Cdb phase_one = a1(TunnelStep::data, 512);
    phase_one.bytes[1] = 0x81;
    EXPECT_EQ(refusal(request(phase_one, DataDirection::in, page.data(), 512), codes), 5u);
    EXPECT_EQ(
        refusal(request(a1(TunnelStep::data, 4096), DataDirection::in, page.data(), 512), codes),
        5u);
    const Cdb e6 = e6_cdb(block_of(CommandId::nvme_identify), TunnelStep::data, 512);
    EXPECT_EQ(refusal(request(e6, DataDirection::out, good.data(), 512), codes), 5u);
}

// The transport against a simulated bridge of each form: what went on the wire, and that the
// page came.
TEST(BridgeTransport, EachFormReadsThePageThroughItsOwnCdbs) {
    struct Case {
        BridgeForm form;
        std::vector<std::pair<std::uint8_t, bool>> wire;  // CDB bytes 0 and 1... as opcode, data in
    } cases[] = {
        {BridgeForm::e6, {{0xE6, true}}},
        {BridgeForm::e4, {{0xE4, true}}},
        {BridgeForm::a1, {{0xA1, false}, {0xA1, true}, {0xA1, true}}},
    };
    FakePlatform host;
    for (const Case& c : cases) {
        SCOPED_TRACE(bridge_form_name(c.form));
        SimProfileData data = find_sim_profile("default")->make();
        data.bridge_form = c.form;
        SimDrive drive;
        load_profile(drive, data);
        SimPlatform platform(host, drive);
        const DriveHandle disk = platform.open_drive("\\\\.\\PhysicalDrive0", 0);
        DriveLink link{platform, disk, stdout, nullptr};
        Bytes page(512);
        const CommandResult result = nvme_smart_log(link, page.data(), c.form);
        EXPECT_EQ(result.outcome, CommandOutcome::data);
        EXPECT_EQ(page, data.replies[static_cast<std::size_t>(CommandId::nvme_smart_log)]);
        ASSERT_EQ(drive.requests().size(), c.wire.size());
        for (std::size_t i = 0; i < c.wire.size(); ++i) {
            EXPECT_EQ(drive.requests()[i].cdb[0], c.wire[i].first);
            EXPECT_EQ(drive.requests()[i].data_in, c.wire[i].second);
        }
        // Any other form is an illegal request to this bridge: the transport sees CHECK
        // CONDITION and zeros.
        for (const BridgeForm other : {BridgeForm::e6, BridgeForm::e4, BridgeForm::a1}) {
            if (other == c.form)
                continue;
            std::fill(page.begin(), page.end(), 0xAA);
            EXPECT_EQ(nvme_smart_log(link, page.data(), other).outcome,
                      CommandOutcome::check_condition);
            EXPECT_EQ(page, Bytes(512, 0));
        }
        platform.close_drive(disk);
    }
}

// An 0xA1 bridge whose completion block is wrong: the read fails with its own line.
class CompletionPlatform : public FakePlatform {
  public:
    std::uint32_t signature = kA1Signature;
    std::uint32_t dword5 = 0;
    PassThroughResult pass_through(DriveHandle, const PassThroughRequest& request) override {
        PassThroughResult result;
        result.completed = true;
        if (request.direction == DataDirection::in) {
            std::memset(request.data, 0x5A, request.transfer_length);
            if (request.cdb[1] == 0x8F) {
                std::memset(request.data, 0, request.transfer_length);
                put_le32(request.data, signature);
                put_le32(request.data + 20, dword5);
            }
        }
        return result;
    }
};

TEST(BridgeTransport, A1CompletionOfAnotherSignatureOrAStatusFailsTheRead) {
    struct Case {
        std::uint32_t signature;
        std::uint32_t dword5;
        CommandOutcome outcome;
        const char* says;
    } cases[] = {
        {kA1Signature, 0, CommandOutcome::data, ""},
        {0x12345678, 0, CommandOutcome::check_condition,
         "NVMe read 0x02 through the USB bridge: its completion block lacks the signature; read "
         "failed\n"},
        {kA1Signature, 0x0002u << 17, CommandOutcome::check_condition,
         "NVMe read 0x02 through the USB bridge ended with NVMe status 0x2; read failed\n"},
    };
    for (const Case& c : cases) {
        CompletionPlatform platform;
        platform.signature = c.signature;
        platform.dword5 = c.dword5;
        std::FILE* err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        DriveLink link{platform, 1, stdout, err};
        Bytes page(512, 0xAA);
        EXPECT_EQ(nvme_smart_log(link, page.data(), BridgeForm::a1).outcome, c.outcome);
        EXPECT_EQ(page, Bytes(512, c.outcome == CommandOutcome::data ? 0x5A : 0));
        std::rewind(err);
        char said[256] = {};
        const std::size_t n = std::fread(said, 1, sizeof said - 1, err);
        std::fclose(err);
        EXPECT_EQ(std::string(said, n), c.says);
    }
}

// --bridge on whole runs: refused unless it names the examined drive's bridge, never with
// --all, never for an unlisted bridge without a terminal, never to change a listed bridge's form.
TEST(BridgeOption, RefusalsAndTheOneThatApplies) {
    struct Case {
        std::vector<const char*> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--sim=bridge-unknown", "--bridge=e4:0bda:9210", "--health", "0y"},
         kExitUsage,
         "--bridge names USB bridge 0bda:9210, but drive 0 is behind USB bridge f0e1:0d0c"},
        {{"--sim=bridge-unknown", "--bridge=e4:f0e1:0d0c", "--health", "0y"},
         kExitUsage,
         "USB bridge f0e1:0d0c is not in the bridge table: --bridge for it needs a typed yes at a "
         "terminal"},
        {{"--sim=bridge-e4", "--bridge=a1:0bda:9210", "--health", "0y"},
         kExitUsage,
         "USB bridge 0bda:9210 speaks the e4 tunnel: --bridge cannot give it another"},
        {{"--sim=bridge-e4", "--all", "--bridge=e4:0bda:9210"},
         kExitUsage,
         "--bridge names one drive's USB bridge: it cannot be combined with --all"},
        {{"--sim", "--bridge=e4:0bda", "0y"}, kExitUsage, "--bridge takes FORM:VVVV:PPPP"},
        // Refused while the command line is read, before any drive is opened.
        {{"--sim=sata-bridge", "--bridge=a1:152d:0578", "0y"},
         kExitUsage,
         "USB bridge 152d:0578 is a SATA bridge: it has no NVMe drive behind it, and --bridge "
         "sends it no tunnel"},
        {{"--sim=bridge-e4", "--bridge=e4:0BDA:9210", "--health", "0y"}, kExitOk, ""},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        const ProgramRun r = run_whole_program(host, c.args, "yes\n");
        std::string what;
        for (const char* arg : c.args)
            what += std::string(" ") + arg;
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << what << "\n" << r.err;
        if (c.status != kExitOk) {
            EXPECT_FALSE(dir.exists("torvik_usb_pssd_flash_id.txt")) << what;
        }
        if (c.status != kExitOk && c.args[0] == std::string("--sim=sata-bridge")) {
            EXPECT_EQ(host.count_calls("open"), 0) << what;
        }
    }
}

// One choice of tunnel per run, and where its reads go: for each bridge and each controller, the
// tunnel CDBs that passed the platform's read-only check in a plain run and in one whose outputs
// show the NVMe pages (--health and the like).
TEST(BridgeChoice, EachRunSendsItsOneFormWhereTheFixedSequenceDoes) {
    const std::string e6 = "e6 e6", e4 = "e4 e4", a1 = "a1 a1 a1 a1 a1 a1";
    const UsbId unlisted{0xF0E1, 0x0D0C};
    const std::string not_listed =
        "NVMe health not read: USB bridge f0e1:0d0c is not in the bridge "
        "table";
    const std::string sata = "USB bridge 152d:0578 is a SATA bridge: it has no NVMe health to read";
    const struct {
        const char* bridge;
        BridgeChoice choice;
        std::optional<BridgeForm> speaks;  // the simulated bridge's own form
        // Sent past the controller gate, and beyond it when asked (a plain run sends none there);
        // the note of a run that looked for the pages, past the gate and beyond it.
        std::string supported, unsupported_asked, note, note_beyond;
    } cases[] = {
        {"listed e6", bridge_choice(UsbId{0x174C, 0x2362}), BridgeForm::e6, e6, e6, "", ""},
        {"listed e4", bridge_choice(UsbId{0x0BDA, 0x9210}), BridgeForm::e4, e4, e4, "", ""},
        {"listed a1", bridge_choice(UsbId{0x152D, 0x0583}), BridgeForm::a1, a1, a1, "", ""},
        {"unlisted", bridge_choice(unlisted), BridgeForm::e4, e6, "",
         not_listed + " and did not answer the 0xE6 tunnel (see --bridge)",
         not_listed + " (see --bridge)"},
        {"unlisted, answers e6", bridge_choice(unlisted), BridgeForm::e6, e6, "", "",
         not_listed + " (see --bridge)"},
        {"no ID", bridge_choice(std::nullopt), BridgeForm::e6, e6, "", "",
         "NVMe health not read: the USB bridge's ID could not be read"},
        {"SATA", bridge_choice(UsbId{0x152D, 0x0578}), std::nullopt, "", "", sata, sata},
        {"forced e4", BridgeChoice{unlisted, BridgeForm::e4, BridgeKind::nvme}, BridgeForm::e4, e4,
         e4, "", ""},
    };
    FakePlatform host;
    std::FILE* out = std::fopen("/dev/null", "w");
    ASSERT_NE(out, nullptr);
    for (const auto& c : cases) {
        for (const char* profile : {"default", "unsupported"}) {
            for (const bool asked : {false, true}) {
                SCOPED_TRACE(std::string(c.bridge) + ", " + profile + (asked ? ", asked" : ""));
                SimProfileData data = find_sim_profile(profile)->make();
                data.bridge_form = c.speaks;
                SimDrive drive;
                load_profile(drive, data);
                SimPlatform platform(host, drive);
                const DriveHandle disk = platform.open_drive(kSimDrivePath, 0);
                DriveLink link{platform, disk, out, nullptr};
                DriveModel model;
                model.bridge = c.choice;
                ReadHooks hooks;
                hooks.command_done = [](CommandId, bool) {};
                hooks.stage_done = [](ReadStage) {};
                read_drive(link, model, hooks, nvme_read_plan(c.choice, asked));
                platform.close_drive(disk);
                std::string sent;
                for (const SimRequest& r : drive.requests()) {
                    char opcode[4];
                    std::snprintf(opcode, sizeof opcode, " %02x", r.cdb[0]);
                    if (r.cdb[0] == 0xE6 || r.cdb[0] == 0xE4 || r.cdb[0] == 0xA1)
                        sent += opcode + (sent.empty() ? 1 : 0);
                }
                const bool supported = std::string(profile) == "default";
                EXPECT_EQ(sent, supported ? c.supported : asked ? c.unsupported_asked : "");
                // Only a run that looked for the pages explains their absence.
                EXPECT_EQ(model.bridge_note, supported ? c.note : asked ? c.note_beyond : "");
            }
        }
    }
    std::fclose(out);
}

// A run through each form, plain or with --health, replays exactly: the replay sends the NVMe
// reads where the recorded run did, in its form.
TEST(BridgeReplay, EachFormReplaysAsRecorded) {
    for (const char* profile : {"bridge-e4", "bridge-a1", "bridge-unknown", "sata-bridge"}) {
        for (const bool health : {false, true}) {
            SCOPED_TRACE(std::string(profile) + (health ? " --health" : ""));
            const std::string sim = std::string("--sim=") + profile;
            ScratchDir recorded;
            FakePlatform host;
            std::vector<const char*> args = {sim.c_str(), "0y"};
            if (health)
                args.insert(args.begin(), "--health");
            const ProgramRun first = run_whole_program(host, args);
            std::map<std::string, std::string> files;
            for (const fs::directory_entry& e : fs::directory_iterator(recorded.path()))
                files[e.path().filename().string()] = recorded.read(e.path().filename().string());
            ScratchDir replayed;
            const std::string from = recorded.path().string();
            args[health ? 1 : 0] = "--replay";
            args.insert(args.end() - 1, from.c_str());
            const ProgramRun again = run_whole_program(host, args);
            EXPECT_EQ(again.status, first.status);
            EXPECT_EQ(again.err, first.err);
            EXPECT_EQ(again.out.substr(again.out.find("Drive: ")),
                      first.out.substr(first.out.find("Drive: ")));
            for (const auto& [name, bytes] : files)
                EXPECT_EQ(replayed.read(name), bytes) << name;
        }
    }
}

// A folder recorded when the plain run sent 0xE6 to a 0xE4 bridge (its manifest names the
// bridge's form, its NVMe reads ended with CHECK CONDITION) replays as it was, and --health on it
// prints no empty NVMe identity.
TEST(BridgeReplay, AnOlderPlainRunOfAnotherFormReplaysAsItWas) {
    ScratchDir recorded;
    FakePlatform host;
    run_whole_program(host, {"--sim=bridge-e4", "0y"});
    std::string manifest = recorded.read("torvik_pssd_manifest.txt");
    const std::size_t nvme = manifest.find("nvme_id ");
    ASSERT_NE(nvme, std::string::npos);
    // The lines end as the platform writes text (CR LF on Windows).
    const std::string eol = manifest.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    manifest = manifest.substr(0, nvme) + "nvme_id check_condition=0 zeros" + eol +
               "nvme_smart check_condition=0 dump=512 crc32=b2aa7578 zeros" + eol;
    fs::remove(recorded.path() / "torvik_pssd_nvme_id.bin");
    std::ofstream(recorded.path() / "torvik_pssd_nvme_smart.bin", std::ios::binary)
        << std::string(512, '\0');
    std::ofstream(recorded.path() / "torvik_pssd_manifest.txt", std::ios::binary) << manifest;
    const std::string from = recorded.path().string();
    ScratchDir replayed;
    run_whole_program(host, {"--replay", from.c_str(), "0y"});
    EXPECT_EQ(replayed.read("torvik_pssd_manifest.txt"), manifest);
    EXPECT_FALSE(replayed.exists("torvik_pssd_nvme_id.bin"));
    const ProgramRun health = run_whole_program(host, {"--replay", from.c_str(), "--health", "0y"});
    EXPECT_NE(health.out.find("\nHealth: PASSED\n"), std::string::npos) << health.out;
    EXPECT_EQ(health.out.find("NVMe:"), std::string::npos) << health.out;
}

}  // namespace
}  // namespace torvik::testing
