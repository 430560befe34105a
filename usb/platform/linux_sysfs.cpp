#include "linux_sysfs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

constexpr std::string_view hidraw_prefix = "hidraw";

// The number after "hidraw", or -1 for any other name.
long hidraw_number(std::string_view name) {
    if (name.substr(0, hidraw_prefix.size()) != hidraw_prefix || name.size() == hidraw_prefix.size() ||
        name.size() > hidraw_prefix.size() + 9) {
        return -1;
    }
    long number = 0;
    for (const char c : name.substr(hidraw_prefix.size())) {
        if (c < '0' || c > '9') {
            return -1;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

struct dir_closer {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
};
struct free_deleter {
    void operator()(char* text) const noexcept { std::free(text); }
};
struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Decodes one UTF-8 sequence at text[pos]; returns the code point (U+FFFD for
// a malformed sequence) and advances pos.
char32_t decode_one(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0U) == 0xC0U) {
        extra = 1, cp = lead & 0x1FU, min = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
        extra = 2, cp = lead & 0x0FU, min = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
        extra = 3, cp = lead & 0x07U, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int i = 0; i < extra; ++i) {
        if (pos >= text.size() || (static_cast<unsigned char>(text[pos]) & 0xC0U) != 0x80U) {
            return 0xFFFD;
        }
        cp = (cp << 6U) | (static_cast<unsigned char>(text[pos++]) & 0x3FU);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    return cp;
}

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
    const std::string path = sysfs_root + "/class/hidraw/" + name + "/device/uevent";
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    char line[256];
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        unsigned bus = 0;
        unsigned long vendor_id = 0;
        unsigned long product_id = 0;
        if (std::sscanf(line, "HID_ID=%x:%lx:%lx", &bus, &vendor_id, &product_id) == 3) {
            *vendor = static_cast<std::uint16_t>(vendor_id & 0xFFFFU);
            *product = static_cast<std::uint16_t>(product_id & 0xFFFFU);
            return true;
        }
    }
    return false;
}

std::vector<std::string> linux_hidraw_names(const std::string& sysfs_root) {
    std::vector<std::pair<long, std::string>> found;
    const std::unique_ptr<DIR, dir_closer> dir(opendir((sysfs_root + "/class/hidraw").c_str()));
    if (dir) {
        while (const dirent* entry = readdir(dir.get())) {
            const long number = hidraw_number(entry->d_name);
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

std::size_t utf8_to_utf16(std::string_view text, std::span<std::uint16_t> units) {
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = decode_one(text, pos);
        if (cp >= 0x10000) {
            if (count + 2 > units.size()) {
                break;
            }
            const char32_t v = cp - 0x10000;
            units[count++] = static_cast<std::uint16_t>(0xD800 + (v >> 10U));
            units[count++] = static_cast<std::uint16_t>(0xDC00 + (v & 0x3FFU));
        } else {
            if (count + 1 > units.size()) {
                break;
            }
            units[count++] = static_cast<std::uint16_t>(cp);
        }
    }
    return count;
}

bool linux_read_manufacturer(const std::string& sysfs_root, unsigned major, unsigned minor,
                             std::span<std::uint16_t> units) {
    return linux_read_usb_string(sysfs_root, major, minor, "manufacturer", units);
}

bool linux_read_usb_string(const std::string& sysfs_root, unsigned major, unsigned minor,
                           const char* attribute, std::span<std::uint16_t> units) {
    const std::string path = usb_device_dir(sysfs_root, major, minor) + "/" + attribute;
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    // A USB string descriptor holds at most 126 UTF-16 units; read a little more
    // than the caller's buffer can take in any case.
    std::string text(units.size() * 4, '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        return false;
    }
    text.resize(got);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    const std::size_t count = utf8_to_utf16(text, units);
    if (count < units.size()) {
        units[count] = 0;
    }
    return true;
}
