// How a box is told to change channel: the 'Tavo' key, the channel's digits,
// a pause, then 'Backup'.
#pragma once

#include <string_view>

#include "vocabulary/keys.h"
#include "vocabulary/pacing.h"

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
