#include "i18n/languages.h"

#include <QFileInfo>

int LanguageIndex(const QString& code)
{
    for (int i = 0; i < kLanguageCount; ++i)
        if (code == QLatin1String(kLanguages[i].code))
            return i;
    return -1;
}

QString LanguageFileOf(const QString& code)
{
    const int i = LanguageIndex(code);
    return i < 0 ? QString() : QString::fromLatin1(kLanguages[i].languageFile);
}

QStringList HelpPageCandidates(const QString& helpFile)
{
    const QFileInfo info(helpFile);
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
    return {base + QStringLiteral(".html"), base + QStringLiteral(".pdf")};
}
