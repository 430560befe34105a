// The command line of tavoctl.
#pragma once

struct options {
    int controller = 0;
    int output = 0;
    int debug = 0;
    int plus = 0;  // 1: --channel sends the Tavo+ code set
    int setup = 0;
    const char* channel = nullptr;  // --channel text, or none
    int first_code = 0;             // argv index of the first argument after the options
};

// Parses argv into `opts`. Returns 0, or -1 for any usage error (the caller
// prints the usage text); the parser itself prints nothing.
int parse_options(int argc, char** argv, options* opts);
