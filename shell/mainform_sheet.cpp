// The settings sheet from the window: made of the panel's model and the left column's texts as they
// stand, so that paper and screen agree; printed through the system's print dialog or saved as a
// PDF beside the model's parameter files.

#include "shell/mainform.h"

#include "common/atomicfile.h"
#include "models/parampanel.h"
#include "models/settingssheet.h"
#include "models/sheetprint.h"
#include "shell/filedialogs.h"
#include "shell/numedit.h"

#include <QFileInfo>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>

namespace {

const QString kProgram = QStringLiteral("Korvalinex " KX_VERSION);

QDateTime Now(const TimeSource& now) { return now ? now() : QDateTime::currentDateTime(); }

} // namespace

TSettingsSheet TMainForm::MakeSheet() const
{
    TSheetSource s;
    s.program = kProgram;
    s.made = Now(env_.now);
    s.languageCode = settings_.language;
    s.name = {Ln->text(), LnH->text()};
    s.version = {Lv->text(), LvH->text()};
    s.date = {La->text(), LaH->text()};
    s.link = backups_->Link();
    s.latestBackup = LatestBackupName(env_.programDir, LnH->text());
    s.throttleMin = {Lkorekcemin->text(), LKorekceA->text()};
    s.throttleMax = {Lkorekcemax->text(), LKorekceB->text()};
    s.poles = {LPocPolu->text(), EPocPolu->text()};
    s.ratio = {LPrevPom->text(), Label4->text().trimmed() + EPrevPom->text()};
    s.maxRpm = {Lm->text(), LmH->text()};
    s.panel = &panel_->Model();
    return BuildSettingsSheet(s, smlMsgLangRes1_);
}

void TMainForm::TiskClick()
{
    InParameterFolder([this](const QString&) {
        const TSettingsSheet sheet = MakeSheet();
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(sheet.title);
        printer.setCreator(kProgram);
        bool chosen = false;
        if (env_.choosePrinter) {
            chosen = env_.choosePrinter(printer);
        } else {
            QPrintDialog dialog(&printer, this);
            dialog.setObjectName(QStringLiteral("PrintDialog"));
            chosen = dialog.exec() == QDialog::Accepted;
        }
        if (chosen)
            PrintSheet(sheet, printer);
    });
}

void TMainForm::UlozitPdfClick()
{
    InParameterFolder([this](const QString& folder) {
        const QString proposed = QStringLiteral("%1/%2_%3.pdf")
                                     .arg(folder, LnH->text().trimmed(),
                                          Now(env_.now).toString(QStringLiteral("yyyy-MM-dd")));
        // "Ne" to the overwrite question shows the dialog anew.
        for (;;) {
            const QString name = dialogs_->SaveDlg(TFileDialogRequest{
                folder, proposed, smlMsgLangRes1_.Msg("str332"), QStringLiteral("*.pdf")});
            if (name.isEmpty())
                return;
            if (QFileInfo::exists(name) && !AskOverwrite())
                continue;
            QString reason;
            if (!WriteFileAtomically(name, SheetPdf(MakeSheet(), kProgram), &reason))
                ErrorBox(smlMsgLangRes1_.Msg("str3") + QStringLiteral("\r\r") + reason);
            return;
        }
    });
}
