// Keeping other tavoctl runs off an output while this run uses it, so that
// two key sequences for one box never mix. The hold is tied to the process:
// it ends however the process ends, and needs no files or rights of its own.
//
// One implementation per platform (usb/platform/*_hold.cpp); the fake
// controller of the tests uses the real one, on ordinary files.
#pragma once

#include <chrono>
#include <string>

#include "hid_io.h"

enum class output_hold_result {
    held,         // this process now holds the output, until it ends
    busy,         // another process held it all through the wait
    unavailable,  // the platform offers no hold on this channel: go on without it
    refused,      // the platform has a hold but would not give it: `why` says why
};

// Takes the hold on `output` of the device at `path`, open for writing as
// `channel`, waiting at most `wait` for another process to let it go.
// Waiting runs are not served in the order they came.
output_hold_result output_hold_take(const char* path, hid_channel channel, int output,
                                    std::chrono::milliseconds wait, std::string* why);
