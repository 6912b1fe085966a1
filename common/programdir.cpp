#include "common/programdir.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "common/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <unistd.h>

namespace {

QString WithSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

// Folders that hold the system's programs: nothing of ours belongs there, even when the user
// (root) could write them.
bool IsSystemProgramFolder(const QString& dir)
{
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    for (const char* system : {"/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/sbin",
                               "/usr/local/sbin", "/usr/games"})
        if (canonical == QLatin1String(system))
            return true;
    return false;
}

// What a portable copy ships beside its executable, and so what its demo folder is filled from: the
// rest of that folder is the user's own (settings, parameter files, backups) or the programs.
const QStringList kPortableData = {QStringLiteral("Regulators"), QStringLiteral("Languages"),
                                   QStringLiteral("Help"), QStringLiteral("Teplota1.txt"),
                                   QStringLiteral("Teplota2.txt")};

} // namespace

bool FolderIsWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString PerUserProgramFolder(const QString& xdgDataHome, const QString& home)
{
    // A relative value is invalid and must be ignored.
    const QString base = QDir::isAbsolutePath(xdgDataHome)
                             ? xdgDataHome
                             : WithSlash(home) + QStringLiteral(".local/share");
    return WithSlash(QDir::cleanPath(base + QStringLiteral("/korvalinex")));
}

TProgramFolder ChooseProgramFolder(const QString& exeDir, const QString& xdgDataHome,
                                   const QString& home, const TWritableProbe& writable,
                                   TFolderUse use)
{
    TProgramFolder folder;
    if (writable(exeDir) && !IsSystemProgramFolder(exeDir)) {
        folder.path = WithSlash(exeDir);
    } else {
        folder.perUser = true;
        folder.path = PerUserProgramFolder(xdgDataHome, home);
        folder.shippedData =
            WithSlash(QDir::cleanPath(WithSlash(exeDir) + QStringLiteral("../share/korvalinex")));
    }
    if (use == TFolderUse::Demo) {
        if (!folder.perUser) {
            folder.shippedData = folder.path;
            folder.shippedEntries = kPortableData;
        }
        folder.path += QStringLiteral("Demo/");
        folder.setupDefaults = QByteArrayLiteral("[SETUP]\r\nDEVICE=USB\r\n");
    }
    return folder;
}

QStringList SeedProgramFolder(const QString& from, const QString& to, const QStringList& only)
{
    QStringList failures;
    const QDir source(from);
    if (!source.exists())
        return failures;
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString relative = source.relativeFilePath(src);
        if (!only.isEmpty() && !only.contains(relative.section(QLatin1Char('/'), 0, 0)))
            continue;
        const QString target = WithSlash(to) + relative;
        // Only missing files: a file the user has (or has changed) is theirs.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        const TFileRead in = ReadFileWithLimit(src, kShippedFileMaxBytes);
        if (!in.Ok()) {
            failures << src + QStringLiteral(": ") + in.Reason();
            continue;
        }
        const QByteArray& content = in.bytes;
        QString error;
        if (!QDir().mkpath(QFileInfo(target).path()))
            failures << target + QStringLiteral(": unable to create its folder");
        else if (!WriteFileAtomically(target, content, &error))
            failures << target + QStringLiteral(": ") + error;
    }
    return failures;
}

TProgramFolder PrepareProgramFolder(TFolderUse use)
{
    TProgramFolder folder = ChooseProgramFolder(QCoreApplication::applicationDirPath(),
                                                qEnvironmentVariable("XDG_DATA_HOME"),
                                                QDir::homePath(), FolderIsWritable, use);
    if (folder.shippedData.isEmpty())
        return folder;
    if (!QDir().mkpath(folder.path))
        return folder; // the start-up sequence reports the folder it cannot create
    try {
        CreateWorkingDirectories(folder.path);
    } catch (const std::exception&) {
        return folder; // reported again, and shown, by the start-up sequence
    }
    for (const QString& failure :
         SeedProgramFolder(folder.shippedData, folder.path, folder.shippedEntries))
        qWarning("korvalinex: not copied: %s", qPrintable(failure));
    QString error;
    const QString setup = folder.path + kSetupFile;
    if (!folder.setupDefaults.isEmpty() && !QFileInfo::exists(setup) &&
        !WriteFileAtomically(setup, folder.setupDefaults, &error))
        qWarning("korvalinex: %s: %s", qPrintable(setup), qPrintable(error));
    return folder;
}
