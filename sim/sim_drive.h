// The simulated drive: a model of the examined drive that answers every command the tool sends,
// behind the platform interface, so the layers above cannot tell it from a real one.
//
// This header is the contract the rest of the project builds against; sim_drive.cpp implements it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/storage_descriptor.h"
#include "platform/usb_id.h"
#include "scsi/bridge_table.h"
#include "scsi/commands.h"
#include "scsi/tunnel_forms.h"

namespace torvik {

enum class FaultKind {
    none,
    platform_error,   // the platform call fails with error_code
    check_condition,  // the drive ends the command with CHECK CONDITION after short_length bytes
    short_data,       // the drive sends only short_length bytes
};

// Sense keys and additional sense codes the simulated drive reports.
inline constexpr std::uint8_t kSenseIllegalRequest = 0x05;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;

struct Fault {
    FaultKind kind = FaultKind::none;
    std::uint32_t error_code = 0;
    std::uint32_t short_length = 0;  // short_data, check_condition: the bytes that still come
    // The sense of a check_condition fault.
    std::uint8_t sense_key = kSenseIllegalRequest;
    std::uint8_t asc = kAscInvalidOpcode;
    std::uint8_t ascq = 0;
};

// One request as it arrived: what the transport put on the wire.
struct SimRequest {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdb_length = 0;
    bool data_in = true;
    std::uint32_t transfer_length = 0;
};

struct SimAnswer {
    enum class Status { good, check_condition, platform_error };
    Status status = Status::good;
    std::uint32_t error_code = 0;          // for platform_error
    std::uint32_t data_length = 0;         // bytes placed at the start of the data area
    std::array<std::uint8_t, 18> sense{};  // fixed-format sense for check_condition
};

// What the drive tells the OS about itself in its storage device descriptor.
struct SimDescriptor {
    std::string vendor = "TORVIK  ";
    std::string product = "PSSD            ";
    std::uint8_t bus_type = kBusTypeUsb;
};

// ERROR_IO_DEVICE: what a bridge that does not know the tunnel opcode fails the call with.
inline constexpr std::uint32_t kTunnelUnknownError = 1117;

// The simulated drive's default bridge: the ID the bridge table gives the 0xE6 form.
inline constexpr UsbId kSimDefaultBridge{0x174C, 0x2362};

// The command a CDB asks for, if the drive knows it.
std::optional<CommandId> command_of(const std::uint8_t* cdb, std::uint8_t cdb_length);

class SimDrive {
  public:
    // A minimal drive: standard INQUIRY data, a 1 TB capacity, zeros in every vendor page, an
    // Identify with a model number, a zero SMART log.
    SimDrive();

    // Each command is answered from its page: cut to the transfer length (and to the allocation
    // length a CDB carries); a shorter page is sent as it is, as a drive that sent less.
    void set_page(CommandId command, std::vector<std::uint8_t> bytes);
    const std::vector<std::uint8_t>& page(CommandId command) const;

    void set_fault(CommandId command, Fault fault);
    const Fault& fault(CommandId command) const;
    void clear_faults();

    // A bridge of the 0xE6 form that does not know its tunnel: every 0xE6 request fails with
    // error_code.
    void set_tunnel_supported(bool supported, std::uint32_t error_code = kTunnelUnknownError);
    bool tunnel_supported() const { return tunnel_supported_; }

    // The bridge's USB ID and the tunnel it speaks (none: a SATA bridge, which knows no NVMe
    // tunnel). A CDB of another tunnel form ends with CHECK CONDITION, illegal request, unless
    // any_form (a replayed drive, which answers each read as the recording saw it).
    void set_bridge(UsbId id, std::optional<BridgeForm> form, bool any_form = false) {
        bridge_id_ = id;
        bridge_form_ = form;
        any_form_ = any_form;
    }
    const UsbId& bridge_id() const { return bridge_id_; }
    std::optional<BridgeForm> bridge_form() const { return bridge_form_; }

    void set_descriptor(SimDescriptor descriptor) { descriptor_ = std::move(descriptor); }
    const SimDescriptor& descriptor() const { return descriptor_; }

    // Answers one command by its CDB. data receives up to request.transfer_length bytes of a
    // data-in command and holds those of a data-out one (may be null when there is no data).
    // Every request is recorded.
    SimAnswer execute(const SimRequest& request, std::uint8_t* data);

    const std::vector<SimRequest>& requests() const { return requests_; }
    void clear_requests() { requests_.clear(); }

  private:
    SimAnswer answer_page(CommandId id, const SimRequest& request, std::uint8_t* data) const;
    // A CDB of any tunnel form, answered as a bridge of the drive's form does (as any form, for a
    // replayed drive): read back through the form's row; none when the CDB is no tunnel's.
    std::optional<SimAnswer> tunnel(const SimRequest& request, std::uint8_t* data);
    // One step of a framed form's read: the command block the bridge keeps, then the page, then
    // the completion block.
    SimAnswer framed_step(TunnelStep step, const SimRequest& request, std::uint8_t* data);

    std::array<std::vector<std::uint8_t>, kCommandCount> pages_;
    UsbId bridge_id_ = kSimDefaultBridge;
    std::optional<BridgeForm> bridge_form_ = BridgeForm::e6;
    bool any_form_ = false;
    std::optional<CommandId> a1_pending_;  // the command block the 0xA1 bridge holds
    std::array<Fault, kCommandCount> faults_{};
    bool tunnel_supported_ = true;
    std::uint32_t tunnel_error_ = kTunnelUnknownError;
    SimDescriptor descriptor_;
    std::vector<SimRequest> requests_;
};

}  // namespace torvik
