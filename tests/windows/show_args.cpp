// Prints each of its arguments as it received them, one line of hexadecimal
// bytes each, so that nothing in them can be mistaken on the way back.
#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::printf("[");
        for (const char* p = argv[i]; *p != '\0'; ++p) {
            std::printf("%02x", static_cast<unsigned>(static_cast<unsigned char>(*p)));
        }
        std::printf("]\n");
    }
    return 0;
}
