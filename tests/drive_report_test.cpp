// The drive report on the simulated drive: sequence, identity lines, gate, pages, dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/drive_reading.h"
#include "common/bytes.h"
#include "model/drive_model.h"
#include "report/controller_config.h"
#include "sim/profiles.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    std::string console;
    std::string report;             // empty when the run had no report file
    std::vector<std::string> wire;  // the first four CDB bytes of every request, in hex
};

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class DriveReport : public ::testing::Test {
  protected:
    void SetUp() override { load_profile(drive, find_sim_profile("default")->make()); }

    void edit(CommandId id, const std::function<void(Bytes&)>& change) {
        Bytes page = drive.page(id);
        page.resize(command_info(id).length);
        change(page);
        drive.set_page(id, page);
    }

    void fail(CommandId id, std::uint32_t error) {
        drive.set_fault(id, Fault{FaultKind::platform_error, error, 0});
    }

    Outcome run(bool with_report_file = true) {
        SimPlatform platform(host, drive);
        Capture console;
        const DriveHandle disk = platform.open_drive("\\\\.\\PhysicalDrive0", kDiskOpenFlags);
        {
            OutputFile report(host, "report.txt", FileKind::text);
            DriveModel recorder;
            ReportContext ctx{console.file(), host, with_report_file ? &report : nullptr, recorder};
            read_drive_with_report(DriveLink{platform, disk, console.file()}, ctx, {});
            if (with_report_file)
                report.commit();
        }
        platform.close_drive(disk);
        Outcome out;
        out.console = console.text();
        if (with_report_file)
            out.report = read_text_file("report.txt");
        for (const SimRequest& request : drive.requests()) {
            char head[16];
            std::snprintf(head, sizeof head, "%02x%02x%02x%02x", request.cdb[0], request.cdb[1],
                          request.cdb[2], request.cdb[3]);
            out.wire.push_back(head);
        }
        return out;
    }

    ScratchDir dir;
    FakePlatform host;
    CheckedSimDrive drive;
};

const std::vector<std::string> kFullSequence = {
    "12000000", "25000000", "06560000", "06050000", "06008000", "06009000",
    "0600b100", "0600fd13", "06008901", "06008902", "e6060001", "e6020002",
};

TEST_F(DriveReport, SequenceAndDumpsOfASupportedDrive) {
    const Outcome out = run();
    EXPECT_EQ(out.wire, kFullSequence);
    struct Dump {
        const char* name;
        std::size_t size;
    } dumps[] = {
        {"torvik_usb_inq.bin", 56},          {"torvik_usb_cap.bin", 8},
        {"torvik_usb_fid.bin", 512},         {"torvik_usb_info.bin", 528},
        {"torvik_pssd_sysinfo.bin", 4096},   {"torvik_pssd_fidall.bin", 512},
        {"torvik_pssd_infoblock.bin", 6144}, {"torvik_pssd_id.bin", 4096},
        {"torvik_pssd_smart.bin", 512},      {"torvik_pssd_smartext.bin", 4096},
        {"torvik_pssd_nvme_id.bin", 4096},   {"torvik_pssd_nvme_smart.bin", 512},
    };
    for (const Dump& d : dumps) {
        ASSERT_TRUE(dir.exists(d.name)) << d.name;
        EXPECT_EQ(dir.read(d.name).size(), d.size) << d.name;
    }
    EXPECT_FALSE(dir.exists("torvik_usb_cap16.bin"));
    // Each dump holds what the drive sent.
    const Bytes info = dir.read_bytes("torvik_usb_info.bin");
    EXPECT_EQ(info[382], 0x50);
    EXPECT_EQ(info[383], 0x21);
    EXPECT_TRUE(dir.exists("torvik_pssd_flash_id_smart.txt"));
    EXPECT_FALSE(contains(out.console, "failed"));
}

