// The window as the connection cycle draws it (the throttle and motor fields, the regulator's
// identity, the status texts and progress, which controls may be used) and what it does when the
// cycle tells it what happened.

#include "shell/mainform.h"
#include "shell/mainform_parts.h"

#include "link/portname.h"
#include "models/paramfile.h"
#include "models/parampanel.h"
#include "shell/messageboxes.h"
#include "shell/numedit.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using MainFormParts::FitValue;

void TMainForm::ErrorBox(const QString& text)
{
    boxes_->Show(TBoxKind::Error, smlMsgLangRes1_.Msg("str2"), text);
}

// What the cycle asks for during its handling is shown once that handling has returned.
void TMainForm::ShowError(const QString& text)
{
    boxes_->Post(TBoxKind::Error, smlMsgLangRes1_.Msg("str2"), text);
}

void TMainForm::ReportError(const QString& text)
{
    boxes_->Post(TBoxKind::General, kGeneralErrorCaption, text);
}

TBlockFields TMainForm::Fields() const
{
    TBlockFields f;
    f.throttleMin = LKorekceA->Value();
    f.throttleMax = LKorekceB->Value();
    f.poles = EPocPolu->text();
    f.ratio = EPrevPom->text();
    f.maxRpmEnabled = LmH->isEnabled();
    f.maxRpmText = LmH->text();
    return f;
}

void TMainForm::ShowFields(const TBlockFields& f)
{
    LKorekceA->SetValue(f.throttleMin);
    LKorekceB->SetValue(f.throttleMax);
    // A text set only where it changed: each setting reaches the user's settings as typed.
    if (EPocPolu->text() != f.poles)
        EPocPolu->setText(f.poles);
    if (EPrevPom->text() != f.ratio)
        EPrevPom->setText(f.ratio);
    Lm->setEnabled(f.maxRpmEnabled);
    LmH->setEnabled(f.maxRpmEnabled);
    LmH->setText(f.maxRpmText);
    FitValue(LmH);
    NameControls();
}

void TMainForm::ShowIdentity(const TRegulatorIdentity* identity)
{
    if (identity)
        EEPROM1->setVisible(identity->KeepsLog());
    LnH->setText(identity ? identity->name : kNamePlaceholder);
    LvH->setText(identity ? identity->version : kValuePlaceholder);
    LaH->setText(identity ? identity->date : kDatePlaceholder);
    for (QLabel* l : {LnH, LvH, LaH})
        FitValue(l);
    ShowNotConnectedHelp();
    NameControls();
}

void TMainForm::ShowConnected(bool connected)
{
    connected_ = connected;
    StatusPanel1->setText(smlMsgLangRes1_.Msg(connected ? "str60" : "str4"));
    ShowNotConnectedHelp();
}

void TMainForm::ShowReplyBuffer(const QString& caption) { Label3->setText(caption); }

void TMainForm::SetProgress(int bar, int position) { (bar == 1 ? PB1 : PB2)->setValue(position); }

void TMainForm::SetTransferButtonsEnabled(bool on)
{
    Button1->setEnabled(on);
    Button2->setEnabled(on);
    Button3->setEnabled(on);
    if (EEPROM1->isVisible())
        EEPROM1->setEnabled(on);
}

void TMainForm::ShowProgressHint(const QString& text) { SetApplicationHint(text); }

void TMainForm::SetRegulatorControlsEnabled(bool on)
{
    LKorekceA->setEnabled(on);
    LKorekceB->setEnabled(on);
    Open->setEnabled(on);
    Saveas->setEnabled(on);
    Porovnat->setEnabled(on);
    // The backups are those of the model whose panel stands, and the sheet is that panel's.
    const bool panel = on && ParameterPanelExists(*panel_);
    Zalohy->setEnabled(panel);
    Tisk->setEnabled(panel);
    UlozitPdf->setEnabled(panel);
}

// ---- what the cycle tells -------------------------------------------------------------------

void TMainForm::Identified(const TIdentifiedEvent&)
{
    // Backups say which link their regulator was on: the one it has just answered on.
    if (settings_.device == QLatin1String("COM")) {
        const QString device = DevicePathForPortName(settings_.com);
        backups_->SetLink(device.isEmpty() ? settings_.com : device);
    } else {
        backups_->SetLink(UsbBackupLink(ownUsbLink_ ? ownUsbLink_->OpenSerialNo() : QString()));
    }
}

void TMainForm::LinkError(const TLinkErrorEvent&)
{
    // During a write the one box says what the lost line means for the settings.
    if (write_ && !write_->acknowledged)
        WriteInDoubt(smlMsgLangRes1_.Msg("str53"));
    else
        ShowError(smlMsgLangRes1_.Msg("str53"));
}

void TMainForm::LogEnded(const TLogEvent& event)
{
    if (event.ending == TLogEnding::BadCommunication)
        boxes_->Post(TBoxKind::Plain, QString(), smlMsgLangRes1_.Msg(kEepromBadCommunicationKey));
}
