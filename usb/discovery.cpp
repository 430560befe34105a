// Finding controller number N among the HID devices present.
#include <cstdio>

#include "hid_enum.h"
#include "hid_io.h"
#include "tavo_usb.h"

namespace {

// Keeps the enumeration open for exactly one search.
struct enumeration_scope {
    enumeration_scope() { hid_enum_begin(); }
    ~enumeration_scope() { hid_enum_end(); }
    enumeration_scope(const enumeration_scope&) = delete;
    enumeration_scope& operator=(const enumeration_scope&) = delete;
};

// Makes `channel` the handle's query channel, closing one left by an earlier
// match whose write open failed.
void keep_query_channel(tavo_usb_handle* handle, hid_channel channel) {
    if (handle->query_handle != hid_invalid_channel && handle->query_handle != channel) {
        hid_close(handle->query_handle);
    }
    handle->query_handle = channel;
}

}  // namespace

int tavo_usb_finddevice(tavo_usb_handle* handle, int wanted) {
    int matches = 0;
    {
        enumeration_scope scope;
        while (handle->write_handle == hid_invalid_channel) {
            const hid_interface* iface = hid_enum_next();
            if (iface == nullptr) {
                break;
            }
            hid_detail_ptr detail = hid_interface_detail(iface);
            if (!detail) {
                continue;
            }
            const char* path = hid_detail_path(detail.get());
            hid_channel query = hid_open(path, hid_access::read_write);
            if (query == hid_invalid_channel) {
                continue;
            }

            std::uint16_t vendor = 0;
            std::uint16_t product = 0;
            // A device that cannot name itself cannot be a controller.
            if (hid_get_attributes(query, &vendor, &product)) {
                if (handle->debug != 0) {
                    std::printf("Found device: %04x-%04x\n", unsigned{vendor}, unsigned{product});
                }
                if (vendor == tavo_vendor_id && product == tavo_product_id) {
                    if (handle->debug != 0) {
                        std::printf("Found tavo control num %d\n", matches);
                    }
                    if (matches == wanted) {
                        handle->write_handle = hid_open(path, hid_access::write_only);
                        if (handle->write_handle == hid_invalid_channel) {
                            std::fprintf(stderr, "Failed to open device (%d)\n", hid_last_error());
                        } else {
                            handle->device_path = path;
                        }
                        // On failure the next match is tried under the same number.
                        keep_query_channel(handle, query);
                        continue;
                    }
                    ++matches;
                }
            }
            hid_close(query);
        }
    }

    if (handle->write_handle != hid_invalid_channel) {
        return 0;
    }
    std::fprintf(stderr, "tavo_usb_finddevice(%d) failed to find device %04x-%04x\n", matches,
                 unsigned{tavo_vendor_id}, unsigned{tavo_product_id});
    return -1;
}