TEST_F(DriveReport, IdentityLines) {
    edit(CommandId::inquiry, [](Bytes& p) {
        const char* text =
            "ABCDEFGHIJKLMNOPQRSTUVWX"
            "R1.0"
            "SN012345";
        // Model, revision and serial fill bytes 8 to 43 with no NUL among them.
        for (std::size_t i = 0; i < std::strlen(text); ++i)
            p[8 + i] = static_cast<std::uint8_t>(text[i]);
    });
    Outcome out = run();
    EXPECT_TRUE(contains(out.report,
                         "Model   : ABCDEFGHIJKLMNOPQRSTUVWX\n"
                         "Rev/sn  : R1.0/SN012345\n"
                         "Size    : 953869 MB [1000.2 GB]\n"));

    edit(CommandId::inquiry, [](Bytes& p) {
        std::fill(p.begin() + 8, p.begin() + 44, 0);
        p[8] = 'A';
        p[9] = 'B';
        p[10] = 'C';
        p[32] = ' ';  // spaces are kept
    });
    out = run();
    EXPECT_TRUE(contains(out.console, "Model   : ABC\nRev/sn  :  /\n"));
}

TEST_F(DriveReport, FailedInquiryPrintsEmptyTextsAndStillDumps) {
    fail(CommandId::inquiry, 0x1f);
    const Outcome out = run();
    const std::string expected = "IOCtl: Inquiry failed 0x1f!\nModel   : \nRev/sn  : /\n";
    EXPECT_TRUE(contains(out.console, expected)) << out.console;
    EXPECT_TRUE(contains(out.report, expected));
    EXPECT_EQ(count(out.console, "failed"), 1);  // INQUIRY has no transport line of its own
    EXPECT_EQ(dir.read_bytes("torvik_usb_inq.bin"), Bytes(56, 0));
}

TEST_F(DriveReport, SizeLineFromTheLastLba) {
    struct Case {
        std::uint32_t lba10;
        std::uint64_t lba16;  // used when lba10 is 0xFFFFFFFF
        bool fail10;
        bool fail16;
        const char* line;
        std::uint32_t inquiry_error = 0;
        const char* failure = nullptr;  // a failure line the case must print
    } cases[] = {
        {1953525167, 0, false, false, "Size    : 953869 MB [1000.2 GB]\n"},
        {0xFFFFFFFF, 7814037167, false, false, "Size    : 3815447 MB [4000.8 GB]\n"},
        {0xFFFFFFFF, 0, false, true, "Size    : 2097151 MB [2199.0 GB]\n"},
        {12345, 0, true, false, "Size    : 0 MB [0.0 GB]\n"},
        {2047, 0, false, false, "Size    : 0 MB [0.0 GB]\n"},
        {2048, 0, false, false, "Size    : 1 MB [0.0 GB]\n"},
        // A block address of zero after a successful call shows the code of the last failed one.
        {0, 0, false, false, "Size    : 0 MB [0.0 GB]\n", 0x1f,
         "IOCtl: ReadCapacity failed 0x1f!\n"},
    };
    for (const Case& c : cases) {
        ScratchDir case_dir;
        drive.clear_faults();
        drive.clear_requests();
        edit(CommandId::read_capacity10, [&](Bytes& p) { put_be32(p.data(), c.lba10); });
        edit(CommandId::read_capacity16, [&](Bytes& p) { put_be64(p.data(), c.lba16); });
        if (c.fail10)
            fail(CommandId::read_capacity10, 0x45d);
        if (c.fail16)
            fail(CommandId::read_capacity16, 0x79);
        if (c.inquiry_error != 0)
            fail(CommandId::inquiry, c.inquiry_error);
        const Outcome out = run(false);
        EXPECT_TRUE(contains(out.console, c.line)) << c.line << out.console;
        if (c.failure != nullptr) {
            EXPECT_TRUE(contains(out.console, c.failure)) << c.failure << out.console;
        }
        const bool sent16 = c.lba10 == 0xFFFFFFFF && !c.fail10;
        EXPECT_EQ(out.wire[2] == "9e100000", sent16) << c.line;
        EXPECT_EQ(case_dir.exists("torvik_usb_cap16.bin"), sent16) << c.line;
        if (c.fail10) {
            EXPECT_TRUE(
                contains(out.console, "IOCtl: failed 0x45d!\nIOCtl: ReadCapacity failed 0x45d!\n"));
        }
        if (c.fail16) {
            EXPECT_TRUE(
                contains(out.console, "IOCtl: failed 0x79!\nIOCtl: ReadCapacity16 failed 0x79!\n"));
            EXPECT_EQ(case_dir.read_bytes("torvik_usb_cap16.bin"), Bytes(32, 0));
        }
    }
}

