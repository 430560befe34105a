// The Windows backend's write, against the one kind of device every Windows
// (and Wine) has that can take, refuse or stall a write at will: a named pipe
// whose other end the test holds.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

namespace {

constexpr int unknown_errno = 9999;  // the runtime's "Unknown error"

const std::array<std::uint8_t, 9> report = {0x00, 0x31, 0x0c, 0x03, 0x7a, 0x7a, 0x7a, 0x7a, 0x7a};

// The reading end of a pipe, and the channel hid_open() gave for its other end.
struct pipe_pair {
    HANDLE server = INVALID_HANDLE_VALUE;
    hid_channel channel = hid_invalid_channel;

    explicit pipe_pair(DWORD buffer_size) {
        static int serial = 0;
        const std::string name = "\\\\.\\pipe\\tavoctl-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++serial);
        server =
            CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, buffer_size, 0, nullptr);
        if (server != INVALID_HANDLE_VALUE) {
            channel = hid_open(name.c_str(), hid_access::write_only);
        }
    }
    ~pipe_pair() {
        if (channel != hid_invalid_channel) {
            hid_close(channel);
        }
        if (server != INVALID_HANDLE_VALUE) {
            CloseHandle(server);
        }
    }
    pipe_pair(const pipe_pair&) = delete;
    pipe_pair& operator=(const pipe_pair&) = delete;

    DWORD waiting_bytes() const {
        DWORD available = 0;
        PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr);
        return available;
    }
};

TEST(windows_write, a_taken_report_arrives_whole) {
    pipe_pair pipe(4096);
    ASSERT_NE(pipe.channel, hid_invalid_channel) << "error " << hid_last_error();

    std::size_t written = 0;
    ASSERT_TRUE(hid_write(pipe.channel, report, &written)) << "error " << hid_last_error();
    EXPECT_EQ(written, report.size());
    EXPECT_EQ(hid_last_error(), 0);

    std::array<std::uint8_t, 16> received{};
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(pipe.server, received.data(), static_cast<DWORD>(received.size()), &count, nullptr));
    ASSERT_EQ(count, report.size());
    EXPECT_TRUE(std::equal(report.begin(), report.end(), received.begin()));
}

TEST(windows_write, a_refused_report_fails_with_the_platform_error) {
    pipe_pair pipe(4096);
    ASSERT_NE(pipe.channel, hid_invalid_channel) << "error " << hid_last_error();
    ASSERT_TRUE(DisconnectNamedPipe(pipe.server));

    errno = 0;
    std::size_t written = 99;
    EXPECT_FALSE(hid_write(pipe.channel, report, &written));
    EXPECT_EQ(written, 0U);
    EXPECT_EQ(hid_last_error(), ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(errno, EIO);
}

// A controller that stops taking reports: the write is given up after its
// bound and taken back, instead of waiting for ever.
TEST(windows_write, a_stalled_report_is_given_up_and_taken_back) {
    pipe_pair pipe(0);  // no room: a write waits until the other end reads
    ASSERT_NE(pipe.channel, hid_invalid_channel) << "error " << hid_last_error();

    errno = 0;
    std::size_t written = 99;
    EXPECT_FALSE(hid_write(pipe.channel, report, &written));
    EXPECT_EQ(written, 0U);
    EXPECT_EQ(hid_last_error(), WAIT_TIMEOUT);
    EXPECT_EQ(errno, EAGAIN);
    const std::string described = std::strerror(errno);  // copied: the next call reuses the buffer
    EXPECT_NE(described, std::strerror(unknown_errno)) << "perror must say what happened";
    EXPECT_EQ(pipe.waiting_bytes(), 0U) << "the cancelled report must not arrive";
}

// --path: only a HID interface path is taken, in one spelling; a pipe that
// could take a report, a serial port or a file is refused before any open.
TEST(windows_path, only_hid_interface_paths_are_taken) {
    struct row {
        std::string path;
        hid_path_kind kind;
        std::string device_path;
    };
    const std::vector<row> rows = {
        {"\\\\.\\pipe\\tavoctl-test", hid_path_kind::not_hid, ""},
        {"COM1", hid_path_kind::not_hid, ""},
        {"\\\\.\\COM1", hid_path_kind::not_hid, ""},
        {"NUL", hid_path_kind::not_hid, ""},
        {"C:\\windows\\win.ini", hid_path_kind::not_hid, ""},
        {"\\\\.\\HID#VID_6666&PID_F100#1", hid_path_kind::hid, "\\\\?\\HID#VID_6666&PID_F100#1"},
    };
    for (const auto& r : rows) {
        hid_probed_path probed;
        EXPECT_EQ(hid_probe_path(r.path.c_str(), &probed), r.kind) << r.path;
        EXPECT_EQ(probed.open_path, r.device_path) << r.path;
    }
}

}  // namespace
