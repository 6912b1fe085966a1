// What the user does in the window: the menus, the language flags, the parameter files and the
// fields of the left column.

#include "shell/mainform.h"
#include "shell/mainform_parts.h"

#include "common/errors.h"
#include "common/numbers.h"
#include "diagnose/checks.h"
#include "diagnose/linkwatch.h"
#include "i18n/languages.h"
#include "models/paramcompare.h"
#include "models/paramfile.h"
#include "models/parampanel.h"
#include "shell/about.h"
#include "shell/filedialogs.h"
#include "shell/kontrola.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/numedit.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QUrl>

#include <algorithm>

using MainFormParts::TPresencePause;

bool TMainForm::AskOverwrite()
{
    return boxes_->Ask(messageDlg_.caption, messageDlg_.text, messageDlg_.button1Caption,
                       messageDlg_.button2Caption, TDefaultAnswer::Yes);
}

void TMainForm::Button2Click() { cycle_->StartWrite(); }
void TMainForm::EEPROM1Click() { cycle_->StartLogDownload(); }

void TMainForm::SetupClick() { Nastaveni()->exec(); }

void TMainForm::HelpClick()
{
    if (helpFile_.isEmpty()) {
        boxes_->Show(TBoxKind::Plain, QString(), smlMsgLangRes1_.Msg("str94"));
        return;
    }
    const QStringList pages = HelpPageCandidates(helpFile_);
    const auto page = std::find_if(pages.begin(), pages.end(),
                                   [](const QString& p) { return QFileInfo(p).isFile(); });
    if (page == pages.end()) {
        boxes_->Show(TBoxKind::Plain, QString(), smlMsgLangRes1_.Msg("str93").arg(pages.first()));
        return;
    }
    // Without a viewer the desktop does nothing visible: the user is told where the page is.
    if (!openUrl_(QUrl::fromLocalFile(*page)))
        ErrorBox(smlMsgLangRes1_.Msg("str205").arg(*page));
}

void TMainForm::KontrolaClick()
{
    if (env_.showCheck)
        return env_.showCheck(CheckFindings());
    TKontrolaHost host;
    host.programDir = env_.programDir;
    host.languageCode = settings_.language;
    host.messages = &smlMsgLangRes1_;
    host.check = [this] { return CheckFindings(); };
    // Over the settings dialog when it asks.
    QWidget* over = QApplication::activeModalWidget();
    TKontrola window(std::move(host), over ? over : this);
    window.exec();
}

QList<TFinding> TMainForm::CheckFindings()
{
    const TCheckedLink link = LinkOfSettings(settings_);
    return CheckMachine(TMachine(), link, smlMsgLangRes1_, env_.programDir) +
           LinkFindings(linkWatch_, {link, env_.programDir, settings_.language, usbProblem_},
                        smlMsgLangRes1_);
}

void TMainForm::UvodDemoClick()
{
    const auto start = env_.startDemo ? env_.startDemo : [](QString* reason) {
        QProcess demo;
        demo.setProgram(QCoreApplication::applicationFilePath());
        demo.setArguments({QStringLiteral("--demo")});
        if (demo.startDetached())
            return true;
        *reason = demo.errorString();
        return false;
    };
    QString reason;
    if (!start(&reason))
        ErrorBox(FillMessage(smlMsgLangRes1_, QStringLiteral("Str520"), {reason}));
}

void TMainForm::AboutSWClick()
{
    TAbout about(settings_.language, env_.programDir, this);
    about.exec();
}

void TMainForm::Image2Click(QLabel* flag)
{
    const QLabel* images[] = {Image2, Image3, Image4, Image5};
    for (int i = 0; i < 4; ++i)
        if (images[i] == flag)
            SelectLanguage(i);
}

// ---- parameter files
// ------------------------------------------------------------------------------------

// The file dialogs work on the panel in the folder of the regulator's model; no presence query may
// run while one is open.
void TMainForm::InParameterFolder(const std::function<void(const QString& folder)>& fn)
{
    if (!ParameterPanelExists(*panel_)) {
        ErrorBox(smlMsgLangRes1_.Msg("str110"));
        return;
    }
    const TPresencePause pause(cycle_->PresenceTimer());
    const QString folder = ParameterFolder(env_.programDir, LnH->text());
    RunGuarded([&] { fn(folder); });
}

void TMainForm::OpenClick()
{
    InParameterFolder([this](const QString& folder) {
        const QString name = dialogs_->OpenDlg(TFileDialogRequest{
            folder, QString(), smlMsgLangRes1_.Msg("str84"), QStringLiteral("*.zeq")});
        if (!name.isEmpty())
            LoadParameterFile(name);
    });
}

