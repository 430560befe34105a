// Enumeration of the HID device interfaces present, in the platform's order.
// One enumeration at a time: the state lives in the backend between
// hid_enum_begin() and hid_enum_end().
#pragma once

#include <cstdint>
#include <memory>

// One entry of the enumeration; the backend defines it.
struct hid_interface;

// The details of one interface, owned by the caller; the backend defines it.
struct hid_detail;
struct hid_detail_deleter {
    void operator()(hid_detail* detail) const noexcept;
};
using hid_detail_ptr = std::unique_ptr<hid_detail, hid_detail_deleter>;

// Starts an enumeration. When the platform cannot list the interfaces, the
// enumeration is simply empty.
void hid_enum_begin();

// The next interface, or nullptr past the end. The pointer stays valid until
// the next call.
const hid_interface* hid_enum_next();

// The interface's details, or nullptr when they cannot be had (the interface
// is then skipped).
hid_detail_ptr hid_interface_detail(const hid_interface* iface);

// The vendor and product IDs of an interface as the platform tells them
// without opening it. Returns false where it cannot.
bool hid_interface_ids(const hid_interface* iface, std::uint16_t* vendor, std::uint16_t* product);

// The device path inside a detail, NUL terminated.
const char* hid_detail_path(const hid_detail* detail);

void hid_enum_end();
