// The window as the connection cycle sees it: the throttle and motor fields, the regulator's
// identity, the status texts and progress, and which controls may be used.

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

void TMainForm::ShowError(const QString& text) { boxes_->Show(TBoxKind::Error, Msg("str2"), text); }

double TMainForm::ThrottleMin() const { return LKorekceA->Value(); }
double TMainForm::ThrottleMax() const { return LKorekceB->Value(); }
void TMainForm::SetThrottleMin(double ms) { LKorekceA->SetValue(ms); }
void TMainForm::SetThrottleMax(double ms) { LKorekceB->SetValue(ms); }
QString TMainForm::VersionCaption() const { return LvH->text(); }
QString TMainForm::PoleText() const { return EPocPolu->text(); }
void TMainForm::SetPoleText(const QString& text) { EPocPolu->setText(text); }
QString TMainForm::RatioText() const { return EPrevPom->text(); }
void TMainForm::SetRatioText(const QString& text) { EPrevPom->setText(text); }

void TMainForm::EnableMaxRpm()
{
    Lm->setEnabled(true);
    LmH->setEnabled(true);
}

void TMainForm::DisableMaxRpm()
{
    Lm->setEnabled(false);
    LmH->setEnabled(false);
}

void TMainForm::SetMaxRpmText(const QString& text)
{
    LmH->setText(text);
    FitValue(LmH);
}

void TMainForm::SetIdentity(const QString& name, const QString& version, const QString& date)
{
    LnH->setText(name);
    LvH->setText(version);
    LaH->setText(date);
    for (QLabel* l : {LnH, LvH, LaH})
        FitValue(l);
    // Backups say which link their regulator was on: the one it has just answered on.
    if (name == kNamePlaceholder)
        return;
    if (settings_.device == QLatin1String("COM")) {
        const QString device = DevicePathForPortName(settings_.com);
        backups_->SetLink(device.isEmpty() ? settings_.com : device);
    } else {
        backups_->SetLink(UsbBackupLink(ownUsbLink_ ? ownUsbLink_->OpenSerialNo() : QString()));
    }
}

QString TMainForm::RegulatorName() const { return LnH->text(); }
void TMainForm::ShowStatus(const QString& text) { StatusPanel1->setText(text); }
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

void TMainForm::ShowPlainMessage(const QString& text)
{
    boxes_->Show(TBoxKind::Plain, QString(), text);
}

void TMainForm::SetEepromVisible(bool on) { EEPROM1->setVisible(on); }

void TMainForm::SetThrottleEnabled(bool on)
{
    LKorekceA->setEnabled(on);
    LKorekceB->setEnabled(on);
}

void TMainForm::SetFileMenuEnabled(bool on)
{
    Open->setEnabled(on);
    Saveas->setEnabled(on);
    Porovnat->setEnabled(on);
    // The backups are those of the model whose panel stands, and the sheet is that panel's.
    const bool panel = on && ParameterPanelExists(*panel_);
    Zalohy->setEnabled(panel);
    Tisk->setEnabled(panel);
    UlozitPdf->setEnabled(panel);
}
