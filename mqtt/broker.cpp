#include "broker.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <numeric>
#include <system_error>

namespace {

constexpr int keepalive_s = 60;
// How long one pass of the network loop may wait for the socket: a publish
// from another thread wakes it sooner.
constexpr int loop_wait_ms = 1000;
// After a failure the next attempt comes soon, then every 2 s at most: a
// broker that comes up is used within about 2 s of it listening.
constexpr std::chrono::milliseconds first_pause(250);
constexpr std::chrono::milliseconds longest_pause(2000);
// A broker that drops the connection soon after taking it (two clients with
// one client id, a broker that fails at once) would have the connection
// and its loss said every time: after such a loss the pause is 2 s, then
// twice as long after each one in a row, up to a minute; a connection that
// lasted starts over.
constexpr std::chrono::seconds steady_connection(30);
constexpr std::chrono::milliseconds flapping_pause_most(60000);
// A broker that says another client took the client id: that client, most
// likely another service, is let be for a while.
constexpr std::chrono::seconds taken_over_pause(30);
// A TCP connection not made by then has failed; stop() is seen between
// slices of the wait.
constexpr std::chrono::seconds connect_wait(10);
constexpr int poll_slice_ms = 100;
constexpr std::chrono::seconds offline_wait(5);
// Once stopping, how long the DISCONNECT may take to go out.
constexpr std::chrono::seconds disconnect_wait(2);

// A callback must not let an exception into libmosquitto's C frames.
template <typename Body>
void guarded(Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tavoctl-mqtt: %s\n", failure.what());
    }
}

// libmosquitto's own texts end in a full stop; ours never do.
std::string without_full_stop(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

// Whether the socket `fd` has failed: 0, or its error (`otherwise` when it
// has none to tell, having told it to a read or write already).
int socket_failure(int fd, int otherwise) {
    pollfd watched{fd, 0, 0};
    if (poll(&watched, 1, 0) <= 0 || (watched.revents & (POLLERR | POLLHUP)) == 0) {
        return 0;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error == 0) {
        error = otherwise;
    }
    return error;
}

// The address families of `host`'s addresses, in the resolver's order.
// Returns 0, or getaddrinfo's error.
int address_families(const std::string& host, std::vector<int>* families) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int looked_up = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (looked_up != 0) {
        return looked_up;
    }
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if ((at->ai_family == AF_INET || at->ai_family == AF_INET6) &&
            std::find(families->begin(), families->end(), at->ai_family) == families->end()) {
            families->push_back(at->ai_family);
        }
    }
    freeaddrinfo(found);
    return families->empty() ? EAI_NONAME : 0;
}

std::string machine_identity(const char* machine_id_path) {
    std::ifstream in(machine_id_path);
    std::string id;
    if (in && std::getline(in, id) && id.size() == 32 &&
        id.find_first_not_of("0123456789abcdef") == std::string::npos) {
        return id;
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        return host;
    }
    return {};
}

}  // namespace

std::string default_client_id(const std::string& base_topic, const char* machine_id_path) {
    // FNV-1a: stable from one run, build and machine to the next, and the
    // machine's id itself is never shown to the broker.
    const std::string named = machine_identity(machine_id_path) + "\n" + base_topic;
    const std::uint64_t hash = std::accumulate(
        named.begin(), named.end(), std::uint64_t{14695981039346656037ULL},
        [](std::uint64_t sum, char c) { return (sum ^ static_cast<unsigned char>(c)) * 1099511628211ULL; });
    // 23 letters and digits: what MQTT says every broker must accept.
    char id[24];
    std::snprintf(id, sizeof id, "tavoctl%016llx", static_cast<unsigned long long>(hash));
    return id;
}

