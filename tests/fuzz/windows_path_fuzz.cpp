// What --path takes on Windows, on any text: a HID device interface path in
// one of its spellings, folded to the one spelling SetupAPI gives, or nothing.
#include <array>
#include <optional>

#include "../../usb/platform/windows/path.h"
#include "fuzz_check.h"

namespace {

// Whether `path` is a HID device interface path, written apart from the
// folding on purpose.
bool is_hid_path(std::string_view path) {
    constexpr std::array<std::string_view, 3> prefixes = {R"(\\?\)", R"(\\.\)", R"(\??\)"};
    if (path.size() <= 8) {
        return false;
    }
    bool prefixed = false;
    for (const std::string_view prefix : prefixes) {
        prefixed = prefixed || path.starts_with(prefix);
    }
    std::string hid(path.substr(4, 4));
    for (char& c : hid) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return prefixed && hid == "hid#";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path = input_bytes(data, size);
    const std::optional<std::string> folded = windows_hid_path(path);
    require(folded.has_value() == is_hid_path(path), "exactly the HID interface paths are taken");
    if (folded) {
        require(folded->starts_with(R"(\\?\)"), "a path taken starts with \\\\?\\");
        require(folded->size() == path.size() && std::string_view(*folded).substr(4) == path.substr(4),
                "only the prefix is folded");
        require(windows_hid_path(*folded) == folded, "a folded path folds to itself");
    }
    const std::string argument = input_argument(data, size);
    require(windows_device_path(argument.c_str()) == windows_hid_path(argument).value_or(argument),
            "the device path is the folded one, or the argument as it was");
    return 0;
}
