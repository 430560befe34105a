#include "print_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/windows_console.h"
#endif

namespace {

// One call of the runtime's lowest write per text. msvcrt gives an
// unbuffered stream a 2-byte buffer, so even fwrite may split a line there;
// _write() converts the line ends and hands the text on whole.
bool platform_write(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
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
#else
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
#endif
}

line_writer current_writer = platform_write;
int first_stdout_error = 0;

// Room for any line the program prints, its device strings included, when
// there is no memory to format it in; a longer line is cut, not torn.
constexpr std::size_t stack_line_size = 2048;

__attribute__((format(TAVO_PRINTF_FORMAT, 1, 0))) std::string format_line(const char* format,
                                                                          std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string line;
    if (length >= 0) {
        line.assign(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(line.data(), line.size(), format, again);
        line.pop_back();
    }
    va_end(again);
    return line;
}

__attribute__((format(TAVO_PRINTF_FORMAT, 2, 0))) void write_from_stack(std::FILE* stream, const char* format,
                                                                        std::va_list args) {
    std::array<char, stack_line_size> line{};
    const int length = std::vsnprintf(line.data(), line.size(), format, args);
    if (length <= 0) {
        return;
    }
    const std::size_t size = std::min(static_cast<std::size_t>(length), line.size() - 1);
    if (size < static_cast<std::size_t>(length)) {
        line[size - 1] = '\n';  // what was cut off ended the line
    }
    write_lines(stream, std::string_view(line.data(), size));
}

// A message matters most when memory has run out: it still goes out.
__attribute__((format(TAVO_PRINTF_FORMAT, 2, 0))) void format_and_write(std::FILE* stream, const char* format,
                                                                        std::va_list args) noexcept {
    std::va_list spare;
    va_copy(spare, args);
    std::string line;
    bool in_memory = true;
    try {
        line = format_line(format, args);
    } catch (const std::bad_alloc&) {
        in_memory = false;
    }
    if (in_memory) {
        write_lines(stream, line);
    } else {
        write_from_stack(stream, format, spare);
    }
    va_end(spare);
}

}  // namespace

bool write_lines(std::FILE* stream, std::string_view text) {
    if (text.empty()) {
        return true;
    }
    const int caller_errno = errno;
    errno = 0;
    const bool written = current_writer(stream, text);
    if (!written && stream == stdout && first_stdout_error == 0) {
        first_stdout_error = errno != 0 ? errno : EIO;
    }
    errno = caller_errno;
    return written;
}

int stdout_write_error() {
    return first_stdout_error;
}

line_writer set_line_writer(line_writer writer) {
    const line_writer previous = current_writer;
    current_writer = writer != nullptr ? writer : platform_write;
    return previous;
}

void print_line(const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    format_and_write(stdout, format, args);
    va_end(args);
}

void print_error(const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    format_and_write(stderr, format, args);
    va_end(args);
}

void print_errno(const char* what) noexcept {
    const int error = errno;
    print_error("%s: %s\n", what, std::strerror(error));
}
