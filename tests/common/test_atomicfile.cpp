// The atomic writer: the target is replaced whole or not at all, and nothing is left behind.
#include "common/atomicfile.h"

#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(AtomicFile, CreatesAndReplaces)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    QString error = QStringLiteral("stale");
    ASSERT_TRUE(WriteFileAtomically(path, "first", &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(ReadBytes(path), QByteArray("first"));

    ASSERT_TRUE(WriteFileAtomically(path, QByteArray("\0second\r\n", 9)));
    EXPECT_EQ(ReadBytes(path), QByteArray("\0second\r\n", 9));
    ASSERT_TRUE(WriteFileAtomically(path, QByteArray()));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("out.txt")});
}

TEST(AtomicFile, KeepsPermissions)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.ini"));
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, FailuresKeepTheOldFileAndLeaveNoTemporary)
{
    const QTemporaryDir dir;
    QString error;

    // The folder does not exist.
    EXPECT_FALSE(WriteFileAtomically(dir.filePath(QStringLiteral("no/such/out.txt")), "x", &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));

    // The target is a directory.
    const QString asDir = dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(QDir().mkdir(asDir));
    WriteBytes(asDir + QStringLiteral("/inside"), "keep");
    EXPECT_FALSE(WriteFileAtomically(asDir, "x", &error));
    EXPECT_EQ(error, QStringLiteral("Is a directory"));
    EXPECT_EQ(ReadBytes(asDir + QStringLiteral("/inside")), QByteArray("keep"));

    // The disk fills up half way through the new content.
    const QString path = dir.filePath(QStringLiteral("setup.ini"));
    WriteBytes(path, "[SETUP]\r\nCOM=COM1\r\n");
    {
        TFileSizeLimit limit(8);
        ASSERT_TRUE(limit.Ok());
        EXPECT_FALSE(WriteFileAtomically(path, QByteArray(4096, 'n'), &error));
    }
    EXPECT_EQ(error, QStringLiteral("File too large"));
    EXPECT_EQ(ReadBytes(path), QByteArray("[SETUP]\r\nCOM=COM1\r\n"));

    EXPECT_EQ(Entries(dir.path()),
              (QStringList{QStringLiteral("setup.ini"), QStringLiteral("target")}));
    EXPECT_EQ(Entries(asDir), QStringList{QStringLiteral("inside")});
}

TEST(AtomicFile, WritesThroughSymbolicLinks)
{
    const QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("real"))));
    const QString real = dir.filePath(QStringLiteral("real/setup.ini"));
    WriteBytes(real, "old");
    const struct {
        const char* name;
        QString linkTarget; // as stored in the link
        QString writesTo;
    } rows[] = {
        {"absolute link", real, real},
        {"relative link", QStringLiteral("real/setup.ini"), real},
        {"link to a link", dir.filePath(QStringLiteral("abs.lnk")), real},
        {"dangling link creates its target", QStringLiteral("real/new.ini"),
         dir.filePath(QStringLiteral("real/new.ini"))},
    };
    ASSERT_TRUE(QFile::link(real, dir.filePath(QStringLiteral("abs.lnk"))));
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString link = dir.filePath(QStringLiteral("l%1.ini").arg(n++));
        ASSERT_EQ(::symlink(QFile::encodeName(row.linkTarget).constData(),
                            QFile::encodeName(link).constData()),
                  0);
        const QByteArray content = QByteArray("via ") + row.name;
        ASSERT_TRUE(WriteFileAtomically(link, content));
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(ReadBytes(row.writesTo), content);
    }
    EXPECT_EQ(Entries(dir.filePath(QStringLiteral("real"))),
              (QStringList{QStringLiteral("new.ini"), QStringLiteral("setup.ini")}));

    // A loop of links is an error, not a hang.
    const QString a = dir.filePath(QStringLiteral("loop-a"));
    const QString b = dir.filePath(QStringLiteral("loop-b"));
    ASSERT_EQ(::symlink("loop-b", QFile::encodeName(a).constData()), 0);
    ASSERT_EQ(::symlink("loop-a", QFile::encodeName(b).constData()), 0);
    QString error;
    EXPECT_FALSE(WriteFileAtomically(a, "x", &error));
    EXPECT_EQ(error, QStringLiteral("Too many levels of symbolic links"));
}

