// Reading codes and numbers from text without undefined behaviour, the way
// the C library reads them but without its overflows.
#pragma once

#include <cstdint>

// Reads the leading decimal integer the way atoi() does (leading white space,
// optional sign, digits up to the first other character; no digits gives 0).
// Returns false when the number does not fit an int; `value` is then clamped.
bool read_leading_int(const char* text, int* value);

// Reads a command code the way sscanf("%x") does (leading white space,
// optional sign, optional 0x, hex digits up to the first other character),
// but accepts it only if exactly that value fits 16 bits: nothing wraps or
// truncates. Returns false for anything else.
bool read_command_code(const char* text, std::uint16_t* code);

// The longest wait a command line may ask for, in milliseconds.
constexpr int max_milliseconds = 60000;

// Reads a wait in milliseconds: the whole text must be decimal digits (no
// sign, no white space, nothing after them) with a value from 0 to
// max_milliseconds. Returns false for anything else, leaving `ms` untouched.
bool read_milliseconds(const char* text, int* ms);
