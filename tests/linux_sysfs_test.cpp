// The Linux backend's sysfs lookups against a tree laid out like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../usb/platform/linux/sysfs.h"
#include "../usb/platform/linux/sysfs_parse.h"
#include "run_process.h"

namespace {

namespace fs = std::filesystem;

class sysfs_tree : public testing::Test {
  protected:
    void SetUp() override { root = make_scratch_dir(); }
    void TearDown() override { fs::remove_all(root); }

    // One hidraw node of a USB HID device, linked from class/hidraw and
    // dev/char as the kernel links it.
    void add_hidraw(unsigned minor, const std::string& usb_device, const char* manufacturer) {
        const std::string name = "hidraw" + std::to_string(minor);
        const fs::path usb = fs::path(root) / "devices/pci0000:00/usb1" / usb_device;
        const fs::path hid = usb / (usb_device + ":1.0") / ("0003:6666:F100.000" + std::to_string(minor));
        const fs::path node = hid / "hidraw" / name;
        fs::create_directories(node);
        fs::create_directory_symlink("../../", node / "device");
        if (manufacturer != nullptr) {
            std::ofstream(usb / "manufacturer") << manufacturer;
        }
        fs::create_directories(fs::path(root) / "class/hidraw");
        fs::create_directories(fs::path(root) / "dev/char");
        fs::create_directory_symlink(node, fs::path(root) / "class/hidraw" / name);
        fs::create_directory_symlink(fs::path(root) / "class/hidraw", node / "subsystem");
        fs::create_directory_symlink(node, fs::path(root) / "dev/char" / ("240:" + std::to_string(minor)));
    }

    std::u16string manufacturer_of(unsigned minor, std::size_t units, bool* found) {
        std::vector<std::uint16_t> buffer(units, 0xAAAA);
        *found = linux_read_manufacturer(root, 240, minor, buffer);
        std::u16string text;
        for (const auto u : buffer) {
            if (u == 0 || u == 0xAAAA) {
                break;
            }
            text += static_cast<char16_t>(u);
        }
        return text;
    }

