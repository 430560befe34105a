#include "setup.h"

#include <cstdio>
#include <cstdlib>

#include "streams.h"
#include "vocabulary/setup_record.h"

void send_setup(const tavo_usb_handle* handle, int output) {
    const tavo_usb_config config = compiled_setup;
    if (tavo_usb_sendconfig(handle, output, &config) != 0) {
        print_errno("tavo_usb_sendconfig failed");
        std::exit(1);
    }
}
