// A run started with a standard descriptor closed (cron and recorder daemons
// start hooks so) would otherwise get that number for the first device it
// opens, and its own trace or error lines would go to the controller as
// output reports.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

bool platform_reserve_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // Read-only: a write to a standard stream that was closed still
        // fails, with EBADF, as it did with nothing open there.
        int opened = -1;
        do {
            opened = ::open("/dev/null", O_RDONLY);
        } while (opened < 0 && errno == EINTR);
        if (opened != fd) {
            if (opened >= 0) {
                ::close(opened);
            }
            return false;
        }
    }
    return true;
}