void TMainForm::SaveasClick()
{
    InParameterFolder([this](const QString& folder) {
        // "Ne" to the overwrite question shows the dialog anew with the proposed name.
        for (;;) {
            const QString name = dialogs_->SaveDlg(
                TFileDialogRequest{folder, folder + QLatin1Char('/') + kParamFileProposedName,
                                   kParamFileSaveFilter, QStringLiteral("*.zeq")});
            if (name.isEmpty() || SaveParameterFile(name))
                break;
        }
    });
}

void TMainForm::LoadParameterFile(const QString& fileName)
{
    if (!ParameterPanelExists(*panel_)) {
        ErrorBox(smlMsgLangRes1_.Msg("str110"));
        return;
    }
    // A file made for another model would fill this one only in part, and quietly: the user
    // decides, with what does not fit in front of him, and "Ne" is the answer Enter gives.
    paramFiles_->LoadParameterFile(fileName, [&](const QStringList& lines) {
        const TParameterFit fit = CheckParameterFit(panel_->Model(), lines, smlMsgLangRes1_);
        if (fit.Fits())
            return true;
        // The problems stand on a line of their own, so the first begins as a sentence does.
        QString problems = fit.Summary();
        problems[0] = problems[0].toUpper();
        const QString text = smlMsgLangRes1_.Msg("Str261").arg(QFileInfo(fileName).fileName()) +
                             QLatin1Char('\r') + problems + QLatin1Char('\r') +
                             smlMsgLangRes1_.Msg("Str262");
        return boxes_->Ask(messageDlg_.caption, text, messageDlg_.button1Caption,
                           messageDlg_.button2Caption, TDefaultAnswer::No);
    });
}

bool TMainForm::SaveParameterFile(const QString& fileName)
{
    if (QFileInfo::exists(fileName) && !AskOverwrite())
        return false;
    paramFiles_->SaveParameterFile(fileName);
    return true;
}

// ---- left column
// ----------------------------------------------------------------------------------------

void TMainForm::StepThrottle(TNumEdit* edit, double step, double low, double high)
{
    if (!edit->isEnabled())
        return;
    double v = edit->Value() + step;
    // Compared on the floating-point value: 1.39 + 0.01 shows as 1.40 whichever side of 1.4 it
    // falls.
    if (step > 0 && v > high)
        v = high;
    if (step < 0 && v < low)
        v = low;
    edit->SetValue(v);
}

void TMainForm::ClampThrottle(TNumEdit* edit, double low, double high)
{
    double v = 0;
    if (!edit->text().isEmpty()) {
        try {
            v = TextToFloat(edit->text());
        } catch (const EConvertError&) {
            v = edit->Value();
        }
    }
    edit->SetValue(std::clamp(v, low, high));
}

void TMainForm::UpAClick()
{
    StepThrottle(LKorekceA, kThrottleStep, kThrottleMinLow, kThrottleMinHigh);
}
void TMainForm::DowAClick()
{
    StepThrottle(LKorekceA, -kThrottleStep, kThrottleMinLow, kThrottleMinHigh);
}
void TMainForm::UpBClick()
{
    StepThrottle(LKorekceB, kThrottleStep, kThrottleMaxLow, kThrottleMaxHigh);
}
void TMainForm::DowBClick()
{
    StepThrottle(LKorekceB, -kThrottleStep, kThrottleMaxLow, kThrottleMaxHigh);
}
void TMainForm::LKorekceAExit() { ClampThrottle(LKorekceA, kThrottleMinLow, kThrottleMinHigh); }
void TMainForm::LKorekceBExit() { ClampThrottle(LKorekceB, kThrottleMaxLow, kThrottleMaxHigh); }

void TMainForm::EPocPoluChange(const QString& text) { settings_.poles = text; }
void TMainForm::EPrevPomChange(const QString& text) { settings_.ratio = text; }

void TMainForm::EPocPoluExit()
{
    if (EPocPolu->text().isEmpty() || EPocPolu->text() == QLatin1String("0"))
        EPocPolu->setText(QStringLiteral("2"));
}

void TMainForm::EPrevPomExit()
{
    if (EPrevPom->text().isEmpty() || EPrevPom->text() == QLatin1String("0"))
        EPrevPom->setText(QStringLiteral("1"));
}

bool TMainForm::EPocPoluKeyPress(QChar key) { return key.isDigit(); }

bool TMainForm::EPrevPomKeyPress(QChar key)
{
    return key.isDigit() || key == QLatin1Char(',') || key == QLatin1Char('.');
}