TEST_F(DriveReport, ControllerGate) {
    struct Case {
        std::uint16_t id;
        bool goes_on;
    } cases[] = {{0x5017, true}, {0x5018, true}, {0x5021, true}, {0x5019, false}, {0x0000, false}};
    for (const Case& c : cases) {
        ScratchDir case_dir;
        drive.clear_requests();
        edit(CommandId::read_info, [&](Bytes& p) { put_be16(p.data() + 382, c.id); });
        const Outcome out = run();
        char line[64];
        std::snprintf(line, sizeof line, "Controller: TK%04X (from firmware)\n", c.id);
        EXPECT_TRUE(contains(out.report, line)) << line;
        EXPECT_EQ(out.wire.size(), c.goes_on ? kFullSequence.size() : 4u) << line;
        EXPECT_EQ(case_dir.exists("torvik_pssd_flash_id_smart.txt"), c.goes_on);
        EXPECT_EQ(case_dir.exists("torvik_pssd_nvme_id.bin"), c.goes_on);
        if (!c.goes_on) {
            // The report ends with the FlashID line.
            const std::string tail = out.report.substr(out.report.rfind("FlashID: "));
            EXPECT_EQ(std::count(tail.begin(), tail.end(), '\n'), 1) << tail;
        }
    }
}

TEST_F(DriveReport, FailedInfoPageGivesTk0000AndStops) {
    fail(CommandId::read_info, 0x2);
    const Outcome out = run();
    EXPECT_TRUE(contains(out.console,
                         "IOCtl: failed 0x2!\nIOCtl: ReadInfo failed 0x2!\n"
                         "Controller: TK0000 (from firmware)\n"));
    EXPECT_EQ(dir.read_bytes("torvik_usb_info.bin"), Bytes(528, 0));
    EXPECT_EQ(out.wire.size(), 4u);
}

TEST_F(DriveReport, FlashIdLine) {
    struct Case {
        Bytes id;
        const char* expected;  // nullptr: no FlashID line
    } cases[] = {
        {{0x00, 0x00, 0x98, 0xb3, 0x76, 0xf2, 0x01, 0x02}, nullptr},
        {{0x00, 0x01, 0, 0, 0, 0, 0, 0}, "FlashID: 0x0,0x1,0x0,0x0,0x0,0x0,0x0,0x0 - \n"},
        {{0x37, 0x00, 0, 0, 0, 0, 0, 0}, "FlashID: 0x37,0x0,0x0,0x0,0x0,0x0,0x0,0x0 - \n"},
        {{0x98, 0x3c, 0x98, 0xb3, 0x76, 0xf2, 0x00, 0x00},
         "FlashID: 0x98,0x3c,0x98,0xb3,0x76,0xf2,0x0,0x0 - Toshiba 64L BiCS3 TLC 16k 256Gb/CE "
         "256Gb/die 2Plane/die\n"},
    };
    for (const Case& c : cases) {
        ScratchDir case_dir;
        edit(CommandId::read_fid,
             [&](Bytes& p) { std::copy(c.id.begin(), c.id.end(), p.begin()); });
        const Outcome out = run();
        if (c.expected == nullptr) {
            EXPECT_FALSE(contains(out.report, "FlashID:"));
        } else {
            EXPECT_TRUE(contains(out.report, c.expected)) << c.expected << out.report;
        }
    }
}

