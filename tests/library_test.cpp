// The controller library against the scripted fake devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "../usb/platform/windows/path.h"
#include "controller/device_text.h"
#include "fake_hid.h"
#include "lines.h"
#include "refused_allocations.h"
#include "tavo_usb.h"
#include "text_check.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct captured {
    int result = 0;
    std::string out;
    std::string err;
};

template <typename F>
captured capture(F&& call) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    captured c;
    c.result = call();
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    return c;
}

fake_device controller(std::u16string name = u"Tavo") {
    fake_device d;
    d.manufacturer = std::move(name);
    return d;
}

fake_device other_device() {
    fake_device d;
    d.vendor = 0x046d;
    d.product = 0xc52b;
    return d;
}

std::vector<bytes> written_bytes() {
    std::vector<bytes> all;
    for (const auto& w : fake_hid_writes()) {
        all.push_back(w.bytes);
    }
    return all;
}

// A handle on controller `wanted` of the devices given; fails the test if
// it cannot be found.
tavo_usb_handle* open_controller(std::vector<fake_device> devices, int wanted = 0, int debug = 0) {
    fake_hid_reset(std::move(devices));
    tavo_usb_handle* handle = tavo_usb_create(debug, 1000);
    EXPECT_NE(handle, nullptr);
    const captured found = capture([&] { return tavo_usb_finddevice(handle, wanted); });
    EXPECT_EQ(found.result, 0) << found.err;
    return handle;
}

class library : public testing::Test {
  protected:
    void TearDown() override {
        tavo_usb_free(handle);
        EXPECT_EQ(fake_hid_open_channels(), 0) << "a channel was left open";
    }
    tavo_usb_handle* handle = nullptr;
};

