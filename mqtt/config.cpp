#include "config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "vocabulary/numbers.h"

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool read_box(const std::string& value, int* plus) {
    if (value == "tavo" || value == "tavo+") {
        *plus = value == "tavo+" ? 1 : 0;
        return true;
    }
    return false;
}

// A whole decimal number from `low` to `high`.
bool read_number(const std::string& value, int low, int high, int* number) {
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int read = std::stoi(value);
    if (read < low || read > high) {
        return false;
    }
    *number = read;
    return true;
}

// A topic level or prefix that subscriptions can take apart again.
bool valid_topic_part(const std::string& value) {
    return !value.empty() && value.find_first_of("+#") == std::string::npos && value.front() != '/' &&
           value.back() != '/';
}

// The whole of the regular file at `path`, read now: a file that is not
// there, not readable or not a file is an error before anything connects.
// Returns 0, or -1 with `why`; `mode` gets its permissions.
int read_whole_file(const std::string& path, std::string* text, mode_t* mode, std::string* why) {
    // Not blocking: a FIFO in a file's place is refused, not waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        *why = std::strerror(errno);
    } else if (S_ISDIR(status.st_mode)) {
        *why = std::strerror(EISDIR);
    } else if (!S_ISREG(status.st_mode)) {
        *why = "not a regular file";
    }
    if (!why->empty()) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    *mode = status.st_mode;
    text->clear();
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        text->append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    const int failure = errno;
    close(fd);
    if (got < 0) {
        *why = std::strerror(failure);
        return -1;
    }
    return 0;
}

// Sets a key that a controller's section may set too. Returns "" or why not.
std::string set_output_key(const std::string& key, const std::string& value, output_settings* settings,
                           bool* known) {
    *known = true;
    if (key == "output0_box" || key == "output1_box") {
        return read_box(value, &settings->plus[key[6] - '0']) ? "" : key + " must be tavo or tavo+";
    }
    if (key == "gap" || key == "pause") {
        int* ms = key == "gap" ? &settings->gap_ms : &settings->pause_ms;
        return read_milliseconds(value.c_str(), ms)
                   ? ""
                   : key + " must be a whole number of milliseconds from 0 to 60000";
    }
    *known = false;
    return "unknown key '" + key + "'";
}

// Sets a key of the file's own part. Returns "" or why not; `warning` gets
// what is wrong but does not stop the service.
std::string set_key(const std::string& key, const std::string& value, service_config* config,
                    std::string* warning) {
    if (key == "host") {
        config->host = value;
        return value.empty() ? "host must not be empty" : "";
    }
    if (key == "port") {
        return read_number(value, 1, 65535, &config->port) ? "" : "port must be a number from 1 to 65535";
    }
    if (key == "username") {
        config->username = value;
        return "";
    }
    if (key == "password_file" || key == "tls_ca_file") {
        std::string text;
        mode_t mode = 0;
        std::string why;
        if (read_whole_file(value, &text, &mode, &why) != 0) {
            return key + ": cannot read '" + value + "': " + why;
        }
        if (key == "tls_ca_file") {
            config->tls_ca_file = value;
            return "";
        }
        // The first line is the password.
        config->password = text.substr(0, text.find('\n'));
        if (!config->password.empty() && config->password.back() == '\r') {
            config->password.pop_back();
        }
        if ((mode & S_IROTH) != 0) {
            *warning = "warning: password_file '" + value + "' can be read by every user (chmod o-r it)";
        }
        return "";
    }
    if (key == "client_id") {
        config->client_id = value;
        return "";
    }
    if (key == "base_topic") {
        config->base_topic = value;
        return valid_topic_part(value) ? ""
                                       : "base_topic must be a topic without + or # or a / at either end";
    }
    if (key == "discovery_prefix") {
        config->discovery_prefix = value;
        return value.empty() || valid_topic_part(value)
                   ? ""
                   : "discovery_prefix must be empty or a topic without + or # or a / at either end";
    }
    if (key == "stale_after") {
        return read_number(value, 1, 3600, &config->stale_after_s)
                   ? ""
                   : "stale_after must be seconds from 1 to 3600";
    }
    bool known = false;
    return set_output_key(key, value, &config->defaults, &known);
}