TEST_F(DriveReport, BankLinesOnlyForPopulatedEntries) {
    edit(CommandId::fidall, [](Bytes& p) {
        std::fill(p.begin(), p.end(), 0);
        const Bytes toshiba = {0x98, 0xde, 0x91, 0x93, 0x2a, 0x50, 0x00, 0x00};
        std::copy(toshiba.begin(), toshiba.end(), p.begin() + 0);
        std::copy(toshiba.begin(), toshiba.end(), p.begin() + 8 * 11);
        p[8 * 31] = 0x2c;     // the last bank, byte 0 alone
        p[8 * 5 + 2] = 0x77;  // bytes 0 and 1 zero: an empty bank
    });
    const Outcome out = run();
    EXPECT_EQ(count(out.report, "Bank"), 3);
    EXPECT_EQ(count(out.console, "Bank"), 3);
    EXPECT_TRUE(contains(out.console, "Bank31: 0x2c,0x0,0x0,0x0,0x0,0x0,0x0,0x0 - "));
    EXPECT_TRUE(contains(out.report,
                         "Bank00: 0x98,0xde,0x91,0x93,0x2a,0x50,0x0,0x0 - Toshiba A19nm SLC 16k "
                         "64Gb/CE 32Gb/die 2Plane/die\n"
                         "Bank11: 0x98,0xde,0x91,0x93,0x2a,0x50,0x0,0x0 - "));
}

TEST_F(DriveReport, FailedControllerPagesAreNamedReadInfoDumpedAndPrintedAsZeros) {
    for (CommandId id : {CommandId::sysinfo, CommandId::fidall, CommandId::infoblock, CommandId::id,
                         CommandId::smart, CommandId::smartext}) {
        fail(id, 0x1f);
    }
    const Outcome out = run();
    EXPECT_EQ(count(out.console, "IOCtl: failed 0x1f!\nIOCtl: ReadInfo failed 0x1f!\n"), 6);
    EXPECT_EQ(count(out.report, "IOCtl: ReadInfo failed 0x1f!\n"), 6);
    EXPECT_EQ(dir.read_bytes("torvik_pssd_sysinfo.bin"), Bytes(4096, 0));
    EXPECT_EQ(dir.read_bytes("torvik_pssd_infoblock.bin"), Bytes(6144, 0));
    EXPECT_TRUE(contains(out.report, "Flash CE Mask : [-------- -------- -------- --------]\n"));
    EXPECT_FALSE(contains(out.report, "Bank"));
    // The bridge reads still follow.
    EXPECT_EQ(out.wire.back(), "e6020002");
}

TEST_F(DriveReport, ConfigurationBlockOnConsoleThenReportFileWithOneEmptyLine) {
    const Outcome out = run();
    const std::string block =
        "CPU Clk       : 800\nFlash CE      : 4\nFlash Channel : 4\nInterleave    : 1\n"
        "Flash CE Mask : [++++---- -------- -------- --------]\nFlash Clk,MT  : 1200\n"
        "Die per CE    : 4\nBlock per CE  : 14040\nPage per Block: 1152\n"
        "Bit Per Cell  : 3(TLC)\nPE Cycle Limit: 30000/3000\nSLC cache     : 0x60000/0xC00\n";
    EXPECT_TRUE(contains(out.console, block));
    EXPECT_FALSE(contains(out.console, block + "\n"));
    EXPECT_TRUE(contains(out.report, block + "\nTorvik ATA-style smart configuration:\n"));
}

