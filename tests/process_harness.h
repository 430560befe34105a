// Runs tavoctl on the fake controller as a separate process and reads back
// everything it did: exit status, stdout, stderr and the reports received.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "run_process.h"

struct received_report {
    std::string text;  // "D: bb bb ..." -- device index, then the 9 bytes; " lost" if not delivered
    std::int64_t at_ns = 0;
};

struct tavoctl_run {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<received_report> reports;

    std::vector<std::string> report_texts() const;
};

using environment_variables = std::vector<std::pair<std::string, std::string>>;

// `scenario` lists the fake's devices (see fake_scenario.cpp). With
// `one_pipe`, both streams come through one pipe, into `out`; otherwise
// standard output goes where `stdout_to` says. The run has no locale (the C
// locale) unless `env` names one. Bit N of `closed`: descriptor N is closed
// when the run starts.
tavoctl_run run_tavoctl_fake(const std::string& scenario, const std::vector<std::string>& args,
                             bool one_pipe = false, stdout_sink stdout_to = stdout_sink::file,
                             const environment_variables& env = {}, unsigned closed = 0);

// Several runs on the same devices at once, one per argument list. Each
// starts as soon as the one before it has sent its first report, so that it
// finds that run at work.
std::vector<tavoctl_run> run_tavoctl_fake_together(const std::string& scenario,
                                                   const std::vector<std::vector<std::string>>& arg_lists,
                                                   bool one_pipe = false,
                                                   stdout_sink stdout_to = stdout_sink::file,
                                                   const environment_variables& env = {},
                                                   unsigned closed = 0);

// One run with both streams on this process's console (Windows), for the
// caller to read off the screen; `out` and `err` stay empty.
tavoctl_run run_tavoctl_fake_on_console(const std::string& scenario, const std::vector<std::string>& args);

// The reports in the fake controller's log (TAVO_FAKE_LOG), in order.
std::vector<received_report> parse_fake_log(const std::string& log);

// The reports tavoctl should send, in the harness's text form.
std::string command_report_text(int device, int output, std::uint16_t code);
std::string frame_text(int device, const std::vector<std::uint8_t>& bytes);

// The usage text, as a user sees it for `program`.
std::string expected_usage(const std::string& program);

// Line ends as the platform's C runtime writes them to a file.
std::string native_lines(const std::string& text);
