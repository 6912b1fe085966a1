#include "i18n/langprops.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaProperty>
#include <QTabBar>
#include <QTabWidget>

namespace {

template <class T> bool Is(const QObject* o) { return qobject_cast<const T*>(o) != nullptr; }

bool IsWindow(const QObject* o)
{
    const auto* w = qobject_cast<const QWidget*>(o);
    return w && w->isWindow();
}

bool IsWidget(const QObject* o) { return o->isWidgetType(); }

QButtonGroup* RadioButtons(const QObject* o)
{
    if (!Is<QGroupBox>(o))
        return nullptr;
    return o->findChild<QButtonGroup*>(QString(), Qt::FindDirectChildrenOnly);
}

bool IsRadioGroup(const QObject* o) { return RadioButtons(o) != nullptr; }

// One string property of one kind of object. The first row whose kind and name match wins.
struct StringRow {
    const char* name;
    bool (*applies)(const QObject*);
    QString (*get)(QObject*);
    void (*set)(QObject*, const QString&);
};

const StringRow kStringRows[] = {
    {"Caption", IsWindow, [](QObject* o) { return static_cast<QWidget*>(o)->windowTitle(); },
     [](QObject* o, const QString& v) { static_cast<QWidget*>(o)->setWindowTitle(v); }},
    {"Caption", Is<QLabel>, [](QObject* o) { return static_cast<QLabel*>(o)->text(); },
     [](QObject* o, const QString& v) { static_cast<QLabel*>(o)->setText(v); }},
    {"Caption", Is<QAbstractButton>,
     [](QObject* o) { return static_cast<QAbstractButton*>(o)->text(); },
     [](QObject* o, const QString& v) { static_cast<QAbstractButton*>(o)->setText(v); }},
    {"Caption", Is<QGroupBox>, [](QObject* o) { return static_cast<QGroupBox*>(o)->title(); },
     [](QObject* o, const QString& v) { static_cast<QGroupBox*>(o)->setTitle(v); }},
    {"Caption", Is<QAction>, [](QObject* o) { return MenuItemCaption(static_cast<QAction*>(o)); },
     [](QObject* o, const QString& v) { static_cast<QAction*>(o)->setText(v); }},
    {"Text", Is<QLineEdit>, [](QObject* o) { return static_cast<QLineEdit*>(o)->text(); },
     [](QObject* o, const QString& v) { static_cast<QLineEdit*>(o)->setText(v); }},
    {"Hint", IsWidget, [](QObject* o) { return o->property(kHintProperty).toString(); },
     [](QObject* o, const QString& v) { o->setProperty(kHintProperty, v); }},
};

// One string-list property of one kind of object.
struct ListRow {
    const char* name;
    bool (*applies)(const QObject*);
    QStringList (*get)(QObject*);
    void (*set)(QObject*, int, const QString&);
};

const ListRow kListRows[] = {
    {"Items", IsRadioGroup,
     [](QObject* o) {
         QStringList items;
         for (QAbstractButton* b : RadioButtons(o)->buttons())
             items.append(b->text());
         return items;
     },
     [](QObject* o, int i, const QString& v) { RadioButtons(o)->buttons().at(i)->setText(v); }},
    {"Items", Is<QComboBox>,
     [](QObject* o) {
         auto* c = static_cast<QComboBox*>(o);
         QStringList items;
         for (int i = 0; i < c->count(); ++i)
             items.append(c->itemText(i));
         return items;
     },
     [](QObject* o, int i, const QString& v) { static_cast<QComboBox*>(o)->setItemText(i, v); }},
    {"Items", Is<QListWidget>,
     [](QObject* o) {
         auto* l = static_cast<QListWidget*>(o);
         QStringList items;
         for (int i = 0; i < l->count(); ++i)
             items.append(l->item(i)->text());
         return items;
     },
     [](QObject* o, int i, const QString& v) {
         static_cast<QListWidget*>(o)->item(i)->setText(v);
     }},
    {"Tabs", Is<QTabWidget>,
     [](QObject* o) {
         auto* t = static_cast<QTabWidget*>(o);
         QStringList tabs;
         for (int i = 0; i < t->count(); ++i)
             tabs.append(t->tabText(i));
         return tabs;
     },
     [](QObject* o, int i, const QString& v) { static_cast<QTabWidget*>(o)->setTabText(i, v); }},
    {"Tabs", Is<QTabBar>,
     [](QObject* o) {
         auto* t = static_cast<QTabBar*>(o);
         QStringList tabs;
         for (int i = 0; i < t->count(); ++i)
             tabs.append(t->tabText(i));
         return tabs;
     },
     [](QObject* o, int i, const QString& v) { static_cast<QTabBar*>(o)->setTabText(i, v); }},
};

// A non-visual component's own text property, declared or set at run time.
std::optional<TLangProperty> ObjectProperty(QObject* obj, const QString& name)
{
    const QMetaObject* meta = obj->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (p.isWritable() && p.metaType().id() == QMetaType::QString &&
            name.compare(QLatin1String(p.name()), Qt::CaseInsensitive) == 0) {
            return TLangProperty{[obj, p] { return p.read(obj).toString(); },
                                 [obj, p](const QString& v) { p.write(obj, v); }};
        }
    }
    for (const QByteArray& dynamic : obj->dynamicPropertyNames()) {
        if (name.compare(QString::fromLatin1(dynamic), Qt::CaseInsensitive) == 0 &&
            obj->property(dynamic).metaType().id() == QMetaType::QString) {
            return TLangProperty{
                [obj, dynamic] { return obj->property(dynamic).toString(); },
                [obj, dynamic](const QString& v) { obj->setProperty(dynamic, v); }};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<TLangProperty> FindStringProperty(QObject* obj, const QString& name)
{
    if (!obj)
        return std::nullopt;
    for (const StringRow& row : kStringRows) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0 && row.applies(obj)) {
            auto get = row.get;
            auto set = row.set;
            return TLangProperty{[obj, get] { return get(obj); },
                                 [obj, set](const QString& v) { set(obj, v); }};
        }
    }
    if (obj->isWidgetType() || Is<QAction>(obj))
        return std::nullopt;
    return ObjectProperty(obj, name);
}

std::optional<TLangListProperty> FindStringsProperty(QObject* obj, const QString& name)
{
    if (!obj)
        return std::nullopt;
    for (const ListRow& row : kListRows) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0 && row.applies(obj)) {
            auto get = row.get;
            auto set = row.set;
            return TLangListProperty{[obj, get] { return get(obj); },
                                     [obj, set](int i, const QString& v) { set(obj, i, v); }};
        }
    }
    return std::nullopt;
}

bool OwnsItsParts(const QObject* obj) { return IsRadioGroup(obj); }

QString MenuItemCaption(const QAction* item)
{
    return item->isSeparator() ? QStringLiteral("-") : item->text();
}

QString MenuItemName(const QAction* item)
{
    if (!item->objectName().isEmpty() || !item->menu())
        return item->objectName();
    return item->menu()->objectName();
}
