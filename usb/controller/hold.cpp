// A run holds its output from its first report to its last, the pause before
// 'Backup' included: another run for the same output waits for it, but not
// forever, since anyone may keep a hold (a run stopped with SIGSTOP, or any
// Windows user taking the mutex) and a recorder's channel change must end.
#include <chrono>
#include <string>

#include "lines.h"
#include "out_of_memory.h"
#include "platform.h"
#include "tavo_usb.h"

namespace {

int hold_output(const tavo_usb_handle* handle, int output, std::chrono::milliseconds asked) {
    if (handle->device_path.empty()) {
        return 0;
    }
    const std::chrono::milliseconds wait = output_hold_wait(asked);
    const char* path = handle->device_path.c_str();
    const hid_channel channel = handle->write_handle;
    std::string why;
    output_hold_result result = output_hold_take(path, channel, output, std::chrono::milliseconds(0), &why);
    if (result == output_hold_result::busy) {
        if (handle->debug != 0) {
            handle_out(handle, "Waiting for another run to finish with output %d...\n", output);
        }
        result = output_hold_take(path, channel, output, wait, &why);
    }
    switch (result) {
        case output_hold_result::held:
        case output_hold_result::unavailable:  // a channel change must not fail for want of a hold
            return 0;
        case output_hold_result::refused:
            handle_err(handle, "unable to hold output %d: %s\n", output, why.c_str());
            return -1;
        case output_hold_result::busy:
            break;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
    handle_err(handle, "another run has held output %d for %lld s; giving up\n", output,
               static_cast<long long>(seconds));
    return -1;
}

}  // namespace

int tavo_usb_holdoutput(const tavo_usb_handle* handle, int output, std::chrono::milliseconds wait) {
    return catch_out_of_memory(handle, "tavo_usb_holdoutput",
                               [&] { return hold_output(handle, output, wait); });
}
