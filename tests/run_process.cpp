#include "run_process.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

#ifndef _WIN32

std::string make_scratch_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/tavoctl-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

process_result run_process(const process_spec& spec) {
    const std::string out_path = spec.scratch_dir + "/stdout";
    const std::string err_path = spec.scratch_dir + "/stderr";

    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        env_text.emplace_back(*e);
    }
    for (const auto& [name, value] : spec.env) {
        env_text.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& e : env_text) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> arg_text{spec.program};
    arg_text.insert(arg_text.end(), spec.args.begin(), spec.args.end());
    std::vector<char*> argv;
    for (auto& a : arg_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(126);
        }
        execve(spec.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    process_result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

#endif
