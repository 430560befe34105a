// Reading codes and numbers from text without undefined behaviour, the way
// the C library reads them but without its overflows.
#pragma once

#include <cstdint>
#include <string_view>

// Reads the leading decimal integer the way atoi() does (leading white space,
// optional sign, digits up to the first other character; no digits gives 0).
// Returns false when the number does not fit an int; `value` is then clamped.
bool read_leading_int(const char* text, int* value);

// Reads a command code the way sscanf("%x") does (leading white space,
// optional sign, optional 0x, hex digits up to the first other character),
// but accepts it only if exactly that value fits 16 bits: nothing wraps or
// truncates. Returns false for anything else.
bool read_command_code(const char* text, std::uint16_t* code);

// Reads a command code that is the whole text: hex digits, after an optional
// 0x, with nothing before or after them (no white space, no sign, no NUL),
// whose value fits 16 bits. Stricter than read_command_code, for a front end
// whose text is a message rather than a command line. Returns false for
// anything else, leaving `code` untouched.
bool read_whole_command_code(std::string_view text, std::uint16_t* code);

// The longest wait a command line may ask for, in milliseconds.
constexpr int max_milliseconds = 60000;

// Reads a wait in milliseconds: the whole text must be decimal digits (no
// sign, no white space, nothing after them) with a value from 0 to
// max_milliseconds. Returns false for anything else, leaving `ms` untouched.
bool read_milliseconds(const char* text, int* ms);
