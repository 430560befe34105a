#include "vocabulary/numbers.h"

#include <climits>

namespace {

// The C locale's white space, which both atoi() and sscanf() skip.
constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

const char* skip_space(const char* p) {
    while (is_space(*p)) {
        ++p;
    }
    return p;
}

}  // namespace

bool read_leading_int(const char* text, int* value) {
    const char* p = skip_space(text);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    // Accumulate the magnitude in a wider type and stop as soon as it can no
    // longer fit, so that no arithmetic overflows.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    bool fits = true;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (fits) {
            magnitude = magnitude * 10 + (*p - '0');
            if (magnitude > limit) {
                fits = false;
            }
        }
    }
    if (!fits) {
        *value = negative ? INT_MIN : INT_MAX;
        return false;
    }
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

bool read_command_code(const char* text, std::uint16_t* code) {
    const char* p = skip_space(text);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    // "0x" is a prefix only when a hex digit follows; otherwise the 0 is the
    // number and the x ends it.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_value(p[2]) >= 0) {
        p += 2;
    }
    if (hex_value(*p) < 0) {
        return false;  // nothing converted
    }
    unsigned long magnitude = 0;
    for (; hex_value(*p) >= 0; ++p) {
        magnitude = magnitude * 16 + static_cast<unsigned long>(hex_value(*p));
        if (magnitude > 0xFFFF) {
            return false;
        }
    }
    // A negative number wraps to a large unsigned one; only -0 stays a code.
    if (negative && magnitude != 0) {
        return false;
    }
    *code = static_cast<std::uint16_t>(magnitude);
    return true;
}

bool read_whole_command_code(std::string_view text, std::uint16_t* code) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    unsigned long magnitude = 0;
    for (const char c : text) {
        if (hex_value(c) < 0) {
            return false;
        }
        magnitude = magnitude * 16 + static_cast<unsigned long>(hex_value(c));
        if (magnitude > 0xFFFF) {
            return false;
        }
    }
    *code = static_cast<std::uint16_t>(magnitude);
    return true;
}

bool read_milliseconds(const char* text, int* ms) {
    if (*text == '\0') {
        return false;
    }
    // Stops adding digits once the value is past the limit, so that no
    // number of digits overflows.
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        if (value <= max_milliseconds) {
            value = value * 10 + (*p - '0');
        }
    }
    if (value > max_milliseconds) {
        return false;
    }
    *ms = value;
    return true;
}
