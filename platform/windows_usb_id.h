// Windows: the bridge's USB ID of physical drive number `drive`, through the configuration
// manager's device tree; none when the drive is not found or no USB device is above it.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/usb_id.h"

namespace torvik {

std::optional<UsbId> windows_usb_id(std::int32_t drive);

}  // namespace torvik
