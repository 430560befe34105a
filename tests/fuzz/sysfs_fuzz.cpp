// The Linux backend's readers of sysfs on any bytes: a hidraw name, a HID
// device's uevent, a USB string attribute (whose first byte here also sets
// the size of the buffer it is read into).
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../usb/platform/linux/sysfs_parse.h"
#include "../text_check.h"
#include "fuzz_check.h"

namespace {

bool is_high(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool all_of(std::string_view text, std::string_view set) {
    return text.find_first_not_of(set) == std::string_view::npos;
}

void check_hidraw_number(std::string_view name) {
    const std::string_view digits = name.substr(std::min<std::size_t>(6, name.size()));
    long expected = -1;
    if (name.starts_with("hidraw") && !digits.empty() && digits.size() <= 9 && all_of(digits, "0123456789")) {
        expected = std::strtol(std::string(digits).c_str(), nullptr, 10);
    }
    require(linux_hidraw_number(name) == expected, "a hidraw number is the name's up to 9 digits");
}

struct hid_ids {
    bool found = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const hid_ids&) const = default;
};

// What the uevent tells, read another way: line by line, the first
// HID_ID= line of three hexadecimal numbers that strtoul reads within 16 bits.
hid_ids reference_ids(std::string_view uevent) {
    for (std::size_t start = 0; start < uevent.size();) {
        const std::size_t end = std::min(uevent.find('\n', start), uevent.size());
        const std::string line(uevent.substr(start, end - start));
        start = end + 1;
        if (!line.starts_with("HID_ID=") || !all_of(line.substr(7), "0123456789abcdefABCDEF:")) {
            continue;
        }
        // Hexadecimal digits and colons only: strtoul reads them as they stand.
        unsigned long ids[3] = {};
        const char* field = line.c_str() + 7;
        bool fit = true;
        for (std::size_t i = 0; i < 3 && fit; ++i) {
            char* stop = nullptr;
            errno = 0;
            ids[i] = std::strtoul(field, &stop, 16);
            fit = stop != field && errno != ERANGE && ids[i] <= 0xFFFF && *stop == (i < 2 ? ':' : '\0');
            field = stop + 1;
        }
        if (fit) {
            return {true, static_cast<std::uint16_t>(ids[1]), static_cast<std::uint16_t>(ids[2])};
        }
    }
    return {};
}

void check_uevent(std::string_view uevent) {
    hid_ids read;
    read.found = linux_uevent_hid_ids(uevent, &read.vendor, &read.product);
    require(read == reference_ids(uevent), "the IDs are those of the first whole HID_ID line");
}

std::vector<std::uint16_t> utf16_of(const std::vector<char32_t>& characters) {
    std::vector<std::uint16_t> units;
    for (const char32_t cp : characters) {
        if (cp < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(cp));
        } else {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10U)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FFU)));
        }
    }
    return units;
}

void check_usb_string(std::string_view attribute, std::size_t size) {
    std::string_view text = attribute;
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    // All the attribute makes, with room for all of it: no byte makes two units
    // but of a 4-byte sequence.
    std::vector<std::uint16_t> all(text.size());
    all.resize(utf8_to_utf16(text, all));
    std::vector<char32_t> characters;
    if (decode_utf8(text, &characters)) {
        require(all == utf16_of(characters), "valid UTF-8 becomes its own characters");
    } else {
        require(std::find(all.begin(), all.end(), 0xFFFD) != all.end(), "invalid UTF-8 shows as U+FFFD");
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        const bool paired = is_high(all[i]) ? i + 1 < all.size() && is_low(all[i + 1])
                                            : !is_low(all[i]) || (i > 0 && is_high(all[i - 1]));
        require(paired, "surrogates come in pairs");
    }

    // A buffer of exactly `size` units, so that AddressSanitizer sees a unit
    // written past it; the bytes as they are read, and all of them.
    constexpr std::uint16_t untouched = 0x5A5A;
    std::vector<std::uint16_t> units(size, untouched);
    linux_usb_string_units(attribute.substr(0, linux_usb_string_read_size(size)), units);
    std::vector<std::uint16_t> from_all(size, untouched);
    linux_usb_string_units(attribute, from_all);
    require(units == from_all, "what follows the bytes read cannot reach the buffer");

    std::size_t fits = std::min(size, all.size());
    if (fits < all.size() && fits > 0 && is_high(all[fits - 1])) {
        --fits;  // never half of a pair
    }
    require(std::equal(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(fits), units.begin()),
            "the buffer holds as much as fits");
    require(fits == size || units[fits] == 0, "the text is terminated when it fits");
    require(std::all_of(units.begin() + static_cast<std::ptrdiff_t>(std::min(fits + 1, size)), units.end(),
                        [](std::uint16_t unit) { return unit == untouched; }),
            "nothing is written past the terminator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = input_bytes(data, size);
    check_hidraw_number(bytes);
    check_uevent(bytes);
    check_usb_string(bytes, size > 0 ? data[0] : 0);
    return 0;
}
