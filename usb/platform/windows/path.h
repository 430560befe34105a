// The one spelling of a HID device interface path on Windows. SetupAPI gives
// \\?\hid#...; the same device opens as \\.\hid#... and \??\hid#..., in any
// case. Holds must meet on one name and --path must name nothing else: a
// serial port or a file opened for writing could be sent reports.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// `path` with its prefix folded to \\?\, or nullopt when it is no HID device
// interface path.
inline std::optional<std::string> windows_hid_path(std::string_view path) {
    constexpr std::string_view prefixes[] = {R"(\\?\)", R"(\\.\)", R"(\??\)"};
    constexpr std::string_view hid = "hid#";
    for (const std::string_view prefix : prefixes) {
        if (path.substr(0, prefix.size()) != prefix) {
            continue;
        }
        const std::string_view rest = path.substr(prefix.size());
        if (rest.size() <= hid.size()) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < hid.size(); ++i) {
            const char c = rest[i];
            const char folded = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            if (folded != hid[i]) {
                return std::nullopt;
            }
        }
        return std::string(prefixes[0]) + std::string(rest);
    }
    return std::nullopt;
}

// `path` with its prefix folded when it is a HID device interface path, as
// it is otherwise.
inline std::string windows_device_path(const char* path) {
    return windows_hid_path(path).value_or(path);
}

// The name of the mutex that holds `output` of the device at `path`.
// Windows spells one device's path in either case and behind any of its
// prefixes, and a name may hold no backslash after its namespace and no more
// than MAX_PATH characters: a hash of the path with its prefix folded and
// folded to lower case fits all of them. Device paths are ASCII.
//
// The name is in the Global\ namespace: a recorder running as a service in
// session 0 and a person at the console in session 1 or 2 must meet on the
// same mutex, and Local\ names are per session.
inline std::string windows_hold_name(const char* path, int output) {
    const std::string device = windows_device_path(path);
    std::uint64_t hash = 0xcbf29ce484222325U;  // 64-bit FNV-1a
    for (const char c : device) {
        const char folded = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        hash ^= static_cast<unsigned char>(folded);
        hash *= 0x100000001b3U;
    }
    char hex[17] = {};
    std::to_chars(hex, hex + 16, hash, 16);
    return std::string("Global\\tavoctl-") + hex + "-output-" + std::to_string(output);
}
