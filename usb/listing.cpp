// The list of controllers present, with what each says about itself.
#include <array>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>

#include "hid_io.h"
#include "hid_walk.h"
#include "print_line.h"
#include "tavo_usb.h"

namespace {

// A USB string descriptor holds at most 126 UTF-16 units.
constexpr std::size_t string_units = 256;

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0U | (cp >> 6U));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0U | (cp >> 12U));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
        out += static_cast<char>(0xF0U | (cp >> 18U));
        out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    }
}

bool is_high_surrogate(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// UTF-16 up to its terminator (or the end of the buffer) as UTF-8; a lone
// surrogate becomes U+FFFD.
std::string to_utf8(std::span<const std::uint16_t> units) {
    std::string out;
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const std::uint16_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            const char32_t high = unit & 0x3FFU;  // the surrogates' payloads, 10 bits each
            const char32_t low = units[i + 1] & 0x3FFU;
            append_utf8(out, 0x10000U + (high << 10U) + low);
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

template <typename Query>
std::string device_string(Query&& query, hid_channel channel) {
    std::array<std::uint16_t, string_units> units{};
    if (!query(channel, std::span<std::uint16_t>(units))) {
        return {};
    }
    return to_utf8(units);
}

}  // namespace

int tavo_usb_listdevices(const tavo_usb_handle* handle, tavo_usb_device_list* list) {
    int matches = 0;
    bool out_of_memory = false;
    const hid_walk_failures failures = hid_walk(
        handle->debug, [&] { return out_of_memory; },
        [&](const char* path, hid_channel query, std::uint16_t vendor, std::uint16_t product) {
            if (!is_tavo_controller(vendor, product)) {
                return hid_channel_fate::close;
            }
            if (handle->debug != 0) {
                print_line("Found tavo control num %d\n", matches);
            }
            try {
                tavo_usb_device device{matches++, path, {}, {}, {}, {}};
                if (!hid_get_port(query, &device.port)) {
                    device.port.clear();
                }
                device.manufacturer = device_string(hid_get_manufacturer, query);
                device.product = device_string(hid_get_product, query);
                device.serial = device_string(hid_get_serial, query);
                list->devices.push_back(std::move(device));
            } catch (const std::bad_alloc&) {
                out_of_memory = true;
            }
            return hid_channel_fate::close;
        });
    if (out_of_memory) {
        std::fprintf(stderr, "tavo_usb_listdevices: out of memory\n");
        return -1;
    }
    list->denied = failures.denied;
    return 0;
}
