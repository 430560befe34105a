// Keeping other tavoctl runs off an output while this run uses it, so that
// two key sequences for one box never mix. The hold is tied to the process:
// it ends however the process ends, and needs no files or rights of its own.
//
// One implementation per platform (usb/platform/*_hold.cpp); the fake
// controller of the tests uses the real one, on ordinary files.
#pragma once

enum class output_hold_result {
    held,         // this process now holds the output, until it ends
    busy,         // another process holds it (only when not waiting)
    unavailable,  // the platform refused: go on without the hold
};

enum class output_hold_wait { no, yes };

// Takes the hold on `output` of the device at `path`.
output_hold_result output_hold_take(const char* path, int output, output_hold_wait wait);
