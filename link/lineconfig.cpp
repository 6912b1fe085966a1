#include "link/lineconfig.h"

#include <cerrno>

namespace {

speed_t SpeedConstant(TBaudrate rate)
{
    switch (rate) {
    case br110:
        return B110;
    case br300:
        return B300;
    case br600:
        return B600;
    case br1200:
        return B1200;
    case br2400:
        return B2400;
    case br4800:
        return B4800;
    case br9600:
        return B9600;
    case br19200:
        return B19200;
    case br38400:
        return B38400;
    case br57600:
        return B57600;
    case br115200:
        return B115200;
    default:
        return B0;
    }
}

// CS5 is 0, so the answer comes with its own validity flag.
bool SizeFlag(TDatabits bits, tcflag_t& flag)
{
    switch (bits) {
    case da5:
        flag = CS5;
        return true;
    case da6:
        flag = CS6;
        return true;
    case da7:
        flag = CS7;
        return true;
    case da8:
        flag = CS8;
        return true;
    default:
        return false;
    }
}

} // namespace

TComposedLine ComposeTermios(const TLineConfig& config, termios& t)
{
    TComposedLine result;

    // Raw line: every byte 00..FF passes unchanged, nothing is echoed, no signals, no line
    // editing. The terminal's default IXON would swallow 11 and 13 inside binary replies, so
    // software handshake is on only when asked for, even with fcDefault.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL |
                   IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN | XCASE);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    tcflag_t size = 0;
    if (!SizeFlag(config.databits, size))
        result.error = EINVAL; // 4-bit words: no UART driver here takes them
    else
        t.c_cflag = (t.c_cflag & ~CSIZE) | size;

    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (config.parity) {
    case paNone:
        break;
    case paOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        t.c_cflag |= PARENB;
        break;
    case paMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case paSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        result.error = EINVAL;
        break;
    }

    if (config.stopbits == sb10)
        t.c_cflag &= ~CSTOPB;
    else
        t.c_cflag |= CSTOPB;

    switch (config.flowControl) {
    case fcNone:
        t.c_cflag &= ~CRTSCTS;
        result.lowerDtrRts = true;
        break;
    case fcCTS:
    // There is no DSR/DTR handshake in termios; RTS/CTS is the hardware handshake on offer.
    case fcDTR:
        t.c_cflag |= CRTSCTS;
        break;
    case fcSoftware:
        t.c_iflag |= IXON | IXOFF;
        break;
    case fcDefault:
        break;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(config.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(config.xoffChar);

    // The other options (DSR sensitivity, continue on XOFF, error character, null stripping)
    // have no termios counterpart; they stay stored in the component only.
    if (config.options.Contains(coParityCheck))
        t.c_iflag |= INPCK;

    const speed_t speed = SpeedConstant(config.baudrate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    } else {
        result.customSpeed = static_cast<unsigned>(BaudrateValue(config.baudrate));
    }
    return result;
}
