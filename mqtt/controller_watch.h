// Which controllers are plugged in: looked for again as soon as the kernel
// or udevd tells of a hidraw device coming or going (or, where neither can
// be heard, every couple of seconds), so that Home Assistant shows one
// unavailable as it goes, and available again as it returns, with no
// restart.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "device_monitor.h"
#include "tavo_usb.h"

// How often the controllers are looked for where no device events come.
inline constexpr std::chrono::milliseconds poll_interval(2000);

struct watched_controller {
    tavo_usb_device device{};  // as last seen
    bool present = false;
};

class controller_watch {
  public:
    // `changed(id, controller)` is called, with the watch's lock held, for a
    // controller seen for the first time and whenever one comes or goes.
    using change_handler = std::function<void(const std::string& id, const watched_controller& controller)>;

    controller_watch() = default;
    ~controller_watch();
    controller_watch(const controller_watch&) = delete;
    controller_watch& operator=(const controller_watch&) = delete;

    // Starts listening for device events (saying how in the log, or why it
    // cannot and that it looks every couple of seconds instead), looks
    // once, then goes on in a thread of its own. Returns 0, or -1 with
    // `error` when no thread can be had.
    int start(change_handler changed, std::string* error);
    void stop();

    // Calls `visit(id, controller)` for every controller seen since the
    // start, with the watch's lock held: nothing comes or goes meanwhile.
    void each(const std::function<void(const std::string&, const watched_controller&)>& visit);
    bool known(const std::string& id);
    bool present(const std::string& id);
    // Calls act() with the watch's lock held if no controller present has
    // `id` (none comes meanwhile), or if one has (it stays).
    void when_absent(const std::string& id, const std::function<void()>& act);
    void when_present(const std::string& id, const std::function<void()>& act);

  private:
    int look();
    void run();

    change_handler changed_;
    std::mutex lock_;
    std::map<std::string, watched_controller> seen_;
    // Both: the kernel's events come with or without udevd, but before
    // udevd's rules have given the node its group; udevd's come after.
    device_monitor kernel_events_;
    device_monitor udev_events_;
    bool monitored_ = false;
    int stop_event_ = -1;  // an eventfd: readable once stop() is asked
    std::thread thread_;
};
