// Runs a program as a separate process, the way a user or a script would,
// and collects what it printed and how it ended.
#pragma once

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
};

process_result run_process(const process_request& request);

// A fresh, empty folder for one test's files.
std::string make_scratch_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
