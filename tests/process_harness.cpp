#include "process_harness.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "run_process.h"

std::vector<std::string> tavoctl_run::report_texts() const {
    std::vector<std::string> texts;
    texts.reserve(reports.size());
    for (const auto& r : reports) {
        texts.push_back(r.text);
    }
    return texts;
}

namespace {

std::vector<received_report> parse_log(const std::string& log) {
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

}  // namespace

tavoctl_run run_tavoctl_fake(const std::string& scenario, const std::vector<std::string>& args,
                             bool one_pipe) {
    const std::string dir = make_scratch_dir();
    const std::string scenario_path = dir + "/scenario";
    const std::string log_path = dir + "/log";
    write_file(scenario_path, scenario);
    write_file(log_path, "");

    process_request request;
    request.program = TAVOCTL_FAKE;
    request.args = args;
    request.env = {{"TAVO_FAKE_SCENARIO", scenario_path}, {"TAVO_FAKE_LOG", log_path}};
    request.scratch_dir = dir;
    request.one_pipe = one_pipe;
    const process_result p = run_process(request);

    tavoctl_run run;
    run.status = p.status;
    run.out = p.out;
    run.err = p.err;
    run.reports = parse_log(read_file(log_path));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return run;
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
