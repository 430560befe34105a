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

    // Starts listening: to udevd's events where udevd runs (they come once
    // its rules have made the node and given it its group), to the kernel's
    // own where it does not (the kernel announces a hidraw node once devtmpfs
    // has made it). Returns 0 with `how` naming the source, or -1 with `how`
    // saying why there is none (no netlink socket allowed, no libudev).
    int open(std::string* how);

    // The descriptor to wait on for readability; -1 when not open.
    int descriptor() const;

    // Takes every event waiting, without blocking. Returns whether any was a
    // hidraw device's, or may have been (events lost).
    bool drain();

  private:
    udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};
