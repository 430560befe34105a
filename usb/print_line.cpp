#include "print_line.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>

#include "platform/windows_console.h"
#endif

namespace {

// One call of the runtime's lowest write per text. msvcrt gives an
// unbuffered stream a 2-byte buffer, so even fwrite may split a line there;
// _write() converts the line ends and hands the text on whole.
void platform_write(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
    if (write_to_console(stream, text) != console_write::not_a_console) {
        return;  // shown in UTF-16; everything else gets the UTF-8 bytes
    }
    if (text.size() <= 0x7FFFFFFFU) {
        _write(_fileno(stream), text.data(), static_cast<unsigned>(text.size()));
    }
#else
    std::fwrite(text.data(), 1, text.size(), stream);
#endif
}

line_writer current_writer = platform_write;

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

}  // namespace

void write_lines(std::FILE* stream, std::string_view text) {
    if (!text.empty()) {
        current_writer(stream, text);
    }
}

line_writer set_line_writer(line_writer writer) {
    const line_writer previous = current_writer;
    current_writer = writer != nullptr ? writer : platform_write;
    return previous;
}

void print_line(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::string line = format_line(format, args);
    va_end(args);
    write_lines(stdout, line);
}

void print_error(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::string line = format_line(format, args);
    va_end(args);
    write_lines(stderr, line);
}

void print_errno(const char* what) {
    const int error = errno;
    print_error("%s: %s\n", what, std::strerror(error));
}
