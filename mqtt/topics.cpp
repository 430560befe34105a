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
    std::vector<std::string> ids;
    for (const tavo_usb_device& device : list.devices) {
        std::string id = topic_safe(device.serial);
        if (id.empty() || id == "bridge" || std::find(ids.begin(), ids.end(), id) != ids.end()) {
            id = topic_safe(!device.port.empty() ? device.port : device.path);
        }
        ids.push_back(id);
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

std::string bridge_availability_topic(const std::string& base) {
    return base + "/bridge/availability";
}

std::string availability_topic(const std::string& base, const std::string& id) {
    return base + "/" + id + "/availability";
}

std::string output_topic(const std::string& base, const std::string& id, int output, const char* leaf) {
    return base + "/" + id + "/" + std::to_string(output) + "/" + leaf;
}
