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

// Where the child's standard output goes.
enum class stdout_sink {
    file,         // a file in scratch_dir, read back as `out`
    closed_pipe,  // a pipe whose reading end is closed before the child starts: every write fails
    full_device,  // /dev/full, on which every write fails with ENOSPC (Linux only)
};

struct process_request {
    std::string program;
    std::vector<std::string> args;                         // not including argv[0]
    std::vector<std::pair<std::string, std::string>> env;  // added to the current environment
    std::string scratch_dir;                               // where stdout and stderr are collected
    bool one_pipe = false;  // both streams into one pipe, as "2>&1 |" does; read back as `out`
    stdout_sink stdout_to = stdout_sink::file;  // without one_pipe
    bool console = false;  // Windows: both streams to this process's console, whose screen shows them
    unsigned closed = 0;   // POSIX: bit N set, descriptor N is closed when the program starts
};

process_result run_process(const process_request& request);

// A process started and not yet waited for.
struct running_process {
    std::intptr_t id = -1;  // the pid on Linux, the process handle on Windows
    std::string scratch_dir;
    std::intptr_t pipe = -1;  // with one_pipe: the reading end (descriptor or handle)
};
running_process start_process(const process_request& request);
// Waits for it to end. One still running after a minute has hung: it is
// killed, with status -1 and a line saying so after what it printed.
process_result finish_process(running_process* process);

// A fresh, empty folder for one test's files.
std::string make_scratch_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
