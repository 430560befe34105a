// The HID devices over Linux hidraw: /sys/class/hidraw lists the devices and
// /dev/hidrawN carries the reports.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "sysfs.h"

namespace {

const std::string sysfs_root = "/sys";
constexpr std::string_view dev_prefix = "/dev/";

}  // namespace

std::vector<std::string> hid_device_paths() {
    std::vector<std::string> paths = linux_hidraw_names(sysfs_root);
    for (std::string& path : paths) {
        path.insert(0, dev_prefix);
    }
    return paths;
}

bool hid_unopened_ids(const std::string& path, std::uint16_t* vendor, std::uint16_t* product) {
    if (!path.starts_with(dev_prefix)) {
        return false;
    }
    return linux_hidraw_ids(sysfs_root, path.substr(dev_prefix.size()), vendor, product);
}

namespace {

int open_retrying(const char* path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void close_keeping_errno(int fd) {
    const int error = errno;
    ::close(fd);
    errno = error;
}

}  // namespace

hid_channel hid_open(const char* path, hid_access access) {
    // A path may name a terminal, which must not become this process's. An
    // open must not wait: a FIFO's would until a writer came, a serial
    // port's until its carrier did. The writes wait as they always have.
    const int flags =
        (access == hid_access::read_write ? O_RDWR : O_WRONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = open_retrying(path, flags);
    if (fd < 0) {
        return hid_invalid_channel;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        close_keeping_errno(fd);
        return hid_invalid_channel;
    }
    return hid_channel{fd};
}

namespace {

// The character device behind an open channel.
bool device_number(hid_channel channel, dev_t* number) {
    struct stat st {};
    if (::fstat(static_cast<int>(channel), &st) < 0) {
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        errno = ENODEV;
        return false;
    }
    *number = st.st_rdev;
    return true;
}

// Whether an open channel is a hidraw node: an ioctl number means something
// else to another driver, so nothing else is asked one.
bool is_hidraw(hid_channel channel) {
    dev_t number = 0;
    if (!device_number(channel, &number)) {
        return false;
    }
    if (!linux_is_hidraw(sysfs_root, major(number), minor(number))) {
        errno = ENODEV;
        return false;
    }
    return true;
}

}  // namespace

bool hid_get_attributes(hid_channel channel, std::uint16_t* vendor, std::uint16_t* product) {
    hidraw_devinfo info{};
    if (!is_hidraw(channel) || ::ioctl(static_cast<int>(channel), HIDIOCGRAWINFO, &info) < 0) {
        return false;
    }
    // The kernel declares these fields signed: 0xF100 arrives as -3840.
    *vendor = static_cast<std::uint16_t>(info.vendor & 0xFFFF);
    *product = static_cast<std::uint16_t>(info.product & 0xFFFF);
    return true;
}

namespace {

bool usb_string(hid_channel channel, const char* attribute, std::span<std::uint16_t> units) {
    dev_t number = 0;
    return device_number(channel, &number) &&
           linux_read_usb_string(sysfs_root, major(number), minor(number), attribute, units);
}

}  // namespace

bool hid_get_manufacturer(hid_channel channel, std::span<std::uint16_t> units) {
    return usb_string(channel, "manufacturer", units);
}

bool hid_get_product(hid_channel channel, std::span<std::uint16_t> units) {
    return usb_string(channel, "product", units);
}

bool hid_get_serial(hid_channel channel, std::span<std::uint16_t> units) {
    return usb_string(channel, "serial", units);
}

bool hid_get_port(hid_channel channel, std::string* port) {
    dev_t number = 0;
    if (!device_number(channel, &number)) {
        return false;
    }
    *port = linux_usb_port(sysfs_root, major(number), minor(number));
    return !port->empty();
}

bool hid_get_release(hid_channel channel, std::uint16_t* release) {
    dev_t number = 0;
    return device_number(channel, &number) &&
           linux_usb_release(sysfs_root, major(number), minor(number), release);
}

namespace {

bool same_inode(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The path that opens exactly the inode `pin` holds: its link in
// /proc/self/fd, which names that inode whatever becomes of the user's path.
// Without /proc, the user's path: each open of it is judged against the pin.
std::string reopen_path(int pin, const struct stat& pinned, const char* path) {
    std::string link = "/proc/self/fd/" + std::to_string(pin);
    struct stat st {};
    if (::stat(link.c_str(), &st) == 0 && same_inode(st, pinned)) {
        return link;
    }
    return path;
}

}  // namespace

// The path is looked up once, with O_PATH: that pins the inode it names
// without opening it, so neither the driver's open nor a FIFO's wait happens
// before the inode is judged.
hid_path_kind hid_probe_path(const char* path, hid_probed_path* probed) {
    const int pin = open_retrying(path, O_PATH | O_CLOEXEC);
    if (pin < 0) {
        return hid_path_kind::unreachable;
    }
    struct stat st {};
    if (::fstat(pin, &st) < 0) {
        close_keeping_errno(pin);
        return hid_path_kind::unreachable;
    }
    if (!S_ISCHR(st.st_mode) || !linux_is_hidraw(sysfs_root, major(st.st_rdev), minor(st.st_rdev))) {
        ::close(pin);
        return hid_path_kind::not_hid;
    }
    try {
        probed->open_path = reopen_path(pin, st, path);
    } catch (const std::bad_alloc&) {
        ::close(pin);
        errno = ENOMEM;
        return hid_path_kind::unreachable;
    }
    probed->pin = hid_channel{pin};
    return hid_path_kind::hid;
}

bool hid_same_device(hid_channel first, hid_channel second) {
    dev_t first_number = 0;
    dev_t second_number = 0;
    if (!device_number(first, &first_number) || !device_number(second, &second_number)) {
        return false;
    }
    if (first_number != second_number) {
        errno = ENODEV;
        return false;
    }
    return true;
}

bool hid_write(hid_channel channel, std::span<const std::uint8_t> bytes, std::size_t* written) {
    ssize_t n = -1;
    errno = 0;  // a short write is no error of the platform's: report 0
    do {
        n = ::write(static_cast<int>(channel), bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        *written = 0;
        return false;
    }
    *written = static_cast<std::size_t>(n);
    return true;
}

void hid_close(hid_channel channel) {
    ::close(static_cast<int>(channel));
}

int hid_last_error() {
    return errno;
}

std::string hid_error_text(int error) {
    return std::strerror(error);
}

bool hid_error_is_permission(int error) {
    return error == EACCES || error == EPERM;
}

std::chrono::milliseconds output_hold_wait(std::chrono::milliseconds asked) {
    return asked;
}
