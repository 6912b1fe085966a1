#include "shell/mainform.h"
#include "shell/mainform_parts.h"

#include "common/clock.h"
#include "common/filewriter.h"
#include "diagnose/checks.h"
#include "i18n/formlangres.h"
#include "i18n/languages.h"
#include "i18n/menulangres.h"
#include "i18n/qttranslations.h"
#include "link/commconnect.h"
#include "link/comport.h"
#include "link/linktap.h"
#include "link/portname.h"
#include "link/threadwake.h"
#include "link/usblink.h"
#include "look/keyboard.h"
#include "look/windowlook.h"
#include "models/modelfile.h"
#include "models/paramfile.h"
#include "models/parampanel.h"
#include "shell/filedialogs.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/numedit.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QUrl>

using MainFormParts::TPresencePause;

namespace {

// The long part of a hint: the text after the first "|", or all of it.
QString LongHint(const QString& hint)
{
    const int bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

} // namespace

// Failing adapter calls, while their error box is switched on: the error kind, one OK button.
class TFtErrorBox final : public IFtErrorBox {
public:
    explicit TFtErrorBox(TMainForm& form) : form_(form) {}
    void ShowFtError(const QString& text) override { form_.ShowFtError(text); }

private:
    TMainForm& form_;
};

void TMainForm::ShowFtError(const QString& text)
{
    boxes_->Show(TBoxKind::Error, smlMsgLangRes1_.Msg("str2"), text);
}

TMainForm::TMainForm(const TMainFormEnv& env, QWidget* parent)
    : QMainWindow(parent), env_(env), smlMsgLangRes1_(this, env.programDir)
{
    setObjectName(QStringLiteral("MainForm"));
    if (!env_.clock)
        ownClock_ = std::make_unique<QtClock>();
    clock_ = env_.clock ? env_.clock : ownClock_.get();
    if (!env_.boxes)
        ownBoxes_ = std::make_unique<TQtMessageBoxes>(this);
    boxGate_ = std::make_unique<TBoxGate>(env_.boxes ? *env_.boxes : *ownBoxes_, *clock_);
    boxes_ = boxGate_.get();
    openUrl_ = env_.openUrl ? env_.openUrl
                            : [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!env_.usb) {
        ftErrorBox_ = std::make_unique<TFtErrorBox>(*this);
        auto link = std::make_unique<TUsbLink>(ftErrorBox_.get(), env_.usbOptions);
        ownUsbLink_ = link.get();
        // Listed but not ours to open: the most common reason that nothing ever connects.
        link->onOpenProblem = [this](const TUsbOpenProblem& p) { ShowUsbProblem(p); };
        ownUsb_ = std::move(link);
    }
    if (!env_.dialogs)
        ownDialogs_ = std::make_unique<TQtFileDialogs>(this);
    dialogs_ = env_.dialogs ? env_.dialogs : ownDialogs_.get();
    usb_ = env_.usb ? env_.usb : ownUsb_.get();

    // Comm1 as built into the window: 600 baud, device "Com1", all nine line events, closed.
    comm1_ = std::make_unique<TComm>();
    comm1_->SetBaudrate(br600);
    comm1_->SetDeviceName(QStringLiteral("Com1"));
    if (!env_.com)
        ownCom_ = MakeCommPort(*comm1_);
    // The connection check sees what went over both links, as the cycle sent and got it.
    watchedCom_ =
        std::make_unique<TTappedSerialPort>(env_.com ? *env_.com : *ownCom_, linkWatch_.Observer());
    watchedUsb_ = std::make_unique<TTappedUsbLink>(*usb_, linkWatch_.Observer());
    usbDevices_ = ownUsbLink_ ? ownUsbLink_ : dynamic_cast<IUsbDeviceSource*>(usb_);
    com_ = watchedCom_.get();
    usb_ = watchedUsb_.get();

    BuildWindow();
    CreateLanguageComponents();
    qtTexts_ = std::make_unique<TQtTranslations>(QtTranslationFolders(env_.programDir));
    panel_ = std::make_unique<TParameterPanel>(
        Panel1, Panel, smlMsgLangRes1_,
        [this](const QString& text) { boxes_->Show(TBoxKind::Plain, QString(), text); },
        [this](const QString& text) { ShowGeneralError(text); });
    paramFiles_ = std::make_unique<TParameterFiles>(*panel_, smlMsgLangRes1_,
                                                    [this](const QString& t) { ErrorBox(t); });
    // The throttle limits are fields of the window; the panel's model compares them too.
    const auto throttleShown = [this](const QString&) {
        panel_->Model().SetThrottleShown(LKorekceA->Value(), LKorekceB->Value());
    };
    LKorekceA->OnChange = throttleShown;
    LKorekceB->OnChange = throttleShown;
    panel_->onUnwrittenChanged = [this] { ShowUnwritten(); };
    panel_->onControlsMade = [this] { SetReadingOrder(); };
    SetReadingOrder();
    cycle_ = std::make_unique<TConnectionCycle>(*clock_, static_cast<ICycleView&>(*this), *panel_,
                                                smlMsgLangRes1_, settings_, *com_, *usb_,
                                                env_.programDir);
    cycle_->AddListener(this);
    cycle_->AddListener(&linkWatch_);
    // Every write and factory reset first saves the block as last read.
    TimeSource now = env_.now ? env_.now : [] { return QDateTime::currentDateTime(); };
    // ... and a log download keeps the log before it under the name of the moment.
    cycle_->SetTimeSource(now);
    // The hint panel says where the copy went.
    backups_ = std::make_unique<TBackupStore>(
        env_.programDir, smlMsgLangRes1_, std::move(now),
        [this](const QString& text) { ErrorBox(text); },
        [this](const QString& path) {
            lastBackup_ = path;
            HoldHint(smlMsgLangRes1_.Msg("str132").arg(QDir::toNativeSeparators(path)));
        });
    cycle_->SetOverwriteGuard(backups_.get());
    IFileWriter* files = env_.files;
    if (!files) {
        filesWake_ = std::make_unique<TThreadWake>(
            [this] { RunGuarded([this] { ownFiles_->DeliverDone(); }); });
        ownFiles_ = std::make_unique<TFileWriterThread>([this] { filesWake_->Ring(); });
        files = ownFiles_.get();
    }
    cycle_->SetFileWriter(files);
    backups_->SetFileWriter(files);
    FormCreate();
}

TMainForm::~TMainForm()
{
    qtTexts_.reset();
    qApp->removeEventFilter(this);
    // No reception may reach the cycle while the window comes apart.
    com_->SetReceiver({});
    try {
        comm1_->Close();
    } catch (const std::exception&) {
        // Closing a port that has gone away cannot fail in a way that matters now.
    }
    // What is still on its way to the disk gets there; nobody is told any more.
    ownFiles_.reset();
    filesWake_.reset();
    // The cycle and the panel reach into the window's controls: they go first.
    cycle_.reset();
    paramFiles_.reset();
    panel_.reset();
    comm1_.reset();
}

QString TMainForm::QtTextsLocale() const { return qtTexts_->Installed(); }

void TMainForm::RunGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        ShowGeneralError(QString::fromStdString(e.what()));
    }
}

