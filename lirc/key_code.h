// What lircd and its clients tell the driver, read without trusting any of
// it: a key's code as a remote file spells it, which controller the device
// setting names, and which output a transmitter mask picks. Nothing here
// knows lircd's types, so that every reader can be tested on its own.
#pragma once

#include <cstdint>
#include <string>

// A key as lircd hands it over: its code, and the remote's constant bits
// before and after it (pre_data and post_data, usually none).
struct remote_key {
    std::uint64_t pre_data = 0;
    int pre_data_bits = 0;
    std::uint64_t code = 0;
    int bits = 0;
    std::uint64_t post_data = 0;
    int post_data_bits = 0;
};

// The controller's 16-bit code for `key`: pre_data, code and post_data side
// by side, as lircd reads such a remote. Returns false when that does not
// fit 16 bits, or the remote's bit counts make no sense.
bool controller_code(const remote_key& key, std::uint16_t* code);

// Which controller lircd's device setting names: a device path (a hidraw
// node or a /dev/tavo link), or a number as tavoctl --controller counts them.
// lircd's "auto" (no device set) and an empty setting mean controller 0.
struct device_choice {
    bool by_number = true;
    int number = 0;
    std::string path;
};
device_choice read_device_choice(const char* device);

// The controller's transmitters as LIRC counts them: one per output.
inline constexpr int controller_transmitters = 2;

// The outputs a transmitter mask picks, one bit each as in the mask: LIRC
// numbers transmitters from 1, so transmitter 1 (bit 0) is output 0 and
// transmitter 2 (bit 1) output 1. Returns 0 for a mask that picks none, or
// names a transmitter the controller does not have.
unsigned outputs_of_mask(std::uint32_t mask);

// `text`, at most `size` bytes of it (a fixed field that need not end in a
// NUL), with every byte that is not printable ASCII as '?': for quoting what
// a client sent in lircd's log.
std::string printable_field(const char* text, std::size_t size);
