// The output hold on Linux: an open-file-description lock on one byte of the
// controller's device node per output. Such a lock belongs to the open file,
// not to a lock file, so the kernel drops it when the process ends, even by
// SIGKILL. Locks on a character device's node work like those on a file
// (hidraw has no lock operation of its own), and a write lock needs only the
// write access that sending reports needs anyway.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "../output_hold.h"

output_hold_result output_hold_take(const char* path, int output, output_hold_wait wait) {
    int fd = -1;
    do {
        fd = ::open(path, O_WRONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return output_hold_result::unavailable;
    }
    struct flock byte {};
    byte.l_type = F_WRLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start = output;
    byte.l_len = 1;
    byte.l_pid = 0;  // open-file-description locks require it
    const int command = wait == output_hold_wait::yes ? F_OFD_SETLKW : F_OFD_SETLK;
    int result = -1;
    do {
        result = ::fcntl(fd, command, &byte);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        return output_hold_result::held;  // fd stays open: the lock lives as long as the process
    }
    const int error = errno;
    ::close(fd);
    if (wait == output_hold_wait::no && (error == EAGAIN || error == EACCES)) {
        return output_hold_result::busy;
    }
    return output_hold_result::unavailable;
}
