#include "locale_charset.h"

#ifndef _WIN32
#include <langinfo.h>

#include <clocale>
#include <string_view>
#endif

#include "device_text.h"

namespace {

#ifndef _WIN32
// The character set the terminal takes, as far as the locale tells: a
// Linux console or an xterm in an 8-bit locale reads a byte of UTF-8 such as
// 9b as a C1 control. A locale that is not installed leaves the C library in
// the C locale, whose character set is ASCII: such a terminal is taken for
// one that cannot show UTF-8, as ls takes it.
text_charset locale_charset() {
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
#endif

}  // namespace

void set_up_device_text_charset() {
#ifdef _WIN32
    // No locale there names the console's character set: UTF-8, as ever.
    set_device_text_charset(text_charset::utf8);
#else
    set_device_text_charset(locale_charset());
#endif
}