void TMainForm::ShowGeneralError(const QString& text)
{
    boxes_->Show(TBoxKind::General, kGeneralErrorCaption, text);
}

// The three language components of the window, as built into it: each applies "DefLang.ini" as
// soon as it is active.
void TMainForm::CreateLanguageComponents()
{
    messageDlg_.setObjectName(QStringLiteral("MessageDlg"));
    messageDlg_.setParent(this);

    smlFormLangRes1_ = new TsmlFormLangRes(this, env_.programDir);
    smlFormLangRes1_->setObjectName(QStringLiteral("smlFormLangRes1"));
    smlMenuLangRes1_ = new TsmlMenuLangRes(this, env_.programDir);
    smlMenuLangRes1_->setObjectName(QStringLiteral("smlMenuLangRes1"));
    smlMsgLangRes1_.setObjectName(QStringLiteral("smlMsgLangRes1"));
    for (TsmlLangRes* res : std::initializer_list<TsmlLangRes*>{smlFormLangRes1_, smlMenuLangRes1_,
                                                                &smlMsgLangRes1_}) {
        res->SetAutoCreateMode(false);
        res->SetIgnoreEmptyString(true);
    }
    smlFormLangRes1_->SetStringProperties(
        {QStringLiteral("Caption"), QStringLiteral("Hint"), QStringLiteral("Button1Caption"),
         QStringLiteral("Button2Caption"), QStringLiteral("Text")});
    smlFormLangRes1_->SetStringsProperties({QStringLiteral("Tabs"), QStringLiteral("Items")});
    smlFormLangRes1_->SetIgnoreFormCaption(true);
    smlMenuLangRes1_->SetMenu(MainMenu);
    for (TsmlLangRes* res :
         std::initializer_list<TsmlLangRes*>{smlFormLangRes1_, smlMenuLangRes1_, &smlMsgLangRes1_})
        res->SetActive(true);
    FitLeftColumn();
    AssignMnemonics(MainMenu);
    NameControls();
}

