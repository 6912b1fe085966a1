// Writing profile files: only the key's own line changes, everything else stays byte for byte.
#include "common/profile.h"

#include "tests/support/files.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

} // namespace

TEST(ProfileWrite, ChangesOnlyTheKeysLine)
{
    const struct {
        const char* name;
        QByteArray before;
        const char* section;
        const char* key;
        const char* value;
        QByteArray after;
    } rows[] = {
        {"replace, other section untouched", "[A]\r\nx=1\r\n; note\r\n[B]\r\nx=2\r\n", "B", "x",
         "9", "[A]\r\nx=1\r\n; note\r\n[B]\r\nx=9\r\n"},
        {"the file's spelling of the key stays", "[A]\r\nkey=1\r\n", "a", "KEY", "2",
         "[A]\r\nkey=2\r\n"},
        {"blanks around the old line go", "[A]\r\n  x =  1  \r\n", "A", "x", "5", "[A]\r\nx=5\r\n"},
        {"new key before the section's trailing blank lines", "[A]\r\nx=1\r\n\r\n  \r\n[B]\r\n",
         "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n\r\n  \r\n[B]\r\n"},
        {"new key after a closing comment", "[A]\r\nx=1\r\n;end of A\r\n[B]\r\n", "A", "y", "2",
         "[A]\r\nx=1\r\n;end of A\r\ny=2\r\n[B]\r\n"},
        {"new key into an empty last section", "[A]\r\n", "A", "k", "v", "[A]\r\nk=v\r\n"},
        {"new section at the end", "[A]\r\nx=1\r\n\r\n", "C", "k", "v",
         "[A]\r\nx=1\r\n\r\n[C]\r\nk=v\r\n"},
        {"empty file", "", "SETUP", "COM", "COM1", "[SETUP]\r\nCOM=COM1\r\n"},
        {"LF file stays LF", "[A]\nx=1\n", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"LF file, new section", "[A]\nx=1\n", "B", "y", "2", "[A]\nx=1\n[B]\ny=2\n"},
        {"last line without line end gets one", "[A]\r\nx=1", "A", "y", "2",
         "[A]\r\nx=1\r\ny=2\r\n"},
        {"replacing the unterminated last line", "[A]\r\nx=1", "A", "x", "5", "[A]\r\nx=5"},
        {"only the first of two keys", "[A]\nx=1\nx=2\n", "A", "x", "9", "[A]\nx=9\nx=2\n"},
        {"only the first of two sections", "[A]\nx=1\n[a]\nx=2\n", "A", "x", "9",
         "[A]\nx=9\n[a]\nx=2\n"},
        {"mixed line ends kept", "[A]\r\nx=1\ny=2\r\nz=3\n", "A", "y", "7",
         "[A]\r\nx=1\ny=7\r\nz=3\n"},
        {"odd lines kept", "junk\r\n[A]\r\n noeq \r\n=x\r\n[[weird\r\n", "A", "k", "v",
         "junk\r\n[A]\r\n noeq \r\n=x\r\nk=v\r\n[[weird\r\n"},
        {"a comment that looks like the key", "[A]\r\n;x=1\r\n", "A", "x", "2",
         "[A]\r\n;x=1\r\nx=2\r\n"},
        {"line breaks in the value become blanks", "[A]\r\nx=1\r\n", "A", "x", "a\r\nb\nc",
         "[A]\r\nx=a  b c\r\n"},
        {"line break in a new key", "", "A", "k\ny", "1", "[A]\r\nk y=1\r\n"},
        {"empty value", "[A]\r\nx=1\r\n", "A", "x", "", "[A]\r\nx=\r\n"},
        {"czech stays windows-1250", "[A]\r\nn=P\xF9vodn\xED\r\n", "A", "m", "Počet pólů",
         "[A]\r\nn=P\xF9vodn\xED\r\nm=Po\xE8"
         "et p\xF3l\xF9\r\n"},
        {"utf-8 file stays utf-8", "[A]\nn=P\xC5\xAFvodn\xC3\xAD\n", "A", "m", "Počet",
         "[A]\nn=P\xC5\xAFvodn\xC3\xAD\nm=Po\xC4\x8D"
         "et\n"},
        {"utf-8 file keeps its BOM", "\xEF\xBB\xBF[A]\nn=\xC5\xAF\n", "A", "n", "č",
         "\xEF\xBB\xBF[A]\nn=\xC4\x8D\n"},
        {"text without a windows-1250 form turns the file to utf-8", "[A]\r\nn=P\xF9vod\r\n", "A",
         "m", "Ω", "[A]\r\nn=P\xC5\xAFvod\r\nm=\xCE\xA9\r\n"},
        {"NUL bytes elsewhere survive", QByteArray("\0\0\r\n[A]\r\nx=1\r\n", 14), "A", "x", "2",
         QByteArray("\0\0\r\n[A]\r\nx=2\r\n", 14)},
    };
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("w.ini"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(path, row.before);
        QString error;
        ASSERT_TRUE(WritePrivateProfileString(QString::fromUtf8(row.section),
                                              QString::fromUtf8(row.key),
                                              QString::fromUtf8(row.value), path, &error))
            << error.toStdString();
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(ReadBytes(path), row.after);
    }
}