    std::string root;
};

TEST_F(sysfs_tree, hidraw_nodes_come_in_numeric_order) {
    for (const unsigned minor : {10U, 2U, 0U, 11U, 1U}) {
        add_hidraw(minor, "1-" + std::to_string(minor), "x");
    }
    fs::create_directories(fs::path(root) / "class/hidraw/hidrawx");
    fs::create_directories(fs::path(root) / "class/hidraw/other3");
    fs::create_directories(fs::path(root) / "class/hidraw/hidraw");
    fs::create_directories(fs::path(root) / "class/hidraw/hidraw99999999999");  // past a 32-bit long
    EXPECT_EQ(linux_hidraw_names(root),
              (std::vector<std::string>{"hidraw0", "hidraw1", "hidraw2", "hidraw10", "hidraw11"}));
}

TEST_F(sysfs_tree, no_hidraw_class_means_no_devices) {
    EXPECT_TRUE(linux_hidraw_names(root).empty());
}

TEST_F(sysfs_tree, manufacturer_comes_from_the_parent_usb_device) {
    struct row {
        const char* file;  // nullptr: no manufacturer file
        std::size_t units;
        bool found;
        std::u16string text;
    };
    const std::vector<row> rows = {
        {"Tavo Ltd\n", 512, true, u"Tavo Ltd"},
        {"T\xc3\xa4vo\n", 512, true, u"T\u00e4vo"},
        {"\xf0\x9f\x93\xba TV\n", 512, true, u"\U0001F4FA TV"},
        {"bad\xff\xc3\n", 512, true, u"bad\uFFFD\uFFFD"},
        {"\n", 512, true, u""},
        {"abcdef\n", 4, true, u"abcd"},  // fills the buffer: no terminator
        {nullptr, 512, false, u""},
    };
    unsigned minor = 0;
    for (const auto& r : rows) {
        add_hidraw(minor, "2-" + std::to_string(minor), r.file);
        bool found = false;
        EXPECT_EQ(manufacturer_of(minor, r.units, &found), r.text) << minor;
        EXPECT_EQ(found, r.found) << minor;
        ++minor;
    }
}

TEST_F(sysfs_tree, port_is_the_usb_device_name_and_the_node_a_hidraw_one) {
    add_hidraw(0, "1-2.3", nullptr);
    EXPECT_EQ(linux_usb_port(root, 240, 0), "");  // no USB device's attributes: not on USB
    const fs::path usb = fs::path(root) / "devices/pci0000:00/usb1/1-2.3";
    std::ofstream(usb / "idVendor") << "6666\n";
    std::ofstream(usb / "devnum") << "4\n";
    EXPECT_EQ(linux_usb_port(root, 240, 0), "1-2.3");
    EXPECT_EQ(linux_usb_port(root, 240, 9), "");
    EXPECT_TRUE(linux_is_hidraw(root, 240, 0));
    EXPECT_FALSE(linux_is_hidraw(root, 240, 9));
    const fs::path mem = fs::path(root) / "devices/virtual/mem/null";
    fs::create_directories(mem);
    fs::create_directories(fs::path(root) / "class/mem");
    fs::create_directory_symlink(fs::path(root) / "class/mem", mem / "subsystem");
    fs::create_directory_symlink(mem, fs::path(root) / "dev/char/1:3");
    EXPECT_FALSE(linux_is_hidraw(root, 1, 3));
}

// Which device refused to open is told by its uevent, which anyone may read.
TEST_F(sysfs_tree, ids_come_from_the_hid_devices_uevent) {
    struct row {
        const char* uevent;  // nullptr: no uevent file
        bool found;
        std::uint16_t vendor;
        std::uint16_t product;
    };
    // A line's middle is no line's start, however far in it is (255 bytes: a
    // reader in fixed chunks takes the next for one).
    const std::string long_line = "HID_NAME=" + std::string(246, 'x') + "HID_ID=0003:00006666:0000F100\n";
    const std::vector<row> rows = {
        {"DRIVER=hid-generic\nHID_ID=0003:00006666:0000F100\nHID_NAME=Tavo\n", true, 0x6666, 0xF100},
        {"HID_ID=0005:0000046D:0000B023\n", true, 0x046D, 0xB023},
        {"DRIVER=hid-generic\n", false, 0, 0},
        {nullptr, false, 0, 0},
        // IDs past 16 bits are some other device's, never cut down to a controller's.
        {"HID_ID=0003:00016666:0000F100\n", false, 0, 0},
        {"HID_ID=0003:1000000000006666:0000F100\n", false, 0, 0},
        {"HID_ID=0003:-0000999A:0000F100\n", false, 0, 0},
        {long_line.c_str(), false, 0, 0},
    };
    unsigned minor = 0;
    for (const auto& r : rows) {
        add_hidraw(minor, "3-" + std::to_string(minor), nullptr);
        const std::string name = "hidraw" + std::to_string(minor);
        if (r.uevent != nullptr) {
            std::ofstream(fs::path(root) / "class/hidraw" / name / "device/uevent") << r.uevent;
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        EXPECT_EQ(linux_hidraw_ids(root, name, &vendor, &product), r.found) << minor;
        EXPECT_EQ(vendor, r.vendor) << minor;
        EXPECT_EQ(product, r.product) << minor;
        ++minor;
    }
}

// The release number is the USB device's bcdDevice, as the kernel writes it.
TEST_F(sysfs_tree, release_is_the_usb_devices_bcd_device) {
    const std::pair<const char*, int> rows[] = {{"0123\n", 0x0123}, {"ffff", 0xFFFF}, {"\n", -1},
                                                {"10000\n", -1},    {"01 23\n", -1},  {"-001\n", -1},
                                                {nullptr, -1}};
    for (unsigned minor = 0; minor < std::size(rows); ++minor) {
        const auto [file, expected] = rows[minor];  // no file: nullptr; no release: -1
        add_hidraw(minor, "4-" + std::to_string(minor), nullptr);
        if (file != nullptr) {
            std::ofstream(fs::path(root) / "devices/pci0000:00/usb1" / ("4-" + std::to_string(minor)) /
                          "bcdDevice")
                << file;
        }
        std::uint16_t release = 0xBEEF;
        EXPECT_EQ(linux_usb_release(root, 240, minor, &release), expected >= 0) << minor;
        EXPECT_EQ(release, expected >= 0 ? expected : 0xBEEF) << minor;
    }
}

TEST(utf8_to_utf16, never_splits_a_surrogate_pair_at_the_end) {
    std::vector<std::uint16_t> units(3, 0);
    EXPECT_EQ(utf8_to_utf16("ab\xf0\x9f\x93\xba", units), 2U);
}

}  // namespace
