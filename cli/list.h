#pragma once

#include "tavo_usb.h"

// Prints one line per controller present for --list (see list.cpp). Returns
// only on success: a failure ends the process with status 1.
void list_controllers(const tavo_usb_handle* handle);
