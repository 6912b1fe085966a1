#include "common/programdir.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "common/settings.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMultiMap>
#include <QtGlobal>

#include <algorithm>
#include <cctype>

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

// What each shipped file was when it was last copied, by its path relative to the folder: lines
// of a SHA-256 in hex, two blanks and the path, as sha256sum writes them (and can check them).
using TShippedManifest = QMap<QString, QByteArray>;

QByteArray ShippedHash(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

// Lines of a SHA-256 in hex, two blanks and a path; other lines are skipped. A missing or damaged
// record only makes the copies it would have named count as the user's.
QMultiMap<QString, QByteArray> ReadHashList(const QString& path)
{
    QMultiMap<QString, QByteArray> hashes;
    const TFileRead in = ReadFileWithLimit(path, kShippedFileMaxBytes);
    for (const QByteArray& line : in.bytes.split('\n')) {
        const QByteArray hash = line.left(64);
        const QString relative = QString::fromUtf8(line.mid(66)).trimmed();
        if (line.mid(64, 2) == "  " && !relative.isEmpty() &&
            std::all_of(hash.begin(), hash.end(), [](char c) { return isxdigit(uchar(c)); }))
            hashes.insert(relative, hash.toLower());
    }
    return hashes;
}

TShippedManifest ReadShippedManifest(const QString& path)
{
    TShippedManifest manifest;
    const QMultiMap<QString, QByteArray> hashes = ReadHashList(path);
    for (auto it = hashes.cbegin(); it != hashes.cend(); ++it)
        manifest.insert(it.key(), it.value());
    return manifest;
}

bool WriteShippedManifest(const QString& path, const TShippedManifest& manifest, QString* error)
{
    QByteArray text;
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it)
        text += it.value() + "  " + it.key().toUtf8() + '\n';
    return WriteFileAtomically(path, text, error);
}

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
    const QString manifestPath = WithSlash(to) + kShippedManifest;
    TShippedManifest manifest = ReadShippedManifest(manifestPath);
    const TShippedManifest before = manifest;
    // Copies made before copies were recorded: one that is exactly a file an earlier version
    // shipped is untouched too.
    const QMultiMap<QString, QByteArray> earlier = ReadHashList(WithSlash(from) + kEarlierShipped);
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString relative = source.relativeFilePath(src);
        if (relative == kEarlierShipped)
            continue;
        if (!only.isEmpty() && !only.contains(relative.section(QLatin1Char('/'), 0, 0)))
            continue;
        const QString target = WithSlash(to) + relative;
        if (QFileInfo(target).isSymLink())
            continue; // whatever it points to is the user's
        const TFileRead in = ReadFileWithLimit(src, kShippedFileMaxBytes);
        if (!in.Ok()) {
            failures << src + QStringLiteral(": ") + in.Reason();
            continue;
        }
        const QByteArray shippedHash = ShippedHash(in.bytes);
        if (QFileInfo::exists(target)) {
            // A copy is replaced only while it is exactly what was shipped last time, or by an
            // earlier version: then the user has not changed it. Any other copy without a record
            // may be the user's, and stays; it is recorded once it equals the shipped file.
            const TFileRead copy = ReadFileWithLimit(target, kShippedFileMaxBytes);
            const QByteArray copyHash = copy.Ok() ? ShippedHash(copy.bytes) : QByteArray();
            if (copyHash == shippedHash)
                manifest.insert(relative, shippedHash);
            const bool untouched =
                copyHash == manifest.value(relative) ||
                (!manifest.contains(relative) && earlier.contains(relative, copyHash));
            if (copyHash == shippedHash || copyHash.isEmpty() || !untouched)
                continue;
        }
        QString error;
        if (!QDir().mkpath(QFileInfo(target).path()))
            failures << target + QStringLiteral(": unable to create its folder");
        else if (!WriteFileAtomically(target, in.bytes, &error))
            failures << target + QStringLiteral(": ") + error;
        else
            manifest.insert(relative, shippedHash);
    }
    QString error;
    if (manifest != before && !WriteShippedManifest(manifestPath, manifest, &error))
        failures << manifestPath + QStringLiteral(": ") + error;
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
