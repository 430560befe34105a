#include "usage.h"

#include <string>

#include "streams.h"

namespace {

std::string usage_text(const std::string& program) {
    return program +
           " syntax:\n"
           "[--controller <boxnum - 0 for 1st controller, 1 for second, ...>]\n"
           "[--box <boxnum - 0 for first box, 1 for second>]\n"
           "[--tavo] - tell --channel to send normal tavo codes\n"
           "[--tavo+] - tell --channel to send tavo+ codes\n"
           "[--setup] - send compiled in setup command to tavo-control\n"
           "[--debug] - print debug output\n"
           "--channel <x> Change to channel 'x' - sends 'Tavo', channel num, wait 2 secs, "
           "'Backup'\n"
           "<cmd1> <cmd2> <cmd3> ...\n"
           "\n"
           "Examples:\n"
           "\n"
           "send channel 123 to tavo digibox on controller 0, output 0:\n" +
           program +
           " --controller 0 --box 0 0001 0002 0003\n"
           "\n"
           "send channel 356 to tavo+ on controller 0, output 1:\n" +
           program +
           " --controller 0 --box 1 0C03 0C05 0C06\n"
           "\n"
           "send complete sequence to change to channel 123 on a Tavo Box:\n" +
           program +
           " --tavo --channel 123\n"
           "\n"
           "send complete sequence to change to channel 123 on a Tavo+ Box:\n" +
           program +
           " --tavo+ --channel 123\n"
           "\n";
}

}  // namespace

// Each text leaves in one write, so that no line of it is torn.
void usage(const char* program) {
    print_text(tavo_usb_stream::err, usage_text(program));
}

void help(const char* program) {
    print_text(
        tavo_usb_stream::out,
        usage_text(program) +
            "Other options:\n"
            "\n"
            "[--path <device - the controller at this device path, instead of --controller>]\n"
            "[--gap <ms - 0 to 60000, default 0>] - wait after each key or code before the next; "
            "a box that drops digits: try --gap 300\n"
            "[--pause <ms - 0 to 60000, default 2000>] - wait between the last digit and 'Backup'; "
            "a box that misses the channel: try --pause 3000\n"
            "[--list] - list the controllers: number, device path, USB port, manufacturer, product, serial\n"
            "[--help] - print this text\n"
            "[--version] - print the version\n");
}

void version() {
    print_line("tavoctl %s\n", TAVOCTL_VERSION);
}
