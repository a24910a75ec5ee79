// The end-to-end device's NVMe forwarding: which tunnel CDBs reach the controller and as what
// admin command, what the host gets back for the controller's data and for its error statuses,
// in each of the three tunnel forms; the 0xA1 form is driven with the tool's own CDBs and blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "scsi/cdb.h"
#include "scsi/tunnel_forms.h"
#include "tests/e2e/usbdev/nvme_tunnel.h"

namespace torvik::testing {
namespace {

using namespace torvik::usbdev;

ScsiCommand tunnel(std::uint8_t opcode, std::uint8_t cdw10_low, std::uint32_t length,
                   bool data_in = true) {
    ScsiCommand c;
    c.cdb = {0xE6, opcode, 0, cdw10_low};
    c.cdb_length = 16;
    c.data_in = data_in;
    c.transfer_length = length;
    return c;
}

// The 0xE4 form: bytes 1-2 the length, 3 the opcode, 4 the dword 10 byte.
ScsiCommand tunnel_e4(std::uint8_t opcode, std::uint8_t cdw10_low, std::uint32_t length,
                      std::uint16_t cdb_length_field) {
    ScsiCommand c;
    c.cdb = {0xE4, static_cast<std::uint8_t>(cdb_length_field),
             static_cast<std::uint8_t>(cdb_length_field >> 8), opcode, cdw10_low};
    c.cdb_length = 16;
    c.transfer_length = length;
    return c;
}

TEST(NvmeTunnel, TurnsTheTunnelCdbIntoTheAdminCommand) {
    using Admin = NvmeAdminCommand;  // opcode, nsid, dwords 10 and 11, data length
    struct Case {
        const char* what;
        ScsiCommand command;
        std::optional<std::uint8_t> log_override;
        std::optional<Admin> expect;
    };
    ScsiCommand not_tunnel = tunnel(0x06, 0x01, 4096);
    not_tunnel.cdb[0] = 0x06;
    const Case cases[] = {
        {"identify controller", tunnel(0x06, 0x01, 4096), {}, Admin{0x06, 0, 1, 0, 4096}},
        {"identify, short read: the controller still moves 4096",
         tunnel(0x06, 0x01, 512),
         {},
         Admin{0x06, 0, 1, 0, 4096}},
        {"smart log, 128 dwords",
         tunnel(0x02, 0x02, 512),
         {},
         Admin{0x02, 0xFFFFFFFF, 0x007F0002, 0, 512}},
        {"log identifier garbled by the bridge", tunnel(0x02, 0x02, 512), 0xC0,
         Admin{0x02, 0xFFFFFFFF, 0x007F00C0, 0, 512}},
        {"dword count above 16 bits goes to dword 11",
         tunnel(0x02, 0x01, 4 * 0x10001),
         {},
         Admin{0x02, 0xFFFFFFFF, 0x00000001, 1, 4 * 0x10001}},
        {"log length not whole dwords", tunnel(0x02, 0x02, 510), {}, std::nullopt},
        {"no data", tunnel(0x02, 0x02, 0), {}, std::nullopt},
        {"data out", tunnel(0x06, 0x01, 4096, false), {}, std::nullopt},
        {"set features never passes", tunnel(0x09, 0x04, 512), {}, std::nullopt},
        {"format never passes", tunnel(0x80, 0x00, 512), {}, std::nullopt},
        {"not the tunnel", not_tunnel, {}, std::nullopt},
        {"e4: identify controller",
         tunnel_e4(0x06, 0x01, 4096, 4096),
         {},
         Admin{0x06, 0, 1, 0, 4096}},
        {"e4: smart log, 128 dwords",
         tunnel_e4(0x02, 0x02, 512, 512),
         {},
         Admin{0x02, 0xFFFFFFFF, 0x007F0002, 0, 512}},
        {"e4: log identifier garbled", tunnel_e4(0x02, 0x02, 512, 512), 0xC0,
         Admin{0x02, 0xFFFFFFFF, 0x007F00C0, 0, 512}},
        {"e4: the CDB's length differs from the wrapper's",
         tunnel_e4(0x02, 0x02, 512, 256),
         {},
         std::nullopt},
        {"e4: set features never passes", tunnel_e4(0x09, 0x04, 512, 512), {}, std::nullopt},
        {"e4: opcode in the 0xE6 form's byte is not read",
         tunnel_e4(0x00, 0x06, 512, 512),
         {},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Admin> admin = tunnel_to_admin(c.command, c.log_override);
        ASSERT_EQ(admin.has_value(), c.expect.has_value());
        if (!admin)
            continue;
        EXPECT_EQ(admin->opcode, c.expect->opcode);
        EXPECT_EQ(admin->nsid, c.expect->nsid);
        EXPECT_EQ(admin->cdw10, c.expect->cdw10);
        EXPECT_EQ(admin->cdw11, c.expect->cdw11);
        EXPECT_EQ(admin->data_length, c.expect->data_length);
    }
}

// A controller that fills its data with a running pattern and answers a chosen status.
class FakeController : public NvmeAdmin {
  public:
    NvmeAdminResult run(const NvmeAdminCommand& command, std::uint8_t* data) override {
        seen.push_back(command);
        if (answer.error == 0 && answer.status == 0) {
            for (std::uint32_t i = 0; i < command.data_length; ++i)
                data[i] = static_cast<std::uint8_t>(i % 251 + 1);
        }
        return answer;
    }
    std::vector<NvmeAdminCommand> seen;
    NvmeAdminResult answer;
};

// Everything that is not the tunnel: answered as a marker, so a call that strays shows.
class InnerDrive : public Responder {
  public:
    ScsiReply answer(const ScsiCommand&, std::uint8_t* data, std::size_t) override {
        ++calls;
        data[0] = 0xAA;
        ScsiReply reply;
        reply.data_length = 1;
        return reply;
    }
    int calls = 0;
};

TEST(NvmeTunnel, PassesTheControllersDataBackAndOnlyWhatTheHostAskedFor) {
    FakeController controller;
    InnerDrive inner;
    NvmeTunnelResponder responder(inner, &controller, TunnelForm::e6, std::nullopt, nullptr);
    std::vector<std::uint8_t> data(8192, 0);

    ScsiReply reply = responder.answer(tunnel(0x02, 0x02, 512), data.data(), data.size());
    EXPECT_EQ(reply.kind, ScsiReply::Kind::good);
    EXPECT_EQ(reply.data_length, 512u);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[511], 511 % 251 + 1);
    EXPECT_EQ(data[512], 0);

    std::fill(data.begin(), data.end(), 0);
    reply = responder.answer(tunnel(0x06, 0x01, 512), data.data(), data.size());
    EXPECT_EQ(reply.data_length, 512u);
    EXPECT_EQ(data[511], 511 % 251 + 1);
    EXPECT_EQ(data[512], 0) << "the rest of the 4096-byte structure stays with the device";

    ScsiCommand inquiry;
    inquiry.cdb = {0x12, 0, 0, 0, 36};
    inquiry.cdb_length = 6;
    inquiry.transfer_length = 36;
    reply = responder.answer(inquiry, data.data(), data.size());
    EXPECT_EQ(inner.calls, 1);
    EXPECT_EQ(data[0], 0xAA);
    EXPECT_EQ(controller.seen.size(), 2u);

    reply = responder.answer(tunnel(0x80, 0x00, 512), data.data(), data.size());
    EXPECT_EQ(reply.kind, ScsiReply::Kind::check_condition);
    EXPECT_EQ(controller.seen.size(), 2u) << "a command that is not a read never reaches it";
}

TEST(NvmeTunnel, ReportsARejectedCommandAsCheckCondition) {
    struct Case {
        const char* what;
        NvmeAdminResult answer;
        std::uint8_t key, asc;
    };
    const Case cases[] = {
        {"invalid field, do not retry", {0, 0x4002}, 0x05, 0x24},
        {"invalid log page", {0, 0x0109}, 0x05, 0x24},
        {"invalid opcode", {0, 0x0001}, 0x05, 0x20},
        {"internal error", {0, 0x0006}, 0x04, 0x44},
        {"the call itself failed", {ENODEV, 0}, 0x04, 0x44},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeController controller;
        controller.answer = c.answer;
        InnerDrive inner;
        NvmeTunnelResponder responder(inner, &controller, TunnelForm::e6, std::nullopt, nullptr);
        std::vector<std::uint8_t> data(512, 0);
        const ScsiReply reply = responder.answer(tunnel(0x02, 0x02, 512), data.data(), data.size());
        EXPECT_EQ(reply.kind, ScsiReply::Kind::check_condition);
        EXPECT_EQ(reply.data_length, 0u);
        EXPECT_EQ(reply.sense[2] & 0x0F, c.key);
        EXPECT_EQ(reply.sense[12], c.asc);
        EXPECT_EQ(inner.calls, 0);
    }
}

// One command of the host: the tool's CDB, and for data out the bytes it sends.
struct Sent {
    ScsiCommand command;
    std::vector<std::uint8_t> out;
};

Sent from_tool(const Cdb& cdb, bool data_in, std::uint32_t length,
               std::vector<std::uint8_t> out = {}) {
    Sent sent;
    std::copy(cdb.bytes.begin(), cdb.bytes.end(), sent.command.cdb.begin());
    sent.command.cdb_length = cdb.length;
    sent.command.data_in = data_in;
    sent.command.transfer_length = length;
    sent.out = std::move(out);
    return sent;
}

std::vector<std::uint8_t> a1_block(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10) {
    const A1CommandBlock block = a1_command_block(nvme_command_block(opcode, nsid, cdw10));
    return {block.begin(), block.end()};
}

Sent a1_command(std::vector<std::uint8_t> block) {
    return from_tool(a1_cdb({}, TunnelStep::command, kA1BlockLength), false, kA1BlockLength,
                     std::move(block));
}
Sent a1_data(std::uint32_t length) {
    return from_tool(a1_cdb({}, TunnelStep::data, length), true, length);
}
Sent a1_completion_phase() {
    return from_tool(a1_cdb({}, TunnelStep::completion, kA1BlockLength), true, kA1BlockLength);
}

ScsiReply send(Responder& responder, const Sent& sent, std::vector<std::uint8_t>& data) {
    std::fill(data.begin(), data.end(), 0);
    std::copy(sent.out.begin(), sent.out.end(), data.begin());
    return responder.answer(sent.command, data.data(), data.size());
}

TEST(NvmeTunnel, CarriesTheA1FormsThreePhasesToTheController) {
    using Admin = NvmeAdminCommand;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> block;
        std::uint32_t length;
        NvmeAdminResult answer;  // error, status, result
        Admin expect;
    };
    const Case cases[] = {
        {"identify controller", a1_block(0x06, 0, 1), 4096, {}, Admin{0x06, 0, 1, 0, 4096}},
        {"smart log, 128 dwords",
         a1_block(0x02, 0xFFFFFFFF, 0x007F0002),
         512,
         {0, 0, 0x00000123},
         Admin{0x02, 0xFFFFFFFF, 0x007F0002, 0, 512}},
        {"log page rejected: the status travels in the completion block",
         a1_block(0x02, 0xFFFFFFFF, 0x007F00C0),
         512,
         {0, 0x4109, 0},
         Admin{0x02, 0xFFFFFFFF, 0x007F00C0, 0, 512}},
        {"every status bit reaches dword 5",
         a1_block(0x06, 0, 1),
         4096,
         {0, 0x7FFF, 0},
         Admin{0x06, 0, 1, 0, 4096}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeController controller;
        controller.answer = c.answer;
        InnerDrive inner;
        NvmeTunnelResponder responder(inner, &controller, TunnelForm::a1, std::nullopt, nullptr);
        std::vector<std::uint8_t> data(8192, 0);

        EXPECT_EQ(send(responder, a1_command(c.block), data).kind, ScsiReply::Kind::good);
        EXPECT_TRUE(controller.seen.empty()) << "nothing runs before the data phase";
        const ScsiReply page = send(responder, a1_data(c.length), data);
        EXPECT_EQ(page.kind, ScsiReply::Kind::good);
        const bool good = c.answer.status == 0;
        EXPECT_EQ(page.data_length, good ? c.length : 0u);
        if (good) {
            EXPECT_EQ(data[c.length - 1], (c.length - 1) % 251 + 1);
            EXPECT_EQ(data[c.length], 0);
        }
        const ScsiReply done = send(responder, a1_completion_phase(), data);
        EXPECT_EQ(done.kind, ScsiReply::Kind::good);
        EXPECT_EQ(done.data_length, 512u);
        // Read back as the tool reads it.
        const A1Completion completion = a1_completion(data.data());
        EXPECT_TRUE(completion.signature);
        EXPECT_EQ(completion.status, c.answer.status);
        EXPECT_EQ(completion.result, c.answer.result);
        EXPECT_EQ(get_le32(data.data() + 20) & 0x1FFFF, 0u) << "phase tag and below stay clear";

        ASSERT_EQ(controller.seen.size(), 1u);
        EXPECT_EQ(controller.seen[0].opcode, c.expect.opcode);
        EXPECT_EQ(controller.seen[0].nsid, c.expect.nsid);
        EXPECT_EQ(controller.seen[0].cdw10, c.expect.cdw10);
        EXPECT_EQ(controller.seen[0].cdw11, c.expect.cdw11);
        EXPECT_EQ(controller.seen[0].data_length, c.expect.data_length);
        EXPECT_EQ(inner.calls, 0);
    }
}

TEST(NvmeTunnel, RefusesWhatTheBridgesFormDoesNotCarry) {
    std::vector<std::uint8_t> unsigned_block = a1_block(0x06, 0, 1);
    unsigned_block[0] = 0;
    std::vector<std::uint8_t> log_offset = a1_block(0x02, 0xFFFFFFFF, 0x007F0002);
    log_offset[56] = 1;  // dword 14: command dword 12, the log's offset
    Sent a1_in_the_wrong_direction = a1_command(a1_block(0x06, 0, 1));
    a1_in_the_wrong_direction.command.data_in = true;
    Sent a1_length_differs = a1_data(512);
    a1_length_differs.command.transfer_length = 4096;

    struct Case {
        const char* what;
        std::optional<TunnelForm> form;
        std::vector<Sent> sent;  // the last one is refused with this code
        std::uint8_t asc;
    };
    const Case cases[] = {
        {"a1: command block without the signature",
         TunnelForm::a1,
         {a1_command(unsigned_block)},
         0x26},
        {"a1: set features", TunnelForm::a1, {a1_command(a1_block(0x09, 0, 4))}, 0x26},
        {"a1: format", TunnelForm::a1, {a1_command(a1_block(0x80, 1, 0))}, 0x26},
        {"a1: a log read at an offset", TunnelForm::a1, {a1_command(log_offset)}, 0x26},
        {"a1: data phase with no command", TunnelForm::a1, {a1_data(512)}, 0x2C},
        {"a1: data phase after a refused block",
         TunnelForm::a1,
         {a1_command(unsigned_block), a1_data(4096)},
         0x2C},
        {"a1: completion before the data phase",
         TunnelForm::a1,
         {a1_command(a1_block(0x06, 0, 1)), a1_completion_phase()},
         0x2C},
        {"a1: command phase as data in", TunnelForm::a1, {a1_in_the_wrong_direction}, 0x24},
        {"a1: CDB length differs from the wrapper's",
         TunnelForm::a1,
         {a1_command(a1_block(0x02, 0xFFFFFFFF, 0x007F0002)), a1_length_differs},
         0x24},
        {"e6 CDB to an a1 bridge", TunnelForm::a1, {{tunnel(0x06, 0x01, 4096), {}}}, 0x20},
        {"e4 CDB to an e6 bridge", TunnelForm::e6, {{tunnel_e4(0x06, 0x01, 4096, 4096), {}}}, 0x20},
        {"a1 CDB to an e4 bridge", TunnelForm::e4, {a1_command(a1_block(0x06, 0, 1))}, 0x20},
        {"e6 CDB to a bridge with no tunnel", std::nullopt, {{tunnel(0x06, 0x01, 4096), {}}}, 0x20},
        {"a1 CDB to a bridge with no tunnel",
         std::nullopt,
         {a1_command(a1_block(0x06, 0, 1))},
         0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeController controller;
        InnerDrive inner;
        NvmeTunnelResponder responder(inner, c.form ? &controller : nullptr, c.form, std::nullopt,
                                      nullptr);
        std::vector<std::uint8_t> data(8192, 0);
        ScsiReply reply;
        for (const Sent& sent : c.sent)
            reply = send(responder, sent, data);
        EXPECT_EQ(reply.kind, ScsiReply::Kind::check_condition);
        EXPECT_EQ(reply.sense[2] & 0x0F, 0x05);
        EXPECT_EQ(reply.sense[12], c.asc);
        EXPECT_TRUE(controller.seen.empty());
        EXPECT_EQ(inner.calls, 0);
    }
}

}  // namespace
}  // namespace torvik::testing
