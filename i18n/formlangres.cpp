#include "i18n/formlangres.h"

#include "common/profile.h"
#include "i18n/langprops.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QWidget>

namespace {

// Installed before main runs, in every program that links the form component.
const bool kWindowTestInstalled = [] {
    SetWidgetWindowTest(
        [](const QObject* o) { return static_cast<const QWidget*>(o)->isWindow(); });
    return true;
}();

} // namespace

TsmlFormLangRes::TsmlFormLangRes(QObject* owner, const QString& programDir)
    : TsmlLangRes(owner, programDir)
{
}

void TsmlFormLangRes::SetStringProperties(const QStringList& names)
{
    stringProperties_ = names;
    Reapply();
}

void TsmlFormLangRes::SetStringsProperties(const QStringList& names)
{
    stringsProperties_ = names;
    Reapply();
}

void TsmlFormLangRes::SetIgnoreControls(const QStringList& names)
{
    ignoreControls_ = names;
    Reapply();
}

void TsmlFormLangRes::SetIgnoreFormCaption(bool on)
{
    ignoreFormCaption_ = on;
    Reapply();
}

int ParseFontSize(const QString& text)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.startsWith(QLatin1Char('-'));
        t = t.mid(1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t = t.mid(2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t = t.mid(1);
    }
    bool ok = false;
    const int value = t.toInt(&ok, base);
    // toInt would take a second sign after the prefix; a size has one at most.
    if (!ok || t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')))
        return 0;
    return negative ? -value : value;
}

void TsmlFormLangRes::ApplyFont()
{
    auto* window = qobject_cast<QWidget*>(Owner());
    if (!window)
        return;
    const QString stem = Section();
    QFont font = window->font();
    bool changed = false;
    if (const auto name = ReadText(stem + QLatin1String("_FontName"), font.family())) {
        font.setFamily(*name);
        changed = true;
    }
    const int size = ParseFontSize(GetPrivateProfileString(stem, stem + QLatin1String("_FontSize"),
                                                           QStringLiteral("0"), LangFilePath()));
    // A negative size is a height in pixels, as the old font sizes had it.
    if (size > 0) {
        font.setPointSize(size);
        changed = true;
    } else if (size < 0) {
        font.setPixelSize(-size);
        changed = true;
    }
    if (changed)
        window->setFont(font);
}

void TsmlFormLangRes::ApplyLanguage()
{
    if (!qobject_cast<QWidget*>(Owner()))
        return;
    ApplyFont();
    Visit([this](const QString& key, const QString& current,
                 const std::function<void(const QString&)>& set) {
        if (const auto value = ReadText(key, current))
            set(*value);
    });
}

QList<QPair<QString, QString>> TsmlFormLangRes::Texts()
{
    QList<QPair<QString, QString>> texts;
    if (!qobject_cast<QWidget*>(Owner()))
        return texts;
    Visit([&texts](const QString& key, const QString& current,
                   const std::function<void(const QString&)>&) {
        texts.append({key, current});
    });
    return texts;
}

void TsmlFormLangRes::Visit(const Visitor& visit)
{
    VisitObject(Owner(), Section(), true, visit);
    VisitOwned(Owner(), visit);
}

void TsmlFormLangRes::VisitObject(QObject* obj, const QString& stem, bool isWindow,
                                  const Visitor& visit)
{
    for (const QString& name : stringProperties_) {
        if (isWindow && ignoreFormCaption_ && name == QLatin1String("Caption"))
            continue;
        if (const auto prop = FindStringProperty(obj, name))
            visit(stem + QLatin1Char('_') + name, prop->get(), prop->set);
    }
    for (const QString& name : stringsProperties_) {
        const auto prop = FindStringsProperty(obj, name);
        if (!prop)
            continue;
        const QStringList lines = prop->get();
        for (int i = 0; i < lines.size(); ++i) {
            auto set = prop->set;
            visit(QStringLiteral("%1_%2[%3]").arg(stem, name).arg(i), lines[i],
                  [set, i](const QString& v) { set(i, v); });
        }
    }
}

// Qt keeps what the window owns as a tree of children; its components are the named objects of
// that tree. Other windows (dialogs, menus' pop-ups) carry their own language components and are
// left to them.
void TsmlFormLangRes::VisitOwned(QObject* parent, const Visitor& visit)
{
    // A copy: a translated text may make a widget create or drop children.
    const QObjectList children = parent->children();
    for (QObject* child : children) {
        const auto* w = qobject_cast<QWidget*>(child);
        if (w && w->isWindow())
            continue;
        if (qobject_cast<QMenu*>(child) || qobject_cast<QAction*>(child))
            continue; // menu items belong to the menu component
        if (!IsIgnored(child))
            VisitObject(child, child->objectName(), false, visit);
        if (!OwnsItsParts(child))
            VisitOwned(child, visit);
    }
}

bool TsmlFormLangRes::IsIgnored(QObject* obj) const
{
    const QString name = obj->objectName();
    // Unnamed objects and Qt's own parts of a widget are not components of the window.
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
        return true;
    if (qobject_cast<TsmlFormLangRes*>(obj) || qobject_cast<QTimer*>(obj))
        return true;
    return ignoreControls_.contains(name);
}
