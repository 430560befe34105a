// What a device says about itself, made safe to print. Any device can claim
// to be a controller and choose its own strings: a control character or a
// bidirectional override in them would act on the terminal showing them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform.h"

// UTF-16 up to its terminator (or the end of the buffer) as UTF-8. Every
// control character (C0, DEL, C1) and every bidirectional embedding, override,
// isolate or mark becomes `replacement`; a lone surrogate becomes U+FFFD.
// Printable ASCII passes unchanged. In `ascii`, every other character
// becomes '?' as well, one for each character (see text_charset).
std::string device_text(std::span<const std::uint16_t> units, char replacement, text_charset charset);
