// The option parser over any argument vector: it never reads or writes out
// of bounds, never reorders the arguments, and what it returns obeys the
// rules of the command line.
#include <getopt.h>

#include <functional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "options.h"
#include "vocabulary/numbers.h"

namespace {

// Room for every option with its value, and codes after them: more arguments
// only repeat what these can already hold.
constexpr std::size_t max_arguments = 40;

bool points_into(const char* text, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        // std::less: a total order even over pointers into different arrays.
        const std::less<const char*> before;
        if (!before(text, argument.data()) && !before(argument.data() + argument.size(), text)) {
            return true;
        }
    }
    return false;
}

void check(int result, const options& opts, const std::vector<char*>& argv, int argc) {
    require(result == 0 || result == -1, "the result is 0 or -1");
    require(argc >= 2 || result == -1, "no arguments is a usage error");
    require(opts.output == 0 || opts.output == 1, "the output is 0 or 1");
    require(opts.gap_ms >= 0 && opts.gap_ms <= max_milliseconds, "the gap is 0 to 60000 ms");
    require(opts.pause_ms >= 0 && opts.pause_ms <= max_milliseconds, "the pause is 0 to 60000 ms");
    if (result != 0 || opts.help != 0 || opts.version != 0) {
        return;
    }
    require(opts.first_code >= 1 && opts.first_code <= argc, "the first code is within argv");
    if (opts.first_code < argc) {
        // Options come before the codes: the first code is no option, or
        // follows "--".
        const std::string_view first = argv[static_cast<std::size_t>(opts.first_code)];
        const std::string_view before = argv[static_cast<std::size_t>(opts.first_code) - 1];
        require(!first.starts_with('-') || first == "-" || before == "--", "the first code is no option");
    }
    require(opts.path == nullptr || opts.controller_given == 0, "--path never with --controller");
    require(opts.list == 0 || (opts.controller_given == 0 && opts.path == nullptr && opts.setup == 0 &&
                               opts.channel == nullptr && opts.first_code == argc),
            "--list neither picks a controller nor sends");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments = {"tavoctl"};
    std::string_view rest = input_bytes(data, size);
    while (!rest.empty() && arguments.size() < max_arguments) {
        const std::size_t end = rest.find('\0');
        arguments.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const std::vector<char*> given = argv;
    const int argc = static_cast<int>(arguments.size());

    optind = 0;  // glibc's getopt starts over, its state of the last run forgotten
    options opts;
    const int result = parse_options(argc, argv.data(), &opts);
    require(argv == given, "the arguments keep their order");
    require(opts.channel == nullptr || points_into(opts.channel, arguments),
            "--channel's text is an argument's");
    require(opts.path == nullptr || points_into(opts.path, arguments), "--path's text is an argument's");
    check(result, opts, argv, argc);
    return 0;
}
