// Runs a program as a separate process, the way a user or a script would,
// and collects what it printed and how it ended.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct process_result {
    int status = -1;  // exit status; -1 if it did not exit normally
    std::string out;
    std::string err;
};

struct process_request {
    std::string program;
    std::vector<std::string> args;                         // not including argv[0]
    std::vector<std::pair<std::string, std::string>> env;  // added to the current environment
    std::string scratch_dir;                               // where stdout and stderr are collected
    bool one_pipe = false;  // both streams into one pipe, as "2>&1 |" does; read back as `out`
    bool console = false;   // Windows: both streams to this process's console, whose screen shows them
};

process_result run_process(const process_request& request);

// A process started and not yet waited for.
struct running_process {
    std::intptr_t id = -1;  // the pid on Linux, the process handle on Windows
    std::string scratch_dir;
    std::intptr_t pipe = -1;  // with one_pipe: the reading end (descriptor or handle)
};
running_process start_process(const process_request& request);
process_result finish_process(running_process* process);  // waits for it to end

// A fresh, empty folder for one test's files.
std::string make_scratch_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
