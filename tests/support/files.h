#pragma once
// Small file helpers for tests, and readable failure output for Qt texts.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <ostream>

// Failures show texts as text, not as arrays of UTF-16 units.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << "bytes " << b.toHex(' ').toUpper().toStdString();
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '[' << l.join(QStringLiteral(" | ")).toStdString() << ']';
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// A file of `size` bytes that begins with `head`; the rest is a hole, so a huge file costs the
// test no disk space and no time.
inline void WriteSparse(const QString& path, const QByteArray& head, qint64 size)
{
    WriteBytes(path, head);
    ASSERT_TRUE(QFile::resize(path, size));
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
