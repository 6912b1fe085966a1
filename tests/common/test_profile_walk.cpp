// The profile layer where it must behave like the Windows profile functions: the walk of a section
// (key list, then each key read by name), defaults, writes that keep a hand-edited file's look, and
// the rules kept where other implementations differ. Each row: a small file, one call, the exact
// result.
#include "common/profile.h"

#include "tests/support/files.h"
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

enum class Call { Read, Keys, Lines, Sections, Write };

struct Row {
    const char* name;
    QByteArray file;
    Call call;
    QString section;
    QString key;
    QString arg;         // the default of a read, the value of a write
    QByteArray expected; // a read's value, a list joined by "|", or the file after a write
};

// A section "[s]" of n entries "kNNNN=" + a filler value; its walk and the joined list.
struct Generated {
    QByteArray file;
    QByteArray lines;
};
Generated Section(int n, int keyDigits, int valueLength)
{
    Generated g{"[s]\r\n", {}};
    for (int i = 0; i < n; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(keyDigits, '0') + '=' +
                                QByteArray(valueLength, 'v');
        g.file += line + "\r\n";
        g.lines += (i ? "|" : "") + line;
    }
    return g;
}

} // namespace

TEST(ProfileWalk, BehavesAsTheWindowsFunctions)
{
    // 700 items of 30 characters under four-character keys: the key list holds 700 names of five
    // bytes; counting whole lines would stop at 454.
    const Generated items = Section(700, 4, 30);
    // 3000 display entries: 15000 bytes of names still fit, whole lines would stop at 1457.
    const Generated entries = Section(3000, 4, 6);
    // Names of 99 bytes: 163 fit the 16384-byte buffer with their NULs and the final one.
    const Generated longKeys = Section(200, 99, 1);
    const QByteArray longDefault(3000, 'x');

    const Row rows[] = {
        // The walk of a section.
        {"duplicate key: listed twice, first value both times",
         "[s]\r\nk=first\r\nK=second\r\n",
         Call::Lines,
         "s",
         {},
         {},
         "k=first|K=first"},
        {"duplicate key in the key list",
         "[s]\r\nk=first\r\nK=second\r\n",
         Call::Keys,
         "S",
         {},
         {},
         "k|K"},
        {"700 items of 30 characters", items.file, Call::Lines, "s", {}, {}, items.lines},
        {"3000 display entries", entries.file, Call::Lines, "s", {}, {}, entries.lines},
        // A buffer too small for every name holds as much as fits before two closing NULs: the
        // name it could not hold whole comes cut there (82 of its 99 bytes), and nothing after.
        {"key list ends with the name that does not fit, cut",
         longKeys.file,
         Call::Keys,
         "s",
         {},
         {},
         QByteArray(longKeys.lines).split('|').mid(0, 163).join('|').replace(QByteArray("=v"), "") +
             "|" + longKeys.lines.split('|')[163].left(82)},
        {"the cut name of a section's walk reads as a key that is not there",
         longKeys.file,
         Call::Lines,
         "s",
         {},
         {},
         QByteArray(longKeys.lines).split('|').mid(0, 163).join('|') + "|" +
             longKeys.lines.split('|')[163].left(82) + "="},
        // The default.
        {"default loses its trailing blanks", "[s]\r\n", Call::Read, "s", "x", "dflt  ", "dflt"},
        {"default keeps its leading blanks", "", Call::Read, "s", "x", "  d ", "  d"},
        {"default cut like a value", "[s]\r\n", Call::Read, "s", "x",
         QString::fromLatin1(longDefault), longDefault.left(2047)},
        {"present but empty is not the default", "[s]\r\nx=\r\n", Call::Read, "s", "x", "d", ""},
        // Writes keep a hand-edited file's look.
        {"existing key keeps the file's spelling", "[SETUP]\r\ncom=COM1\r\n", Call::Write, "SETUP",
         "COM", "COM7", "[SETUP]\r\ncom=COM7\r\n"},
        {"the value the key has changes nothing", "[SETUP]\r\n  com = COM1  \r\n", Call::Write,
         "SETUP", "COM", "COM1", "[SETUP]\r\n  com = COM1  \r\n"},
        {"a new key is written as given", "[SETUP]\r\ncom=COM1\r\n", Call::Write, "setup", "Device",
         "USB", "[SETUP]\r\ncom=COM1\r\nDevice=USB\r\n"},
        // Kept where other implementations are the odd ones out.
        {"header without ] opens a section", "[open\r\nk=v\r\n", Call::Read, "open", "k", "d", "v"},
        {"a name ends at the first ]",
         "[a]b]\r\nk=v\r\n[c]]\r\n",
         Call::Sections,
         {},
         {},
         {},
         "a|c"},
        {"a key beginning with ; is a comment",
         "[s]\r\n;k=v\r\nj=w\r\n",
         Call::Keys,
         "s",
         {},
         {},
         "j"},
        {"a comment is not read as a key", "[s]\r\n;k=v\r\n", Call::Read, "s", ";k", "d", "d"},
        {"other lines stay as they were", "[s]\r\n\r\nx=1\n ; c \r\n\r\n[t]\r\ny=2", Call::Write,
         "s", "x", "3", "[s]\r\n\r\nx=3\n ; c \r\n\r\n[t]\r\ny=2"},
        {"section list of one name too long for the buffer: that name cut",
         "[" + QByteArray(16383, 'n') + "]\r\n[b]\r\n",
         Call::Sections,
         {},
         {},
         {},
         QByteArray(16382, 'n')},
    };

    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("walk.ini"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(path, row.file);
        TProfileFile file(path);
        ASSERT_TRUE(file.Load());
        QByteArray got;
        switch (row.call) {
        case Call::Read:
            got = file.ReadString(row.section, row.key, row.arg).toUtf8();
            EXPECT_EQ(GetPrivateProfileString(row.section, row.key, row.arg, path).toUtf8(), got);
            break;
        case Call::Keys:
            got = file.SectionKeys(row.section).join(u'|').toUtf8();
            break;
        case Call::Lines:
            got = file.SectionLines(row.section).join(u'|').toUtf8();
            break;
        case Call::Sections:
            got = file.SectionNames().join(u'|').toUtf8();
            break;
        case Call::Write:
            ASSERT_TRUE(WritePrivateProfileString(row.section, row.key, row.arg, path));
            got = ReadBytes(path);
            break;
        }
        EXPECT_EQ(got, row.expected);
    }
}
