#include "tools/cli/sheet.h"

#include "common/atomicfile.h"
#include "i18n/msglangres.h"
#include "models/panelmodel.h"
#include "models/paramcompare.h"
#include "models/paramfile.h"
#include "models/sheetprint.h"
#include "protocol/cycle.h"
#include "tools/cli/diff.h"

#include <QGuiApplication>

namespace {

const QString kCliSheetProgram = QStringLiteral("Korvalinex " KX_VERSION);

// As the window's throttle fields show a limit.
QString Ms(double ms) { return ThrottleText(ToWire(ms)); }

} // namespace

TSheetSource CliSheetSource(const TsmlMsgLangRes& messages, const QString& languageCode,
                            const TBlockFields* fields, const TPanelModel& panel)
{
    const QString file = messages.LangFilePath();
    auto caption = [&](const char* component) { return LeftColumnCaption(file, component); };
    TSheetSource s;
    s.program = kCliSheetProgram;
    s.languageCode = languageCode;
    s.name.caption = caption("Ln");
    s.version.caption = caption("Lv");
    s.date.caption = caption("La");
    s.throttleMin.caption = caption("Lkorekcemin");
    s.throttleMax.caption = caption("Lkorekcemax");
    s.poles.caption = caption("LPocPolu");
    s.ratio.caption = caption("LPrevPom");
    s.maxRpm.caption = caption("Lm");
    if (fields) {
        s.throttleMin.value = Ms(fields->throttleMin);
        s.throttleMax.value = Ms(fields->throttleMax);
        s.poles.value = fields->poles;
        s.ratio.value = caption("Label4").trimmed() + fields->ratio;
        s.maxRpm.value = fields->maxRpmText;
    }
    s.panel = &panel;
    return s;
}

int WriteSheet(const TSettingsSheet& sheet, const QString& output, const TsmlMsgLangRes& messages,
               const TSheetOutputs& outputs)
{
    if (output == QLatin1String("-")) {
        outputs.outBytes(SheetText(sheet).toUtf8());
        return kExitOk;
    }
    QByteArray bytes;
    switch (SheetFormatFor(output)) {
    case TSheetFormat::Text:
        bytes = SheetText(sheet).toUtf8();
        break;
    case TSheetFormat::Html:
        bytes = SheetHtml(sheet).toUtf8();
        break;
    case TSheetFormat::Pdf:
        // Pages need fonts, which a QCoreApplication does not load: main makes the application
        // one with a (screenless) GUI for a PDF.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            outputs.err(messages.Msg("str140").arg(output, QStringLiteral("no QGuiApplication")));
            return kExitFailure;
        }
        bytes = SheetPdf(sheet, kCliSheetProgram);
        break;
    }
    QString reason;
    if (!WriteFileAtomically(output, bytes, &reason)) {
        outputs.err(messages.Msg("str140").arg(output, reason));
        return kExitFailure;
    }
    if (outputs.verbosity >= kNormal)
        outputs.err(messages.Msg("str335").arg(output));
    return kExitOk;
}

int SheetFileCommand(const TCliOptions& options, const QString& dataDir,
                     const TsmlMsgLangRes& messages, const QDateTime& now,
                     const TSheetOutputs& outputs)
{
    QString error;
    const std::optional<TDiffFile> file = ReadDiffFile(options.argument, messages, &error);
    if (!file) {
        outputs.err(error);
        return kExitFailure;
    }
    const TBackupRecord* record = file->record ? &*file->record : nullptr;
    const QString model = record ? record->identity.name : options.model;
    if (model.isEmpty()) {
        outputs.err(messages.Msg("str137").arg(messages.Msg("str161").arg(
            QStringLiteral("sheet FILE.zeq"), QStringLiteral("--model NAME"))));
        return kExitUsage;
    }
    TPanelModel panel(
        messages, [](const QString&) {}, outputs.err);
    if (const int status = BuildFilePanel(panel, dataDir, options.language, model,
                                          record && record->alternateScale, messages, outputs.err);
        status != kExitOk)
        return status;

    std::optional<TBlockFields> fields;
    if (record) {
        // The block as the regulator sent it, decoded as a read decodes it: the measured values
        // and the speed of that moment.
        TBlockFields given;
        given.poles = options.poles;
        given.ratio = options.ratio;
        given.maxRpmText = kValuePlaceholder;
        const DecodeOutcome decoded = DecodeReadReply(record->readPayload, record->identity.version,
                                                      given, panel, {dataDir, &messages});
        for (const QString& text : decoded.errors)
            outputs.err(text);
        fields = decoded.fields;
    } else {
        bool failed = false;
        TParameterFiles loader(panel, messages, [&](const QString& text) {
            failed = true;
            outputs.err(text.simplified());
        });
        ReportUnfit(CheckParameterFit(panel, file->lines, messages),
                    messages.Msg("str247").arg(file->path, model), outputs.err);
        loader.LoadParameterLines(file->lines);
        if (failed)
            return kExitFailure;
    }

    TSheetSource source =
        CliSheetSource(messages, options.language, fields ? &*fields : nullptr, panel);
    source.made = now;
    source.name.value = model;
    if (record) {
        source.version.value = record->identity.version;
        source.date.value = record->identity.date;
        source.link = record->link;
    }
    source.file = file->path;
    source.latestBackup = LatestBackupName(dataDir, model);
    return WriteSheet(BuildSettingsSheet(source, messages), options.output, messages, outputs);
}
