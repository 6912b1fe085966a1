// The files of write and diff: read once before the link is opened, checked against the
// regulator's definition once it is identified, compared with what it holds, and loaded into the
// panel as the window's "Otevřít ..." does.

#include "tools/cli/cliview.h"
#include "tools/cli/session.h"

#include "i18n/msglangres.h"
#include "models/paramfile.h"
#include "protocol/paramblock.h"
#include "tools/cli/report.h"

bool TCliSession::ReadFiles()
{
    QString error;
    const bool diff = options_.command == QLatin1String("diff");
    if (diff || (options_.command == QLatin1String("sheet") && !options_.argument.isEmpty())) {
        diffFile_ = ReadDiffFile(options_.argument, messages_, &error);
        if (diffFile_)
            return true;
        env_.err(error);
        Finish(diff ? kExitDiffTrouble : kExitFailure, true);
        return false;
    }
    if (options_.command != QLatin1String("write"))
        return true;
    const std::optional<QStringList> lines =
        ReadParameterLines(options_.argument, messages_, &error);
    if (!lines) {
        env_.err(error);
        Finish(kExitFailure);
        return false;
    }
    writeLines_ = *lines;
    // A file without its marker fits no regulator: that needs no model to tell. The empty panel
    // makes the check stop at the marker.
    if (!options_.force && !SplitParameterFile(writeLines_).hasMarker) {
        ReportUnfit(CheckParameterFit(panel_, writeLines_, messages_),
                    messages_.Msg("str246").arg(options_.argument), env_.err);
        Finish(kExitDoesNotFit);
        return false;
    }
    return true;
}

bool TCliSession::FileFitsRegulator()
{
    const QString& name = cycle_->Identity().name;
    if (diffFile_ && diffFile_->record && diffFile_->record->identity.name != name) {
        env_.err(messages_.Msg("str139").arg(diffFile_->record->identity.name, name));
        Finish(options_.command == QLatin1String("diff") ? kExitDiffTrouble : kExitDoesNotFit,
               true);
        return false;
    }
    // A sheet shows a file as the window loads it: one that does not fit is refused, as a write
    // refuses it.
    if (diffFile_ && !diffFile_->record && options_.command == QLatin1String("sheet") &&
        ReportUnfit(CheckParameterFit(panel_, diffFile_->lines, messages_),
                    messages_.Msg("str247").arg(diffFile_->path, name), env_.err)) {
        Finish(kExitDoesNotFit);
        return false;
    }
    // Nothing is backed up or written for a file that does not fit, unless --force says to write
    // what fits.
    if (options_.command == QLatin1String("write") && !options_.force &&
        ReportUnfit(CheckParameterFit(panel_, writeLines_, messages_),
                    messages_.Msg("str246").arg(options_.argument), env_.err)) {
        Finish(kExitDoesNotFit);
        return false;
    }
    return true;
}

TSettingsSide TCliSession::RegulatorSide() const
{
    const TReadReport report = view_->Report(panel_);
    TSettingsSide side;
    side.lines = ParameterFileLines(panel_);
    side.throttleMinUs = report.throttleMinUs;
    side.throttleMaxUs = report.throttleMaxUs;
    side.unassigned = panel_.UnassignedBytes();
    return side;
}

void TCliSession::Diff()
{
    if (!diffFile_->record)
        ReportUnfit(CheckParameterFit(panel_, diffFile_->lines, messages_),
                    messages_.Msg("str247").arg(diffFile_->path, cycle_->Identity().name),
                    env_.err);
    const QList<TDiffRow> rows = DiffSettings(panel_, RegulatorSide(), SideOf(*diffFile_, panel_));
    Finish(PrintDiff(rows, options_.json, kRegulatorSide, diffFile_->path, env_.out), true);
}

bool TCliSession::LoadLines(const QStringList& lines)
{
    bool loadFailed = false;
    // One line that names the file and says what is wrong with it, as a terminal shows it.
    TParameterFiles files(panel_, messages_, [&](const QString& text) {
        loadFailed = true;
        QStringList parts = text.split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        if (parts.size() > 1)
            parts.removeFirst(); // "Cannot open the file": the reason says more
        Error(
            messages_.Msg("str236").arg(options_.argument, parts.join(QLatin1Char(' ')).trimmed()));
    });
    files.LoadParameterLines(lines);
    return !loadFailed;
}

void TCliSession::Write()
{
    // As the window's "Otevřít ...": the file fills the panel, the throttle limits stay.
    const TSettingsSide before = RegulatorSide();
    // The lines the fit check saw, read once before the link was opened; with --only the
    // regulator's own file with just those groups taken from it.
    QStringList lines = writeLines_;
    if (!options_.only.isEmpty()) {
        QString unknown;
        const std::optional<QList<int>> groups = FindGroups(panel_, options_.only, &unknown);
        if (!groups) {
            Error(messages_.Msg("str334").arg(unknown, cycle_->Identity().name,
                                              GroupCaptions(panel_).join(QStringLiteral(", "))));
            return Finish(kExitUsage);
        }
        lines = TakeGroups(panel_, writeLines_, *groups);
    }
    if (!LoadLines(lines))
        return Finish(kExitFailure);
    view_->SetThrottle(options_.throttleMin.value_or(view_->Block().throttleMin),
                       options_.throttleMax.value_or(view_->Block().throttleMax));
    const QByteArray payload = BuildWritePayload(view_->Block(), panel_);
    const bool unchanged = payload == HeldPayload();
    if (!options_.dryRun && !(options_.ifDifferent && unchanged))
        return StartWrite(payload);
    // What the write changes: the regulator as read against the panel as it would be sent.
    const QList<TDiffRow> rows = DiffSettings(panel_, RegulatorSide(), before, true);
    if (options_.json)
        env_.out(DiffJson(rows, kRegulatorSide, options_.argument));
    else
        env_.out(unchanged || rows.isEmpty() ? QStringLiteral("unchanged") : DiffText(rows));
    Finish(kExitOk);
}
