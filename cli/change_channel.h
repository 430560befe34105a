// tavoctl's --channel: the library's channel sequence, each key through
// send_code, and an invalid channel the end of the run.
#pragma once

#include "tavo_usb.h"
#include "vocabulary/pacing.h"

// Ends the process, as change_channel would, when `channel_text` names no
// channel; returns otherwise.
void reject_invalid_channel(const char* channel_text);

// Sends the whole channel-change sequence for `channel_text` (see
// send_channel_keys). Returns only when all of it was sent; an invalid text
// or a failed send ends the process.
void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text,
                    report_pacing* pacing);
