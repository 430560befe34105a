#include "run_process.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#include <map>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
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

process_result run_process(const process_request& request) {
    running_process process = start_process(request);
    return finish_process(&process);
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

using run_clock = std::chrono::steady_clock;

// Far longer than any run the tests make takes, under a
// sanitizer too: a run still going then hangs, and its test fails instead of
// holding up the whole suite.
constexpr std::chrono::seconds run_bound(60);

int milliseconds_until(run_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - run_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Reads what comes through the pipe until every writer has closed it.
// Returns false when the deadline comes first.
bool read_to_end(int fd, run_clock::time_point deadline, std::string* text) {
    char buffer[4096];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, milliseconds_until(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            throw std::runtime_error("poll failed");
        }
        if (ready == 0) {
            return false;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::runtime_error("read failed");
        }
        if (n == 0) {
            return true;
        }
        text->append(buffer, static_cast<std::size_t>(n));
    }
}

// Waits for the process to end. Returns false when the deadline comes first.
bool wait_until(pid_t pid, run_clock::time_point deadline, int* wstatus) {
    for (;;) {
        const pid_t ended = waitpid(pid, wstatus, WNOHANG);
        if (ended == pid) {
            return true;
        }
        if (ended < 0 && errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
        if (run_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

namespace {

// The child's standard output, opened in the child; `closed_pipe_writer` is
// the writing end of a pipe that has no reader.
int child_stdout(const process_request& request, const std::string& out_path, int closed_pipe_writer) {
    switch (request.stdout_to) {
        case stdout_sink::closed_pipe:
            return closed_pipe_writer;
        case stdout_sink::full_device:
            return open("/dev/full", O_WRONLY);
        case stdout_sink::file:
            break;
    }
    return open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

}  // namespace

running_process start_process(const process_request& request) {
    if (request.console) {
        throw std::runtime_error("only Windows runs a program on a console here");
    }
    const std::string out_path = request.scratch_dir + "/stdout";
    const std::string err_path = request.scratch_dir + "/stderr";

    // The request's variables replace those of the same name, inherited or
    // named earlier in the request: getenv() would find the first one.
    const auto named_from = [&](std::size_t first, std::string_view name) {
        return std::any_of(request.env.begin() + static_cast<std::ptrdiff_t>(first), request.env.end(),
                           [&](const auto& variable) { return variable.first == name; });
    };
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        if (!named_from(0, entry.substr(0, entry.find('=')))) {
            env_text.emplace_back(entry);
        }
    }
    for (std::size_t i = 0; i < request.env.size(); ++i) {
        const auto& [name, value] = request.env[i];
        if (!named_from(i + 1, name)) {
            env_text.push_back(name + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (auto& e : env_text) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> arg_text{request.program};
    arg_text.insert(arg_text.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv;
    for (auto& a : arg_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int pipe_ends[2] = {-1, -1};
    if (request.one_pipe && pipe(pipe_ends) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // The reading end is gone before the child exists, so that its very
    // first write already finds no reader.
    int unread_pipe[2] = {-1, -1};
    if (!request.one_pipe && request.stdout_to == stdout_sink::closed_pipe) {
        if (pipe(unread_pipe) != 0) {
            throw std::runtime_error("pipe failed");
        }
        close(unread_pipe[0]);
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = request.one_pipe ? pipe_ends[1] : child_stdout(request, out_path, unread_pipe[1]);
        const int err =
            request.one_pipe ? pipe_ends[1] : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(126);
        }
        if (request.one_pipe) {
            close(pipe_ends[0]);
            close(pipe_ends[1]);
        }
        if (unread_pipe[1] >= 0) {
            close(unread_pipe[1]);
        }
        for (int fd = 0; fd <= 2; ++fd) {
            if ((request.closed & (1U << fd)) != 0) {
                close(fd);
            }
        }
        execve(request.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (request.one_pipe) {
        close(pipe_ends[1]);
    }
    if (unread_pipe[1] >= 0) {
        close(unread_pipe[1]);
    }
    return running_process{pid, request.scratch_dir, pipe_ends[0]};
}

process_result finish_process(running_process* process) {
    const auto pid = static_cast<pid_t>(process->id);
    const auto deadline = run_clock::now() + run_bound;
    process_result result;
    const bool piped = process->pipe >= 0;
    bool ended = true;
    if (piped) {
        const int fd = static_cast<int>(process->pipe);
        process->pipe = -1;
        try {
            ended = read_to_end(fd, deadline, &result.out);
        } catch (...) {
            close(fd);
            throw;
        }
        close(fd);
    }
    int wstatus = 0;
    ended = ended && wait_until(pid, deadline, &wstatus);
    if (!ended) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &wstatus, 0) < 0) {
            if (errno != EINTR) {
                throw std::runtime_error("waitpid failed");
            }
        }
    }
    result.status = ended && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (!piped) {
        result.out = read_file(process->scratch_dir + "/stdout");
        result.err = read_file(process->scratch_dir + "/stderr");
    }
    if (!ended) {
        (piped ? result.out : result.err) +=
            "[still running after " + std::to_string(run_bound.count()) + " s: killed]\n";
    }
    return result;
}

#else

namespace {

// Closes a Windows handle when the scope ends, whatever the way out.
struct scoped_handle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit scoped_handle(HANDLE h) : handle(h) {}
    ~scoped_handle() {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr) {
            CloseHandle(handle);
        }
    }
    scoped_handle(const scoped_handle&) = delete;
    scoped_handle& operator=(const scoped_handle&) = delete;
};

std::string last_error_text(const std::string& what) {
    return what + " failed with error " + std::to_string(GetLastError());
}

// One argument as the C runtime's argv parser reads it back unchanged:
// quoted, with each run of backslashes doubled where it precedes a quote
// (the closing one included) and each quote escaped.
std::string quote_argument(const std::string& arg) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// The runtime reads the program name up to the closing quote, with no
// escapes at all, so it can be passed through as long as it has no quote.
std::string command_line(const process_request& request) {
    if (request.program.find('"') != std::string::npos) {
        throw std::runtime_error("a program path cannot hold a quote: " + request.program);
    }
    std::string line = "\"" + request.program + "\"";
    for (const std::string& arg : request.args) {
        line += ' ';
        line += quote_argument(arg);
    }
    return line;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The current environment with the request's variables added or replaced,
// as the block CreateProcess takes: sorted by name, which Windows compares
// without case.
std::string environment_block(const process_request& request) {
    std::map<std::string, std::string> entries;  // upper-case name -> "name=value"
    char* current = GetEnvironmentStringsA();
    if (current == nullptr) {
        throw std::runtime_error(last_error_text("GetEnvironmentStrings"));
    }
    for (const char* entry = current; *entry != '\0'; entry += std::string_view(entry).size() + 1) {
        const std::string text = entry;
        // Names such as "=C:" begin with the separator itself.
        const std::size_t equals = text.find('=', 1);
        entries[upper(text.substr(0, equals))] = text;
    }
    FreeEnvironmentStringsA(current);
    for (const auto& [name, value] : request.env) {
        entries[upper(name)] = name + "=" + value;
    }
    std::string block;
    for (const auto& [key, text] : entries) {
        block += text;
        block += '\0';
    }
    block += '\0';
    return block;
}

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error(last_error_text("CreateFile " + path));
    }
    return file;
}

// The child's standard output, inheritable, for anything but one_pipe.
HANDLE child_stdout(const process_request& request, const std::string& out_path) {
    switch (request.stdout_to) {
        case stdout_sink::closed_pipe: {
            SECURITY_ATTRIBUTES inherit{};
            inherit.nLength = sizeof inherit;
            inherit.bInheritHandle = TRUE;
            HANDLE read_end = INVALID_HANDLE_VALUE;
            HANDLE write_end = INVALID_HANDLE_VALUE;
            if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
                throw std::runtime_error(last_error_text("CreatePipe"));
            }
            // Gone before the child exists: its very first write finds no reader.
            CloseHandle(read_end);
            return write_end;
        }
        case stdout_sink::full_device:
            throw std::runtime_error("Windows has no device that is always full");
        case stdout_sink::file:
            break;
    }
    return inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
}

}  // namespace

std::string make_scratch_dir() {
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error(last_error_text("GetTempPath"));
    }
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string dir = std::string(temp) + "tavoctl-test-" + std::to_string(GetCurrentProcessId()) +
                                "-" + std::to_string(++serial);
        if (CreateDirectoryA(dir.c_str(), nullptr)) {
            return dir;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error(last_error_text("CreateDirectory " + dir));
        }
    }
    throw std::runtime_error("no free scratch folder name");
}

// Reads what comes through the pipe until every writer has closed it.
std::string read_to_end(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr)) {
        text.append(buffer, n);
    }
    if (GetLastError() != ERROR_BROKEN_PIPE) {
        throw std::runtime_error(last_error_text("ReadFile"));
    }
    return text;
}

running_process start_process(const process_request& request) {
    const std::string out_path = request.scratch_dir + "\\stdout";
    const std::string err_path = request.scratch_dir + "\\stderr";

    std::string line = command_line(request);
    std::string environment = environment_block(request);
    PROCESS_INFORMATION process{};
    HANDLE read_end = INVALID_HANDLE_VALUE;
    {
        // The child's copies are all it needs; ours close once it has them.
        const scoped_handle in(inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING));
        HANDLE write_end = INVALID_HANDLE_VALUE;
        if (request.one_pipe) {
            SECURITY_ATTRIBUTES inherit{};
            inherit.nLength = sizeof inherit;
            inherit.bInheritHandle = TRUE;
            if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
                throw std::runtime_error(last_error_text("CreatePipe"));
            }
            // The child gets the writing end alone.
            if (!SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
                const std::string error = last_error_text("SetHandleInformation");
                CloseHandle(read_end);
                CloseHandle(write_end);
                throw std::runtime_error(error);
            }
        }
        const scoped_handle pipe_writer(write_end);
        const bool files = !request.one_pipe && !request.console;
        const scoped_handle out(files ? child_stdout(request, out_path) : INVALID_HANDLE_VALUE);
        const scoped_handle err(files ? inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS)
                                      : INVALID_HANDLE_VALUE);
        const scoped_handle console(
            request.console ? inheritable_file("CONOUT$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)
                            : INVALID_HANDLE_VALUE);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.handle;
        startup.hStdOutput = request.one_pipe ? write_end : request.console ? console.handle : out.handle;
        startup.hStdError = request.one_pipe ? write_end : request.console ? console.handle : err.handle;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, environment.data(), nullptr,
                            &startup, &process)) {
            if (read_end != INVALID_HANDLE_VALUE) {
                CloseHandle(read_end);
            }
            throw std::runtime_error(last_error_text("CreateProcess " + line));
        }
    }
    CloseHandle(process.hThread);
    return running_process{reinterpret_cast<std::intptr_t>(process.hProcess), request.scratch_dir,
                           request.one_pipe ? reinterpret_cast<std::intptr_t>(read_end) : -1};
}

process_result finish_process(running_process* process) {
    const scoped_handle process_handle(reinterpret_cast<HANDLE>(process->id));
    process->id = -1;
    process_result result;
    const bool piped = process->pipe != -1;
    if (piped) {
        const scoped_handle reader(reinterpret_cast<HANDLE>(process->pipe));
        process->pipe = -1;
        result.out = read_to_end(reader.handle);
    }
    if (WaitForSingleObject(process_handle.handle, INFINITE) != WAIT_OBJECT_0) {
        throw std::runtime_error(last_error_text("WaitForSingleObject"));
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_handle.handle, &code)) {
        throw std::runtime_error(last_error_text("GetExitCodeProcess"));
    }
    // A crash ends the process with an NTSTATUS error code, not a status.
    result.status = (code & 0xC0000000U) == 0xC0000000U ? -1 : static_cast<int>(code);
    if (!piped) {
        result.out = read_file(process->scratch_dir + "\\stdout");
        result.err = read_file(process->scratch_dir + "\\stderr");
    }
    return result;
}

#endif
