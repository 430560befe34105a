// tavoctl as its users meet it: the built program, run as a process on the
// fake controller, judged by its exact output, status and the reports sent.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "process_harness.h"
#include "run_process.h"

namespace {

const std::string one_controller = "device 6666:f100 name=Tavo Ltd\n";
const std::string two_controllers = "device 6666:f100 name=First\ndevice 6666:f100 name=Second\n";
const std::string no_devices;
const std::string usage_marker = "<usage>";
// --help: the usage text on stdout, then the options it leaves out.
const std::string help_marker = "<help>";
const std::string help_tail =
    "Other options:\n"
    "\n"
    "[--path <device - the controller at this device path, instead of --controller>]\n"
    "[--gap <ms - 0 to 60000, default 0>] - wait after each key or code before the next; "
    "a box that drops digits: try --gap 300\n"
    "[--pause <ms - 0 to 60000, default 2000>] - wait between the last digit and 'Backup'; "
    "a box that misses the channel: try --pause 3000\n"
    "[--list] - list the controllers: number, device path, USB port, manufacturer, product, serial\n"
    "[--help] - print this text\n"
    "[--version] - print the version\n";

std::string cmd(int device, int output, std::uint16_t code) {
    return command_report_text(device, output, code);
}

std::string not_found(int seen, int wanted) {
    return "tavo_usb_finddevice(" + std::to_string(seen) + ") failed to find device 6666-f100\n" +
           "unable to find tavo controller number " + std::to_string(wanted) + "\n";
}

std::string perror_line(const char* what, int errno_value) {
    return std::string(what) + ": " + std::strerror(errno_value) + "\n";
}

struct run_case {
    const char* name;
    std::string scenario;
    std::vector<std::string> args;
    int status;
    std::string out;  // help_marker stands for the --help text
    std::string err;  // usage_marker stands for the usage text
    std::vector<std::string> reports;
    int pause_before = -1;  // index of the report that must follow a pause of at least 2 s
    bool one_pipe = false;  // both streams through one pipe: `out` is what comes through, in order
    std::vector<int> min_gaps_ms = {};          // [i]: at least this long between reports i and i + 1
    stdout_sink stdout_to = stdout_sink::file;  // elsewhere, `out` is what was read back: nothing
    environment_variables env = {};             // the locale, for one: none (C) unless named here
    unsigned closed = 0;                        // bit N: descriptor N closed at the start
};

// Stands in a scenario for a real file as a device's path: nothing but the
// reports (which the fake logs) may reach it.
const std::string device_file_marker = "{device-file}";

void PrintTo(const run_case& c, std::ostream* os) {
    *os << c.name;
}

void expect_run(const run_case& c) {
    std::string scenario = c.scenario;
    std::string device_file;
    if (const auto at = scenario.find(device_file_marker); at != std::string::npos) {
        device_file = make_scratch_dir() + "/hidraw";
        write_file(device_file, "");
        scenario.replace(at, device_file_marker.size(), device_file);
    }
    const tavoctl_run run = run_tavoctl_fake(scenario, c.args, c.one_pipe, c.stdout_to, c.env, c.closed);
    if (!device_file.empty()) {
        EXPECT_EQ(read_file(device_file), "") << "written to the device other than as a report";
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(device_file).parent_path(), ignored);
    }
    const std::string err = c.err == usage_marker ? expected_usage(TAVOCTL_FAKE) : c.err;
    const std::string out = c.out == help_marker ? expected_usage(TAVOCTL_FAKE) + help_tail : c.out;
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, native_lines(out));
    EXPECT_EQ(run.err, native_lines(err));
    EXPECT_EQ(run.report_texts(), c.reports);
    if (c.pause_before > 0 && static_cast<std::size_t>(c.pause_before) < run.reports.size()) {
        const auto i = static_cast<std::size_t>(c.pause_before);
        const std::int64_t gap_ns = run.reports[i].at_ns - run.reports[i - 1].at_ns;
        EXPECT_GE(gap_ns, 2'000'000'000) << "the box needs 2 s before 'Backup'";
    }
    for (std::size_t i = 0; i < c.min_gaps_ms.size() && i + 1 < run.reports.size(); ++i) {
        const std::int64_t gap_ns = run.reports[i + 1].at_ns - run.reports[i].at_ns;
        EXPECT_GE(gap_ns, std::int64_t{c.min_gaps_ms[i]} * 1'000'000)
            << "between reports " << i << " and " << i + 1;
    }
}

class command_line : public testing::TestWithParam<run_case> {};

std::string case_name(const testing::TestParamInfo<run_case>& param_info) {
    return param_info.param.name;
}
TEST_P(command_line, behaves_exactly) {
    expect_run(GetParam());
}