// ---- start-up and closing
// ---------------------------------------------------------------------------

void TMainForm::FormCreate()
{
    // The settings dialog is built the first time it is needed (Nastaveni()). All that the USB
    // check below asks of it is whether it is the active window, and a dialog not yet built is not;
    // its texts follow the language at every activation, so nothing is lost by waiting, and the
    // window comes up without the dialog's cost in time and memory.
    cycle_->ClearWorkingState();
    if (ownUsbLink_)
        ownUsbLink_->SetUsbOpen(false);
    try {
        CreateWorkingDirectories(env_.programDir);
    } catch (const std::exception& e) {
        // The window still opens, with its built-in texts, no settings and no link.
        ShowGeneralError(QString::fromStdString(e.what()));
        return;
    }
    // No skin: the window keeps its plain look whether or not Skins/Zequora.sui exists.
    qApp->installEventFilter(this);
    StatusPanel0->setText(QLatin1Char(' ') +
                          QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    // A long date format gets the room it needs.
    StatusPanel0->setFixedWidth(std::max(65, StatusPanel0->sizeHint().width()));

    settings_ = ReadUserSettings(env_.programDir);
    settingsRead_ = true;
    EPocPolu->setText(settings_.poles);
    EPrevPom->setText(settings_.ratio);

    if (const int lang = LanguageIndex(settings_.language); lang >= 0)
        SelectLanguage(lang);
    ShowConnected(false);

    try {
        if (settings_.device == QLatin1String("COM"))
            OpenComPort();
        else if (settings_.device == QLatin1String("USB"))
            usb_->UsbReadyCheck();
    } catch (const EComError& e) {
        // Said over the window once it is there, rather than in a box with no window behind it.
        startPortError_ = PortOpenFailureText(e.Code(), smlMsgLangRes1_);
        return;
    } catch (const std::exception& e) {
        startPortError_ = QString::fromStdString(e.what());
        return;
    }
    cycle_->StartConnecting();
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (startPortError_.isEmpty())
        return;
    const QString reason = std::exchange(startPortError_, QString());
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            const QString device = DevicePathForPortName(settings_.com);
            const QString port = settings_.com.isEmpty() ? QStringLiteral("\"\"")
                                 : device.isEmpty() || device == settings_.com
                                     ? settings_.com
                                     : QStringLiteral("%1 (%2)").arg(settings_.com, device);
            ErrorBox(FillMessage(smlMsgLangRes1_, QStringLiteral("Str519"), {port, reason}));
        },
        Qt::QueuedConnection);
}

void TMainForm::OpenComPort() { com_->OpenComPort(settings_.com); }

