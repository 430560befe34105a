// The list of controllers present, with what each says about itself.
#include <array>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>

#include "device_text.h"
#include "hid_io.h"
#include "hid_walk.h"
#include "print_line.h"
#include "tavo_usb.h"

namespace {

// A USB string descriptor holds at most 126 UTF-16 units.
constexpr std::size_t string_units = 256;

template <typename Query>
std::string device_string(Query&& query, hid_channel channel) {
    std::array<std::uint16_t, string_units> units{};
    if (!query(channel, std::span<std::uint16_t>(units))) {
        return {};
    }
    // A control character inside a field would split its line, or worse:
    // it becomes a space, as a tab always has.
    return device_text(units, ' ');
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
        print_error("tavo_usb_listdevices: out of memory\n");
        return -1;
    }
    list->denied = failures.denied;
    return 0;
}
