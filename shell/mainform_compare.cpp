// The window's way to the comparison and the backups: what they are shown from and what a load
// from them goes through.

#include "shell/mainform.h"

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
    host.loadParameterLines = [this](const QStringList& lines) {
        paramFiles_->LoadParameterLines(lines);
    };
    host.showError = [this](const QString& text) { ErrorBox(text); };
    return host;
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
