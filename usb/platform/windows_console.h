// Lines for a Windows console. A console reads the bytes written to it in
// its own code page (the OEM one, 852 on a Czech system), in which UTF-8 is
// garbage; its wide API takes UTF-16 and shows every character as it is.
// Pipes and files are no console: they get the bytes unchanged.
#pragma once

#include <cstdio>
#include <string_view>

enum class console_write {
    not_a_console,  // `stream` goes elsewhere: nothing was written
    written,
    failed,
};

// Writes `text` (whole lines, "\n" ending each) to `stream` if it is a
// console, in one call where the console takes it all at once. The text is
// UTF-8; text that is not (the command line's words come in the ANSI code
// page) is read in the ANSI code page. Memory running out on the way does
// not keep the line from the console.
console_write write_to_console(std::FILE* stream, std::string_view text) noexcept;
