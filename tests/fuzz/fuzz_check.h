// What every fuzz target here shares: the input as text, and a property
// found broken reported on standard error and ended with abort(), which
// libFuzzer takes as a crash and keeps the input of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

inline void require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

inline std::string_view input_bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input as a command-line argument: up to its first NUL.
inline std::string input_argument(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = input_bytes(data, size);
    return std::string(bytes.substr(0, bytes.find('\0')));
}
