// Reading profile files: name matching, trimming, quotes, defaults, limits, and name lists.
#include "common/profile.h"

#include "tests/support/files.h"
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// One file holding every reading rule; lines are joined with the line end of each variant.
const QStringList kSample = {
    QStringLiteral("; comment=not a key"),
    QStringLiteral("orphan=before any section"),
    QStringLiteral("[SETUP]"),
    QStringLiteral("COM=COM3"),
    QStringLiteral("  Language  =  EN  "),
    QStringLiteral("POCETP="),
    QStringLiteral("PREVOD=\"1,5\""),
    QStringLiteral("Q1='  padded  '"),
    QStringLiteral("Q2=\"mixed'"),
    QStringLiteral("Q3=\"\"x\"\""),
    QStringLiteral("Q4=\""),
    QStringLiteral("EQ=a=b=c"),
    QStringLiteral("noequals"),
    QStringLiteral("\tTAB\t=\tv\t"),
    QStringLiteral("DUP=first"),
    QStringLiteral("DUP=second"),
    QStringLiteral(";COMMENTED=1"),
    QStringLiteral("=no name"),
    QStringLiteral("  [ Části ]  trailing"),
    QStringLiteral("Pólů=14"),
    QStringLiteral("Název=Počet pólů"),
    QStringLiteral("[setup]"),
    QStringLiteral("COM=COM9"),
    QStringLiteral("EXTRA=only in the second"),
};

struct Variant {
    const char* name;
    QByteArray bytes;
};

std::vector<Variant> SampleVariants()
{
    const QString crlf = kSample.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const QString lf = kSample.join(u'\n');
    QByteArray cp1250;
    for (QChar c : crlf) {
        // Only the Czech letters of the sample need mapping.
        static const QString from = QStringLiteral("ČčÁáóůé");
        static const char to[] = "\xC8\xE8\xC1\xE1\xF3\xF9\xE9";
        const qsizetype i = from.indexOf(c);
        cp1250.append(i >= 0 ? to[i] : char(c.unicode()));
    }
    return {
        {"windows-1250, CR LF", cp1250},
        {"utf-8, LF, no final line end", lf.toUtf8()},
        {"utf-8 with BOM, CR LF", "\xEF\xBB\xBF" + crlf.toUtf8()},
    };
}

} // namespace

TEST(ProfileRead, RulesTable)
{
    const struct {
        const char* section;
        const char* key;
        const char* expected;
    } rows[] = {
        {"SETUP", "COM", "COM3"},
        {"setup", "com", "COM3"},   // names match regardless of case
        {" SETUP ", "COM", "COM3"}, // blanks around the asked names do not matter
        {"SETUP", "LANGUAGE", "EN"},
        {"SETUP", "POCETP", ""}, // present but empty: not the default
        {"SETUP", "PREVOD", "1,5"},
        {"SETUP", "Q1", "  padded  "},   // blanks inside quotes stay
        {"SETUP", "Q2", "\"mixed'"},     // quotes that do not match stay
        {"SETUP", "Q3", "\"x\""},        // one pair only
        {"SETUP", "Q4", "\""},           // a lone quote is text
        {"SETUP", "EQ", "a=b=c"},        // the value starts after the first "="
        {"SETUP", "noequals", "<def>"},  // a line without "=" is not a key
        {"SETUP", "TAB", "v"},           // tabs are blanks
        {"SETUP", "DUP", "first"},       // the first of two keys wins
        {"SETUP", "COMMENTED", "<def>"}, // a comment line is not a key
        {"SETUP", ";COMMENTED", "<def>"},
        {"SETUP", "EXTRA", "<def>"}, // the second section of the same name is not read
        {"SETUP", "missing", "<def>"},
        {"missing", "COM", "<def>"},
        {"", "orphan", "<def>"}, // lines before the first section belong to none
        {"ČÁSTI", "PÓLŮ", "14"}, // case also ignored for Czech letters
        {"části", "název", "Počet pólů"},
    };
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Variant& variant : SampleVariants()) {
        SCOPED_TRACE(variant.name);
        const QString path = dir.filePath(QStringLiteral("sample.ini"));
        WriteBytes(path, variant.bytes);
        TProfileFile file(path);
        ASSERT_TRUE(file.Load()) << file.Error().toStdString();
        for (const auto& row : rows) {
            const QString got =
                file.ReadString(QString::fromUtf8(row.section), QString::fromUtf8(row.key),
                                QStringLiteral("<def>"));
            EXPECT_EQ(got, QString::fromUtf8(row.expected)) << row.section << "/" << row.key;
            // The one-call form follows the same rules.
            EXPECT_EQ(GetPrivateProfileString(QString::fromUtf8(row.section),
                                              QString::fromUtf8(row.key), QStringLiteral("<def>"),
                                              path),
                      got);
        }
        EXPECT_EQ(file.SectionNames(),
                  (QStringList{QStringLiteral("SETUP"), QStringLiteral("Části"),
                               QStringLiteral("setup")}));
        EXPECT_EQ(file.SectionLines(QStringLiteral("setup")), (QStringList{
                                                                  QStringLiteral("COM=COM3"),
                                                                  QStringLiteral("Language=EN"),
                                                                  QStringLiteral("POCETP="),
                                                                  QStringLiteral("PREVOD=1,5"),
                                                                  QStringLiteral("Q1=  padded  "),
                                                                  QStringLiteral("Q2=\"mixed'"),
                                                                  QStringLiteral("Q3=\"x\""),
                                                                  QStringLiteral("Q4=\""),
                                                                  QStringLiteral("EQ=a=b=c"),
                                                                  QStringLiteral("TAB=v"),
                                                                  QStringLiteral("DUP=first"),
                                                                  QStringLiteral("DUP=first"),
                                                              }));
        EXPECT_TRUE(file.SectionLines(QStringLiteral("nothing")).isEmpty());
    }
}

