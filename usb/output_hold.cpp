// A run holds its output from its first report to its last, the pause before
// 'Backup' included: another run for the same output waits for it, but not
// forever, since anyone may keep a hold (a run stopped with SIGSTOP, or any
// Windows user taking the mutex) and a recorder's channel change must end.
#include "output_hold.h"

#include "out_of_memory.h"
#include "print_line.h"
#include "tavo_usb.h"

namespace {

int hold_output(const tavo_usb_handle* handle, int output, std::chrono::milliseconds wait) {
    if (handle->device_path.empty()) {
        return 0;
    }
    const char* path = handle->device_path.c_str();
    const hid_channel channel = handle->write_handle;
    if (output_hold_take(path, channel, output, std::chrono::milliseconds(0)) != output_hold_result::busy) {
        return 0;  // held, or the platform offers no hold: a channel change must not fail for it
    }
    if (handle->debug != 0) {
        print_line("Waiting for another run to finish with output %d...\n", output);
    }
    if (output_hold_take(path, channel, output, wait) != output_hold_result::busy) {
        return 0;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
    print_error("another run has held output %d for %lld s; giving up\n", output,
                static_cast<long long>(seconds));
    return -1;
}

}  // namespace

int tavo_usb_holdoutput(const tavo_usb_handle* handle, int output, std::chrono::milliseconds wait) {
    return catch_out_of_memory("tavo_usb_holdoutput", [&] { return hold_output(handle, output, wait); });
}
