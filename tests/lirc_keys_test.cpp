// What the lircd driver reads from lircd, its remote files and its clients.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "key_code.h"
#include "vocabulary/keys.h"

namespace {

// A remote's key as lircd hands it over, and the controller's code for it
// (none: refused).
TEST(controller_code, is_the_remotes_bits_side_by_side_and_only_16_of_them) {
    struct row {
        remote_key key;
        std::optional<std::uint16_t> code;
    };
    const row rows[] = {
        {{0, 0, 0x0C03, 64, 0, 0}, 0x0C03},  // the shipped remotes: 64 bits, code as written
        {{0, 0, 0x0000, 64, 0, 0}, 0x0000},
        {{0, 0, 0xFFFF, 16, 0, 0}, 0xFFFF},
        {{0, 0, 0x10000, 64, 0, 0}, std::nullopt},  // a typo with one digit too many
        {{0, 0, 0x100000003, 64, 0, 0}, std::nullopt},
        {{0, 0, ~std::uint64_t{0}, 64, 0, 0}, std::nullopt},
        {{0x0C, 8, 0x03, 8, 0, 0}, 0x0C03},  // a plus remote spelled with pre_data
        {{0x0C, 8, 0x03, 4, 0x5, 4}, 0x0C35},
        {{0, 8, 0x83, 8, 0, 0}, 0x0083},
        {{0, 0, 0x1FF, 8, 0, 0}, std::nullopt},   // a code wider than its remote's bits
        {{0x1, 1, 0x0, 16, 0, 0}, std::nullopt},  // pre_data past bit 15
        {{0x1, 8, 0x03, 60, 0, 0}, std::nullopt},
        {{0, 0, 0x1, 8, 0x1, 8}, 0x0101},
        {{0, 0, 0x1, 8, 0x100, 8}, std::nullopt},     // post_data wider than its bits would be
        {{0x1, 32, 0x1, 32, 0x1, 32}, std::nullopt},  // more than lircd's 64 bits
        {{0, -1, 0x1, 16, 0, 0}, std::nullopt},
        {{0, 0, 0x1, 16, 0, 200}, std::nullopt},
    };
    for (const row& r : rows) {
        std::uint16_t code = 0xBEEF;
        const bool ok = controller_code(r.key, &code);
        EXPECT_EQ(ok, r.code.has_value())
            << std::hex << r.key.pre_data << " " << r.key.code << " " << r.key.post_data << " (" << std::dec
            << r.key.pre_data_bits << " " << r.key.bits << " " << r.key.post_data_bits << ")";
        if (ok && r.code) {
            EXPECT_EQ(code, *r.code) << std::hex << r.key.code;
        }
    }
}

TEST(device_choice, numbers_auto_or_a_path) {
    struct row {
        const char* device;
        bool by_number;
        int number;
        const char* path;
    };
    const row rows[] = {
        {nullptr, true, 0, ""},
        {"", true, 0, ""},
        {"auto", true, 0, ""},
        {"0", true, 0, ""},
        {"1", true, 1, ""},
        {"2147483647", true, 2147483647, ""},
        {"2147483648", false, 0, "2147483648"},
        {"99999999999999999999999", false, 0, "99999999999999999999999"},
        {"/dev/hidraw3", false, 0, "/dev/hidraw3"},
        {"/dev/tavo/by-path/pci-0000:00:14.0-usb-0:2:1.0", false, 0,
         "/dev/tavo/by-path/pci-0000:00:14.0-usb-0:2:1.0"},
        {"-1", false, 0, "-1"},
        {"1 ", false, 0, "1 "},
        {"Auto", false, 0, "Auto"},
    };
    for (const row& r : rows) {
        const device_choice choice = read_device_choice(r.device);
        EXPECT_EQ(choice.by_number, r.by_number) << (r.device ? r.device : "(none)");
        EXPECT_EQ(choice.number, r.number) << (r.device ? r.device : "(none)");
        EXPECT_EQ(choice.path, r.path) << (r.device ? r.device : "(none)");
    }
}

TEST(outputs_of_mask, transmitters_1_and_2_and_no_others) {
    const std::pair<std::uint32_t, unsigned> rows[] = {{1, 1}, {2, 2}, {3, 3},          {0, 0},
                                                       {4, 0}, {6, 0}, {0x80000000, 0}, {0xFFFFFFFF, 0}};
    for (const auto& [mask, outputs] : rows) {
        EXPECT_EQ(outputs_of_mask(mask), outputs) << mask;
    }
}

// A client's option is quoted in lircd's log: never past its field, never a
// control character.
TEST(printable_field, stops_at_the_field_and_hides_controls) {
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(printable_field(unterminated, sizeof unterminated), "abcd");
    EXPECT_EQ(printable_field("ab\0cd", 5), "ab");
    EXPECT_EQ(printable_field("a\nb\x1b[2J\x9b", 8), "a?b?[2J?");
    EXPECT_EQ(printable_field("", 0), "");
}

// The remotes the driver's package ships hold every key of each box type with
// the library's code for it, and nothing else: LIRC's names for the digits,
// the box's own for 'Tavo' and 'Backup'.
TEST(shipped_remotes, hold_the_library_codes_of_every_key) {
    std::ifstream file(TAVO_LIRCD_CONF);
    ASSERT_TRUE(file) << TAVO_LIRCD_CONF;
    std::map<std::string, std::map<std::string, unsigned long>> remotes;
    std::string remote;
    bool in_codes = false;
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string first;
        std::string second;
        words >> first >> second;
        if (first == "name") {
            remote = second;
        } else if (first == "begin" || first == "end") {
            in_codes = first == "begin" && second == "codes";
        } else if (in_codes && !first.empty()) {
            remotes[remote][first] = std::stoul(second, nullptr, 16);
        }
    }
    for (const auto& [name, plus] : {std::pair{"tavo", 0}, std::pair{"tavo+", 1}}) {
        std::map<std::string, unsigned long> expected;
        for (const box_key& key : box_keys) {
            const std::string lirc_name = key.name.size() == 1     ? "KEY_" + std::string(key.name)
                                          : key.number == tavo_key ? "TAVO"
                                                                   : "BACKUP";
            expected[lirc_name] = box_code_base(plus) + key.number;
        }
        EXPECT_EQ(remotes[name], expected) << name;
    }
}

}  // namespace
