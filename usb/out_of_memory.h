// No exception leaves the library (see tavo_usb.h): memory that runs out
// inside a call fails that call like any other failure, with a line of its
// own, and the caller goes on to its usual message and status.
#pragma once

#include <cerrno>
#include <new>
#include <type_traits>

#include "lines.h"
#include "tavo_usb.h"

// Runs `body`, the work of the library call named `call`, and gives its
// result. When memory runs out on the way, says "CALL: out of memory" among
// the handle's errors and gives -1 (nothing, for a call that returns nothing),
// with errno ENOMEM for a caller's perror().
template <typename Body>
auto catch_out_of_memory(const tavo_usb_handle* handle, const char* call, Body&& body) noexcept
    -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        handle_err(handle, "%s: out of memory\n", call);
        errno = ENOMEM;
        if constexpr (!std::is_void_v<decltype(body())>) {
            return -1;
        }
    }
}