TEST(ProfileRead, MissingOrUnreadableFileGivesTheDefault)
{
    const QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("none.ini"));
    TProfileFile absent(missing);
    EXPECT_TRUE(absent.Load());
    EXPECT_TRUE(absent.Error().isEmpty());
    EXPECT_EQ(absent.ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_TRUE(absent.SectionNames().isEmpty());
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d"),
                                      dir.filePath("no/such/dir/x.ini")),
              QStringLiteral("d"));

    // A directory where the file should be cannot be read: an error, and the default.
    const QString asDir = dir.filePath(QStringLiteral("setup.ini"));
    ASSERT_TRUE(QDir().mkdir(asDir));
    TProfileFile unreadable(asDir);
    EXPECT_FALSE(unreadable.Load());
    EXPECT_EQ(unreadable.Error(), QStringLiteral("Is a directory"));
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d"),
                                      asDir),
              QStringLiteral("d"));

    // A pipe would block the reader for ever; it is refused at once.
    const QString fifo = dir.filePath(QStringLiteral("pipe.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    TProfileFile pipe(fifo);
    EXPECT_FALSE(pipe.Load());
    EXPECT_EQ(pipe.Error(), QStringLiteral("Not a regular file"));
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("k"),
                                           QStringLiteral("v"), fifo));
}

// Reads of single keys keep the file parsed between calls; an edit in between, even one that keeps
// the size and lands within the same clock tick, is seen by the next read, and so is another file.
TEST(ProfileRead, EachReadSeesTheFileAsItIsNow)
{
    const QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.ini"));
    const QString b = dir.filePath(QStringLiteral("b.ini"));
    auto read = [](const QString& path) {
        return GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("k"),
                                       QStringLiteral("d"), path);
    };
    WriteBytes(b, "[S]\r\nk=b\r\n");
    const char* const versions[] = {"[S]\r\nk=1\r\n", "[S]\r\nk=2\r\n", "[S]\r\nk=3\r\n"};
    for (const char* v : versions) {
        WriteBytes(a, v); // in place, the same size each time
        EXPECT_EQ(read(a), QString::fromLatin1(v).mid(7, 1));
        EXPECT_EQ(read(b), QStringLiteral("b"));
    }
    ASSERT_TRUE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("k"),
                                          QStringLiteral("4"), a));
    EXPECT_EQ(read(a), QStringLiteral("4"));
    QFile::remove(a);
    EXPECT_EQ(read(a), QStringLiteral("d"));
}

TEST(ProfileRead, ValuesAreCutAt2047Characters)
{
    const QString x2047(kProfileValueMax, u'x');
    const struct {
        const char* name;
        QString stored;
        QString expected;
    } rows[] = {
        {"exactly the limit", x2047, x2047},
        {"one over", x2047 + u'y', x2047},
        {"far over", QString(100000, u'z'), QString(kProfileValueMax, u'z')},
        {"quotes removed before the cut", u'"' + x2047 + u'"', x2047},
        {"blanks trimmed before the cut", QStringLiteral("   ") + x2047 + QStringLiteral("y  "),
         x2047},
        // A character outside the basic plane is never split in half.
        {"no half surrogate pair", QString(kProfileValueMax - 1, u'a') + QStringLiteral("😀"),
         QString(kProfileValueMax - 1, u'a')},
    };
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.ini"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(path,
                   (QStringLiteral("[S]\r\nk=") + row.stored + QStringLiteral("\r\n")).toUtf8());
        TProfileFile file(path);
        ASSERT_TRUE(file.Load());
        EXPECT_EQ(file.ReadString(QStringLiteral("S"), QStringLiteral("k"), QString()),
                  row.expected);
        EXPECT_EQ(file.SectionLines(QStringLiteral("S")),
                  QStringList{QStringLiteral("k=") + row.expected});
    }
}

