#include "common/textcodec.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

// Windows-1250 upper half. The five bytes the code page leaves unassigned (81, 83, 88, 90, 98) map
// to the C1 control of the same number, as the platform's own converter does, so every byte
// survives a decode and encode round trip and rewriting a file never alters lines it did not touch.
// One table serves decoding, encoding and the fit test, so the three can never disagree.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

// Byte for every UTF-16 unit that has one; 0 marks "none" (U+0000 itself is handled apart).
const std::array<uint8_t, 0x10000>& ReverseTable()
{
    static const std::array<uint8_t, 0x10000> table = [] {
        std::array<uint8_t, 0x10000> t{};
        for (int b = 1; b < 0x80; ++b)
            t[b] = uint8_t(b);
        for (int i = 0; i < 0x80; ++i)
            t[kUpperHalf[i]] = uint8_t(0x80 + i);
        return t;
    }();
    return table;
}

int ToByte(char16_t c)
{
    if (c == 0)
        return 0;
    const uint8_t b = ReverseTable()[c];
    return b == 0 ? -1 : b;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. A Windows-1250 file full
// of Czech letters practically never passes this, so the test tells the two encodings apart.
bool IsValidUtf8(const char* p, qsizetype n)
{
    const auto* s = reinterpret_cast<const unsigned char*>(p);
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

const char kBom[] = "\xEF\xBB\xBF";

// The lines of bytes, each with its own line feed.
QList<QByteArrayView> Lines(const QByteArray& bytes)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    do {
        const qsizetype lf = bytes.indexOf('\n', start);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        lines.append(QByteArrayView(bytes).sliced(start, end - start));
        start = end;
    } while (start < bytes.size());
    return lines;
}

// The file's own mark is skipped by the caller; a second one is text and stays.
QString DecodeUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return utf8.decode(bytes);
}

bool IsAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

} // namespace

QString DecodeText(const QByteArray& bytes)
{
    const qsizetype skip = bytes.startsWith(kBom) ? 3 : 0;
    if (IsValidUtf8(bytes.constData() + skip, bytes.size() - skip))
        return DecodeUtf8(QByteArrayView(bytes).sliced(skip));
    // A file edited with more than one editor can mix the two: each line is read in its own
    // encoding, so one line typed in UTF-8 does not garble the accents of all the others.
    QString text;
    text.reserve(bytes.size());
    for (QByteArrayView line : Lines(bytes)) {
        const bool first = line.data() == bytes.constData();
        const qsizetype mark = first && line.startsWith(kBom) ? 3 : 0;
        if (IsValidUtf8(line.data() + mark, line.size() - mark))
            text += DecodeUtf8(line.sliced(mark));
        else
            text += DecodeWindows1250(line.toByteArray());
    }
    return text;
}

QString DecodeWindows1250(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uint8_t(bytes[i]);
        out[i] = QChar(b < 0x80 ? char16_t(b) : kUpperHalf[b - 0x80]);
    }
    return text;
}

bool FitsWindows1250(const QString& text)
{
    for (QChar c : text)
        if (ToByte(c.unicode()) < 0)
            return false;
    return true;
}

QByteArray EncodeText(const QString& text)
{
    if (FitsWindows1250(text)) {
        QByteArray bytes(text.size(), Qt::Uninitialized);
        bool ascii = true;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const int b = ToByte(text[i].unicode());
            ascii = ascii && b < 0x80;
            bytes[i] = char(b);
        }
        // Some letter pairs ("Ă©" and the like) encode to bytes that also read as valid UTF-8, and
        // DecodeText, which reads each line of such a file on its own, would then give back other
        // text; UTF-8 keeps such text intact.
        const QList<QByteArrayView> lines = Lines(bytes);
        if (ascii || std::none_of(lines.begin(), lines.end(), [](QByteArrayView line) {
                return !IsAscii(line) && IsValidUtf8(line.data(), line.size());
            }))
            return bytes;
    }
    QByteArray utf8 = text.toUtf8();
    // DecodeText drops one leading byte order mark; a text that really starts with U+FEFF keeps it.
    if (text.startsWith(QChar(0xFEFF)))
        utf8.prepend(kBom);
    return utf8;
}
