#pragma once
// The byte strings the PC sends to the regulator and the data frame that carries a payload in
// either direction. The value encodings of the block are in common/numbers.h.

#include <QByteArray>
#include <QString>

// Single bytes with a meaning of their own on the line.
inline constexpr unsigned char kFrameStart = 0xFE;  // opens a data frame
inline constexpr unsigned char kPresenceAck = 0xFA; // answer to the presence query
inline constexpr unsigned char kWriteAck = 0xFB;    // write frame taken
inline constexpr unsigned char kWriteEnd = 0xFC;    // write end byte
inline constexpr unsigned char kWakeUpByte = 0x55;  // "U"

inline constexpr int kWakeUpLength = 10;
// A frame is start byte, length byte, payload and check byte.
inline constexpr int kFrameOverhead = 3;
inline constexpr int kMaxPayload = 255;

// The fixed requests. None of them carries a check byte.
QByteArray WakeUpPattern();    // 55 x10 ("UUUUUUUUUU")
QByteArray ReadRequest();      // FC 01 02
QByteArray PresenceQuery();    // FC 01 03
QByteArray DefaultRequest();   // FC 01 05
QByteArray LogStartRequest();  // F9 01 01
QByteArray LogNextRequest();   // F9 01 02
QByteArray LogRepeatRequest(); // F9 01 03

// XOR of every byte of bytes.
unsigned char XorCheck(const QByteArray& bytes);

// FE, length, payload, XOR of all bytes before the check byte. Throws EKorvalinexError for a
// payload longer than 255 bytes: its length would not fit the length byte.
QByteArray BuildDataFrame(const QByteArray& payload);
