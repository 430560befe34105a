#include "broker.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "result.h"

namespace {

constexpr int keepalive_s = 60;
// Reconnecting waits 1 s, then twice as long each time, up to a minute.
constexpr unsigned reconnect_first_s = 1;
constexpr unsigned reconnect_most_s = 60;
constexpr std::chrono::seconds offline_wait(5);

std::string default_client_id() {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        return "tavoctl-mqtt";
    }
    return std::string("tavoctl-mqtt-") + host;
}

}  // namespace

broker_link::~broker_link() {
    stop();
}

int broker_link::start(const service_config& config, const std::string& will_topic,
                       std::vector<std::string> subscriptions, broker_events events, std::string* error) {
    will_topic_ = will_topic;
    subscriptions_ = std::move(subscriptions);
    events_ = std::move(events);
    mosquitto_lib_init();
    const std::string client_id = config.client_id.empty() ? default_client_id() : config.client_id;
    // A clean session: commands sent while the service was away are not
    // delivered late.
    client_ = mosquitto_new(client_id.c_str(), true, this);
    if (client_ == nullptr) {
        *error = "cannot create an MQTT client";
        return -1;
    }
    mosquitto_connect_callback_set(client_, on_connect);
    mosquitto_disconnect_callback_set(client_, on_disconnect);
    mosquitto_message_callback_set(client_, on_message);
    mosquitto_publish_callback_set(client_, on_publish);
    int code = mosquitto_will_set(client_, will_topic_.c_str(), 7, "offline", 1, true);
    if (code == MOSQ_ERR_SUCCESS && (!config.username.empty() || !config.password.empty())) {
        code = mosquitto_username_pw_set(client_, config.username.empty() ? nullptr : config.username.c_str(),
                                         config.password.empty() ? nullptr : config.password.c_str());
    }
    if (code == MOSQ_ERR_SUCCESS && !config.tls_ca_file.empty()) {
        code = mosquitto_tls_set(client_, config.tls_ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_reconnect_delay_set(client_, reconnect_first_s, reconnect_most_s, true);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        *error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(code);
        return -1;
    }
    // The network thread first: it reconnects, with the delay set above,
    // whenever a connection fails or is lost, the first one included.
    code = mosquitto_loop_start(client_);
    if (code != MOSQ_ERR_SUCCESS) {
        *error = std::string("cannot start the MQTT network thread: ") + mosquitto_strerror(code);
        return -1;
    }
    looping_ = true;
    code = mosquitto_connect_async(client_, config.host.c_str(), config.port, keepalive_s);
    if (code == MOSQ_ERR_INVAL) {
        *error = "cannot connect to " + config.host + ":" + std::to_string(config.port) + ": " +
                 mosquitto_strerror(code);
        return -1;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        log_line("broker " + config.host + ":" + std::to_string(config.port) + ": " +
                 (code == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(code)) +
                 "; trying again");
    }
    return 0;
}

void broker_link::publish(const std::string& topic, std::string_view payload, bool retain) {
    if (client_ == nullptr || payload.size() > INT_MAX) {
        return;
    }
    int id = 0;
    const int code = mosquitto_publish(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                                       payload.data(), retain ? 1 : 0, retain);
    if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN) {
        log_line("cannot publish to " + topic + ": " + mosquitto_strerror(code));
    }
}

void broker_link::stop() {
    if (client_ == nullptr) {
        return;
    }
    if (looping_) {
        int id = 0;
        if (mosquitto_publish(client_, &id, will_topic_.c_str(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
            // Until the broker has acknowledged it, or the wait is over.
            std::unique_lock<std::mutex> guard(lock_);
            published_.wait_for(guard, offline_wait, [&] { return !connected_ || acknowledged_ == id; });
        }
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        looping_ = false;
    }
    mosquitto_destroy(client_);
    client_ = nullptr;
    mosquitto_lib_cleanup();
}

void broker_link::on_connect(mosquitto* client, void* self, int code) {
    auto* link = static_cast<broker_link*>(self);
    if (code != 0) {
        log_line(std::string("broker refused the connection: ") + mosquitto_connack_string(code));
        return;
    }
    for (const std::string& filter : link->subscriptions_) {
        const int subscribed = mosquitto_subscribe(client, nullptr, filter.c_str(), 0);
        if (subscribed != MOSQ_ERR_SUCCESS) {
            log_line("cannot subscribe to " + filter + ": " + mosquitto_strerror(subscribed));
        }
    }
    {
        const std::lock_guard<std::mutex> guard(link->lock_);
        link->connected_ = true;
    }
    log_line("connected to the broker");
    link->events_.connected();
}

void broker_link::on_disconnect(mosquitto* /*client*/, void* self, int code) {
    auto* link = static_cast<broker_link*>(self);
    {
        const std::lock_guard<std::mutex> guard(link->lock_);
        link->connected_ = false;
    }
    link->published_.notify_all();
    if (code != 0) {
        log_line("lost the broker; reconnecting");
    }
}

void broker_link::on_message(mosquitto* /*client*/, void* self, const mosquitto_message* message) {
    auto* link = static_cast<broker_link*>(self);
    const std::string_view payload(
        static_cast<const char*>(message->payload),
        message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
    link->events_.message(message->topic, payload, message->retain);
}

void broker_link::on_publish(mosquitto* /*client*/, void* self, int id) {
    auto* link = static_cast<broker_link*>(self);
    {
        const std::lock_guard<std::mutex> guard(link->lock_);
        link->acknowledged_ = id;
    }
    link->published_.notify_all();
}
