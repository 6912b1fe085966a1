#pragma once
// korvalinex-cli diff, and what write --dry-run and --if-different show: the settings that differ
// between two sides, each the regulator as read, a parameter file or a backup's record. A setting
// is an option group, and where both sides know them the throttle limits and the unassigned bytes;
// the display entries are read-only values the regulator measures, not settings, and are not
// compared. Two files are compared on the panel of a model definition named by --model or by a
// backup's record; no link is opened then.

#include "models/backup.h"
#include "models/panelmodel.h"
#include "models/paramcompare.h"
#include "tools/cli/options.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class TsmlMsgLangRes;

// A file given to diff: a backup's record (".txt", as the backup folder holds them) or a parameter
// file (anything else, a backup's .zeq included).
struct TDiffFile {
    QString path;
    QStringList lines;                   // a parameter file's lines
    std::optional<TBackupRecord> record; // a backup's record
    std::optional<TBlockImage> image;    // what the record's block puts back
};
// Nothing, with *error the text to show, for a file that cannot be read or a damaged record.
std::optional<TDiffFile> ReadDiffFile(const QString& path, const TsmlMsgLangRes& messages,
                                      QString* error);
// A parameter file's lines; nothing, with *error the text the loader shows, when it cannot be read.
std::optional<QStringList> ReadParameterLines(const QString& path, const TsmlMsgLangRes& messages,
                                              QString* error);

// The settings of one side beside the panel: the groups as parameter file lines, and the throttle
// limits and unassigned bytes where the side knows them (a parameter file does not).
struct TSettingsSide {
    QStringList lines;
    std::optional<int> throttleMinUs, throttleMaxUs;
    std::optional<QByteArray> unassigned;
};
// A file as a side against the panel. A record's groups beyond its block keep the panel's item, as
// a restore leaves them.
TSettingsSide SideOf(const TDiffFile& file, const TPanelModel& panel);

// One setting that differs. Groups have their index; the others a fixed name as the read report
// has it: throttle-min, throttle-max, unassigned.
struct TDiffRow {
    QString kind; // "group", "throttle-min", "throttle-max", "unassigned"
    int index = -1;
    QString caption;
    QString oldText, newText;
};
// The settings where the panel (with its own limits and bytes in panelSide) and the other side
// differ. The panel's side is the old one unless otherIsOld.
QList<TDiffRow> DiffSettings(const TPanelModel& panel, const TSettingsSide& panelSide,
                             const TSettingsSide& other, bool otherIsOld = false);

// The rows as lines of text ("[Brake] Off -> Soft", "throttle-max: 2.00 ms -> 2.10 ms"), or as
// one JSON object: {"equal", "old", "new", "rows": [{"kind", "index", "caption", "old", "new"}]}.
QString DiffText(const QList<TDiffRow>& rows);
QString DiffJson(const QList<TDiffRow>& rows, const QString& oldName, const QString& newName);
// The old side's name in the JSON object when it is the regulator.
inline const QString kRegulatorSide = QStringLiteral("regulator");

// The output of a comparison and its exit status: 0 the same, 1 different. Nothing is printed for
// equal sides in text, as diff(1) does; with --json the object is always printed.
int PrintDiff(const QList<TDiffRow>& rows, bool json, const QString& oldName,
              const QString& newName, const std::function<void(const QString&)>& out);

// What does not fit, under its heading, one problem a line, on stderr; false when the file fits.
bool ReportUnfit(const TParameterFit& fit, const QString& heading,
                 const std::function<void(const QString&)>& err);

// The panel of a model's definition for files without a regulator: kExitOk, or kExitModelMissing
// with the file that is missing said on err.
int BuildFilePanel(TPanelModel& panel, const QString& dataDir, const QString& languageCode,
                   const QString& model, bool alternateScale, const TsmlMsgLangRes& messages,
                   const std::function<void(const QString&)>& err);

// diff FILE FILE2: no link; the exit status.
int DiffFilesCommand(const TCliOptions& options, const QString& dataDir,
                     const TsmlMsgLangRes& messages, const std::function<void(const QString&)>& out,
                     const std::function<void(const QString&)>& err);
