// What a device says about itself, made safe to print. Any device can claim
// to be a controller and choose its own strings: a control character or a
// bidirectional override in them would act on the terminal showing them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// What the terminal takes. In an 8-bit character set a byte of UTF-8 can be a
// C1 control (U+011B is c4 9b, and 9b is CSI), so only ASCII goes there.
enum class text_charset { utf8, ascii };

// UTF-16 up to its terminator (or the end of the buffer) as UTF-8. Every
// control character (C0, DEL, C1) and every bidirectional embedding, override,
// isolate or mark becomes `replacement`; a lone surrogate becomes U+FFFD.
// Printable ASCII passes unchanged. In `ascii`, every other character
// becomes '?' as well, one for each character.
std::string device_text(std::span<const std::uint16_t> units, char replacement, text_charset charset);

// The same in the character set the program's output is set up for (UTF-8
// until told otherwise).
std::string device_text(std::span<const std::uint16_t> units, char replacement);
void set_device_text_charset(text_charset charset);
