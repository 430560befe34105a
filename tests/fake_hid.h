// An in-memory stand-in for the HID devices of a machine: the HID part of
// usb/platform.h, linked in place of the platform's own. Each device is scripted: whether it opens, what it
// says it is, and how its writes behave.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

enum class fake_write_mode { accept, refuse, short_write };

struct fake_device {
    std::string path;
    std::uint16_t vendor = 0x6666;
    std::uint16_t product = 0xF100;
    bool detail_ok = true;              // false: the platform cannot give its path
    bool detail_out_of_memory = false;  // true: listing the devices runs out of memory
    bool opens_read_write = true;
    bool opens_write_only = true;
    bool attributes_ok = true;
    std::optional<std::u16string> manufacturer = u"Tavo";  // nullopt: the query is refused
    bool manufacturer_fills_buffer = false;                // 512 units, no terminator
    std::optional<std::u16string> product_name;            // nullopt: the query is refused
    std::optional<std::u16string> serial_number;
    std::string port;                      // empty: the platform does not tell
    std::optional<std::uint16_t> release;  // nullopt: the platform does not tell
    fake_write_mode write_mode = fake_write_mode::accept;
    int writes_before_failure = 0;  // writes accepted before write_mode applies
    int error_code = 31;            // what the platform reports for failures
};

struct fake_write {
    std::size_t device;
    std::vector<std::uint8_t> bytes;
    bool delivered;
    std::int64_t at_ns;  // steady clock
};

// Replaces the device table and forgets all writes and channels.
void fake_hid_reset(std::vector<fake_device> devices);
const std::vector<fake_write>& fake_hid_writes();
int fake_hid_open_channels();  // channels opened and not yet closed

// Every write is also appended to the file at `path` as one line. The file
// is opened at the first write, after the program's start-up has had its say
// over which descriptors are free.
void fake_hid_log_to(const char* path);

// How long a hold is waited for from now on, whatever the caller asks.
void fake_hid_set_hold_wait(std::chrono::milliseconds wait);

// Reads a device table in the scenario format (see fake_scenario.cpp).
// Returns false, with a reason in `error`, for a malformed scenario.
// A "hold-wait MS" line sets `hold_wait`.
bool fake_hid_parse_scenario(const std::string& text, std::vector<fake_device>* devices, std::string* error,
                             std::chrono::milliseconds* hold_wait = nullptr);
