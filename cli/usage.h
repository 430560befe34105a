#pragma once

// Prints the syntax and examples to stderr.
void usage(const char* program);

// The same text on stdout, then the options it leaves out.
void help(const char* program);

// One line: the program's name and version.
void version();
