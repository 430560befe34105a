// The keys of the two box types: each key's code is its box type's base plus
// the key's number, so a Tavo+ box takes the same keys 0x0C00 higher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// `plus` nonzero: a Tavo+ box.
constexpr std::uint16_t box_code_base(int plus) {
    return plus != 0 ? 0x0C00 : 0x0000;
}

inline constexpr std::uint16_t tavo_key = 0x80;
inline constexpr std::uint16_t backup_key = 0x83;

constexpr std::uint16_t tavo_key_code(int plus) {
    return static_cast<std::uint16_t>(box_code_base(plus) + tavo_key);
}
constexpr std::uint16_t backup_key_code(int plus) {
    return static_cast<std::uint16_t>(box_code_base(plus) + backup_key);
}
// `digit` is '0' to '9'.
constexpr std::uint16_t digit_key_code(int plus, char digit) {
    return static_cast<std::uint16_t>(box_code_base(plus) + (digit - '0'));
}

// Every key both box types have, by the name a user knows it by.
struct box_key {
    std::string_view name;
    std::uint16_t number;  // added to the box type's base
};
inline constexpr std::array<box_key, 12> box_keys = {{
    {"Tavo", tavo_key},
    {"0", 0},
    {"1", 1},
    {"2", 2},
    {"3", 3},
    {"4", 4},
    {"5", 5},
    {"6", 6},
    {"7", 7},
    {"8", 8},
    {"9", 9},
    {"Backup", backup_key},
}};

namespace box_key_detail {
constexpr char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace box_key_detail

// The number of the key named `name` in any letter case ("backup" is
// Backup): a name is the whole text, nothing before or after it. Returns
// false, leaving `number` untouched, for a text that names no key.
constexpr bool find_box_key(std::string_view name, std::uint16_t* number) {
    for (const box_key& key : box_keys) {
        if (key.name.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            same = box_key_detail::lower(key.name[i]) == box_key_detail::lower(name[i]);
        }
        if (same) {
            *number = key.number;
            return true;
        }
    }
    return false;
}
