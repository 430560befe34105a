// The connection to the MQTT broker: libmosquitto driven from a network
// thread of our own, which connects, and reconnects after any failure or
// loss (a TLS error, a name that does not resolve yet, a refusal) until
// stop(). libmosquitto's own thread gives up for good on some of those.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config.h"
#include "result.h"

struct broker_events {
    // After each connection, with the subscriptions asked for.
    std::function<void()> connected;
    // A message on a subscribed topic, with where its sender wants the
    // answer (MQTT 5; empty otherwise). Runs on the network thread: it must
    // not wait for anything slow.
    std::function<void(const std::string& topic, std::string_view payload, bool retained,
                       const reply_address& reply)>
        message;
};

// The client id when the configuration names none: "tavoctl" and 16 hex
// digits of a hash of the machine's id (the file at `machine_id_path`, or
// the host name where it has none) and `base_topic`.
std::string default_client_id(const std::string& base_topic, const char* machine_id_path = "/etc/machine-id");

// The configuration's credentials and TLS for `client`: a libmosquitto code.
int set_credentials(mosquitto* client, const service_config& config);

class broker_link {
  public:
    broker_link() = default;
    ~broker_link();
    broker_link(const broker_link&) = delete;
    broker_link& operator=(const broker_link&) = delete;

    // Starts connecting to the configured broker with `will_topic` reading
    // "offline" once the connection is lost, and subscribes to
    // `subscriptions` on every connection. Returns 0, or -1 with `error`
    // when the client cannot be set up. A broker that is not there yet, or
    // that refuses, is not an error: it is tried again until stop().
    int start(const service_config& config, const std::string& will_topic,
              std::vector<std::string> subscriptions, broker_events events, std::string* error);

    // Retained messages go at QoS 1, so that the broker keeps them even
    // across a lost packet; the rest at QoS 0. Dropped while disconnected:
    // everything retained is published again on the next connection.
    void publish(const std::string& topic, std::string_view payload, bool retain);

    // An answer to `reply.topic`, with its correlation data, at QoS 0.
    void reply(const reply_address& reply, std::string_view payload);

    // Publishes "offline" on the will's topic, waits a little for the broker
    // to take it, disconnects and ends the network thread.
    void stop();

  private:
    void run();
    int attempt(int* error_number);
    int tcp_outcome(int hint);
    std::chrono::milliseconds next_pause();
    bool fall_back_to_mqtt311();
    std::string broker_name() const;
    bool stopping();
    void failed(const std::string& reason);
    std::string reason_of(int code, int error_number);

    static void on_connect(mosquitto* client, void* self, int code, int flags,
                           const mosquitto_property* properties);
    static void on_disconnect(mosquitto* client, void* self, int code, const mosquitto_property* properties);
    static void on_message(mosquitto* client, void* self, const mosquitto_message* message,
                           const mosquitto_property* properties);
    static void on_publish(mosquitto* client, void* self, int id, int code,
                           const mosquitto_property* properties);
    static void on_log(mosquitto* client, void* self, int level, const char* text);

    mosquitto* client_ = nullptr;
    std::string host_;
    int port_ = 0;
    std::string client_id_;
    std::string will_topic_;
    std::vector<std::string> subscriptions_;
    broker_events events_;
    std::thread thread_;

    // The network thread's own: what it has said, and how long it waits.
    bool named_ = false;           // the broker's name and port given to libmosquitto
    bool speaks_mqtt311_ = false;  // the client asks for 3.1.1, since the broker refused 5
    bool ever_connected_ = false;
    std::string failing_since_;  // the reason last logged; empty once connected
    std::chrono::milliseconds pause_{0};
    int short_lived_ = 0;  // connections in a row that the broker dropped soon

    // What the attempt under way has learnt of how it ended, from the
    // callbacks (libmosquitto's log may call from any thread), and the
    // state that stop() waits on: under lock_.
    std::mutex lock_;
    std::condition_variable changed_;
    std::string refused_;      // the broker's reason in its CONNACK or DISCONNECT
    bool taken_over_ = false;  // the broker said another client took the client id
    // The broker refused MQTT 5: it speaks 3.1.1 alone, which the next
    // attempt (and every one after it) speaks instead.
    bool mqtt5_refused_ = false;
    bool had_connection_ = false;  // the broker took the attempt's CONNECT
    std::chrono::steady_clock::time_point connected_at_;
    std::string tls_error_;  // OpenSSL's reason, as libmosquitto logs it
    bool stopping_ = false;
    bool connected_ = false;
    int acknowledged_ = 0;  // the message id of the last publish the broker took
};
