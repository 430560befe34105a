// The debug-only manufacturer line.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "device_text.h"
#include "lines.h"
#include "out_of_memory.h"
#include "platform.h"
#include "tavo_usb.h"

namespace {

constexpr std::size_t manufacturer_units = 512;  // 1024 bytes of UTF-16

void print_manufacturer(const tavo_usb_handle* handle) {
    std::array<std::uint16_t, manufacturer_units> wide{};
    if (!hid_get_manufacturer(handle->query_handle, wide)) {
        handle_out(handle, "- Unable to fetch manufacturer string\n");
        return;
    }
    // UTF-8, as --list shows the same string: a name in Czech or Polish stays
    // readable instead of turning into control bytes. A string that fills the
    // whole buffer has no terminator; its last unit gives way, as it always has.
    const std::string name = device_text(std::span(wide).first(manufacturer_units - 1), '?', handle->charset);
    handle_out(handle, "- Manufacturer : %s\n", name.c_str());
}

}  // namespace

void tavo_usb_printmanufacturer(const tavo_usb_handle* handle) {
    catch_out_of_memory(handle, "tavo_usb_printmanufacturer", [&] { print_manufacturer(handle); });
}
