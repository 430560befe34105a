// One output of one controller: its commands run here, one at a time, in the
// order they arrived, each holding the output as a tavoctl run does; another
// output's worker runs beside it and never waits for this one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "command.h"
#include "config.h"
#include "result.h"

using publisher = std::function<void(const std::string& topic, const std::string& payload, bool retain)>;

// How many commands may wait for one output behind the one under way; the
// next is refused at once. A flood then costs a result each, not memory.
inline constexpr std::size_t queue_bound = 16;

struct queued_command {
    std::string topic;
    command_request request;
    std::chrono::steady_clock::time_point arrived;
    reply_address reply;  // where its result goes besides the result topic
};

struct worker_setup {
    std::string base_topic;
    std::string id;
    int output = 0;
    int plus = 0;
    int gap_ms = 0;
    int pause_ms = 0;
    std::chrono::seconds stale_after{30};
    publisher publish;
    // Each command's result, for the output's result topic and the
    // command's own reply address.
    std::function<void(const reply_address& reply, const std::string& payload)> publish_result;
};

class output_worker {
  public:
    // Starts the worker's thread; throws std::system_error when none can be had.
    explicit output_worker(worker_setup setup);
    ~output_worker();
    output_worker(const output_worker&) = delete;
    output_worker& operator=(const output_worker&) = delete;

    // Queues the command, or refuses it with its result when queue_bound
    // commands wait already or the worker is stopping.
    void enqueue(const queued_command& command);

    // Drops every command waiting, each with its result, and takes no more;
    // the command under way goes on. Returns at once.
    void drop_waiting();

    // drop_waiting(), then waits for the command under way to finish and
    // ends the thread.
    void stop();

  private:
    void run();
    void execute(const queued_command& command);
    int send(const command_request& request, std::string* sent, std::string* error) const;
    void finish(const queued_command& command, const std::string& sent, bool ok,
                const std::string& error) const;

    worker_setup setup_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<queued_command> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};
