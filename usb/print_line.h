// The program's lines, each handed over in one piece.
#pragma once

#include <cstdio>
#include <string_view>

#ifdef __MINGW_PRINTF_FORMAT
#define TAVO_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TAVO_PRINTF_FORMAT printf
#endif

// Prints one line (format ends in "\n") on standard output with a single
// write: MinGW's printf gives an unbuffered stream one character at a time,
// which another program reading the same pipe would see torn.
//
// None of these throws: a line that cannot be formatted for want of memory
// is formatted on the stack instead (cut short, but still a line, if it is
// very long). A write that fails is not retried; see stdout_write_error().
void print_line(const char* format, ...) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));

// The same for standard error, where two runs sharing one log would otherwise
// interleave their errors character by character.
void print_error(const char* format, ...) noexcept __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));

// What perror(what) prints, in one write.
void print_errno(const char* what) noexcept;

// Hands `text` (whole lines) to `stream` in one write. Returns whether all
// of it was written. errno is left as it was.
bool write_lines(std::FILE* stream, std::string_view text);

// The errno of the first write to standard output that failed, or 0 while
// every one has succeeded. Output that went nowhere must not pass for done.
int stdout_write_error();

// Where write_lines() puts its text: the platform's write, unless a test
// counts the writes. A writer returns whether all of the text was written,
// with errno set when not. Returns the writer it replaces.
using line_writer = bool (*)(std::FILE* stream, std::string_view text);
line_writer set_line_writer(line_writer writer);
