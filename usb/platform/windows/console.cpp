// Text for the user on Windows. A console reads the bytes written to it in
// its own code page (the OEM one, 852 on a Czech system), in which UTF-8 is
// garbage; its wide API takes UTF-16 and shows every character as it is.
// Pipes and files are no console: they get the bytes unchanged.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"
#include "text.h"

namespace {

enum class console_write {
    not_a_console,  // `stream` goes elsewhere: nothing was written
    written,
    failed,
};

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

// Writes `text` (whole lines, "\n" ending each) to `stream` if it is a
// console, in one call where the console takes it all at once. The text is
// UTF-8; text that is not (the command line's words come in the ANSI code
// page) is read in the ANSI code page. Memory running out on the way does
// not keep the line from the console.
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

}  // namespace

// One call of the runtime's lowest write per text. msvcrt gives an
// unbuffered stream a 2-byte buffer, so even fwrite may split a line there;
// _write() converts the line ends and hands the text on whole.
bool platform_write_text(std::FILE* stream, std::string_view text) {
    switch (write_to_console(stream, text)) {
        case console_write::written:
            return true;  // shown in UTF-16; everything else gets the UTF-8 bytes
        case console_write::failed:
            errno = EIO;
            return false;
        case console_write::not_a_console:
            break;
    }
    if (text.size() > 0x7FFFFFFFU) {
        errno = EINVAL;
        return false;
    }
    const int written = _write(_fileno(stream), text.data(), static_cast<unsigned>(text.size()));
    if (written < 0 && (_doserrno == ERROR_NO_DATA || _doserrno == ERROR_BROKEN_PIPE)) {
        errno = EPIPE;  // a pipe with no reader, which the runtime calls an invalid argument
    }
    return written >= 0 && static_cast<std::size_t>(written) == text.size();
}

// No locale there names the console's character set: UTF-8, as ever.
text_charset platform_text_charset() {
    return text_charset::utf8;
}

// Devices are opened as handles, never as C runtime descriptors, so a
// closed standard stream cannot be handed to one.
bool platform_reserve_standard_descriptors() {
    return true;
}
