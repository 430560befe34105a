// Home Assistant's MQTT discovery: the retained configs that make the
// service a device of its own, and each controller a device behind it with
// an entity per thing its outputs do.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tavo_usb.h"

struct discovery_message {
    std::string topic;
    std::string payload;  // JSON
};

// The service's own device, "tavoctl-mqtt on HOST", with its connection to
// the broker as a connectivity sensor, as
// DISCOVERY_PREFIX/binary_sensor/NODE/connectivity/config (NODE: see
// discovery_node).
std::vector<discovery_message> bridge_discovery_messages(const std::string& discovery_prefix,
                                                         const std::string& base_topic,
                                                         const std::string& host);

// Every config of the controller named `id` (see controller_ids), as
// DISCOVERY_PREFIX/COMPONENT/NODE/OBJECT/config.
std::vector<discovery_message> discovery_messages(const std::string& discovery_prefix,
                                                  const std::string& base_topic, const std::string& id,
                                                  const tavo_usb_device& device);

// The topic filter under which the configs of controller `id` are found.
std::string discovery_filter(const std::string& discovery_prefix, const std::string& base_topic,
                             const std::string& id);
