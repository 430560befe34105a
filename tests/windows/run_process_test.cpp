// On Windows a child gets one command line, not a vector: run_process() must
// quote each argument so that the child's C runtime splits the line back into
// exactly the arguments given.
#include "../run_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../process_harness.h"

namespace {

std::string shown(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += "[";
        for (const char c : arg) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            text += hex;
        }
        text += "]\n";
    }
    return native_lines(text);
}

struct argument_case {
    const char* name;
    std::vector<std::string> args;
};

TEST(run_process, arguments_reach_the_child_unchanged) {
    const std::vector<argument_case> cases = {
        {"none", {}},
        {"plain", {"--box", "1", "0C03"}},
        {"empty", {"", "x", ""}},
        {"white_space", {"a b", " lead", "trail ", "\t", "two  spaces"}},
        {"quotes", {"\"", "q\"x", "\"\"", "say \"hi\" twice"}},
        {"backslashes", {"\\", "a\\b", "end\\", "end\\\\", "\\\"", "\\\\\"x", "C:\\dir with space\\"}},
        {"above_127", {"\xe9", "caf\xe9 \xe9t\xe9"}},
        {"wildcards", {"*", "?.txt", "*.*"}},
        {"shell_characters", {"a&b", "a|b", "<x>", "%PATH%", "^"}},
    };
    for (const argument_case& c : cases) {
        SCOPED_TRACE(c.name);
        const process_result p = run_process({SHOW_ARGS, c.args, {}, make_scratch_dir()});
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.out, shown(c.args));
        EXPECT_EQ(p.err, "");
    }
}

}  // namespace
