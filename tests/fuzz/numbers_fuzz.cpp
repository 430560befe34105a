// The command line's number readers on any argument, against the C library
// they stand in for, and the channel check on any text.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "fuzz_check.h"
#include "vocabulary/channel.h"
#include "vocabulary/numbers.h"

namespace {

bool all_digits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

void check_command_code(const std::string& text) {
    // sscanf says whether anything converts; strtoul reads the same digits
    // to their full value, where %x would already have wrapped. A negative
    // number wraps even there (-FFFFFFFFFFFFF214 is 0DEC): only -0 fits.
    unsigned converted = 0;
    const bool converts = std::sscanf(text.c_str(), "%x", &converted) == 1;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 16);
    const std::size_t sign = text.find_first_not_of(" \t\n\v\f\r");
    const bool negative = sign != std::string::npos && text[sign] == '-';
    const bool fits = errno != ERANGE && value <= 0xFFFF && (!negative || value == 0);
    std::uint16_t code = 0xBEEF;
    const bool read = read_command_code(text.c_str(), &code);
    require(read == (converts && fits), "a code is read exactly when %x reads it within 16 bits");
    require(!read || (code == value && code == converted), "a code read has %x's value");
    require(read || code == 0xBEEF, "a code refused leaves the code untouched");
}

void check_leading_int(const std::string& text) {
    errno = 0;
    const long expected = std::strtol(text.c_str(), nullptr, 10);
    const bool fits = errno != ERANGE && expected >= INT_MIN && expected <= INT_MAX;
    int value = 0;
    const bool read = read_leading_int(text.c_str(), &value);
    require(read == fits, "an int is read exactly when strtol's value fits an int");
    require(!read || value == expected, "an int read has strtol's value");
    require(read || value == (expected < 0 ? INT_MIN : INT_MAX), "an int that does not fit is clamped");
}

void check_milliseconds(const std::string& text) {
    const std::string_view digits = text;
    const std::size_t first = digits.find_first_not_of('0');
    const std::string_view significant = first == std::string_view::npos ? "0" : digits.substr(first);
    const bool valid = !text.empty() && all_digits(text) &&
                       (significant.size() < 5 || (significant.size() == 5 && significant <= "60000"));
    int ms = -1;
    const bool read = read_milliseconds(text.c_str(), &ms);
    require(read == valid, "a wait is read exactly for the digit strings up to 60000");
    require(!read || ms == std::atoi(text.c_str()), "a wait read has its digits' value");
    require(read || ms == -1, "a wait refused leaves the wait untouched");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string argument = input_argument(data, size);
    check_command_code(argument);
    check_leading_int(argument);
    check_milliseconds(argument);
    const std::string_view bytes = input_bytes(data, size);
    require(valid_channel_text(bytes) == all_digits(bytes), "a channel is exactly a string of digits");
    return 0;
}
