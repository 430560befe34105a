#include "command.h"

#include "vocabulary/channel.h"
#include "vocabulary/keys.h"
#include "vocabulary/numbers.h"

namespace {

bool valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t value = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            value = lead & 0x1FU;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            value = lead & 0x0FU;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            value = lead & 0x07U;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return false;
            }
            value = (value << 6U) | (next & 0x3FU);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        const bool overlong = (extra == 2 && value < 0x800) || (extra == 3 && value < 0x10000);
        if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

int read_command(command_kind kind, std::string_view payload, int plus, command_request* request,
                 std::string* error) {
    if (payload.size() > payload_bound) {
        *error = "a payload of " + std::to_string(payload.size()) + " bytes is over the bound of " +
                 std::to_string(payload_bound) + ": nothing was sent";
        return -1;
    }
    if (!valid_utf8(payload)) {
        *error = "the payload is not valid UTF-8: nothing was sent";
        return -1;
    }
    // mosquitto_pub -l and -s, and many a script, end the text with a line end.
    if (payload.ends_with("\r\n")) {
        payload.remove_suffix(2);
    } else if (payload.ends_with('\n')) {
        payload.remove_suffix(1);
    }
    // How MQTT clients clear a retained message: never a command.
    if (payload.empty()) {
        *error = "an empty payload: nothing sent";
        return -1;
    }
    request->kind = kind;
    request->text = payload;
    request->code = 0;
    switch (kind) {
        case command_kind::setup:
            return 0;
        case command_kind::channel:
            if (!valid_channel_text(payload)) {
                *error = "Invalid channel number '" + request->text + "'";
                return -1;
            }
            return 0;
        case command_kind::key:
            break;
    }
    std::uint16_t number = 0;
    if (find_box_key(payload, &number)) {
        request->code = static_cast<std::uint16_t>(box_code_base(plus) + number);
        return 0;
    }
    if (!read_whole_command_code(payload, &request->code)) {
        *error = "Invalid command code: '" + request->text + "'";
        return -1;
    }
    return 0;
}
