#include "service.h"

#include <chrono>
#include <system_error>

#include "discovery.h"
#include "result.h"
#include "topics.h"

int mqtt_service::start(std::string* error) {
    try {
        watch_.start([this](const std::string& id, const watched_controller& controller) {
            controller_changed(id, controller);
        });
    } catch (const std::system_error&) {
        *error = "no thread to watch the controllers with";
        return -1;
    }
    std::vector<std::string> subscriptions = command_subscriptions(config_.base_topic);
    if (!config_.discovery_prefix.empty()) {
        subscriptions.push_back(config_.discovery_prefix + "/status");
    }
    broker_events events;
    events.connected = [this] { connected(); };
    events.message = [this](const std::string& topic, std::string_view payload, bool retained,
                            const reply_address& reply) { message(topic, payload, retained, reply); };
    return broker_.start(config_, bridge_availability_topic(config_.base_topic), std::move(subscriptions),
                         std::move(events), error);
}

void mqtt_service::stop() {
    std::map<std::pair<std::string, int>, std::unique_ptr<output_worker>> workers;
    {
        const std::lock_guard<std::mutex> guard(workers_lock_);
        stopping_ = true;
        workers.swap(workers_);
    }
    for (auto& entry : workers) {
        entry.second->stop();
    }
    watch_.stop();
    broker_.stop();
}

void mqtt_service::connected() {
    broker_.publish(bridge_availability_topic(config_.base_topic), "online", true);
    watch_.each(
        [this](const std::string& id, const watched_controller& controller) { announce(id, controller); });
}

void mqtt_service::announce(const std::string& id, const watched_controller& controller) {
    broker_.publish(availability_topic(config_.base_topic, id), controller.present ? "online" : "offline",
                    true);
    if (config_.discovery_prefix.empty()) {
        return;
    }
    for (const discovery_message& config :
         discovery_messages(config_.discovery_prefix, config_.base_topic, id, controller.device)) {
        broker_.publish(config.topic, config.payload, true);
    }
}

void mqtt_service::controller_changed(const std::string& id, const watched_controller& controller) {
    log_line("controller " + id + (controller.present ? " plugged in" : " gone"));
    if (controller.present) {
        announce(id, controller);
    } else {
        broker_.publish(availability_topic(config_.base_topic, id), "offline", true);
    }
}

void mqtt_service::message(const std::string& topic, std::string_view payload, bool retained,
                           const reply_address& reply) {
    if (!config_.discovery_prefix.empty() && topic == config_.discovery_prefix + "/status") {
        // Home Assistant has (re)started and forgotten what was announced.
        if (payload == "online") {
            connected();
        }
        return;
    }
    if (retained) {
        // Retained, it would be sent again at every start.
        log_line(topic + ": a retained message, ignored; nothing sent");
        return;
    }
    command(topic, payload, reply);
}

void mqtt_service::reject(const std::string& topic, const std::string& id, int output,
                          const std::string& error, const reply_address& reply) {
    const std::string payload = result_payload(false, error);
    const std::string result_topic = output_topic(config_.base_topic, id, output, "result");
    broker_.publish(result_topic, payload, false);
    if (reply.topic != result_topic) {
        broker_.reply(reply, payload);
    }
    log_command(topic, "", false, error);
}

void mqtt_service::command(const std::string& topic, std::string_view payload, const reply_address& reply) {
    command_topic target;
    if (!read_command_topic(config_.base_topic, topic, &target)) {
        log_line(topic + ": not a command topic, ignored");
        return;
    }
    // Topics of controllers never seen are not given threads.
    if (!watch_.known(target.id)) {
        reject(topic, target.id, target.output, "unable to find tavo controller " + target.id, reply);
        return;
    }
    const output_settings& settings = config_.settings_of(target.id);
    queued_command queued;
    queued.topic = topic;
    queued.arrived = std::chrono::steady_clock::now();
    queued.reply = reply;
    std::string error;
    if (read_command(target.kind, payload, settings.plus[target.output], &queued.request, &error) != 0) {
        reject(topic, target.id, target.output, error, reply);
        return;
    }
    const std::lock_guard<std::mutex> guard(workers_lock_);
    if (stopping_) {
        reject(topic, target.id, target.output, "dropped: the service is stopping", reply);
        return;
    }
    std::unique_ptr<output_worker>& worker = workers_[{target.id, target.output}];
    if (!worker) {
        worker_setup setup;
        setup.base_topic = config_.base_topic;
        setup.id = target.id;
        setup.output = target.output;
        setup.plus = settings.plus[target.output];
        setup.gap_ms = settings.gap_ms;
        setup.pause_ms = settings.pause_ms;
        setup.stale_after = std::chrono::seconds(config_.stale_after_s);
        setup.publish = [this](const std::string& to, const std::string& text, bool retain) {
            broker_.publish(to, text, retain);
        };
        setup.answer = [this](const reply_address& to, const std::string& text) { broker_.reply(to, text); };
        try {
            worker = std::make_unique<output_worker>(std::move(setup));
        } catch (const std::system_error&) {
            workers_.erase({target.id, target.output});
            reject(topic, target.id, target.output, "no thread to send with: nothing was sent", reply);
            return;
        }
    }
    worker->enqueue(queued);
}