// Parsing: what is an option, what is a code, and what is a usage error.
INSTANTIATE_TEST_SUITE_P(
    parsing, command_line,
    testing::Values(
        run_case{"no_arguments", one_controller, {}, 1, "", usage_marker, {}},
        run_case{"box_2", one_controller, {"--box", "2", "0001"}, 1, "", usage_marker, {}},
        run_case{"box_minus_1", one_controller, {"--box", "-1", "0001"}, 1, "", usage_marker, {}},
        run_case{
            "box_not_a_number_is_0", one_controller, {"--box", "x", "0C03"}, 0, "", "", {cmd(0, 0, 0x0c03)}},
        run_case{"box_leading_number", one_controller, {"--box", " 1abc", "0001"}, 0, "", "", {cmd(0, 1, 1)}},
        run_case{
            "box_overflowing_int", one_controller, {"--box", "4294967297", "0001"}, 1, "", usage_marker, {}},
        run_case{"box_takes_dashed_argument",
                 one_controller,
                 {"--box", "--debug", "0C03"},
                 0,
                 "",
                 "",
                 {cmd(0, 0, 0x0c03)}},
        run_case{"box_equals_form", one_controller, {"--box=1", "0C03"}, 0, "", "", {cmd(0, 1, 0x0c03)}},
        run_case{"box_missing_argument", one_controller, {"--box"}, 1, "", usage_marker, {}},
        run_case{"channel_missing_argument", one_controller, {"--channel"}, 1, "", usage_marker, {}},
        run_case{"unknown_option", one_controller, {"--bogus", "0001"}, 1, "", usage_marker, {}},
        run_case{"options_are_case_sensitive", one_controller, {"--Debug", "0001"}, 1, "", usage_marker, {}},
        run_case{"single_dash_option", one_controller, {"-d", "0001"}, 1, "", usage_marker, {}},
        run_case{"single_dash_long_name", one_controller, {"-debug", "0001"}, 1, "", usage_marker, {}},
        run_case{"argument_to_flag", one_controller, {"--debug=1", "0001"}, 1, "", usage_marker, {}},
        run_case{"ambiguous_prefix", one_controller, {"--c", "1", "0001"}, 1, "", usage_marker, {}},
        run_case{"ambiguous_tav", one_controller, {"--tav", "0001"}, 1, "", usage_marker, {}},
        run_case{"unambiguous_prefix",
                 two_controllers,
                 {"--cont=1", "--b", "1", "0002"},
                 0,
                 "",
                 "",
                 {cmd(1, 1, 2)}},
        run_case{"exact_tavo_beats_tavo_plus", one_controller, {"--tavo", "0001"}, 0, "", "", {cmd(0, 0, 1)}},
        run_case{"double_dash_ends_options", one_controller, {"--", "0001"}, 0, "", "", {cmd(0, 0, 1)}},
        run_case{"double_dash_then_option_is_a_code",
                 one_controller,
                 {"--", "--debug"},
                 1,
                 "",
                 "Invalid command code: '--debug'\n",
                 {}},
        run_case{"lone_dash_is_a_bad_code",
                 one_controller,
                 {"--box", "1", "-"},
                 1,
                 "",
                 "Invalid command code: '-'\n",
                 {}},
        run_case{"no_permutation",
                 one_controller,
                 {"--controller", "0", "0001", "--box", "1"},
                 1,
                 "",
                 "Invalid command code: '--box'\n",
                 {cmd(0, 0, 1)}},
        run_case{"last_setting_wins",
                 two_controllers,
                 {"--box", "0", "--controller", "1", "--box", "1", "--controller=0", "0005"},
                 0,
                 "",
                 "",
                 {cmd(0, 1, 5)}},
        run_case{"options_only", one_controller, {"--box", "1"}, 0, "", "", {}}),
    case_name);

// Code arguments: what sscanf("%x") reads, accepted only when it fits 16 bits.
INSTANTIATE_TEST_SUITE_P(
    codes, command_line,
    testing::Values(
        run_case{"several_codes_in_order",
                 one_controller,
                 {"--box", "1", "0C03", "0C05", "0C06"},
                 0,
                 "",
                 "",
                 {cmd(0, 1, 0x0c03), cmd(0, 1, 0x0c05), cmd(0, 1, 0x0c06)}},
        run_case{"spellings",
                 one_controller,
                 {"0xc03", "0XFFFF", " \t12zz", "+7", "-0", "0x", "0000000000001"},
                 0,
                 "",
                 "",
                 {cmd(0, 0, 0x0c03), cmd(0, 0, 0xffff), cmd(0, 0, 0x12), cmd(0, 0, 7), cmd(0, 0, 0),
                  cmd(0, 0, 0), cmd(0, 0, 1)}},
        run_case{"code_0000_is_a_full_report", one_controller, {"0000"}, 0, "", "", {cmd(0, 0, 0)}},
        run_case{"too_large",
                 one_controller,
                 {"0001", "10000", "0002"},
                 1,
                 "",
                 "Invalid command code: '10000'\n",
                 {cmd(0, 0, 1)}},
        run_case{"negative",
                 one_controller,
                 {"0001", "-1"},
                 1,
                 "",
                 "Invalid command code: '-1'\n",
                 {cmd(0, 0, 1)}},
        run_case{"negative_first_is_an_option", one_controller, {"-1"}, 1, "", usage_marker, {}},
        run_case{
            "wraps_32_bits", one_controller, {"100000000"}, 1, "", "Invalid command code: '100000000'\n", {}},
        run_case{"negative_wraps_to_1",
                 one_controller,
                 {"--", "-FFFFFFFF"},
                 1,
                 "",
                 "Invalid command code: '-FFFFFFFF'\n",
                 {}},
        run_case{"not_hex",
                 one_controller,
                 {"0001", "0002", "zz", "0003"},
                 1,
                 "",
                 "Invalid command code: 'zz'\n",
                 {cmd(0, 0, 1), cmd(0, 0, 2)}},
        run_case{"empty", one_controller, {""}, 1, "", "Invalid command code: ''\n", {}},
        run_case{"blank", one_controller, {"  "}, 1, "", "Invalid command code: '  '\n", {}}),
    case_name);

run_case in_locale(run_case c, environment_variables env) {
    c.env = std::move(env);
    return c;
}

// Discovery: which controller gets the reports, and what --debug shows.
const std::string mixed_devices =
    "device 046d:c52b name=Logitech\n"
    "device 6666:f100 open=none\n"  // not openable: neither listed nor counted
    "device 6666:f100 name=First\n"
    "device 6666:f101 name=Almost\n"
    "device 6666:f100 detail=fail\n"  // no path: skipped
    "device 6666:f100 name=Second\n";

// A device chooses its own strings: ESC, C1 CSI (U+009B) and a right-to-left
// override must not reach the terminal, and a Czech name stays readable.
const std::string hostile_names =
    "device 6666:f100 product=\\u001b[2J serial=\\u202eX "
    "name=Dv\\u011bd \\u009b[2J \\u202eolleh\\u001b]0;x\\u0007\n";

