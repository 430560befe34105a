// tavoctl: sends key codes, channel changes and the setup to a Tavo controller.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "change_channel.h"
#include "list.h"
#include "options.h"
#include "platform.h"
#include "send_code.h"
#include "setup.h"
#include "streams.h"
#include "tavo_usb.h"
#include "usage.h"
#include "vocabulary/numbers.h"
#include "vocabulary/pacing.h"

namespace {

// Passed through to the handle; the library keeps it for its callers.
constexpr int handle_creation_param = 1000;

// The controller the run is for: the one at --path, or number --controller.
// Returns only when it is open.
void open_controller(tavo_usb_handle* handle, const options& opts) {
    if (opts.path != nullptr) {
        if (tavo_usb_opendevice(handle, opts.path) != 0) {
            print_error("unable to open tavo controller at '%s'\n", opts.path);
            std::exit(1);
        }
    } else if (tavo_usb_finddevice(handle, opts.controller) != 0) {
        print_error("unable to find tavo controller number %d\n", opts.controller);
        std::exit(1);
    }
}

// The code `text` names; an invalid one ends the run.
std::uint16_t command_code(const char* text) {
    std::uint16_t code = 0;
    if (!read_command_code(text, &code)) {
        print_error("Invalid command code: '%s'\n", text);
        std::exit(1);
    }
    return code;
}

// What fails with nothing sent fails at once, not after waiting up to 30 s
// for another run's output and then blaming that run: a channel number (one
// request, checked whole before the setup too) or a first code with nothing
// before it. Codes are read as they come: those before an invalid one are
// still sent.
void check_before_waiting(const options& opts, int argc, char** argv) {
    if (opts.channel != nullptr) {
        reject_invalid_channel(opts.channel);
    } else if (opts.setup == 0 && opts.first_code < argc) {
        command_code(argv[opts.first_code]);  // ends the run when invalid
    }
}

// Everything but the end: returns the status, or leaves through exit(1).
int run(int argc, char** argv, text_charset charset) {
    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "tavoctl";

    options opts;
    if (parse_options(argc, argv, &opts) != 0) {
        usage(program);
        return 1;
    }
    if (opts.help != 0) {
        help(program);
        return 0;
    }
    if (opts.version != 0) {
        version();
        return 0;
    }
    debug_flag = opts.debug;

    if (tavo_usb_initalise() != 0) {
        print_error("tavo_usb_initalise failed\n");
        std::exit(1);
    }
    tavo_usb_handle* handle = tavo_usb_create(debug_flag, handle_creation_param);
    if (handle == nullptr) {
        print_error("unable to create tavo controller handle %d\n", opts.controller);
        std::exit(1);
    }
    tavo_usb_setlines(handle, standard_streams());
    handle->charset = charset;
    if (opts.list != 0) {
        list_controllers(handle);
        tavo_usb_free(handle);
        tavo_usb_finalise();
        return 0;
    }
    open_controller(handle, opts);
    if (debug_flag != 0) {
        tavo_usb_printmanufacturer(handle);
    }
    check_before_waiting(opts, argc, argv);
    // Held from before the first report until the process ends: the gaps and
    // the pause included, so no other run's keys come between ours.
    if (tavo_usb_holdoutput(handle, opts.output, tavo_hold_wait_bound) != 0) {
        std::exit(1);
    }
    report_pacing pacing;
    pacing.gap_ms = opts.gap_ms;
    pacing.pause_ms = opts.pause_ms;
    pacing.announce_wait = trace_wait;
    if (opts.setup != 0) {
        wait_gap(&pacing);
        send_setup(handle, opts.output);
    }
    if (opts.channel != nullptr) {
        change_channel(handle, opts.output, opts.plus, opts.channel, &pacing);
    } else {
        for (int i = opts.first_code; i < argc; ++i) {
            const std::uint16_t code = command_code(argv[i]);
            wait_gap(&pacing);
            send_code(handle, opts.output, code);
        }
    }
    tavo_usb_free(handle);
    tavo_usb_finalise();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!platform_reserve_standard_descriptors()) {
        print_errno("tavoctl: unable to open /dev/null in place of a closed standard stream");
        return 1;
    }
    set_up_streams();
    const text_charset charset = platform_text_charset();
    // The library lets no exception out; the front end's own texts (usage,
    // help, the list's fields) may still find memory exhausted.
    try {
        return run_status(run(argc, argv, charset));
    } catch (const std::bad_alloc&) {
        print_error("tavoctl: out of memory\n");
        return 1;
    }
}
