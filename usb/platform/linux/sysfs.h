// What the Linux backend reads from sysfs, with the sysfs root as a parameter
// so that it can be checked against a tree made for the purpose.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The hidraw device names under <sysfs_root>/class/hidraw, in numeric order
// (hidraw2 before hidraw10), so that controller numbers stay stable.
std::vector<std::string> linux_hidraw_names(const std::string& sysfs_root);

// The manufacturer string of the USB device behind the hidraw character
// device major:minor, as UTF-16 in `units` (terminated when it fits).
// Returns false when there is none (no such file, or a device not on USB).
bool linux_read_manufacturer(const std::string& sysfs_root, unsigned major, unsigned minor,
                             std::span<std::uint16_t> units);

// The same for any string attribute of that USB device: "product", "serial".
bool linux_read_usb_string(const std::string& sysfs_root, unsigned major, unsigned minor,
                           const char* attribute, std::span<std::uint16_t> units);

// The sysfs name of that USB device, which names the port it is plugged into
// (1-2.3: bus 1, port 3 of the hub on port 2). Empty for a device not on USB.
std::string linux_usb_port(const std::string& sysfs_root, unsigned major, unsigned minor);

// The release number (bcdDevice) of that USB device. Returns false for a
// device not on USB, or an attribute that holds no 16-bit hex number.
bool linux_usb_release(const std::string& sysfs_root, unsigned major, unsigned minor, std::uint16_t* release);

// The vendor and product IDs of hidraw node `name` from its HID device's
// uevent (HID_ID=BUS:VENDOR:PRODUCT), which anyone may read: no need to open
// a node that may refuse. Returns false when it does not tell.
bool linux_hidraw_ids(const std::string& sysfs_root, const std::string& name, std::uint16_t* vendor,
                      std::uint16_t* product);

// Whether the character device major:minor is a hidraw node.
bool linux_is_hidraw(const std::string& sysfs_root, unsigned major, unsigned minor);
