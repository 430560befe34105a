// What a Czech Windows console shows of a run, and what a pipe gets of the
// same run. The console reads bytes in its OEM code page (852 here), in
// which UTF-8 is garbage; a pipe must get the bytes as they were: UTF-8, and
// the command line's own words in the ANSI code page (1250 here).
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"
#include "process_harness.h"
#include "refused_allocations.h"

namespace {

// A console for the runs to show their lines on. Wine gives a program
// started from Linux a console that shows nothing: a new one replaces it.
HANDLE test_console() {
    static const HANDLE screen = [] {
        FreeConsole();
        if (AllocConsole() == FALSE) {
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    }();
    return screen;
}

bool cursor_at(HANDLE screen, COORD* cursor) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(screen, &info) == FALSE) {
        return false;
    }
    *cursor = info.dwCursorPosition;
    return true;
}

// The screen's rows from `first` up to `end`, each without the spaces that
// fill it to the screen's width, and ending in "\n".
std::wstring screen_lines(HANDLE screen, SHORT first, SHORT end) {
    constexpr DWORD width = 80;  // the lines judged here are shorter
    std::wstring text;
    for (SHORT row = first; row < end; ++row) {
        std::wstring line(width, L' ');
        DWORD read = 0;
        if (ReadConsoleOutputCharacterW(screen, line.data(), width, COORD{0, row}, &read) == FALSE) {
            return L"(row " + std::to_wstring(row) + L" unreadable)";
        }
        line.resize(read);
        line.erase(line.find_last_not_of(L' ') + 1);
        text += line + L"\n";
    }
    return text;
}

struct console_case {
    const char* name;
    std::string scenario;
    std::vector<std::string> args;
    int status;
    std::wstring shown;  // on the console, both streams
    std::string piped;   // through one pipe, both streams, as bytes
};

// "Příliš žluťoučký kůň úpěl": no character of it is a control, so it
// reaches the user as the device sent it.
const std::string czech_device =
    "device 6666:f100 name=P\\u0159\\u00edli\\u0161 \\u017elu\\u0165ou\\u010dk\\u00fd k\\u016f\\u0148 "
    "\\u00fap\\u011bl\n";

const std::vector<console_case> console_cases = {
    {"device_name_in_utf8",
     czech_device,
     {"--debug"},
     0,
     L"Found device: 6666-f100\nFound tavo control num 0\n"
     L"- Manufacturer : P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148 \u00fap\u011bl\n",
     "Found device: 6666-f100\r\nFound tavo control num 0\r\n"
     "- Manufacturer : P\xc5\x99\xc3\xadli\xc5\xa1 \xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd k\xc5\xaf\xc5\x88 "
     "\xc3\xbap\xc4\x9bl\r\n"},
    // 0xE9 is no UTF-8 on its own: it came from the command line, in the
    // ANSI code page, where it is U+00E9.
    {"argument_in_ansi",
     czech_device,
     {"0001", "k\xe9"},
     1,
     L"Invalid command code: 'k\u00e9'\n",
     "Invalid command code: 'k\xe9'\r\n"},
};

TEST(czech_console, shows_every_character_and_a_pipe_gets_the_bytes) {
    const HANDLE screen = test_console();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE) << "no console: error " << GetLastError();
    ASSERT_EQ(GetConsoleOutputCP(), 852U)
        << "the test's premise: a Czech console (TAVOCTL_WINE_LOCALE=cs_CZ.UTF-8)";
    for (const console_case& c : console_cases) {
        SCOPED_TRACE(c.name);
        COORD before{};
        ASSERT_TRUE(cursor_at(screen, &before)) << "error " << GetLastError();
        ASSERT_EQ(before.X, 0);
        const tavoctl_run shown = run_tavoctl_fake_on_console(c.scenario, c.args);
        COORD after{};
        ASSERT_TRUE(cursor_at(screen, &after)) << "error " << GetLastError();
        EXPECT_EQ(shown.status, c.status);
        EXPECT_EQ(screen_lines(screen, before.Y, after.Y), c.shown);
        EXPECT_EQ(after.X, 0) << "every line ends in a line break";

        const tavoctl_run piped = run_tavoctl_fake(c.scenario, c.args, true);
        EXPECT_EQ(piped.status, c.status);
        EXPECT_EQ(piped.out, c.piped);
    }
}

// The line that says memory ran out is the one that must not be lost: with
// no memory for its wide text it still reaches the console.
TEST(czech_console, shows_a_line_when_memory_has_run_out) {
    const HANDLE screen = test_console();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE) << "no console: error " << GetLastError();
    // A stream on the screen's own handle: the console mode that tells a
    // console takes read access, which a stream opened by name lacks.
    HANDLE own = nullptr;
    ASSERT_NE(DuplicateHandle(GetCurrentProcess(), screen, GetCurrentProcess(), &own, 0, FALSE,
                              DUPLICATE_SAME_ACCESS),
              FALSE);
    std::FILE* console = _fdopen(_open_osfhandle(reinterpret_cast<std::intptr_t>(own), 0), "w");
    ASSERT_NE(console, nullptr);
    COORD before{};
    ASSERT_TRUE(cursor_at(screen, &before)) << "error " << GetLastError();
    bool written = false;
    {
        const refused_allocations no_memory;
        written = platform_write_text(console, "tavo_usb_finddevice: out of memory\n");
    }
    COORD after{};
    ASSERT_TRUE(cursor_at(screen, &after)) << "error " << GetLastError();
    std::fclose(console);
    EXPECT_TRUE(written);
    EXPECT_EQ(screen_lines(screen, before.Y, after.Y), L"tavo_usb_finddevice: out of memory\n");
}

}  // namespace
