// Standard output's lines, each handed over in one piece.
#pragma once

#ifdef __MINGW_PRINTF_FORMAT
#define TAVO_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TAVO_PRINTF_FORMAT printf
#endif

// Prints one line (format ends in "\n") on standard output with a single
// write: MinGW's printf gives an unbuffered stream one character at a time,
// which another program reading the same pipe would see torn.
void print_line(const char* format, ...) __attribute__((format(TAVO_PRINTF_FORMAT, 1, 2)));
