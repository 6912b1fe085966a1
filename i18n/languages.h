#pragma once
// The four languages the flags offer, with their language, help and model folders.

#include <QString>
#include <QStringList>

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
// The pages that stand for a help file of the old platform, which has no viewer here, in the order
// they are looked for: the .html, then the .pdf of the same name beside it. The first is the one
// named when none exists.
QStringList HelpPageCandidates(const QString& helpFile);
