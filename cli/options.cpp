#include "options.h"

#include <getopt.h>

#include "numbers.h"

namespace {

enum option_id : int {
    opt_controller = 0,
    opt_box = 1,
    opt_debug = 2,
    opt_tavo = 3,
    opt_tavo_plus = 4,
    opt_setup = 5,
    opt_channel = 6,
};

const struct option long_options[] = {
    {"controller", required_argument, nullptr, opt_controller},
    {"box", required_argument, nullptr, opt_box},
    {"debug", no_argument, nullptr, opt_debug},
    {"setup", no_argument, nullptr, opt_setup},
    {"tavo", no_argument, nullptr, opt_tavo},
    {"tavo+", no_argument, nullptr, opt_tavo_plus},
    {"channel", required_argument, nullptr, opt_channel},
    {nullptr, 0, nullptr, 0},
};

// No short options; "+" stops at the first non-option instead of reordering
// the arguments, so an option after the first code is read as a code.
constexpr const char short_options[] = "+";

}  // namespace

int parse_options(int argc, char** argv, options* opts) {
    if (argc < 2) {
        return -1;
    }
    opterr = 0;
    for (;;) {
        const int id = getopt_long(argc, argv, short_options, long_options, nullptr);
        switch (id) {
            case -1:
                opts->first_code = optind;
                return 0;
            case opt_controller:
                // A number too large for an int stays clamped and matches no controller.
                read_leading_int(optarg, &opts->controller);
                break;
            case opt_box: {
                int box = 0;
                if (!read_leading_int(optarg, &box) || (box != 0 && box != 1)) {
                    return -1;
                }
                opts->output = box;
                break;
            }
            case opt_debug:
                opts->debug = 1;
                break;
            case opt_tavo:
                opts->plus = 0;
                break;
            case opt_tavo_plus:
                opts->plus = 1;
                break;
            case opt_setup:
                opts->setup = 1;
                break;
            case opt_channel:
                opts->channel = optarg;
                break;
            default:
                return -1;
        }
    }
}
