// The walk over the HID devices present that both the search for controller
// number N and the list of controllers make, so that both count alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lines.h"
#include "platform.h"
#include "tavo_usb.h"

inline bool is_tavo_controller(std::uint16_t vendor, std::uint16_t product) {
    return vendor == tavo_vendor_id && product == tavo_product_id;
}

// A channel that is closed when its scope ends, however it ends (memory may
// run out on the way), unless it was released to an owner that keeps it.
struct scoped_hid_channel {
    hid_channel channel;
    explicit scoped_hid_channel(hid_channel opened) : channel(opened) {}
    ~scoped_hid_channel() {
        if (channel != hid_invalid_channel) {
            hid_close(channel);
        }
    }
    scoped_hid_channel(const scoped_hid_channel&) = delete;
    scoped_hid_channel& operator=(const scoped_hid_channel&) = delete;

    hid_channel release() {
        const hid_channel kept = channel;
        channel = hid_invalid_channel;
        return kept;
    }
};

struct hid_walk_failures {
    int denied = 0;  // controllers, or devices that may be one, that refused for lack of permission
};

// Opens each HID device in the platform's order for reading and writing
// and hands it, with its IDs, to visit(path, channel, vendor, product),
// until done() says so. The channel is closed after the visit unless the
// visit released it to keep it. Devices whose open or IDs fail are skipped.
// With the handle's debug on, each device visited is traced. An exception
// from the platform or a visit leaves the walk with everything it opened
// closed.
template <typename Done, typename Visit>
hid_walk_failures hid_walk(const tavo_usb_handle* handle, Done&& done, Visit&& visit) {
    hid_walk_failures failures;
    const std::vector<std::string> paths = hid_device_paths();
    for (const std::string& path : paths) {
        if (done()) {
            break;
        }
        scoped_hid_channel query(hid_open(path.c_str(), hid_access::read_write));
        if (query.channel == hid_invalid_channel) {
            // Every keyboard and mouse refuses an ordinary user: only a
            // controller's refusal says anything about the controller's rule.
            std::uint16_t vendor = 0;
            std::uint16_t product = 0;
            if (hid_error_is_permission(hid_last_error()) &&
                (!hid_unopened_ids(path, &vendor, &product) || is_tavo_controller(vendor, product))) {
                ++failures.denied;
            }
            continue;
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        // A device that cannot name itself cannot be a controller.
        if (!hid_get_attributes(query.channel, &vendor, &product)) {
            continue;
        }
        if (handle->debug != 0) {
            handle_out(handle, "Found device: %04x-%04x\n", unsigned{vendor}, unsigned{product});
        }
        visit(path.c_str(), query, vendor, product);
    }
    return failures;
}