INSTANTIATE_TEST_SUITE_P(
    discovery, command_line,
    testing::Values(
        run_case{"no_controller", no_devices, {"0001"}, 1, "", not_found(0, 0), {}},
        run_case{"only_other_devices", "device 046d:c52b\n", {"0001"}, 1, "", not_found(0, 0), {}},
        run_case{"second_controller",
                 two_controllers,
                 {"--controller", "1", "--box", "1", "0C03"},
                 0,
                 "",
                 "",
                 {cmd(1, 1, 0x0c03)}},
        run_case{"past_the_last", two_controllers, {"--controller", "2", "0001"}, 1, "", not_found(2, 2), {}},
        run_case{
            "negative_number", two_controllers, {"--controller", "-1", "0001"}, 1, "", not_found(2, -1), {}},
        run_case{"huge_number",
                 one_controller,
                 {"--controller", "99999999999", "0001"},
                 1,
                 "",
                 not_found(1, 2147483647),
                 {}},
        run_case{"skips_unopenable_and_foreign",
                 mixed_devices,
                 {"--controller", "1", "0001"},
                 0,
                 "",
                 "",
                 {cmd(5, 0, 1)}},
        run_case{"write_open_fails_next_takes_its_number",
                 "device 6666:f100 open=rw-only error=5\ndevice 6666:f100\n",
                 {"0001"},
                 0,
                 "",
                 "Failed to open device (5)\n",
                 {cmd(1, 0, 1)}},
        run_case{"write_open_fails_on_the_last",
                 "device 6666:f100\ndevice 6666:f100 open=rw-only\n",
                 {"--controller", "1", "0001"},
                 1,
                 "",
                 "Failed to open device (5)\n" + not_found(1, 1),
                 {}},
        run_case{"debug_trace",
                 mixed_devices,
                 {"--debug", "--controller", "1", "--box", "1", "0C03"},
                 0,
                 "Found device: 046d-c52b\n"
                 "Found device: 6666-f100\n"
                 "Found tavo control num 0\n"
                 "Found device: 6666-f101\n"
                 "Found device: 6666-f100\n"
                 "Found tavo control num 1\n"
                 "- Manufacturer : Second\n"
                 "sending code 0c03 to output 1\n"
                 "sending cmd 0c03 to output 1: bytes 49, 12, 3\n",
                 "",
                 {cmd(5, 1, 0x0c03)}},
        // Memory that runs out in the walk fails the search like any other failure.
        run_case{"walk_out_of_memory",
                 "device 6666:f100\ndevice 6666:f100 detail=oom\n",
                 {"--controller", "1", "0001"},
                 1,
                 "",
                 "tavo_usb_finddevice: out of memory\nunable to find tavo controller number 1\n",
                 {}},
        run_case{"debug_not_found",
                 "device 046d:c52b\n",
                 {"--debug"},
                 1,
                 "Found device: 046d-c52b\n",
                 not_found(0, 0),
                 {}},
        run_case{"debug_options_only",
                 one_controller,
                 {"--debug"},
                 0,
                 "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n",
                 "",
                 {}},
        run_case{"debug_manufacturer_refused",
                 "device 6666:f100 manufacturer=refuse\n",
                 {"--debug", "0080"},
                 0,
                 "Found device: 6666-f100\nFound tavo control num 0\n- Unable to fetch manufacturer string\n"
                 "sending code 0080 to output 0\nsending cmd 0080 to output 0: bytes 48, 0, 128\n",
                 "",
                 {cmd(0, 0, 0x0080)}},
        in_locale(run_case{"debug_manufacturer_hostile",
                           hostile_names,
                           {"--debug"},
                           0,
                           "Found device: 6666-f100\nFound tavo control num 0\n"
                           "- Manufacturer : Dv\xc4\x9b"
                           "d ?[2J ?olleh?]0;x?\n",
                           "",
                           {}},
                  {{"LANG", "C.UTF-8"}}),
        run_case{"debug_manufacturer_empty",
                 "device 6666:f100 name=\n",
                 {"--debug"},
                 0,
                 "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : \n",
                 "",
                 {}}),
    case_name);

// The options added for installing and telling controllers apart. Their names
// leave every abbreviation that worked before as it was.
const std::string listed_devices =
    "device 046d:c52b name=Logitech\n"
    "device 6666:f100 open=none\n"  // refused: counted on stderr, not listed
    "device 6666:f100 port=1-2.3 product=Remote serial=A17 name=Tavo Ltd\n"
    "device 6666:f101 product=Almost name=Almost\n"
    "device 6666:f100 detail=fail\n"
    "device 6666:f100 port=1-4 manufacturer=refuse\n"
    "device 6666:f100 serial= name=Tab\there\n";
const std::string listed_lines =
    "0\tfake:2\t1-2.3\tTavo Ltd\tRemote\tA17\n"
    "1\tfake:5\t1-4\t\t\t\n"
    "2\tfake:6\t\tTab here\t\t\n";
const std::string one_denied =
    "1 HID device could not be opened for lack of permission: controllers need the udev rule "
    "60-tavoctl.rules, and users without a seat need to be in group plugdev\n";

std::string path_refused(const std::string& path, const std::string& why) {
    return "tavo_usb_opendevice('" + path + "'): " + why + "\nunable to open tavo controller at '" + path +
           "'\n";
}