int set_credentials(mosquitto* client, const service_config& config) {
    int code = MOSQ_ERR_SUCCESS;
    if (!config.username.empty() || !config.password.empty()) {
        code = mosquitto_username_pw_set(client, config.username.empty() ? nullptr : config.username.c_str(),
                                         config.password.empty() ? nullptr : config.password.c_str());
    }
    if (code == MOSQ_ERR_SUCCESS && !config.tls_ca_file.empty()) {
        code = mosquitto_tls_set(client, config.tls_ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    return code;
}

broker_link::~broker_link() {
    stop();
}

int broker_link::start(const service_config& config, const std::string& will_topic,
                       std::vector<std::string> subscriptions, broker_events events, std::string* error) {
    host_ = config.host;
    port_ = config.port;
    will_topic_ = will_topic;
    subscriptions_ = std::move(subscriptions);
    events_ = std::move(events);
    mosquitto_lib_init();
    client_id_ = config.client_id.empty() ? default_client_id(config.base_topic) : config.client_id;
    // A clean session: commands sent while the service was away are not
    // delivered late.
    client_ = mosquitto_new(client_id_.c_str(), true, this);
    if (client_ == nullptr) {
        *error = "cannot create an MQTT client";
        return -1;
    }
    // MQTT 5, for the Response Topic of a command and for the reason a
    // broker gives when it drops the connection.
    int code = mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (code == MOSQ_ERR_SUCCESS) {
        // Publishes from other threads are queued for the network thread.
        code = mosquitto_threaded_set(client_, true);
    }
    mosquitto_connect_v5_callback_set(client_, on_connect);
    mosquitto_disconnect_v5_callback_set(client_, on_disconnect);
    mosquitto_message_v5_callback_set(client_, on_message);
    mosquitto_publish_v5_callback_set(client_, on_publish);
    mosquitto_log_callback_set(client_, on_log);
    if (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_will_set(client_, will_topic_.c_str(), 7, "offline", 1, true);
    }
    if (code == MOSQ_ERR_SUCCESS) {
        code = set_credentials(client_, config);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        *error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(code);
        return -1;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        *error = "no thread to talk to the broker with";
        return -1;
    }
    return 0;
}

bool broker_link::stopping() {
    const std::lock_guard<std::mutex> guard(lock_);
    return stopping_;
}

// One connection from its attempt to its end, then the pause before the
// next, until stop(): whatever ended it, the next attempt comes.
void broker_link::run() {
    while (!stopping()) {
        guarded([&] {
            int error_number = 0;
            const int failure = attempt(&error_number);
            if (stopping()) {
                return;
            }
            if (fall_back_to_mqtt311()) {
                pause_ = std::chrono::milliseconds(0);
                return;
            }
            failed(reason_of(failure, error_number));
            pause_ = next_pause();
        });
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, pause_, [this] { return stopping_; });
    }
}

// A broker that speaks MQTT 3.1.1 alone refuses a client that asks for 5:
// the service speaks 3.1.1 to it from then on, and only its commands'
// Response Topics, which 3.1.1 has not, go unanswered. Returns whether it
// has just fallen back.
bool broker_link::fall_back_to_mqtt311() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (!mqtt5_refused_ || speaks_mqtt311_) {
            return false;
        }
    }
    const int code = mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (code != MOSQ_ERR_SUCCESS) {
        return false;
    }
    speaks_mqtt311_ = true;
    log_line(broker_name() + " speaks MQTT 3.1.1, not 5: the service speaks 3.1.1 to it");
    return true;
}

std::string broker_link::broker_name() const {
    const std::string where = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
    return where + ":" + std::to_string(port_);
}

std::chrono::milliseconds broker_link::next_pause() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (taken_over_) {
        return taken_over_pause;
    }
    if (!had_connection_) {
        return std::clamp(pause_ * 2, first_pause, longest_pause);
    }
    if (std::chrono::steady_clock::now() - connected_at_ >= steady_connection) {
        short_lived_ = 0;
        return first_pause;
    }
    ++short_lived_;
    return std::min(longest_pause * (1 << std::min(short_lived_ - 1, 5)), flapping_pause_most);
}

// Connects and runs the connection until it ends. Returns what ended it,
// with errno as it was then in `error_number`.
int broker_link::attempt(int* error_number) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        refused_.clear();
        tls_error_.clear();
        taken_over_ = false;
        had_connection_ = false;
        connected_ = false;  // whatever became of the last connection, it is over
    }
    // libmosquitto's connect that does not block takes the broker's first
    // address alone: with localhost's ::1 first, a broker on 127.0.0.1
    // would never be reached. Each family is tried in turn, bound to its
    // own any-address, which libmosquitto skips the other family's
    // addresses for.
    std::vector<int> families;
    *error_number = address_families(host_, &families);
    if (*error_number != 0) {
        return MOSQ_ERR_EAI;
    }
    int code = MOSQ_ERR_ERRNO;
    for (std::size_t i = 0; i < families.size() && code != MOSQ_ERR_SUCCESS && !stopping(); ++i) {
        code = mosquitto_string_option(client_, MOSQ_OPT_BIND_ADDRESS,
                                       families[i] == AF_INET ? "0.0.0.0" : "::");
        if (code != MOSQ_ERR_SUCCESS) {
            break;
        }
        // The first call also names the broker; later ones keep everything
        // as it is, the socket pair that wakes the loop included.
        code = named_ ? mosquitto_reconnect_async(client_)
                      : mosquitto_connect_async(client_, host_.c_str(), port_, keepalive_s);
        named_ = true;
        *error_number = errno;
        if (code == MOSQ_ERR_SUCCESS) {
            *error_number = tcp_outcome(*error_number);
            code = *error_number == 0 ? MOSQ_ERR_SUCCESS : MOSQ_ERR_ERRNO;
        }
    }
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_loop(client_, loop_wait_ms, 1);
        *error_number = errno;
        const std::lock_guard<std::mutex> guard(lock_);
        if (code == MOSQ_ERR_SUCCESS && !had_connection_) {
            // A TLS handshake on a socket that failed is retried by
            // libmosquitto at once and for good: it ends here instead.
            const int failure = socket_failure(mosquitto_socket(client_), ECONNRESET);
            if (failure != 0) {
                *error_number = failure;
                code = MOSQ_ERR_ERRNO;
            }
        }
        if (stopping_ && deadline == std::chrono::steady_clock::time_point::max()) {
            // Connected, the DISCONNECT that stop() queued goes out first.
            deadline =
                std::chrono::steady_clock::now() + (connected_ ? disconnect_wait : std::chrono::seconds(0));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    return code;
}

