#include "windows_console.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "windows_text.h"

namespace {

// The console of `stream`, or nullptr when it has none.
HANDLE console_of(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) {
        return nullptr;
    }
    const std::intptr_t os_handle = _get_osfhandle(fd);
    if (os_handle == -1) {
        return nullptr;
    }
    // The C runtime keeps the handle as an integer.
    HANDLE handle = reinterpret_cast<HANDLE>(os_handle);  // NOLINT(performance-no-int-to-ptr)
    DWORD mode = 0;
    // Only a console has a console mode.
    return GetConsoleMode(handle, &mode) != FALSE ? handle : nullptr;
}

// What the console is to show: the text in UTF-16, each "\n" as "\r\n" as
// the C runtime writes it to every stream in text mode.
std::wstring console_text(std::string_view text) {
    std::optional<std::wstring> wide = wide_from_utf8(text);
    if (!wide) {
        wide = wide_from_ansi(text);
    }
    std::wstring shown;
    shown.reserve(wide->size() + static_cast<std::size_t>(std::count(wide->begin(), wide->end(), L'\n')));
    for (const wchar_t c : *wide) {
        if (c == L'\n') {
            shown += L'\r';
        }
        shown += c;
    }
    return shown;
}

// Hands `text` to the console in as few calls as it takes them.
template <typename Char, typename Write>
console_write write_all(HANDLE console, std::basic_string_view<Char> text, Write write) {
    while (!text.empty()) {
        const DWORD units = static_cast<DWORD>(std::min<std::size_t>(text.size(), MAXDWORD));
        DWORD taken = 0;
        if (write(console, text.data(), units, &taken, nullptr) == FALSE || taken == 0) {
            return console_write::failed;
        }
        text.remove_prefix(std::min<std::size_t>(taken, text.size()));
    }
    return console_write::written;
}

}  // namespace

console_write write_to_console(std::FILE* stream, std::string_view text) noexcept {
    HANDLE console = console_of(stream);
    if (console == nullptr) {
        return console_write::not_a_console;
    }
    std::wstring shown;
    try {
        shown = console_text(text);
    } catch (const std::bad_alloc&) {
        // No memory for the wide text, when a line saying so matters most:
        // the bytes go as they are, read in the console's code page. The
        // lines printed for want of memory are ASCII, which reads right in
        // every one.
        return write_all(console, text, WriteConsoleA);
    }
    if (shown.empty() && !text.empty()) {
        return console_write::failed;
    }
    return write_all(console, std::wstring_view(shown), WriteConsoleW);
}
