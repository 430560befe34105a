// The 9-byte output report frames the controller takes.
#pragma once

#include <array>
#include <cstdint>

#include "tavo_usb.h"

using report_frame = std::array<std::uint8_t, 9>;

inline constexpr std::uint8_t report_filler = 0x7A;  // payload bytes a kind leaves undefined

// Byte 1 names the kind of report for output 0; any other output uses the
// next character.
inline constexpr std::uint8_t kind_command = '0';
inline constexpr std::uint8_t kind_setup_a = 's';
inline constexpr std::uint8_t kind_setup_b = 'u';

constexpr report_frame blank_report(std::uint8_t kind, int output) {
    report_frame frame{};
    frame.fill(report_filler);
    frame[0] = 0x00;  // report ID
    frame[1] = static_cast<std::uint8_t>(kind + (output != 0 ? 1 : 0));
    return frame;
}

constexpr std::uint8_t low_byte(std::int32_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFU);
}

constexpr report_frame command_report(int output, int code) {
    report_frame frame = blank_report(kind_command, output);
    frame[2] = static_cast<std::uint8_t>((static_cast<unsigned>(code) >> 8) & 0xFFU);
    frame[3] = static_cast<std::uint8_t>(static_cast<unsigned>(code) & 0xFFU);
    return frame;
}

constexpr report_frame setup_report_a(int output, const tavo_usb_config& config) {
    report_frame frame = blank_report(kind_setup_a, output);
    frame[2] = low_byte(config.param8);
    frame[3] = low_byte(config.param1);
    frame[4] = low_byte(config.param2);
    frame[5] = low_byte(config.param3);
    frame[6] = low_byte(config.param4);
    frame[7] = low_byte(config.param5);
    frame[8] = low_byte(config.param6);
    return frame;
}

constexpr report_frame setup_report_b(int output, const tavo_usb_config& config) {
    report_frame frame = blank_report(kind_setup_b, output);
    frame[2] = low_byte(config.param7);
    return frame;
}
