#pragma once
// How the port's settings become a termios record. Only the serial component and its tests
// include this: the termios macros (B600, CS8, ECHO, ...) stay out of the rest of the program.

#include "link/commconnect.h"

#include <termios.h>

struct TLineConfig {
    TBaudrate Baudrate = br9600;
    TParity Parity = paNone;
    TStopbits Stopbits = sb10;
    TDatabits Databits = da8;
    TFlowControl FlowControl = fcDefault;
    TCommOptions Options;
    char XonChar = 17;
    char XoffChar = 19;
};

struct TComposedLine {
    // 0, or the errno the line gives for a setting it cannot take.
    int Error = 0;
    // Non-zero: a rate without a B-constant, to be set through SetCustomLineSpeed afterwards.
    unsigned CustomSpeed = 0;
    // No handshake at all: DTR and RTS are to be lowered as well.
    bool LowerDtrRts = false;
};

// Turns t, as read from the driver, into a raw 8-bit-clean line with the given settings.
TComposedLine ComposeTermios(const TLineConfig& config, termios& t);