// The TCP connection that libmosquitto started, waited for here, where its
// failure is still known: over TLS, libmosquitto would take a refused
// connection for a handshake under way and try it again for good. Returns
// 0 once connected, or the errno of its failure (`hint` where the socket
// no longer tells it: the failed write of a TLS hello has taken it).
int broker_link::tcp_outcome(int hint) {
    const int fd = mosquitto_socket(client_);
    if (fd < 0) {
        return hint != 0 ? hint : ENOTCONN;
    }
    const auto give_up = std::chrono::steady_clock::now() + connect_wait;
    while (std::chrono::steady_clock::now() < give_up && !stopping()) {
        pollfd watched{fd, POLLOUT, 0};
        const int ready = poll(&watched, 1, poll_slice_ms);
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
        if (ready > 0) {
            const bool connect_error = hint == ECONNREFUSED || hint == ECONNRESET || hint == EHOSTUNREACH ||
                                       hint == ENETUNREACH || hint == ETIMEDOUT;
            return socket_failure(fd, connect_error ? hint : ECONNREFUSED);
        }
    }
    return stopping() ? ECANCELED : ETIMEDOUT;
}

std::string broker_link::reason_of(int code, int error_number) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!refused_.empty()) {
        return refused_;
    }
    // A connection that ends without a word from the broker ends in a read
    // or a write, over TLS or not, whichever came first: one reason for all.
    const bool ended = code == MOSQ_ERR_CONN_LOST || code == MOSQ_ERR_NO_CONN ||
                       (code == MOSQ_ERR_ERRNO &&
                        (error_number == EPIPE || error_number == ECONNRESET || error_number == EPROTO));
    if (had_connection_ && (tls_error_ == "unexpected eof while reading" || (tls_error_.empty() && ended))) {
        return "the connection was lost";
    }
    if (!tls_error_.empty()) {
        return tls_error_;
    }
    switch (code) {
        case MOSQ_ERR_ERRNO:
            return error_number != 0 ? std::strerror(error_number) : "the connection failed";
        case MOSQ_ERR_EAI:
            return gai_strerror(error_number);
        case MOSQ_ERR_NO_CONN:
            return "the broker closed the connection";
        default:
            return without_full_stop(mosquitto_strerror(code));
    }
}

// Said once when a failure begins and again only when its reason changes,
// not at every attempt.
void broker_link::failed(const std::string& reason) {
    if (reason == failing_since_) {
        return;
    }
    failing_since_ = reason;
    log_line((ever_connected_ ? "lost " : "cannot connect to ") + broker_name() + ": " + reason);
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

void broker_link::reply(const reply_address& reply, std::string_view payload) {
    if (client_ == nullptr || reply.topic.empty() || payload.size() > INT_MAX ||
        reply.correlation_data.size() > UINT16_MAX) {
        return;
    }
    mosquitto_property* properties = nullptr;
    int code = reply.correlation_data.empty()
                   ? MOSQ_ERR_SUCCESS
                   : mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                                   reply.correlation_data.data(),
                                                   static_cast<std::uint16_t>(reply.correlation_data.size()));
    if (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_publish_v5(client_, nullptr, reply.topic.c_str(), static_cast<int>(payload.size()),
                                    payload.data(), 0, false, properties);
    }
    mosquitto_property_free_all(&properties);
    if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN) {
        log_line("cannot publish to " + reply.topic + ": " + mosquitto_strerror(code));
    }
}

