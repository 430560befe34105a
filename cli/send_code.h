#pragma once

#include <cstdint>

#include "tavo_usb.h"

// Set by --debug; the front end's traces read it.
extern int debug_flag;

// "Waiting N ms..." before each wait of the run's pacing, with --debug.
void trace_wait(int ms);

// Sends one command code to an output. Returns only on success: a failure
// ends the process with status 1.
void send_code(const tavo_usb_handle* handle, int output, std::uint16_t code);
