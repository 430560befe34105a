#pragma once

#include "tavo_usb.h"

// The setup record compiled into the tool.
inline constexpr tavo_usb_config compiled_setup = {
    .param1 = 150,
    .param2 = 150,
    .param3 = 5,
    .param4 = 220,
    .param5 = 10,
    .param6 = 139,
    .param7 = 1,
    .param8 = 75,
};

// Uploads the compiled-in setup to an output. Returns only on success: a
// failure ends the process with status 1.
void send_setup(const tavo_usb_handle* handle, int output);
