#include "forget.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "broker.h"
#include "discovery.h"
#include "result.h"
#include "topics.h"

namespace {

constexpr int keepalive_s = 60;
// Every answer of a broker that is there comes well within this.
constexpr std::chrono::seconds answer_bound(10);
constexpr int loop_step_ms = 100;

bool valid_id(const std::string& id) {
    if (id.empty() || id == "bridge") {
        return false;
    }
    for (const char c : id) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_';
        if (!kept) {
            return false;
        }
    }
    return true;
}

struct forget_state {
    int connack = -1;  // the broker's answer to the connection, once it came
    std::string marker_topic;
    std::string marker;
    bool marker_seen = false;
    std::map<std::string, std::string> kept;  // retained topic -> payload
    std::set<int> unconfirmed;                // message ids the broker has yet to take
};

void on_connect(mosquitto* /*client*/, void* self, int code) {
    static_cast<forget_state*>(self)->connack = code;
}

// Retained messages come before anything published after the subscription:
// once the marker is back, all that is kept has come.
void on_message(mosquitto* /*client*/, void* self, const mosquitto_message* message) {
    auto* state = static_cast<forget_state*>(self);
    const std::string payload(static_cast<const char*>(message->payload),
                              message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
    if (message->topic == state->marker_topic && payload == state->marker) {
        state->marker_seen = true;
    } else if (message->retain && !payload.empty()) {
        state->kept[message->topic] = payload;
    }
}

void on_publish(mosquitto* /*client*/, void* self, int id) {
    static_cast<forget_state*>(self)->unconfirmed.erase(id);
}

// Runs the connection until `done()` or the bound; false when it ran out or
// the connection failed.
template <typename Done>
bool run_until(mosquitto* client, Done&& done) {
    const auto deadline = std::chrono::steady_clock::now() + answer_bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        const int code = mosquitto_loop(client, loop_step_ms, 1);
        if (code != MOSQ_ERR_SUCCESS) {
            return false;
        }
    }
    return true;
}

std::string code_text(int code) {
    return code == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(code);
}

int forget_with(mosquitto* client, forget_state* state, const service_config& config, const std::string& id) {
    const std::string broker = config.host + ":" + std::to_string(config.port);
    int code = set_credentials(client, config);
    if (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_connect(client, config.host.c_str(), config.port, keepalive_s);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        log_line("tavoctl-mqtt: cannot connect to " + broker + ": " + code_text(code));
        return 1;
    }
    if (!run_until(client, [&] { return state->connack >= 0; }) || state->connack != 0) {
        log_line("tavoctl-mqtt: cannot connect to " + broker + ": " +
                 (state->connack > 0 ? mosquitto_connack_string(state->connack) : "no answer"));
        return 1;
    }
    const std::string bridge = bridge_availability_topic(config.base_topic);
    std::vector<std::string> filters = {config.base_topic + "/" + id + "/#", bridge};
    if (!config.discovery_prefix.empty()) {
        filters.push_back(discovery_filter(config.discovery_prefix, config.base_topic, id));
    }
    // Inside BASE/ID/#: the marker is the only message published there that
    // is not retained, and no one else's.
    state->marker_topic = config.base_topic + "/" + id + "/forget";
    state->marker = std::to_string(::getpid()) + "-" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    for (const std::string& filter : filters) {
        code = mosquitto_subscribe(client, nullptr, filter.c_str(), 0);
        if (code != MOSQ_ERR_SUCCESS) {
            log_line("tavoctl-mqtt: cannot subscribe to " + filter + ": " + code_text(code));
            return 1;
        }
    }
    code = mosquitto_publish(client, nullptr, state->marker_topic.c_str(),
                             static_cast<int>(state->marker.size()), state->marker.data(), 0, false);
    if (code != MOSQ_ERR_SUCCESS || !run_until(client, [&] { return state->marker_seen; })) {
        log_line("tavoctl-mqtt: " + broker + " did not say what it keeps within " +
                 std::to_string(answer_bound.count()) + " s");
        return 1;
    }
    const std::string availability = availability_topic(config.base_topic, id);
    const auto kept_as = [&](const std::string& topic, const char* payload) {
        const auto found = state->kept.find(topic);
        return found != state->kept.end() && found->second == payload;
    };
    if (kept_as(bridge, "online") && kept_as(availability, "online")) {
        log_line("tavoctl-mqtt: controller " + id + " is online: unplug it before forgetting it");
        return 1;
    }
    state->kept.erase(bridge);
    if (state->kept.empty()) {
        log_line("tavoctl-mqtt: " + broker + " keeps nothing of controller " + id);
        return 1;
    }
    for (const auto& entry : state->kept) {
        int message_id = 0;
        code = mosquitto_publish(client, &message_id, entry.first.c_str(), 0, nullptr, 1, true);
        if (code != MOSQ_ERR_SUCCESS) {
            log_line("tavoctl-mqtt: cannot clear " + entry.first + ": " + code_text(code));
            return 1;
        }
        state->unconfirmed.insert(message_id);
    }
    if (!run_until(client, [&] { return state->unconfirmed.empty(); })) {
        log_line("tavoctl-mqtt: " + broker + " did not confirm the clearing within " +
                 std::to_string(answer_bound.count()) + " s");
        return 1;
    }
    for (const auto& entry : state->kept) {
        std::printf("cleared %s\n", entry.first.c_str());
    }
    mosquitto_disconnect(client);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int forget_controller(const service_config& config, const std::string& id) {
    if (!valid_id(id)) {
        log_line("tavoctl-mqtt: '" + id +
                 "' is no controller's id (an id is made of A-Z, a-z, 0-9, - and _, and " +
                 "is not 'bridge')");
        return 1;
    }
    mosquitto_lib_init();
    forget_state state;
    // No client id: the broker makes one up, so that a running service
    // keeps its connection.
    mosquitto* client = mosquitto_new(nullptr, true, &state);
    int status = 1;
    if (client == nullptr) {
        log_line("tavoctl-mqtt: cannot create an MQTT client");
    } else {
        mosquitto_connect_callback_set(client, on_connect);
        mosquitto_message_callback_set(client, on_message);
        mosquitto_publish_callback_set(client, on_publish);
        status = forget_with(client, &state, config, id);
        mosquitto_destroy(client);
    }
    mosquitto_lib_cleanup();
    return status;
}
