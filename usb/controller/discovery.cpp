// Finding the controller: number N among the HID devices present, or the one
// at a given device path.
#include <string>
#include <utility>

#include "hid_walk.h"
#include "lines.h"
#include "out_of_memory.h"
#include "platform.h"
#include "tavo_usb.h"

namespace {

// Makes `channel` the handle's query channel, closing one left by an earlier
// match whose write open failed.
void keep_query_channel(tavo_usb_handle* handle, hid_channel channel) {
    if (handle->query_handle != hid_invalid_channel && handle->query_handle != channel) {
        hid_close(handle->query_handle);
    }
    handle->query_handle = channel;
}

// The one place where a handle gets its controller, found by number or given
// by path: opens the write channel to `open_path` and keeps `query`, the
// read/write channel already open on it, for the manufacturer query. The
// path is opened anew: the write channel counts only if it leads to the
// device that was judged to be a controller. `query` stays with the caller
// until the handle takes it, so that memory running out on the way closes it.
// The handle keeps `path`, the name the controller was found or given by.
bool take_controller(tavo_usb_handle* handle, const char* open_path, std::string path,
                     scoped_hid_channel& query) {
    handle->write_handle = hid_open(open_path, hid_access::write_only);
    if (handle->write_handle != hid_invalid_channel &&
        !hid_same_device(query.channel, handle->write_handle)) {
        hid_close(handle->write_handle);
        handle->write_handle = hid_invalid_channel;
    }
    if (handle->write_handle == hid_invalid_channel) {
        handle_err(handle, "Failed to open device (%d)\n", hid_last_error());
    } else {
        handle->device_path = std::move(path);
    }
    keep_query_channel(handle, query.release());
    return handle->write_handle != hid_invalid_channel;
}

int find_device(tavo_usb_handle* handle, int wanted) {
    int matches = 0;
    hid_walk(
        handle, [&] { return handle->write_handle != hid_invalid_channel; },
        [&](const char* path, scoped_hid_channel& query, std::uint16_t vendor, std::uint16_t product) {
            if (!is_tavo_controller(vendor, product)) {
                return;
            }
            if (handle->debug != 0) {
                handle_out(handle, "Found tavo control num %d\n", matches);
            }
            if (matches == wanted) {
                // On failure the next match is tried under the same number.
                take_controller(handle, path, path, query);
                return;
            }
            ++matches;
        });

    if (handle->write_handle != hid_invalid_channel) {
        return 0;
    }
    handle_err(handle, "tavo_usb_finddevice(%d) failed to find device %04x-%04x\n", matches,
               unsigned{tavo_vendor_id}, unsigned{tavo_product_id});
    return -1;
}

int open_device(tavo_usb_handle* handle, const char* path) {
    const auto refuse = [&](const char* why) {
        handle_err(handle, "tavo_usb_opendevice('%s'): %s\n", path, why);
        return -1;
    };
    if (handle->write_handle != hid_invalid_channel) {
        return 0;
    }
    if (path[0] == '\0') {
        return refuse("no device path given");
    }
    hid_probed_path probed;
    switch (hid_probe_path(path, &probed)) {
        case hid_path_kind::unreachable:
            return refuse(hid_error_text(hid_last_error()).c_str());
        case hid_path_kind::not_hid:
            return refuse("not a HID device");
        case hid_path_kind::hid:
            break;
    }
    // Held until the opens by its path are done.
    const scoped_hid_channel pin(probed.pin);
    // What was judged is what is opened, and what the open found is judged
    // again: hid_get_attributes() accepts only a HID device.
    scoped_hid_channel query(hid_open(probed.open_path.c_str(), hid_access::read_write));
    if (query.channel == hid_invalid_channel) {
        return refuse(hid_error_text(hid_last_error()).c_str());
    }
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    const bool judged = pin.channel == hid_invalid_channel || hid_same_device(pin.channel, query.channel);
    if (!judged || !hid_get_attributes(query.channel, &vendor, &product)) {
        return refuse("not a HID device");
    }
    if (handle->debug != 0) {
        handle_out(handle, "Found device: %04x-%04x\n", unsigned{vendor}, unsigned{product});
    }
    if (!is_tavo_controller(vendor, product)) {
        handle_err(handle,
                   "tavo_usb_opendevice('%s'): device %04x-%04x is not a tavo controller (%04x-%04x)\n", path,
                   unsigned{vendor}, unsigned{product}, unsigned{tavo_vendor_id}, unsigned{tavo_product_id});
        return -1;
    }
    return take_controller(handle, probed.open_path.c_str(), path, query) ? 0 : -1;
}

}  // namespace

int tavo_usb_finddevice(tavo_usb_handle* handle, int wanted) {
    return catch_out_of_memory(handle, "tavo_usb_finddevice", [&] { return find_device(handle, wanted); });
}

int tavo_usb_opendevice(tavo_usb_handle* handle, const char* path) {
    return catch_out_of_memory(handle, "tavo_usb_opendevice", [&] { return open_device(handle, path); });
}
