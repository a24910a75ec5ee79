// The drive models the end-to-end device can carry, by name. The host builds the same model to
// know what the tool must write, so both sides agree byte for byte.
#pragma once

#include <string>

#include "sim/sim_drive.h"

namespace torvik::usbdev {

// "sim": the tool's own --sim drive (its first, default profile); "sim:NAME": its profile NAME.
// "minimal": the simulated drive as it is constructed (zero pages, fails the controller gate).
// "patterned": a supported controller (0x5017) with a plausible flash ID in the fid page and in
//   four banks, and every other page byte non-zero, in a pattern that differs per page, so that
//   a byte lost, moved or zeroed on the way shows in the dumps.
// False for an unknown name; the drive is then left as it was.
bool apply_profile(const std::string& name, SimDrive& drive);

// A fault of the simulated drive written as PAGE=check_condition or PAGE=platform_error:CODE,
// PAGE being the command's page name ("id" for torvik_pssd_id.bin, "fid" for torvik_usb_fid.bin),
// CODE a decimal error code. False for anything else.
bool parse_fault(const std::string& text, CommandId& command, Fault& fault);

}  // namespace torvik::usbdev
