// Everything the controller library and its front ends need from the
// system they run on. Exactly one backend is linked into each binary: the
// folder of the target system under usb/platform/, or the scripted fake
// controller of the tests, which takes the HID part's place and keeps the
// rest of its system's backend. Nothing here knows the library above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- The HID devices present ----

// A platform channel to one device: a file descriptor on Linux, a HANDLE on
// Windows. Both fit an intptr_t, and both use -1 for "no channel".
using hid_channel = std::intptr_t;
inline constexpr hid_channel hid_invalid_channel = -1;

enum class hid_access { read_write, write_only };

// The device paths of the HID devices present, in the platform's order
// (the order controller numbers count in). A device whose path cannot be
// had is left out; when the platform cannot list its devices, the list is
// empty.
std::vector<std::string> hid_device_paths();

// The vendor and product IDs of a listed device as the platform tells them
// without opening it. Returns false where it cannot.
bool hid_unopened_ids(const std::string& path, std::uint16_t* vendor, std::uint16_t* product);

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

// The device's release number (USB's bcdDevice). Returns false where the
// platform does not tell.
bool hid_get_release(hid_channel channel, std::uint16_t* release);

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

// The platform's error code for the last failed operation (errno on Linux,
// GetLastError() on Windows).
int hid_last_error();

// The platform's description of an error code, for messages.
std::string hid_error_text(int error);

// Whether an open failed for lack of permission in a way that a udev rule or
// a group can fix. Never on Windows, where keyboards and mice always refuse.
bool hid_error_is_permission(int error);

// ---- The output hold ----

// Keeping other runs off an output while this one uses it, so that two key
// sequences for one box never mix. The hold is tied to the process (on Linux,
// to the write channel): it ends however the process ends, and needs no files
// or rights of its own. The fake controller keeps its system's hold, on
// ordinary files.
enum class output_hold_result {
    held,         // this process now holds the output, until it ends
    busy,         // another process held it all through the wait
    unavailable,  // the platform offers no hold on this channel: go on without it
    refused,      // the platform has a hold but would not give it: `why` says why
};

// Takes the hold on `output` of the device at `path`, open for writing as
// `channel`, waiting at most `wait` for another process to let it go.
// Waiting runs are not served in the order they came.
output_hold_result output_hold_take(const char* path, hid_channel channel, int output,
                                    std::chrono::milliseconds wait, std::string* why);

// How long a hold is waited for when the caller asks for `asked`: just that
// on a real system; the fake controller's scenario may shorten it, so that
// the tests of giving up need not wait the whole bound.
std::chrono::milliseconds output_hold_wait(std::chrono::milliseconds asked);

// ---- Text for the user ----

// Makes sure that standard input, output and error are open (where the
// platform hands out the lowest free number, on something that takes no
// writes), so that no device opened later becomes one of them. Returns false
// when that cannot be done. The first thing a program does.
bool platform_reserve_standard_descriptors();

// Hands `text` (whole lines) to standard output or error in one call of the
// runtime's lowest write, so that another program reading the same pipe never
// sees a line torn; a Windows console gets it in UTF-16, which it shows as it
// is. Returns whether all of it was written, with errno set when not.
bool platform_write_text(std::FILE* stream, std::string_view text);

// What the user's terminal takes. In an 8-bit character set a byte of UTF-8
// can be a C1 control (U+011B is c4 9b, and 9b is CSI), so only ASCII goes
// there.
enum class text_charset { utf8, ascii };

// The character set device text may use, as the user's locale names it
// (LC_ALL, LC_CTYPE, LANG): UTF-8 where it is UTF-8, ASCII anywhere else.
// The program's own locale stays "C". Asked once, at start-up.
text_charset platform_text_charset();
