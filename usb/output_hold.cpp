// A run holds its output from its first report to its last, the pause before
// 'Backup' included: another run for the same output waits for it.
#include "output_hold.h"

#include <cstdio>

#include "print_line.h"
#include "tavo_usb.h"

void tavo_usb_holdoutput(const tavo_usb_handle* handle, int output) {
    if (handle->device_path.empty()) {
        return;
    }
    const char* path = handle->device_path.c_str();
    if (output_hold_take(path, output, output_hold_wait::no) != output_hold_result::busy) {
        return;  // held, or the platform offers no hold: a channel change must not fail for it
    }
    if (handle->debug != 0) {
        print_line("Waiting for another run to finish with output %d...\n", output);
    }
    output_hold_take(path, output, output_hold_wait::yes);
}