INSTANTIATE_TEST_SUITE_P(
    new_options, command_line,
    testing::Values(
        run_case{"help", one_controller, {"--help"}, 0, help_marker, "", {}},
        run_case{"help_wins", one_controller, {"--list", "--h", "0001"}, 0, help_marker, "", {}},
        run_case{"help_after_bad_option", one_controller, {"--bogus", "--help"}, 1, "", usage_marker, {}},
        run_case{"version", one_controller, {"--version"}, 0, "tavoctl " TAVOCTL_VERSION "\n", "", {}},
        run_case{"version_prefix", no_devices, {"--v", "0001"}, 0, "tavoctl " TAVOCTL_VERSION "\n", "", {}},
        run_case{"setup_prefix_s",
                 one_controller,
                 {"--s"},
                 0,
                 "",
                 "",
                 {frame_text(0, {0x00, 0x73, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B}),
                  frame_text(0, {0x00, 0x75, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A})}},
        run_case{"list", listed_devices, {"--list"}, 0, listed_lines, one_denied, {}},
        run_case{
            "list_prefix_with_box", listed_devices, {"--box", "1", "--l"}, 0, listed_lines, one_denied, {}},
        run_case{
            "numbered_as_listed", listed_devices, {"--controller", "2", "0001"}, 0, "", "", {cmd(6, 0, 1)}},
        in_locale(run_case{"list_hostile",
                           hostile_names,
                           {"--list"},
                           0,
                           "0\tfake:0\t\tDv\xc4\x9b"
                           "d  [2J  olleh ]0;x \t [2J\t X\n",
                           "",
                           {}},
                  {{"LANG", "C.UTF-8"}}),
        // Keyboards and mice refuse everyone but root: no word of the udev rule.
        run_case{"list_refused_foreign_device",
                 "device 046d:c52b open=none\ndevice 6666:f100 port=1-1 name=Tavo\n",
                 {"--list"},
                 0,
                 "0\tfake:1\t1-1\tTavo\t\t\n",
                 "",
                 {}},
        run_case{"list_nothing", "device 046d:c52b\ndevice 6666:f101\n", {"--list"}, 0, "", "", {}},
        run_case{"list_out_of_memory",
                 "device 6666:f100\ndevice 6666:f100 detail=oom\n",
                 {"--list"},
                 1,
                 "",
                 "tavo_usb_listdevices: out of memory\nunable to list tavo controllers\n",
                 {}},
        run_case{"list_debug",
                 "device 6666:f101\ndevice 6666:f100 serial=7\n",
                 {"--list", "--debug"},
                 0,
                 "Found device: 6666-f101\nFound device: 6666-f100\nFound tavo control num 0\n"
                 "0\tfake:1\t\tTavo\t\t7\n",
                 "",
                 {}},
        run_case{"list_with_codes", one_controller, {"--list", "0001"}, 1, "", usage_marker, {}},
        run_case{"list_with_channel", one_controller, {"--list", "--channel", "1"}, 1, "", usage_marker, {}},
        run_case{"list_with_setup", one_controller, {"--setup", "--list"}, 1, "", usage_marker, {}},
        run_case{
            "list_with_controller", one_controller, {"--list", "--controller", "0"}, 1, "", usage_marker, {}},
        run_case{"list_with_path", one_controller, {"--list", "--path", "fake:0"}, 1, "", usage_marker, {}},
        run_case{"path",
                 listed_devices,
                 {"--path", "fake:5", "--box", "1", "0C03"},
                 0,
                 "",
                 "",
                 {cmd(5, 1, 0x0c03)}},
        run_case{"path_prefix", listed_devices, {"--pat=fake:6", "0001"}, 0, "", "", {cmd(6, 0, 1)}},
        run_case{"path_debug",
                 listed_devices,
                 {"--debug", "--path", "fake:2", "0001"},
                 0,
                 "Found device: 6666-f100\n- Manufacturer : Tavo Ltd\n"
                 "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n",
                 "",
                 {cmd(2, 0, 1)}},
        run_case{"path_not_a_controller",
                 listed_devices,
                 {"--path", "fake:3", "0001"},
                 1,
                 "",
                 path_refused("fake:3", "device 6666-f101 is not a tavo controller (6666-f100)"),
                 {}},
        run_case{"path_missing",
                 listed_devices,
                 {"--path", "fake:9", "0001"},
                 1,
                 "",
                 path_refused("fake:9", "No such file or directory"),
                 {}},
        run_case{"path_empty",
                 listed_devices,
                 {"--path", "", "0001"},
                 1,
                 "",
                 path_refused("", "no device path given"),
                 {}},
        run_case{"path_refused",
                 listed_devices,
                 {"--path", "fake:1", "--channel", "5"},
                 1,
                 "",
                 path_refused("fake:1", "Permission denied"),
                 {}},
        run_case{"path_not_hid",
                 "device 6666:f100 attrs=fail\n",
                 {"--path", "fake:0", "0001"},
                 1,
                 "",
                 path_refused("fake:0", "not a HID device"),
                 {}},
        run_case{"path_write_open_fails",
                 "device 6666:f100 open=rw-only\n",
                 {"--path", "fake:0", "0001"},
                 1,
                 "",
                 "Failed to open device (5)\nunable to open tavo controller at 'fake:0'\n",
                 {}},
        run_case{"path_with_controller",
                 listed_devices,
                 {"--path", "fake:2", "--controller", "0", "0001"},
                 1,
                 "",
                 usage_marker,
                 {}},
        run_case{"controller_with_path",
                 listed_devices,
                 {"--cont=0", "--pat", "fake:2", "0001"},
                 1,
                 "",
                 usage_marker,
                 {}}),
    case_name);

// Device text in the user's locale: UTF-8 where its character set is UTF-8,
// elsewhere ASCII with '?' for every other character, since a terminal in an
// 8-bit character set reads a byte of UTF-8 (U+011B is c4 9b) as a C1 control.
// Windows has no such locale: UTF-8 there whatever the variables say.
const std::string foreign_names =
    "device 6666:f100 product=Z\\u00e4hler serial=\\u009b1 name=T\\u00e4vo \\u011b\\u009b[2J\n";

#ifdef _WIN32
constexpr bool locale_decides = false;
#else
constexpr bool locale_decides = true;
#endif

std::string manufacturer_line(bool utf8) {
    return "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : " +
           std::string(utf8 ? "T\xc3\xa4vo \xc4\x9b?[2J" : "T?vo ??[2J") + "\n";
}

std::string list_line(bool utf8) {
    return "0\tfake:0\t\t" +
           std::string(utf8 ? "T\xc3\xa4vo \xc4\x9b [2J\tZ\xc3\xa4hler" : "T?vo ? [2J\tZ?hler") + "\t 1\n";
}

run_case in_locale_row(const char* name, const char* option, bool utf8, environment_variables env) {
    const bool list = std::string(option) == "--list";
    const bool shown_utf8 = utf8 || !locale_decides;
    return in_locale(run_case{name,
                              foreign_names,
                              {option},
                              0,
                              list ? list_line(shown_utf8) : manufacturer_line(shown_utf8),
                              "",
                              {}},
                     std::move(env));
}

INSTANTIATE_TEST_SUITE_P(
    locale, command_line,
    testing::Values(in_locale_row("manufacturer_with_no_locale", "--debug", false, {}),
                    in_locale_row("list_with_no_locale", "--list", false, {}),
                    in_locale_row("manufacturer_in_lc_all_c", "--debug", false, {{"LC_ALL", "C"}}),
                    in_locale_row("list_in_lc_all_c", "--list", false, {{"LC_ALL", "C"}}),
                    in_locale_row("manufacturer_in_lang_utf8", "--debug", true, {{"LANG", "C.UTF-8"}}),
                    in_locale_row("list_in_lang_utf8", "--list", true, {{"LANG", "C.UTF-8"}}),
                    in_locale_row("lc_all_c_overrides_lang_utf8", "--list", false,
                                  {{"LC_ALL", "C"}, {"LANG", "C.UTF-8"}}),
                    in_locale_row("lc_ctype_utf8_overrides_lang_c", "--debug", true,
                                  {{"LC_CTYPE", "C.utf8"}, {"LANG", "C"}}),
                    in_locale_row("locale_not_installed", "--debug", false, {{"LANG", "xx_XX.UTF-8"}})),
    case_name);

