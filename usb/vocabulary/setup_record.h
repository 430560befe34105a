#pragma once

#include "tavo_usb.h"

// The setup record every upload sends: the values the controller's outputs
// are set up with.
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
