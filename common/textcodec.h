#pragma once
// Text files of the program: read as UTF-8 when the bytes are valid UTF-8, else line by line, each
// line as UTF-8 when it is valid UTF-8 and as Windows-1250 (the code page of files made on Czech
// Windows) when not, so a file edited with two editors reads right; written in Windows-1250 so they
// stay exchangeable, or in UTF-8 when a character has no Windows-1250 form (nothing the user typed
// is lost) or a line would read back as other text.

#include <QByteArray>
#include <QString>

QString DecodeText(const QByteArray& bytes);
// Single-byte text as the regulator and old files send it, whatever it happens to look like.
QString DecodeWindows1250(const QByteArray& bytes);
QByteArray EncodeText(const QString& text);
// True when every character of text has a Windows-1250 form.
bool FitsWindows1250(const QString& text);
