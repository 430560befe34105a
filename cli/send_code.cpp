#include "send_code.h"

#include <cstdio>
#include <cstdlib>

#include "streams.h"

int debug_flag = 0;

void trace_wait(int ms) {
    if (debug_flag != 0) {
        print_line("Waiting %d ms...\n", ms);
    }
}

void send_code(const tavo_usb_handle* handle, int output, std::uint16_t code) {
    if (debug_flag != 0) {
        print_line("sending code %04x to output %d\n", unsigned{code}, output);
    }
    if (tavo_usb_sendcommand(handle, output, code) != 0) {
        print_errno("tavo_usb_sendcommand failed");
        std::exit(1);
    }
}
