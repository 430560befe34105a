// Library lifecycle and the controller handle.
#include "tavo_usb.h"

#include <new>

int tavo_usb_initalise() {
    return 0;
}

void tavo_usb_finalise() {}

tavo_usb_handle* tavo_usb_create(int debug, int creation_param) {
    auto* handle = new (std::nothrow) tavo_usb_handle();
    if (handle == nullptr) {
        return nullptr;
    }
    handle->write_handle = hid_invalid_channel;
    handle->query_handle = hid_invalid_channel;
    handle->debug = debug;
    handle->creation_param = creation_param;
    return handle;
}

void tavo_usb_free(tavo_usb_handle* handle) {
    if (handle == nullptr) {
        return;
    }
    if (handle->write_handle != hid_invalid_channel) {
        hid_close(handle->write_handle);
    }
    if (handle->query_handle != hid_invalid_channel) {
        hid_close(handle->query_handle);
    }
    delete handle;
}

void tavo_usb_setlines(tavo_usb_handle* handle, tavo_usb_lines lines) {
    handle->lines = lines;
}
