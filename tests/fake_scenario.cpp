// The scenario format that gives the fake its devices in process tests.
//
// One device per line, in enumeration order; blank lines and lines starting
// with '#' are ignored:
//
//   device VVVV:PPPP [detail=fail|oom] [open=none|rw-only] [attrs=fail]
//                    [manufacturer=refuse|fill] [write=refuse|short]
//                    [after=N] [error=N] [path=FILE] [product=WORD]
//                    [serial=WORD] [port=WORD] [release=XXXX]
//                    [name=TEXT TO END OF LINE]
//
// detail=fail: the platform does not give the device's path. detail=oom:
// listing the devices throws std::bad_alloc, as memory running out in the
// platform's list of devices would.
// open=rw-only: opens for read+write but not write-only. after=N: the first
// N writes succeed before write= applies. path=FILE: the device's path, a
// real file on which the output hold works as on a device node (without it
// the path names no file, and a run takes no hold). name= must come last.
// release=XXXX: the release number (bcdDevice) the platform tells, in hex.
// In name=, product= and serial=, \uXXXX stands for one UTF-16 unit.
//
//   hold-wait MS     how long a run waits for another's hold on its output
#include <sstream>

#include "fake_hid.h"

namespace {

bool parse_hex16(const std::string& text, std::uint16_t* value) {
    if (text.empty() || text.size() > 4) {
        return false;
    }
    unsigned v = 0;
    for (const char c : text) {
        const bool digit = (c >= '0' && c <= '9');
        const bool lower = (c >= 'a' && c <= 'f');
        const bool upper = (c >= 'A' && c <= 'F');
        if (!digit && !lower && !upper) {
            return false;
        }
        v = v * 16 + static_cast<unsigned>(digit ? c - '0' : (lower ? c - 'a' : c - 'A') + 10);
    }
    *value = static_cast<std::uint16_t>(v);
    return true;
}

bool parse_count(const std::string& text, int* value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoi(text);
    return true;
}

// Each byte as one unit, and \uXXXX as the unit it names.
std::u16string device_string(const std::string& text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint16_t unit = 0;
        if (text.compare(i, 2, "\\u") == 0 && i + 6 <= text.size() &&
            parse_hex16(text.substr(i + 2, 4), &unit)) {
            units += static_cast<char16_t>(unit);
            i += 5;
        } else {
            units += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
        }
    }
    return units;
}

bool apply(const std::string& key, const std::string& value, fake_device* d) {
    if (key == "detail") {
        d->detail_ok = value != "fail";
        d->detail_out_of_memory = value == "oom";
        return value == "fail" || value == "oom";
    }
    if (key == "open") {
        d->opens_read_write = value == "rw-only";
        d->opens_write_only = false;
        return value == "none" || value == "rw-only";
    }
    if (key == "attrs") {
        d->attributes_ok = false;
        return value == "fail";
    }
    if (key == "manufacturer") {
        if (value == "refuse") {
            d->manufacturer.reset();
            return true;
        }
        d->manufacturer_fills_buffer = true;
        return value == "fill";
    }
    if (key == "write") {
        d->write_mode = value == "refuse" ? fake_write_mode::refuse : fake_write_mode::short_write;
        return value == "refuse" || value == "short";
    }
    if (key == "product" || key == "serial") {
        (key == "product" ? d->product_name : d->serial_number) = device_string(value);
        return true;
    }
    if (key == "port") {
        d->port = value;
        return !value.empty();
    }
    if (key == "release") {
        std::uint16_t release = 0;
        if (!parse_hex16(value, &release)) {
            return false;
        }
        d->release = release;
        return true;
    }
    if (key == "after") {
        return parse_count(value, &d->writes_before_failure);
    }
    if (key == "error") {
        return parse_count(value, &d->error_code);
    }
    if (key == "path") {
        d->path = value;
        return !value.empty();
    }
    return false;
}

}  // namespace

bool fake_hid_parse_scenario(const std::string& text, std::vector<fake_device>* devices, std::string* error,
                             std::chrono::milliseconds* hold_wait) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        fake_device device;
        std::string name_text;
        const auto name_at = line.find(" name=");
        if (name_at != std::string::npos) {
            name_text = line.substr(name_at + 6);
            line.resize(name_at);
            device.manufacturer = device_string(name_text);
        }
        std::istringstream words(line);
        std::string word;
        std::string id;
        words >> word >> id;
        int wait_ms = 0;
        if (word == "hold-wait" && hold_wait != nullptr && parse_count(id, &wait_ms)) {
            *hold_wait = std::chrono::milliseconds(wait_ms);
            continue;
        }
        const auto colon = id.find(':');
        if (word != "device" || colon == std::string::npos ||
            !parse_hex16(id.substr(0, colon), &device.vendor) ||
            !parse_hex16(id.substr(colon + 1), &device.product)) {
            *error = "line " + std::to_string(number) + ": expected 'device VVVV:PPPP'";
            return false;
        }
        while (words >> word) {
            const auto eq = word.find('=');
            if (eq == std::string::npos || !apply(word.substr(0, eq), word.substr(eq + 1), &device)) {
                *error = "line " + std::to_string(number) + ": bad setting '" + word + "'";
                return false;
            }
        }
        devices->push_back(std::move(device));
    }
    return true;
}
