// For now the library has one line writer for the whole process and one walk
// over the devices at a time, so calls are taken one at a time, each with its
// lines collected on the calling thread. Once the library gives each handle
// its own lines (tavo_usb_setlines), library_create points the handle's
// lines at `lines` and library_call keeps only what the walk still needs.
#include "library_lines.h"

#include <cerrno>
#include <mutex>
#include <new>
#include <string_view>

#include "print_line.h"

namespace {

std::mutex library_turn;
thread_local library_lines* collecting = nullptr;
line_writer standard_writer = nullptr;

// Passed through to the handle, as tavoctl does.
constexpr int handle_creation_param = 1000;

bool collect(std::FILE* stream, std::string_view text) {
    if (collecting == nullptr) {
        return standard_writer(stream, text);
    }
    try {
        collecting->text.append(text);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

// errno is the library's answer to the caller: it survives the scope.
struct collecting_scope {
    explicit collecting_scope(library_lines* lines) { collecting = lines; }
    ~collecting_scope() { collecting = nullptr; }
    collecting_scope(const collecting_scope&) = delete;
    collecting_scope& operator=(const collecting_scope&) = delete;
};

}  // namespace

void library_lines_start() {
    standard_writer = set_line_writer(collect);
}

tavo_usb_handle* library_create(library_lines* /*lines*/) {
    return tavo_usb_create(0, handle_creation_param);
}

int library_call(library_lines* lines, const std::function<int()>& call) {
    const std::lock_guard<std::mutex> turn(library_turn);
    const collecting_scope scope(lines);
    return call();
}

int library_hold(library_lines* lines, const tavo_usb_handle* handle, int output,
                 std::chrono::milliseconds wait) {
    // The hold touches nothing the other calls share but the line writer.
    const collecting_scope scope(lines);
    return tavo_usb_holdoutput(handle, output, wait);
}
