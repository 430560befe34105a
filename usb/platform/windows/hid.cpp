// The HID devices over Windows: SetupAPI lists the HID device interfaces and
// their paths, the HID class driver (part of Windows, so the controller needs
// no driver of its own) names each device, and CreateFile / WriteFile carry
// the reports.
#include <windows.h>
// windows.h first: setupapi.h and hidsdi.h rely on its types.
#include <setupapi.h>

// MinGW-w64's hidsdi.h declares its functions without C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "path.h"
#include "platform.h"
#include "text.h"

static_assert(sizeof(HANDLE) == sizeof(hid_channel), "a HANDLE travels as a hid_channel");
static_assert(sizeof(WCHAR) == sizeof(std::uint16_t), "the manufacturer string is UTF-16");

namespace {

// Present devices only, as device interfaces.
constexpr DWORD enumeration_flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(enumeration_flags == 0x12);

// A controller that stops taking reports must not hold a recording schedule
// forever; the Linux kernel gives up on a hidraw write after the same time.
constexpr DWORD write_timeout_ms = 5000;

// What a write that ran out of time reports as its last error: the result
// of the wait that gave up on it.
constexpr DWORD write_timeout_error = WAIT_TIMEOUT;

// How long a write that was given up may take to come back once cancelled.
// A driver that never completes the cancellation must not turn the bound
// above into a hang.
constexpr DWORD cancel_timeout_ms = 1000;

HANDLE handle_of(hid_channel channel) {
    // HANDLEs cross the platform seam as integers; this is where they turn back.
    return reinterpret_cast<HANDLE>(channel);  // NOLINT(performance-no-int-to-ptr)
}

struct device_info_set_closer {
    void operator()(HDEVINFO set) const noexcept { SetupDiDestroyDeviceInfoList(set); }
};
using device_info_set = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, device_info_set_closer>;

// The device path of one interface of `set`, or an empty one when the
// platform does not give it.
std::string interface_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    // The first call only learns the size; it "fails" for want of a buffer.
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr) != FALSE ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return {};
    }
    const DWORD size = std::max<DWORD>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    // SP_DEVICE_INTERFACE_DETAIL_DATA_A: the fixed header, then the path.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* header = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    // The header's own size, not the buffer's: that is how the call knows
    // which layout of the record the caller was built against.
    header->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set, data, header, size, nullptr, nullptr) == FALSE) {
        return {};
    }
    // The path ends inside the buffer even if the platform left it unterminated.
    const char* path = header->DevicePath;
    const auto room = static_cast<std::size_t>(reinterpret_cast<const char*>(buffer.data()) + size - path);
    return std::string(path, strnlen(path, room));
}

}  // namespace

// Present devices only, as device interfaces; SetupDiEnumDeviceInterfaces
// fails past the last one, which ends the list.
std::vector<std::string> hid_device_paths() {
    GUID hid_class{};
    HidD_GetHidGuid(&hid_class);
    HDEVINFO listed = SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, enumeration_flags);
    if (listed == INVALID_HANDLE_VALUE) {
        return {};  // nothing to list
    }
    const device_info_set set(listed);
    std::vector<std::string> paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hid_class, index, &data) != FALSE;
         ++index) {
        std::string path = interface_path(set.get(), &data);
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
    }
    return paths;
}

// Refusals are not counted on Windows (see hid_error_is_permission), so
// nothing needs telling apart before an open.
bool hid_unopened_ids(const std::string& /*path*/, std::uint16_t* /*vendor*/, std::uint16_t* /*product*/) {
    return false;
}

std::chrono::milliseconds output_hold_wait(std::chrono::milliseconds asked) {
    return asked;
}

hid_channel hid_open(const char* path, hid_access access) {
    const bool write_only = access == hid_access::write_only;
    const DWORD rights = write_only ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    // The write channel is overlapped so that every write can be given up
    // after a bounded wait (see hid_write).
    const DWORD attributes = write_only ? FILE_FLAG_OVERLAPPED : 0;
    HANDLE handle = CreateFileA(path, rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return hid_invalid_channel;
    }
    return reinterpret_cast<hid_channel>(handle);
}

bool hid_get_attributes(hid_channel channel, std::uint16_t* vendor, std::uint16_t* product) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (HidD_GetAttributes(handle_of(channel), &attributes) == FALSE) {
        return false;
    }
    *vendor = attributes.VendorID;
    *product = attributes.ProductID;
    return true;
}

bool hid_get_release(hid_channel channel, std::uint16_t* release) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (HidD_GetAttributes(handle_of(channel), &attributes) == FALSE) {
        return false;
    }
    *release = attributes.VersionNumber;
    return true;
}

namespace {

using string_query = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);

bool device_string(string_query query, hid_channel channel, std::span<std::uint16_t> units) {
    if (units.size_bytes() > ULONG_MAX) {
        units = units.first(ULONG_MAX / sizeof(std::uint16_t));
    }
    return query(handle_of(channel), units.data(), static_cast<ULONG>(units.size_bytes())) != FALSE;
}

}  // namespace

bool hid_get_manufacturer(hid_channel channel, std::span<std::uint16_t> units) {
    return device_string(HidD_GetManufacturerString, channel, units);
}

bool hid_get_product(hid_channel channel, std::span<std::uint16_t> units) {
    return device_string(HidD_GetProductString, channel, units);
}

bool hid_get_serial(hid_channel channel, std::span<std::uint16_t> units) {
    return device_string(HidD_GetSerialNumberString, channel, units);
}

