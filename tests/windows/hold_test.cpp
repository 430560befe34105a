// The hold's name can be taken by anyone before the first run: a run that
// cannot have it ends, saying why, and sends nothing, rather than going on
// without the hold. This process takes the name first, as a squatter would.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/windows/path.h"
#include "process_harness.h"

namespace {

enum class squat {
    another_kind_of_object,  // an event under the mutex's name
    rights_denied,           // the mutex itself, with every right denied to everyone
};

// The name of output 0's hold on the fake's device, whose path without a
// path= is "fake:0".
const std::string hold_name = windows_hold_name("fake:0", 0);

HANDLE take_name_first(squat how) {
    if (how == squat::another_kind_of_object) {
        return CreateEventA(nullptr, TRUE, FALSE, hold_name.c_str());
    }
    PSECURITY_DESCRIPTOR nobody = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;GA;;;WD)", SDDL_REVISION_1, &nobody,
                                                             nullptr) == FALSE) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nobody;
    HANDLE mutex = CreateMutexExA(&attributes, hold_name.c_str(), 0, SYNCHRONIZE);
    LocalFree(nobody);
    return mutex;
}

// Whether the rights on the name keep even this process out, as Windows
// has them do; Wine grants every open whatever the rights say.
bool rights_are_enforced() {
    HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, hold_name.c_str());
    if (opened == nullptr) {
        return true;
    }
    CloseHandle(opened);
    return false;
}

// What the system says of `error`, in UTF-8: "Přístup odepřen (5)".
std::string system_text(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text, length);
    LocalFree(text);
    wide.erase(wide.find_last_not_of(L".\r\n") + 1);
    std::string utf8(wide.size() * 3, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(size));
    return utf8 + " (" + std::to_string(error) + ")";
}

struct squat_case {
    const char* name;
    squat how;
    std::vector<std::string> args;
    int status;
    std::string out;
    DWORD error;  // the system error the run names on stderr; 0 for none
    std::vector<std::string> reports;
};

const std::vector<squat_case> squat_cases = {
    {"another_kind_of_object",
     squat::another_kind_of_object,
     {"--debug", "0001"},
     1,
     "Found device: 6666-f100\nFound tavo control num 0\n- Manufacturer : Tavo Ltd\n",
     ERROR_INVALID_HANDLE,
     {}},
    {"the_other_output_goes_ahead",
     squat::another_kind_of_object,
     {"--box", "1", "0001"},
     0,
     "",
     0,
     {command_report_text(0, 1, 0x0001)}},
};

void expect_run(const squat_case& c) {
    HANDLE squatter = take_name_first(c.how);
    ASSERT_NE(squatter, nullptr) << "error " << GetLastError();
    const tavoctl_run run = run_tavoctl_fake("device 6666:f100 name=Tavo Ltd\n", c.args);
    CloseHandle(squatter);

    std::string err;
    if (c.error != 0) {
        const std::string why = system_text(c.error);
        EXPECT_TRUE(std::any_of(why.begin(), why.end(), [](char b) { return (b & 0x80) != 0; }))
            << "the test's premise: the system's texts in Czech (TAVOCTL_WINE_LOCALE=cs_CZ.UTF-8)";
        err = "unable to hold output 0: " + why + "\n";
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, native_lines(c.out));
    EXPECT_EQ(run.err, native_lines(err));
    EXPECT_EQ(run.report_texts(), c.reports);
}

TEST(squatted_hold, ends_the_run_saying_why_and_sends_nothing) {
    for (const squat_case& c : squat_cases) {
        SCOPED_TRACE(c.name);
        expect_run(c);
    }
}

// What a squatter on Windows would do: the mutex itself, shut to everyone.
TEST(squatted_hold, with_every_right_denied) {
    HANDLE squatter = take_name_first(squat::rights_denied);
    ASSERT_NE(squatter, nullptr) << "error " << GetLastError();
    const bool enforced = rights_are_enforced();
    CloseHandle(squatter);
    if (!enforced) {
        GTEST_SKIP() << "this system grants every open whatever the rights say (Wine does)";
    }
    expect_run({"rights_denied", squat::rights_denied, {"--channel", "12"}, 1, "", ERROR_ACCESS_DENIED, {}});
}

}  // namespace
