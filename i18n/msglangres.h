#pragma once
// The message component: named messages that the code asks for by key ("str53"). Its built-in
// lines hold the Czech texts; a language file may replace each of them (language switch).

#include <QString>
#include <QStringList>

class TsmlMsgLangRes {
public:
    TsmlMsgLangRes();

    // Lines of the form key "=" text. The built-in lines are the Czech message table.
    const QStringList& MsgList() const { return msgList_; }
    void SetMsgList(const QStringList& lines) { msgList_ = lines; }

    // The text after the first "=" of the first line whose name (the part before the first "=")
    // equals key regardless of case; empty when no line matches.
    QString LookupMessage(const QString& key) const;

    static QStringList BuiltInMessages();

private:
    QStringList msgList_;
};
