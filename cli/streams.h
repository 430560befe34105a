// tavoctl's standard output and error: its own lines, and the lines of its
// controller handle, each handed over in one write.
#pragma once

#include <string_view>

#include "lines.h"

// Sets up standard output and standard error before anything is printed,
// and the one line that ends a run whose standard output could not be
// written, however the run ends.
void set_up_streams();

// The status for a run that would end with `status`: 1 once a write to
// standard output has failed, since output that went nowhere is not done.
int run_status(int status);

// Where tavoctl's lines go, the handle's included: standard output and
// error, each failure on standard output remembered for run_status().
tavo_usb_lines standard_streams();

// One line (format ends in "\n") on standard output or error, in one write:
// MinGW's printf gives an unbuffered stream one character at a time, which
// another program reading the same pipe would see torn. None of these throws
// (see write_line). A write that fails is not retried.
void print_line(const char* format, ...) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));
void print_error(const char* format, ...) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));

// What perror(what) prints, in one write.
void print_errno(const char* what) noexcept;

// Hands `text` (whole lines) to `stream` in one write.
void print_text(tavo_usb_stream stream, std::string_view text);
