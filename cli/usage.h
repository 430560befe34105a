#pragma once

// Prints the syntax and examples to stderr.
void usage(const char* program);
