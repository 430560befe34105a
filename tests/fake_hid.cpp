#include "fake_hid.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <optional>

#include "platform.h"

namespace {

struct open_channel {
    std::size_t device;
    hid_access access;
    bool file;  // a real descriptor, on the file the device's path names
};

// Channels on no file are numbered far above any descriptor, so that the
// output hold finds no file behind them and the run goes on without it.
constexpr hid_channel first_unreal_channel = 1 << 20;

struct fake_state {
    std::vector<fake_device> devices;
    std::vector<fake_write> writes;
    std::map<hid_channel, open_channel> channels;
    hid_channel next_channel = first_unreal_channel;
    std::optional<std::chrono::milliseconds> hold_wait;
    std::string log_path;
    std::FILE* log = nullptr;

    fake_state() = default;
    fake_state(const fake_state&) = delete;
    fake_state& operator=(const fake_state&) = delete;
    ~fake_state() {
        if (log != nullptr) {
            std::fclose(log);
        }
    }
};

fake_state& state() {
    static fake_state s;
    return s;
}

// A service drives its outputs from threads, as a platform's devices take
// it: every call of the fake is taken whole, one at a time, and its error
// code is the calling thread's own, as errno and GetLastError() are.
std::recursive_mutex fake_turn;
thread_local int last_error = 0;

std::unique_lock<std::recursive_mutex> fake_call() {
    return std::unique_lock<std::recursive_mutex>(fake_turn);
}

const fake_device* device_at(const char* path, std::size_t* index) {
    auto& s = state();
    for (std::size_t i = 0; i < s.devices.size(); ++i) {
        if (s.devices[i].path == path) {
            *index = i;
            return &s.devices[i];
        }
    }
    return nullptr;
}

void fail(int error, int errno_value) {
    last_error = error;
    errno = errno_value;
}

void log_write(const fake_write& w) {
    auto& s = state();
    if (s.log == nullptr && !s.log_path.empty()) {
        s.log = std::fopen(s.log_path.c_str(), "w");
        if (s.log == nullptr) {
            std::fprintf(stderr, "fake: cannot write log %s\n", s.log_path.c_str());
            std::exit(99);
        }
    }
    std::FILE* log = s.log;
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "write %zu %lld", w.device, static_cast<long long>(w.at_ns));
    for (const std::uint8_t b : w.bytes) {
        std::fprintf(log, " %02x", unsigned{b});
    }
    std::fprintf(log, " %s\n", w.delivered ? "delivered" : "lost");
    std::fflush(log);
}

}  // namespace

void fake_hid_reset(std::vector<fake_device> devices) {
    const auto turn = fake_call();
    auto& s = state();
    s.devices = std::move(devices);
    for (std::size_t i = 0; i < s.devices.size(); ++i) {
        if (s.devices[i].path.empty()) {
            s.devices[i].path = "fake:" + std::to_string(i);
        }
    }
    s.writes.clear();
    while (!s.channels.empty()) {
        hid_close(s.channels.begin()->first);
    }
    last_error = 0;
}

const std::vector<fake_write>& fake_hid_writes() {
    const auto turn = fake_call();
    return state().writes;
}

int fake_hid_open_channels() {
    const auto turn = fake_call();
    return static_cast<int>(state().channels.size());
}

void fake_hid_log_to(const char* path) {
    const auto turn = fake_call();
    state().log_path = path;
}

void fake_hid_set_hold_wait(std::chrono::milliseconds wait) {
    const auto turn = fake_call();
    state().hold_wait = wait;
}

std::vector<std::string> hid_device_paths() {
    const auto turn = fake_call();
    std::vector<std::string> paths;
    for (const fake_device& device : state().devices) {
        if (device.detail_out_of_memory) {
            throw std::bad_alloc();
        }
        if (device.detail_ok) {
            paths.push_back(device.path);
        }
    }
    return paths;
}

bool hid_unopened_ids(const std::string& path, std::uint16_t* vendor, std::uint16_t* product) {
    const auto turn = fake_call();
    std::size_t index = 0;
    const fake_device* device = device_at(path.c_str(), &index);
    if (device == nullptr) {
        return false;
    }
    *vendor = device->vendor;
    *product = device->product;
    return true;
}

std::chrono::milliseconds output_hold_wait(std::chrono::milliseconds asked) {
    const auto turn = fake_call();
    return state().hold_wait.value_or(asked);
}

hid_channel hid_open(const char* path, hid_access access) {
    const auto turn = fake_call();
    std::size_t index = 0;
    const fake_device* device = device_at(path, &index);
    const bool opens = device != nullptr && (access == hid_access::read_write ? device->opens_read_write
                                                                              : device->opens_write_only);
    if (!opens) {
        fail(device == nullptr ? 2 : 5, device == nullptr ? ENOENT : EACCES);
        return hid_invalid_channel;
    }
    auto& s = state();
#ifndef _WIN32
    // Where the device's path names a file, the channel is a descriptor on
    // it, as a hidraw channel is on its node: the output hold locks it.
    const int fd = ::open(path, (access == hid_access::read_write ? O_RDWR : O_WRONLY) | O_CLOEXEC);
    if (fd >= 0) {
        s.channels[fd] = open_channel{index, access, true};
        return fd;
    }
#endif
    const hid_channel channel = s.next_channel++;
    s.channels[channel] = open_channel{index, access, false};
    return channel;
}

