// The lines the controller library prints for a command, collected instead
// of printed: the command's result carries them, as tavoctl would have shown
// them on its terminal.
#pragma once

#include <string>

#include "tavo_usb.h"

// What the library said during one caller's calls, in order, both streams
// alike (the service's handles trace nothing, so it is all failures).
struct library_lines {
    std::string text;
};

// A handle whose lines go to `lines`, or nullptr when memory is exhausted.
tavo_usb_handle* library_create(library_lines* lines);
