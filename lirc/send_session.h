// Keys through lircd, held the way a tavoctl run holds its output.
//
// lircd hands the driver one key at a time (irsend sends each key of a
// command line as a request of its own), and tells it when its last client
// has gone. A session is one client's keys to one output: the controller is
// found and the output held at the first key, and both are let go when the
// client has gone or has sent nothing for a while. A session for both
// outputs holds both, always output 0 first, so that two senders cannot
// each hold one and wait for the other. A tavoctl run for the
// same output waits for the whole session, and the session for a tavoctl
// run, so the keys of one irsend and those of one tavoctl run never mix.
// Finding the controller anew for each session is what makes a controller
// that was unplugged, or plugged in after lircd started, work again.
#pragma once

#include <chrono>
#include <cstdint>

#include "key_code.h"

// How long a session outlives its last key while a client stays connected
// (lircd keeps a session open as long as any client is): far longer than
// the round trip between two keys of one command line, short enough that a
// tavoctl run waiting for the output hardly notices.
inline constexpr std::chrono::milliseconds session_linger(1000);

// How long a key waits for an output that a tavoctl run holds. lircd serves
// all its clients from one thread, so every one of them waits as long: a
// little over one channel change with the default pause, far below the 30 s
// a tavoctl run waits.
inline constexpr std::chrono::milliseconds session_hold_wait(5000);

// Sends `code` to each of `outputs` (bit 0: output 0, bit 1: output 1) of
// the controller `device` names, output 0 first, in the session open for
// those outputs or a new one. Returns 0, or -1 after saying why on lircd's
// log; a failed session is closed, so that the next key
// looks for the controller anew.
int session_send(const device_choice& device, unsigned outputs, std::uint16_t code);

// Ends the open session, if any: the output is let go and the controller
// closed.
void session_end();
