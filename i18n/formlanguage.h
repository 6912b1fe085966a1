#pragma once
// The hook by which a secondary window takes the current language whenever it becomes active.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TsmlFormLangRes;

// What a secondary window does on activation: its own form component (a direct child of form)
// takes the language file of code; for a code other than the four, or without such a component,
// nothing changes. True when a file was applied.
bool ApplyCurrentLanguage(QWidget* form, const QString& code);

// Gives form its own form component (section: form's object name; the given string properties,
// "Tabs" and "Items"; the window caption included) and makes it take the language of
// currentCode() each time form becomes the active window. The component starts with "DefLang.ini".
TsmlFormLangRes*
AttachFormLanguage(QWidget* form, const QString& programDir, std::function<QString()> currentCode,
                   const QStringList& stringProperties = {QStringLiteral("Caption")});
