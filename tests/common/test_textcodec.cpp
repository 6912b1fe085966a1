// Text codec: which bytes read as UTF-8 and which as Windows-1250, and what gets written back.
#include "common/textcodec.h"

#include "tests/support/files.h"
#include <QRandomGenerator>
#include <QStringDecoder>

#include <gtest/gtest.h>

namespace {

const QString kCzech = QStringLiteral("Počet pólů");
// "Počet pólů" as a file made on Czech Windows holds it.
const QByteArray kCzech1250("Po\xE8"
                            "et p\xF3l\xF9");

QByteArray AllBytes()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    return b;
}

} // namespace

TEST(TextCodec, UpperHalfAgreesWithSystemConverter)
{
    QStringDecoder system("windows-1250");
    if (!system.isValid())
        GTEST_SKIP() << "no Windows-1250 converter in this Qt build";
    const QByteArray bytes = AllBytes();
    const QString expected = system.decode(bytes);
    ASSERT_EQ(expected.size(), 256);
    // All 256 bytes are not valid UTF-8, so DecodeText must take the Windows-1250 path.
    const QString ours = DecodeText(bytes);
    ASSERT_EQ(ours.size(), 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(ours[i].unicode(), expected[i].unicode()) << "byte " << i;
}

TEST(TextCodec, EveryByteSurvivesARoundTrip)
{
    const QByteArray bytes = AllBytes();
    EXPECT_EQ(EncodeText(DecodeText(bytes)), bytes);
}

TEST(TextCodec, CzechTextReadsTheSameInEitherEncoding)
{
    const struct {
        const char* name;
        QByteArray bytes;
    } rows[] = {
        {"windows-1250", kCzech1250},
        {"utf-8", kCzech.toUtf8()},
        {"utf-8 with BOM", "\xEF\xBB\xBF" + kCzech.toUtf8()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecodeText(row.bytes), kCzech);
    }
}

TEST(TextCodec, MalformedUtf8LinesFallBackToWindows1250)
{
    const struct {
        const char* name;
        QByteArray bytes;
        QString expected;
    } rows[] = {
        {"overlong slash", "\xC0\xAF", QStringLiteral("ŔŻ")},
        {"encoded surrogate", "\xED\xA0\x80", QStringLiteral("í\u00A0€")},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", QStringLiteral("ô\u0090€€")},
        {"truncated sequence", "ab\xC5", QStringLiteral("abĹ")},
        {"lone continuation", "\x80x", QStringLiteral("€x")},
        {"BOM before invalid text", "\xEF\xBB\xBF\xE8", QStringLiteral("ď»żč")},
        // A UTF-8 line typed into a Windows-1250 file: each line keeps its own encoding.
        {"utf-8 line among windows-1250 lines",
         kCzech1250 + "\r\n" + kCzech.toUtf8() + "\r\n" + kCzech1250,
         kCzech + "\r\n" + kCzech + "\r\n" + kCzech},
        {"BOM, utf-8 line, windows-1250 line", "\xEF\xBB\xBF" + kCzech.toUtf8() + "\n" + kCzech1250,
         kCzech + "\n" + kCzech},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecodeText(row.bytes), row.expected);
    }
}

TEST(TextCodec, EncodingChoice)
{
    const struct {
        const char* name;
        QString text;
        QByteArray expected;
    } rows[] = {
        {"ascii", QStringLiteral("COM1"), "COM1"},
        {"czech goes to windows-1250", kCzech, kCzech1250},
        {"euro and quotes", QStringLiteral("€„x“"), "\x80\x84x\x93"},
        {"no windows-1250 form", QStringLiteral("Ω ř"), QStringLiteral("Ω ř").toUtf8()},
        // Windows-1250 bytes C3 A9 are also UTF-8 for "é": written that way they would come back
        // as another text, so UTF-8 is used.
        {"windows-1250 bytes that look like utf-8", QStringLiteral("Ă©"),
         QStringLiteral("Ă©").toUtf8()},
        // ... also when another line could only be Windows-1250.
        {"such a line beside a czech one", QStringLiteral("Ă©\nř"),
         QStringLiteral("Ă©\nř").toUtf8()},
        {"embedded NUL", QString(QChar(0)) + u'a', QByteArray("\0a", 2)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EncodeText(row.text), row.expected);
        EXPECT_EQ(DecodeText(EncodeText(row.text)), row.text);
    }
}

TEST(TextCodec, FitsWindows1250)
{
    const struct {
        QString text;
        bool fits;
    } rows[] = {
        {QString(), true},
        {kCzech, true},
        {QStringLiteral("ŘŠČŽÝÁÍÉŮÚĎŤŇ řščžýáíéůúďťň"), true},
        {QString(QChar(0x81)), true}, // unassigned byte 81 still has a form of its own
        {QString(QChar(0x80)), false},
        {QStringLiteral("€"), true},
        {QStringLiteral("Ω"), false},
        {QStringLiteral("ø"), false},
        {QStringLiteral("😀"), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FitsWindows1250(row.text), row.fits) << row.text.toStdString();
}

TEST(TextCodec, RandomTextRoundTrips)
{
    // Mixes plain, Czech, unassigned-byte and foreign characters, and a leading byte order mark.
    const QString pool = QStringLiteral("aZ=[];\"' \t\r\nřŘůŮ€„\u0081\u0098éĂ©ΩЖ語\uFEFF");
    QRandomGenerator rng(1234);
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int len = int(rng.bounded(12));
        for (int i = 0; i < len; ++i)
            text += pool[int(rng.bounded(int(pool.size())))];
        ASSERT_EQ(DecodeText(EncodeText(text)), text) << text.toStdString();
    }
}
