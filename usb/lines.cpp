#include "lines.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "platform.h"

namespace {

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

__attribute__((format(TAVO_PRINTF_FORMAT, 3, 0))) bool write_from_stack(tavo_usb_lines lines,
                                                                        tavo_usb_stream stream,
                                                                        const char* format,
                                                                        std::va_list args) {
    std::array<char, stack_line_size> line{};
    const int length = std::vsnprintf(line.data(), line.size(), format, args);
    if (length <= 0) {
        return length == 0;
    }
    const std::size_t size = std::min(static_cast<std::size_t>(length), line.size() - 1);
    if (size < static_cast<std::size_t>(length)) {
        line[size - 1] = '\n';  // what was cut off ended the line
    }
    return write_text(lines, stream, std::string_view(line.data(), size));
}

bool standard_write(void* /*context*/, tavo_usb_stream stream, std::string_view text) {
    return platform_write_text(stream == tavo_usb_stream::out ? stdout : stderr, text);
}

}  // namespace

tavo_usb_lines tavo_usb_standard_lines() {
    return tavo_usb_lines{standard_write, nullptr};
}

bool write_text(tavo_usb_lines lines, tavo_usb_stream stream, std::string_view text) noexcept {
    if (text.empty() || lines.write == nullptr) {
        return true;
    }
    const int caller_errno = errno;
    const bool written = lines.write(lines.context, stream, text);
    errno = caller_errno;
    return written;
}

// A message matters most when memory has run out: it still goes out.
bool write_line_v(tavo_usb_lines lines, tavo_usb_stream stream, const char* format,
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
    const bool written =
        in_memory ? write_text(lines, stream, line) : write_from_stack(lines, stream, format, spare);
    va_end(spare);
    return written;
}

bool write_line(tavo_usb_lines lines, tavo_usb_stream stream, const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    const bool written = write_line_v(lines, stream, format, args);
    va_end(args);
    return written;
}

void handle_out(const tavo_usb_handle* handle, const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    write_line_v(handle->lines, tavo_usb_stream::out, format, args);
    va_end(args);
}

void handle_err(const tavo_usb_handle* handle, const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    write_line_v(handle->lines, tavo_usb_stream::err, format, args);
    va_end(args);
}
