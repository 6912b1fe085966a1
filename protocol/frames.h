#pragma once
// The byte strings the PC sends to the regulator, the data frame that carries a payload in either
// direction, and the small value encodings of the parameter block.

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

// Uppercase hexadecimal, at least two digits ("0A", "FF", "100"). A negative value is shown as its
// 32-bit two's complement ("FFFFFFFF" for -1).
QString HexByte(int v);

// A text of 1 to 16 hexadecimal digits, either case, nothing else (no sign, no prefix, no blanks).
// Throws EConvertError for anything else and for values above the range of qint64.
qint64 HexToInt(const QString& text);

// A decimal number with "," or "." as its separator: the first "," (or, without one, the first
// ".") stands for the decimal separator of QLocale(). Blanks around the number are ignored; group
// separators are not accepted (they would make "1,000" mean a thousand in one locale and one in
// another). Infinite and NaN results are refused. Throws EConvertError
// "'<text>' is not a valid floating point value".
double TextToFloat(const QString& text);

// x * 10^d rounded to an integer (ties to the even neighbour), divided by 10^d.
double RoundDecimals(int d, double x);

// The shortest decimal text with up to 15 significant digits, without trailing zeros, with the
// decimal separator of QLocale(). Exponent form ("1E+20", "1E-5") only below 1e-4 and from 1e15.
QString FloatToText(double x);
