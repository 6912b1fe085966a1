#pragma once
// How the port's settings become a termios record. Only the serial component and its tests
// include this: the termios macros (B600, CS8, ECHO, ...) stay out of the rest of the program.

#include "link/commconnect.h"

#include <termios.h>

struct TComposedLine {
    // 0, or the errno the line gives for a setting it cannot take.
    int error = 0;
    // Non-zero: a rate without a B-constant, to be set through SetCustomLineSpeed afterwards.
    unsigned customSpeed = 0;
    // No handshake at all: DTR and RTS are to be lowered as well.
    bool lowerDtrRts = false;
};

// Turns t, as read from the driver, into a raw 8-bit-clean line with the given settings.
TComposedLine ComposeTermios(const TLineConfig& config, termios& t);
