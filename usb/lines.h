// Lines for the user, each handed to its sink in one piece: two runs
// sharing one log must not interleave within a line.
#pragma once

#include <cstdarg>

#include "tavo_usb.h"

#ifdef __MINGW_PRINTF_FORMAT
#define TAVO_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TAVO_PRINTF_FORMAT printf
#endif

// Formats one line (format ends in "\n") and hands it to `lines` in one
// call. Never throws: a line that cannot be formatted for want of memory is
// formatted on the stack instead (cut short, but still a line, if it is very
// long). Returns what the sink returns; errno is left as it was.
bool write_line(tavo_usb_lines lines, tavo_usb_stream stream, const char* format, ...) noexcept
    __attribute__((format(TAVO_PRINTF_FORMAT, 3, 4)));
bool write_line_v(tavo_usb_lines lines, tavo_usb_stream stream, const char* format,
                  std::va_list args) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 3, 0)));

// Hands `text` (whole lines) to `lines` as it is. errno is left as it was.
bool write_text(tavo_usb_lines lines, tavo_usb_stream stream, std::string_view text) noexcept;

// A line of the library's, to the sink of the handle it works for: traces
// (and the command's write failure) to `out`, everything else to `err`.
void handle_out(const tavo_usb_handle* handle, const char* format, ...) noexcept
    __attribute__((format(TAVO_PRINTF_FORMAT, 2, 3)));
void handle_err(const tavo_usb_handle* handle, const char* format, ...) noexcept
    __attribute__((format(TAVO_PRINTF_FORMAT, 2, 3)));