void broker_link::stop() {
    if (client_ == nullptr) {
        return;
    }
    if (thread_.joinable()) {
        int id = 0;
        std::unique_lock<std::mutex> guard(lock_);
        if (connected_) {
            guard.unlock();
            const int code = mosquitto_publish(client_, &id, will_topic_.c_str(), 7, "offline", 1, true);
            guard.lock();
            if (code == MOSQ_ERR_SUCCESS) {
                // Until the broker has acknowledged it, or the wait is over.
                changed_.wait_for(guard, offline_wait, [&] { return !connected_ || acknowledged_ == id; });
            }
        }
        // Stopping first: the end of the connection is not a loss to tell.
        stopping_ = true;
        const bool disconnect = connected_;
        guard.unlock();
        changed_.notify_all();
        if (disconnect) {
            mosquitto_disconnect(client_);
        }
        thread_.join();
    }
    mosquitto_destroy(client_);
    client_ = nullptr;
    mosquitto_lib_cleanup();
}

void broker_link::on_connect(mosquitto* client, void* self, int code, int /*flags*/,
                             const mosquitto_property* /*properties*/) {
    auto* link = static_cast<broker_link*>(self);
    guarded([&] {
        if (code != 0) {
            const std::lock_guard<std::mutex> guard(link->lock_);
            link->refused_ = mosquitto_reason_string(code);
            link->mqtt5_refused_ = code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
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
            link->had_connection_ = true;
            link->connected_at_ = std::chrono::steady_clock::now();
        }
        link->ever_connected_ = true;
        link->failing_since_.clear();
        log_line("connected to " + link->broker_name());
        link->events_.connected();
    });
}

void broker_link::on_disconnect(mosquitto* /*client*/, void* self, int code,
                                const mosquitto_property* /*properties*/) {
    auto* link = static_cast<broker_link*>(self);
    guarded([&] {
        {
            const std::lock_guard<std::mutex> guard(link->lock_);
            link->connected_ = false;
            // Reason codes from 128 are the broker's own, in its DISCONNECT;
            // below, libmosquitto's for a connection that failed.
            if (code == MQTT_RC_SESSION_TAKEN_OVER) {
                link->taken_over_ = true;
                link->refused_ = "client id " + link->client_id_ + " taken over by another client";
            } else if (code >= 128) {
                link->refused_ = mosquitto_reason_string(code);
            }
        }
        link->changed_.notify_all();
    });
}

void broker_link::on_message(mosquitto* /*client*/, void* self, const mosquitto_message* message,
                             const mosquitto_property* properties) {
    auto* link = static_cast<broker_link*>(self);
    guarded([&] {
        const std::string_view payload(
            static_cast<const char*>(message->payload),
            message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
        reply_address reply;
        char* topic = nullptr;
        if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &topic, false) != nullptr &&
            topic != nullptr) {
            reply.topic = topic;
            std::free(topic);  // NOLINT(cppcoreguidelines-no-malloc): libmosquitto's allocation
        }
        void* data = nullptr;
        std::uint16_t size = 0;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &size, false) !=
                nullptr &&
            data != nullptr) {
            reply.correlation_data.assign(static_cast<const char*>(data), size);
            std::free(data);  // NOLINT(cppcoreguidelines-no-malloc): libmosquitto's allocation
        }
        // An answer on a topic the service listens on would come back to it
        // as a command.
        bool listened =
            !reply.topic.empty() && mosquitto_pub_topic_check(reply.topic.c_str()) != MOSQ_ERR_SUCCESS;
        for (const std::string& filter : link->subscriptions_) {
            bool matches = false;
            listened = listened || (!reply.topic.empty() &&
                                    mosquitto_topic_matches_sub(filter.c_str(), reply.topic.c_str(),
                                                                &matches) == MOSQ_ERR_SUCCESS &&
                                    matches);
        }
        if (listened) {
            log_line(std::string(message->topic) + ": no answer on response topic '" + reply.topic +
                     "': the service listens there, or it is no topic");
            reply.topic.clear();
        }
        link->events_.message(message->topic, payload, message->retain, reply);
    });
}

void broker_link::on_publish(mosquitto* /*client*/, void* self, int id, int /*code*/,
                             const mosquitto_property* /*properties*/) {
    auto* link = static_cast<broker_link*>(self);
    {
        const std::lock_guard<std::mutex> guard(link->lock_);
        link->acknowledged_ = id;
    }
    link->changed_.notify_all();
}

// OpenSSL's reason for a failed handshake or a broken TLS connection reaches
// us only as libmosquitto's log line "OpenSSL Error[N]: error:CODE:LIB::REASON".
void broker_link::on_log(mosquitto* /*client*/, void* self, int level, const char* text) {
    auto* link = static_cast<broker_link*>(self);
    guarded([&] {
        const std::string_view line(text);
        if (level != MOSQ_LOG_ERR || !line.starts_with("OpenSSL Error")) {
            return;
        }
        const std::lock_guard<std::mutex> guard(link->lock_);
        if (link->tls_error_.empty()) {
            link->tls_error_ = line.substr(line.rfind(':') + 1);
        }
    });
}
