#include "send_session.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "lircd_log.h"
#include "tavo_usb.h"

namespace {

// Passed through to the handle, as tavoctl does.
constexpr int handle_creation_param = 1000;

using steady_clock = std::chrono::steady_clock;

// The session, and the thread that ends it once it has been quiet for
// session_linger: lircd calls the driver only when a client asks for
// something, so nothing else would let go of an output that a connected
// client no longer uses.
struct session_state {
    std::mutex lock;
    std::condition_variable changed;
    tavo_usb_handle* handle = nullptr;  // the controller, its outputs held; none between sessions
    unsigned outputs = 0;
    steady_clock::time_point ends_at;
    bool library_ready = false;
    bool closing_down = false;
    std::thread ender;

    session_state() = default;
    session_state(const session_state&) = delete;
    session_state& operator=(const session_state&) = delete;
    // lircd ends by exit(): the thread is told to stop and joined before
    // anything it uses goes away.
    ~session_state() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            closing_down = true;
            close_locked();
        }
        changed.notify_all();
        if (ender.joinable()) {
            ender.join();
        }
    }

    void close_locked() {
        // Closing the write channel lets go of the output with it.
        tavo_usb_free(handle);
        handle = nullptr;
        outputs = 0;
    }

    void end_quiet_sessions() {
        std::unique_lock<std::mutex> guard(lock);
        while (!closing_down) {
            if (handle == nullptr) {
                changed.wait(guard);
            } else if (steady_clock::now() >= ends_at) {
                close_locked();
            } else {
                changed.wait_until(guard, ends_at);
            }
        }
    }

    // The thread takes no signal: lircd's handlers expect to interrupt its
    // own wait, and a signal delivered here would not.
    bool start_ender() {
        if (ender.joinable()) {
            return true;
        }
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        if (pthread_sigmask(SIG_SETMASK, &all, &previous) != 0) {
            return false;
        }
        bool started = true;
        try {
            ender = std::thread([this] { end_quiet_sessions(); });
        } catch (const std::system_error&) {
            started = false;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return started;
    }

    // Opens the controller and holds `new_outputs`, as a tavoctl run holds
    // its output, waiting at most session_hold_wait for all of them.
    bool open_locked(const device_choice& device, unsigned new_outputs) {
        if (!library_ready) {
            if (tavo_usb_initalise() != 0) {
                driver_error("tavo_usb_initalise failed\n");
                return false;
            }
            library_ready = true;
        }
        handle = tavo_usb_create(0, handle_creation_param);
        if (handle == nullptr) {
            if (device.by_number) {
                driver_error("unable to create tavo controller handle %d\n", device.number);
            } else {
                driver_error("unable to create tavo controller handle for '%s'\n", device.path.c_str());
            }
            return false;
        }
        tavo_usb_setlines(handle, lircd_log());
        if (device.by_number) {
            if (tavo_usb_finddevice(handle, device.number) != 0) {
                driver_error("unable to find tavo controller number %d\n", device.number);
                close_locked();
                return false;
            }
        } else if (tavo_usb_opendevice(handle, device.path.c_str()) != 0) {
            driver_error("unable to open tavo controller at '%s'\n", device.path.c_str());
            close_locked();
            return false;
        }
        const steady_clock::time_point give_up = steady_clock::now() + session_hold_wait;
        for (int output = 0; output < controller_transmitters; ++output) {
            if ((new_outputs & (1U << output)) == 0) {
                continue;
            }
            // Rounded up: the first output waits the whole bound, and says so.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(give_up - steady_clock::now());
            if (tavo_usb_holdoutput(handle, output, std::max(left, std::chrono::milliseconds(0))) != 0) {
                close_locked();
                return false;
            }
        }
        outputs = new_outputs;
        return true;
    }
};

session_state state;

}  // namespace

int session_send(const device_choice& device, unsigned outputs, std::uint16_t code) {
    {
        const std::lock_guard<std::mutex> guard(state.lock);
        if (state.handle != nullptr && state.outputs != outputs) {
            state.close_locked();
        }
        if (!state.start_ender()) {
            driver_error("tavo: no thread to end sessions with: keys are not sent\n");
            return -1;
        }
        if (state.handle == nullptr && !state.open_locked(device, outputs)) {
            return -1;
        }
        for (int output = 0; output < controller_transmitters; ++output) {
            if ((outputs & (1U << output)) != 0 && tavo_usb_sendcommand(state.handle, output, code) != 0) {
                driver_error("tavo_usb_sendcommand failed: %s\n", std::strerror(errno));
                state.close_locked();
                return -1;
            }
        }
        state.ends_at = steady_clock::now() + session_linger;
    }
    state.changed.notify_all();
    return 0;
}

void session_end() {
    {
        const std::lock_guard<std::mutex> guard(state.lock);
        state.close_locked();
    }
    state.changed.notify_all();
}