// Writes that fail: the run stops there and says so on the stated streams.
INSTANTIATE_TEST_SUITE_P(
    write_failures, command_line,
    testing::Values(run_case{"refused",
                             "device 6666:f100 write=refuse after=1 error=1167\n",
                             {"0001", "0002", "0003"},
                             1,
                             "WriteFile failed (0 / 0) : 1167\n",
                             perror_line("tavo_usb_sendcommand failed", EIO),
                             {cmd(0, 0, 1), cmd(0, 0, 2) + " lost"}},
                    run_case{"short",
                             "device 6666:f100 write=short\n",
                             {"0001", "0002"},
                             1,
                             "WriteFile failed (1 / 8) : 0\n",
                             perror_line("tavo_usb_sendcommand failed", EIO),
                             {cmd(0, 0, 1) + " lost"}},
                    run_case{"refused_with_debug",
                             "device 6666:f100 write=refuse\n",
                             {"--debug", "0001"},
                             1,
                             "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo\n"
                             "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n"
                             "WriteFile failed (0 / 0) : 31\n",
                             perror_line("tavo_usb_sendcommand failed", EIO),
                             {cmd(0, 0, 1) + " lost"}}),
    case_name);

// A hook that captures "2>&1" must read each error after the traces before it.
INSTANTIATE_TEST_SUITE_P(
    one_pipe, command_line,
    testing::Values(run_case{"refused_after_trace",
                             "device 6666:f100 write=refuse after=1 name=Tavo\n",
                             {"--debug", "0001", "0002"},
                             1,
                             "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo\n"
                             "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n"
                             "sending code 0002 to output 0\nsending cmd 0002 to output 0: bytes 48, 0, 2\n"
                             "WriteFile failed (0 / 0) : 31\n" +
                                 perror_line("tavo_usb_sendcommand failed", EIO),
                             "",
                             {cmd(0, 0, 1), cmd(0, 0, 2) + " lost"},
                             -1,
                             true},
                    run_case{"invalid_code_after_trace",
                             one_controller,
                             {"--debug", "0001", "zz"},
                             1,
                             "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n"
                             "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n"
                             "Invalid command code: 'zz'\n",
                             "",
                             {cmd(0, 0, 1)},
                             -1,
                             true},
                    run_case{"channel_backup_refused",
                             "device 6666:f100 write=refuse after=2 name=Tavo\n",
                             {"--debug", "--channel", "1"},
                             1,
                             "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo\n"
                             "sending channel '1'\n"
                             "sending code 0080 to output 0\nsending cmd 0080 to output 0: bytes 48, 0, 128\n"
                             "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n"
                             "Waiting 2000 ms...\n"
                             "sending code 0083 to output 0\nsending cmd 0083 to output 0: bytes 48, 0, 131\n"
                             "WriteFile failed (0 / 0) : 31\n" +
                                 perror_line("tavo_usb_sendcommand failed", EIO),
                             "",
                             {cmd(0, 0, 0x80), cmd(0, 0, 1), cmd(0, 0, 0x83) + " lost"},
                             2,
                             true}),
    case_name);

// Channel changes: 'Tavo', the digits, a pause, 'Backup'.
std::vector<std::string> channel_reports(int device, int output, std::uint16_t base,
                                         const std::string& digits) {
    std::vector<std::string> reports{cmd(device, output, static_cast<std::uint16_t>(base + 0x80))};
    for (const char d : digits) {
        reports.push_back(cmd(device, output, static_cast<std::uint16_t>(base + (d - '0'))));
    }
    reports.push_back(cmd(device, output, static_cast<std::uint16_t>(base + 0x83)));
    return reports;
}

int backup_index(const std::string& digits) {
    return static_cast<int>(digits.size()) + 1;
}

std::string invalid_channel(const std::string& text) {
    return "Invalid channel number '" + text + "'\n";
}

INSTANTIATE_TEST_SUITE_P(
    channel, command_line,
    testing::Values(run_case{"plain_output_0",
                             one_controller,
                             {"--channel", "123"},
                             0,
                             "",
                             "",
                             channel_reports(0, 0, 0x0000, "123"),
                             backup_index("123")},
                    run_case{"plain_output_1",
                             one_controller,
                             {"--tavo", "--box", "1", "--channel", "9"},
                             0,
                             "",
                             "",
                             channel_reports(0, 1, 0x0000, "9"),
                             backup_index("9")},
                    run_case{"plus_output_1",
                             one_controller,
                             {"--tavo+", "--box", "1", "--channel", "356"},
                             0,
                             "",
                             "",
                             channel_reports(0, 1, 0x0C00, "356"),
                             backup_index("356")},
                    run_case{"plus_output_0_second_controller",
                             two_controllers,
                             {"--controller", "1", "--tavo+", "--channel=4050"},
                             0,
                             "",
                             "",
                             channel_reports(1, 0, 0x0C00, "4050"),
                             backup_index("4050")},
                    run_case{"empty_text",
                             one_controller,
                             {"--channel", ""},
                             0,
                             "",
                             "",
                             channel_reports(0, 0, 0x0000, ""),
                             backup_index("")},
                    run_case{"last_selector_wins",
                             one_controller,
                             {"--tavo+", "--tavo", "--channel", "5"},
                             0,
                             "",
                             "",
                             channel_reports(0, 0, 0x0000, "5"),
                             backup_index("5")},
                    run_case{"codes_after_channel_ignored",
                             one_controller,
                             {"--channel", "12", "0001", "zz"},
                             0,
                             "",
                             "",
                             channel_reports(0, 0, 0x0000, "12"),
                             backup_index("12")},
                    run_case{
                        "debug_trace",
                        one_controller,
                        {"--debug", "--tavo+", "--channel", "7"},
                        0,
                        "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n"
                        "sending channel '7'\n"
                        "sending code 0c80 to output 0\nsending cmd 0c80 to output 0: bytes 48, 12, 128\n"
                        "sending code 0c07 to output 0\nsending cmd 0c07 to output 0: bytes 48, 12, 7\n"
                        "Waiting 2000 ms...\n"
                        "sending code 0c83 to output 0\nsending cmd 0c83 to output 0: bytes 48, 12, 131\n",
                        "",
                        channel_reports(0, 0, 0x0C00, "7"),
                        backup_index("7")},
                    run_case{"refused_mid_sequence",
                             "device 6666:f100 write=refuse after=2\n",
                             {"--channel", "123"},
                             1,
                             "WriteFile failed (0 / 0) : 31\n",
                             perror_line("tavo_usb_sendcommand failed", EIO),
                             {cmd(0, 0, 0x80), cmd(0, 0, 1), cmd(0, 0, 2) + " lost"}},
                    run_case{"backup_refused",
                             "device 6666:f100 write=refuse after=2\n",
                             {"--channel", "1"},
                             1,
                             "WriteFile failed (0 / 0) : 31\n",
                             perror_line("tavo_usb_sendcommand failed", EIO),
                             {cmd(0, 0, 0x80), cmd(0, 0, 1), cmd(0, 0, 0x83) + " lost"},
                             2},
                    run_case{"no_controller", no_devices, {"--channel", "1"}, 1, "", not_found(0, 0), {}}),
    case_name);

