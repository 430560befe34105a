// Every call the service makes into the controller library, with the lines
// the library prints collected per caller instead of printed: a command's
// result carries them, as tavoctl would have shown them on its terminal.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "tavo_usb.h"

// What the library said during one caller's calls, in order, both streams
// alike (the service's handles trace nothing, so it is all failures).
struct library_lines {
    std::string text;
};

// Once, before any thread calls the library.
void library_lines_start();

// A handle whose lines go to `lines`, or nullptr when memory is exhausted.
tavo_usb_handle* library_create(library_lines* lines);

// Runs `call`, which calls the library with a handle of `lines`' (or with
// none), and returns what it returns.
int library_call(library_lines* lines, const std::function<int()>& call);

// tavo_usb_holdoutput, which may wait for other runs as long as `wait`
// without keeping anyone else from the library.
int library_hold(library_lines* lines, const tavo_usb_handle* handle, int output,
                 std::chrono::milliseconds wait);
