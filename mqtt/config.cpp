#include "config.h"

#include <cerrno>
#include <cstring>
#include <fstream>
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

int read_password(const std::string& file, std::string* password, std::string* why) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *why = std::strerror(errno);
        return -1;
    }
    std::getline(in, *password);
    if (!password->empty() && password->back() == '\r') {
        password->pop_back();
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

std::string set_key(const std::string& key, const std::string& value, service_config* config) {
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
    if (key == "password_file") {
        std::string why;
        if (read_password(value, &config->password, &why) != 0) {
            return "password_file: cannot read '" + value + "': " + why;
        }
        return "";
    }
    if (key == "tls_ca_file") {
        config->tls_ca_file = value;
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

}  // namespace

const output_settings& service_config::settings_of(const std::string& id) const {
    const auto own = controllers.find(id);
    return own != controllers.end() ? own->second : defaults;
}

int parse_config(const std::string& text, const std::string& path, service_config* config,
                 std::string* error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    // Sections start from the defaults as they stand at the end of the file,
    // whatever comes first.
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::string section;
    const auto fail = [&](int at, const std::string& why) {
        *error = path + ":" + std::to_string(at) + ": " + why;
        return -1;
    };
    while (std::getline(lines, line)) {
        ++number;
        const std::string content = trimmed(line);
        if (content.empty() || content[0] == '#') {
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
            sections[section];
            continue;
        }
        const auto equals = content.find('=');
        if (equals == std::string::npos) {
            return fail(number, "expected key = value");
        }
        const std::string key = trimmed(content.substr(0, equals));
        const std::string value = trimmed(content.substr(equals + 1));
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
        if (const std::string why = set_key(key, value, config); !why.empty()) {
            return fail(number, why);
        }
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

int read_config(const std::string& path, service_config* config, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    std::stringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path, config, error);
}
