#include "change_channel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "send_code.h"
#include "streams.h"
#include "vocabulary/channel.h"

namespace {

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

void reject_invalid_channel(const char* channel_text) {
    if (!valid_channel_text(channel_text)) {
        trace_channel(channel_text);
        invalid_channel(channel_text);
    }
}

void change_channel(const tavo_usb_handle* handle, int output, int plus, const char* channel_text,
                    report_pacing* pacing) {
    const std::string_view text = channel_text;

    trace_channel(channel_text);
    if (!valid_channel_text(text)) {
        invalid_channel(channel_text);
    }
    // send_code returns only when the key went out.
    send_channel_keys(plus, text, pacing, [&](std::uint16_t code) {
        send_code(handle, output, code);
        return 0;
    });
}
