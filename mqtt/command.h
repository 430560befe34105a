// What a command message asks for, read without trusting any of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "topics.h"

// Longer payloads are refused unread: no channel or code needs more.
inline constexpr std::size_t payload_bound = 64;

struct command_request {
    command_kind kind = command_kind::key;
    std::string text;        // the payload, once it is known to be UTF-8, less its line end
    std::uint16_t code = 0;  // a key's code
};

// Reads `payload` for a command of `kind` to an output whose box is Tavo+
// when `plus` is nonzero. The command is the whole payload, less one line
// end (\n or \r\n): a key's name in any letter case, a digit, or a code
// that is the whole text; a channel's digits; for the setup, any text. An
// empty payload is no command. Returns 0, or -1 with `error` saying why, as
// tavoctl says it where tavoctl would refuse the same text.
int read_command(command_kind kind, std::string_view payload, int plus, command_request* request,
                 std::string* error);
