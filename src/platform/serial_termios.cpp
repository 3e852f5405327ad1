#include "platform/serial_port.h"

#include <cstdio>
#include <termios.h>

namespace platform {

int serialSetParity(int fd, int dataBits, char parity, int stopBits)
{
    termios options{};
    if (tcgetattr(fd, &options) != 0) {
        perror("SetupSerial Error 1");
        return -1;
    }
    options.c_oflag &= ~OPOST;
    options.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG);
    options.c_iflag &= ~(ICRNL | IXON | IXOFF | IXANY | INLCR | IGNCR);
    options.c_cflag |= CLOCAL | CREAD;
    options.c_cflag &= ~CSIZE;
    switch (dataBits) {
    case 7: options.c_cflag |= CS7; break;
    case 8: options.c_cflag |= CS8; break;
    default:
        fprintf(stderr, "Unsupported data size\n");
        return -1;
    }
    switch (parity) {
    case 'n': case 'N':
        options.c_cflag &= ~PARENB;
        options.c_iflag &= ~INPCK;
        break;
    case 'e': case 'E':
        options.c_cflag |= PARENB;
        options.c_cflag &= ~PARODD;
        options.c_iflag |= INPCK | ISTRIP;
        break;
    case 'o': case 'O':
        options.c_cflag |= PARENB | PARODD;
        options.c_iflag |= INPCK | ISTRIP;
        break;
    case 's': case 'S':
        options.c_cflag &= ~(PARENB | CSTOPB);
        options.c_iflag |= INPCK;
        break;
    default:
        fprintf(stderr, "Unsupported parity\n");
        return -1;
    }
    switch (stopBits) {
    case 1: options.c_cflag &= ~CSTOPB; break;
    case 2: options.c_cflag |= CSTOPB; break;
    default:
        fprintf(stderr, "Unsupported stop bits\n");
        return -1;
    }
    options.c_cc[VMIN] = 1;
    options.c_cc[VTIME] = 1;
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &options) != 0) {
        perror("SetupSerial Error 3");
        return -1;
    }
    return 0;
}

int serialSetSpeed(int fd, int baud)
{
    static const struct {
        int baud;
        speed_t code;
    } kSpeeds[] = {{115200, B115200}, {57600, B57600}, {38400, B38400}, {19200, B19200}, {9600, B9600},
                   {4800, B4800}, {2400, B2400}, {1200, B1200}, {300, B300}};
    termios options{};
    if (tcgetattr(fd, &options) != 0) {
        perror("UartSetSpeed Error 1");
        return -1;
    }
    for (const auto& s : kSpeeds) {
        if (s.baud != baud)
            continue;
        tcflush(fd, TCIOFLUSH);
        cfsetispeed(&options, s.code);
        cfsetospeed(&options, s.code);
        return tcsetattr(fd, TCSANOW, &options) == 0 ? 0 : -1;
    }
    return -1;
}

}
