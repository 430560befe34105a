// The one spelling of a HID device interface path on Windows. SetupAPI gives
// \\?\hid#...; the same device opens as \\.\hid#... and \??\hid#..., in any
// case. Holds must meet on one name and --path must name nothing else: a
// serial port or a file opened for writing could be sent reports.
#pragma once

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
