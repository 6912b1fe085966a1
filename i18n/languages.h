#pragma once
// The four languages the flags offer, with their language, help and model folders, and the hook by
// which a secondary window takes the current language whenever it becomes active.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TsmlFormLangRes;

struct TLanguage {
    const char* code;         // the setting LANGUAGE
    const char* languageFile; // relative to the program directory
    const char* helpFile;     // relative to the program directory
};

// In the order of the flags Image2, Image3, Image4 and Image5.
inline constexpr TLanguage kLanguages[] = {
    {"CZ", "Languages/CZ.ini", "Help/HelpCZ.HLP"},
    {"EN", "Languages/EN.ini", "Help/HelpEN.HLP"},
    {"GE", "Languages/GE.ini", "Help/HelpGE.HLP"},
    {"Other", "Languages/Other.ini", "Help/Other.HLP"},
};
inline constexpr int kLanguageCount = 4;

// The index of a language code (exact, case-sensitive), or -1.
int LanguageIndex(const QString& code);
// The language file of a code relative to the program directory; empty for other codes.
QString LanguageFileOf(const QString& code);

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
