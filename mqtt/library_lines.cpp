// Each handle's lines go to the library_lines of the command it works for,
// through the handle's own sink: the outputs' threads never meet here.
#include "library_lines.h"

#include <cerrno>
#include <new>
#include <string_view>

namespace {

// Passed through to the handle, as tavoctl does.
constexpr int handle_creation_param = 1000;

bool collect(void* context, tavo_usb_stream /*stream*/, std::string_view text) {
    try {
        static_cast<library_lines*>(context)->text.append(text);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

}  // namespace

tavo_usb_handle* library_create(library_lines* lines) {
    tavo_usb_handle* handle = tavo_usb_create(0, handle_creation_param);
    if (handle != nullptr) {
        tavo_usb_setlines(handle, tavo_usb_lines{collect, lines});
    }
    return handle;
}
