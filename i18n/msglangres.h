#pragma once
// The message component: named messages that the code asks for by key ("str53"). Its built-in
// lines hold the Czech texts; the language file of the chosen language replaces each of them.

#include "i18n/langres.h"

#include <QString>
#include <QStringList>

class TsmlMsgLangRes : public TsmlLangRes {
    Q_OBJECT
public:
    // The built-in table alone, owned by no window: it never reads a language file.
    TsmlMsgLangRes();
    // A component of owner (a window), reading "DefLang.ini" in programDir until told otherwise.
    explicit TsmlMsgLangRes(QObject* owner, const QString& programDir = QString());

    // Lines of the form key "=" text. The built-in lines are the Czech message table. Every change
    // of the list applies the language file again, except while the file is being applied.
    const QStringList& MsgList() const { return msgList_; }
    void SetMsgList(const QStringList& lines);
    bool Applying() const { return applying_; }

    // The text after the first "=" of the first line whose name (the part before the first "=")
    // equals key regardless of case; empty when no line matches.
    QString LookupMessage(const QString& key) const;
    // The same for a key written in the code ("str53").
    QString Msg(const char* key) const { return LookupMessage(QString::fromLatin1(key)); }

    void ApplyLanguage() override;

    static QStringList BuiltInMessages();

private:
    QStringList msgList_;
    bool applying_ = false;
};
