#include "tools/cli/diff.h"
#include "tools/cli/report.h"

#include "common/readfile.h"
#include "i18n/msglangres.h"
#include "models/modelfile.h"
#include "models/paramfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString Ms(int us) { return QStringLiteral("%1 ms").arg(us / 1000.0, 0, 'f', 2); }

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

// A text the read report would show as "-": nothing chosen, or a setting the file lacks.
QString Shown(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

// A field both sides know, as a row when it differs.
template <typename T>
void AddField(QList<TDiffRow>& rows, const char* kind, const std::optional<T>& a,
              const std::optional<T>& b, QString (*text)(const T&))
{
    if (!a || !b || *a == *b)
        return;
    rows.append({QString::fromLatin1(kind), -1, QString::fromLatin1(kind), text(*a), text(*b)});
}

QString UsText(const int& us) { return Ms(us); }
QString BytesText(const QByteArray& bytes) { return Hex(bytes); }

// A parameter file as "Otevřít ..." loads it into the panel; false, with one line that names the
// file and says what is wrong with it, when the loader refuses it.
bool LoadLikeTheWindow(IParameterPanel& panel, const TDiffFile& file,
                       const TsmlMsgLangRes& messages,
                       const std::function<void(const QString&)>& err)
{
    bool failed = false;
    TParameterFiles loader(panel, messages, [&](const QString& text) {
        failed = true;
        // The box's first line ("Cannot open the file") says less than the reason after it.
        QStringList parts = text.split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        if (parts.size() > 1)
            parts.removeFirst();
        err(messages.Msg("str236").arg(file.path, parts.join(QLatin1Char(' ')).trimmed()));
    });
    loader.LoadParameterLines(file.lines);
    return !failed;
}

} // namespace

std::optional<QStringList> ReadParameterLines(const QString& path, const TsmlMsgLangRes& messages,
                                              QString* error)
{
    const TFileRead read = ReadFileWithLimit(path, kParameterFileMaxBytes);
    if (!read.Ok()) {
        *error = messages.Msg("str236").arg(path, read.Reason());
        return std::nullopt;
    }
    return DecodeParameterFile(read.bytes);
}

std::optional<TDiffFile> ReadDiffFile(const QString& path, const TsmlMsgLangRes& messages,
                                      QString* error)
{
    TDiffFile file;
    file.path = path;
    if (QFileInfo(path).suffix().compare(kBackupRecordExtension, Qt::CaseInsensitive) != 0) {
        std::optional<QStringList> lines = ReadParameterLines(path, messages, error);
        if (!lines)
            return std::nullopt;
        file.lines = *lines;
        return file;
    }
    QString reason;
    file.record = LoadBackupRecord(path, &reason);
    if (file.record)
        file.image = ImageFromReadPayload(file.record->readPayload, file.record->layout);
    if (!file.image) {
        *error = messages.Msg("str138").arg(reason.isEmpty() ? path : reason);
        return std::nullopt;
    }
    return file;
}

TSettingsSide SideOf(const TDiffFile& file, const TPanelModel& panel)
{
    TSettingsSide side;
    if (!file.image) {
        side.lines = file.lines;
        return side;
    }
    side.lines = ParameterFileLines(panel);
    const int first = panel.DisplayCount() + 1;
    for (int g = 0; g < std::min<int>(panel.GroupCount(), int(file.image->itemIndexes.size())); ++g)
        side.lines[first + g] = QString::number(file.image->itemIndexes[g]);
    side.throttleMinUs = file.image->throttleMinUs;
    side.throttleMaxUs = file.image->throttleMaxUs;
    side.unassigned = file.image->unassigned;
    return side;
}

QList<TDiffRow> DiffSettings(const TPanelModel& panel, const TSettingsSide& panelSide,
                             const TSettingsSide& other, bool otherIsOld)
{
    QList<TDiffRow> rows;
    for (const TCompareRow& row : CompareWithFile(panel, other.lines)) {
        if (row.kind != TCompareRow::Kind::Group || !row.differs)
            continue;
        rows.append({QStringLiteral("group"), row.index, row.caption, row.panelText, row.fileText});
    }
    AddField(rows, "throttle-min", panelSide.throttleMinUs, other.throttleMinUs, UsText);
    AddField(rows, "throttle-max", panelSide.throttleMaxUs, other.throttleMaxUs, UsText);
    AddField(rows, "unassigned", panelSide.unassigned, other.unassigned, BytesText);
    if (otherIsOld)
        for (TDiffRow& row : rows)
            std::swap(row.oldText, row.newText);
    return rows;
}

QString DiffText(const QList<TDiffRow>& rows)
{
    QStringList lines;
    for (const TDiffRow& row : rows) {
        const QString head = row.index >= 0 ? QStringLiteral("[%1]").arg(row.caption)
                                            : QStringLiteral("%1:").arg(row.caption);
        lines << QStringLiteral("%1 %2 -> %3").arg(head, Shown(row.oldText), Shown(row.newText));
    }
    return lines.join(QLatin1Char('\n'));
}

