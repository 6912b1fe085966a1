#pragma once
// Line speeds that have no B-constant (14400, 56000, ...) go through the kernel's termios2 record,
// whose header cannot share a translation unit with <termios.h>; hence this small corner.

// Sets input and output speed to rate bits per second; false with errno set when refused.
bool SetCustomLineSpeed(int fd, unsigned rate);
// The output speed the driver reports in bits per second, for B-constants and custom rates alike.
bool GetLineSpeed(int fd, unsigned& rate);