// Any character but 0-9 stops the change before a single key is sent.
INSTANTIATE_TEST_SUITE_P(
    invalid_channel, command_line,
    testing::Values(
        run_case{"letter", one_controller, {"--channel", "12a"}, 1, "", invalid_channel("12a"), {}},
        run_case{"sign", one_controller, {"--channel", "-1"}, 1, "", invalid_channel("-1"), {}},
        run_case{"plus_sign", one_controller, {"--channel", "+1"}, 1, "", invalid_channel("+1"), {}},
        run_case{"space", one_controller, {"--channel", "1 2"}, 1, "", invalid_channel("1 2"), {}},
        run_case{"leading_space", one_controller, {"--channel", " 5"}, 1, "", invalid_channel(" 5"), {}},
        run_case{"decimal_point", one_controller, {"--channel", "1.5"}, 1, "", invalid_channel("1.5"), {}},
        run_case{
            "byte_above_127", one_controller, {"--channel", "1\xe9"}, 1, "", invalid_channel("1\xe9"), {}},
        run_case{"setup_not_sent",
                 one_controller,
                 {"--setup", "--channel", "1a"},
                 1,
                 "",
                 invalid_channel("1a"),
                 {}},
        run_case{"traced_before_rejected",
                 one_controller,
                 {"--debug", "--channel", "x"},
                 1,
                 "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n"
                 "sending channel 'x'\n",
                 invalid_channel("x"),
                 {}}),
    case_name);

// The compiled-in setup goes first, as report A then report B.
const std::vector<std::uint8_t> setup_a0 = {0x00, 0x73, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B};
const std::vector<std::uint8_t> setup_b0 = {0x00, 0x75, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A};
const std::vector<std::uint8_t> setup_a1 = {0x00, 0x74, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B};
const std::vector<std::uint8_t> setup_b1 = {0x00, 0x76, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A};

std::vector<std::string> then(std::vector<std::string> first, const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    setup, command_line,
    testing::Values(run_case{"alone_output_0",
                             one_controller,
                             {"--setup"},
                             0,
                             "",
                             "",
                             {frame_text(0, setup_a0), frame_text(0, setup_b0)}},
                    run_case{"alone_output_1",
                             one_controller,
                             {"--box", "1", "--setup"},
                             0,
                             "",
                             "",
                             {frame_text(0, setup_a1), frame_text(0, setup_b1)}},
                    run_case{"then_codes",
                             one_controller,
                             {"--setup", "0001", "0002"},
                             0,
                             "",
                             "",
                             {frame_text(0, setup_a0), frame_text(0, setup_b0), cmd(0, 0, 1), cmd(0, 0, 2)}},
                    run_case{"then_channel",
                             one_controller,
                             {"--box", "1", "--setup", "--channel", "5"},
                             0,
                             "",
                             "",
                             then({frame_text(0, setup_a1), frame_text(0, setup_b1)},
                                  channel_reports(0, 1, 0, "5")),
                             2 + backup_index("5")},
                    run_case{"then_invalid_code",
                             one_controller,
                             {"--setup", "0001", "xyz"},
                             1,
                             "",
                             "Invalid command code: 'xyz'\n",
                             {frame_text(0, setup_a0), frame_text(0, setup_b0), cmd(0, 0, 1)}},
                    run_case{"not_traced",
                             one_controller,
                             {"--debug", "--setup"},
                             0,
                             "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n",
                             "",
                             {frame_text(0, setup_a0), frame_text(0, setup_b0)}},
                    run_case{"report_a_refused",
                             "device 6666:f100 write=refuse error=1167\n",
                             {"--setup", "--channel", "5"},
                             1,
                             "",
                             "WriteFile failed (1167)\n" + perror_line("tavo_usb_sendconfig failed", EIO),
                             {frame_text(0, setup_a0) + " lost"}},
                    run_case{"report_b_short",
                             "device 6666:f100 write=short after=1\n",
                             {"--setup", "0001"},
                             1,
                             "",
                             "WriteFile failed (0)\n" + perror_line("tavo_usb_sendconfig failed", EIO),
                             {frame_text(0, setup_a0), frame_text(0, setup_b0) + " lost"}}),
    case_name);

// --gap and --pause: waits of a whole number of milliseconds, 0 to 60000.
run_case timed(run_case c, std::vector<int> min_gaps_ms) {
    c.min_gaps_ms = std::move(min_gaps_ms);
    return c;
}

run_case bad_wait(const char* name, std::vector<std::string> args) {
    args.emplace_back("0001");
    return run_case{name, one_controller, std::move(args), 1, "", usage_marker, {}};
}

INSTANTIATE_TEST_SUITE_P(
    timing, command_line,
    testing::Values(
        timed(run_case{"gap_between_codes_last_wins",
                       one_controller,
                       {"--gap", "0", "--gap=150", "0001", "0002", "0003"},
                       0,
                       "",
                       "",
                       {cmd(0, 0, 1), cmd(0, 0, 2), cmd(0, 0, 3)}},
              {150, 150}),
        timed(run_case{"gap_and_pause_in_a_channel_change",
                       one_controller,
                       {"--g", "150", "--pau", "300", "--channel", "12"},
                       0,
                       "",
                       "",
                       channel_reports(0, 0, 0, "12")},
              {150, 150, 300}),
        timed(run_case{"gap_after_the_setup",
                       one_controller,
                       {"--setup", "--gap", "150", "0001"},
                       0,
                       "",
                       "",
                       {frame_text(0, setup_a0), frame_text(0, setup_b0), cmd(0, 0, 1)}},
              {0, 150}),
        // Not a wait after the last report: the run ends at once.
        run_case{"longest_waits",
                 one_controller,
                 {"--gap", "60000", "--pause=60000", "0001"},
                 0,
                 "",
                 "",
                 {cmd(0, 0, 1)}},
        timed(run_case{"debug_shows_waits_but_none_of_0_ms",
                       one_controller,
                       {"--debug", "--gap", "100", "--pause", "0", "--channel", "1"},
                       0,
                       "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n"
                       "sending channel '1'\n"
                       "sending code 0080 to output 0\nsending cmd 0080 to output 0: bytes 48, 0, 128\n"
                       "Waiting 100 ms...\n"
                       "sending code 0001 to output 0\nsending cmd 0001 to output 0: bytes 48, 0, 1\n"
                       "sending code 0083 to output 0\nsending cmd 0083 to output 0: bytes 48, 0, 131\n",
                       "",
                       channel_reports(0, 0, 0, "1")},
              {100}),
        bad_wait("gap_empty", {"--gap", ""}), bad_wait("gap_negative", {"--gap", "-1"}),
        bad_wait("gap_plus_sign", {"--gap", "+300"}), bad_wait("gap_leading_space", {"--gap", " 300"}),
        bad_wait("gap_trailing", {"--gap", "300ms"}), bad_wait("gap_too_long", {"--gap", "60001"}),
        bad_wait("gap_overflowing_int", {"--gap", "4294967296"}),
        bad_wait("pause_too_long", {"--channel", "1", "--pause", "60001"}),
        bad_wait("pause_hex", {"--pause=0x10"}),
        bad_wait("pause_bad_then_good", {"--pause", "x", "--pause", "10"}),
        run_case{"pause_missing_argument", one_controller, {"--pause"}, 1, "", usage_marker, {}},
        bad_wait("pa_is_ambiguous", {"--pa", "100"}), bad_wait("p_is_ambiguous", {"--p=fake:0"})),
    case_name);

