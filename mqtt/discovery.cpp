// The fields are those of Home Assistant's MQTT integration as documented:
//   https://www.home-assistant.io/integrations/mqtt/ (discovery topics, the
//     device and origin records, availability with availability_mode,
//     entity_category, via_device)
//   https://www.home-assistant.io/integrations/text.mqtt/ (command_topic,
//     state_topic, min, max, pattern, mode)
//   https://www.home-assistant.io/integrations/button.mqtt/ (command_topic,
//     payload_press)
//   https://www.home-assistant.io/integrations/sensor.mqtt/ (state_topic,
//     value_template, json_attributes_topic)
//   https://www.home-assistant.io/integrations/binary_sensor.mqtt/
//     (state_topic, payload_on, payload_off, device_class)
// The device's serial_number is the newest field used: Home Assistant
// 2024.2 and later take these configs, older ones refuse them whole.
#include "discovery.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "command.h"
#include "topics.h"

#ifndef TAVOCTL_VERSION
#error "TAVOCTL_VERSION must be defined by the build"
#endif
#ifndef TAVOCTL_SUPPORT_URL
#error "TAVOCTL_SUPPORT_URL must be defined by the build"
#endif

namespace {

using json = nlohmann::json;

// Home Assistant shows where a config came from: this service, not the
// device's own firmware.
json origin() {
    return {{"name", "tavoctl-mqtt"}, {"sw_version", TAVOCTL_VERSION}, {"support_url", TAVOCTL_SUPPORT_URL}};
}

// bcdDevice as USB writes release numbers: 0x0123 is 1.23.
std::string release_text(int release) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%02x", static_cast<unsigned>(release) >> 8U,
                  static_cast<unsigned>(release) & 0xFFU);
    return text;
}

json device_record(const std::string& base_topic, const std::string& id, const tavo_usb_device& device) {
    json record = {
        {"identifiers", json::array({discovery_node(base_topic, id)})},
        {"name", (device.product.empty() ? std::string("Tavo controller") : device.product) + " " + id},
        {"via_device", discovery_node(base_topic, "bridge")},
    };
    if (!device.manufacturer.empty()) {
        record["manufacturer"] = device.manufacturer;
    }
    if (!device.product.empty()) {
        record["model"] = device.product;
    }
    if (!device.serial.empty()) {
        record["serial_number"] = device.serial;
    }
    if (device.release >= 0) {
        record["sw_version"] = release_text(device.release);
    }
    return record;
}

std::string dump(const json& config) {
    // A device's text is made UTF-8 by the library: a byte that slipped
    // through is replaced, not thrown.
    return config.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::vector<discovery_message> bridge_discovery_messages(const std::string& discovery_prefix,
                                                         const std::string& base_topic,
                                                         const std::string& host) {
    const std::string node = discovery_node(base_topic, "bridge");
    const json config = {
        {"name", "Broker connection"},
        {"unique_id", node + "_connectivity"},
        {"device_class", "connectivity"},
        {"entity_category", "diagnostic"},
        // No availability of its own: the will's "offline" is its state.
        {"state_topic", bridge_availability_topic(base_topic)},
        {"payload_on", "online"},
        {"payload_off", "offline"},
        {"device",
         {{"identifiers", json::array({node})},
          {"name", "tavoctl-mqtt on " + host},
          {"manufacturer", "The tavoctl authors"},
          {"model", "tavoctl-mqtt"},
          {"sw_version", TAVOCTL_VERSION}}},
        {"origin", origin()},
    };
    return {{discovery_prefix + "/binary_sensor/" + node + "/connectivity/config", dump(config)}};
}

std::vector<discovery_message> discovery_messages(const std::string& discovery_prefix,
                                                  const std::string& base_topic, const std::string& id,
                                                  const tavo_usb_device& device) {
    const std::string node = discovery_node(base_topic, id);
    // Unavailable whenever the bridge or the controller is.
    const json availability = json::array({{{"topic", bridge_availability_topic(base_topic)}},
                                           {{"topic", availability_topic(base_topic, id)}}});
    const json common = {
        {"availability", availability},
        {"availability_mode", "all"},
        {"device", device_record(base_topic, id, device)},
        {"origin", origin()},
    };
    std::vector<discovery_message> messages;
    const auto add = [&](const char* component, const std::string& object, json config) {
        config.update(common);
        config["unique_id"] = node + "_" + object;
        messages.push_back(
            {discovery_prefix + "/" + component + "/" + node + "/" + object + "/config", dump(config)});
    };
    for (int output = 0; output < 2; ++output) {
        const std::string n = std::to_string(output);
        const std::string name = "Output " + n + " ";
        // Home Assistant checks the pattern with Python's re.match, which
        // anchors the start alone, and its frontend may take it as an HTML
        // pattern (JavaScript): ^ and $ mean the same to both. Python's $
        // also lets one final \n through, which the service drops anyway.
        add("text", "output" + n + "_channel",
            {{"name", name + "channel"},
             {"command_topic", output_topic(base_topic, id, output, "channel/set")},
             {"state_topic", output_topic(base_topic, id, output, "channel")},
             {"mode", "text"},
             {"min", 1},
             {"max", payload_bound},
             {"pattern", "^[0-9]+$"},
             {"icon", "mdi:television-box"}});
        const auto button = [&](const char* object, const char* label, const char* leaf, const char* press,
                                json extra) {
            extra.update({{"name", name + label},
                          {"command_topic", output_topic(base_topic, id, output, leaf)},
                          {"payload_press", press}});
            add("button", "output" + n + "_" + object, extra);
        };
        button("tavo", "Tavo", "key/set", "TAVO", json::object());
        button("backup", "Backup", "key/set", "BACKUP", json::object());
        button("setup", "setup upload", "setup/set", "SETUP", {{"entity_category", "config"}});
        add("sensor", "output" + n + "_result",
            {{"name", name + "last result"},
             {"entity_category", "diagnostic"},
             {"state_topic", output_topic(base_topic, id, output, "last_result")},
             {"value_template", "{{ 'ok' if value_json.ok else 'failed' }}"},
             {"json_attributes_topic", output_topic(base_topic, id, output, "last_result")},
             {"icon", "mdi:check-circle-outline"}});
    }
    return messages;
}

std::string discovery_filter(const std::string& discovery_prefix, const std::string& base_topic,
                             const std::string& id) {
    return discovery_prefix + "/+/" + discovery_node(base_topic, id) + "/+/config";
}