// The line without its comment: a # at its start or after white space
// starts one, so that a value may hold a # of its own (a file name, a client
// id) and README's `tls_ca_file = FILE   # TLS` names FILE alone.
std::string without_comment(const std::string& line) {
    for (std::size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1)) {
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t') {
            return line.substr(0, at);
        }
    }
    return line;
}

}  // namespace

const output_settings& service_config::settings_of(const std::string& id) const {
    const auto own = controllers.find(id);
    return own != controllers.end() ? own->second : defaults;
}

int parse_config(const std::string& text, const std::string& path, service_config* config, std::string* error,
                 std::vector<std::string>* warnings) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    // Sections start from the defaults as they stand at the end of the file,
    // whatever comes first.
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::string section;
    // Where each section and key was first given: a second one is refused,
    // since which of the two was meant is anyone's guess.
    std::map<std::string, int> given;
    const auto fail = [&](int at, const std::string& why) {
        *error = path + ":" + std::to_string(at) + ": " + why;
        return -1;
    };
    const auto twice = [&](const std::string& what, const std::string& name) {
        const auto [first, fresh] = given.emplace(name, number);
        return fresh ? 0
                     : fail(number,
                            what + " is given twice (first on line " + std::to_string(first->second) + ")");
    };
    while (std::getline(lines, line)) {
        ++number;
        const std::string content = trimmed(without_comment(line));
        if (content.empty()) {
            continue;
        }
        if (content.front() == '[') {
            if (content.back() != ']' || content.size() < 3) {
                return fail(number, "a section is [CONTROLLER-ID]");
            }
            section = content.substr(1, content.size() - 2);
            if (section.find_first_not_of(
                    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
                std::string::npos) {
                return fail(number, "a controller id has only A-Z, a-z, 0-9, - and _");
            }
            if (twice("[" + section + "]", "[" + section + "]") != 0) {
                return -1;
            }
            sections[section];
            continue;
        }
        const auto equals = content.find('=');
        const std::string key = trimmed(content.substr(0, equals));
        if (equals == std::string::npos || key.empty()) {
            return fail(number, "expected key = value");
        }
        const std::string value = trimmed(content.substr(equals + 1));
        std::string name = "[" + section + "]";
        name += key;
        if (twice("'" + key + "'", name) != 0) {
            return -1;
        }
        if (!section.empty()) {
            output_settings ignored;
            bool known = false;
            std::string why = set_output_key(key, value, &ignored, &known);
            if (!known) {
                why = "'" + key + "' cannot be set for one controller";
            }
            if (!why.empty()) {
                return fail(number, why);
            }
            sections[section][key] = value;
            continue;
        }
        std::string warning;
        if (const std::string why = set_key(key, value, config, &warning); !why.empty()) {
            return fail(number, why);
        }
        if (!warning.empty()) {
            warnings->push_back(path + ":" + std::to_string(number) + ": ");
            warnings->back() += warning;
        }
    }
    if (const auto password = given.find("[]password_file");
        password != given.end() && config->username.empty()) {
        return fail(password->second, "password_file is given without username");
    }
    for (const auto& [id, keys] : sections) {
        output_settings settings = config->defaults;
        for (const auto& [key, value] : keys) {
            bool known = false;
            set_output_key(key, value, &settings, &known);
        }
        config->controllers[id] = settings;
    }
    return 0;
}

int read_config(const std::string& path, service_config* config, std::string* error,
                std::vector<std::string>* warnings) {
    std::string text;
    mode_t mode = 0;
    std::string why;
    if (read_whole_file(path, &text, &mode, &why) != 0) {
        *error = "cannot read " + path + ": " + why;
        return -1;
    }
    return parse_config(text, path, config, error, warnings);
}
