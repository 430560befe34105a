#include "result.h"

#include <cstdio>
#include <nlohmann/json.hpp>

std::string result_payload(bool ok, const std::string& error) {
    nlohmann::json result = {{"ok", ok}};
    if (!ok) {
        result["error"] = error;
    }
    // A device's text is made UTF-8 by the library, and a payload is checked
    // before it is quoted: a byte that slipped through is replaced, not thrown.
    return result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void log_command(const std::string& topic, const std::string& sent, bool ok, const std::string& error) {
    std::string line = topic + ": " + (sent.empty() ? "nothing sent" : "sent " + sent) + "; ";
    if (ok) {
        line += "ok";
    } else {
        // One line however many the error has.
        std::string flat = error;
        for (std::size_t at = flat.find('\n'); at != std::string::npos; at = flat.find('\n', at)) {
            flat.replace(at, 1, " / ");
        }
        line += "failed: " + flat;
    }
    log_line(line);
}

void log_line(const std::string& text) {
    const std::string line = text + "\n";
    // stdio takes the stream's lock for the one call: lines of two threads
    // never mix.
    std::fwrite(line.data(), 1, line.size(), stderr);
}
