// Plays the controller's receiving end in the test VM: records every output
// report that reaches a USB HID gadget (/dev/hidgN), one line each, as the
// CLOCK_MONOTONIC time in microseconds and the report's bytes in hex.
//
// usage: gadget_reader DEVICE LOG [MAX_SECONDS [STOP_AFTER PID_FILE]]
//
// With STOP_AFTER, the reader stops the writer (SIGSTOP to the process named
// in PID_FILE) as it logs that many reports. Being a real-time task, it does
// so before the writer's write returns: the writer is frozen right at that
// report, before any step that follows it (a pause, the next report), so
// that the testbed can unplug the gadget or kill the writer there for sure.
//
// LOG is created only once DEVICE is open, so its existence says that the
// reader is in place. SIGTERM stops it after it has read whatever is queued.
// It never outlives MAX_SECONDS (default 120), so a forgotten reader cannot
// hold up the VM.
//
// The reader runs as a real-time task on the VM's one CPU: woken by a
// report's arrival, it runs (and takes the time) before the writer gets the
// CPU back from its write, so a timestamp never falls after the writer's next
// step, however late the host lets the VM run.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int /*signal*/) {
    stop_requested = 1;
}

long long now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string report_line(long long time_us, const unsigned char* bytes, std::size_t count) {
    std::string line = std::to_string(time_us);
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", static_cast<unsigned>(bytes[i]));
        line += hex;
    }
    line += '\n';
    return line;
}

enum class read_result { report, empty, failed };

// Reads one queued report, if there is one, and logs it.
read_result read_one(int device, int log) {
    unsigned char buffer[64];
    ssize_t n = -1;
    do {
        n = ::read(device, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR && stop_requested == 0);
    const long long at = now_us();
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return read_result::empty;
        }
        std::fprintf(stderr, "gadget_reader: read: %s\n", std::strerror(errno));
        return read_result::failed;
    }
    if (n == 0) {
        return read_result::empty;
    }
    if (!write_all(log, report_line(at, buffer, static_cast<std::size_t>(n)))) {
        std::fprintf(stderr, "gadget_reader: writing the log: %s\n", std::strerror(errno));
        return read_result::failed;
    }
    return read_result::report;
}

// Stops the process whose ID PATH holds.
bool stop_writer(const char* path) {
    FILE* file = std::fopen(path, "r");
    int pid = 0;
    const bool read = file != nullptr && std::fscanf(file, "%d", &pid) == 1 && pid > 0;
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!read) {
        std::fprintf(stderr, "gadget_reader: no process ID to stop in %s\n", path);
        return false;
    }
    if (::kill(pid, SIGSTOP) != 0) {
        std::fprintf(stderr, "gadget_reader: stopping %d: %s\n", pid, std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: %s DEVICE LOG [MAX_SECONDS [STOP_AFTER PID_FILE]]\n", argv[0]);
        return 2;
    }
    const long max_seconds = argc >= 4 ? std::strtol(argv[3], nullptr, 10) : 120;
    const long stop_after = argc == 6 ? std::strtol(argv[4], nullptr, 10) : 0;
    const char* stop_pid_file = argc == 6 ? argv[5] : nullptr;
    long reports = 0;
    const long long deadline = now_us() + max_seconds * 1000000LL;

    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a stop must cut a wait short
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    sched_param priority{};
    priority.sched_priority = 50;
    if (sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
        std::fprintf(stderr, "gadget_reader: cannot run as a real-time task: %s\n", std::strerror(errno));
        return 1;
    }

    const int device = ::open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        std::fprintf(stderr, "gadget_reader: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int log = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        std::fprintf(stderr, "gadget_reader: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }

    while (stop_requested == 0) {
        if (now_us() >= deadline) {
            std::fprintf(stderr, "gadget_reader: %s: still running after %ld s\n", argv[1], max_seconds);
            return 1;
        }
        pollfd waiting{device, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, 50);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "gadget_reader: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (ready > 0) {
            const read_result result = read_one(device, log);
            if (result == read_result::failed) {
                return 1;
            }
            if (result == read_result::report && ++reports == stop_after && !stop_writer(stop_pid_file)) {
                return 1;
            }
            if (result == read_result::empty) {
                // Ready yet empty: a gadget that has gone away says so at
                // once, every time; do not spin on it.
                const timespec pause{0, 20 * 1000 * 1000};
                nanosleep(&pause, nullptr);
            }
        }
    }
    // Whatever the gadget took before the stop is part of the record.
    for (;;) {
        const read_result result = read_one(device, log);
        if (result == read_result::failed) {
            return 1;
        }
        if (result == read_result::empty) {
            return 0;
        }
    }
}
