#include "i18n/qttranslations.h"

#include "common/profile.h"
#include "i18n/languages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <iterator>

namespace {

// Qt's locale for each flag in order; the user's language has none of its own.
const char* const kQtLocales[] = {"cs", "en", "de", ""};
static_assert(std::size(kQtLocales) == kLanguageCount);

const QString kMainSection = QStringLiteral("MainForm");

} // namespace

QString QtLocaleOf(const QString& code, const QString& languageFile)
{
    const QString named =
        GetPrivateProfileString(kMainSection, kQtLocaleKey, QString(), languageFile).trimmed();
    if (!named.isEmpty())
        return named;
    const int i = LanguageIndex(code);
    return i < 0 ? QString() : QString::fromLatin1(kQtLocales[i]);
}

QStringList QtTranslationFolders(const QString& programDir)
{
    return {programDir + QStringLiteral("Languages"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

TQtTranslations::TQtTranslations(QStringList folders) : folders_(std::move(folders)) {}

TQtTranslations::~TQtTranslations() { Select(QString()); }

bool TQtTranslations::Select(const QString& locale)
{
    if (translator_)
        QCoreApplication::removeTranslator(translator_.get());
    translator_.reset();
    installed_.clear();
    // A name QLocale does not know would fall back to the system's locale, not to English.
    const QLocale qtLocale(locale);
    if (locale.isEmpty() || qtLocale.language() == QLocale::C)
        return false;
    auto translator = std::make_unique<QTranslator>();
    for (const QString& folder : folders_) {
        if (translator->load(qtLocale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator.get());
            translator_ = std::move(translator);
            installed_ = locale;
            return true;
        }
    }
    return false;
}
