// The controller access library: finds the Nth controller among the HID
// devices present, opens it, and sends it output reports.
//
// Calls return 0 on success and -1 on failure, after saying why in a line of
// their own to the handle's lines (see tavo_usb_setlines). None lets an
// exception out: a call that runs out of memory fails like any other, with
// "CALL: out of memory" among the handle's errors.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

inline constexpr std::uint16_t tavo_vendor_id = 0x6666;
inline constexpr std::uint16_t tavo_product_id = 0xF100;

// Where a handle's lines go: `out` takes the traces and the line of a
// command that could not be written, `err` everything else.
enum class tavo_usb_stream { out, err };

// A caller's sink for a handle's lines. `write` gets whole lines, one or more
// ending in "\n", each line in a single call, and returns whether it took all
// of them; it must not throw. It is called only from inside a call on its
// handle, on that call's thread: two handles driven from two threads never
// share a sink unless their callers give them one.
struct tavo_usb_lines {
    bool (*write)(void* context, tavo_usb_stream stream, std::string_view text);
    void* context;
};

// The process's standard output and error, where a new handle's lines go.
tavo_usb_lines tavo_usb_standard_lines();

struct tavo_usb_handle {
    // Reports go here; valid once the controller is found.
    hid_channel write_handle = hid_invalid_channel;
    // The read/write channel from discovery, for the manufacturer query.
    hid_channel query_handle = hid_invalid_channel;
    std::int32_t debug = 0;  // nonzero: trace discovery and every report on stdout
    std::int32_t creation_param = 0;
    // The controller's path as discovery found it or the caller gave it (not
    // whatever the platform opened it through): the output hold's name on
    // Windows, and empty until a controller is open.
    std::string device_path;
    tavo_usb_lines lines = tavo_usb_standard_lines();
    text_charset charset = text_charset::utf8;  // what the device's own strings are shown in
};

// The setup record. Only the low byte of each parameter travels, and the wire
// order is not the declaration order (see tavo_usb_sendconfig).
struct tavo_usb_config {
    std::int32_t param1;
    std::int32_t param2;
    std::int32_t param3;
    std::int32_t param4;
    std::int32_t param5;
    std::int32_t param6;
    std::int32_t param7;
    std::int32_t param8;
};

int tavo_usb_initalise();
void tavo_usb_finalise();

// Returns nullptr when memory is exhausted.
tavo_usb_handle* tavo_usb_create(int debug, int creation_param);
void tavo_usb_free(tavo_usb_handle* handle);

// Sends the handle's lines to `lines` from now on.
void tavo_usb_setlines(tavo_usb_handle* handle, tavo_usb_lines lines);

// Opens controller number `wanted` (0 = first) in enumeration order.
int tavo_usb_finddevice(tavo_usb_handle* handle, int wanted);

// Opens the controller at a device path instead of counting; fails for a
// path that does not open or is not a controller.
int tavo_usb_opendevice(tavo_usb_handle* handle, const char* path);

// One controller present, as tavo_usb_listdevices finds it. Strings are
// UTF-8 and empty when the device or the platform does not tell; the
// device's own strings hold spaces where it sent control characters or
// bidirectional controls (see controller/device_text.h), and fit the
// handle's charset.
struct tavo_usb_device {
    int number;  // what tavo_usb_finddevice takes to open it
    std::string path;
    std::string port;
    std::string manufacturer;
    std::string product;
    std::string serial;
    // The device's release number (USB's bcdDevice: 0x0123 is release
    // 1.23), or -1 where the platform does not tell.
    std::int32_t release = -1;
};

struct tavo_usb_device_list {
    std::vector<tavo_usb_device> devices;  // in controller-number order
    int denied = 0;                        // HID devices not opened for lack of permission
};

// Lists the controllers present, numbered as tavo_usb_finddevice counts them.
int tavo_usb_listdevices(const tavo_usb_handle* handle, tavo_usb_device_list* list);

void tavo_usb_printmanufacturer(const tavo_usb_handle* handle);

// How long a run waits for another run to finish with its output: well
// above a queue of several channel changes, 2 s or so each.
inline constexpr std::chrono::milliseconds tavo_hold_wait_bound = std::chrono::seconds(30);

// Keeps other runs off `output` of the open controller until this process
// ends (on Linux, until the handle is freed, which is how the lircd driver
// lets go between its clients), waiting first while another run holds it (a
// trace says so with debug on), for at most `wait`. Goes on without the hold where the platform offers
// none; fails when the platform refuses it (someone else took its name on
// Windows) and when the other run keeps the output all through the wait.
int tavo_usb_holdoutput(const tavo_usb_handle* handle, int output, std::chrono::milliseconds wait);

int tavo_usb_sendcommand(const tavo_usb_handle* handle, int output, int code);
int tavo_usb_sendconfig(const tavo_usb_handle* handle, int output, const tavo_usb_config* config);