// Standard output that takes nothing: a reader gone early ("| grep -q"), a
// full disk. What was asked is done all the same, and the status says that
// the output went nowhere.
run_case writing_to(stdout_sink sink, run_case c) {
    c.stdout_to = sink;
    return c;
}

std::string write_error(int errno_value) {
    return std::string("write error on standard output: ") + std::strerror(errno_value) + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    stdout_fails, command_line,
    testing::Values(
        writing_to(stdout_sink::closed_pipe, run_case{"closed_reader_gets_the_whole_channel_change",
                                                      one_controller,
                                                      {"--debug", "--tavo+", "--channel", "123"},
                                                      1,
                                                      "",
                                                      write_error(EPIPE),
                                                      channel_reports(0, 0, 0x0C00, "123"),
                                                      backup_index("123")}),
        writing_to(stdout_sink::closed_pipe, run_case{"closed_reader_gets_the_list",
                                                      listed_devices,
                                                      {"--list"},
                                                      1,
                                                      "",
                                                      one_denied + write_error(EPIPE),
                                                      {}}),
        writing_to(stdout_sink::closed_pipe,
                   run_case{"closed_reader_and_a_failure_of_its_own",
                            "device 6666:f100 write=refuse\n",
                            {"--debug", "0001"},
                            1,
                            "",
                            perror_line("tavo_usb_sendcommand failed", EIO) + write_error(EPIPE),
                            {cmd(0, 0, 1) + " lost"}}),
        writing_to(
            stdout_sink::closed_pipe,
            run_case{"closed_reader_nothing_to_read", one_controller, {"0001"}, 0, "", "", {cmd(0, 0, 1)}})),
    case_name);

#ifndef _WIN32
// Hooks started by daemons and cron may have standard descriptors closed: the
// device a run opens never takes one's place, and a closed standard output
// still fails the writes meant for it.
run_case with_closed(unsigned descriptors, run_case c) {
    c.closed = descriptors;
    c.scenario = "device 6666:f100 " + c.scenario + " path=" + device_file_marker + "\n";
    return c;
}

constexpr unsigned closed_in = 1U << 0;
constexpr unsigned closed_out = 1U << 1;
constexpr unsigned closed_err = 1U << 2;

INSTANTIATE_TEST_SUITE_P(
    closed_descriptors, command_line,
    testing::Values(
        with_closed(closed_out, run_case{"stdout_with_traces",
                                         "",
                                         {"--debug", "0C03"},
                                         1,
                                         "",
                                         write_error(EBADF),
                                         {cmd(0, 0, 0x0c03)}}),
        with_closed(closed_out, run_case{"stdout_nothing_to_print",
                                         "",
                                         {"0C03", "0001"},
                                         0,
                                         "",
                                         "",
                                         {cmd(0, 0, 0x0c03), cmd(0, 0, 1)}}),
        with_closed(closed_err,
                    run_case{"stderr_invalid_code", "", {"0001", "zz"}, 1, "", "", {cmd(0, 0, 1)}}),
        with_closed(closed_err, run_case{"stderr_failed_write",
                                         "write=refuse",
                                         {"0001"},
                                         1,
                                         "WriteFile failed (0 / 0) : 31\n",
                                         "",
                                         {cmd(0, 0, 1) + " lost"}}),
        with_closed(closed_out | closed_err,
                    run_case{"both_with_traces", "", {"--debug", "0001", "zz"}, 1, "", "", {cmd(0, 0, 1)}}),
        with_closed(closed_in, run_case{"stdin_with_traces",
                                        "",
                                        {"--debug", "0001"},
                                        0,
                                        "Found device: 6666-f100\nFound tavo control num 0\n"
                                        "- Manufacturer : Tavo\nsending code 0001 to output 0\n"
                                        "sending cmd 0001 to output 0: bytes 48, 0, 1\n",
                                        "",
                                        {cmd(0, 0, 1)}})),
    case_name);

// Only Linux has a device that is always full.
INSTANTIATE_TEST_SUITE_P(
    stdout_full, command_line,
    testing::Values(
        writing_to(stdout_sink::full_device,
                   run_case{"list", listed_devices, {"--list"}, 1, "", one_denied + write_error(ENOSPC), {}}),
        writing_to(stdout_sink::full_device,
                   run_case{"version", no_devices, {"--version"}, 1, "", write_error(ENOSPC), {}}),
        writing_to(stdout_sink::full_device,
                   run_case{"help", no_devices, {"--help"}, 1, "", write_error(ENOSPC), {}})),
    case_name);
#endif

// Two runs at once: a first run on output 0 of controller 0 (a setup and a
// channel change unless the row says otherwise), and a second run started
// while the first is at work, which waits for it only when both use the same
// output of the same controller.
struct together_case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> reports;
    std::string out;
    bool waits;
    int status = 0;
    std::string err{};
    std::string settings{};  // scenario lines before the devices
    std::vector<std::string> first_args = {"--setup", "--channel", "12"};
    std::vector<std::string> first_reports =
        then({frame_text(0, setup_a0), frame_text(0, setup_b0)}, channel_reports(0, 0, 0, "12"));
};

void PrintTo(const together_case& c, std::ostream* os) {
    *os << c.name;
}

class second_run : public testing::TestWithParam<together_case> {};

