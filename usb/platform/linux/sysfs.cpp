#include "sysfs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sysfs_parse.h"

namespace {

// sysfs shows a uevent in one page, and no page of the machines tavoctl is
// built for is larger than 64 KiB (arm64's largest).
constexpr std::size_t uevent_read_size = std::size_t{64} * 1024;

struct dir_closer {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
};
struct free_deleter {
    void operator()(char* text) const noexcept { std::free(text); }
};
struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

std::string char_device_dir(const std::string& sysfs_root, unsigned major, unsigned minor) {
    return sysfs_root + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
}

// The char device links to .../hidrawN; its "device" is the HID device,
// whose parent is the USB interface, whose parent is the USB device.
std::string usb_device_dir(const std::string& sysfs_root, unsigned major, unsigned minor) {
    return char_device_dir(sysfs_root, major, minor) + "/device/../..";
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Up to `limit` bytes of the file at `path`. Returns false when it cannot be
// opened or read.
bool read_file(const std::string& path, std::size_t limit, std::string* text) {
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    text->assign(limit, '\0');
    const std::size_t got = std::fread(text->data(), 1, limit, file.get());
    if (std::ferror(file.get()) != 0) {
        return false;
    }
    text->resize(got);
    return true;
}

}  // namespace

std::string linux_usb_port(const std::string& sysfs_root, unsigned major, unsigned minor) {
    const std::string dir = usb_device_dir(sysfs_root, major, minor);
    // Only a USB device has both; a HID device on another bus has neither there.
    if (!exists(dir + "/idVendor") || !exists(dir + "/devnum")) {
        return {};
    }
    const std::unique_ptr<char, free_deleter> resolved(::realpath(dir.c_str(), nullptr));
    if (!resolved) {
        return {};
    }
    const std::string_view full(resolved.get());
    return std::string(full.substr(full.rfind('/') + 1));
}

bool linux_usb_release(const std::string& sysfs_root, unsigned major, unsigned minor,
                       std::uint16_t* release) {
    // The kernel writes four hex digits and a newline: a file longer than
    // this is cut short, and then no number.
    constexpr std::size_t longest = 16;
    std::string text;
    return read_file(usb_device_dir(sysfs_root, major, minor) + "/bcdDevice", longest, &text) &&
           linux_usb_hex16(text, release);
}

bool linux_is_hidraw(const std::string& sysfs_root, unsigned major, unsigned minor) {
    const std::unique_ptr<char, free_deleter> subsystem(
        ::realpath((char_device_dir(sysfs_root, major, minor) + "/subsystem").c_str(), nullptr));
    if (!subsystem) {
        return false;
    }
    const std::string_view full(subsystem.get());
    return full.substr(full.rfind('/') + 1) == "hidraw";
}

bool linux_hidraw_ids(const std::string& sysfs_root, const std::string& name, std::uint16_t* vendor,
                      std::uint16_t* product) {
    std::string uevent;
    return read_file(sysfs_root + "/class/hidraw/" + name + "/device/uevent", uevent_read_size, &uevent) &&
           linux_uevent_hid_ids(uevent, vendor, product);
}

std::vector<std::string> linux_hidraw_names(const std::string& sysfs_root) {
    std::vector<std::pair<long, std::string>> found;
    const std::unique_ptr<DIR, dir_closer> dir(opendir((sysfs_root + "/class/hidraw").c_str()));
    if (dir) {
        while (const dirent* entry = readdir(dir.get())) {
            const long number = linux_hidraw_number(entry->d_name);
            if (number >= 0) {
                found.emplace_back(number, entry->d_name);
            }
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    names.reserve(found.size());
    for (auto& [number, name] : found) {
        names.push_back(std::move(name));
    }
    return names;
}

bool linux_read_manufacturer(const std::string& sysfs_root, unsigned major, unsigned minor,
                             std::span<std::uint16_t> units) {
    return linux_read_usb_string(sysfs_root, major, minor, "manufacturer", units);
}

bool linux_read_usb_string(const std::string& sysfs_root, unsigned major, unsigned minor,
                           const char* attribute, std::span<std::uint16_t> units) {
    std::string text;
    if (!read_file(usb_device_dir(sysfs_root, major, minor) + "/" + attribute,
                   linux_usb_string_read_size(units.size()), &text)) {
        return false;
    }
    linux_usb_string_units(text, units);
    return true;
}
