// The output hold on Linux: an open-file-description lock on one byte of the
// controller's device node per output, taken through the very channel the
// reports go to, so that the device held is the device written to. Such a
// lock belongs to the open file, not to a lock file, so the kernel drops it
// when the process ends, even by SIGKILL. Locks on a character device's node
// work like those on a file (hidraw has no lock operation of its own), and a
// write lock needs only the write access that sending reports needs anyway.
// The lock is the node's: a container given its own node of the same device
// does not meet the runs on the host.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform.h"

namespace {

// How often a waiting run looks again. The kernel's own waiting lock cannot
// be bounded without a signal; a wait that polls can, at the price of
// serving waiting runs in no particular order.
constexpr std::chrono::milliseconds poll_interval(50);

enum class attempt { held, busy, failed };

attempt try_lock(int fd, int output) {
    struct flock byte {};
    byte.l_type = F_WRLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start = output;
    byte.l_len = 1;
    byte.l_pid = 0;  // open-file-description locks require it
    int result = -1;
    do {
        result = ::fcntl(fd, F_OFD_SETLK, &byte);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        return attempt::held;  // the lock lives as long as the channel
    }
    return errno == EAGAIN || errno == EACCES ? attempt::busy : attempt::failed;
}

}  // namespace

// A channel that takes no lock (one that is no file, in the tests) offers no
// hold: the run goes on without it, as it did before holds existed.
output_hold_result output_hold_take(const char* /*path*/, hid_channel channel, int output,
                                    std::chrono::milliseconds wait, std::string* /*why*/) {
    const int fd = static_cast<int>(channel);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        switch (try_lock(fd, output)) {
            case attempt::held:
                return output_hold_result::held;
            case attempt::failed:
                return output_hold_result::unavailable;
            case attempt::busy:
                break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return output_hold_result::busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(poll_interval, deadline - now));
    }
}
