// Sending command and setup reports to an open controller.
#include <cerrno>
#include <cstdio>

#include "lines.h"
#include "out_of_memory.h"
#include "platform.h"
#include "report.h"
#include "tavo_usb.h"

namespace {

struct write_outcome {
    bool ok;
    std::size_t written;
    int error;        // platform error code, for the message
    int errno_value;  // what perror() should describe afterwards
};

write_outcome write_report(const tavo_usb_handle* handle, const report_frame& frame) {
    std::size_t written = 0;
    const bool ok = hid_write(handle->write_handle, frame, &written);
    write_outcome outcome{ok, written, 0, 0};
    if (!ok) {
        outcome.error = hid_last_error();
        outcome.errno_value = errno;
    } else if (written != frame.size()) {
        // The platform saw no error, but the controller did not get the report.
        outcome.error = hid_last_error();
        outcome.errno_value = EIO;
    }
    return outcome;
}

bool complete(const write_outcome& outcome) {
    return outcome.ok && outcome.written == report_frame{}.size();
}

int send_command(const tavo_usb_handle* handle, int output, int code) {
    const report_frame frame = command_report(output, code);
    if (handle->debug != 0) {
        handle_out(handle, "sending cmd %04x to output %d: bytes %d, %d, %d\n", static_cast<unsigned>(code),
                   output, frame[1], frame[2], frame[3]);
    }
    const write_outcome outcome = write_report(handle, frame);
    if (complete(outcome)) {
        return 0;
    }
    handle_out(handle, "WriteFile failed (%d / %d) : %d\n", outcome.ok ? 1 : 0,
               static_cast<int>(outcome.written), outcome.error);
    errno = outcome.errno_value;
    return -1;
}

int send_config(const tavo_usb_handle* handle, int output, const tavo_usb_config* config) {
    for (const report_frame& frame : {setup_report_a(output, *config), setup_report_b(output, *config)}) {
        const write_outcome outcome = write_report(handle, frame);
        if (!complete(outcome)) {
            handle_err(handle, "WriteFile failed (%d)\n", outcome.error);
            errno = outcome.errno_value;
            return -1;
        }
    }
    return 0;
}

}  // namespace

// Neither backend needs memory to send; a platform that does must not let an
// exception out all the same.
int tavo_usb_sendcommand(const tavo_usb_handle* handle, int output, int code) {
    return catch_out_of_memory(handle, "tavo_usb_sendcommand",
                               [&] { return send_command(handle, output, code); });
}

int tavo_usb_sendconfig(const tavo_usb_handle* handle, int output, const tavo_usb_config* config) {
    return catch_out_of_memory(handle, "tavo_usb_sendconfig",
                               [&] { return send_config(handle, output, config); });
}
