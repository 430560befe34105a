#include "text_check.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "controller/device_text.h"

namespace {

// The characters that reorder what a terminal shows after them: the marks,
// embeddings, overrides and isolates. Written apart from the library's own
// list on purpose.
constexpr char32_t bidi_controls[] = {0x061C, 0x200E, 0x200F, 0x202A, 0x202B, 0x202C,
                                      0x202D, 0x202E, 0x2066, 0x2067, 0x2068, 0x2069};

// Those and the characters a terminal acts on (C0, DEL, C1).
bool unsafe(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) ||
           std::find(std::begin(bidi_controls), std::end(bidi_controls), cp) != std::end(bidi_controls);
}

// A character from U+0080 to U+FFFF in UTF-8.
std::string utf8_of(char32_t cp) {
    const auto tail = [](char32_t bits) { return static_cast<char>(0x80U | (bits & 0x3FU)); };
    if (cp < 0x800) {
        return {static_cast<char>(0xC0U | (cp >> 6U)), tail(cp)};
    }
    return {static_cast<char>(0xE0U | (cp >> 12U)), tail(cp >> 6U), tail(cp)};
}

// What a terminal would act on in `text`, read as bytes whether or not it is
// valid UTF-8; empty when nothing.
std::string raw_control_in(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            return "a C0 or DEL byte";
        }
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return "a C1 control";
        }
    }
    for (const char32_t control : bidi_controls) {
        if (text.find(utf8_of(control)) != std::string_view::npos) {
            return "a bidirectional control";
        }
    }
    return {};
}

// The characters sent, up to the terminator, lone surrogates as U+FFFD.
std::vector<char32_t> characters_of(std::span<const std::uint16_t> units) {
    const auto high = [](std::uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto low = [](std::uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::vector<char32_t> in;
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        if (high(units[i]) && i + 1 < units.size() && low(units[i + 1])) {
            in.push_back(0x10000U + ((units[i] & 0x3FFU) << 10U) + (units[i + 1] & 0x3FFU));
            ++i;
        } else {
            in.push_back(high(units[i]) || low(units[i]) ? 0xFFFD : units[i]);
        }
    }
    return in;
}

std::string at(std::size_t index, char32_t shown, char32_t sent) {
    char codes[40];
    std::snprintf(codes, sizeof codes, ": U+%04X for U+%04X", static_cast<unsigned>(shown),
                  static_cast<unsigned>(sent));
    return " at " + std::to_string(index) + codes;
}

}  // namespace

bool decode_utf8(std::string_view text, std::vector<char32_t>* out) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80                    ? 0
                          : lead >= 0xC2 && lead <= 0xDF ? 1
                          : lead >= 0xE0 && lead <= 0xEF ? 2
                          : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                         : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
            return false;
        }
        char32_t cp = extra == 0 ? lead : lead & (0x3FU >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0U) != 0x80U) {
                return false;
            }
            cp = (cp << 6U) | (next & 0x3FU);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        out->push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::string device_text_fault(std::span<const std::uint16_t> units, char replacement) {
    const std::vector<char32_t> in = characters_of(units);
    const std::string text = device_text(units, replacement, text_charset::utf8);
    if (const std::string control = raw_control_in(text); !control.empty()) {
        return "the UTF-8 form holds " + control;
    }
    std::vector<char32_t> out;
    if (!decode_utf8(text, &out)) {
        return "the UTF-8 form is not valid UTF-8";
    }
    // For a terminal in an 8-bit character set: bytes, one per character.
    const std::string ascii = device_text(units, replacement, text_charset::ascii);
    if (out.size() != in.size() || ascii.size() != in.size()) {
        return "not one character out for each in";
    }
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char32_t shown = unsafe(in[i]) ? static_cast<char32_t>(replacement) : in[i];
        if (out[i] != shown) {
            return "the UTF-8 form has" + at(i, out[i], in[i]);
        }
        const auto byte = static_cast<unsigned char>(ascii[i]);
        if (byte < 0x20 || byte > 0x7E || byte != (shown < 0x80 ? shown : U'?')) {
            return "the ASCII form has" + at(i, byte, in[i]);
        }
    }
    return {};
}
