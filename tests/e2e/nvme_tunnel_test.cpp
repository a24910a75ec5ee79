// The end-to-end device's NVMe forwarding: which tunnel CDBs reach the controller and as what
// admin command, what the host gets back for the controller's data and for its error statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

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
    NvmeTunnelResponder responder(inner, controller, std::nullopt, nullptr);
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
        NvmeTunnelResponder responder(inner, controller, std::nullopt, nullptr);
        std::vector<std::uint8_t> data(512, 0);
        const ScsiReply reply = responder.answer(tunnel(0x02, 0x02, 512), data.data(), data.size());
        EXPECT_EQ(reply.kind, ScsiReply::Kind::check_condition);
        EXPECT_EQ(reply.data_length, 0u);
        EXPECT_EQ(reply.sense[2] & 0x0F, c.key);
        EXPECT_EQ(reply.sense[12], c.asc);
        EXPECT_EQ(inner.calls, 0);
    }
}

}  // namespace
}  // namespace torvik::testing
