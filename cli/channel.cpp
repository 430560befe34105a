#include "channel.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "print_line.h"
#include "send_code.h"

namespace {

constexpr std::uint16_t plain_base = 0x0000;
constexpr std::uint16_t plus_base = 0x0C00;  // the Tavo+ box's code set
constexpr std::uint16_t key_tavo = 0x80;
constexpr std::uint16_t key_backup = 0x83;

// The box needs this long after the last digit before it takes 'Backup'.
constexpr int backup_pause_ms = 2000;

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sleeps until the whole pause has passed on the steady clock: a platform
// sleep may wake a timer tick early, and a short pause makes the box miss
// 'Backup'.
void pause_at_least(std::chrono::milliseconds pause) {
    const auto deadline = std::chrono::steady_clock::now() + pause;
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(deadline - now);
    }
}

}  // namespace

void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text) {
    const std::uint16_t base = plus != 0 ? plus_base : plain_base;
    const std::string_view text = channel_text;

    if (debug_flag != 0) {
        print_line("sending channel '%s'\n", channel_text);
    }
    if (!all_digits(text)) {
        print_error("Invalid channel number '%s'\n", channel_text);
        std::exit(1);
    }

    send_code(handle, output, static_cast<std::uint16_t>(base + key_tavo));
    for (const char digit : text) {
        send_code(handle, output, static_cast<std::uint16_t>(base + (digit - '0')));
    }
    if (debug_flag != 0) {
        print_line("Waiting %d ms...\n", backup_pause_ms);
    }
    pause_at_least(std::chrono::milliseconds(backup_pause_ms));
    send_code(handle, output, static_cast<std::uint16_t>(base + key_backup));
}