TEST(ConfigurationBlock, FieldExamples) {
    // The sysinfo and infoblock pages.
    struct Pages {
        Bytes sysinfo = Bytes(4096, 0);
        Bytes infoblock = Bytes(6144, 0);
    };
    struct Case {
        std::function<void(Pages&)> set;
        const char* line;
    } cases[] = {
        {[](Pages& c) { put_le32(c.sysinfo.data() + 0x18, 0x80000001); },
         "Flash CE Mask : [+------- -------- -------- -------+]\n"},
        {[](Pages& c) { c.sysinfo[8] = 5; }, "Bit Per Cell  : 5\n"},
        {[](Pages& c) { c.sysinfo[8] = 0; }, "Bit Per Cell  : 0\n"},
        {[](Pages& c) { c.sysinfo[8] = 1; }, "Bit Per Cell  : 1(SLC)\n"},
        {[](Pages& c) { c.sysinfo[8] = 4; }, "Bit Per Cell  : 4(QLC)\n"},
        {[](Pages& c) {
             const std::uint8_t bytes[] = {0x30, 0x75, 0x00, 0x00, 0xB8, 0x0B};
             std::copy(bytes, bytes + 6, c.sysinfo.begin() + 0x28C);
         },
         "PE Cycle Limit: 30000/3000\n"},
        {[](Pages& c) {
             const std::uint8_t bytes[] = {0x30, 0x75, 0x01, 0x00, 0xB8, 0x0B, 0xFF};
             std::copy(bytes, bytes + 7, c.sysinfo.begin() + 0x28C);
         },
         "PE Cycle Limit: 95536/3000\n"},
        {[](Pages& c) {
             const std::uint8_t bytes[] = {0x00, 0x10, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00};
             std::copy(bytes, bytes + 8, c.infoblock.begin() + 0x984);
         },
         "SLC cache     : 0x1000/0xFF\n"},
    };
    for (const Case& c : cases) {
        Pages pages;
        c.set(pages);
        const std::string block = configuration_block(decode_flash_geometry(pages.sysinfo.data()),
                                                      decode_slc_cache(pages.infoblock.data()));
        EXPECT_TRUE(contains(block, c.line)) << c.line << block;
    }
}

TEST_F(DriveReport, WithoutReportFileEverythingGoesToTheConsole) {
    const Outcome out = run(false);
    EXPECT_TRUE(contains(out.console, "Model   : "));
    EXPECT_TRUE(contains(out.console, "Bank00: "));
    EXPECT_TRUE(contains(out.console, "SLC cache     : "));
    EXPECT_FALSE(contains(out.console, "\n\n"));
    EXPECT_FALSE(contains(out.console, "Torvik ATA-style"));
}

TEST_F(DriveReport, BridgeReadsAreDumpedOnlyOnSuccess) {
    // An older file of the same name stays as it was.
    std::FILE* old = std::fopen("torvik_pssd_nvme_id.bin", "wb");
    std::fputs("old", old);
    std::fclose(old);
    edit(CommandId::nvme_identify, [](Bytes& p) { std::fill(p.begin(), p.end(), 0); });
    drive.set_tunnel_supported(true);
    Outcome out = run();
    EXPECT_EQ(dir.read("torvik_pssd_nvme_id.bin"), "old");
    EXPECT_TRUE(dir.exists("torvik_pssd_nvme_smart.bin"));

    ScratchDir second;
    drive.set_tunnel_supported(false, 0x32);
    out = run();
    EXPECT_EQ(count(out.console, "IOCtl: ASM Id/Smart failed 0x32!\n"), 2);
    EXPECT_FALSE(contains(out.report, "ASM"));
    EXPECT_FALSE(second.exists("torvik_pssd_nvme_id.bin"));
    EXPECT_FALSE(second.exists("torvik_pssd_nvme_smart.bin"));
}

TEST_F(DriveReport, DumpThatCannotBeCreated) {
    host.uncreatable.insert("torvik_usb_inq.bin");
    host.uncreatable.insert("torvik_pssd_smart.bin");
    const Outcome out = run();
    EXPECT_TRUE(contains(out.console, "torvik_usb_inq.bin: Create File Error\n"));
    EXPECT_TRUE(contains(out.console, "torvik_pssd_smart.bin: Create File Error\n"));
    EXPECT_TRUE(contains(out.report, "SLC cache     : "));
    EXPECT_TRUE(dir.exists("torvik_usb_cap.bin"));
}

}  // namespace
}  // namespace torvik::testing
