// The few device operations the controller library needs from the platform.
// Exactly one implementation is linked into each binary: the real backend of
// the target system, or the scripted fake in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// A platform channel to one device: a file descriptor on Linux, a HANDLE on
// Windows. Both fit an intptr_t, and both use -1 for "no channel".
using hid_channel = std::intptr_t;
inline constexpr hid_channel hid_invalid_channel = -1;

enum class hid_access { read_write, write_only };

// Opens a device path, sharing read and write with others, existing devices
// only, without waiting in the open; writes on the channel then wait as
// hid_write says. Returns hid_invalid_channel on failure (hid_last_error()
// tells why).
hid_channel hid_open(const char* path, hid_access access);

// Reads the vendor and product IDs of an open channel. Returns false when the
// platform cannot tell them, or the channel is no HID device.
bool hid_get_attributes(hid_channel channel, std::uint16_t* vendor, std::uint16_t* product);

// Fills `units` with the device's manufacturer string in UTF-16, zero
// terminated when it fits (a string that fills the buffer has no terminator).
// Returns false when the platform refuses.
bool hid_get_manufacturer(hid_channel channel, std::span<std::uint16_t> units);

// The product and serial number strings, as hid_get_manufacturer gives the
// manufacturer's.
bool hid_get_product(hid_channel channel, std::span<std::uint16_t> units);
bool hid_get_serial(hid_channel channel, std::span<std::uint16_t> units);

// The USB port the device is plugged into, as the platform names it (Linux:
// the USB device's name in sysfs, such as 1-2.3). Returns false where the
// platform does not tell.
bool hid_get_port(hid_channel channel, std::string* port);

// What a device path given by the user names, looked up once and judged
// without opening it: opening some devices has effects of its own (a
// watchdog starts counting), and opening a FIFO waits for its other end.
enum class hid_path_kind {
    hid,          // a HID device, or one the platform can only judge by opening it
    not_hid,      // exists, but is no HID device
    unreachable,  // no such path, or not allowed to look (hid_last_error() tells)
};

// A HID device's path as the probe found it.
struct hid_probed_path {
    // Opens the device that was judged (where `pin` is held, through it).
    std::string open_path;
    // The device judged, held where the platform can hold it without opening
    // it, so that `open_path` keeps naming it; hid_invalid_channel where not.
    // Good for hid_same_device() alone; hid_close() it after the opens.
    hid_channel pin = hid_invalid_channel;
};

// Fills `probed` only for a HID device.
hid_path_kind hid_probe_path(const char* path, hid_probed_path* probed);

// Whether two channels lead to one device: a path opened twice may name
// another device the second time.
bool hid_same_device(hid_channel first, hid_channel second);

// Writes one whole buffer as a single output report and waits until the device
// has taken it or the write has failed. `written` receives the byte count.
// Returns false on failure, with errno set to the closest description.
bool hid_write(hid_channel channel, std::span<const std::uint8_t> bytes, std::size_t* written);

void hid_close(hid_channel channel);

// Makes sure that standard input, output and error are open (where the
// platform hands out the lowest free number, on something that takes no
// writes), so that no device opened later becomes one of them. Returns false
// when that cannot be done. The first thing a program does.
bool hid_reserve_standard_descriptors();

// The platform's error code for the last failed operation (errno on Linux,
// GetLastError() on Windows).
int hid_last_error();

// The platform's description of an error code, for messages.
std::string hid_error_text(int error);

// Whether an open failed for lack of permission in a way that a udev rule or
// a group can fix. Never on Windows, where keyboards and mice always refuse.
bool hid_error_is_permission(int error);
