// The output hold on Windows: a named mutex per controller and output (see
// windows_hold_name). The process that owns it never releases it: when the
// process ends, however it ends, Windows abandons the mutex and hands it to
// the next waiter.
//
// Creating a mutex in the Global\ namespace needs no privilege (only file
// mappings do). Whoever creates it gives everyone the right to wait on it,
// since a service's default rights would keep console users out.
//
// Anyone may create the name first, though: with rights that shut the
// others out, or as another kind of object. A run that cannot have the
// mutex then ends, saying why, rather than going on without it. Failing
// adds no harm that a squatter could not do already, since anyone may hold
// the mutex itself and keep every run out; going on would let two runs'
// key sequences mix on one box, and a fallback such as a Local\ mutex
// would keep apart only the runs of one session, never a service's and a
// console user's.
#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <algorithm>
#include <string>

#include "../output_hold.h"
#include "windows_path.h"
#include "windows_text.h"

namespace {

// Everyone (WD): SYNCHRONIZE | MUTANT_QUERY_STATE, all that waiting needs.
constexpr const char* everyone_may_wait = "D:(A;;0x00100001;;;WD)";

HANDLE open_mutex(const std::string& name) {
    PSECURITY_DESCRIPTOR rights = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(everyone_may_wait, SDDL_REVISION_1, &rights,
                                                             nullptr) == FALSE) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = rights;
    attributes.bInheritHandle = FALSE;
    HANDLE mutex = CreateMutexExA(&attributes, name.c_str(), 0, SYNCHRONIZE);
    const DWORD error = GetLastError();
    LocalFree(rights);
    SetLastError(error);
    return mutex;
}

output_hold_result refused(std::string* why) {
    *why = windows_error_text(GetLastError());
    return output_hold_result::refused;
}

}  // namespace

// Anyone may take the mutex and keep it: the wait is bounded all the same.
output_hold_result output_hold_take(const char* path, hid_channel /*channel*/, int output,
                                    std::chrono::milliseconds wait, std::string* why) {
    HANDLE mutex = open_mutex(windows_hold_name(path, output));
    if (mutex == nullptr) {
        return refused(why);
    }
    const auto wait_ms = std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INFINITE - 1);
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(wait_ms));
    // An abandoned mutex is one whose holder ended: it is ours now all the same.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        return output_hold_result::held;  // the handle stays open until the process ends
    }
    if (waited == WAIT_TIMEOUT) {
        CloseHandle(mutex);
        return output_hold_result::busy;
    }
    const output_hold_result result = refused(why);
    CloseHandle(mutex);
    return result;
}

// Devices are opened as handles, never as C runtime descriptors, so a
// closed standard stream cannot be handed to one.
bool hid_reserve_standard_descriptors() {
    return true;
}
