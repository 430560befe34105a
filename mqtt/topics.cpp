#include "topics.h"

#include <algorithm>

namespace {

std::string topic_safe(const std::string& text) {
    std::string safe = text;
    for (char& c : safe) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_';
        if (!kept) {
            c = '_';
        }
    }
    return safe;
}

constexpr const char* command_leaves[] = {"channel", "key", "setup"};

}  // namespace

std::vector<std::string> controller_ids(const tavo_usb_device_list& list) {
    const std::vector<tavo_usb_device>& devices = list.devices;
    // What each would be called, and how firmly: a serial number of its own
    // first, then a serial number with the port, then a port, then a path.
    struct candidate {
        int rank;
        std::string name;
    };
    std::vector<candidate> candidates;
    for (const tavo_usb_device& device : devices) {
        const std::string place = topic_safe(!device.port.empty() ? device.port : device.path);
        const std::string serial = topic_safe(device.serial);
        const auto shares_serial = [&](const tavo_usb_device& other) {
            return &other != &device && topic_safe(other.serial) == serial;
        };
        if (serial.empty()) {
            candidates.push_back({device.port.empty() ? 3 : 2, place});
        } else if (std::any_of(devices.begin(), devices.end(), shares_serial)) {
            std::string name = serial;
            name.append("_").append(place);
            candidates.push_back({1, name});
        } else {
            candidates.push_back({0, serial});
        }
    }
    // The firmer name keeps it; the other takes the first free of NAME_2,
    // NAME_3, ... The bridge's name is no controller's.
    std::vector<std::string> ids(devices.size());
    std::vector<std::string> taken = {"bridge"};
    for (int rank = 0; rank <= 3; ++rank) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (candidates[i].rank != rank) {
                continue;
            }
            std::string id = candidates[i].name;
            for (int n = 2; std::find(taken.begin(), taken.end(), id) != taken.end(); ++n) {
                id = candidates[i].name + "_" + std::to_string(n);
            }
            taken.push_back(id);
            ids[i] = id;
        }
    }
    return ids;
}

bool read_command_topic(const std::string& base, const std::string& topic, command_topic* command) {
    if (topic.size() <= base.size() + 1 || topic.compare(0, base.size(), base) != 0 ||
        topic[base.size()] != '/') {
        return false;
    }
    // ID/N/LEAF/set
    std::vector<std::string> levels;
    std::size_t start = base.size() + 1;
    for (;;) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    if (levels.size() != 4 || levels[0].empty() || (levels[1] != "0" && levels[1] != "1") ||
        levels[3] != "set") {
        return false;
    }
    for (int kind = 0; kind < 3; ++kind) {
        if (levels[2] == command_leaves[kind]) {
            command->id = levels[0];
            command->output = levels[1][0] - '0';
            command->kind = static_cast<command_kind>(kind);
            return true;
        }
    }
    return false;
}

std::vector<std::string> command_subscriptions(const std::string& base) {
    return {base + "/+/+/channel/set", base + "/+/+/key/set", base + "/+/+/setup/set"};
}

std::string discovery_node(const std::string& base, const std::string& name) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string node;
    for (const char c : base) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            node.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            node += {'-', hex[byte >> 4U], hex[byte & 0x0FU]};
        }
    }
    return node + "_" + name;
}

std::string bridge_availability_topic(const std::string& base) {
    return base + "/bridge/availability";
}

std::string availability_topic(const std::string& base, const std::string& id) {
    return base + "/" + id + "/availability";
}

std::string output_topic(const std::string& base, const std::string& id, int output, const char* leaf) {
    return base + "/" + id + "/" + std::to_string(output) + "/" + leaf;
}
