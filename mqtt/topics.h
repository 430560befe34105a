// The service's topics, and the names controllers go by in them.
#pragma once

#include <string>
#include <vector>

#include "tavo_usb.h"

// Each controller's name in topics, in the list's order: its serial number,
// or its USB port where it has none (or where another controller listed
// before it has the same, or where it would be the bridge's), with every character but A-Z, a-z, 0-9, - and _
// as _. A controller that tells neither goes by its device path.
std::vector<std::string> controller_ids(const tavo_usb_device_list& list);

enum class command_kind { channel, key, setup };

struct command_topic {
    std::string id;
    int output = 0;
    command_kind kind = command_kind::key;
};

// Reads BASE/ID/N/{channel,key,setup}/set. Returns false for any other topic.
bool read_command_topic(const std::string& base, const std::string& topic, command_topic* command);

// The subscriptions for every command topic under `base`.
std::vector<std::string> command_subscriptions(const std::string& base);

std::string bridge_availability_topic(const std::string& base);
std::string availability_topic(const std::string& base, const std::string& id);
std::string output_topic(const std::string& base, const std::string& id, int output, const char* leaf);
