#pragma once

#include <string_view>

#include "pacing.h"
#include "tavo_usb.h"

// Whether `channel_text` names a channel: decimal digits only (none at all
// is a channel too: 'Tavo', the pause, 'Backup').
bool valid_channel_text(std::string_view channel_text);

// Ends the process, as change_channel would, when `channel_text` names no
// channel; returns otherwise.
void reject_invalid_channel(const char* channel_text);

// Sends the whole channel-change sequence for `channel_text`: the 'Tavo' key,
// one digit key per character, a pause, then 'Backup', with `pacing`'s gap
// before each key but 'Backup'. Returns only when all of it was sent; an
// invalid text or a failed send ends the process.
void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text,
                    report_pacing* pacing);