void TMainForm::CreateNastaveni()
{
    TNastaveniHost host;
    host.programDir = env_.programDir;
    host.linkMode = &settings_.device;
    host.portName = &settings_.com;
    host.languageCode = [this] { return settings_.language; };
    host.settingsRead = [this] { return settingsRead_; };
    host.comActive = [this] { return com_->Active(); };
    host.openComPort = [this] { OpenComPort(); };
    host.closeComPort = [this] { comm1_->Close(); };
    host.usbReadyCheck = [this] { return usb_->UsbReadyCheck(); };
    host.linkChosen = [this] { ResumeConnecting(); };
    host.showLinkError = [this](const QString& detail) {
        ErrorBox(detail.isEmpty() ? smlMsgLangRes1_.Msg("str53")
                                  : smlMsgLangRes1_.Msg("str53") + QLatin1Char('\n') + detail);
    };
    host.usbProblemAdvice = [this] { return UsbProblemAdvice(); };
    host.openCheck = [this] { KontrolaClick(); };
    host.lookupMessage = [this](const QString& key) { return smlMsgLangRes1_.LookupMessage(key); };
    host.reportError = [this](const QString& text) { ShowGeneralError(text); };
    // The window's own adapter link lists into the dialog while it is active; a link that tests
    // supply may offer the same through the interfaces.
    host.usbDevices = usbDevices_;
    nastaveni_ = new TNastaveni(std::move(host), this);
    if (ownUsbLink_)
        ownUsbLink_->SetDeviceList(nastaveni_);
}

void TMainForm::ResumeConnecting()
{
    // Start-up could not open the configured port, so no attempts were started; a link chosen in
    // the settings dialog starts them, as a working link does at start-up. A running cycle goes on.
    TConnectionCycle& c = *cycle_;
    if (!c.WakeUpTimer().Enabled() && !c.PresenceTimer().Enabled() && !c.TimeoutTimer().Enabled() &&
        !c.WatchdogTimer().Enabled() && !c.State().busy)
        c.StartConnecting();
}

void TMainForm::FormClose()
{
    if (usb_->UsbReadyCheck())
        usb_->UsbClose();
    // The end of a log on a slow disk: written, or the user hears why not, before the window goes.
    if (ownFiles_)
        ownFiles_->Flush();
    // Start-up stopped before the settings were read: writing would replace the user's values.
    if (!settingsRead_)
        return;
    QString path;
    if (!WriteClosingSettings(env_.programDir, settings_, &path))
        ShowGeneralError(smlMsgLangRes1_.Msg("str92").arg(path));
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    bool close = true;
    RunGuarded([&] { close = MayClose(); });
    if (!close) {
        e->ignore();
        return;
    }
    RunGuarded([this] { FormClose(); });
    qApp->removeEventFilter(this);
    e->accept();
}

TNastaveni* TMainForm::Nastaveni()
{
    if (!nastaveni_)
        CreateNastaveni();
    return nastaveni_;
}

void TMainForm::SelectLanguage(int index)
{
    QFrame* panels[] = {Panel3, Panel4, Panel5, Panel7};
    for (QFrame* p : panels)
        p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panels[index]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // No presence query may run while the texts and the panel are being replaced.
    const TPresencePause pause(cycle_->PresenceTimer());

    const TLanguage& language = kLanguages[index];
    settings_.language = QLatin1String(language.code);
    const QString languageFile = QLatin1String(language.languageFile);
    smlFormLangRes1_->SetLangFileName(languageFile);
    smlMenuLangRes1_->SetLangFileName(languageFile);
    smlMsgLangRes1_.SetLangFileName(languageFile);
    qtTexts_->Select(
        QtLocaleOf(settings_.language, env_.programDir + QLatin1String(language.languageFile)));
    helpFile_ = env_.programDir + QLatin1String(language.helpFile);
    FitLeftColumn();
    AssignMnemonics(MainMenu);
    ShowUsbProblem(usbProblem_);
    ShowUnwritten();
    // The connection state in the new language, so that the window speaks one language.
    ShowConnected(connected_);
    for (QLabel* flag : {Image2, Image3, Image4, Image5}) {
        QAccessible::State checked;
        checked.checked = true;
        QAccessibleStateChangeEvent event(flag, checked);
        QAccessible::updateAccessibility(&event);
    }

    // The hint handler is registered again, as the old application object required.
    qApp->removeEventFilter(this);
    qApp->installEventFilter(this);

    // Whatever LnH shows other than its placeholder is taken for a regulator's name, a caption
    // from the language file too.
    if (LnH->text() != kNamePlaceholder && !panel_->ModelFileMissing())
        panel_->RelabelParameterPanel(ModelContext{env_.programDir, settings_.language, LnH->text(),
                                                   cycle_->AlternateScale()});
    NameControls();
}

