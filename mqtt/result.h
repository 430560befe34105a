// What is said about each command: its result message, and its log line.
#pragma once

#include <string>

// {"ok":true}, or {"ok":false,"error":ERROR}.
std::string result_payload(bool ok, const std::string& error);

// One line on standard error (journald): the topic, what went to the
// controller, and how it ended.
void log_command(const std::string& topic, const std::string& sent, bool ok, const std::string& error);

// Any other line of the service's own on standard error, in one write.
void log_line(const std::string& text);