QString DiffJson(const QList<TDiffRow>& rows, const QString& oldName, const QString& newName)
{
    QJsonArray array;
    for (const TDiffRow& row : rows) {
        QJsonObject o{{QStringLiteral("kind"), row.kind},
                      {QStringLiteral("caption"), row.caption},
                      {QStringLiteral("old"), row.oldText},
                      {QStringLiteral("new"), row.newText}};
        if (row.index >= 0)
            o[QStringLiteral("index")] = row.index;
        array.append(o);
    }
    const QJsonObject o{{QStringLiteral("schemaVersion"), kCliSchemaVersion},
                        {QStringLiteral("equal"), rows.isEmpty()},
                        {QStringLiteral("old"), oldName},
                        {QStringLiteral("new"), newName},
                        {QStringLiteral("rows"), array}};
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed();
}

int PrintDiff(const QList<TDiffRow>& rows, bool json, const QString& oldName,
              const QString& newName, const std::function<void(const QString&)>& out)
{
    if (json)
        out(DiffJson(rows, oldName, newName));
    else if (!rows.isEmpty())
        out(DiffText(rows));
    return rows.isEmpty() ? kExitOk : kExitDifferent;
}

int DiffFilesCommand(const TCliOptions& options, const QString& dataDir,
                     const TsmlMsgLangRes& messages, const std::function<void(const QString&)>& out,
                     const std::function<void(const QString&)>& err)
{
    QString error;
    std::optional<TDiffFile> files[2];
    for (int i = 0; i < 2; ++i) {
        files[i] = ReadDiffFile(i == 0 ? options.argument : options.argument2, messages, &error);
        if (!files[i]) {
            err(error);
            return kExitDiffTrouble;
        }
    }
    // The definition: --model, else a record's regulator; both given, they must agree.
    QString model = options.model;
    bool alternateScale = false;
    for (const std::optional<TDiffFile>& file : files) {
        if (!file->record)
            continue;
        const QString& name = file->record->identity.name;
        if (model.isEmpty())
            model = name;
        if (name != model) {
            err(messages.Msg("str248").arg(file->path, name, model));
            return kExitDiffTrouble;
        }
        alternateScale = file->record->alternateScale;
    }
    if (model.isEmpty()) {
        err(messages.Msg("str137").arg(messages.Msg("str161").arg(QStringLiteral("diff FILE FILE2"),
                                                                  QStringLiteral("--model NAME"))));
        return kExitUsage;
    }

    TPanelModel panel(
        messages, [](const QString&) {}, err);
    if (const int status =
            BuildFilePanel(panel, dataDir, options.language, model, alternateScale, messages, err);
        status != kExitOk)
        return status;

    // The first file fills the panel as the window would: a record as a restore, a parameter
    // file as "Otevřít ..." loads it.
    const TDiffFile& first = *files[0];
    TSettingsSide firstSide;
    if (first.image) {
        ApplyBlockImage(panel, *first.image);
        firstSide = SideOf(first, panel);
    } else if (!LoadLikeTheWindow(panel, first, messages, err)) {
        return kExitDiffTrouble;
    }
    // The second file is compared, not loaded; one the window would refuse is trouble all the same.
    if (!files[1]->image) {
        TPanelModel scratch(
            messages, [](const QString&) {}, [](const QString&) {});
        scratch.BuildParameterPanel({dataDir, options.language, model, alternateScale});
        if (!LoadLikeTheWindow(scratch, *files[1], messages, err))
            return kExitDiffTrouble;
    }
    for (const std::optional<TDiffFile>& file : files)
        if (!file->record)
            ReportUnfit(CheckParameterFit(panel, file->lines, messages),
                        messages.Msg("str247").arg(file->path, model), err);
    const QList<TDiffRow> rows = DiffSettings(panel, firstSide, SideOf(*files[1], panel));
    return PrintDiff(rows, options.json, first.path, files[1]->path, out);
}

int BuildFilePanel(TPanelModel& panel, const QString& dataDir, const QString& languageCode,
                   const QString& model, bool alternateScale, const TsmlMsgLangRes& messages,
                   const std::function<void(const QString&)>& err)
{
    panel.BuildParameterPanel({dataDir, languageCode, model, alternateScale});
    if (!panel.ModelFileMissing())
        return kExitOk;
    err(messages.Msg("str135").arg(ModelFilePath(dataDir, languageCode, model)));
    return kExitModelMissing;
}

bool ReportUnfit(const TParameterFit& fit, const QString& heading,
                 const std::function<void(const QString&)>& err)
{
    if (fit.Fits())
        return false;
    err(heading);
    for (const QString& problem : fit.problems)
        err(QStringLiteral("  ") + problem);
    return true;
}
