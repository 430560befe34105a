#include "service.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <system_error>

#include "discovery.h"
#include "result.h"
#include "topics.h"

namespace {

std::string host_name() {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return "this host";
    }
    return host;
}

std::string describe(const tavo_usb_device& device) {
    return (device.serial.empty() ? std::string("no serial number") : "serial number " + device.serial) +
           ", " + (device.port.empty() ? std::string("no port") : "port " + device.port) + ", " + device.path;
}

}  // namespace

int mqtt_service::start(std::string* error) {
    if (watch_.start([this](const std::string& id,
                            const watched_controller& controller) { controller_changed(id, controller); },
                     error) != 0) {
        return -1;
    }
    std::vector<std::string> subscriptions = command_subscriptions(config_.base_topic);
    // What an earlier run left retained, for controllers gone since.
    subscriptions.push_back(availability_topic(config_.base_topic, "+"));
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
    // Every queue first, so that no output starts its next command while
    // another's is being waited for.
    for (auto& entry : workers) {
        entry.second->drop_waiting();
    }
    for (auto& entry : workers) {
        entry.second->stop();
    }
    watch_.stop();
    broker_.stop();
}

void mqtt_service::connected() {
    broker_.publish(bridge_availability_topic(config_.base_topic), "online", true);
    if (!config_.discovery_prefix.empty()) {
        // The bridge before the devices that name it as their via_device.
        for (const discovery_message& config :
             bridge_discovery_messages(config_.discovery_prefix, config_.base_topic, host_name())) {
            broker_.publish(config.topic, config.payload, true);
        }
    }
    // A controller gone meanwhile has its "offline" retained already, or
    // finds it in availability_kept(); one forgotten stays forgotten.
    watch_.each([this](const std::string& id, const watched_controller& controller) {
        if (controller.present) {
            announce(id, controller);
        }
    });
}

void mqtt_service::announce(const std::string& id, const watched_controller& controller) {
    broker_.publish(availability_topic(config_.base_topic, id), "online", true);
    if (config_.discovery_prefix.empty()) {
        return;
    }
    for (const discovery_message& config :
         discovery_messages(config_.discovery_prefix, config_.base_topic, id, controller.device)) {
        broker_.publish(config.topic, config.payload, true);
    }
}

void mqtt_service::controller_changed(const std::string& id, const watched_controller& controller) {
    if (controller.present) {
        log_line("controller " + id + " plugged in (" + describe(controller.device) + ")");
        announce(id, controller);
    } else {
        log_line("controller " + id + " gone");
        broker_.publish(availability_topic(config_.base_topic, id), "offline", true);
    }
}

// A controller that was online when an earlier run ended, and is not here
// now, would read online for good.
void mqtt_service::availability_kept(const std::string& topic, std::string_view payload) {
    const std::string prefix = config_.base_topic + "/";
    const std::string suffix = "/availability";
    if (payload != "online" || !topic.starts_with(prefix) || topic.size() <= prefix.size() + suffix.size()) {
        return;
    }
    const std::string id = topic.substr(prefix.size(), topic.size() - prefix.size() - suffix.size());
    if (id == "bridge") {
        return;
    }
    watch_.when_absent(id, [&] {
        log_line("controller " + id + " is not here: its availability, kept online, is now offline");
        broker_.publish(topic, "offline", true);
    });
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
    if (topic.ends_with("/availability")) {
        // Only what the broker kept: the rest is this service's own, or
        // --forget clearing it.
        if (retained) {
            availability_kept(topic, payload);
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

// Each result is an event, never retained: a client that subscribes and
// then sends a command takes the first result as its own. The last one is
// also kept, retained, for Home Assistant's next start, but never for a
// controller that is not here: nothing is left behind for one that
// --forget cleared. An MQTT 5 command's answer goes to its response topic
// too, unless that is the result topic (mosquitto_rr -e), where it is
// already.
void mqtt_service::publish_result(const std::string& id, int output, const reply_address& reply,
                                  const std::string& payload) {
    const std::string result_topic = output_topic(config_.base_topic, id, output, "result");
    broker_.publish(result_topic, payload, false);
    if (reply.topic != result_topic) {
        broker_.reply(reply, payload);
    }
    watch_.when_present(id, [&] {
        broker_.publish(output_topic(config_.base_topic, id, output, "last_result"), payload, true);
    });
}

void mqtt_service::reject(const std::string& topic, const std::string& id, int output,
                          const std::string& error, const reply_address& reply) {
    publish_result(id, output, reply, result_payload(false, error));
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
        setup.publish_result = [this, id = target.id, output = target.output](const reply_address& to,
                                                                              const std::string& text) {
            publish_result(id, output, to, text);
        };
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
