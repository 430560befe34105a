// Text between the program, which keeps every text in UTF-8, and Windows,
// whose own texts are UTF-16 (or, through its "A" calls, in a code page
// that changes from machine to machine).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// `text` in UTF-16, or nullopt when it is no valid UTF-8 (or too long).
std::optional<std::wstring> wide_from_utf8(std::string_view text);

// `text` in UTF-16, read in the ANSI code page, as the C runtime hands out
// the command line's arguments.
std::wstring wide_from_ansi(std::string_view text);

// `text` in UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8_from_wide(std::wstring_view text);

// The system's description of an error code, in UTF-8, with the code after
// it: "Access is denied (5)".
std::string windows_error_text(DWORD error);
