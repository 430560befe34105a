#pragma once

#include <cstdint>
#include <string_view>

#include "pacing.h"
#include "tavo_usb.h"

// The code sets of the two box types: `plus` nonzero for a Tavo+ box.
constexpr std::uint16_t box_code_base(int plus) {
    return plus != 0 ? 0x0C00 : 0x0000;
}
constexpr std::uint16_t tavo_key_code(int plus) {
    return static_cast<std::uint16_t>(box_code_base(plus) + 0x80);
}
constexpr std::uint16_t backup_key_code(int plus) {
    return static_cast<std::uint16_t>(box_code_base(plus) + 0x83);
}
// `digit` is '0' to '9'.
constexpr std::uint16_t digit_key_code(int plus, char digit) {
    return static_cast<std::uint16_t>(box_code_base(plus) + (digit - '0'));
}

// Whether `channel_text` names a channel: decimal digits only (none at all
// is a channel too: 'Tavo', the pause, 'Backup').
bool valid_channel_text(std::string_view channel_text);

// The channel-change sequence for a valid `digits`, through `send(code)`,
// which returns 0 or -1: the 'Tavo' key, one digit key per character, a
// pause, then 'Backup', with `pacing`'s gap before each key but 'Backup'.
// Stops at the first key that fails; returns 0 once all were sent.
template <typename Send>
int send_channel_keys(int plus, std::string_view digits, report_pacing* pacing, Send&& send) {
    wait_gap(pacing);
    if (send(tavo_key_code(plus)) != 0) {
        return -1;
    }
    for (const char digit : digits) {
        wait_gap(pacing);
        if (send(digit_key_code(plus, digit)) != 0) {
            return -1;
        }
    }
    wait_pause(pacing);
    return send(backup_key_code(plus));
}

// Ends the process, as change_channel would, when `channel_text` names no
// channel; returns otherwise.
void reject_invalid_channel(const char* channel_text);

// Sends the whole channel-change sequence for `channel_text` (see
// send_channel_keys). Returns only when all of it was sent; an invalid text
// or a failed send ends the process.
void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text,
                    report_pacing* pacing);
