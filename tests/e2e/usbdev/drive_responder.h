// The examined drive behind the USB device: the commands the tool sends (standard INQUIRY, READ
// CAPACITY (10) and (16), the vendor commands 0x06 and the bridge tunnel 0xE6) are answered by a
// drive model with the simulated drive's interface; what the kernel sends on its own goes to a
// responder for plain disk commands, told the model's identity and size so both agree.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/sim_drive.h"
#include "tests/e2e/usbdev/responder.h"
#include "tests/e2e/usbdev/standard_responder.h"

namespace torvik::usbdev {

// One command of the drive model: the request, and the data area of transfer_length bytes.
using DriveModel = std::function<SimAnswer(const SimRequest&, std::uint8_t*)>;

// True for the commands the drive model answers.
bool is_drive_command(const ScsiCommand& command);

// The request as the simulated drive receives it from the tool.
SimRequest to_sim_request(const ScsiCommand& command);

// The vendor, product, revision and size the model reports, for the kernel's own commands.
// Fields the model does not answer keep the defaults of `base`.
DiskIdentity identity_of(const DriveModel& model, DiskIdentity base);

class DriveResponder : public Responder {
  public:
    DriveResponder(DriveModel model, Responder& host_commands)
        : model_(std::move(model)), host_commands_(host_commands) {}

    // A model's failed platform call has no counterpart on the wire; the nearest is a device
    // that does not answer, which fails the host's call after its time-out.
    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) override;

  private:
    DriveModel model_;
    Responder& host_commands_;
};

}  // namespace torvik::usbdev
