// What is said about each command: its result message, and its log line.
#pragma once

#include <string>

// Where an MQTT 5 client asked for a command's result besides the result
// topic: its Response Topic, and the Correlation Data to send back with it.
// Empty for an MQTT 3.1.1 client, or one that asked for no answer.
struct reply_address {
    std::string topic;
    std::string correlation_data;
};

// {"ok":true}, or {"ok":false,"error":ERROR}.
std::string result_payload(bool ok, const std::string& error);

// One line on standard error (journald): the topic, what went to the
// controller, and how it ended.
void log_command(const std::string& topic, const std::string& sent, bool ok, const std::string& error);

// Any other line of the service's own on standard error, in one write.
void log_line(const std::string& text);
