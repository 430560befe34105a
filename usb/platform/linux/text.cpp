// Text for the user on Linux: the bytes as they are, and the character set
// the locale names.
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <string_view>

#include "platform.h"

// Unbuffered streams (see cli/streams.cpp) hand fwrite's text to one write.
bool platform_write_text(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

// A Linux console or an xterm in an 8-bit locale reads a byte of UTF-8 such
// as 9b as a C1 control. A locale that is not installed leaves the C library
// in the C locale, whose character set is ASCII: such a terminal is taken
// for one that cannot show UTF-8, as ls takes it.
text_charset platform_text_charset() {
    if (std::setlocale(LC_CTYPE, "") == nullptr) {
        return text_charset::ascii;
    }
    // The C library names UTF-8 so however the locale spells it (utf8, UTF8).
    const std::string_view codeset = nl_langinfo(CODESET);
    const text_charset charset = codeset == "UTF-8" ? text_charset::utf8 : text_charset::ascii;
    // Back to the locale every run has had: what sscanf takes for a code, for
    // one, must not depend on the user's locale. The C locale always exists.
    static_cast<void>(std::setlocale(LC_CTYPE, "C"));
    return charset;
}
