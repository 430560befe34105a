// What device text must be on a terminal, checked the same way by the unit
// tests and the fuzz targets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Decodes UTF-8 strictly; false for anything that is not valid UTF-8.
bool decode_utf8(std::string_view text, std::vector<char32_t>* out);

// What device_text() makes of `units` in both character sets, against what
// it must be: valid UTF-8, no control or bidirectional control in any form,
// one character out for each character in, printable ASCII as it was, and
// in ASCII printable ASCII only. Empty when all of it holds, otherwise what
// does not.
std::string device_text_fault(std::span<const std::uint16_t> units, char replacement);
