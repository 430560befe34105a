// Home Assistant's MQTT discovery: the retained configs that make one
// controller a device with an entity per thing its outputs do.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tavo_usb.h"

struct discovery_message {
    std::string topic;
    std::string payload;  // JSON
};

// Every config of the controller named `id` (see controller_ids), as
// DISCOVERY_PREFIX/COMPONENT/tavoctl_ID/OBJECT/config.
std::vector<discovery_message> discovery_messages(const std::string& discovery_prefix,
                                                  const std::string& base_topic, const std::string& id,
                                                  const tavo_usb_device& device);
