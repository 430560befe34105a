#include "streams.h"

#include <cstdio>

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
}
