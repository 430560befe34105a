// The connection to the MQTT broker (libmosquitto, in a network thread of
// its own that also reconnects, with a growing delay, whenever the broker
// goes away).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"

struct mosquitto;
struct mosquitto_message;

struct broker_events {
    // After each connection, with the subscriptions asked for.
    std::function<void()> connected;
    // A message on a subscribed topic. Runs on the network thread: it must
    // not wait for anything slow.
    std::function<void(const std::string& topic, std::string_view payload, bool retained)> message;
};

class broker_link {
  public:
    broker_link() = default;
    ~broker_link();
    broker_link(const broker_link&) = delete;
    broker_link& operator=(const broker_link&) = delete;

    // Connects to the configured broker with `will_topic` reading "offline"
    // once the connection is lost, and subscribes to `subscriptions` on
    // every connection. Returns 0, or -1 with `error` when the connection
    // cannot even be tried. A broker that is not there yet is not an error.
    int start(const service_config& config, const std::string& will_topic,
              std::vector<std::string> subscriptions, broker_events events, std::string* error);

    // Retained messages go at QoS 1, so that the broker keeps them even
    // across a lost packet; the rest at QoS 0. Dropped while disconnected:
    // everything retained is published again on the next connection.
    void publish(const std::string& topic, std::string_view payload, bool retain);

    // Publishes "offline" on the will's topic, waits a little for the broker
    // to take it, and disconnects.
    void stop();

  private:
    static void on_connect(mosquitto* client, void* self, int code);
    static void on_disconnect(mosquitto* client, void* self, int code);
    static void on_message(mosquitto* client, void* self, const mosquitto_message* message);
    static void on_publish(mosquitto* client, void* self, int id);

    mosquitto* client_ = nullptr;
    bool looping_ = false;
    std::string will_topic_;
    std::vector<std::string> subscriptions_;
    broker_events events_;
    std::mutex lock_;
    std::condition_variable published_;
    bool connected_ = false;
    int acknowledged_ = 0;  // the message id of the last publish the broker took
};
