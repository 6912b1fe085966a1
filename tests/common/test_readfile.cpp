// Whole-file reads with a size limit: what is not a regular file of at most the limit is refused
// before it is read, and each reader of the user's files in common/ keeps to its limit.
#include "common/profile.h"
#include "common/programdir.h"
#include "common/readfile.h"
#include "common/settings.h"

#include "tests/support/files.h"
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr qint64 kGiB = qint64(1) << 30;

TEST(ReadFileWithLimit, RefusesAnythingButARegularFileWithinTheLimit)
{
    enum Make { Plain, Folder, Pipe, Nothing };
    const struct {
        const char* name;
        Make make;
        qint64 size;
        qint64 limit;
        int error;
    } rows[] = {
        {"empty", Plain, 0, 10, 0},
        {"exactly at the limit", Plain, 10, 10, 0},
        {"one byte over", Plain, 11, 10, EFBIG},
        {"a gigabyte", Plain, kGiB, 4 * 1024 * 1024, EFBIG},
        {"a folder", Folder, 0, 10, EISDIR},
        {"a pipe", Pipe, 0, 10, EINVAL},
        {"missing", Nothing, 0, 10, ENOENT},
    };
    const QTemporaryDir dir;
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QString::number(n++));
        if (row.make == Plain) {
            WriteSparse(path, "head", row.size);
        } else if (row.make == Folder) {
            ASSERT_TRUE(QDir().mkdir(path));
        } else if (row.make == Pipe) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        const TFileRead read = ReadFileWithLimit(path, row.limit);
        EXPECT_EQ(read.error, row.error);
        EXPECT_EQ(read.bytes.size(), row.error ? 0 : row.size);
        if (row.error == 0 && row.size > 0) {
            EXPECT_TRUE(read.bytes.startsWith("head"));
        }
    }
    EXPECT_EQ(ReadFileWithLimit(dir.filePath(QStringLiteral("2")), 10).Reason(),
              QStringLiteral("File too large (more than 10 bytes)"));
}

// setup.ini, model definition files and language files: a file over the limit reads as one that
// cannot be read, and is never replaced by a save that would hold only the keys written.
TEST(ReadFileWithLimit, ProfileFilesOverTheLimitAreNotReadNorReplaced)
{
    const QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    const QByteArray head = "[SETUP]\r\nLANGUAGE=EN\r\nPOCETP=14\r\n";
    const QString huge = programDir + kSetupFile;
    WriteSparse(huge, head, kProfileFileMaxBytes + 1);
    const QString atLimit = dir.filePath(QStringLiteral("model.ini"));
    WriteSparse(atLimit, head, kProfileFileMaxBytes);

    TProfileFile file(huge);
    EXPECT_FALSE(file.Load());
    EXPECT_TRUE(file.Error().startsWith(QStringLiteral("File too large")));
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral("SETUP"), QStringLiteral("LANGUAGE"),
                                      QStringLiteral("CZ"), huge),
              QStringLiteral("CZ"));
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral("SETUP"), QStringLiteral("COM"),
                                           QStringLiteral("COM2"), huge));
    EXPECT_EQ(ReadUserSettings(programDir).language, TUserSettings().language);
    QString path;
    TUserSettings changed;
    changed.poles = QStringLiteral("7");
    EXPECT_FALSE(WriteClosingSettings(programDir, changed, &path));
    EXPECT_EQ(QFileInfo(huge).size(), kProfileFileMaxBytes + 1) << "the file stays as it was";

    TProfileFile fits(atLimit);
    EXPECT_TRUE(fits.Load());
    EXPECT_EQ(fits.ReadString(QStringLiteral("SETUP"), QStringLiteral("POCETP"), {}),
              QStringLiteral("14"));
}

TEST(ReadFileWithLimit, AShippedFileOverTheLimitIsNotCopied)
{
    const QTemporaryDir from, to;
    ASSERT_TRUE(QDir(from.path()).mkpath(QStringLiteral("Help")));
    WriteSparse(from.filePath(QStringLiteral("Help/huge.pdf")), "%PDF", kShippedFileMaxBytes + 1);
    WriteSparse(from.filePath(QStringLiteral("Help/fits.pdf")), "%PDF", kShippedFileMaxBytes / 64);
    const QStringList failures = SeedProgramFolder(from.path(), to.path());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains(QStringLiteral("huge.pdf: File too large"))) << failures[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(to.filePath(QStringLiteral("Help/huge.pdf"))));
    EXPECT_EQ(QFileInfo(to.filePath(QStringLiteral("Help/fits.pdf"))).size(),
              kShippedFileMaxBytes / 64);
}

} // namespace
