#include "process_harness.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "run_process.h"

std::vector<std::string> tavoctl_run::report_texts() const {
    std::vector<std::string> texts;
    texts.reserve(reports.size());
    for (const auto& r : reports) {
        texts.push_back(r.text);
    }
    return texts;
}

std::vector<received_report> parse_fake_log(const std::string& log) {
    std::vector<received_report> reports;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        std::string device;
        received_report r;
        words >> word >> device >> r.at_ns;
        if (word != "write") {
            throw std::runtime_error("bad fake log line: " + line);
        }
        r.text = device + ":";
        while (words >> word) {
            if (word == "delivered") {
                break;
            }
            r.text += " " + word;
        }
        reports.push_back(r);
    }
    return reports;
}

tavoctl_run run_tavoctl_fake(const std::string& scenario, const std::vector<std::string>& args, bool one_pipe,
                             stdout_sink stdout_to, const environment_variables& env, unsigned closed) {
    return run_tavoctl_fake_together(scenario, {args}, one_pipe, stdout_to, env, closed).front();
}

namespace {

void wait_for_first_report(const std::string& log_path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (read_file(log_path).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// `base` with each run's scenario, log and environment filled in.
std::vector<tavoctl_run> run_fake(const std::string& scenario,
                                  const std::vector<std::vector<std::string>>& arg_lists,
                                  const process_request& base, const environment_variables& env) {
    const std::string scenario_dir = make_scratch_dir();
    const std::string scenario_path = scenario_dir + "/scenario";
    write_file(scenario_path, scenario);

    std::vector<running_process> started;
    for (const auto& args : arg_lists) {
        if (!started.empty()) {
            wait_for_first_report(started.back().scratch_dir + "/log");
        }
        const std::string dir = make_scratch_dir();
        write_file(dir + "/log", "");
        process_request request = base;
        request.program = TAVOCTL_FAKE;
        request.args = args;
        // Whatever locale the tests run in, the run's is the row's.
        request.env = {{"LC_ALL", ""}, {"LC_CTYPE", ""}, {"LANG", ""}};
        request.env.insert(request.env.end(), env.begin(), env.end());
        request.env.emplace_back("TAVO_FAKE_SCENARIO", scenario_path);
        request.env.emplace_back("TAVO_FAKE_LOG", dir + "/log");
        request.scratch_dir = dir;
        started.push_back(start_process(request));
    }

    std::vector<tavoctl_run> runs;
    std::error_code ignored;
    for (running_process& process : started) {
        const process_result p = finish_process(&process);
        tavoctl_run run;
        run.status = p.status;
        run.out = p.out;
        run.err = p.err;
        run.reports = parse_fake_log(read_file(process.scratch_dir + "/log"));
        runs.push_back(run);
        std::filesystem::remove_all(process.scratch_dir, ignored);
    }
    std::filesystem::remove_all(scenario_dir, ignored);
    return runs;
}

}  // namespace

std::vector<tavoctl_run> run_tavoctl_fake_together(const std::string& scenario,
                                                   const std::vector<std::vector<std::string>>& arg_lists,
                                                   bool one_pipe, stdout_sink stdout_to,
                                                   const environment_variables& env, unsigned closed) {
    process_request base;
    base.one_pipe = one_pipe;
    base.stdout_to = stdout_to;
    base.closed = closed;
    return run_fake(scenario, arg_lists, base, env);
}

tavoctl_run run_tavoctl_fake_on_console(const std::string& scenario, const std::vector<std::string>& args) {
    process_request base;
    base.console = true;
    return run_fake(scenario, {args}, base, {}).front();
}

std::string frame_text(int device, const std::vector<std::uint8_t>& bytes) {
    std::string text = std::to_string(device) + ":";
    for (const std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", unsigned{b});
        text += hex;
    }
    return text;
}

std::string command_report_text(int device, int output, std::uint16_t code) {
    return frame_text(device,
                      {0x00, static_cast<std::uint8_t>('0' + output), static_cast<std::uint8_t>(code >> 8),
                       static_cast<std::uint8_t>(code & 0xFF), 0x7a, 0x7a, 0x7a, 0x7a, 0x7a});
}

std::string native_lines(const std::string& text) {
#ifdef _WIN32
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    return crlf;
#else
    return text;
#endif
}

std::string expected_usage(const std::string& p) {
    return p +
           " syntax:\n"
           "[--controller <boxnum - 0 for 1st controller, 1 for second, ...>]\n"
           "[--box <boxnum - 0 for first box, 1 for second>]\n"
           "[--tavo] - tell --channel to send normal tavo codes\n"
           "[--tavo+] - tell --channel to send tavo+ codes\n"
           "[--setup] - send compiled in setup command to tavo-control\n"
           "[--debug] - print debug output\n"
           "--channel <x> Change to channel 'x' - sends 'Tavo', channel num, wait 2 secs, 'Backup'\n"
           "<cmd1> <cmd2> <cmd3> ...\n"
           "\n"
           "Examples:\n"
           "\n"
           "send channel 123 to tavo digibox on controller 0, output 0:\n" +
           p +
           " --controller 0 --box 0 0001 0002 0003\n"
           "\n"
           "send channel 356 to tavo+ on controller 0, output 1:\n" +
           p +
           " --controller 0 --box 1 0C03 0C05 0C06\n"
           "\n"
           "send complete sequence to change to channel 123 on a Tavo Box:\n" +
           p +
           " --tavo --channel 123\n"
           "\n"
           "send complete sequence to change to channel 123 on a Tavo+ Box:\n" +
           p +
           " --tavo+ --channel 123\n"
           "\n";
}
