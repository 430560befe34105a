// Which controllers are plugged in: looked for every couple of seconds, so
// that Home Assistant shows one unavailable soon after it goes, and available
// again when it returns, with no restart.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tavo_usb.h"

inline constexpr std::chrono::seconds watch_interval(2);

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

    // Looks once, then goes on looking in a thread of its own. Throws
    // std::system_error when no thread can be had.
    void start(change_handler changed);
    void stop();

    // Calls `visit(id, controller)` for every controller seen since the
    // start, with the watch's lock held: nothing comes or goes meanwhile.
    void each(const std::function<void(const std::string&, const watched_controller&)>& visit);
    bool known(const std::string& id);

  private:
    void look();

    change_handler changed_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<std::string, watched_controller> seen_;
    std::thread thread_;
};