// A name list passes a 16384-byte buffer: every name costs its bytes in the file plus a NUL, and
// one NUL ends the list. When they do not all fit, the buffer holds as much as fits before two
// closing NULs: the name that did not fit whole comes cut, and nothing after it.
TEST(ProfileRead, SectionNamesThroughTheBuffer)
{
    const struct {
        const char* name;
        QChar letter;
        int length;
        int count;
        bool utf8;
        int expected; // whole names
        int cut;      // characters of the next name, cut where the buffer ends
    } rows[] = {
        {"few names", u'a', 10, 5, false, 5, 0},
        // 163*100 bytes, then 82 of the next before the two closing NULs
        {"100-byte entries", u'a', 99, 200, false, 163, 82},
        {"exact fit", u'b', 126, 129, false, 129, 0}, // 129*127+1 == 16384
        {"one beyond exact fit: the last name loses only its NUL", u'b', 126, 130, false, 129, 0},
        {"the final NUL counts too", u'd', 127, 128, false, 127, 126}, // 128*128 == 16384
        {"czech in windows-1250", u'Č', 99, 200, false, 163, 82},      // one byte per letter
        // 3 + 2*96 bytes a name: 83 whole, then 114 bytes, the last one half a Č
        {"czech in utf-8", u'Č', 99, 200, true, 83, 58},
        {"first name too long", u'c', 16383, 3, false, 0, 16382},
    };
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("names.ini"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QString text;
        QStringList names;
        for (int i = 0; i < row.count; ++i) {
            // Each name distinct, same length: a 3-digit number in front of the filler.
            QString name = QStringLiteral("%1").arg(i % 1000, 3, 10, QLatin1Char('0'));
            name += QString(row.length - 3, row.letter);
            names.append(name);
            text += u'[' + name + QStringLiteral("]\r\nk=v\r\n");
        }
        // Č is byte C8 in Windows-1250; every other character here is ASCII.
        WriteBytes(path, row.utf8 ? text.toUtf8() : text.toLatin1().replace('?', '\xC8'));
        TProfileFile file(path);
        ASSERT_TRUE(file.Load());
        QStringList expected = names.mid(0, row.expected);
        if (row.cut > 0)
            expected.append(names[row.expected].left(row.cut));
        EXPECT_EQ(file.SectionNames(), expected);
    }
}

TEST(ProfileRead, HostileContentNeverCrashes)
{
    QByteArray garbage;
    quint32 seed = 7;
    for (int i = 0; i < 1 << 20; ++i) {
        seed = seed * 1664525u + 1013904223u;
        garbage.append(char(seed >> 24));
    }
    QByteArray hugeLine = "[S]\r\nk=" + QByteArray(100000, 'w') + "\r\n";
    QByteArray tenMegabytes;
    tenMegabytes.reserve(10 << 20);
    for (int i = 0; tenMegabytes.size() < (10 << 20); ++i)
        tenMegabytes +=
            "[sec" + QByteArray::number(i) + "]\nkey=value;" + QByteArray::number(i) + '\n';
    const struct {
        const char* name;
        QByteArray bytes;
    } rows[] = {
        {"random bytes", garbage},
        {"NULs", QByteArray(5000, '\0') + QByteArray("[S]\nk=\0\0x\n", 10)},
        {"100000-character line", hugeLine},
        {"10 MB of sections", tenMegabytes},
        {"only brackets", "[[[]]]\n]\n[\n[=\n=]\n"},
    };
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.ini"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(path, row.bytes);
        TProfileFile file(path);
        ASSERT_TRUE(file.Load());
        for (const QString& name : file.SectionNames())
            file.SectionLines(name);
        file.ReadString(QStringLiteral("S"), QStringLiteral("k"), QString());
        file.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("written"));
        ASSERT_TRUE(file.Save()) << file.Error().toStdString();
        EXPECT_EQ(
            GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("k"), QString(), path),
            QStringLiteral("written"));
    }
}
