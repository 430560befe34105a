#include "options.h"

#include <getopt.h>

#include "vocabulary/numbers.h"

namespace {

enum option_id : int {
    opt_controller = 0,
    opt_box = 1,
    opt_debug = 2,
    opt_tavo = 3,
    opt_tavo_plus = 4,
    opt_setup = 5,
    opt_channel = 6,
    opt_path = 7,
    opt_list = 8,
    opt_help = 9,
    opt_version = 10,
    opt_gap = 11,
    opt_pause = 12,
};

const struct option long_options[] = {
    {"controller", required_argument, nullptr, opt_controller},
    {"box", required_argument, nullptr, opt_box},
    {"debug", no_argument, nullptr, opt_debug},
    {"setup", no_argument, nullptr, opt_setup},
    {"tavo", no_argument, nullptr, opt_tavo},
    {"tavo+", no_argument, nullptr, opt_tavo_plus},
    {"channel", required_argument, nullptr, opt_channel},
    // Later names never begin with c, b, d, s or t: an abbreviation that
    // works today (--s for --setup) must keep its meaning.
    {"path", required_argument, nullptr, opt_path},
    {"list", no_argument, nullptr, opt_list},
    {"help", no_argument, nullptr, opt_help},
    {"version", no_argument, nullptr, opt_version},
    // --pause makes --p and --pa ambiguous with --path; g and p leave
    // everything else as it was.
    {"gap", required_argument, nullptr, opt_gap},
    {"pause", required_argument, nullptr, opt_pause},
    {nullptr, 0, nullptr, 0},
};

// No short options; "+" stops at the first non-option instead of reordering
// the arguments, so an option after the first code is read as a code.
constexpr const char short_options[] = "+";

// Combinations that ask for two things at once.
int check_combination(int argc, const options* opts) {
    if (opts->help != 0 || opts->version != 0) {
        return 0;
    }
    if (opts->path != nullptr && opts->controller_given != 0) {
        return -1;
    }
    const bool sends = opts->setup != 0 || opts->channel != nullptr || opts->first_code < argc;
    if (opts->list != 0 && (opts->controller_given != 0 || opts->path != nullptr || sends)) {
        return -1;
    }
    return 0;
}

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
                return check_combination(argc, opts);
            case opt_controller:
                // A number too large for an int stays clamped and matches no controller.
                read_leading_int(optarg, &opts->controller);
                opts->controller_given = 1;
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
            case opt_path:
                opts->path = optarg;
                break;
            case opt_list:
                opts->list = 1;
                break;
            case opt_help:
                opts->help = 1;
                break;
            case opt_version:
                opts->version = 1;
                break;
            case opt_gap:
                if (!read_milliseconds(optarg, &opts->gap_ms)) {
                    return -1;
                }
                break;
            case opt_pause:
                if (!read_milliseconds(optarg, &opts->pause_ms)) {
                    return -1;
                }
                break;
            default:
                return -1;
        }
    }
}
