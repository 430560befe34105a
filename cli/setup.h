#pragma once

#include "tavo_usb.h"

// Uploads the compiled-in setup to an output. Returns only on success: a
// failure ends the process with status 1.
void send_setup(const tavo_usb_handle* handle, int output);
