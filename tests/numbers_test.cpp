// The command line's number readers, against the C library they stand in for.
#include "vocabulary/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vocabulary/keys.h"

namespace {

// Wherever sscanf("%x") reads a value that fits 16 bits without wrapping,
// read_command_code must agree with it exactly.
TEST(read_command_code, agrees_with_sscanf_inside_16_bits) {
    const char* inputs[] = {"0",    "1",    "0C03",    "0xc03", "0X0C03", "ffff",
                            "FFFF", "12zz", " 12",     "\t\n7", "+5",     "-0",
                            "0x",   "0xg",  "-0x",     "0x0x1", "1 2",    "00000000000000ff",
                            "abc",  "0x 1", "\v\f\r9", "+0x1f", "fFfF"};
    for (const char* text : inputs) {
        unsigned expected = 0;
        ASSERT_EQ(std::sscanf(text, "%x", &expected), 1) << text;
        ASSERT_LE(expected, 0xFFFFU) << text;
        std::uint16_t code = 0xBEEF;
        EXPECT_TRUE(read_command_code(text, &code)) << text;
        EXPECT_EQ(code, expected) << text;
    }
}

TEST(read_command_code, rejects_what_does_not_fit_or_does_not_convert) {
    const char* inputs[] = {"",
                            " ",
                            "x1",
                            "-",
                            "+",
                            "--1",
                            "g",
                            "-1",
                            "10000",
                            "100000000",
                            "-FFFFFFFF",
                            "-FFFFFFFFFFFFF214",  // 0DEC once negated in 64 bits
                            "-1x",
                            "FFFFFFFFFFFFFFFFFFFF1",
                            "+-1",
                            "0x10000",
                            "-0x1"};
    for (const char* text : inputs) {
        std::uint16_t code = 0xBEEF;
        EXPECT_FALSE(read_command_code(text, &code)) << "'" << text << "'";
        EXPECT_EQ(code, 0xBEEF) << "'" << text << "' must leave the code untouched";
    }
}

// A message's code is its whole text: what read_command_code would read
// from the front of it is not enough.
TEST(read_whole_command_code, takes_only_the_whole_text_as_a_code) {
    struct row {
        const char* text;
        int code;  // -1: rejected
    };
    const row rows[] = {{"0C03", 0x0C03}, {"0xc03", 0x0C03}, {"0XFFFF", 0xFFFF}, {"0000000000ff", 0xFF},
                        {"7", 7},         {"0", 0},          {"0C03junk", -1},   {"E", 0xE},
                        {"Enter", -1},    {"Backup", -1},    {" 12", -1},        {"12 ", -1},
                        {"5\n", -1},      {"+5", -1},        {"-0", -1},         {"0x", -1},
                        {"0xg", -1},      {"", -1},          {"10000", -1},      {"0x10000", -1},
                        {"0x0x1", -1},    {"0001FFFF", -1}};
    std::uint16_t code = 0xBEEF;
    EXPECT_FALSE(read_whole_command_code(std::string_view("12\0", 3), &code));  // no NUL either
    for (const auto& r : rows) {
        code = 0xBEEF;
        EXPECT_EQ(read_whole_command_code(r.text, &code), r.code >= 0) << "'" << r.text << "'";
        EXPECT_EQ(code, r.code >= 0 ? r.code : 0xBEEF) << "'" << r.text << "'";
    }
}

// Every key's name, in any letter case, and nothing else.
TEST(find_box_key, names_a_key_in_any_letter_case) {
    struct row {
        const char* text;
        int number;  // -1: no key
    };
    const row rows[] = {{"Tavo", 0x80},     {"TAVO", 0x80},   {"tavo", 0x80},   {"tAvO", 0x80},
                        {"Backup", 0x83},   {"backup", 0x83}, {"BACKUP", 0x83}, {"5", 5},
                        {"0", 0},           {"Backup ", -1},  {" Tavo", -1},    {"Back", -1},
                        {"Backups", -1},    {"10", -1},       {"", -1},         {"TAVO\n", -1},
                        {"Tav\xC3\xB6", -1}};
    for (const auto& r : rows) {
        std::uint16_t number = 0xBEEF;
        EXPECT_EQ(find_box_key(r.text, &number), r.number >= 0) << "'" << r.text << "'";
        EXPECT_EQ(number, r.number >= 0 ? r.number : 0xBEEF) << "'" << r.text << "'";
    }
}

// Inside the int range read_leading_int is atoi; outside it says so.
TEST(read_leading_int, agrees_with_atoi_inside_int_and_clamps_outside) {
    const char* in_range[] = {"0",   "1", "-1", "  42",       "+7",          "12abc",
                              "x",   "",  "-",  "2147483647", "-2147483648", "00000000000000000001",
                              "\t-3"};
    for (const char* text : in_range) {
        int value = 99;
        EXPECT_TRUE(read_leading_int(text, &value)) << text;
        EXPECT_EQ(value, std::atoi(text)) << text;
    }
    struct row {
        const char* text;
        int clamped;
    };
    const row out_of_range[] = {{"2147483648", INT_MAX},
                                {"4294967297", INT_MAX},
                                {"-2147483649", INT_MIN},
                                {"99999999999999999999999999", INT_MAX}};
    for (const auto& r : out_of_range) {
        int value = 99;
        EXPECT_FALSE(read_leading_int(r.text, &value)) << r.text;
        EXPECT_EQ(value, r.clamped) << r.text;
    }
}

// A wait is the whole text as a decimal number up to 60000, or nothing.
TEST(read_milliseconds, takes_only_whole_decimal_numbers_up_to_60000) {
    struct row {
        const char* text;
        int ms;  // -1: rejected
    };
    const row rows[] = {{"0", 0},
                        {"300", 300},
                        {"60000", 60000},
                        {"007", 7},
                        {"000000000000000000060000", 60000},
                        {"", -1},
                        {"60001", -1},
                        {"99999999999999999999999", -1},
                        {"-1", -1},
                        {"-0", -1},
                        {"+1", -1},
                        {" 1", -1},
                        {"1 ", -1},
                        {"1x", -1},
                        {"1.5", -1},
                        {"0x10", -1},
                        {"4294967296", -1}};
    for (const auto& r : rows) {
        int ms = 1234;
        EXPECT_EQ(read_milliseconds(r.text, &ms), r.ms >= 0) << "'" << r.text << "'";
        EXPECT_EQ(ms, r.ms >= 0 ? r.ms : 1234) << "'" << r.text << "'";
    }
}

}  // namespace
