#include "streams.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "print_line.h"

namespace {

// Registered with atexit(): every way a run ends passes here, the return
// from main() and each exit(1) on a failure path alike, so none of them can
// forget to say that its traces or its listing went nowhere.
void report_stdout_write_error() {
    const int error = stdout_write_error();
    if (error != 0) {
        print_error("write error on standard output: %s\n", std::strerror(error));
    }
}

}  // namespace

// A recorder's hook often captures both streams through one pipe ("2>&1")
// and may kill a run it has waited too long for. Nothing may sit in a
// buffer, then: a trace line must be out before the error that follows it,
// before the channel pause, and before any kill. Windows' C runtime buffers
// standard error whenever it is not a console and has no line buffering at
// all, so both streams are unbuffered, on every platform alike; print_line()
// hands each line of standard output over in one write.
void set_up_streams() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
#ifdef SIGPIPE
    // A reader that stops early ("| grep -q", "| head -1") must not kill a
    // run half-way through a channel change and leave the box waiting for
    // digits: the write fails with EPIPE instead, and the run goes on to
    // send everything it was asked to. SIGPIPE can always be ignored.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Cannot fail: the C library takes at least 32 functions, this the first.
    std::atexit(report_stdout_write_error);
}

int run_status(int status) {
    return stdout_write_error() != 0 ? 1 : status;
}
