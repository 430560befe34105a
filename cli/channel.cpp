#include "channel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "send_code.h"
#include "streams.h"

namespace {

constexpr std::uint16_t plain_base = 0x0000;
constexpr std::uint16_t plus_base = 0x0C00;  // the Tavo+ box's code set
constexpr std::uint16_t key_tavo = 0x80;
constexpr std::uint16_t key_backup = 0x83;

void trace_channel(const char* channel_text) {
    if (debug_flag != 0) {
        print_line("sending channel '%s'\n", channel_text);
    }
}

[[noreturn]] void invalid_channel(const char* channel_text) {
    print_error("Invalid channel number '%s'\n", channel_text);
    std::exit(1);
}

}  // namespace

bool valid_channel_text(std::string_view channel_text) {
    return std::all_of(channel_text.begin(), channel_text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void reject_invalid_channel(const char* channel_text) {
    if (!valid_channel_text(channel_text)) {
        trace_channel(channel_text);
        invalid_channel(channel_text);
    }
}

void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text,
                    report_pacing* pacing) {
    const std::uint16_t base = plus != 0 ? plus_base : plain_base;
    const std::string_view text = channel_text;

    trace_channel(channel_text);
    if (!valid_channel_text(text)) {
        invalid_channel(channel_text);
    }

    wait_gap(pacing);
    send_code(handle, output, static_cast<std::uint16_t>(base + key_tavo));
    for (const char digit : text) {
        wait_gap(pacing);
        send_code(handle, output, static_cast<std::uint16_t>(base + (digit - '0')));
    }
    wait_pause(pacing);
    send_code(handle, output, static_cast<std::uint16_t>(base + key_backup));
}
