#include "lircd_log.h"

#include <lirc_driver.h>

#include <cstdarg>
#include <string_view>

namespace {

// One log entry per line; lircd's log adds its own line ends. What lircd
// does with it is lircd's: the line counts as written.
bool to_lircd_log(void* /*context*/, tavo_usb_stream /*stream*/, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!line.empty() && lirc_log_is_enabled_for(LIRC_ERROR)) {
            logprintf(LIRC_ERROR, "%.*s", static_cast<int>(line.size()), line.data());
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return true;
}

}  // namespace

tavo_usb_lines lircd_log() {
    return tavo_usb_lines{to_lircd_log, nullptr};
}

void driver_error(const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    write_line_v(lircd_log(), tavo_usb_stream::err, format, args);
    va_end(args);
}
