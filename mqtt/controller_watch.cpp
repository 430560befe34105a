#include "controller_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "library_lines.h"
#include "result.h"
#include "topics.h"

namespace {

// A controller that refuses to open right after an event may still be
// waiting for its permissions (the kernel tells before udevd's rules have
// run): looked at again after 100 ms, then twice as long each time, up to
// 1.6 s (3.1 s in all), unless udevd's own event comes first.
constexpr int first_retry_ms = 100;
constexpr int last_retry_ms = 1600;

void say_denied(int denied) {
    log_line(std::to_string(denied) + " controller" + (denied == 1 ? "" : "s") +
             " could not be opened for lack of permission: controllers need the udev rule 60-tavoctl.rules, "
             "and the service's user group plugdev");
}

}  // namespace

controller_watch::~controller_watch() {
    stop();
}

int controller_watch::start(change_handler changed, std::string* error) {
    changed_ = std::move(changed);
    stop_event_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_event_ < 0) {
        *error = std::string("cannot watch the controllers: ") + std::strerror(errno);
        return -1;
    }
    std::string why;
    monitored_ = kernel_events_.open("kernel", &why) == 0 && udev_events_.open("udev", &why) == 0;
    if (monitored_) {
        log_line("watching for controllers through the kernel's device events and udevd's");
    } else {
        log_line("cannot watch for controllers as they come and go (" + why + "): looking for them every " +
                 std::to_string(poll_interval.count() / 1000) + " s instead");
    }
    const int denied = look();
    if (denied > 0) {
        say_denied(denied);
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        *error = "no thread to watch the controllers with";
        return -1;
    }
    return 0;
}

void controller_watch::stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        if (::write(stop_event_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
            log_line(std::string("cannot stop watching the controllers: ") + std::strerror(errno));
        }
        thread_.join();
    }
    if (stop_event_ >= 0) {
        ::close(stop_event_);
        stop_event_ = -1;
    }
}

void controller_watch::run() {
    pollfd waits[3] = {{stop_event_, POLLIN, 0},
                       {kernel_events_.descriptor(), POLLIN, 0},
                       {udev_events_.descriptor(), POLLIN, 0}};
    int retry_ms = 0;  // 0: no retry pending
    for (;;) {
        const nfds_t count = monitored_ ? 3 : 1;
        const int timeout = !monitored_    ? static_cast<int>(poll_interval.count())
                            : retry_ms > 0 ? retry_ms
                                           : -1;
        const int ready = ::poll(waits, count, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            log_line(std::string("cannot wait for device events (") + std::strerror(errno) +
                     "): looking for controllers every " + std::to_string(poll_interval.count() / 1000) +
                     " s instead");
            monitored_ = false;
            continue;
        }
        if ((waits[0].revents & POLLIN) != 0) {
            return;
        }
        // Both drained, whatever the first says.
        const bool kernel_event = monitored_ && waits[1].revents != 0 && kernel_events_.drain();
        const bool udev_event = monitored_ && waits[2].revents != 0 && udev_events_.drain();
        const bool event = kernel_event || udev_event;
        if (ready > 0 && !event) {
            continue;  // another subsystem's event
        }
        const int denied = look();
        if (!monitored_) {
            continue;
        }
        if (denied == 0) {
            retry_ms = 0;
        } else if (retry_ms == 0 || event) {
            retry_ms = first_retry_ms;
        } else if (retry_ms < last_retry_ms) {
            retry_ms *= 2;
        } else {
            say_denied(denied);
            retry_ms = 0;
        }
    }
}

int controller_watch::look() {
    library_lines lines;
    tavo_usb_device_list list;
    const std::unique_ptr<tavo_usb_handle, void (*)(tavo_usb_handle*)> handle(library_create(&lines),
                                                                              tavo_usb_free);
    const int status = handle ? tavo_usb_listdevices(handle.get(), &list) : -1;
    if (!lines.text.empty()) {
        log_line(lines.text.substr(0, lines.text.size() - 1));
    }
    if (status != 0) {
        return 0;  // nothing is known to have come or gone
    }
    const std::vector<std::string> ids = controller_ids(list);
    const std::lock_guard<std::mutex> guard(lock_);
    // One that went and came back between two looks has a new node: it is
    // said to go and come, and is known by the new one.
    for (auto& [id, controller] : seen_) {
        const auto found = std::find(ids.begin(), ids.end(), id);
        if (controller.present &&
            (found == ids.end() ||
             list.devices[static_cast<std::size_t>(found - ids.begin())].path != controller.device.path)) {
            controller.present = false;
            changed_(id, controller);
        }
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        watched_controller& controller = seen_[ids[i]];
        if (!controller.present) {
            controller.device = list.devices[i];
            controller.present = true;
            changed_(ids[i], controller);
        }
    }
    return list.denied;
}

void controller_watch::each(const std::function<void(const std::string&, const watched_controller&)>& visit) {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [id, controller] : seen_) {
        visit(id, controller);
    }
}

bool controller_watch::known(const std::string& id) {
    const std::lock_guard<std::mutex> guard(lock_);
    return seen_.count(id) != 0;
}

bool controller_watch::present(const std::string& id) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = seen_.find(id);
    return found != seen_.end() && found->second.present;
}

void controller_watch::when_present(const std::string& id, const std::function<void()>& act) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = seen_.find(id);
    if (found != seen_.end() && found->second.present) {
        act();
    }
}

void controller_watch::when_absent(const std::string& id, const std::function<void()>& act) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = seen_.find(id);
    if (found == seen_.end() || !found->second.present) {
        act();
    }
}
