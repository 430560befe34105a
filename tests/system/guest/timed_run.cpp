// Runs one program in the test VM the way a script would, and says how it
// ended, how long it took from start to finish and its peak memory. A program
// that outlives its deadline is killed, so no scenario can hang the VM.
//
// usage: timed_run [--pid FILE] DEADLINE_SECONDS STDOUT_FILE STDERR_FILE PROGRAM [ARG...]
//
// --pid writes the program's process ID to FILE once it is started, for a
// testbed that stops or kills the program at a chosen moment (under Wine the
// program is still this process, after the loader's exec).
//
// Prints three lines: "status=N" (the exit status; "signal N" or "timeout"
// otherwise), "elapsed_us=N" and "maxrss_kb=N".
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

long long now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

[[noreturn]] void run_child(char** program, const char* out_path, const char* err_path,
                            const sigset_t& old_mask) {
    const int out = ::open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
        std::perror("timed_run: output files");
        _exit(126);
    }
    ::close(out);
    ::close(err);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    ::execvp(program[0], program);
    std::perror("timed_run: exec");
    _exit(127);
}

bool write_pid(const char* path, pid_t pid) {
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fprintf(file, "%d\n", static_cast<int>(pid)) > 0;
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    const char* pid_file = nullptr;
    if (argc > 2 && std::strcmp(argv[1], "--pid") == 0) {
        pid_file = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 5) {
        std::fprintf(
            stderr,
            "usage: timed_run [--pid FILE] DEADLINE_SECONDS STDOUT_FILE STDERR_FILE PROGRAM [ARG...]\n");
        return 2;
    }
    const long deadline_s = std::strtol(argv[1], nullptr, 10);

    // SIGCHLD stays blocked so that sigtimedwait() can wait for it with a deadline.
    sigset_t child_signal;
    sigset_t old_mask;
    sigemptyset(&child_signal);
    sigaddset(&child_signal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child_signal, &old_mask);

    const long long start = now_us();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("timed_run: fork");
        return 2;
    }
    if (pid == 0) {
        run_child(argv + 4, argv[2], argv[3], old_mask);
    }
    if (pid_file != nullptr && !write_pid(pid_file, pid)) {
        std::perror("timed_run: pid file");
    }

    const long long deadline = start + deadline_s * 1000000LL;
    int status = 0;
    rusage usage{};
    bool timed_out = false;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            std::perror("timed_run: wait4");
            return 2;
        }
        const long long left = deadline - now_us();
        if (left <= 0) {
            timed_out = true;
            ::kill(pid, SIGKILL);
            while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            break;
        }
        const timespec wait_for{static_cast<time_t>(left / 1000000),
                                static_cast<long>(left % 1000000) * 1000};
        sigtimedwait(&child_signal, nullptr, &wait_for);
    }
    const long long elapsed = now_us() - start;

    if (timed_out) {
        std::printf("status=timeout\n");
    } else if (WIFEXITED(status)) {
        std::printf("status=%d\n", WEXITSTATUS(status));
    } else {
        std::printf("status=signal %d\n", WTERMSIG(status));
    }
    std::printf("elapsed_us=%lld\nmaxrss_kb=%ld\n", elapsed, usage.ru_maxrss);
    return 0;
}
