#pragma once
// Qt's own texts (the buttons of message boxes, the file dialogs, the context menus of text fields)
// in the language the flags chose. Qt ships them as qtbase_<locale>.qm; the language file may name
// the locale, else each shipped language has its own and the user's language keeps Qt's English.

#include <QString>
#include <QStringList>

#include <memory>

class QTranslator;

// The language file's key that names the locale of Qt's texts ("pl", "sk", "pt_BR"), in the
// section of the main window. "en" or a locale Qt has no translation for gives Qt's English.
inline const QString kQtLocaleKey = QStringLiteral("MainForm_QtLocale");

// The locale of Qt's texts for a language code and its language file (a full path).
QString QtLocaleOf(const QString& code, const QString& languageFile);

// Where Qt's translations are looked for, in order: the program folder's Languages folder (a
// portable copy can bring its own), then Qt's own translations folder.
QStringList QtTranslationFolders(const QString& programDir);

class TQtTranslations {
public:
    explicit TQtTranslations(QStringList folders);
    // Takes its translation off the application.
    ~TQtTranslations();
    TQtTranslations(const TQtTranslations&) = delete;
    TQtTranslations& operator=(const TQtTranslations&) = delete;

    // Puts Qt's translation for locale on the application in place of the one before; every
    // window then retranslates Qt's texts. Without a translation for locale (or for an empty one)
    // Qt's texts are English. True when a translation is installed.
    bool Select(const QString& locale);
    // The locale whose translation is installed; empty for Qt's English.
    QString Installed() const { return installed_; }

private:
    QStringList folders_;
    std::unique_ptr<QTranslator> translator_;
    QString installed_;
};
