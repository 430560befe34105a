// tavoctl-mqtt: sends what an MQTT broker's clients ask for to the Tavo
// controllers plugged in, and tells Home Assistant about them.
#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "config.h"
#include "forget.h"
#include "library_lines.h"
#include "platform.h"
#include "result.h"
#include "service.h"

namespace {

const char* const usage_text = "usage: %s [--config FILE] [--forget ID]\n";

const struct option long_options[] = {
    {"config", required_argument, nullptr, 'f'},
    {"forget", required_argument, nullptr, 'F'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};

// The signals that end the service are taken by sigwait alone: every thread
// started after this inherits the mask, so none is interrupted in a pause.
bool block_ending_signals(sigset_t* ending) {
    sigemptyset(ending);
    sigaddset(ending, SIGTERM);
    sigaddset(ending, SIGINT);
    sigaddset(ending, SIGHUP);
    // A broker that goes away mid-write must not end the process.
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR && pthread_sigmask(SIG_BLOCK, ending, nullptr) == 0;
}

int run(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "tavoctl-mqtt";
    std::string config_path = default_config_path;
    const char* forget_id = nullptr;
    for (;;) {
        const int option = getopt_long(argc, argv, "+", long_options, nullptr);
        if (option == -1) {
            break;
        }
        switch (option) {
            case 'f':
                config_path = optarg;
                break;
            case 'F':
                forget_id = optarg;
                break;
            case 'h':
                std::printf(usage_text, program);
                return 0;
            case 'v':
                std::printf("tavoctl-mqtt %s\n", TAVOCTL_VERSION);
                return 0;
            default:
                std::fprintf(stderr, usage_text, program);
                return 1;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, usage_text, program);
        return 1;
    }
    service_config config;
    std::string error;
    std::vector<std::string> warnings;
    if (read_config(config_path, &config, &error, &warnings) != 0) {
        log_line("tavoctl-mqtt: " + error);
        return 1;
    }
    for (const std::string& warning : warnings) {
        log_line("tavoctl-mqtt: " + warning);
    }
    if (forget_id != nullptr) {
        return forget_controller(config, forget_id);
    }
    sigset_t ending;
    if (!block_ending_signals(&ending)) {
        log_line(std::string("tavoctl-mqtt: cannot take the signals that end it: ") + std::strerror(errno));
        return 1;
    }
    if (tavo_usb_initalise() != 0) {
        log_line("tavo_usb_initalise failed");
        return 1;
    }
    mqtt_service service(config);
    if (service.start(&error) != 0) {
        log_line("tavoctl-mqtt: " + error);
        service.stop();
        return 1;
    }
    int signal = 0;
    while (sigwait(&ending, &signal) != 0) {
    }
    log_line(std::string("tavoctl-mqtt: ") + strsignal(signal) + ": finishing the commands under way");
    service.stop();
    tavo_usb_finalise();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!platform_reserve_standard_descriptors()) {
        std::perror("tavoctl-mqtt: unable to open /dev/null in place of a closed standard stream");
        return 1;
    }
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        log_line("tavoctl-mqtt: out of memory");
        return 1;
    }
}
