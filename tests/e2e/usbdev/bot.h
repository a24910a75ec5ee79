// The Bulk-Only Transport of a USB mass-storage device, without the USB I/O: reading a Command
// Block Wrapper, deciding the data phase and writing the Command Status Wrapper. The device loop
// moves the bytes; this part decides what they are, so it can be tested on the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tests/e2e/usbdev/responder.h"

namespace torvik::usbdev {

inline constexpr std::size_t kCbwSize = 31;
inline constexpr std::size_t kCswSize = 13;
inline constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC", little-endian
inline constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS", little-endian

// Class requests on the control endpoint.
inline constexpr std::uint8_t kRequestGetMaxLun = 0xFE;
inline constexpr std::uint8_t kRequestBulkOnlyReset = 0xFF;

inline constexpr std::uint8_t kOpRequestSense = 0x03;

struct Cbw {
    std::uint32_t tag = 0;
    ScsiCommand command;
};

// CBW layout (little-endian):
//   0  dCBWSignature          4   8  dCBWDataTransferLength  4
//   4  dCBWTag                4  12  bmCBWFlags (bit 7: in)  1
//  13  bCBWLUN (bits 3..0)    1  14  bCBWCBLength (1..16)    1
//  15  CBWCB                 16
// False for anything but a 31-byte wrapper with the signature and a CDB length of 1 to 16.
bool parse_cbw(const std::uint8_t* bytes, std::size_t size, Cbw& cbw);

enum class CswStatus : std::uint8_t { passed = 0, failed = 1, phase_error = 2 };

// CSW layout: dCSWSignature (4), dCSWTag (4), dCSWDataResidue (4), bCSWStatus (1).
std::array<std::uint8_t, kCswSize> make_csw(std::uint32_t tag, std::uint32_t residue,
                                            CswStatus status);

// What the device does for one CBW, after any data-out bytes have been read.
struct BotPlan {
    std::uint32_t data_in_length = 0;  // bytes of the data buffer to send
    bool halt_in = false;              // stall bulk-in after them: the host asked for more
    bool send_csw = true;              // false: the device goes silent on this command
    std::array<std::uint8_t, kCswSize> csw{};
};

// One LUN's command handling: answers through the responder, keeps the sense of a failed command
// for the REQUEST SENSE the host sends next, answers that itself.
class BotSession {
  public:
    explicit BotSession(Responder& responder) : responder_(responder) {}

    // `data` holds `capacity` bytes (zero, or the data-out bytes); the reply is written there.
    BotPlan run(const Cbw& cbw, std::uint8_t* data, std::size_t capacity);

  private:
    std::uint32_t request_sense(const ScsiCommand& command, std::uint8_t* data,
                                std::size_t capacity);

    Responder& responder_;
    Sense sense_{};
    bool has_sense_ = false;
};

}  // namespace torvik::usbdev
