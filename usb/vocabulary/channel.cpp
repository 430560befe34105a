#include "vocabulary/channel.h"

#include <algorithm>

bool valid_channel_text(std::string_view channel_text) {
    return std::all_of(channel_text.begin(), channel_text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
