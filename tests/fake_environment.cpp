// Linked only into the tavoctl build that runs on the fake: loads the devices
// from the scenario file named by TAVO_FAKE_SCENARIO before main() runs, with
// the hold's wait where the scenario shortens it, and logs every write to
// TAVO_FAKE_LOG.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fake_hid.h"
#include "tavo_usb.h"

namespace {

struct scenario_loader {
    scenario_loader() {
        std::vector<fake_device> devices;
        std::chrono::milliseconds hold_wait = tavo_hold_wait_bound;
        if (const char* path = std::getenv("TAVO_FAKE_SCENARIO")) {
            std::ifstream file(path);
            if (!file) {
                std::fprintf(stderr, "fake: cannot read scenario %s\n", path);
                std::exit(99);
            }
            std::stringstream text;
            text << file.rdbuf();
            std::string error;
            if (!fake_hid_parse_scenario(text.str(), &devices, &error, &hold_wait)) {
                std::fprintf(stderr, "fake: %s: %s\n", path, error.c_str());
                std::exit(99);
            }
        }
        fake_hid_reset(std::move(devices));
        fake_hid_set_hold_wait(hold_wait);
        if (const char* path = std::getenv("TAVO_FAKE_LOG")) {
            fake_hid_log_to(path);
        }
    }
    scenario_loader(const scenario_loader&) = delete;
    scenario_loader& operator=(const scenario_loader&) = delete;
};

const scenario_loader loader;

}  // namespace
