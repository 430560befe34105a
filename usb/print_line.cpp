#include "print_line.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void print_line(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length >= 0) {
        std::string line(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(line.data(), line.size(), format, again);
        std::fwrite(line.data(), 1, static_cast<std::size_t>(length), stdout);
    }
    va_end(again);
}
