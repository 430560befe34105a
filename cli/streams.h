#pragma once

// Sets up standard output and standard error before anything is printed.
void set_up_streams();
