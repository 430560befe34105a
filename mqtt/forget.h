// tavoctl-mqtt --forget ID: clears everything the broker keeps of a
// controller that is gone for good, so that Home Assistant removes its
// device.
#pragma once

#include <string>

#include "config.h"

// Connects to the configured broker with a client id of its own (the
// service's connection, if it runs, is left alone), clears every retained
// message of controller `id` (its discovery configs, availability, channels,
// results, anything else under BASE/ID/) and prints "cleared TOPIC" for
// each, in topic order. Refuses a controller that reads online while the
// service does. Returns the exit status: 0 once the broker has taken every
// clearing, 1 with a line on standard error for an id that is none, a
// broker that cannot be reached or does not answer, a controller online,
// or one of which nothing is kept.
int forget_controller(const service_config& config, const std::string& id);
