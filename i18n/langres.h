#pragma once
// The language components: one abstract base and three kinds that any window can carry. Each reads
// the section named after its owner window from a language file and puts the texts it finds into
// the owner's captions, hints, menu items or messages.
//
// Every text is read with its own open and close of the file, so an edited language file takes
// effect at the next application; an empty or missing value keeps the text in force, so a text
// that a language file does not know stays in the language it was last set in.

#include "common/errors.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

inline const QString kDefLangFile = QStringLiteral("DefLang.ini");
inline const QString kOwnerError = QStringLiteral("Owner must be a Form or a DataModule!");

// A language component given an owner that is neither a window nor a non-visual container.
class ELangResError : public EKorvalinexError {
public:
    using EKorvalinexError::EKorvalinexError;
};

// Tells whether a widget is a window. The core of the language components links no widget code:
// the widget half (formlangres.cpp) installs the test as the program starts.
using TWidgetWindowTest = bool (*)(const QObject* widget);
void SetWidgetWindowTest(TWidgetWindowTest test);

class TsmlLangRes : public QObject {
    Q_OBJECT
public:
    ~TsmlLangRes() override;

    // The window (or non-visual container) whose component name is the section read.
    QObject* Owner() const { return owner_; }
    QString Section() const;

    bool Active() const { return active_; }
    void SetActive(bool on);
    // The file name part of the language file.
    QString LangFileName() const;
    // The program directory followed by the name given to SetLangFileName.
    QString LangFilePath() const { return langFile_; }
    void SetLangFileName(const QString& name);
    bool IgnoreEmptyString() const { return ignoreEmptyString_; }
    void SetIgnoreEmptyString(bool on);
    // Writes a text whose key the language file lacks into the file: a way to make template files.
    bool AutoCreateMode() const { return autoCreateMode_; }
    void SetAutoCreateMode(bool on);
    const QString& ProgramDir() const { return programDir_; }

    // Applies the language file when the component is active.
    void Reapply();
    virtual void ApplyLanguage() = 0;

protected:
    // Throws ELangResError (kOwnerError) unless owner is a window or a non-visual container.
    // programDir ends with "/"; empty means the executable's directory.
    TsmlLangRes(QObject* owner, const QString& programDir);
    // A component without owner: it reads nothing (the message table outside any window).
    TsmlLangRes();

    // The reading rule for one text: the value of key in the owner's section when it is not empty,
    // else nothing (the text in force stays). With AutoCreateMode a missing key is written with
    // the text in force.
    std::optional<QString> ReadText(const QString& key, const QString& current) const;

private:
    QPointer<QObject> owner_;
    QString programDir_;
    QString langFile_;
    bool active_ = false;
    bool ignoreEmptyString_ = false;
    bool autoCreateMode_ = true;
};
