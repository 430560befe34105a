#include "streams.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace {

// The errno of the first write to standard output that failed, or 0 while
// every one has succeeded. Output that went nowhere must not pass for done.
int first_stdout_error = 0;

bool write_standard(void* /*context*/, tavo_usb_stream stream, std::string_view text) {
    const bool out = stream == tavo_usb_stream::out;
    errno = 0;
    const bool written = platform_write_text(out ? stdout : stderr, text);
    if (!written && out && first_stdout_error == 0) {
        first_stdout_error = errno != 0 ? errno : EIO;
    }
    return written;
}

// Registered with atexit(): every way a run ends passes here, the return
// from main() and each exit(1) on a failure path alike, so none of them can
// forget to say that its traces or its listing went nowhere.
void report_stdout_write_error() {
    if (first_stdout_error != 0) {
        print_error("write error on standard output: %s\n", std::strerror(first_stdout_error));
    }
}

}  // namespace

// A recorder's hook often captures both streams through one pipe ("2>&1")
// and may kill a run it has waited too long for. Nothing may sit in a
// buffer, then: a trace line must be out before the error that follows it,
// before the channel pause, and before any kill. Windows' C runtime buffers
// standard error whenever it is not a console and has no line buffering at
// all, so both streams are unbuffered, on every platform alike; each line
// is handed over in one write.
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
    return first_stdout_error != 0 ? 1 : status;
}

tavo_usb_lines standard_streams() {
    return tavo_usb_lines{write_standard, nullptr};
}

void print_line(const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    write_line_v(standard_streams(), tavo_usb_stream::out, format, args);
    va_end(args);
}

void print_error(const char* format, ...) noexcept {
    std::va_list args;
    va_start(args, format);
    write_line_v(standard_streams(), tavo_usb_stream::err, format, args);
    va_end(args);
}

void print_errno(const char* what) noexcept {
    const int error = errno;
    print_error("%s: %s\n", what, std::strerror(error));
}

void print_text(tavo_usb_stream stream, std::string_view text) {
    write_text(standard_streams(), stream, text);
}
