#pragma once
// A parameter file set against the panel it is meant for: does it fit the regulator's definition
// (as many value lines as display entries, as many group lines as option groups, every chosen item
// within its group), and which settings differ between the two. Shared by the window, which asks
// before loading a file that does not fit and shows a comparison, and by the command-line tool.
// Widget-free; captions come from the panel's model.

#include "models/panelmodel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class TsmlMsgLangRes;

// The parts of a parameter file: the value texts before the last "Data" line and the group lines
// after it. A file without the marker has no parts the check can place.
struct TParameterFileParts {
    bool hasMarker = false;
    QStringList values;
    QStringList groups;
};
TParameterFileParts SplitParameterFile(const QStringList& lines);

// What does not fit, each a short text in the user's language; empty when the file fits.
struct TParameterFit {
    QStringList problems;
    bool Fits() const { return problems.isEmpty(); }
    // The problems on one line, the first few only ("…" when there are more).
    QString Summary(int most = 3) const;
};
TParameterFit CheckParameterFit(const TPanelModel& panel, const QStringList& fileLines,
                                const TsmlMsgLangRes& messages);

// What a file holds for the panel: a parameter file's lines and, where the file holds them (a
// backup's record does, a parameter file does not), the throttle limits.
struct TFileSettings {
    QStringList lines;
    std::optional<TThrottleLimits> throttle;
};

// A throttle limit as the window's field shows it: milliseconds, two decimals, the user's locale.
QString ThrottleText(int us);

// One setting of the comparison: a display entry, an option group or a throttle limit, its
// caption, what the panel holds and what the file holds, as the user reads them (value texts, item
// texts, limits in ms).
struct TCompareRow {
    enum class Kind { Value, Group, Throttle };
    Kind kind = Kind::Value;
    int index = 0; // display entry k, group g, or the throttle limit (0 min, 1 max)
    QString caption;
    QString panelText;
    QString fileText;
    bool differs = false;
};

// Every display entry and every option group of the panel, in the panel's order. The display
// entries are values the regulator reports, not settings: they are shown beside the file's copy of
// them but never differ. A group the file lacks shows an empty file text and differs; a group line
// that names no item of its group shows the line as it stands. Lines beyond the panel's settings
// are not rows (the fit check reports them).
QList<TCompareRow> CompareWithFile(const TPanelModel& panel, const QStringList& fileLines);
// The same, and after the groups the two throttle limits when the file holds them, set against
// the limits the panel was last shown with; their captions are the window's own (the main window's
// section of languageFile, the built-in Czech without one).
QList<TCompareRow> CompareWithFile(const TPanelModel& panel, const TFileSettings& file,
                                   const QString& languageFile);
int CountDifferences(const QList<TCompareRow>& rows);
// The rows that are settings (option groups, throttle limits).
int CountSettings(const QList<TCompareRow>& rows);

// Taking only some settings from a file: the panel's own file with the lines of the groups given
// (from 0) taken from the file, to be loaded as any file is. The values and the other groups stay
// as the panel has them, and so does a group the file lacks.
QStringList TakeGroups(const TPanelModel& panel, const QStringList& fileLines,
                       const QList<int>& groups);
// The same for rows of a comparison: the groups among them as TakeGroups takes them, and with a
// throttle limit among them the limits to show, the other one as the panel has it. No limits when
// none is taken.
TFileSettings TakeSettings(const TPanelModel& panel, const TFileSettings& file,
                           const QList<TCompareRow>& taken);
// The groups that names pick, each a caption as the model definition has it (case and the blanks
// around it aside) or a group's number from 1, as the fit check counts them; nothing, with
// *unknown the first name that is neither.
// The option groups' captions, in order, as FindGroups matches them.
QStringList GroupCaptions(const TPanelModel& panel);
std::optional<QList<int>> FindGroups(const TPanelModel& panel, const QStringList& names,
                                     QString* unknown);
