// The output hold on Windows: a named mutex per controller and output. The
// process that owns it never releases it: when the process ends, however it
// ends, Windows abandons the mutex and hands it to the next waiter.
//
// The name is in the Global\ namespace: a recorder running as a service in
// session 0 and a person at the console in session 1 or 2 must meet on the
// same mutex, and Local\ names are per session. Creating a mutex there needs
// no privilege (only file mappings do). Whoever creates it gives everyone
// the right to wait on it, since a service's default rights would keep
// console users out.
#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "../output_hold.h"
#include "windows_path.h"

namespace {

// Everyone (WD): SYNCHRONIZE | MUTANT_QUERY_STATE, all that waiting needs.
constexpr const char* everyone_may_wait = "D:(A;;0x00100001;;;WD)";

// Windows spells one device's path in either case and behind any of its
// prefixes, and a name may hold no backslash after its namespace and no more
// than MAX_PATH characters: a hash of the path with its prefix folded and
// folded to lower case fits all of them. Device paths are ASCII.
std::string mutex_name(const char* path, int output) {
    const std::string device = windows_device_path(path);
    std::uint64_t hash = 0xcbf29ce484222325U;  // 64-bit FNV-1a
    for (const char* c = device.c_str(); *c != '\0'; ++c) {
        const char folded = (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
        hash ^= static_cast<unsigned char>(folded);
        hash *= 0x100000001b3U;
    }
    char hex[17] = {};
    std::to_chars(hex, hex + 16, hash, 16);
    return std::string("Global\\tavoctl-") + hex + "-output-" + std::to_string(output);
}

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
    LocalFree(rights);
    return mutex;
}

}  // namespace

// Anyone may take the mutex and keep it: the wait is bounded all the same.
output_hold_result output_hold_take(const char* path, hid_channel /*channel*/, int output,
                                    std::chrono::milliseconds wait) {
    HANDLE mutex = open_mutex(mutex_name(path, output));
    if (mutex == nullptr) {
        return output_hold_result::unavailable;
    }
    const auto wait_ms = std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INFINITE - 1);
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(wait_ms));
    // An abandoned mutex is one whose holder ended: it is ours now all the same.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        return output_hold_result::held;  // the handle stays open until the process ends
    }
    CloseHandle(mutex);
    if (waited == WAIT_TIMEOUT) {
        return output_hold_result::busy;
    }
    return output_hold_result::unavailable;
}
