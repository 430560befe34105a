// tavoctl-mqtt as its users meet it: the built service on the fake
// controller, a real broker (Debian's mosquitto on a free loopback port), and
// what a client of that broker and the controller see.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "process_harness.h"
#include "run_process.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

// Every wait is bounded: a service that never answers fails the row.
constexpr auto answer_bound = 45s;
// The service tries a broker again every 2 s at most: one that comes is
// used within this of it listening, even on a busy machine.
constexpr auto reconnect_bound = 5s;

// With `listening`, the port is kept and listened on there.
int free_loopback_port(int* listening = nullptr) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    if (listening != nullptr && listen(fd, 1) == 0) {
        *listening = fd;
    } else {
        close(fd);
    }
    return ntohs(address.sin_port);
}

struct seen_message {
    std::string topic;
    std::string payload;
    std::string correlation;  // MQTT 5's Correlation Data, where it came with one
};

// A client of the broker (MQTT 3.1.1, or `version`) that records every
// message it is sent.
class observer {
  public:
    explicit observer(int port, int version = MQTT_PROTOCOL_V311)
        : client_(mosquitto_new(nullptr, true, this)) {
        mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, version);
        mosquitto_message_v5_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m,
                                                      const mosquitto_property* properties) {
            auto* o = static_cast<observer*>(self);
            void* data = nullptr;
            std::uint16_t size = 0;
            std::string correlation;
            if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &size, false)) {
                correlation.assign(static_cast<const char*>(data), size);
                std::free(data);
            }
            const std::lock_guard<std::mutex> guard(o->lock_);
            o->seen_.push_back(
                {m->topic,
                 std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                 correlation});
            o->changed_.notify_all();
        });
        // The broker may still be starting: bounded retries.
        int code = MOSQ_ERR_NO_CONN;
        for (int attempt = 0; attempt < 200 && code != MOSQ_ERR_SUCCESS; ++attempt) {
            code = mosquitto_connect(client_, "127.0.0.1", port, 60);
            if (code != MOSQ_ERR_SUCCESS) {
                std::this_thread::sleep_for(25ms);
            }
        }
        if (code != MOSQ_ERR_SUCCESS || mosquitto_subscribe(client_, nullptr, "#", 1) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
            throw std::runtime_error("cannot reach the test broker");
        }
    }
    ~observer() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    observer(const observer&) = delete;
    observer& operator=(const observer&) = delete;

    // With `response_topic`, as an MQTT 5 request with `correlation`.
    void publish(const std::string& topic, const std::string& payload, bool retain = false,
                 const std::string& response_topic = "", const std::string& correlation = "") {
        mosquitto_property* properties = nullptr;
        if (!response_topic.empty()) {
            mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, response_topic.c_str());
            mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                          static_cast<std::uint16_t>(correlation.size()));
        }
        mosquitto_publish_v5(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain, properties);
        mosquitto_property_free_all(&properties);
    }

    // Waits until `done(seen)` holds; returns whether it did in time.
    bool wait_until(const std::function<bool(const std::vector<seen_message>&)>& done,
                    std::chrono::seconds bound = answer_bound) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, bound, [&] { return done(seen_); });
    }
    bool wait_for(const std::string& topic, const std::string& payload,
                  std::chrono::seconds bound = answer_bound) {
        return wait_until(
            [&](const std::vector<seen_message>& seen) {
                return std::any_of(seen.begin(), seen.end(), [&](const seen_message& m) {
                    return m.topic == topic && m.payload == payload;
                });
            },
            bound);
    }
    // Everything on topics ending in `leaf`, in order, from the `from`th
    // message on; with `cleared`, the empty payloads of clearings too.
    std::vector<seen_message> on(const std::string& leaf, std::size_t from = 0, bool cleared = true) {
        const std::lock_guard<std::mutex> guard(lock_);
        std::vector<seen_message> found;
        for (std::size_t i = from; i < seen_.size(); ++i) {
            if (seen_[i].topic.ends_with(leaf) && (cleared || !seen_[i].payload.empty())) {
                found.push_back(seen_[i]);
            }
        }
        return found;
    }
    std::size_t count() {
        const std::lock_guard<std::mutex> guard(lock_);
        return seen_.size();
    }
    // Returns once everything the broker took before now has come.
    void sync() {
        const std::string marker = std::to_string(++syncs_);
        publish("test/end", marker);
        wait_for("test/end", marker);
    }
    // Whether anything ending in `leaf` came after the last `topic` `payload`.
    bool after(const std::string& topic, const std::string& payload, const std::string& leaf) {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto last = std::find_if(seen_.rbegin(), seen_.rend(), [&](const seen_message& m) {
            return m.topic == topic && m.payload == payload;
        });
        return std::any_of(seen_.rbegin(), last,
                           [&](const seen_message& m) { return m.topic.ends_with(leaf); });
    }
    // What the broker keeps retained: all of it arrives before a message
    // published after subscribing.
    std::map<std::string, std::string> retained() {
        sync();
        const std::lock_guard<std::mutex> guard(lock_);
        std::map<std::string, std::string> kept;
        for (const seen_message& m : seen_) {
            if (m.topic == "test/end") {
                break;
            }
            kept[m.topic] = m.payload;
        }
        return kept;
    }

  private:
    mosquitto* client_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<seen_message> seen_;
    int syncs_ = 0;
};

// Debian's mosquitto on a loopback port, with nothing kept across restarts.
// With TLS, the service's port has it and the test's clients have a plain
// port of their own; its folder has two certificates for 127.0.0.1, each
// its own CA (server1.crt, server2.crt), readable by all (mosquitto, started
// as root, reads them as its own user).
struct broker_process {
    int port = free_loopback_port();
    int plain_port = port;
    int certificate = 0;  // 0: plain; N: TLS, with certificate N
    std::string dir = make_scratch_dir();
    running_process process;

