#pragma once
// The settings sheet: one regulator's settings on paper, for the pilot's own records or handed to a
// customer with the model. Built from the panel's state that the window draws and from the left
// column's texts as shown, so that the sheet and the screen cannot disagree; then rendered as plain
// text or HTML here, and as pages (print, PDF) in models/sheetprint. Widget-free.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class TPanelModel;
class TsmlMsgLangRes;

// One row: a caption and its value as the window shows it; unwritten when the regulator does not
// hold it yet.
struct TSheetLine {
    QString caption;
    QString value;
    bool unwritten = false;
};

struct TSheetSection {
    QString title;
    QList<TSheetLine> lines;
};

struct TSettingsSheet {
    QString title;    // the sheet and the regulator's name
    QString subtitle; // the program with its version, and when the sheet was made
    QString htmlLanguage;
    QList<TSheetSection> sections;
    QString unwrittenMark; // beside each unwritten row
    // What the marks mean and how many there are; empty when every setting is written.
    QString unwrittenNote;
};

// What a sheet is made of. The left column's fields come as caption and text, the captions in the
// window's language; a field without a text is left off (a file alone has no throttle limits).
struct TSheetSource {
    QString program; // name and version
    QDateTime made;
    QString languageCode;
    TSheetLine name, version, date;
    QString link;         // empty: no regulator
    QString file;         // the file the sheet was made from; empty: the regulator alone
    QString latestBackup; // the newest backup's name; empty: none
    TSheetLine throttleMin, throttleMax, poles, ratio, maxRpm;
    const TPanelModel* panel = nullptr; // display entries, option groups and the unwritten marks
};

TSettingsSheet BuildSettingsSheet(const TSheetSource& source, const TsmlMsgLangRes& messages);

QString SheetText(const TSettingsSheet& sheet);
// A whole document, UTF-8, that a browser shows and the print renderer lays out on pages.
QString SheetHtml(const TSettingsSheet& sheet);

// The captions of the left column in a language file's main window section ("Ln", "Lkorekcemin",
// …, "Lm"), for a sheet made without the window; the window's own built-in texts where the file
// has none. The trailing " : " of a label goes.
QString LeftColumnCaption(const QString& languageFile, const char* component);
// A caption as a row of a table shows it: without the label's colon and blanks.
QString SheetCaption(QString caption);
// The name of the newest backup of a model ("2025-03-14_09-26-53"); empty when it has none.
QString LatestBackupName(const QString& programDir, const QString& modelName);

// How a sheet is written, by the name of the output: text for "-" and ".txt", HTML for ".html" and
// ".htm", PDF otherwise.
enum class TSheetFormat { Text, Html, Pdf };
TSheetFormat SheetFormatFor(const QString& output);
