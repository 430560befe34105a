// What the Linux backend makes of the bytes it reads from sysfs, apart from
// the reading: a device chooses its own strings, and what it chooses is
// read here, so none of it may lead to a wrong result or past a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The number after "hidraw" in a name of /sys/class/hidraw (up to 9 digits),
// or -1 for any other name.
long linux_hidraw_number(std::string_view name);

// The vendor and product IDs in a HID device's uevent, from its line
// HID_ID=BUS:VENDOR:PRODUCT (hexadecimal). Returns false when no such line
// holds three hexadecimal numbers of 16 bits each, and nothing else.
bool linux_uevent_hid_ids(std::string_view uevent, std::uint16_t* vendor, std::uint16_t* product);

// A sysfs attribute that holds one hexadecimal number of 16 bits, such as a
// USB device's bcdDevice ("0123\n"): hex digits (leading zeros allowed),
// then a newline or nothing. Returns false for anything else.
bool linux_usb_hex16(std::string_view text, std::uint16_t* value);

// Converts UTF-8 into UTF-16 units, as much as fits, never half of a
// surrogate pair; invalid bytes become U+FFFD. Returns the number of units
// stored (no terminator is added).
std::size_t utf8_to_utf16(std::string_view text, std::span<std::uint16_t> units);

// How much of a USB string attribute to read for `units` UTF-16 units: no
// unit comes from more than 4 bytes of UTF-8.
constexpr std::size_t linux_usb_string_read_size(std::size_t units) {
    return units * 4;
}

// A USB string attribute, which the kernel ends with a newline, as UTF-16 in
// `units`, terminated when it fits. Its first linux_usb_string_read_size
// bytes are enough: what follows them cannot reach the buffer.
void linux_usb_string_units(std::string_view read, std::span<std::uint16_t> units);
