#pragma once
// Shared helpers of the model tests: model definition files written into a temporary program
// directory.

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Writes lines with CR LF ends, as files made on Windows have them.
inline void WriteLines(const QString& path, const QStringList& lines)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    for (const QString& line : lines)
        file.write(line.toUtf8() + "\r\n");
}

// The example model: one option group and two display entries.
inline QStringList ExampleModel()
{
    return {"[S1]", "A000=Option A",        "A001=off",     "A002=on",
            "[S2]", "B000=Value X [V]:0,1", "B001=Value Y:"};
}

// A model file built from option groups (title and items) and display entries (texts after the
// key).
inline QStringList ModelLines(const QList<QStringList>& groups, const QStringList& display)
{
    QStringList lines;
    for (int g = 0; g < groups.size(); ++g) {
        lines << QStringLiteral("[G%1]").arg(g);
        for (int i = 0; i < groups[g].size(); ++i)
            lines << QStringLiteral("G%1%2=%3")
                         .arg(g)
                         .arg(i, 2, 10, QLatin1Char('0'))
                         .arg(groups[g][i]);
    }
    lines << QStringLiteral("[Display]");
    for (int k = 0; k < display.size(); ++k)
        lines << QStringLiteral("D%1=%2").arg(k, 3, 10, QLatin1Char('0')).arg(display[k]);
    return lines;
}