// ---- hints
// --------------------------------------------------------------------------------------------

void TMainForm::SetApplicationHint(const QString& hint)
{
    hint_ = hint;
    hintHeld_ = false;
    // A long one (a backup's path) keeps its start and its end.
    SetElidedText(StatusPanel2, QLatin1Char(' ') + LongHint(hint));
}

void TMainForm::HoldHint(const QString& news)
{
    // "|": the text is all long part, whatever it holds (a path may hold a bar).
    SetApplicationHint(QLatin1Char('|') + news);
    // Stays while the mouse moves over controls without a hint of their own.
    hintHeld_ = true;
}

void TMainForm::ShowUsbProblem(const TUsbOpenProblem& problem)
{
    usbProblem_ = problem;
    const char* key = UsbProblemKeys(problem.kind).notice;
    UsbNotice->setVisible(key != nullptr);
    if (!key)
        return;
    // Short enough for the status bar in every shipped language; the whole advice is one click
    // (or a pause of the mouse) away.
    UsbNotice->setText(QLatin1Char(' ') + smlMsgLangRes1_.Msg(key) + QLatin1Char(' '));
    UsbNotice->setToolTip(UsbProblemAdvice());
    UsbNotice->setFixedWidth(UsbNotice->sizeHint().width());
}

void TMainForm::ShowUnwritten()
{
    const TPanelModel& model = panel_->Model();
    LKorekceAMark->setVisible(model.ThrottleMinUnwritten());
    LKorekceBMark->setVisible(model.ThrottleMaxUnwritten());
    const int count = model.UnwrittenCount();
    NameControls();
    StatusUnwritten->setVisible(count > 0);
    if (count == 0)
        return;
    StatusUnwritten->setText(QLatin1Char(' ') + smlMsgLangRes1_.Msg("Str260").arg(count) +
                             QLatin1Char(' '));
    StatusUnwritten->setFixedWidth(StatusUnwritten->sizeHint().width());
}

void TMainForm::ShowNotConnectedHelp()
{
    const bool notConnected = !connected_;
    StatusPanel1->setProperty("hint", notConnected ? smlMsgLangRes1_.Msg("Str525") : QString());
    StatusPanel1->setCursor(notConnected ? Qt::PointingHandCursor : Qt::ArrowCursor);
    Uvod->setVisible(LnH->text() == kNamePlaceholder);
}

QString TMainForm::UsbProblemAdvice() const
{
    const char* key = UsbProblemKeys(usbProblem_.kind).advice;
    return key ? smlMsgLangRes1_.Msg(key).arg(usbProblem_.detail) : QString();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && watched == UsbNotice) {
        RunGuarded([this] { SetupClick(); });
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease && watched == StatusPanel1 && !connected_) {
        RunGuarded([this] { KontrolaClick(); });
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        for (QLabel* flag : {Image2, Image3, Image4, Image5})
            if (watched == flag) {
                RunGuarded([&] { Image2Click(flag); });
                return true;
            }
    }
    if ((event->type() == QEvent::Enter || event->type() == QEvent::Leave) &&
        watched->isWidgetType()) {
        // The hint of the control under the mouse, or of the nearest parent that has one. Leaving
        // a control for its parent sends the parent no Enter: the mouse is then over the parent,
        // whose hint (often none) takes over; a sibling's Enter follows and corrects it.
        auto* w = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Leave)
            w = w->parentWidget();
        QString hint;
        for (; w; w = w->parentWidget()) {
            hint = w->property("hint").toString();
            if (!hint.isEmpty())
                break;
        }
        // News such as a backup's path stays until a control with a hint of its own comes.
        if (hint != hint_ && !(hint.isEmpty() && hintHeld_))
            SetApplicationHint(hint);
    }
    return QMainWindow::eventFilter(watched, event);
}
