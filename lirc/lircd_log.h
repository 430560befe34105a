#pragma once

// Sends every line the controller library and the driver print to lircd's
// log, as errors: lircd's standard streams are not ours to write, and may be
// closed. (The driver creates its handles without debug traces, so all that
// the library prints is a failure.)
void send_library_lines_to_lircd_log();
