// The command line of tavoctl.
#pragma once

#include "vocabulary/pacing.h"

struct options {
    int controller = 0;
    int controller_given = 0;
    int output = 0;
    int debug = 0;
    int plus = 0;  // 1: --channel sends the Tavo+ code set
    int setup = 0;
    const char* channel = nullptr;  // --channel text, or none
    const char* path = nullptr;     // --path: the controller's device path, or none
    int list = 0;
    int help = 0;
    int version = 0;
    int gap_ms = 0;                   // --gap: the wait before each key or code after another report
    int pause_ms = default_pause_ms;  // --pause: the wait before 'Backup'
    int first_code = 0;               // argv index of the first argument after the options
};

// Parses argv into `opts`. Returns 0, or -1 for any usage error (the caller
// prints the usage text); the parser itself prints nothing. --path with
// --controller is a usage error, and so is --list with anything that picks a
// controller or sends (--controller, --path, --setup, --channel, codes); none
// of that is checked when --help or --version was given. A --gap or --pause
// that is not a whole number of milliseconds from 0 to 60000 is a usage error
// wherever it stands.
int parse_options(int argc, char** argv, options* opts);
