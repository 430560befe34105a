// The benchmark's yardstick: the least a program can do to send command
// reports to a controller whose /dev/hidrawN is already known. Opens it
// write-only and writes each code as the same 9-byte frame tavoctl sends.
//
// usage: plain_writer DEVICE OUTPUT CODE...
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s DEVICE OUTPUT CODE...\n", argv[0]);
        return 2;
    }
    const int fd = ::open(argv[1], O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto kind = static_cast<unsigned char>('0' + std::atoi(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const unsigned long code = std::strtoul(argv[i], nullptr, 16);
        const unsigned char frame[9] = {0,
                                        kind,
                                        static_cast<unsigned char>(code >> 8U),
                                        static_cast<unsigned char>(code & 0xFFU),
                                        0x7A,
                                        0x7A,
                                        0x7A,
                                        0x7A,
                                        0x7A};
        if (::write(fd, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) {
            std::perror("write");
            return 1;
        }
    }
    ::close(fd);
    return 0;
}
