// --list: one line per controller, fields separated by tabs, for people and
// for cut and awk alike:
//
//   NUMBER  PATH  PORT  MANUFACTURER  PRODUCT  SERIAL
//
// NUMBER is what --controller takes, PATH what --path takes; a field the
// device or the platform does not tell is empty.
#include "list.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "streams.h"

namespace {

// A tab or line break inside a field would split its line. The device's own
// strings come without any (see device_text.h); the path and the port are
// the platform's, and get the same treatment.
std::string one_field(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

void list_controllers(const tavo_usb_handle* handle) {
    tavo_usb_device_list list;
    if (tavo_usb_listdevices(handle, &list) != 0) {
        print_error("unable to list tavo controllers\n");
        std::exit(1);
    }
    for (const tavo_usb_device& d : list.devices) {
        print_line("%d\t%s\t%s\t%s\t%s\t%s\n", d.number, one_field(d.path).c_str(), one_field(d.port).c_str(),
                   one_field(d.manufacturer).c_str(), one_field(d.product).c_str(),
                   one_field(d.serial).c_str());
    }
    // The first thing someone without access needs to know: the controllers
    // may be among the devices that refused.
    if (list.denied > 0) {
        print_error(
            "%d HID device%s could not be opened for lack of permission: controllers need the udev "
            "rule 60-tavoctl.rules, and users without a seat need to be in group plugdev\n",
            list.denied, list.denied == 1 ? "" : "s");
    }
}
