#include "common/settings.h"

#include "common/errors.h"
#include "common/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

QStringList WorkingDirectories()
{
    return {QStringLiteral("Languages"),     QStringLiteral("Data"),
            QStringLiteral("Help"),          QStringLiteral("Regulators"),
            QStringLiteral("Regulators/CZ"), QStringLiteral("Regulators/EN"),
            QStringLiteral("Regulators/GE"), QStringLiteral("Regulators/Other")};
}

void CreateWorkingDirectories(const QString& programDir)
{
    for (const QString& name : WorkingDirectories()) {
        const QString path = programDir + name;
        if (QFileInfo(path).isDir())
            continue;
        // One level at a time: the parent was made just before.
        if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0)
            throw EKorvalinexError(QStringLiteral("Unable to create directory %1: %2")
                                       .arg(QDir::toNativeSeparators(path),
                                            QString::fromLocal8Bit(std::strerror(errno))));
    }
}

TUserSettings ReadUserSettings(const QString& programDir)
{
    TProfileFile file(programDir + kSetupFile);
    file.Load();     // an unreadable file reads like a missing one: the defaults apply
    TUserSettings s; // starts with the defaults
    s.com = file.ReadString(kSetupSection, QStringLiteral("COM"), s.com);
    s.language = file.ReadString(kSetupSection, QStringLiteral("LANGUAGE"), s.language);
    s.poles = file.ReadString(kSetupSection, QStringLiteral("POCETP"), s.poles);
    s.ratio = file.ReadString(kSetupSection, QStringLiteral("PREVOD"), s.ratio);
    s.device = file.ReadString(kSetupSection, QStringLiteral("DEVICE"), s.device);
    return s;
}

bool WriteClosingSettings(const QString& programDir, const TUserSettings& s, QString* path)
{
    TProfileFile file(programDir + kSetupFile);
    *path = QFileInfo(file.Path()).absoluteFilePath();
    // A file that exists but cannot be read must not be replaced by one holding only our keys.
    if (!file.Load())
        return false;
    bool changed = file.WriteString(kSetupSection, QStringLiteral("LANGUAGE"), s.language);
    changed = file.WriteString(kSetupSection, QStringLiteral("POCETP"), s.poles) || changed;
    changed = file.WriteString(kSetupSection, QStringLiteral("PREVOD"), s.ratio) || changed;
    // Values the file already holds need no write: a read-only folder then reports nothing.
    return !changed || file.Save();
}
