// Every text korvalinex-cli shows is a message with a text in each language file; --lang picks the
// file, even for a command line that does not parse.

#include "tests/cli/clifixture.h"

#include "common/profile.h"
#include "i18n/languages.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <set>

namespace {

const QString kSection = QStringLiteral("MainForm");

QString LanguageFile(const TLanguage& language)
{
    return QStringLiteral(KX_SOURCE_DIR "/data/") + QString::fromLatin1(language.languageFile);
}

// The message keys the tool's own code asks for, and those of the shared code it reports.
std::set<QString> ToolMessageKeys()
{
    std::set<QString> keys = {"str4",   "str53",  "str113", "str116",
                              "str130", "str131", "str132", "str210"};
    const QRegularExpression key(QStringLiteral("\"(str\\d+)\""));
    QDirIterator files(QStringLiteral(KX_SOURCE_DIR "/tools/cli"), {"*.cpp", "*.h"});
    while (files.hasNext()) {
        QFile f(files.next());
        f.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(f.readAll());
        for (auto it = key.globalMatch(text); it.hasNext();)
            keys.insert(it.next().captured(1));
    }
    // The usage texts and the complaints about a command line are asked for by number.
    for (int n : {146, 147, 148, 149, 159, 160, 161, 162, 245, 521, 333})
        keys.insert(QStringLiteral("str%1").arg(n));
    for (int n = 150; n <= 158; ++n)
        keys.insert(QStringLiteral("str%1").arg(n));
    return keys;
}

TEST(CliMessages, EveryKeyHasATextInEveryLanguage)
{
    const std::set<QString> keys = ToolMessageKeys();
    ASSERT_GE(keys.size(), 30u);
    const TsmlMsgLangRes builtIn;
    for (const QString& k : keys) {
        EXPECT_FALSE(builtIn.LookupMessage(k).isEmpty()) << "built-in " << k.toStdString();
        for (const TLanguage& language : kLanguages)
            EXPECT_FALSE(GetPrivateProfileString(kSection, k, "", LanguageFile(language)).isEmpty())
                << language.code << " " << k.toStdString();
    }
}

// The program itself, with the language files in its data folder: a link error and a wrong
// command line, each in the language asked for.
TEST(CliMessages, LangPicksTheLanguageFile)
{
    TProgramDir dir;
    for (const TLanguage& language : kLanguages)
        dir.Write(language.languageFile, ReadBytes(LanguageFile(language)));
    auto run = [&](const QStringList& args) {
        const TRunResult r = RunProgram(KX_CLI_PROGRAM, args + QStringList{"--data", dir.Path()});
        return std::make_pair(r.status, r.err);
    };
    for (const TLanguage& language : kLanguages) {
        SCOPED_TRACE(language.code);
        const QString file = LanguageFile(language);
        auto text = [&](const char* key) {
            return GetPrivateProfileString(kSection, key, "", file);
        };

        const auto [linkStatus, linkErr] =
            run({"identify", "--lang", language.code, "--port", dir.File("nothing-here")});
        EXPECT_EQ(linkStatus, kExitLinkError);
        // A port error names the device tried.
        EXPECT_TRUE(linkErr.startsWith(text("Str235").arg(dir.File("nothing-here"), "")))
            << linkErr.toStdString();

        const auto [usageStatus, usageErr] = run({"read", "--bogus", "--lang", language.code});
        EXPECT_EQ(usageStatus, kExitUsage);
        EXPECT_TRUE(usageErr.startsWith(text("Str137").arg(text("Str148").arg("read", "--bogus"))))
            << usageErr.toStdString();
    }
    // English is English.
    EXPECT_TRUE(run({"write", "--lang", "EN"})
                    .second.startsWith("Wrong command line: write needs FILE.zeq"));
}

} // namespace
