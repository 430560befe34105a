// The testbed's own look at the HID devices that Windows (Wine, in the test
// VM) offers to programs: one line "vvvv-pppp" per HID device interface that
// opens for reading and writing, as a program that drives one must open it.
// The testbed waits on this list, not on tavoctl.exe, before a run on a new
// set of gadgets, so that a fault in tavoctl.exe's own enumeration still
// fails its scenario. Interfaces that do not open are named on standard
// error, for the testbed's complaint.
//
// usage: hid_probe        (status 0; 1 when the device list cannot be had)
#include <windows.h>
// windows.h first: the others build on its types.
#include <setupapi.h>
// MinGW-w64's hidsdi.h declares its functions without C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The device path of one interface, or an empty vector.
std::vector<char> interface_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return {};
    }
    std::vector<char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, nullptr, nullptr)) {
        return {};
    }
    const char* path = detail->DevicePath;
    return std::vector<char>(path, path + std::strlen(path) + 1);
}

}  // namespace

int main() {
    GUID hid_class;
    HidD_GetHidGuid(&hid_class);
    HDEVINFO set = SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hid_probe: no HID device list (error %lu)\n", GetLastError());
        return 1;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &data); ++index) {
        const std::vector<char> path = interface_path(set, &data);
        if (path.empty()) {
            continue;
        }
        HANDLE device = CreateFileA(path.data(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "hid_probe: %s: error %lu\n", path.data(), GetLastError());
            continue;
        }
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (HidD_GetAttributes(device, &attributes)) {
            std::printf("%04x-%04x\n", attributes.VendorID, attributes.ProductID);
        }
        CloseHandle(device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}
