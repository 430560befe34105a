#include "output_worker.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "library_lines.h"
#include "result.h"
#include "topics.h"
#include "vocabulary/channel.h"
#include "vocabulary/setup_record.h"

namespace {

// The error as tavoctl would have printed it: the library's lines, then the
// front end's own, as one text without the last line end.
std::string error_text(const library_lines& lines, const std::string& own) {
    std::string text = lines.text + own;
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string code_text(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", unsigned{code});
    return text;
}

}  // namespace

output_worker::output_worker(worker_setup setup) : setup_(std::move(setup)) {
    thread_ = std::thread([this] { run(); });
}

output_worker::~output_worker() {
    stop();
}

void output_worker::enqueue(const queued_command& command) {
    std::string refused;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) {
            refused = "dropped: the service is stopping";
        } else if (waiting_.size() >= queue_bound) {
            // Appended, not prefixed: GCC 12 on 32-bit ARM warns of a
            // memcpy overlap that cannot happen in "..." + std::string.
            refused.append("refused: ")
                .append(std::to_string(queue_bound))
                .append(" commands wait for this output already");
        } else {
            waiting_.push_back(command);
        }
    }
    if (!refused.empty()) {
        finish(command, "", false, refused);
        return;
    }
    changed_.notify_one();
}

void output_worker::drop_waiting() {
    std::deque<queued_command> dropped;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    changed_.notify_one();
    for (const queued_command& command : dropped) {
        finish(command, "", false, "dropped: the service is stopping");
    }
}

void output_worker::stop() {
    drop_waiting();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void output_worker::run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;  // drop_waiting() has answered for the queue
        }
        const queued_command command = std::move(waiting_.front());
        waiting_.pop_front();
        guard.unlock();
        execute(command);
        guard.lock();
    }
}

void output_worker::execute(const queued_command& command) {
    if (std::chrono::steady_clock::now() - command.arrived > setup_.stale_after) {
        finish(command, "", false,
               "dropped: it waited over the " + std::to_string(setup_.stale_after.count()) +
                   " s bound to start");
        return;
    }
    std::string sent;
    std::string error;
    const bool ok = send(command.request, &sent, &error) == 0;
    // The channel first: whoever reads the result finds the channel already kept.
    if (ok && command.request.kind == command_kind::channel) {
        setup_.publish(output_topic(setup_.base_topic, setup_.id, setup_.output, "channel"),
                       command.request.text, true);
    }
    finish(command, sent, ok, error);
}

// The controller is found anew for each command, so one that was unplugged
// and came back works again, and the output is let go between commands, for
// tavoctl runs and the lircd driver.
int output_worker::send(const command_request& request, std::string* sent, std::string* error) const {
    library_lines lines;  // outlives the handle that writes to it
    const std::unique_ptr<tavo_usb_handle, void (*)(tavo_usb_handle*)> handle(library_create(&lines),
                                                                              tavo_usb_free);
    if (!handle) {
        *error = "unable to create tavo controller handle";
        return -1;
    }
    tavo_usb_device_list list;
    tavo_usb_listdevices(handle.get(), &list);
    const std::vector<std::string> ids = controller_ids(list);
    std::string path;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == setup_.id) {
            path = list.devices[i].path;
        }
    }
    if (path.empty()) {
        *error = error_text(lines, "unable to find tavo controller " + setup_.id);
        return -1;
    }
    if (tavo_usb_opendevice(handle.get(), path.c_str()) != 0) {
        *error = error_text(lines, "unable to open tavo controller at '" + path + "'");
        return -1;
    }
    if (tavo_usb_holdoutput(handle.get(), setup_.output, tavo_hold_wait_bound) != 0) {
        *error = error_text(lines, "");
        return -1;
    }
    const auto send_code = [&](std::uint16_t code) {
        if (tavo_usb_sendcommand(handle.get(), setup_.output, code) != 0) {
            const int failure = errno;
            *error = error_text(lines, std::string("tavo_usb_sendcommand failed: ") + std::strerror(failure));
            return -1;
        }
        if (!sent->empty()) {
            sent->push_back(' ');
        }
        sent->append(code_text(code));
        return 0;
    };
    report_pacing pacing;
    pacing.gap_ms = setup_.gap_ms;
    pacing.pause_ms = setup_.pause_ms;
    switch (request.kind) {
        case command_kind::channel:
            return send_channel_keys(setup_.plus, request.text, &pacing, send_code);
        case command_kind::key:
            return send_code(request.code);
        case command_kind::setup:
            break;
    }
    const tavo_usb_config config = compiled_setup;
    if (tavo_usb_sendconfig(handle.get(), setup_.output, &config) != 0) {
        const int failure = errno;
        *error = error_text(lines, std::string("tavo_usb_sendconfig failed: ") + std::strerror(failure));
        return -1;
    }
    *sent = "setup";
    return 0;
}

void output_worker::finish(const queued_command& command, const std::string& sent, bool ok,
                           const std::string& error) const {
    setup_.publish_result(command.reply, result_payload(ok, error));
    log_command(command.topic, sent, ok, error);
}
