// The list of controllers present, with what each says about itself.
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>

#include "device_text.h"
#include "hid_walk.h"
#include "lines.h"
#include "out_of_memory.h"
#include "platform.h"
#include "tavo_usb.h"

namespace {

// A USB string descriptor holds at most 126 UTF-16 units.
constexpr std::size_t string_units = 256;

template <typename Query>
std::string device_string(Query&& query, hid_channel channel, text_charset charset) {
    std::array<std::uint16_t, string_units> units{};
    if (!query(channel, std::span<std::uint16_t>(units))) {
        return {};
    }
    // A control character inside a field would split its line, or worse:
    // it becomes a space, as a tab always has.
    return device_text(units, ' ', charset);
}

int list_devices(const tavo_usb_handle* handle, tavo_usb_device_list* list) {
    int matches = 0;
    const hid_walk_failures failures = hid_walk(
        handle, [] { return false; },
        [&](const char* path, const scoped_hid_channel& query, std::uint16_t vendor, std::uint16_t product) {
            if (!is_tavo_controller(vendor, product)) {
                return;
            }
            if (handle->debug != 0) {
                handle_out(handle, "Found tavo control num %d\n", matches);
            }
            tavo_usb_device device{matches++, path, {}, {}, {}, {}, -1};
            if (!hid_get_port(query.channel, &device.port)) {
                device.port.clear();
            }
            device.manufacturer = device_string(hid_get_manufacturer, query.channel, handle->charset);
            device.product = device_string(hid_get_product, query.channel, handle->charset);
            device.serial = device_string(hid_get_serial, query.channel, handle->charset);
            std::uint16_t release = 0;
            if (hid_get_release(query.channel, &release)) {
                device.release = release;
            }
            list->devices.push_back(std::move(device));
        });
    list->denied = failures.denied;
    return 0;
}

}  // namespace

int tavo_usb_listdevices(const tavo_usb_handle* handle, tavo_usb_device_list* list) {
    return catch_out_of_memory(handle, "tavo_usb_listdevices", [&] { return list_devices(handle, list); });
}
