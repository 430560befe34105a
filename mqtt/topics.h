// The service's topics, and the names controllers go by in them.
#pragma once

#include <string>
#include <vector>

#include "tavo_usb.h"

// Each controller's name in topics (its id), in the list's order, with every
// character but A-Z, a-z, 0-9, - and _ as _: its serial number; where
// another controller present has the same, SERIAL_PORT; without a serial
// number, its USB port; where the platform tells no port either, its device
// path. No two share one: where two would, the one named by the firmer
// (in that order) keeps it and the other takes NAME_2 (or _3...), as does a
// controller that would be "bridge". An id stays a controller's for as
// long as the controllers present stay the same; one with a serial number
// of its own keeps its id from port to port.
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

// The node_id in Home Assistant's discovery topics (and the start of every
// unique_id) of `name` (an id, or "bridge") under base topic `base`: the
// base topic with every byte but A-Z, a-z and 0-9 as -XX (hex), then _NAME.
// Two services with base topics of their own never share one.
std::string discovery_node(const std::string& base, const std::string& name);

std::string bridge_availability_topic(const std::string& base);
std::string availability_topic(const std::string& base, const std::string& id);
std::string output_topic(const std::string& base, const std::string& id, int output, const char* leaf);
