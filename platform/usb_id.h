// The USB identity of the bridge a disk sits behind: the vendor and product ID its USB device
// descriptor gives. The platform reads it from the OS's device tree; the bridge table above maps
// it to the NVMe tunnel the bridge speaks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvik {

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;

    bool operator==(const UsbId&) const = default;
};

// "174c:2362": four lower-case hex digits each, as the USB ID databases and lsusb write them.
std::string usb_id_text(const UsbId& id);

// Four hex digits exactly (either case); none for anything else.
std::optional<std::uint16_t> parse_usb_hex16(std::string_view text);

// The IDs of a Windows device instance id of a USB device, "USB\VID_0BDA&PID_9210\0123456789"
// (any case; an interface of a composite device, "USB\VID_0BDA&PID_9210&MI_00\...", counts too).
// None for an instance id of another bus ("USBSTOR\DISK&VEN_...", "SCSI\...").
std::optional<UsbId> parse_usb_instance_id(std::string_view instance_id);

// Linux: the USB device a disk's sysfs device directory sits under. Starting at device_dir
// (the resolved /sys/block/<disk>/device), each parent is looked at in turn up to, not past,
// stop_at; the first that holds both idVendor and idProduct (four hex digits and a line end) is
// the bridge. None when no directory on the way has them (a disk on another bus).
std::optional<UsbId> usb_id_from_sysfs(const std::string& device_dir, const std::string& stop_at);

}  // namespace torvik
