#pragma once
// The form component: translates the string and string-list properties of its window and of every
// component the window owns, those made at run time included (the parameter panel's groups and
// labels). Keys are the component's name, "_" and the property name ("Button1_Caption",
// "sui0_Items[2]"); the window's own keys use the window's name.

#include "i18n/langres.h"

#include <QStringList>
#include <functional>

class TsmlFormLangRes : public TsmlLangRes {
    Q_OBJECT
public:
    explicit TsmlFormLangRes(QObject* owner, const QString& programDir = QString());

    const QStringList& StringProperties() const { return stringProperties_; }
    void SetStringProperties(const QStringList& names);
    const QStringList& StringsProperties() const { return stringsProperties_; }
    void SetStringsProperties(const QStringList& names);
    const QStringList& IgnoreControls() const { return ignoreControls_; }
    void SetIgnoreControls(const QStringList& names);
    bool IgnoreFormCaption() const { return ignoreFormCaption_; }
    void SetIgnoreFormCaption(bool on);
    // The windows of this program hold no list or tree views: both stay false.
    bool IncludeListViewItems() const { return false; }
    bool IncludeTreeViewItems() const { return false; }

    void ApplyLanguage() override;

    // Every key this component would look up, with the text in force, in the order it reads them;
    // the font keys are left out.
    QList<QPair<QString, QString>> Texts();

private:
    using Visitor = std::function<void(const QString& key, const QString& current,
                                       const std::function<void(const QString&)>& set)>;
    void Visit(const Visitor& visit);
    void VisitObject(QObject* obj, const QString& stem, bool isWindow, const Visitor& visit);
    void VisitOwned(QObject* parent, const Visitor& visit);
    bool IsIgnored(QObject* obj) const;
    void ApplyFont();

    QStringList stringProperties_{QStringLiteral("Caption")};
    QStringList stringsProperties_{QStringLiteral("Tabs"), QStringLiteral("Items")};
    QStringList ignoreControls_;
    bool ignoreFormCaption_ = false;
};

// A font size as the language files give it: decimal, or hexadecimal after "0x" or "$", with an
// optional sign; 0 for anything else.
int ParseFontSize(const QString& text);
