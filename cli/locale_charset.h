#pragma once

// Makes device text fit the character set of the user's locale, as LC_ALL,
// LC_CTYPE and LANG name it: UTF-8 where the locale's is UTF-8, ASCII
// anywhere else. The program's own locale stays "C".
void set_up_device_text_charset();