TEST_P(second_run, waits_only_for_its_own_output) {
    const together_case& c = GetParam();
    // Real files as the controllers' paths, so that the hold has something to lock.
    const std::string dir = make_scratch_dir();
    std::string scenario = c.settings;
    for (const char* name : {"ctl0 name=Tavo Ltd", "ctl1", "CTL0"}) {  // on Windows CTL0 is ctl0
        write_file(dir + "/" + std::string(name).substr(0, 4), "");
        scenario += "device 6666:f100 path=" + dir + "/" + name + "\n";
    }
    const auto runs = run_tavoctl_fake_together(scenario, {c.first_args, c.args});
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);

    ASSERT_EQ(runs.size(), 2U);
    EXPECT_EQ(runs[0].status, 0);
    EXPECT_EQ(runs[1].status, c.status);
    EXPECT_EQ(runs[0].out + runs[0].err, "");
    EXPECT_EQ(runs[1].err, native_lines(c.err));
    EXPECT_EQ(runs[1].out, native_lines(c.out));
    EXPECT_EQ(runs[0].report_texts(), c.first_reports);
    EXPECT_EQ(runs[1].report_texts(), c.reports);
    if (!runs[0].reports.empty() && !runs[1].reports.empty()) {
        EXPECT_EQ(runs[1].reports.front().at_ns > runs[0].reports.back().at_ns, c.waits)
            << "whether the second run waited for the first";
    }
}

#ifdef _WIN32
constexpr bool paths_ignore_case = true;
#else
constexpr bool paths_ignore_case = false;
#endif

const std::string found_first =
    "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n";

INSTANTIATE_TEST_SUITE_P(
    hold, second_run,
    testing::Values(
        together_case{"codes_on_the_same_output",
                      {"--debug", "0C03"},
                      {cmd(0, 0, 0x0c03)},
                      found_first + "Waiting for another run to finish with output 0...\n" +
                          "sending code 0c03 to output 0\nsending cmd 0c03 to output 0: bytes 48, 12, 3\n",
                      true},
        together_case{"channel_on_the_same_output",
                      {"--tavo+", "--channel", "45"},
                      channel_reports(0, 0, 0x0C00, "45"),
                      "",
                      true},
        together_case{
            "codes_on_the_other_output",
            {"--debug", "--box", "1", "0C03"},
            {cmd(0, 1, 0x0c03)},
            found_first + "sending code 0c03 to output 1\nsending cmd 0c03 to output 1: bytes 49, 12, 3\n",
            false},
        // The hold lasts through the gaps, not only the pause.
        together_case{"codes_while_the_first_run_waits_its_gaps",
                      {"0C03"},
                      {cmd(0, 0, 0x0c03)},
                      "",
                      true,
                      0,
                      "",
                      "",
                      {"--gap", "300", "0001", "0002", "0003"},
                      {cmd(0, 0, 1), cmd(0, 0, 2), cmd(0, 0, 3)}},
        together_case{"setup_on_another_controller",
                      {"--controller", "1", "--setup"},
                      {frame_text(1, setup_a0), frame_text(1, setup_b0)},
                      "",
                      false},
        // The first run holds the output through its 2 s pause, past the wait.
        together_case{"gives_up_after_the_wait",
                      {"--debug", "0C03"},
                      {},
                      found_first + "Waiting for another run to finish with output 0...\n",
                      false,
                      1,
                      "another run has held output 0 for 1 s; giving up\n",
                      "hold-wait 1000\n"},
        // Windows names one device in either case; Linux paths are case-sensitive.
        together_case{
            "path_in_other_case", {"--controller", "2", "0001"}, {cmd(2, 0, 1)}, "", paths_ignore_case},
        // What fails with nothing sent says so at once, not after the wait.
        together_case{"invalid_channel_told_at_once",
                      {"--debug", "--channel", "12a"},
                      {},
                      found_first + "sending channel '12a'\n",
                      false,
                      1,
                      invalid_channel("12a"),
                      "hold-wait 1000\n"},
        together_case{"invalid_first_code_told_at_once",
                      {"--debug", "zz", "0001"},
                      {},
                      found_first,
                      false,
                      1,
                      "Invalid command code: 'zz'\n",
                      "hold-wait 1000\n"}),
    testing::PrintToStringParamName());

}  // namespace

namespace {

// The shipped binary, whatever devices this machine has: its command line
// must be the one tested above on the fake.
TEST(shipped_binary, rejects_bad_command_lines_with_the_usage_text) {
    const std::vector<std::vector<std::string>> command_lines = {{},     {"--box", "2"}, {"--bogus"},
                                                                 {"-x"}, {"--c", "1"},   {"--channel"}};
    for (const auto& args : command_lines) {
        const std::string dir = make_scratch_dir();
        process_request request;
        request.program = TAVOCTL_REAL;
        request.args = args;
        request.scratch_dir = dir;
        const process_result p = run_process(request);
        EXPECT_EQ(p.status, 1) << testing::PrintToString(args);
        EXPECT_EQ(p.out, "") << testing::PrintToString(args);
        EXPECT_EQ(p.err, native_lines(expected_usage(TAVOCTL_REAL))) << testing::PrintToString(args);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
}

}  // namespace

#ifndef _WIN32
namespace {

// The shipped Linux build judges a --path before opening it: nothing that
// is not a hidraw device gets opened, let alone written to. An open of the
// FIFO would wait for a writer that never comes, until the harness gives up.
TEST(shipped_binary, refuses_paths_that_are_no_controller) {
    const std::string dir = make_scratch_dir();
    write_file(dir + "/regular", "0001\n");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0) << std::strerror(errno);
    std::filesystem::create_symlink(dir + "/fifo", dir + "/link");
    const std::vector<std::pair<std::string, std::string>> paths = {
        {"", "no device path given"},
        {dir, "not a HID device"},
        {dir + "/regular", "not a HID device"},
        {"/dev/null", "not a HID device"},
        {dir + "/fifo", "not a HID device"},
        {dir + "/link", "not a HID device"},
        {dir + "/missing", std::strerror(ENOENT)},
        {dir + "/regular/below", std::strerror(ENOTDIR)},
    };
    for (const auto& [path, why] : paths) {
        process_request request;
        request.program = TAVOCTL_REAL;
        request.args = {"--path", path, "0001"};
        request.scratch_dir = dir;
        const process_result p = run_process(request);
        EXPECT_EQ(p.status, 1) << path;
        EXPECT_EQ(p.out, "") << path;
        EXPECT_EQ(p.err, path_refused(path, why)) << path;
    }
    EXPECT_EQ(read_file(dir + "/regular"), "0001\n");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace
#endif
