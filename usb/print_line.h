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
void print_line(const char* format, ...) __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));

// The same for standard error, where two runs sharing one log would otherwise
// interleave their errors character by character.
void print_error(const char* format, ...) __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));

// What perror(what) prints, in one write.
void print_errno(const char* what);

// Hands `text` (whole lines) to `stream` in one write.
void write_lines(std::FILE* stream, std::string_view text);

// Where write_lines() puts its text: the platform's write, unless a test
// counts the writes. Returns the writer it replaces.
using line_writer = void (*)(std::FILE* stream, std::string_view text);
line_writer set_line_writer(line_writer writer);
