// Everything the driver says goes to lircd's log, as an error: lircd's
// standard streams are not ours to write, and may be closed.
#pragma once

#include "lines.h"

// The sink the driver gives each controller handle. (The driver creates its
// handles without debug traces, so all that a handle says is a failure.)
tavo_usb_lines lircd_log();

// One line of the driver's own (format ends in "\n").
void driver_error(const char* format, ...) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));
