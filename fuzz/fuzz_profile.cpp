// Profile files as users and other programs write them: setup.ini, model definition files,
// language files. Any bytes load; every section and key reads; a key written and saved reads back.

#include "common/profile.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString key = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(8))).trimmed();
    const QString value = QString::fromUtf8(Bytes(in.ConsumeRandomLengthString(40)));
    const QByteArray file = Bytes(in.ConsumeRemainingBytesAsString());
    FuzzWrite(QStringLiteral("setup.ini"), file);

    TProfileFile profile(FuzzProgramDir() + QStringLiteral("setup.ini"));
    if (!profile.Load())
        return 0;
    for (const QString& section : profile.SectionNames()) {
        for (const QString& line : profile.SectionLines(section)) {
            const QString name = line.section(QLatin1Char('='), 0, 0);
            FUZZ_CHECK(profile.ReadString(section, name, QString()).size() <= kProfileValueMax);
        }
    }

    // Names that the layer cannot hold (blank, with "=", "]" or line breaks) are not ours to write.
    if (key.isEmpty() || key.contains(QLatin1Char('=')) || key.contains(QLatin1Char(']')) ||
        key.contains(QLatin1Char(';')) || key.contains(QLatin1Char('[')))
        return 0;
    for (QChar c : key)
        if (c.unicode() < 0x20)
            return 0;
    profile.WriteString(QStringLiteral("SETUP"), key, value);
    FUZZ_CHECK(profile.Save());
    TProfileFile again(profile.Path());
    FUZZ_CHECK(again.Load());
    QString expected = value;
    expected.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString got = again.ReadString(QStringLiteral("SETUP"), key, QStringLiteral("\x01"));
    // Blanks (spaces and tabs, no other white space) and one pair of quotes around a value are
    // trimmed on reading, as on the old platform.
    QString trimmed = expected;
    while (!trimmed.isEmpty() && (trimmed.front() == u' ' || trimmed.front() == u'\t'))
        trimmed.remove(0, 1);
    while (!trimmed.isEmpty() && (trimmed.back() == u' ' || trimmed.back() == u'\t'))
        trimmed.chop(1);
    if (trimmed.size() >= 2 &&
        (trimmed.front() == QLatin1Char('"') || trimmed.front() == QLatin1Char('\'')) &&
        trimmed.back() == trimmed.front())
        trimmed = trimmed.mid(1, trimmed.size() - 2);
    FUZZ_CHECK(got == trimmed.left(kProfileValueMax));
    return 0;
}