bool hid_get_attributes(hid_channel channel, std::uint16_t* vendor, std::uint16_t* product) {
    const auto turn = fake_call();
    const fake_device& device = state().devices.at(state().channels.at(channel).device);
    if (!device.attributes_ok) {
        fail(device.error_code, EIO);
        return false;
    }
    *vendor = device.vendor;
    *product = device.product;
    return true;
}

namespace {

const fake_device* device_of(hid_channel channel) {
    const auto found = state().channels.find(channel);
    if (found == state().channels.end()) {
        fail(6, EBADF);  // not an open channel
        return nullptr;
    }
    return &state().devices.at(found->second.device);
}

bool copy_string(const fake_device& device, const std::optional<std::u16string>& string,
                 std::span<std::uint16_t> units) {
    if (!string) {
        fail(device.error_code, EIO);
        return false;
    }
    const std::u16string& text = *string;
    std::size_t i = 0;
    for (; i < text.size() && i < units.size(); ++i) {
        units[i] = text[i];
    }
    if (i < units.size()) {
        units[i] = 0;
    }
    return true;
}

}  // namespace

bool hid_get_manufacturer(hid_channel channel, std::span<std::uint16_t> units) {
    const auto turn = fake_call();
    const fake_device* found = device_of(channel);
    if (found == nullptr) {
        return false;
    }
    const fake_device& device = *found;
    if (device.manufacturer_fills_buffer) {
        for (std::size_t i = 0; i < units.size(); ++i) {
            units[i] = static_cast<std::uint16_t>('a' + i % 26);
        }
        return true;
    }
    return copy_string(device, device.manufacturer, units);
}

bool hid_get_product(hid_channel channel, std::span<std::uint16_t> units) {
    const auto turn = fake_call();
    const fake_device* device = device_of(channel);
    return device != nullptr && copy_string(*device, device->product_name, units);
}

bool hid_get_serial(hid_channel channel, std::span<std::uint16_t> units) {
    const auto turn = fake_call();
    const fake_device* device = device_of(channel);
    return device != nullptr && copy_string(*device, device->serial_number, units);
}

bool hid_get_port(hid_channel channel, std::string* port) {
    const auto turn = fake_call();
    const fake_device* device = device_of(channel);
    if (device == nullptr || device->port.empty()) {
        return false;
    }
    *port = device->port;
    return true;
}

bool hid_get_release(hid_channel channel, std::uint16_t* release) {
    const auto turn = fake_call();
    const fake_device* device = device_of(channel);
    if (device == nullptr || !device->release) {
        return false;
    }
    *release = *device->release;
    return true;
}

// Every device of the table is a HID device; any other path does not exist.
// The device is pinned as the Linux backend pins it: a channel that must be
// closed, and that takes no write.
hid_path_kind hid_probe_path(const char* path, hid_probed_path* probed) {
    const auto turn = fake_call();
    std::size_t index = 0;
    if (device_at(path, &index) == nullptr) {
        fail(2, ENOENT);
        return hid_path_kind::unreachable;
    }
    auto& s = state();
    probed->open_path = path;
    probed->pin = s.next_channel++;
    s.channels[probed->pin] = open_channel{index, hid_access::read_write, false};
    return hid_path_kind::hid;
}

bool hid_same_device(hid_channel first, hid_channel second) {
    const auto turn = fake_call();
    const auto& channels = state().channels;
    const auto a = channels.find(first);
    const auto b = channels.find(second);
    return a != channels.end() && b != channels.end() && a->second.device == b->second.device;
}

bool hid_write(hid_channel channel, std::span<const std::uint8_t> bytes, std::size_t* written) {
    const auto turn = fake_call();
    auto& s = state();
    const auto found = s.channels.find(channel);
    if (found == s.channels.end() || found->second.access != hid_access::write_only) {
        fail(6, EBADF);  // the library must only write to its write channel
        *written = 0;
        return false;
    }
    const std::size_t index = found->second.device;
    fake_device& device = s.devices.at(index);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    fake_write w{index,
                 {bytes.begin(), bytes.end()},
                 false,
                 std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()};

    fake_write_mode mode = device.write_mode;
    if (device.writes_before_failure > 0) {
        --device.writes_before_failure;
        mode = fake_write_mode::accept;
    }
    bool ok = true;
    switch (mode) {
        case fake_write_mode::accept:
            w.delivered = true;
            *written = bytes.size();
            break;
        case fake_write_mode::refuse:
            *written = 0;
            fail(device.error_code, EIO);
            ok = false;
            break;
        case fake_write_mode::short_write:
            *written = bytes.empty() ? 0 : bytes.size() - 1;
            last_error = 0;
            break;
    }
    s.writes.push_back(w);
    log_write(s.writes.back());
    return ok;
}

void hid_close(hid_channel channel) {
    const auto turn = fake_call();
    auto& s = state();
    const auto found = s.channels.find(channel);
    if (found == s.channels.end()) {
        return;
    }
#ifndef _WIN32
    if (found->second.file) {
        ::close(static_cast<int>(channel));
    }
#endif
    s.channels.erase(found);
}

int hid_last_error() {
    return last_error;
}

// The fake's error codes are those its open failures use: 2 no such device,
// 5 access denied.
std::string hid_error_text(int error) {
    switch (error) {
        case 2:
            return "No such file or directory";
        case 5:
            return "Permission denied";
        default:
            return "error " + std::to_string(error);
    }
}

bool hid_error_is_permission(int error) {
    return error == 5;
}