// The HID class driver does not say which port its device hangs on; the
// device path, which --list shows, is what tells controllers apart here.
bool hid_get_port(hid_channel /*channel*/, std::string* port) {
    port->clear();
    return false;
}

// A HID device interface path, in one of its spellings, is opened; nothing
// else is, not even to look: CreateFile on COM1 would take a serial port.
hid_path_kind hid_probe_path(const char* path, hid_probed_path* probed) {
    std::optional<std::string> hid_path = windows_hid_path(path);
    if (!hid_path) {
        return hid_path_kind::not_hid;
    }
    probed->open_path = std::move(*hid_path);
    return hid_path_kind::hid;
}

// Only the Plug and Play manager makes a HID interface path, and it names one
// device for as long as that device is present: both opens of it reached the
// same device.
bool hid_same_device(hid_channel /*first*/, hid_channel /*second*/) {
    return true;
}

namespace {

// The errno that perror() should describe for a failed write. A stalled
// write would be ETIMEDOUT, but msvcrt.dll, the C runtime MinGW links
// against, has no text for it ("Unknown error"); EAGAIN reads "Resource
// temporarily unavailable", which is what the user needs to know.
int errno_for(DWORD error) {
    switch (error) {
        case write_timeout_error:
            return EAGAIN;
        case ERROR_DEVICE_NOT_CONNECTED:
            return ENODEV;
        default:
            return EIO;
    }
}

bool write_failed(DWORD error) {
    errno = errno_for(error);
    SetLastError(error);  // last, so that nothing in between can change it
    return false;
}

// One write under way: the request, the event it signals and its own copy of
// the bytes, in one block. Until the write completes, the system may still
// read the bytes, write the request and signal the event.
struct write_request {
    OVERLAPPED overlapped;
    HANDLE done;
    // The bytes follow.
};

std::uint8_t* request_bytes(write_request* request) {
    return reinterpret_cast<std::uint8_t*>(request + 1);
}

struct write_request_release {
    void operator()(write_request* request) const noexcept {
        const DWORD error = GetLastError();  // the write's outcome, set before this runs
        CloseHandle(request->done);
        ::operator delete(request);
        SetLastError(error);
    }
};
using owned_write_request = std::unique_ptr<write_request, write_request_release>;

owned_write_request new_write_request(std::span<const std::uint8_t> bytes) {
    // The block holds a write_request (all plain data) once one is stored in it.
    auto* request =
        static_cast<write_request*>(::operator new(sizeof(write_request) + bytes.size(), std::nothrow));
    if (request == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    *request = write_request{};
    request->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request->done == nullptr) {
        const DWORD error = GetLastError();
        ::operator delete(request);
        SetLastError(error);
        return nullptr;
    }
    request->overlapped.hEvent = request->done;
    std::copy(bytes.begin(), bytes.end(), request_bytes(request));
    return owned_write_request(request);
}

// Takes back a write that ran out of time, failing with `wait_error`, unless
// it completed after all.
bool take_back(HANDLE device, owned_write_request request, DWORD wait_error, std::size_t* written) {
    CancelIoEx(device, &request->overlapped);
    if (WaitForSingleObject(request->done, cancel_timeout_ms) != WAIT_OBJECT_0) {
        // Still under way: the system may yet read the bytes, write the
        // request and signal the event, and would corrupt whatever came to
        // live in their place (or under the event's handle value). The block
        // is left to it, never freed: a few dozen bytes and one event, spent
        // only where a driver never completes a cancellation.
        static_cast<void>(request.release());
        return write_failed(wait_error);
    }
    DWORD count = 0;
    if (GetOverlappedResult(device, &request->overlapped, &count, FALSE) == FALSE) {
        const DWORD outcome = GetLastError();
        // Anything but our own cancellation is the device's answer.
        return write_failed(outcome == ERROR_OPERATION_ABORTED ? wait_error : outcome);
    }
    // It completed after all, just before the cancellation.
    *written = count;
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace

bool hid_write(hid_channel channel, std::span<const std::uint8_t> bytes, std::size_t* written) {
    *written = 0;
    if (bytes.size() > MAXDWORD) {
        return write_failed(ERROR_INVALID_PARAMETER);
    }
    HANDLE device = handle_of(channel);
    owned_write_request request = new_write_request(bytes);
    if (!request) {
        return write_failed(GetLastError());
    }
    const auto size = static_cast<DWORD>(bytes.size());
    if (WriteFile(device, request_bytes(request.get()), size, nullptr, &request->overlapped) == FALSE) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return write_failed(error);
        }
        const DWORD waited = WaitForSingleObject(request->done, write_timeout_ms);
        if (waited != WAIT_OBJECT_0) {
            const DWORD wait_error = waited == WAIT_TIMEOUT ? write_timeout_error : GetLastError();
            return take_back(device, std::move(request), wait_error, written);
        }
    }
    DWORD count = 0;
    if (GetOverlappedResult(device, &request->overlapped, &count, FALSE) == FALSE) {
        return write_failed(GetLastError());
    }
    *written = count;
    // A short write is no error of the platform's: report 0 for it.
    SetLastError(ERROR_SUCCESS);
    return true;
}

void hid_close(hid_channel channel) {
    CloseHandle(handle_of(channel));
}

int hid_last_error() {
    return static_cast<int>(GetLastError());
}

std::string hid_error_text(int error) {
    return windows_error_text(static_cast<DWORD>(error));
}

// Windows keeps every keyboard and mouse to itself: their refusals say
// nothing about the controller's permissions.
bool hid_error_is_permission(int /*error*/) {
    return false;
}