TEST_F(library, command_reports_byte_for_byte) {
    struct row {
        int output;
        int code;
        bytes frame;
    };
    const std::vector<row> rows = {
        {1, 0x0C03, {0x00, 0x31, 0x0C, 0x03, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {0, 0x0080, {0x00, 0x30, 0x00, 0x80, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {0, 0x0000, {0x00, 0x30, 0x00, 0x00, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {0, 0xFFFF, {0x00, 0x30, 0xFF, 0xFF, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {7, 0x0C83, {0x00, 0x31, 0x0C, 0x83, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},  // any nonzero output: next kind
    };
    handle = open_controller({controller()});
    for (const auto& r : rows) {
        const captured sent = capture([&] { return tavo_usb_sendcommand(handle, r.output, r.code); });
        EXPECT_EQ(sent.result, 0);
        EXPECT_EQ(sent.out, "");
        ASSERT_FALSE(fake_hid_writes().empty());
        EXPECT_EQ(fake_hid_writes().back().bytes, r.frame) << "code " << r.code;
    }
    EXPECT_EQ(fake_hid_writes().size(), rows.size());
}

TEST_F(library, command_trace_shows_code_output_and_bytes) {
    handle = open_controller({controller()}, 0, 1);
    const captured sent = capture([&] { return tavo_usb_sendcommand(handle, 0, 0x0080); });
    EXPECT_EQ(sent.out, "sending cmd 0080 to output 0: bytes 48, 0, 128\n");
    const captured sent1 = capture([&] { return tavo_usb_sendcommand(handle, 1, 0x0C03); });
    EXPECT_EQ(sent1.out, "sending cmd 0c03 to output 1: bytes 49, 12, 3\n");
}

TEST_F(library, setup_reports_put_parameter_8_first_and_7_alone) {
    const tavo_usb_config config = {150, 150, 5, 220, 10, 139, 1, 75};
    const tavo_usb_config wide = {0x1234, -1, 256, 0x7FFFFFFF, 0, 0x100 + 0x7A, 0x301, -0x80};
    struct row {
        int output;
        tavo_usb_config config;
        bytes a;
        bytes b;
    };
    const std::vector<row> rows = {
        {0,
         config,
         {0x00, 0x73, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B},
         {0x00, 0x75, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {1,
         config,
         {0x00, 0x74, 0x4B, 0x96, 0x96, 0x05, 0xDC, 0x0A, 0x8B},
         {0x00, 0x76, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
        {0,
         wide,
         {0x00, 0x73, 0x80, 0x34, 0xFF, 0x00, 0xFF, 0x00, 0x7A},
         {0x00, 0x75, 0x01, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A}},
    };
    handle = open_controller({controller()}, 0, 1);
    for (const auto& r : rows) {
        fake_hid_reset({controller()});
        tavo_usb_free(handle);
        handle = open_controller({controller()}, 0, 1);
        const captured sent = capture([&] { return tavo_usb_sendconfig(handle, r.output, &r.config); });
        EXPECT_EQ(sent.result, 0);
        EXPECT_EQ(sent.out, "") << "the setup upload is never traced";
        EXPECT_EQ(written_bytes(), (std::vector<bytes>{r.a, r.b}));
    }
}

TEST_F(library, failed_writes_report_on_their_own_streams) {
    const tavo_usb_config config = {150, 150, 5, 220, 10, 139, 1, 75};
    struct row {
        const char* name;
        fake_write_mode mode;
        int accepted_first;
        bool setup;
        std::string out;
        std::string err;
        std::size_t attempts;
    };
    const std::vector<row> rows = {
        {"command refused", fake_write_mode::refuse, 0, false, "WriteFile failed (0 / 0) : 31\n", "", 1},
        {"command short", fake_write_mode::short_write, 0, false, "WriteFile failed (1 / 8) : 0\n", "", 1},
        {"setup A refused", fake_write_mode::refuse, 0, true, "", "WriteFile failed (31)\n", 1},
        {"setup A short", fake_write_mode::short_write, 0, true, "", "WriteFile failed (0)\n", 1},
        {"setup B refused", fake_write_mode::refuse, 1, true, "", "WriteFile failed (31)\n", 2},
    };
    for (const auto& r : rows) {
        fake_device d = controller();
        d.write_mode = r.mode;
        d.writes_before_failure = r.accepted_first;
        tavo_usb_free(handle);
        handle = open_controller({d});
        const captured sent = capture([&] {
            return r.setup ? tavo_usb_sendconfig(handle, 0, &config)
                           : tavo_usb_sendcommand(handle, 0, 0x0001);
        });
        EXPECT_EQ(sent.result, -1) << r.name;
        EXPECT_EQ(sent.out, r.out) << r.name;
        EXPECT_EQ(sent.err, r.err) << r.name;
        EXPECT_EQ(fake_hid_writes().size(), r.attempts) << r.name;
        EXPECT_EQ(errno, EIO) << r.name << ": perror must describe a failure";
        // The handle stays usable after a failure.
        EXPECT_NE(handle->write_handle, hid_invalid_channel);
    }
}

TEST_F(library, numbering_counts_only_openable_matching_devices) {
    fake_device unopenable = controller();
    unopenable.opens_read_write = false;
    fake_device no_detail = controller();
    no_detail.detail_ok = false;
    fake_device no_attributes = controller();
    no_attributes.attributes_ok = false;
    fake_device almost = controller();
    almost.product = 0xF101;
    const std::vector<fake_device> devices = {other_device(),   unopenable,      controller(u"A"),
                                              no_detail,        almost,          no_attributes,
                                              controller(u"B"), controller(u"C")};
    const std::vector<std::size_t> device_of_number = {2, 6, 7};
    for (std::size_t wanted = 0; wanted < device_of_number.size(); ++wanted) {
        tavo_usb_free(handle);
        handle = open_controller(devices, static_cast<int>(wanted));
        ASSERT_EQ(tavo_usb_sendcommand(handle, 0, 1), 0);
        EXPECT_EQ(fake_hid_writes().at(0).device, device_of_number[wanted]) << "controller " << wanted;
        EXPECT_EQ(fake_hid_open_channels(), 2) << "write and query channels only";
    }
}

TEST_F(library, not_found_names_the_matches_seen) {
    struct row {
        std::vector<fake_device> devices;
        int wanted;
        std::string err;
    };
    fake_device write_refused = controller();
    write_refused.opens_write_only = false;
    const std::vector<row> rows = {
        {{}, 0, "tavo_usb_finddevice(0) failed to find device 6666-f100\n"},
        {{other_device()}, 0, "tavo_usb_finddevice(0) failed to find device 6666-f100\n"},
        {{controller(), controller()}, 2, "tavo_usb_finddevice(2) failed to find device 6666-f100\n"},
        {{controller(), controller()}, -1, "tavo_usb_finddevice(2) failed to find device 6666-f100\n"},
        {{controller(), write_refused},
         1,
         "Failed to open device (5)\ntavo_usb_finddevice(1) failed to find device 6666-f100\n"},
    };
    for (const auto& r : rows) {
        fake_hid_reset(r.devices);
        tavo_usb_free(handle);
        handle = tavo_usb_create(0, 1000);
        const captured found = capture([&] { return tavo_usb_finddevice(handle, r.wanted); });
        EXPECT_EQ(found.result, -1);
        EXPECT_EQ(found.out, "");
        EXPECT_EQ(found.err, r.err);
        EXPECT_EQ(handle->write_handle, hid_invalid_channel);
    }
}

TEST_F(library, write_open_failure_moves_on_and_closes_the_abandoned_channel) {
    fake_device write_refused = controller(u"Refuses");
    write_refused.opens_write_only = false;
    handle = tavo_usb_create(1, 1000);
    fake_hid_reset({write_refused, other_device(), controller(u"Takes")});
    const captured found = capture([&] { return tavo_usb_finddevice(handle, 0); });
    EXPECT_EQ(found.result, 0);
    EXPECT_EQ(found.err, "Failed to open device (5)\n");
    EXPECT_EQ(found.out,
              "Found device: 6666-f100\nFound tavo control num 0\n"
              "Found device: 046d-c52b\n"
              "Found device: 6666-f100\nFound tavo control num 0\n");
    EXPECT_EQ(fake_hid_open_channels(), 2);
    const captured name = capture([&] { return tavo_usb_printmanufacturer(handle), 0; });
    EXPECT_EQ(name.out, "- Manufacturer : Takes\n");
}

// Every way of refusing a path leaves no channel open; the one accepted keeps
// exactly its write and query channels.
TEST_F(library, opening_by_path_keeps_only_the_controllers_channels) {
    fake_device no_attributes = controller();
    no_attributes.attributes_ok = false;
    fake_device write_refused = controller();
    write_refused.opens_write_only = false;
    struct row {
        const char* path;
        int result;
        int channels;  // a failed write open keeps the query channel, as a search does
    };
    const std::vector<row> rows = {{"fake:0", 0, 2},  {"fake:1", -1, 0}, {"fake:2", -1, 0},
                                   {"fake:3", -1, 1}, {"fake:9", -1, 0}, {"", -1, 0}};
    for (const row& r : rows) {
        fake_hid_reset({controller(), other_device(), no_attributes, write_refused});
        tavo_usb_free(handle);
        handle = tavo_usb_create(0, 1000);
        EXPECT_EQ(capture([&] { return tavo_usb_opendevice(handle, r.path); }).result, r.result) << r.path;
        EXPECT_EQ(fake_hid_open_channels(), r.channels) << r.path;
    }
}

TEST_F(library, listing_leaves_nothing_open) {
    fake_device named = controller(u"T\u00e4vo \U0001F4FA");
    named.serial_number = u"S\xD800";  // a lone surrogate
    fake_hid_reset({other_device(), controller(), named});
    handle = tavo_usb_create(0, 1000);
    tavo_usb_device_list list;
    EXPECT_EQ(tavo_usb_listdevices(handle, &list), 0);
    ASSERT_EQ(list.devices.size(), 2U);
    EXPECT_EQ(list.devices[1].number, 1);
    EXPECT_EQ(list.devices[1].path, "fake:2");
    EXPECT_EQ(list.devices[1].manufacturer, "T\xc3\xa4vo \xf0\x9f\x93\xba");
    EXPECT_EQ(list.devices[1].serial, "S\xef\xbf\xbd");
    EXPECT_EQ(fake_hid_open_channels(), 0);
}

TEST_F(library, finding_again_on_an_open_handle_does_no_search) {
    handle = open_controller({controller()}, 0, 1);
    const captured again = capture([&] { return tavo_usb_finddevice(handle, 5); });
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(fake_hid_open_channels(), 2);
}

TEST_F(library, manufacturer_is_utf8_without_controls_within_its_buffer) {
    struct row {
        const char* name;
        fake_device device;
        std::string out;
    };
    fake_device filled = controller();
    filled.manufacturer_fills_buffer = true;
    std::string alphabet_511;
    for (std::size_t i = 0; i < 511; ++i) {
        alphabet_511 += static_cast<char>('a' + i % 26);
    }
    fake_device refused = controller();
    refused.manufacturer.reset();
    const std::vector<row> rows = {
        {"plain", controller(u"Tavo Ltd"), "- Manufacturer : Tavo Ltd\n"},
        {"empty", controller(u""), "- Manufacturer : \n"},
        {"latin-1", controller(u"Caf\u00e9"), "- Manufacturer : Caf\xc3\xa9\n"},
        {"wider", controller(u"\u0141\u20ac"), "- Manufacturer : \xc5\x81\xe2\x82\xac\n"},
        {"czech, once ESC", controller(u"Dv\u011bd\u0107"),
         "- Manufacturer : Dv\xc4\x9b"
         "d\xc4\x87\n"},
        {"controls", controller(u"\x1b]0;x\x07\u009b2J\u202e\u2066\x7f."),
         "- Manufacturer : ?]0;x??2J???.\n"},
        {"fills the buffer", filled, "- Manufacturer : " + alphabet_511 + "\n"},
        {"refused", refused, "- Unable to fetch manufacturer string\n"},
    };
    for (const auto& r : rows) {
        tavo_usb_free(handle);
        handle = open_controller({r.device});
        const captured name = capture([&] { return tavo_usb_printmanufacturer(handle), 0; });
        EXPECT_EQ(name.out, r.out) << r.name;
        EXPECT_EQ(name.err, "") << r.name;
    }
}

// What a sink receives: each write, its stream and its text.
struct sink_write {
    tavo_usb_stream stream;
    std::string text;
    bool operator==(const sink_write&) const = default;
};

bool record(void* context, tavo_usb_stream stream, std::string_view text) {
    static_cast<std::vector<sink_write>*>(context)->push_back({stream, std::string(text)});
    return true;
}

// Each handle's lines go to its own sink, every line in one write: two runs
// sharing a log must not interleave within a line, and a caller serving two
// handles must be able to tell whose lines are whose.
TEST_F(library, every_line_leaves_in_one_write_to_its_handles_sink) {
    std::vector<sink_write> first;
    std::vector<sink_write> second;
    fake_hid_reset({other_device()});
    handle = tavo_usb_create(1, 1000);
    tavo_usb_handle* other = tavo_usb_create(0, 1000);
    tavo_usb_setlines(handle, {record, &first});
    tavo_usb_setlines(other, {record, &second});
    const std::string not_found = "tavo_usb_finddevice(0) failed to find device 6666-f100\n";
    const captured found =
        capture([&] { return tavo_usb_finddevice(handle, 0) + tavo_usb_finddevice(other, 0); });
    tavo_usb_free(other);
    EXPECT_EQ(found.out + found.err, "") << "the standard streams are not the handles' sinks";
    EXPECT_EQ(first, (std::vector<sink_write>{{tavo_usb_stream::out, "Found device: 046d-c52b\n"},
                                              {tavo_usb_stream::err, not_found}}));
    EXPECT_EQ(second, (std::vector<sink_write>{{tavo_usb_stream::err, not_found}}));
}

// Memory may run out at any allocation inside a call: the call then fails
// with its line, lets no exception out, and leaves no channel and no
// enumeration open. Each call is tried with 0, 1, 2, ... allocations allowed
// until it succeeds.
TEST_F(library, memory_running_out_anywhere_fails_the_call_cleanly) {
    struct row {
        const char* call;
        std::function<int(tavo_usb_handle*)> run;
    };
    const std::vector<row> rows = {
        {"tavo_usb_finddevice", [](tavo_usb_handle* h) { return tavo_usb_finddevice(h, 1); }},
        {"tavo_usb_opendevice", [](tavo_usb_handle* h) { return tavo_usb_opendevice(h, "fake:2"); }},
        {"tavo_usb_listdevices",
         [](tavo_usb_handle* h) {
             tavo_usb_device_list list;
             return tavo_usb_listdevices(h, &list);
         }},
    };
    fake_device named = controller(u"Second");
    named.product_name = u"Remote";
    named.serial_number = u"A17";
    named.port = "1-2.3";
    const std::vector<fake_device> devices = {other_device(), controller(), named};
    for (const auto& r : rows) {
        bool succeeded = false;
        for (int allowed = 0; allowed < 1000 && !succeeded; ++allowed) {
            fake_hid_reset(devices);
            handle = tavo_usb_create(1, 1000);
            const captured c = capture([&] {
                const refused_allocations scarce(allowed);
                return r.run(handle);
            });
            succeeded = c.result == 0;
            if (!succeeded) {
                EXPECT_EQ(c.result, -1) << r.call << " after " << allowed << " allocations";
                EXPECT_TRUE(c.err.ends_with(std::string(r.call) + ": out of memory\n"))
                    << r.call << " after " << allowed << " allocations: " << c.err;
            }
            tavo_usb_free(handle);
            handle = nullptr;
            EXPECT_EQ(fake_hid_open_channels(), 0) << r.call << " after " << allowed << " allocations";
        }
        EXPECT_TRUE(succeeded) << r.call;
    }
}

// A message matters most when memory has run out: each line still leaves,
// in one write, formatted on the stack.
TEST(lines, every_line_leaves_when_memory_is_exhausted) {
    struct row {
        const char* name;
        tavo_usb_stream stream;
        std::string text;
        std::string line;
    };
    const std::vector<row> rows = {
        {"trace", tavo_usb_stream::out, "sending code 0c03 to output 1", "sending code 0c03 to output 1\n"},
        {"error", tavo_usb_stream::err, "unable to find tavo controller number 0",
         "unable to find tavo controller number 0\n"},
        {"longer than the stack's 2 KiB: cut, still a line", tavo_usb_stream::out, std::string(3000, 'x'),
         std::string(2046, 'x') + "\n"},
    };
    bool refused = false;
    {
        const refused_allocations no_memory;
        try {
            ::operator delete(::operator new(100));
        } catch (const std::bad_alloc&) {
            refused = true;
        }
    }
    ASSERT_TRUE(refused) << "the test's operator new must refuse";
    // Records without allocating: there is no memory to record in.
    struct fixed_record {
        int writes = 0;
        tavo_usb_stream stream = tavo_usb_stream::err;
        std::array<char, 4096> text{};
        std::size_t size = 0;
    };
    const auto write = [](void* context, tavo_usb_stream stream, std::string_view text) {
        auto* recorded = static_cast<fixed_record*>(context);
        ++recorded->writes;
        recorded->stream = stream;
        recorded->size = std::min(text.size(), recorded->text.size());
        std::copy_n(text.begin(), recorded->size, recorded->text.begin());
        return true;
    };
    for (const auto& r : rows) {
        fixed_record recorded;
        {
            const refused_allocations no_memory;
            write_line({write, &recorded}, r.stream, "%s\n", r.text.c_str());
        }
        EXPECT_EQ(recorded.writes, 1) << r.name;
        EXPECT_EQ(recorded.stream, r.stream) << r.name;
        EXPECT_EQ(std::string(recorded.text.data(), recorded.size), r.line) << r.name;
    }
}

// Whatever a device sends: valid UTF-8 out, no control or bidirectional
// control, one character out for each character in, printable ASCII as it was.
TEST(device_text, random_utf16_never_reaches_the_terminal_raw) {
    std::mt19937 random(20261208);  // fixed: the same strings on every run
    // Units drawn mostly from where trouble lives.
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> ranges = {
        {0x01, 0x7F},     {0x80, 0x9F},     {0xA0, 0x17F},    {0x2000, 0x206F},
        {0x061C, 0x061C}, {0xD800, 0xDBFF}, {0xDC00, 0xDFFF}, {0x0001, 0xFFFF}};
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::uint16_t> units(random() % 24);
        for (auto& unit : units) {
            const auto& [low, high] = ranges[random() % ranges.size()];
            unit = static_cast<std::uint16_t>(low + random() % (high - low + 1U));
        }
        for (const char replacement : {'?', ' '}) {
            ASSERT_EQ(device_text_fault(units, replacement), "") << testing::PrintToString(units);
        }
    }
}

// What --path takes on Windows: a HID interface path in any of its spellings,
// folded to one; nothing else is even opened.
TEST(windows_path, only_hid_interface_paths_and_one_spelling_of_each) {
    struct row {
        const char* given;
        const char* folded;  // nullptr: refused
    };
    const std::vector<row> rows = {
        {R"(\\?\hid#vid_6666&pid_f100#7&1&0#{4d1e55b2})", R"(\\?\hid#vid_6666&pid_f100#7&1&0#{4d1e55b2})"},
        {R"(\\.\HID#VID_6666&PID_F100#7&1&0)", R"(\\?\HID#VID_6666&PID_F100#7&1&0)"},
        {R"(\??\Hid#x)", R"(\\?\Hid#x)"},
        {"COM1", nullptr},
        {R"(\\.\COM1)", nullptr},
        {R"(\\?\hid#)", nullptr},
        {R"(\\?\usb#vid_6666&pid_f100)", nullptr},
        {R"(C:\hid#x)", nullptr},
        {R"(\\server\hid#x)", nullptr},
        {"", nullptr},
    };
    for (const auto& r : rows) {
        const std::optional<std::string> folded = windows_hid_path(r.given);
        EXPECT_EQ(folded.has_value(), r.folded != nullptr) << r.given;
        if (folded && r.folded != nullptr) {
            EXPECT_EQ(*folded, r.folded) << r.given;
        }
    }
}

TEST(library_lifecycle, create_and_free) {
    EXPECT_EQ(tavo_usb_initalise(), 0);
    tavo_usb_free(nullptr);
    fake_hid_reset({controller()});
    tavo_usb_handle* handle = tavo_usb_create(1, 1000);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->write_handle, hid_invalid_channel);
    EXPECT_EQ(handle->debug, 1);
    EXPECT_EQ(handle->creation_param, 1000);
    tavo_usb_free(handle);  // never found: only the record goes
    EXPECT_EQ(fake_hid_open_channels(), 0);
    tavo_usb_finalise();
}

}  // namespace
