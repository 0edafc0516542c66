// The port list through libudev: the same ports and identification as the
// sysfs walk, as udev sees them (its own tree, its own attribute rules).
#include <libudev.h>

#include <memory>

#include "UdevScan.h"

namespace kr470 {
namespace {

using Udev = std::unique_ptr<udev, decltype(&udev_unref)>;
using Enumerate = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;
using Device = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;

std::string Text(const char* value) {
    return value != nullptr ? value : "";
}

std::string Attribute(udev_device* device, const char* name) {
    return Text(udev_device_get_sysattr_value(device, name));
}

// The sysfs walk's rule (PortScan.h), on udev's view of the device.
bool IsPortPresent(udev_device* device) {
    const std::string name = Text(udev_device_get_sysname(device));
    return serialio::IsSerialPortName(name) && udev_device_get_parent(device) != nullptr &&
           serialio::HasHardware(name, name.starts_with("ttyS") ? Attribute(device, "type") : "");
}

serialio::SerialPortInfo Describe(const serialio::ScanRoots& roots, udev_device* device) {
    serialio::SerialPortInfo port;
    port.device = roots.dev + "/" + Text(udev_device_get_sysname(device));
    // Not owned: freed with `device`.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (usb != nullptr) {
        port.vendorId = Attribute(usb, "idVendor");
        port.productId = Attribute(usb, "idProduct");
        port.manufacturer = Attribute(usb, "manufacturer");
        port.product = Attribute(usb, "product");
        port.serial = Attribute(usb, "serial");
    }
    port.byId = serialio::ByIdNameOf(roots, port.device);
    return port;
}

}  // namespace

bool ScanUdev(const serialio::ScanRoots& roots, std::vector<serialio::SerialPortInfo>& ports) {
    Udev context(udev_new(), udev_unref);
    if (!context) {
        return false;
    }
    Enumerate enumerate(udev_enumerate_new(context.get()), udev_enumerate_unref);
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return false;
    }
    std::vector<serialio::SerialPortInfo> found;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        Device device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device && IsPortPresent(device.get())) {
            found.push_back(Describe(roots, device.get()));
        }
    }
    serialio::SortPorts(found);
    ports = std::move(found);
    return true;
}

}  // namespace kr470
