// Windows: the USB vendor and product ID of the bridge a physical drive sits behind. The disk's
// device interface is found by its device number; its parent chain in the configuration
// manager's device tree leads to the USB device, whose instance id holds the IDs.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>

#include <vector>

#include "platform/usb_id.h"
#include "platform/windows_usb_id.h"

namespace torvik {

namespace {

// GUID_DEVINTERFACE_DISK, spelled out so that no GUID library is needed.
const GUID kDiskInterface = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

class DeviceInfoSet {
  public:
    DeviceInfoSet()
        : set_(::SetupDiGetClassDevsA(&kDiskInterface, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

// The device number of the disk behind a device interface path; -1 when it cannot be asked.
long device_number(const char* path) {
    const HANDLE disk = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE)
        return -1;
    STORAGE_DEVICE_NUMBER number{};
    DWORD bytes = 0;
    const BOOL ok = ::DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                      sizeof number, &bytes, nullptr);
    ::CloseHandle(disk);
    return ok ? static_cast<long>(number.DeviceNumber) : -1;
}

// The first device up the tree from node whose instance id is a USB device's.
std::optional<UsbId> usb_parent(DEVINST node) {
    for (int depth = 0; depth < 16; ++depth) {
        char id[MAX_DEVICE_ID_LEN + 1] = {};
        if (::CM_Get_Device_IDA(node, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS) {
            if (const std::optional<UsbId> usb = parse_usb_instance_id(id))
                return usb;
        }
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return std::nullopt;
}

}  // namespace

std::optional<UsbId> windows_usb_id(std::int32_t drive) {
    const DeviceInfoSet set;
    if (set.get() == INVALID_HANDLE_VALUE || drive < 0)
        return std::nullopt;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface_data{};
        interface_data.cbSize = sizeof interface_data;
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kDiskInterface, index,
                                           &interface_data))
            break;
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set.get(), &interface_data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            continue;
        std::vector<unsigned char> storage(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiGetDeviceInterfaceDetailA(set.get(), &interface_data, detail, size, nullptr,
                                                &device))
            continue;
        if (device_number(detail->DevicePath) == drive)
            return usb_parent(device.DevInst);
    }
    return std::nullopt;
}

}  // namespace torvik