    explicit broker_process(int tls = 0) : certificate(tls) {
        if (tls != 0) {
            plain_port = free_loopback_port();
            process_request request;
            request.program = "/bin/sh";
            request.args = {"-c",
                            "set -e; cd '" + dir +
                                "'; for n in 1 2; do openssl req -x509 -newkey ec -pkeyopt "
                                "ec_paramgen_curve:prime256v1 -nodes -days 9 -subj /CN=127.0.0.1 -addext "
                                "subjectAltName=IP:127.0.0.1 -keyout server$n.key -out server$n.crt; done; "
                                "chmod -R a+rX ."};
            request.scratch_dir = dir;
            if (const process_result made = run_process(request); made.status != 0) {
                throw std::runtime_error("openssl made no certificates: " + made.err);
            }
            present(tls);
        }
        start();
    }
    ~broker_process() {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    broker_process(const broker_process&) = delete;
    broker_process& operator=(const broker_process&) = delete;

    void start() {
        std::string conf = "allow_anonymous true\npersistence false\n";
        if (certificate != 0) {
            conf += "listener " + std::to_string(plain_port) + " 127.0.0.1\n";
        }
        conf += "listener " + std::to_string(port) + " 127.0.0.1\n";
        if (certificate != 0) {
            conf += "certfile " + dir + "/server.crt\nkeyfile " + dir + "/server.key\n";
        }
        write_file(dir + "/mosquitto.conf", conf);
        process_request request;
        request.program = MOSQUITTO;
        request.args = {"-c", dir + "/mosquitto.conf"};
        request.scratch_dir = dir;
        process = start_process(request);
    }
    // Certificate `tls` from now on: a running broker reloads it on SIGHUP.
    void present(int tls) {
        certificate = tls;
        for (const char* part : {".crt", ".key"}) {
            write_file(dir + "/server" + part, read_file(dir + "/server" + std::to_string(tls) + part));
        }
        if (process.id > 0) {
            kill(static_cast<pid_t>(process.id), SIGHUP);
        }
    }
    void stop(int signal = SIGTERM) {
        if (process.id > 0) {
            kill(static_cast<pid_t>(process.id), signal);
            finish_process(&process);
            process.id = -1;
        }
    }
    // How many connections it has been asked for so far.
    long connections() const {
        const std::string log = read_file(dir + "/stderr");
        long count = 0;
        for (std::size_t at = 0; (at = log.find("New connection from", at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }
};

// In a scenario, the path of a file that stands for the first controller's
// node: another run can hold its outputs, as tavoctl holds them.
const std::string device_file_marker = "{device-file}";
const std::string controller =
    "device 6666:f100 serial=TV1 port=1-2 product=Box release=0123 path=" + device_file_marker +
    " name=Tavo Ltd\n";
const std::string base = "tavoctl/TV1/";

std::string cmd(int output, std::uint16_t code) {
    return command_report_text(0, output, code);
}
const std::string ok = R"({"ok":true})";
using messages = std::vector<std::pair<std::string, std::string>>;  // topic, payload
std::string failed(const std::string& error) {
    return json{{"ok", false}, {"error", error}}.dump();
}

enum class ending {
    term,            // SIGTERM once every result is in: offline, status 0
    term_in_pause,   // SIGTERM while the channel change waits before 'Backup'
    term_held,       // SIGTERM while another run holds the outputs (see held_until)
    kill,            // SIGKILL: the broker publishes the will
    broker_restart,  // the broker goes and comes back empty: all is published again
    broker_killed,   // the same, the broker killed with SIGKILL
    // The broker is absent at the start or, over TLS, presents the other
    // certificate; it comes, or presents the trusted one, once the
    // service has said why it cannot connect (and tried thrice, over TLS).
    broker_late
};

// A controller's two outputs work side by side: `reports` are compared
// controller by controller and output by output, `results` topic by topic
// (in the order of the topics' names), each in its own order.
struct mqtt_case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> commands = {};  // topic, payload; in order
    std::vector<std::string> reports = {};                           // what the controllers received
    std::vector<std::string> results = {};                           // every result published
    std::string config = {};                                         // lines added to the service's file
    // Retained on the broker before the start, as by a client or an
    // earlier run.
    std::vector<std::pair<std::string, std::string>> retained_commands = {};
    ending end = ending::term;
    std::map<std::string, std::string> kept = {};  // retained at the end, among others ("<none>": not)
    std::string scenario = controller;             // the fake's controllers
    std::vector<std::string> ids = {"TV1"};        // their ids: each reads online before the commands
    // > 0: another run holds both outputs of the first controller from
    // before the commands until this many results are in.
    std::size_t held_until = 0;
    std::size_t signal_after = 0;  // ending::term_held: SIGTERM once this many results are in
    // Once the commands are published: tavoctl-mqtt --forget `forget`, and
    // what it says and how it ends.
    std::string forget = {};
    process_result forgot = {};
    int tls = 0;                         // the broker's certificate: see broker_process
    std::vector<std::string> said = {};  // the service's lines on connecting, in order ({port}: the broker's)
    std::string response_topic = {};     // commands go as MQTT 5 requests, correlation data c0, c1...
    std::vector<std::string> replies = {};  // "PAYLOAD CORRELATION" on response_topic, in order
};

void PrintTo(const mqtt_case& c, std::ostream* os) {
    *os << c.name;
}

// Every {NAME} in `text` replaced.
std::string filled(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

// The service on the fake controller, connected to `broker`. Its
// configuration may name {dir}, its own folder, which has a
// password file readable by the service alone and another readable by all.
struct service_process {
    std::string dir = make_scratch_dir();
    running_process process;

    service_process(int port, const std::string& config, const std::string& scenario = controller,
                    const std::string& path = "") {
        std::string devices = scenario;
        for (auto at = devices.find(device_file_marker); at != std::string::npos;
             at = devices.find(device_file_marker)) {
            devices.replace(at, device_file_marker.size(), device_file());
        }
        write_file(device_file(), "");
        write_file(dir + "/scenario", devices);
        write_file(dir + "/log", "");
        using std::filesystem::perms;
        write_file(dir + "/password", "secret\n");
        std::filesystem::permissions(dir + "/password", perms::owner_read | perms::owner_write);
        write_file(dir + "/password_for_all", "secret\n");
        std::filesystem::permissions(dir + "/password_for_all", perms::owner_read | perms::others_read);
        write_file(dir + "/mqtt.conf", "host = 127.0.0.1\nport = " + std::to_string(port) + "\n" +
                                           filled(config, {{"{dir}", dir}}));
        process_request request;
        request.program = TAVOCTL_MQTT_FAKE;
        request.args = {"--config", path.empty() ? dir + "/mqtt.conf" : filled(path, {{"{dir}", dir}})};
        request.env = {{"TAVO_FAKE_SCENARIO", dir + "/scenario"}, {"TAVO_FAKE_LOG", dir + "/log"}};
        request.scratch_dir = dir;
        process = start_process(request);
    }
    ~service_process() {
        if (process.id > 0) {
            kill(static_cast<pid_t>(process.id), SIGKILL);
            finish_process(&process);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    service_process(const service_process&) = delete;
    service_process& operator=(const service_process&) = delete;

    std::string device_file() const { return dir + "/hidraw"; }
    // Waits until `count` commands wait for the hold on the device file: a
    // run opens the node for writing (listing opens it read-write) before
    // it takes its output's hold.
    bool waiting_for_the_hold(std::size_t count) const {
        const std::string proc = "/proc/" + std::to_string(process.id);
        for (int attempt = 0; attempt < 4000; ++attempt, std::this_thread::sleep_for(5ms)) {
            std::size_t writers = 0;
            std::error_code error;
            for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
                const std::string info = read_file(proc + "/fdinfo/" + fd.path().filename().string());
                const auto flags = info.find("flags:");
                writers += std::filesystem::read_symlink(fd.path(), error) == device_file() &&
                           flags != std::string::npos &&
                           (std::stoul(info.substr(flags + 6), nullptr, 8) & O_ACCMODE) == O_WRONLY;
            }
            if (writers >= count) {
                return true;
            }
        }
        return false;
    }
    void signal(int number) const { kill(static_cast<pid_t>(process.id), number); }
    // The same program, as the user runs it with `args` beside the service.
    process_result run(const std::vector<std::string>& args) const {
        process_request request;
        request.program = TAVOCTL_MQTT_FAKE;
        request.args = {"--config", dir + "/mqtt.conf"};
        request.args.insert(request.args.end(), args.begin(), args.end());
        request.env = {{"TAVO_FAKE_SCENARIO", dir + "/scenario"}};
        request.scratch_dir = make_scratch_dir();
        process_result result = run_process(request);
        std::error_code ignored;
        std::filesystem::remove_all(request.scratch_dir, ignored);
        return result;
    }
    process_result finish() {
        process_result result = finish_process(&process);
        process.id = -1;
        return result;
    }
    // Waits until the service has said `text`; returns whether it did in time.
    bool says(const std::string& text) const {
        const auto bound = std::chrono::steady_clock::now() + answer_bound;
        while (read_file(dir + "/stderr").find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > bound) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // Its lines on connecting to the broker, in order.
    std::vector<std::string> said() const {
        std::istringstream lines(read_file(dir + "/stderr"));
        std::vector<std::string> found;
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("connected to ") || line.starts_with("cannot connect to ") ||
                line.starts_with("lost ")) {
                found.push_back(line);
            }
        }
        return found;
    }
    std::vector<std::string> reports() const {
        std::vector<std::string> texts;
        for (const received_report& r : parse_fake_log(read_file(dir + "/log"))) {
            texts.push_back(r.text);
        }
        return texts;
    }
};

// Another run's hold on both outputs of the controller at `path`, as
// tavoctl takes it: a lock on one byte per output of its node, for as long
// as the descriptor is open.
struct output_holder {
    int fd;
    explicit output_holder(const std::string& path) : fd(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        struct flock bytes {};
        bytes.l_type = F_WRLCK;
        bytes.l_len = 2;  // from byte 0 (SEEK_SET)
        if (fd < 0 || fcntl(fd, F_OFD_SETLK, &bytes) != 0) {
            throw std::runtime_error("cannot hold the outputs of " + path);
        }
    }
    ~output_holder() { close(fd); }
    output_holder(const output_holder&) = delete;
    output_holder& operator=(const output_holder&) = delete;
};

// Each controller's reports output by output, each output's in order. A
// report's first byte after the ID is 0x30 + output for a code, 0x73 or
// 0x75 + output for the setup's two.
std::vector<std::string> by_output(std::vector<std::string> reports) {
    const auto output_of = [](const std::string& report) {
        const auto first = std::stoul(report.substr(report.find(':') + 5, 2), nullptr, 16);
        return report.substr(0, report.find(':')) +
               (first == 0x31 || first == 0x74 || first == 0x76 ? "1" : "0");
    };
    std::stable_sort(reports.begin(), reports.end(),
                     [&](const std::string& a, const std::string& b) { return output_of(a) < output_of(b); });
    return reports;
}

class mqtt_service : public testing::TestWithParam<mqtt_case> {};

TEST_P(mqtt_service, behaves_exactly) {
    const mqtt_case& c = GetParam();
    broker_process broker(c.tls);
    const std::string config = filled(c.config, {{"{certs}", broker.dir}});
    std::unique_ptr<service_process> late_service;
    if (c.end == ending::broker_late) {
        if (c.tls == 0) {
            broker.stop();
        } else {
            const observer listening(broker.plain_port);  // and so on the service's port too
        }
        late_service = std::make_unique<service_process>(broker.port, config, c.scenario);
        ASSERT_TRUE(late_service->says("cannot connect to"));
        if (c.tls == 0) {
            broker.start();
        } else {
            for (int i = 0; i < 4000 && broker.connections() < 3; ++i) {
                std::this_thread::sleep_for(5ms);
            }
            broker.present(3 - c.tls);
        }
    }
    auto watcher = std::make_unique<observer>(
        broker.plain_port, c.response_topic.empty() ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    for (const auto& [topic, payload] : c.retained_commands) {
        watcher->publish(topic, payload, true);
        ASSERT_TRUE(watcher->wait_for(topic, payload));
    }
    // The service's results, not what was retained before it started.
    const std::size_t start = watcher->count();
    std::unique_ptr<service_process> started =
        late_service ? std::move(late_service)
                     : std::make_unique<service_process>(broker.port, config, c.scenario);
    service_process& service = *started;
    // A broker that comes late is used within about 2 s of it listening.
    ASSERT_TRUE(watcher->wait_for("tavoctl/bridge/availability", "online",
                                  c.end == ending::broker_late ? reconnect_bound : answer_bound));
    for (const std::string& id : c.ids) {
        ASSERT_TRUE(watcher->wait_for("tavoctl/" + id + "/availability", "online")) << id;
    }
    const auto results_in = [&](std::size_t count) {
        return watcher->wait_until([&](const std::vector<seen_message>& seen) {
            return static_cast<std::size_t>(std::count_if(seen.begin() + static_cast<std::ptrdiff_t>(start),
                                                          seen.end(), [](const seen_message& m) {
                                                              return m.topic.ends_with("/result") &&
                                                                     !m.payload.empty();
                                                          })) >= count;
        });
    };

    // With a hold, the first command of each output (BASE/ID/N) goes first,
    // and the rest once each of those waits for the hold: they queue behind.
    // Each goes as an MQTT 5 request where the row has a response topic,
    // with correlation data c0, c1... in the row's order.
    std::unique_ptr<output_holder> holder;
    if (c.held_until > 0) {
        holder = std::make_unique<output_holder>(service.device_file());
    }
    const auto send = [&](std::size_t i) {
        watcher->publish(c.commands[i].first, c.commands[i].second, false, c.response_topic,
                         "c" + std::to_string(i));
    };
    std::set<std::string> outputs;
    std::vector<std::size_t> later;
    for (std::size_t i = 0; i < c.commands.size(); ++i) {
        const std::string& topic = c.commands[i].first;
        if (outputs.insert(topic.substr(0, topic.find('/', topic.find('/') + 1) + 2)).second || !holder) {
            send(i);
        } else {
            later.push_back(i);
        }
    }
    EXPECT_TRUE(!holder || service.waiting_for_the_hold(outputs.size()));
    for (const std::size_t i : later) {
        send(i);
    }
    if (!c.forget.empty()) {
        const process_result forgot = service.run({"--forget", c.forget});
        EXPECT_EQ(forgot.out, c.forgot.out);
        EXPECT_EQ(forgot.err, c.forgot.err);
        EXPECT_EQ(forgot.status, c.forgot.status);
    }
    if (c.end == ending::term_in_pause) {
        // All but the 'Backup's sent: the pause has begun.
        const auto backups = static_cast<std::size_t>(
            std::count_if(c.reports.begin(), c.reports.end(),
                          [](const std::string& r) { return r.find(" 00 83 ") != std::string::npos; }));
        for (int i = 0; i < 4000 && service.reports().size() + backups < c.reports.size(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        service.signal(SIGTERM);
    }
    if (c.end == ending::term_held) {
        EXPECT_TRUE(results_in(c.signal_after));
        service.signal(SIGTERM);
    }
    if (holder) {
        EXPECT_TRUE(results_in(c.held_until));
        holder.reset();
    }
    results_in(c.results.size());
    watcher->wait_until([&](const std::vector<seen_message>& seen) {
        return c.replies.empty() ||
               static_cast<std::size_t>(std::count_if(seen.begin(), seen.end(), [&](const seen_message& m) {
                   return m.topic == c.response_topic;
               })) >= c.replies.size();
    });
    std::vector<seen_message> result_messages = watcher->on("/result", start, false);
    std::stable_sort(result_messages.begin(), result_messages.end(),
                     [](const seen_message& a, const seen_message& b) { return a.topic < b.topic; });
    std::vector<std::string> results;
    for (const seen_message& m : result_messages) {
        results.push_back(m.payload);
    }
    EXPECT_EQ(results, c.results);
    if (!c.response_topic.empty()) {
        std::vector<std::string> replies;
        for (const seen_message& m : watcher->on(c.response_topic)) {
            replies.push_back(m.payload + " " + m.correlation);
        }
        EXPECT_EQ(replies, c.replies);
    }

    if (c.end == ending::broker_restart || c.end == ending::broker_killed) {
        watcher.reset();
        broker.stop(c.end == ending::broker_killed ? SIGKILL : SIGTERM);
        // Gone long enough to be tried and found absent.
        EXPECT_TRUE(service.says("Connection refused"));
        broker.start();
        watcher = std::make_unique<observer>(broker.plain_port);
        // The service reconnects on its own, and says it all again.
        EXPECT_TRUE(watcher->wait_for("tavoctl/bridge/availability", "online"));
        EXPECT_TRUE(watcher->wait_until([](const std::vector<seen_message>& seen) {
            return std::any_of(seen.begin(), seen.end(), [](const seen_message& m) {
                return m.topic == "homeassistant/sensor/tavoctl_TV1/output1_result/config";
            });
        }));
    }
    if (!c.kept.empty()) {
        for (const auto& [topic, payload] : c.kept) {
            if (payload != "<none>") {
                watcher->wait_for(topic, payload);  // published by now, if ever
            }
        }
        observer late(broker.plain_port);
        const std::map<std::string, std::string> kept = late.retained();
        for (const auto& [topic, payload] : c.kept) {
            EXPECT_EQ(kept.count(topic) != 0 ? kept.at(topic) : "<none>", payload) << topic;
        }
    }
    if (c.end != ending::term_held) {
        service.signal(c.end == ending::kill ? SIGKILL : SIGTERM);
    }
    // Said by the service itself, or by the broker for a service killed,
    // and after every result.
    EXPECT_TRUE(watcher->wait_for("tavoctl/bridge/availability", "offline"));
    const process_result ended = service.finish();
    watcher->sync();
    EXPECT_FALSE(watcher->after("tavoctl/bridge/availability", "offline", "/result"))
        << "a result after offline";
    EXPECT_EQ(ended.status, c.end == ending::kill ? -1 : 0) << ended.err;
    EXPECT_EQ(by_output(service.reports()), by_output(c.reports));
    if (!c.said.empty()) {
        std::vector<std::string> said;
        for (const std::string& line : c.said) {
            said.push_back(filled(line, {{"{port}", std::to_string(broker.port)}}));
        }
        EXPECT_EQ(service.said(), said);
    }
}

template <typename Case>
std::string case_name_of(const testing::TestParamInfo<Case>& param_info) {
    return param_info.param.name;
}
const auto case_name = case_name_of<mqtt_case>;

}  // namespace

namespace {

std::vector<std::string> channel_reports(int output, std::uint16_t base_code, const std::string& digits) {
    std::vector<std::string> reports = {cmd(output, static_cast<std::uint16_t>(base_code + 0x80))};
    for (const char digit : digits) {
        reports.push_back(cmd(output, static_cast<std::uint16_t>(base_code + (digit - '0'))));
    }
    reports.push_back(cmd(output, static_cast<std::uint16_t>(base_code + 0x83)));
    return reports;
}

const std::vector<std::uint8_t> setup_a1 = {0x00, 0x74, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B};
const std::vector<std::uint8_t> setup_b1 = {0x00, 0x76, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A};
const std::string no_pause = "pause = 0\n";

std::vector<std::string> operator+(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
messages operator+(messages first, const messages& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
std::vector<std::string> times(std::size_t count, const std::string& one) {
    return std::vector<std::string>(count, one);
}
messages repeated(std::size_t count, const std::string& topic, const std::string& payload) {
    return messages(count, {topic, payload});
}

const std::string refused_full = failed("refused: 16 commands wait for this output already");
const std::string dropped = failed("dropped: the service is stopping");
const std::string empty_payload = failed("an empty payload: nothing sent");
// One output's results: 16 wait behind a change and the next is refused;
// SIGTERM drops those waiting, and the change goes on.
const std::vector<std::string> full_queue_stopped =
    std::vector<std::string>{refused_full} + times(16, dropped) + std::vector<std::string>{ok};

// What an earlier run, and a second host with its own base topic, left
// retained of a controller gone since.
const messages gone_controller = {{"homeassistant/text/tavoctl_GONE/output0_channel/config", "{}"},
                                  {"homeassistant/text/other_GONE/output0_channel/config", "{}"},
                                  {"tavoctl/GONE/availability", "offline"},
                                  {"tavoctl/GONE/0/channel", "12"},
                                  {"tavoctl/GONE/1/last_result", ok},
                                  {"tavoctl/GONE/0/key/set", "1"}};

// One row per command topic, then what is refused, then how the service ends;
// then whole payloads, ids, what is refused or dropped while another run
// holds the outputs, and what a later start and --forget make of what the
// broker kept.
INSTANTIATE_TEST_SUITE_P(
    topics, mqtt_service,
    testing::Values(mqtt_case{"channel_tavo",
                              {{base + "0/channel/set", "123"}},
                              channel_reports(0, 0x0000, "123"),
                              {ok},
                              no_pause,
                              {},
                              ending::term,
                              {{base + "0/channel", "123"}}},
                    mqtt_case{"channel_tavo_plus_output_1",
                              {{base + "1/channel/set", "356"}},
                              channel_reports(1, 0x0C00, "356"),
                              {ok},
                              no_pause + "output1_box = tavo+\n",
                              {},
                              ending::term,
                              {{base + "1/channel", "356"}}},
                    mqtt_case{"channel_box_of_the_controller_section",
                              {{base + "0/channel/set", "7"}},
                              channel_reports(0, 0x0C00, "7"),
                              {ok},
                              no_pause + "[TV1]\noutput0_box = tavo+\n[OTHER]\noutput0_box = tavo\n"},
                    mqtt_case{"keys_by_name_digit_and_code",
                              {{base + "0/key/set", "TAVO"},
                               {base + "0/key/set", "BACKUP"},
                               {base + "0/key/set", "7"},
                               {base + "0/key/set", "0C03"}},
                              {cmd(0, 0x0080), cmd(0, 0x0083), cmd(0, 0x0007), cmd(0, 0x0C03)},
                              {ok, ok, ok, ok}},
                    mqtt_case{"key_of_a_tavo_plus_box",
                              {{base + "1/key/set", "BACKUP"}, {base + "1/key/set", "4"}},
                              {cmd(1, 0x0C83), cmd(1, 0x0C04)},
                              {ok, ok},
                              "output1_box = tavo+\n"},
                    mqtt_case{"setup_upload",
                              {{base + "1/setup/set", "SETUP"}},
                              {frame_text(0, setup_a1), frame_text(0, setup_b1)},
                              {ok}},
                    // An MQTT 5 client's command is answered on its Response Topic
                    // too, with its Correlation Data; an MQTT 3.1.1 client's on the
                    // result topic alone (every other row).
                    mqtt_case{.name = "mqtt5_answer_on_the_response_topic",
                              .commands = {{base + "0/key/set", "XYZ"}, {base + "0/key/set", "1"}},
                              .reports = {cmd(0, 0x0001)},
                              .results = {failed("Invalid command code: 'XYZ'"), ok},
                              .response_topic = "scripts/answers",
                              .replies = {failed("Invalid command code: 'XYZ'") + " c0", ok + " c1"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    refused, mqtt_service,
    testing::Values(mqtt_case{"channel_with_a_letter",
                              {{base + "0/channel/set", "12a"}},
                              {},
                              {failed("Invalid channel number '12a'")}},
                    mqtt_case{"key_that_is_no_code",
                              {{base + "0/key/set", "XYZ"}},
                              {},
                              {failed("Invalid command code: 'XYZ'")}},
                    mqtt_case{"payload_over_the_bound",
                              {{base + "0/channel/set", std::string(65, '1')}},
                              {},
                              {failed("a payload of 65 bytes is over the bound of 64: nothing was sent")}},
                    mqtt_case{"payload_not_utf8",
                              {{base + "0/key/set", "\xC0\x81"}},
                              {},
                              {failed("the payload is not valid UTF-8: nothing was sent")}},
                    mqtt_case{"controller_never_seen",
                              {{"tavoctl/NOPE/0/key/set", "1"}},
                              {},
                              {failed("unable to find tavo controller NOPE")}},
                    // A retained command would replay at every start: only the later
                    // one is sent.
                    mqtt_case{"retained_command",
                              {{base + "0/key/set", "1"}},
                              {cmd(0, 0x0001)},
                              {ok},
                              "",
                              {{base + "0/channel/set", "999"}}},
                    mqtt_case{"stale_command",
                              {{base + "0/channel/set", "1"}, {base + "0/key/set", "2"}},
                              channel_reports(0, 0x0000, "1"),
                              {ok, failed("dropped: it waited over the 1 s bound to start")},
                              "stale_after = 1\n"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    endings, mqtt_service,
    testing::Values(
        // 'Backup' still goes after the pause, then the service says offline.
        mqtt_case{"sigterm_in_the_pause",
                  {{base + "0/channel/set", "12"}},
                  channel_reports(0, 0x0000, "12"),
                  {ok},
                  "",
                  {},
                  ending::term_in_pause},
        mqtt_case{"killed_the_will_says_offline", {}, {}, {}, "", {}, ending::kill},
        mqtt_case{.name = "broker_restarted",
                  .end = ending::broker_restart,
                  .kept = {{"tavoctl/bridge/availability", "online"}, {base + "availability", "online"}},
                  .said = {"connected to 127.0.0.1:{port}", "lost 127.0.0.1:{port}: the connection was lost",
                           "lost 127.0.0.1:{port}: Connection refused", "connected to 127.0.0.1:{port}"}},
        // Absent at the start, the broker is tried again until it comes.
        mqtt_case{.name = "broker_absent_at_the_start",
                  .commands = {{base + "0/key/set", "5"}},
                  .reports = {cmd(0, 0x0005)},
                  .results = {ok},
                  .end = ending::broker_late,
                  .said = {"cannot connect to 127.0.0.1:{port}: Connection refused",
                           "connected to 127.0.0.1:{port}"}},
        // Over TLS (README's line, its comment included), a broker killed
        // without a word: the service comes back all the same.
        mqtt_case{.name = "tls_broker_killed",
                  .config = "tls_ca_file = {certs}/server1.crt   # TLS; port = 8883\n",
                  .end = ending::broker_killed,
                  .tls = 1,
                  .said = {"connected to 127.0.0.1:{port}", "lost 127.0.0.1:{port}: the connection was lost",
                           "lost 127.0.0.1:{port}: Connection refused", "connected to 127.0.0.1:{port}"}},
        // A certificate the CA does not vouch for: said once however often
        // tried, and tried until the broker has one it does.
        mqtt_case{.name = "tls_ca_that_does_not_match",
                  .commands = {{base + "0/key/set", "5"}},
                  .reports = {cmd(0, 0x0005)},
                  .results = {ok},
                  .config = "tls_ca_file = {certs}/server2.crt\n",
                  .end = ending::broker_late,
                  .tls = 1,
                  .said = {"cannot connect to 127.0.0.1:{port}: certificate verify failed",
                           "connected to 127.0.0.1:{port}"}}),
    case_name);

// A key's name in any letter case, one line end dropped (mosquitto_pub -l
// and -s add one); anything more than a command refused. A result is an
// event; the last one is kept for Home Assistant.
INSTANTIATE_TEST_SUITE_P(
    payloads, mqtt_service,
    testing::Values(
        mqtt_case{"key_names_in_any_case_and_a_line_end",
                  {{base + "0/key/set", "Backup"},
                   {base + "0/key/set", "backup"},
                   {base + "1/key/set", "5\n"},
                   {base + "0/key/set", "tAvO\r\n"},
                   {base + "0/channel/set", "12\n"}},
                  std::vector<std::string>{cmd(0, 0x0083), cmd(0, 0x0083), cmd(1, 0x0C05), cmd(0, 0x0080)} +
                      channel_reports(0, 0x0000, "12"),
                  {ok, ok, ok, ok, ok},
                  no_pause + "output1_box = tavo+\n",
                  {},
                  ending::term,
                  {{base + "0/channel", "12"}, {base + "0/last_result", ok}, {base + "0/result", "<none>"}}},
        mqtt_case{"key_that_is_more_than_a_code",
                  {{base + "0/key/set", "Enter"},
                   {base + "0/key/set", "0C03junk"},
                   {base + "0/key/set", "Backup now"},
                   {base + "0/key/set", "7\n\n"}},
                  {},
                  {failed("Invalid command code: 'Enter'"), failed("Invalid command code: '0C03junk'"),
                   failed("Invalid command code: 'Backup now'"), failed("Invalid command code: '7\n'")}}),
    case_name);

// Two controllers that would share a name: a serial that is the other's
// port, and one serial on two.
INSTANTIATE_TEST_SUITE_P(
    ids, mqtt_service,
    testing::Values(
        mqtt_case{.name = "ids_serial_against_port",
                  .commands = {{"tavoctl/1-2/0/key/set", "1"}, {"tavoctl/1-2_2/0/key/set", "2"}},
                  .reports = {command_report_text(0, 0, 1), command_report_text(1, 0, 2)},
                  .results = {ok, ok},
                  .scenario = "device 6666:f100 serial=1-2 port=1-1\ndevice 6666:f100 port=1-2\n",
                  .ids = {"1-2", "1-2_2"}},
        mqtt_case{.name = "ids_one_serial_on_two",
                  .commands = {{"tavoctl/X_1-3/1/key/set", "3"}, {"tavoctl/X_1-1_4/1/key/set", "4"}},
                  .reports = {command_report_text(0, 1, 4), command_report_text(1, 1, 3)},
                  .results = {ok, ok},
                  .scenario = "device 6666:f100 serial=X port=1-1.4\ndevice 6666:f100 serial=X port=1-3\n",
                  .ids = {"X_1-1_4", "X_1-3"}}),
    case_name);

// While another run holds the outputs: empty payloads refused (never the
// channel kept), 16 commands waiting behind the one under way and the next
// refused at once; and SIGTERM with both queues full, which drops every
// waiting command at once while the changes under way go on, then offline.
INSTANTIATE_TEST_SUITE_P(
    held, mqtt_service,
    testing::Values(mqtt_case{.name = "empty_payloads",
                              .commands = {{base + "0/channel/set", "7"},
                                           {base + "0/channel/set", ""},
                                           {base + "0/channel/set", "\r\n"},
                                           {base + "0/key/set", ""},
                                           {base + "0/setup/set", ""}},
                              .reports = channel_reports(0, 0x0000, "7"),
                              .results = {empty_payload, empty_payload, empty_payload, empty_payload, ok},
                              .config = no_pause,
                              .kept = {{base + "0/channel", "7"}},
                              .held_until = 4},
                    mqtt_case{.name = "queue_bound",
                              .commands = repeated(18, base + "0/key/set", "1"),
                              .reports = times(17, cmd(0, 0x0001)),
                              .results = std::vector<std::string>{refused_full} + times(17, ok),
                              .held_until = 1},
                    mqtt_case{.name = "sigterm_with_both_queues_full",
                              .commands = repeated(18, base + "0/channel/set", "1") +
                                          repeated(18, base + "1/channel/set", "2"),
                              .reports = channel_reports(0, 0x0000, "1") + channel_reports(1, 0x0000, "2"),
                              .results = full_queue_stopped + full_queue_stopped,
                              .config = no_pause,
                              .end = ending::term_held,
                              .held_until = 34,
                              .signal_after = 2}),
    case_name);

// Stopped, a controller unplugged, started again: the availability the
// broker kept online turns offline (another base topic's is another
// service's). --forget clears what is kept of a controller gone for good;
// the retained command it clears is refused, and leaves no result behind.
INSTANTIATE_TEST_SUITE_P(
    restarts, mqtt_service,
    testing::Values(
        mqtt_case{.name = "restarted_with_a_controller_gone",
                  .retained_commands = {{"tavoctl/GONE/availability", "online"},
                                        {"other/GONE/availability", "online"}},
                  .kept = {{"tavoctl/GONE/availability", "offline"},
                           {"other/GONE/availability", "online"},
                           {base + "availability", "online"}}},
        mqtt_case{.name = "forget_a_controller_gone",
                  .results = {failed("unable to find tavo controller GONE")},
                  .retained_commands = gone_controller,
                  .kept = {{"homeassistant/text/tavoctl_GONE/output0_channel/config", "<none>"},
                           {"homeassistant/text/other_GONE/output0_channel/config", "{}"},
                           {"tavoctl/GONE/availability", "<none>"},
                           {"tavoctl/GONE/0/channel", "<none>"},
                           {"tavoctl/GONE/0/result", "<none>"},
                           {"tavoctl/GONE/0/last_result", "<none>"},
                           {"tavoctl/GONE/1/last_result", "<none>"},
                           {"tavoctl/GONE/0/key/set", "<none>"},
                           {base + "availability", "online"}},
                  .forget = "GONE",
                  .forgot = {0,
                             "cleared homeassistant/text/tavoctl_GONE/output0_channel/config\n"
                             "cleared tavoctl/GONE/0/channel\n"
                             "cleared tavoctl/GONE/0/key/set\n"
                             "cleared tavoctl/GONE/1/last_result\n"
                             "cleared tavoctl/GONE/availability\n",
                             ""}},
        mqtt_case{
            .name = "forget_refuses_a_controller_online",
            .kept = {{base + "availability", "online"}},
            .forget = "TV1",
            .forgot = {1, "", "tavoctl-mqtt: controller TV1 is online: unplug it before forgetting it\n"}}),
    case_name);

struct discovery_field {
    std::string config;   // COMPONENT/NODE/OBJECT under homeassistant/
    std::string pointer;  // a JSON pointer into it
    json value;           // null: not there
};

const json both_available =
    json::array({{{"topic", "tavoctl/bridge/availability"}}, {{"topic", "tavoctl/TV1/availability"}}});

std::string host_name() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return host;
}

// Home Assistant's MQTT text, button, sensor and binary_sensor as
// documented: what each entity must say for Home Assistant to make it part
// of the controller's device behind the service's own, send to the right
// topic, and show it unavailable with the bridge or the controller. Two
// services on one broker: tavoctl (TV1 with a release number, and one on
// port 1-3 that tells neither release nor serial) and home/tv (TV1 too).
const std::vector<discovery_field> discovery_fields = {
    {"text/tavoctl_TV1/output0_channel", "/unique_id", "tavoctl_TV1_output0_channel"},
    {"text/tavoctl_TV1/output0_channel", "/command_topic", "tavoctl/TV1/0/channel/set"},
    {"text/tavoctl_TV1/output0_channel", "/state_topic", "tavoctl/TV1/0/channel"},
    {"text/tavoctl_TV1/output0_channel", "/pattern", "^[0-9]+$"},
    {"text/tavoctl_TV1/output0_channel", "/min", 1},
    {"text/tavoctl_TV1/output0_channel", "/max", 64},
    {"text/tavoctl_TV1/output0_channel", "/availability", both_available},
    {"text/tavoctl_TV1/output0_channel", "/entity_category", json()},
    {"text/tavoctl_TV1/output0_channel", "/device/identifiers", json::array({"tavoctl_TV1"})},
    {"text/tavoctl_TV1/output0_channel", "/device/manufacturer", "Tavo Ltd"},
    {"text/tavoctl_TV1/output0_channel", "/device/model", "Box"},
    {"text/tavoctl_TV1/output0_channel", "/device/serial_number", "TV1"},
    {"text/tavoctl_TV1/output0_channel", "/device/sw_version", "1.23"},
    {"text/tavoctl_TV1/output0_channel", "/device/via_device", "tavoctl_bridge"},
    {"text/tavoctl_TV1/output0_channel", "/origin/sw_version", TAVOCTL_VERSION},
    {"text/tavoctl_TV1/output0_channel", "/origin/support_url", TAVOCTL_SUPPORT_URL},
    {"text/tavoctl_TV1/output1_channel", "/command_topic", "tavoctl/TV1/1/channel/set"},
    {"button/tavoctl_TV1/output0_tavo", "/command_topic", "tavoctl/TV1/0/key/set"},
    {"button/tavoctl_TV1/output0_tavo", "/payload_press", "TAVO"},
    {"button/tavoctl_TV1/output1_backup", "/payload_press", "BACKUP"},
    {"button/tavoctl_TV1/output1_backup", "/unique_id", "tavoctl_TV1_output1_backup"},
    {"button/tavoctl_TV1/output1_setup", "/command_topic", "tavoctl/TV1/1/setup/set"},
    {"button/tavoctl_TV1/output1_setup", "/availability_mode", "all"},
    {"button/tavoctl_TV1/output1_setup", "/entity_category", "config"},
    {"sensor/tavoctl_TV1/output1_result", "/state_topic", "tavoctl/TV1/1/last_result"},
    {"sensor/tavoctl_TV1/output1_result", "/json_attributes_topic", "tavoctl/TV1/1/last_result"},
    {"sensor/tavoctl_TV1/output1_result", "/value_template", "{{ 'ok' if value_json.ok else 'failed' }}"},
    {"sensor/tavoctl_TV1/output1_result", "/device/identifiers", json::array({"tavoctl_TV1"})},
    {"sensor/tavoctl_TV1/output1_result", "/entity_category", "diagnostic"},
    {"text/tavoctl_1-3/output0_channel", "/device/identifiers", json::array({"tavoctl_1-3"})},
    {"text/tavoctl_1-3/output0_channel", "/device/serial_number", json()},
    {"text/tavoctl_1-3/output0_channel", "/device/sw_version", json()},
    {"binary_sensor/tavoctl_bridge/connectivity", "/device_class", "connectivity"},
    {"binary_sensor/tavoctl_bridge/connectivity", "/entity_category", "diagnostic"},
    {"binary_sensor/tavoctl_bridge/connectivity", "/state_topic", "tavoctl/bridge/availability"},
    {"binary_sensor/tavoctl_bridge/connectivity", "/availability", json()},
    {"binary_sensor/tavoctl_bridge/connectivity", "/device/identifiers", json::array({"tavoctl_bridge"})},
    {"binary_sensor/tavoctl_bridge/connectivity", "/device/name", "tavoctl-mqtt on " + host_name()},
    {"text/home-2ftv_TV1/output0_channel", "/unique_id", "home-2ftv_TV1_output0_channel"},
    {"text/home-2ftv_TV1/output0_channel", "/command_topic", "home/tv/TV1/0/channel/set"},
    {"text/home-2ftv_TV1/output0_channel", "/device/via_device", "home-2ftv_bridge"},
    {"text/home-2ftv_TV1/output0_channel", "/availability",
     json::array({{{"topic", "home/tv/bridge/availability"}}, {{"topic", "home/tv/TV1/availability"}}})},
    {"binary_sensor/home-2ftv_bridge/connectivity", "/state_topic", "home/tv/bridge/availability"},
};

TEST(mqtt_discovery, configs_say_what_home_assistant_reads) {
    broker_process broker;
    observer watcher(broker.plain_port);
    service_process service(broker.port, "", controller + "device 6666:f100 port=1-3\n");
    service_process second_host(broker.port, "base_topic = home/tv\nclient_id = second\n");
    ASSERT_TRUE(watcher.wait_until([](const std::vector<seen_message>& seen) {
        return std::count_if(seen.begin(), seen.end(),
                             [](const seen_message& m) { return m.topic.ends_with("/config"); }) >= 32;
    }));
    observer late(broker.plain_port);
    const std::map<std::string, std::string> kept = late.retained();
    for (const discovery_field& field : discovery_fields) {
        const std::string topic = "homeassistant/" + field.config + "/config";
        ASSERT_EQ(kept.count(topic), 1U) << topic << " is not retained";
        const json config = json::parse(kept.at(topic));
        EXPECT_EQ(config.value(json::json_pointer(field.pointer), json()), field.value)
            << topic << field.pointer;
    }
    for (service_process* running : {&service, &second_host}) {
        running->signal(SIGTERM);
        EXPECT_EQ(running->finish().status, 0);
    }
}

struct configuration_case {
    const char* name;
    std::string config;     // after host and port, lines 1 and 2 ({dir}: see service_process)
    std::string first;      // the first line it says ({dir} likewise)
    int status = 1;         // 0: it runs on, connects, and ends on SIGTERM
    std::string path = {};  // --config, where not that file
};

void PrintTo(const configuration_case& c, std::ostream* os) {
    *os << c.name;
}

class mqtt_configuration : public testing::TestWithParam<configuration_case> {};

// Whatever is wrong is said in one line, and the service ends before it
// connects; what is only unwise is said, and the service runs.
TEST_P(mqtt_configuration, is_read_whole_before_connecting) {
    const configuration_case& c = GetParam();
    broker_process broker;
    service_process service(broker.port, c.config, controller, c.path);
    if (c.status == 0) {
        EXPECT_TRUE(service.says("connected to"));
        service.signal(SIGTERM);
    }
    const process_result ended = service.finish();
    EXPECT_EQ(ended.status, c.status);
    const std::string first = filled(c.first, {{"{dir}", service.dir}}) + "\n";
    EXPECT_EQ(c.status == 0 ? ended.err.substr(0, first.size()) : ended.err, first);
}

const std::string at = "tavoctl-mqtt: {dir}/mqtt.conf:";

INSTANTIATE_TEST_SUITE_P(
    files, mqtt_configuration,
    testing::Values(
        configuration_case{"tls_ca_file_missing", "tls_ca_file = {dir}/ca.crt\n",
                           at + "3: tls_ca_file: cannot read '{dir}/ca.crt': No such file or directory"},
        configuration_case{"tls_ca_file_a_directory", "tls_ca_file = {dir}   # TLS\n",
                           at + "3: tls_ca_file: cannot read '{dir}': Is a directory"},
        configuration_case{"password_file_missing", "username = u\npassword_file = {dir}/nowhere\n",
                           at + "4: password_file: cannot read '{dir}/nowhere': No such file or directory"},
        configuration_case{"password_file_without_username", "password_file = {dir}/password\n",
                           at + "3: password_file is given without username"},
        configuration_case{
            "password_file_others_can_read", "username = u\npassword_file = {dir}/password_for_all\n",
            at + "4: warning: password_file '{dir}/password_for_all' can be read by every user " +
                "(chmod o-r it)",
            0},
        configuration_case{"key_given_twice", "port = 1883\n",
                           at + "3: 'port' is given twice (first on line 2)"},
        configuration_case{"key_given_twice_for_a_controller", "[TV1]\ngap = 10\ngap = 20\n",
                           at + "5: 'gap' is given twice (first on line 4)"},
        configuration_case{"controller_given_twice", "[TV1]\ngap = 10\n[TV2]\n[TV1]\n",
                           at + "6: [TV1] is given twice (first on line 3)"},
        configuration_case{"config_a_directory", "", "tavoctl-mqtt: cannot read {dir}: Is a directory", 1,
                           "{dir}"}),
    case_name_of<configuration_case>);

// A scripted broker: answers the next CONNECT on `listener` with `answer`,
// then reads what the client sends until it closes its end, so that the
// close is no reset that could lose the answer. Returns the protocol level
// the CONNECT asked for (4: MQTT 3.1.1, 5: MQTT 5), or -1.
int answer_connect(int listener, const std::vector<unsigned char>& answer) {
    pollfd waiting{listener, POLLIN, 0};
    const int fd = poll(&waiting, 1, 45000) == 1 ? accept(listener, nullptr, nullptr) : -1;
    const timeval bound{45, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    unsigned char got[512];
    int level = -1;
    const ssize_t size = recv(fd, got, sizeof got, 0);  // the CONNECT, written at once
    if (size > 0) {
        // Its type, its length in 1 to 4 bytes, then "\0\4MQTT" and the level.
        std::size_t next = 1;
        while (next < 5 && (got[next] & 0x80U) != 0) {
            ++next;
        }
        next += 7;
        level = next < static_cast<std::size_t>(size) ? got[next] : -1;
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    shutdown(fd, SHUT_WR);
    while (recv(fd, got, sizeof got, 0) > 0) {
    }
    close(fd);
    return level;
}

// MQTT 5's CONNACK, then its DISCONNECT with reason 0x8E: another client
// took the client id. A broker from mosquitto 2.0.15 on says so; Debian
// 12's just closes the connection.
const std::vector<unsigned char> taken_over = {0x20, 0x03, 0x00, 0x00, 0x00, 0xE0, 0x02, 0x8E, 0x00};

// The client id is the service's own on each machine and base topic, and
// one taken by another client is said to be.
TEST(mqtt_client_id, is_one_per_machine_and_base_topic) {
    std::vector<std::string> ids;
    for (const char* config :
         {"", "base_topic = upstairs\n", "client_id = kitchen#1   # a # after white space\n"}) {
        int listener = -1;
        const int port = free_loopback_port(&listener);
        service_process service(port, config);
        EXPECT_EQ(answer_connect(listener, taken_over), 5);
        close(listener);
        EXPECT_TRUE(service.says("taken over"));
        service.signal(SIGTERM);
        const process_result ended = service.finish();
        EXPECT_EQ(ended.status, 0) << ended.err;
        const std::vector<std::string> said = service.said();
        const std::string broker = "127.0.0.1:" + std::to_string(port);
        std::smatch id;
        ASSERT_EQ(said.size(), 2U) << ended.err;
        EXPECT_EQ(said[0], "connected to " + broker);
        ASSERT_TRUE(std::regex_match(
            said[1], id, std::regex("lost " + broker + ": client id (.+) taken over by another client")));
        ids.push_back(id[1]);
    }
    const std::regex made("tavoctl[0-9a-f]{16}");
    EXPECT_TRUE(std::regex_match(ids[0], made)) << ids[0];
    EXPECT_TRUE(std::regex_match(ids[1], made)) << ids[1];
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[2], "kitchen#1");
}

// A broker that speaks MQTT 3.1.1 alone refuses 5 (with 3.1.1's CONNACK,
// "unacceptable protocol version"): the service speaks 3.1.1 to it.
TEST(mqtt_protocol, is_3_1_1_where_the_broker_has_no_5) {
    int listener = -1;
    const int port = free_loopback_port(&listener);
    service_process service(port, "");
    EXPECT_EQ(answer_connect(listener, {0x20, 0x02, 0x00, 0x01}), 5);
    EXPECT_EQ(answer_connect(listener, {0x20, 0x02, 0x00, 0x00}), 4);
    close(listener);
    EXPECT_TRUE(service.says("connected to"));
    service.signal(SIGTERM);
    const process_result ended = service.finish();
    const std::string broker = "127.0.0.1:" + std::to_string(port);
    EXPECT_NE(
        ended.err.find(broker + " speaks MQTT 3.1.1, not 5: the service speaks 3.1.1 to it\nconnected to " +
                       broker + "\n"),
        std::string::npos)
        << ended.err;
}

}  // namespace
