#pragma once
// Number and text conversions shared by the protocol, the model files, the window and the
// command-line tool: hexadecimal bytes and decimal values as the regulator's files and fields hold
// them.

#include <QString>
#include <QtGlobal>

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
