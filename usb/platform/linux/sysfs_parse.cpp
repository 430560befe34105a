#include "sysfs_parse.h"

#include <charconv>

namespace {

constexpr std::string_view hidraw_prefix = "hidraw";

// Decodes one UTF-8 sequence at text[pos]; returns the code point (U+FFFD for
// a malformed sequence) and advances pos.
char32_t decode_one(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0U) == 0xC0U) {
        extra = 1, cp = lead & 0x1FU, min = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
        extra = 2, cp = lead & 0x0FU, min = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
        extra = 3, cp = lead & 0x07U, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int i = 0; i < extra; ++i) {
        if (pos >= text.size() || (static_cast<unsigned char>(text[pos]) & 0xC0U) != 0x80U) {
            return 0xFFFD;
        }
        cp = (cp << 6U) | (static_cast<unsigned char>(text[pos++]) & 0x3FU);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    return cp;
}

// `text` as one hexadecimal number of 16 bits, leading zeros allowed (the
// kernel writes 4 or 8 digits). No sign, no white space, nothing after it:
// an ID that is more than that is not one we know, not one to cut down.
bool read_hex16(std::string_view text, std::uint16_t* value) {
    const char* const end = text.data() + text.size();
    std::uint16_t number = 0;
    const auto [stop, error] = std::from_chars(text.data(), end, number, 16);
    if (error != std::errc() || stop != end) {
        return false;
    }
    *value = number;
    return true;
}

// The line's BUS:VENDOR:PRODUCT, each of 16 bits.
bool read_hid_id(std::string_view ids, std::uint16_t* vendor, std::uint16_t* product) {
    const std::size_t first = ids.find(':');
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t second = ids.find(':', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    std::uint16_t bus = 0;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    if (!read_hex16(ids.substr(0, first), &bus) ||
        !read_hex16(ids.substr(first + 1, second - first - 1), &vendor_id) ||
        !read_hex16(ids.substr(second + 1), &product_id)) {
        return false;
    }
    *vendor = vendor_id;
    *product = product_id;
    return true;
}

}  // namespace

long linux_hidraw_number(std::string_view name) {
    if (name.substr(0, hidraw_prefix.size()) != hidraw_prefix || name.size() == hidraw_prefix.size() ||
        name.size() > hidraw_prefix.size() + 9) {
        return -1;
    }
    long number = 0;
    for (const char c : name.substr(hidraw_prefix.size())) {
        if (c < '0' || c > '9') {
            return -1;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

bool linux_uevent_hid_ids(std::string_view uevent, std::uint16_t* vendor, std::uint16_t* product) {
    constexpr std::string_view key = "HID_ID=";
    while (!uevent.empty()) {
        const std::size_t end = uevent.find('\n');
        const std::string_view line = uevent.substr(0, end);
        uevent = end == std::string_view::npos ? std::string_view() : uevent.substr(end + 1);
        if (line.starts_with(key) && read_hid_id(line.substr(key.size()), vendor, product)) {
            return true;
        }
    }
    return false;
}

bool linux_usb_hex16(std::string_view text, std::uint16_t* value) {
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return read_hex16(text, value);
}

std::size_t utf8_to_utf16(std::string_view text, std::span<std::uint16_t> units) {
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = decode_one(text, pos);
        if (cp >= 0x10000) {
            if (count + 2 > units.size()) {
                break;
            }
            const char32_t v = cp - 0x10000;
            units[count++] = static_cast<std::uint16_t>(0xD800 + (v >> 10U));
            units[count++] = static_cast<std::uint16_t>(0xDC00 + (v & 0x3FFU));
        } else {
            if (count + 1 > units.size()) {
                break;
            }
            units[count++] = static_cast<std::uint16_t>(cp);
        }
    }
    return count;
}

void linux_usb_string_units(std::string_view read, std::span<std::uint16_t> units) {
    if (read.ends_with('\n')) {
        read.remove_suffix(1);
    }
    const std::size_t count = utf8_to_utf16(read, units);
    if (count < units.size()) {
        units[count] = 0;
    }
}
