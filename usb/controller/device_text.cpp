#include "device_text.h"

namespace {

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0U | (cp >> 6U));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0U | (cp >> 12U));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
        out += static_cast<char>(0xF0U | (cp >> 18U));
        out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    }
}

bool is_high_surrogate(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Characters a terminal acts on, or that reorder what it shows after them.
bool is_unsafe(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)  // C0, DEL, C1
           || cp == 0x061C                          // arabic letter mark
           || cp == 0x200E || cp == 0x200F          // left-to-right and right-to-left marks
           || (cp >= 0x202A && cp <= 0x202E)        // embeddings and overrides
           || (cp >= 0x2066 && cp <= 0x2069);       // isolates
}

}  // namespace

std::string device_text(std::span<const std::uint16_t> units, char replacement, text_charset charset) {
    std::string out;
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const std::uint16_t unit = units[i];
        char32_t cp = unit;
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            const char32_t high = unit & 0x3FFU;  // the surrogates' payloads, 10 bits each
            const char32_t low = units[i + 1] & 0x3FFU;
            cp = 0x10000U + (high << 10U) + low;
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            cp = 0xFFFD;
        }
        if (is_unsafe(cp)) {
            out += replacement;
        } else if (charset == text_charset::ascii && cp >= 0x80) {
            out += '?';
        } else {
            append_utf8(out, cp);
        }
    }
    return out;
}
