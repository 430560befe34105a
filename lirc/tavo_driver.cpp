// The lircd driver "tavo": lircd's clients (irsend, lirc_client programs,
// lircd's TCP port) send keys through the controller. lircd loads this
// shared object from its plugin directory and finds the driver in
// hardwares[].
//
// The controller takes codes, not pulses: the driver is a LIRCCODE
// transmitter whose remotes name 16-bit codes, and whose two transmitters
// are the controller's outputs. Everything it would print goes to lircd's
// log, and nothing in it ends lircd: a failure is an error answer to the
// client that asked.
#include <lirc_driver.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "key_code.h"
#include "lircd_log.h"
#include "send_session.h"

namespace {

// The device lircd was given, kept from open to the end: lircd opens the
// driver once and initialises it for each client.
device_choice chosen_device;
// Set by SET_TRANSMITTERS, for every client until lircd ends: output 0
// unless a client chose otherwise, one bit per output.
unsigned chosen_outputs = 1;

int tavo_open(const char* device) {
    chosen_device = read_device_choice(device);
    return default_open(device);
}

int tavo_init() {
    return 1;  // the controller is looked for at the first key of each client
}

// lircd's last client has gone.
int tavo_deinit() {
    session_end();
    return 1;
}

int tavo_close() {
    session_end();
    return 0;
}

int tavo_send(struct ir_remote* remote, struct ir_ncode* key) {
    if (remote == nullptr || key == nullptr) {
        return 0;
    }
    const remote_key spelled{remote->pre_data, remote->pre_data_bits, key->code,
                             remote->bits,     remote->post_data,     remote->post_data_bits};
    std::uint16_t code = 0;
    if (!controller_code(spelled, &code)) {
        driver_error("Invalid command code: '%s' (0x%llx in remote '%s'): the controller takes 16 bits\n",
                     key->name != nullptr ? key->name : "", static_cast<unsigned long long>(key->code),
                     remote->name != nullptr ? remote->name : "");
        return 0;
    }
    return session_send(chosen_device, chosen_outputs, code) == 0 ? 1 : 0;
}

// lircd reads a positive result as the number of transmitters there are
// (the kernel's convention for this request), and a negative one as a mask
// it could not set: never an error code such as DRV_ERR_BAD_VALUE here.
int set_transmitters(const void* arg) {
    if (arg == nullptr) {
        return -1;
    }
    const std::uint32_t mask = *static_cast<const std::uint32_t*>(arg);
    const unsigned outputs = outputs_of_mask(mask);
    if (outputs == 0) {
        driver_error("tavo: no transmitter mask %u: transmitter 1 is output 0, transmitter 2 output 1\n",
                     static_cast<unsigned>(mask));
        return mask == 0 ? -1 : controller_transmitters;
    }
    if (outputs != chosen_outputs) {
        session_end();  // the hold is the other outputs'
        chosen_outputs = outputs;
    }
    return 0;
}

int tavo_drvctl(unsigned int command, void* arg) {
    switch (command) {
        case LIRC_SET_TRANSMITTER_MASK:
            return set_transmitters(arg);
        case DRVCTL_SET_OPTION: {
            if (arg == nullptr) {
                return DRV_ERR_BAD_VALUE;
            }
            const auto* option = static_cast<const option_t*>(arg);
            driver_error("tavo: no driver option '%s'\n",
                         printable_field(option->key, sizeof option->key).c_str());
            return DRV_ERR_BAD_OPTION;
        }
        default:
            return DRV_ERR_NOT_IMPLEMENTED;
    }
}

// lircd is C: nothing may leave the driver's functions by an exception, and
// the only one they can meet is memory running out.
template <auto function, auto failure, typename... Args>
auto guarded(Args... args) noexcept {
    try {
        return function(args...);
    } catch (...) {
        driver_error("tavo: out of memory\n");
        return failure;
    }
}

const struct driver tavo_driver = {
    .device = "auto",
    .fd = -1,
    .features = LIRC_CAN_SEND_LIRCCODE | LIRC_CAN_SET_TRANSMITTER_MASK,
    .send_mode = LIRC_MODE_LIRCCODE,
    .rec_mode = 0,
    .code_length = 16,
    .open_func = guarded<tavo_open, ENOMEM, const char*>,
    .init_func = tavo_init,
    .deinit_func = guarded<tavo_deinit, 0>,
    .send_func = guarded<tavo_send, 0, struct ir_remote*, struct ir_ncode*>,
    .rec_func = nullptr,
    .decode_func = nullptr,
    .drvctl_func = guarded<tavo_drvctl, DRV_ERR_INTERNAL, unsigned int, void*>,
    .readdata = nullptr,
    .name = "tavo",
    .resolution = 0,
    .api_version = 3,
    .driver_version = TAVOCTL_VERSION,
    .info =
        "Tavo USB controller (6666:f100): sends 16-bit codes to the set-top boxes on its two outputs "
        "(transmitter 1: output 0, transmitter 2: output 1). See tavoctl(1).",
    .close_func = guarded<tavo_close, 0>,
    .device_hint = "/dev/tavo/by-path/*",
};

}  // namespace

const struct driver* hardwares[] = {&tavo_driver, nullptr};
