#pragma once
// The one place where the property names of the language files ("Caption", "Hint", "Text",
// "Items", "Tabs", "Button1Caption", …) meet the properties of Qt's widgets. A translator writes
// keys such as Button1_Caption or MessageDlg_Button1Caption; this table says which Qt property of
// which kind of object they change.
//
// Widgets are matched by kind. An object that is not a widget (a non-visual component such as the
// overwrite question, or a caption holder) is matched by its own Qt properties, regardless of case.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QAction;

struct TLangProperty {
    std::function<QString()> get;
    std::function<void(const QString&)> set;
};

struct TLangListProperty {
    std::function<QStringList()> get;
    std::function<void(int, const QString&)> set;
};

// The string property called name (regardless of case) of obj; nothing when it has none. A window's
// "Caption" is its window title.
std::optional<TLangProperty> FindStringProperty(QObject* obj, const QString& name);
// The string-list property called name (regardless of case) of obj; nothing when it has none.
std::optional<TLangListProperty> FindStringsProperty(QObject* obj, const QString& name);

// Objects whose children are parts of themselves rather than components of the window: a radio
// group's buttons are its "Items".
bool OwnsItsParts(const QObject* obj);

// A menu item's caption as the language files see it: a separator reads "-".
QString MenuItemCaption(const QAction* item);
// A menu item's name: the action's own, or for a menu's title item that of the menu.
QString MenuItemName(const QAction* item);

// The hint of a widget lives in this dynamic property; the window's hint handler reads it.
inline constexpr char kHintProperty[] = "hint";
