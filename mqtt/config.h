// The service's configuration file: `key = value` lines, `#` comments, and
// `[ID]` sections whose keys apply to the controller named ID alone. Every
// file it names is read, or found unreadable, with it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "vocabulary/pacing.h"

// What may differ from one controller to the next.
struct output_settings {
    int plus[2] = {0, 0};  // per output: 1 for a Tavo+ box
    int gap_ms = 0;
    int pause_ms = default_pause_ms;
};

struct service_config {
    std::string host = "localhost";
    int port = 1883;
    std::string username;
    std::string password;  // read from password_file
    std::string tls_ca_file;
    std::string client_id;  // empty: made from the machine's id and base_topic
    std::string base_topic = "tavoctl";
    std::string discovery_prefix = "homeassistant";  // empty: no discovery
    // How long a command may wait behind others before it is dropped.
    int stale_after_s = 30;
    output_settings defaults;
    std::map<std::string, output_settings> controllers;  // by controller id

    const output_settings& settings_of(const std::string& id) const;
};

inline constexpr const char* default_config_path = "/etc/tavoctl/mqtt.conf";

// Reads the file at `path`. Returns 0, or -1 with `error` saying what is wrong
// where ("FILE:LINE: ..."), or that the file cannot be read; `warnings` gets
// a line ("FILE:LINE: warning: ...") for each thing wrong that does not stop
// the service.
int read_config(const std::string& path, service_config* config, std::string* error,
                std::vector<std::string>* warnings);

// The same for a file's text, `path` naming it in messages.
int parse_config(const std::string& text, const std::string& path, service_config* config, std::string* error,
                 std::vector<std::string>* warnings);
