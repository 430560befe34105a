// What arrives goes where: commands to their output's worker, controllers'
// comings and goings and every (re)connection to the broker as availability
// and discovery.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "broker.h"
#include "config.h"
#include "controller_watch.h"
#include "output_worker.h"

class mqtt_service {
  public:
    explicit mqtt_service(const service_config& config) : config_(config) {}
    mqtt_service(const mqtt_service&) = delete;
    mqtt_service& operator=(const mqtt_service&) = delete;

    // Watches the controllers and connects. Returns 0, or -1 with `error`.
    int start(std::string* error);

    // Drops the commands waiting on every output at once (each with its
    // result), lets the command under way on each finish, then says offline
    // and disconnects.
    void stop();

  private:
    void connected();
    void message(const std::string& topic, std::string_view payload, bool retained,
                 const reply_address& reply);
    void command(const std::string& topic, std::string_view payload, const reply_address& reply);
    void availability_kept(const std::string& topic, std::string_view payload);
    void controller_changed(const std::string& id, const watched_controller& controller);
    void announce(const std::string& id, const watched_controller& controller);
    void publish_result(const std::string& id, int output, const reply_address& reply,
                        const std::string& payload);
    void reject(const std::string& topic, const std::string& id, int output, const std::string& error,
                const reply_address& reply);

    const service_config& config_;
    broker_link broker_;
    controller_watch watch_;
    std::mutex workers_lock_;
    bool stopping_ = false;
    std::map<std::pair<std::string, int>, std::unique_ptr<output_worker>> workers_;
};
