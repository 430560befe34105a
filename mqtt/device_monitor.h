// When a hidraw device comes or goes, told by libudev's monitor (a netlink
// socket): the controller watch looks again at once instead of every
// couple of seconds, and sleeps while nothing happens.
#pragma once

#include <string>

struct udev;
struct udev_monitor;

class device_monitor {
  public:
    device_monitor() = default;
    ~device_monitor();
    device_monitor(const device_monitor&) = delete;
    device_monitor& operator=(const device_monitor&) = delete;

    // Starts listening to the events of hidraw devices from `source`:
    // "kernel", which tells as soon as devtmpfs has made the node (before
    // udevd's rules have given it its group), or "udev", which tells once
    // udevd has run its rules, and tells nothing where udevd does not run.
    // Returns 0, or -1 with `error` saying why not (no netlink socket
    // allowed, no libudev).
    int open(const char* source, std::string* error);

    // The descriptor to wait on for readability; -1 when not open.
    int descriptor() const;

    // Takes every event waiting, without blocking. Returns whether any was a
    // hidraw device's, or may have been (events lost).
    bool drain();

  private:
    udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};
