// The fields are those of Home Assistant's MQTT integration as documented:
//   https://www.home-assistant.io/integrations/mqtt/ (discovery topics, the
//     device and origin records, availability with availability_mode)
//   https://www.home-assistant.io/integrations/text.mqtt/ (command_topic,
//     state_topic, min, max, pattern, mode)
//   https://www.home-assistant.io/integrations/button.mqtt/ (command_topic,
//     payload_press)
//   https://www.home-assistant.io/integrations/sensor.mqtt/ (state_topic,
//     value_template, json_attributes_topic)
#include "discovery.h"

#include <nlohmann/json.hpp>

#include "command.h"
#include "topics.h"

#ifndef TAVOCTL_VERSION
#error "TAVOCTL_VERSION must be defined by the build"
#endif

namespace {

using json = nlohmann::json;

json device_record(const std::string& id, const tavo_usb_device& device) {
    json record = {
        {"identifiers", json::array({"tavoctl_" + id})},
        {"name", (device.product.empty() ? std::string("Tavo controller") : device.product) + " " + id},
        {"sw_version", TAVOCTL_VERSION},
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
    return record;
}

}  // namespace

std::vector<discovery_message> discovery_messages(const std::string& discovery_prefix,
                                                  const std::string& base_topic, const std::string& id,
                                                  const tavo_usb_device& device) {
    const std::string node = "tavoctl_" + id;
    // Unavailable whenever the bridge or the controller is.
    const json availability = json::array({{{"topic", bridge_availability_topic(base_topic)}},
                                           {{"topic", availability_topic(base_topic, id)}}});
    const json common = {
        {"availability", availability},
        {"availability_mode", "all"},
        {"device", device_record(id, device)},
        {"origin", {{"name", "tavoctl-mqtt"}, {"sw_version", TAVOCTL_VERSION}}},
    };
    std::vector<discovery_message> messages;
    const auto add = [&](const char* component, const std::string& object, json config) {
        config.update(common);
        config["unique_id"] = node + "_" + object;
        messages.push_back({discovery_prefix + "/" + component + "/" + node + "/" + object + "/config",
                            config.dump(-1, ' ', false, json::error_handler_t::replace)});
    };
    for (int output = 0; output < 2; ++output) {
        const std::string n = std::to_string(output);
        const std::string name = "Output " + n + " ";
        add("text", "output" + n + "_channel",
            {{"name", name + "channel"},
             {"command_topic", output_topic(base_topic, id, output, "channel/set")},
             {"state_topic", output_topic(base_topic, id, output, "channel")},
             {"mode", "text"},
             {"min", 0},
             {"max", payload_bound},
             {"pattern", "[0-9]*"},
             {"icon", "mdi:television-box"}});
        const auto button = [&](const char* object, const char* label, const char* leaf, const char* press) {
            add("button", "output" + n + "_" + object,
                {{"name", name + label},
                 {"command_topic", output_topic(base_topic, id, output, leaf)},
                 {"payload_press", press}});
        };
        button("tavo", "Tavo", "key/set", "TAVO");
        button("backup", "Backup", "key/set", "BACKUP");
        button("setup", "setup upload", "setup/set", "SETUP");
        add("sensor", "output" + n + "_result",
            {{"name", name + "last result"},
             {"state_topic", output_topic(base_topic, id, output, "result")},
             {"value_template", "{{ 'ok' if value_json.ok else 'failed' }}"},
             {"json_attributes_topic", output_topic(base_topic, id, output, "result")},
             {"icon", "mdi:check-circle-outline"}});
    }
    return messages;
}
