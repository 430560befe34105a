#pragma once

// Sets up standard output and standard error before anything is printed,
// and the one line that ends a run whose standard output could not be
// written, however the run ends.
void set_up_streams();

// The status for a run that would end with `status`: 1 once a write to
// standard output has failed, since output that went nowhere is not done.
int run_status(int status);
