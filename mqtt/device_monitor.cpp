#include "device_monitor.h"

#include <libudev.h>

#include <cerrno>
#include <cstring>

namespace {

std::string reason(int error) {
    return error != 0 ? std::strerror(error) : "libudev did not say why";
}

}  // namespace

device_monitor::~device_monitor() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (context_ != nullptr) {
        udev_unref(context_);
    }
}

int device_monitor::open(const char* source, std::string* error) {
    errno = 0;
    context_ = udev_new();
    if (context_ == nullptr) {
        *error = "no libudev context: " + reason(errno);
        return -1;
    }
    errno = 0;
    monitor_ = udev_monitor_new_from_netlink(context_, source);
    if (monitor_ == nullptr) {
        *error = "no netlink socket for device events: " + reason(errno);
        return -1;
    }
    int code = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (code >= 0) {
        code = udev_monitor_enable_receiving(monitor_);
    }
    if (code < 0) {
        *error = "cannot listen to device events: " + reason(-code);
        return -1;
    }
    return 0;
}

int device_monitor::descriptor() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

bool device_monitor::drain() {
    bool changed = false;
    // libudev skips the events of other subsystems itself; NULL with EAGAIN
    // once nothing waits, with another error when events were lost (the
    // socket's buffer ran over) or unreadable: a look covers those too.
    for (;;) {
        errno = 0;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device == nullptr) {
            return changed || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
        changed = true;
        udev_device_unref(device);
    }
}
