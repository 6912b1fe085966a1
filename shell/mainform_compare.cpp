// The window's way to the comparison and the backups: what they are shown from and what a load
// from them goes through.

#include "shell/mainform.h"

#include "models/backup.h"
#include "models/paramfile.h"
#include "models/parampanel.h"
#include "shell/filedialogs.h"
#include "shell/porovnani.h"

#include <QLabel>

TCompareHost TMainForm::CompareHost()
{
    TCompareHost host;
    host.programDir = env_.programDir;
    host.languageCode = settings_.language;
    host.panel = &panel_->Model();
    host.messages = &smlMsgLangRes1_;
    host.loadParameterFile = [this](const QString& fileName) { LoadParameterFile(fileName); };
    host.loadSettings = [this](const TFileSettings& settings) { LoadSettings(settings); };
    host.showError = [this](const QString& text) { ErrorBox(text); };
    host.loadBackup = [this](const TBackupEntry& backup) { LoadBackup(backup); };
    return host;
}

void TMainForm::LoadSettings(const TFileSettings& settings)
{
    if (!paramFiles_->LoadParameterLines(settings.lines) || !settings.throttle)
        return;
    TBlockFields fields = Fields();
    PutThrottleLimits(*settings.throttle, fields);
    ShowFields(fields);
}

// As korvalinex-cli restore puts a record into its panel: the window then writes exactly the
// block the backup holds. The values come from the backup's parameter file, shown as the file's.
void TMainForm::LoadBackup(const TBackupEntry& backup)
{
    const std::optional<TBlockImage> image =
        ImageFromReadPayload(backup.record.readPayload, backup.record.layout);
    if (!image || !LayoutMatches(backup.record.layout, *panel_)) {
        ErrorBox(smlMsgLangRes1_.Msg("Str143").arg(LnH->text()));
        return;
    }
    if (!paramFiles_->LoadParameterFile(backup.parameterPath))
        return;
    TBlockFields fields = Fields();
    PutBlockImage(*image, fields, *panel_);
    ShowFields(fields);
}

void TMainForm::PorovnatClick()
{
    InParameterFolder([this](const QString& folder) {
        const QString name = dialogs_->OpenDlg(TFileDialogRequest{
            folder, QString(), smlMsgLangRes1_.Msg("str84"), QStringLiteral("*.zeq")});
        if (!name.isEmpty())
            ShowComparison(CompareHost(), name, this);
    });
}

void TMainForm::ZalohyClick()
{
    InParameterFolder([this](const QString&) {
        TZalohy dlg(CompareHost(), LnH->text(), this);
        dlg.exec();
    });
}