TEST(ProfileWrite, NewFileIsCreatedWithCrLf)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setup.ini"));
    ASSERT_TRUE(WritePrivateProfileString(QStringLiteral("SETUP"), QStringLiteral("COM"),
                                          QStringLiteral("COM1"), path));
    ASSERT_TRUE(WritePrivateProfileString(QStringLiteral("SETUP"), QStringLiteral("DEVICE"),
                                          QStringLiteral("USB"), path));
    EXPECT_EQ(ReadBytes(path), QByteArray("[SETUP]\r\nCOM=COM1\r\nDEVICE=USB\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("setup.ini")});
}

TEST(ProfileWrite, WritesRoundTripThroughReads)
{
    const QStringList values = {
        QStringLiteral("Počet pólů"),  QStringLiteral("  spaced  "), QStringLiteral("a=b"),
        QStringLiteral("ŘŠČŽÝ ÁÍÉŮÚ"), QStringLiteral("日本"),       QStringLiteral("x;y"),
    };
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rt.ini"));
    // A group of writes through one loaded file, saved once.
    TProfileFile file(path);
    ASSERT_TRUE(file.Load());
    for (int i = 0; i < values.size(); ++i)
        file.WriteString(QStringLiteral("Sekce"), QStringLiteral("k%1").arg(i), values[i]);
    ASSERT_TRUE(file.Save()) << file.Error().toStdString();

    TProfileFile again(path);
    ASSERT_TRUE(again.Load());
    for (int i = 0; i < values.size(); ++i) {
        // Outer blanks are not part of a value once read back.
        EXPECT_EQ(again.ReadString(QStringLiteral("SEKCE"), QStringLiteral("K%1").arg(i), {}),
                  values[i].trimmed());
    }
}

TEST(ProfileWrite, FailuresLeaveTheFileAlone)
{
    const QTemporaryDir dir;
    QString error;

    // The settings file is a directory: neither read nor replaced.
    const QString asDir = dir.filePath(QStringLiteral("setup.ini"));
    ASSERT_TRUE(QDir().mkdir(asDir));
    WriteBytes(asDir + QStringLiteral("/inside"), "keep");
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("k"),
                                           QStringLiteral("v"), asDir, &error));
    EXPECT_EQ(error, QStringLiteral("Is a directory"));
    EXPECT_EQ(ReadBytes(asDir + QStringLiteral("/inside")), QByteArray("keep"));

    // Its folder does not exist.
    error.clear();
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("k"),
                                           QStringLiteral("v"),
                                           dir.filePath(QStringLiteral("gone/setup.ini")), &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));

    // A file whose load failed is never saved over: it would lose everything it held.
    TProfileFile file(asDir);
    EXPECT_FALSE(file.Load());
    file.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_FALSE(file.Save());
    EXPECT_FALSE(file.Error().isEmpty());
    EXPECT_TRUE(QFileInfo(asDir).isDir());
}
