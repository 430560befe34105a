#include "key_code.h"

#include <climits>
#include <cstring>

namespace {

constexpr int code_bits = 16;
constexpr std::uint64_t code_limit = 0xFFFF;

// `part` shifted left by `shift`, as long as the result stays within the
// controller's 16 bits. A part of 0 is 0 wherever it stands.
bool place(std::uint64_t part, int shift, std::uint64_t* placed) {
    if (part == 0) {
        *placed = 0;
        return true;
    }
    if (shift < 0 || shift >= code_bits || part > (code_limit >> shift)) {
        return false;
    }
    *placed = part << shift;
    return true;
}

// Whether `part` fits its remote's `bits`: one wider would overlap its
// neighbour, and which key was meant is anybody's guess.
bool fits(std::uint64_t part, int bits) {
    return bits >= 64 || (part >> bits) == 0;
}

}  // namespace

bool controller_code(const remote_key& key, std::uint16_t* code) {
    // lircd takes at most 64 bits in all.
    if (key.pre_data_bits < 0 || key.bits < 0 || key.post_data_bits < 0 || key.pre_data_bits > 64 ||
        key.bits > 64 || key.post_data_bits > 64 || key.pre_data_bits + key.bits + key.post_data_bits > 64) {
        return false;
    }
    if (!fits(key.pre_data, key.pre_data_bits) || !fits(key.code, key.bits) ||
        !fits(key.post_data, key.post_data_bits)) {
        return false;
    }
    std::uint64_t pre = 0;
    std::uint64_t main = 0;
    std::uint64_t post = 0;
    if (!place(key.pre_data, key.bits + key.post_data_bits, &pre) ||
        !place(key.code, key.post_data_bits, &main) || !place(key.post_data, 0, &post)) {
        return false;
    }
    *code = static_cast<std::uint16_t>(pre | main | post);
    return true;
}

device_choice read_device_choice(const char* device) {
    device_choice choice;
    if (device == nullptr || device[0] == '\0' || std::strcmp(device, "auto") == 0) {
        return choice;
    }
    // Digits alone name a controller by number; a number too large for an
    // int names none that exists, and is read as a path (which fails).
    long long number = 0;
    const char* p = device;
    for (; *p >= '0' && *p <= '9' && number <= INT_MAX; ++p) {
        number = number * 10 + (*p - '0');
    }
    if (*p == '\0' && number <= INT_MAX) {
        choice.number = static_cast<int>(number);
        return choice;
    }
    choice.by_number = false;
    choice.path = device;
    return choice;
}

unsigned outputs_of_mask(std::uint32_t mask) {
    constexpr std::uint32_t every_output = (1U << controller_transmitters) - 1;
    return (mask & ~every_output) == 0 ? mask : 0;
}

std::string printable_field(const char* text, std::size_t size) {
    std::string field;
    for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        field += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?';
    }
    return field;
}
