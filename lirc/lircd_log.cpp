// Every line the controller library and the driver print goes to lircd's
// log, as an error, from the moment lircd loads the driver: lircd's standard
// streams are not ours to write, and may be closed. (The driver creates its
// handles without debug traces, so all that the library prints is a
// failure.)
#include <lirc_driver.h>

#include <string_view>

#include "print_line.h"

namespace {

// One log entry per line; lircd's log adds its own line ends. What lircd
// does with it is lircd's: the line counts as written.
bool to_lircd_log(std::FILE* /*stream*/, std::string_view text) {
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

// From the moment lircd loads the driver, before it calls anything of it.
const bool lines_go_to_lircd_log = (set_line_writer(to_lircd_log), true);

}  // namespace
