#include "text.h"

#include <climits>

namespace {

// Both directions take lengths as int.
constexpr std::size_t longest_text = INT_MAX;

std::optional<std::wstring> wide_from(UINT code_page, DWORD flags, std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    if (text.size() > longest_text) {
        return std::nullopt;
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(code_page, flags, text.data(), length, nullptr, 0);
    if (units <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(code_page, flags, text.data(), length, wide.data(), units) != units) {
        return std::nullopt;
    }
    return wide;
}

}  // namespace

std::optional<std::wstring> wide_from_utf8(std::string_view text) {
    return wide_from(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::wstring wide_from_ansi(std::string_view text) {
    // Every byte means something in a single-byte code page; in a double-byte
    // one a broken pair becomes the default character, never a failure.
    return wide_from(CP_ACP, 0, text).value_or(std::wstring());
}

std::string utf8_from_wide(std::wstring_view text) {
    if (text.empty() || text.size() > longest_text) {
        return std::string();
    }
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), bytes, nullptr, nullptr) != bytes) {
        return std::string();
    }
    return utf8;
}

// FormatMessageW, not A: the A form gives the ANSI code page, in which a
// Czech or Polish system's texts are no UTF-8.
std::string windows_error_text(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message = utf8_from_wide(std::wstring_view(text, length));
    }
    LocalFree(text);
    // The system's texts end in a full stop and a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) {
        return "error " + std::to_string(error);
    }
    return message + " (" + std::to_string(error) + ")";
}