// A write interrupted before its rename leaves its temporary file; the next write into that folder
// removes such leftovers: only files of our own name pattern, only old ones, never one that a
// running write holds.
TEST(AtomicFile, RemovesItsOwnStaleTemporariesOfTheFolder)
{
    enum Kind { File, Held, Folder, Link };
    // Old: left an hour ago and more; a write takes seconds.
    const struct {
        const char* name;
        Kind kind;
        int minutesOld;
        bool removed;
    } rows[] = {
        {".setup.ini.k3x9.korvalinex-tmp", File, 120, true},
        {".Data.zeq.1z141z3.korvalinex-tmp", File, 61, true},
        {".setup.ini.a1.korvalinex-tmp", File, 0, false}, // a write that has just begun
        {".setup.ini.a3.korvalinex-tmp", File, 30, false},
        {".setup.ini.a4.korvalinex-tmp", File, 59, false},
        {".setup.ini.a2.korvalinex-tmp", Held, 120, false},       // a write still running
        {".a.b3.korvalinex-tmp", Folder, 120, false},             // not a file of ours
        {".a.b4.korvalinex-tmp", Link, 120, false},               // nor a link to one
        {".notes.draft.tmp", File, 120, false},                   // somebody else's temporary
        {"setup.ini.k3x9.korvalinex-tmp", File, 120, false},      // not hidden
        {".k3x9.korvalinex-tmp", File, 120, false},               // no name before the tag
        {".setup.ini.k3x9abcd.korvalinex-tmp", File, 120, false}, // tag too long
        {".setup.ini.K3X9.korvalinex-tmp", File, 120, false},     // not our digits
    };
    const QTemporaryDir dir;
    WriteBytes(dir.filePath(QStringLiteral("linked")), "keep");
    std::vector<int> heldFds;
    QStringList kept = {QStringLiteral("linked")};
    for (const auto& row : rows) {
        const QString path = dir.filePath(QString::fromLatin1(row.name));
        const QByteArray name = QFile::encodeName(path);
        if (row.kind == Folder) {
            ASSERT_TRUE(QDir().mkdir(path));
        } else if (row.kind == Link) {
            ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("linked")), path));
        } else {
            WriteBytes(path, "half");
        }
        if (row.kind == Held) {
            heldFds.push_back(::open(name.constData(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(heldFds.back(), LOCK_EX | LOCK_NB), 0);
        }
        if (row.minutesOld > 0) {
            const time_t then = ::time(nullptr) - row.minutesOld * 60;
            const struct timespec times[2] = {{then, 0}, {then, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
        if (!row.removed)
            kept.append(QString::fromLatin1(row.name));
    }
    // A leftover in a subfolder waits for a write there.
    ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("sub"))));
    const QString inSub = dir.filePath(QStringLiteral("sub/.x.k1.korvalinex-tmp"));
    WriteBytes(inSub, "half");
    const struct timespec old[2] = {{1, 0}, {1, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(inSub).constData(), old, 0), 0);

    ASSERT_TRUE(WriteFileAtomically(dir.filePath(QStringLiteral("setup.ini")), "new"));
    kept << QStringLiteral("setup.ini") << QStringLiteral("sub");
    kept.sort();
    QStringList entries = Entries(dir.path());
    entries.sort();
    EXPECT_EQ(entries, kept);
    EXPECT_EQ(ReadBytes(dir.filePath(QStringLiteral("linked"))), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo::exists(inSub));
    for (int fd : heldFds)
        ::close(fd);
}

namespace {

// Appending: records go on the end one by one; a record that does not fit whole is taken back, and
// a file that is not there is not made up.
TEST(AppendToFile, AddsWholeRecordsOrNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QString error;
    EXPECT_FALSE(AppendToFile(path, "1 \r\n", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path));

    WriteBytes(path, "\r\n");
    EXPECT_TRUE(AppendToFile(path, "5 1 2 \r\n", &error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    {
        TFileSizeLimit limit(14);
        EXPECT_FALSE(AppendToFile(path, "12 34 127 \r\n", &error));
    }
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadBytes(path), "\r\n5 1 2 \r\n");
    EXPECT_TRUE(AppendToFile(path, "7 \r\n"));
    EXPECT_EQ(ReadBytes(path), "\r\n5 1 2 \r\n7 \r\n");
    EXPECT_EQ(Entries(dir.path()), QStringList{"log.txt"});
}

} // namespace
