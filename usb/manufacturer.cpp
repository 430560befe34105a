// The debug-only manufacturer line.
#include <array>
#include <cstdint>
#include <cstdio>

#include "hid_io.h"
#include "print_line.h"
#include "tavo_usb.h"

namespace {

constexpr std::size_t manufacturer_units = 512;  // 1024 bytes of UTF-16

}  // namespace

void tavo_usb_printmanufacturer(const tavo_usb_handle* handle) {
    std::array<std::uint16_t, manufacturer_units> wide{};
    if (!hid_get_manufacturer(handle->query_handle, wide)) {
        print_line("- Unable to fetch manufacturer string\n");
        return;
    }
    // Keep the low byte of each unit. A string that fills the whole wide
    // buffer has no terminator; its last unit gives way to the narrow one.
    std::array<char, manufacturer_units> narrow{};
    std::size_t length = 0;
    while (length + 1 < narrow.size() && wide[length] != 0) {
        narrow[length] = static_cast<char>(wide[length] & 0xFFU);
        ++length;
    }
    narrow[length] = '\0';
    print_line("- Manufacturer : %s\n", narrow.data());
}
