// Whatever UTF-16 a device sends as its strings, what is printed of it in
// either character set (see device_text_fault).
#include <span>
#include <vector>

#include "../text_check.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::vector<std::uint16_t> units(size / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] =
            static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8U));  // little-endian, as USB
    }
    for (const char replacement : {'?', ' '}) {
        const std::string fault = device_text_fault(units, replacement);
        require(fault.empty(), fault.c_str());
    }
    return 0;
}
