#pragma once
// The main window: the identified regulator and its settings, the transaction buttons, the menus,
// the language flags and the status bar. It owns the serial component, the connection cycle with
// its timers, the parameter panel and the message component, and runs the start-up and closing
// sequences. It draws what the cycle shows it and listens to what the cycle tells.

#include "common/clock.h"
#include "common/settings.h"
#include "diagnose/findings.h"
#include "diagnose/linkwatch.h"
#include "i18n/msglangres.h"
#include "link/usbdevices.h"
#include "link/usblink.h"
#include "models/backup.h"
#include "models/panelmodel.h"
#include "protocol/cycle.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class IClock;
class IFileDialogs;
class IFileWriter;
class TFileWriterThread;
class TThreadWake;
class IMessageBoxes;
class TBoxGate;
class IUsbLink;
class ISerialPort;
class QAction;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPrinter;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStatusBar;
class QUrl;
class TArrowButton;
struct TBackupEntry;
struct TCompareHost;
struct TFileSettings;
class TComm;
class TFormCaption;
class TNastaveni;
class TsmlFormLangRes;
class TsmlMenuLangRes;
class TQtTranslations;
class TNumEdit;
class TParameterFiles;
class TParameterPanel;
class TUsbLink;
class TTappedSerialPort;
class TTappedUsbLink;
class IFtErrorBox;
struct TSettingsSheet;

// What the window is given from outside. Tests replace the clock, the message boxes and the links.
struct TMainFormEnv {
    QString programDir;             // with a trailing "/"
    IClock* clock = nullptr;        // default: Qt timers
    IMessageBoxes* boxes = nullptr; // default: real message boxes
    IUsbLink* usb = nullptr;        // default: the FTDI adapter link (TUsbLink)
    ISerialPort* com = nullptr;     // default: the window's own serial component Comm1
    // default: real file dialogs (OpenDlg, SaveDlg)
    IFileDialogs* dialogs = nullptr;
    TimeSource now = {}; // names the backups; default: the system's clock
    // EEPROM.txt and the backups; default: a thread of its own, so the window never waits for
    // the disk.
    IFileWriter* files = nullptr;
    // How the window's own USB link (when usb is not given) receives: tests run it on virtual
    // time; default: a worker thread and the steady clock.
    TUsbLinkOptions usbOptions = {};
    // Hands a help page to the desktop's viewer; false when none could be started. Default:
    // QDesktopServices.
    std::function<bool(const QUrl&)> openUrl = {};
    // Starts the program anew with the demo regulator ("Vyzkoušet bez regulátoru"); the reason
    // when it could not. Default: this program with --demo, as a process of its own.
    std::function<bool(QString* reason)> startDemo = {};
    // Shows the connection check's window; default: TKontrola, modal.
    std::function<void(const QList<TFinding>& findings)> showCheck = {};
    // Lets the user choose and set up the printer of "Tisk ..."; false when he cancels. Default:
    // the system's print dialog.
    std::function<bool(QPrinter&)> choosePrinter = {};
};

// The overwrite question's texts: a component of the window, translated like every other caption
// (MessageDlg_Caption, MessageDlg_Text, MessageDlg_Button1Caption, MessageDlg_Button2Caption).
class TMessageDlg : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString caption MEMBER caption)
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(QString button1Caption MEMBER button1Caption)
    Q_PROPERTY(QString button2Caption MEMBER button2Caption)
public:
    QString caption = QStringLiteral("Otázka ...");
    QString text = QStringLiteral("Soubor již existuje. Nahradit stávající soubor?");
    QString button1Caption = QStringLiteral("Ano");
    QString button2Caption = QStringLiteral("Ne");
};

class TMainForm : public QMainWindow, private ICycleView, private ICycleEvents {
    Q_OBJECT
public:
    explicit TMainForm(const TMainFormEnv& env, QWidget* parent = nullptr);
    ~TMainForm() override;

    static constexpr int kClientWidth = 802;
    static constexpr int kClientHeight = 575; // menu 22, body 534, status bar 19

    // Start-up and closing sequences.
    void FormCreate();
    void FormClose();
    // Opens the configured serial port; throws when it cannot.
    void OpenComPort();

    // The transfer buttons and the log item: the cycle's transactions.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void EEPROM1Click();

    // Menu and flag handlers.
    void KonecClick();
    void SetupClick();
    void HelpClick();
    void AboutSWClick();
    // The connection check's window (menu, settings dialog, the not-connected state's hint and the
    // first start's panel), and the demo offered while nothing is connected.
    void KontrolaClick();
    void UvodDemoClick();
    // What the check finds for the window's link: the machine's findings and the link's own.
    QList<TFinding> CheckFindings();
    void Image2Click(QLabel* flag);
    // Parameter files. SaveParameterFile asks before replacing a file; false when the answer was
    // "Ne" and the save dialog is to be shown again.
    void OpenClick();
    void SaveasClick();
    void LoadParameterFile(const QString& fileName);
    bool SaveParameterFile(const QString& fileName);
    // Some settings taken from a file, throttle limits among them; a backup put back whole
    // (mainform_compare.cpp). Either is all or nothing.
    void LoadSettings(const TFileSettings& settings);
    void LoadBackup(const TBackupEntry& backup);
    // The comparison of a chosen file with the panel, and the list of the model's backups
    // (mainform_compare.cpp).
    void PorovnatClick();
    void ZalohyClick();
    // The settings sheet of the panel as it stands, printed or saved as PDF (mainform_sheet.cpp).
    void TiskClick();
    void UlozitPdfClick();
    TSettingsSheet MakeSheet() const;

    // Left column handlers.
    void UpAClick();
    void DowAClick();
    void UpBClick();
    void DowBClick();
    void LKorekceAExit();
    void LKorekceBExit();
    void EPocPoluChange(const QString& text);
    void EPrevPomChange(const QString& text);
    void EPocPoluExit();
    void EPrevPomExit();
    static bool EPocPoluKeyPress(QChar key);
    static bool EPrevPomKeyPress(QChar key);

    // The overwrite question: true for "Ano".
    bool AskOverwrite();
    // The general error report.
    void ShowGeneralError(const QString& text);
    // An error box: caption "str2", the text, the error icon.
    void ErrorBox(const QString& text);
    // The adapter library's own error box.
    void ShowFtError(const QString& text);

    TConnectionCycle& Cycle() { return *cycle_; }
    TParameterPanel& ParamPanel() { return *panel_; }
    TComm& Comm1() { return *comm1_; }
    // The window's own USB link (device table, device count, the dialog's device list); nullptr
    // when the environment supplied another.
    TUsbLink* UsbLink() { return ownUsbLink_; }
    // The connection settings dialog, built on first use and kept as long as the window; the USB
    // ready check lists adapters into it while it is active.
    TNastaveni* Nastaveni();
    const TUserSettings& Settings() const { return settings_; }
    const TsmlMsgLangRes& Messages() const { return smlMsgLangRes1_; }
    TsmlMsgLangRes& Messages() { return smlMsgLangRes1_; }
    TsmlFormLangRes& FormLangRes() { return *smlFormLangRes1_; }
    TsmlMenuLangRes& MenuLangRes() { return *smlMenuLangRes1_; }
    QString HelpFile() const { return helpFile_; }
    // The locale of Qt's own texts (standard buttons, file dialogs); empty for Qt's English.
    QString QtTextsLocale() const;
    QString HintText() const { return hint_; }
    // A write has gone out and is neither read back and checked nor known to be in doubt.
    bool WriteUnchecked() const { return write_.has_value(); }
    TMessageDlg& MessageDlg() { return messageDlg_; }
    bool SettingsRead() const { return settingsRead_; }

    // The window's hint handler: the hint panel shows a space and the long part of the hint.
    void SetApplicationHint(const QString& hint);
    // News for the hint panel (where a backup went, how a write ended), held until a control with
    // a hint of its own takes its place.
    void HoldHint(const QString& news);
    // Why the adapter cannot be opened, shown in the status bar until it opens; kind None hides it.
    void ShowUsbProblem(const TUsbOpenProblem& problem);
    // The full advice for the problem shown, in the current language; empty when there is none.
    QString UsbProblemAdvice() const;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // ICycleView (mainform_view.cpp)
    TBlockFields Fields() const override;
    void ShowFields(const TBlockFields& fields) override;
    void ShowIdentity(const TRegulatorIdentity* identity) override;
    void ShowConnected(bool connected) override;
    void ShowReplyBuffer(const QString& caption) override;
    void SetProgress(int bar, int position) override;
    void SetTransferButtonsEnabled(bool on) override;
    void SetRegulatorControlsEnabled(bool on) override;
    void ShowError(const QString& text) override;
    void ReportError(const QString& text) override;
    void ShowProgressHint(const QString& text) override;

    // ICycleEvents (mainform_view.cpp)
    void Identified(const TIdentifiedEvent& event) override;
    void LinkError(const TLinkErrorEvent& event) override;
    void LogEnded(const TLogEvent& event) override;
    // ICycleEvents: the write's check and the changes kept over a reset (mainform_safety.cpp)
    void WriteSent(const TWriteTakenEvent& event) override;
    void WriteAcknowledged(const TWriteTakenEvent& event) override;
    void WriteEnded(const TWriteTakenEvent& event) override;
    void BlockRead(const TBlockReadEvent& event) override;
    void BusyChanged(bool busy) override;
    void ConnectionResetting() override;

    // Every write is read back and checked (mainform_safety.cpp).
    void ReadBackWhenIdle();
    void WriteChecked(const QByteArray& readPayload);
    // The write's acknowledgement did not come: the one box that says so, with the backup.
    void WriteInDoubt(const QString& cause);
    // After a read of the regulator the edits kept over a reset go back, or the backup chosen
    // from the doubt box is loaded.
    void AfterFreshRead(bool sayKept);
    // The changes not written, kept for the next read of this regulator.
    void KeepUnwrittenEdits();
    // Loads a backup's settings into the window, the throttle limits with the option groups.
    void LoadBackupIntoWindow(const QString& recordPath);
    // Unwritten changes before something replaces or drops them: 0 write them, 1 drop them, 2
    // cancel.
    enum class TUnwrittenAnswer { Write, Discard, Cancel };
    TUnwrittenAnswer AskUnwritten(const char* key);
    // Whether the window may close now, unwritten changes asked about.
    bool MayClose();

    // Building the controls (mainform_build.cpp).
    void BuildWindow();
    void BuildLeftColumn(QWidget* panel1);
    void BuildFlags(QWidget* panel1);
    void BuildTransferButtons(QWidget* panel1);
    void BuildThrottleFields(QWidget* panel1);
    void BuildMotorFields(QWidget* panel1);
    void BuildMenus(QMenuBar* bar);
    void BuildStatusBar();
    void BuildFirstStart(QWidget* body);
    // While nothing is connected: the first start's panel over the right half, and the status
    // panel as the way to the connection check.
    void ShowNotConnectedHelp();
    void BuildShortcuts();
    QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                     bool bold13 = false);
    QFrame* AddSeparator(QWidget* parent, const char* name, int y);
    std::function<void()> WhenIdleGuarded(std::function<void()> fn);

    // Handlers' helpers (mainform_handlers.cpp).
    void StepThrottle(TNumEdit* edit, double step, double low, double high);
    void ClampThrottle(TNumEdit* edit, double low, double high);
    void InParameterFolder(const std::function<void(const QString& folder)>& fn);
    TCompareHost CompareHost();

    void RunGuarded(const std::function<void()>& fn);
    void CreateNastaveni();
    void ResumeConnecting();
    void SelectLanguage(int index);
    void CreateLanguageComponents();
    void FitLeftColumn();
    // What a screen reader hears of each control, in the current language; again after every
    // change of a text it is made of.
    void NameControls();
    // Tab visits the controls as one reads the window: the left column from the top, then the
    // option groups.
    void SetReadingOrder();
    // The marks of the throttle fields and the count of changes not yet written, as the panel's
    // model has them.
    void ShowUnwritten();

    TMainFormEnv env_;
    std::unique_ptr<IClock> ownClock_;
    std::unique_ptr<IMessageBoxes> ownBoxes_;
    std::unique_ptr<TBoxGate> boxGate_;
    std::unique_ptr<IFtErrorBox> ftErrorBox_;
    std::unique_ptr<IFileDialogs> ownDialogs_;
    std::unique_ptr<IUsbLink> ownUsb_;
    std::unique_ptr<TThreadWake> filesWake_;
    std::unique_ptr<TFileWriterThread> ownFiles_;
    TUsbLink* ownUsbLink_ = nullptr;
    std::unique_ptr<ISerialPort> ownCom_;
    IClock* clock_ = nullptr;
    TBoxGate* boxes_ = nullptr; // every box of the window, one at a time
    IFileDialogs* dialogs_ = nullptr;
    IUsbLink* usb_ = nullptr;
    ISerialPort* com_ = nullptr;
    // The links as the cycle uses them: tapped for the connection check.
    TLinkWatch linkWatch_;
    std::unique_ptr<TTappedSerialPort> watchedCom_;
    std::unique_ptr<TTappedUsbLink> watchedUsb_;
    IUsbDeviceSource* usbDevices_ = nullptr; // the adapter list, when the link keeps one

    TsmlMsgLangRes smlMsgLangRes1_;
    TsmlFormLangRes* smlFormLangRes1_ = nullptr;
    TsmlMenuLangRes* smlMenuLangRes1_ = nullptr;
    std::unique_ptr<TQtTranslations> qtTexts_;
    TUserSettings settings_;
    bool settingsRead_ = false;
    QString helpFile_;
    std::function<bool(const QUrl&)> openUrl_;
    QString hint_;
    bool hintHeld_ = false; // hint_ is news that only another control's hint replaces
    TUsbOpenProblem usbProblem_;
    bool connected_ = false; // the status bar says "str60"
    // Why the configured serial port did not open at start-up: said once the window is shown.
    QString startPortError_;
    TMessageDlg messageDlg_;

    // The write under way from its frame to its check, the backup taken before it, and what the
    // window does once it is confirmed.
    struct TWriteWatch {
        QByteArray sent;
        QString backup;
        bool acknowledged = false;
        bool readingBack = false;
        bool doubtSaid = false;
    };
    std::optional<TWriteWatch> write_;
    QString lastBackup_; // the record of the latest backup
    bool closeAfterWrite_ = false;
    // Changes not yet written when the regulator went away, for its return (same name and
    // version); and a backup to load on its return instead.
    std::optional<TUnwrittenEdits> keptEdits_;
    TRegulatorIdentity keptFor_;
    QString backupOnReturn_;
    TRegulatorIdentity backupFor_;
    IClock::Token readBackPost_, closePost_;

    std::unique_ptr<TComm> comm1_;
    std::unique_ptr<TParameterPanel> panel_;
    std::unique_ptr<TParameterFiles> paramFiles_;
    std::unique_ptr<TConnectionCycle> cycle_;
    std::unique_ptr<TBackupStore> backups_;
    TNastaveni* nastaveni_ = nullptr;

public:
    // Controls, by their component names.
    TFormCaption* suiForm1 = nullptr; // the caption of the window's frame
    QMenuBar* MainMenu = nullptr;
    QMenu* Soubor1 = nullptr;
    QMenu* Npovda1 = nullptr;
    QAction *Open = nullptr, *Saveas = nullptr, *N2 = nullptr, *EEPROM1 = nullptr, *Setup = nullptr,
            *N1 = nullptr, *Konec = nullptr, *Help = nullptr, *AboutSW = nullptr;
    QAction *Porovnat = nullptr, *Zalohy = nullptr, *Tisk = nullptr, *UlozitPdf = nullptr,
            *Kontrola = nullptr;
    QFrame* Panel1 = nullptr;
    QScrollArea* Body = nullptr; // everything between the menu bar and the status bar
    QScrollArea* Panel = nullptr;
    QFrame *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr, *Panel5 = nullptr,
           *Panel6 = nullptr, *Panel7 = nullptr, *Panel8 = nullptr, *Panel9 = nullptr;
    QLabel *Image1 = nullptr, *Image2 = nullptr, *Image3 = nullptr, *Image4 = nullptr,
           *Image5 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;
    QProgressBar *PB1 = nullptr, *PB2 = nullptr;
    QLabel *Ln = nullptr, *LnH = nullptr, *Lv = nullptr, *LvH = nullptr, *La = nullptr,
           *LaH = nullptr;
    QLabel *Lkorekcemin = nullptr, *Lkorekcemax = nullptr, *Label1 = nullptr, *Label2 = nullptr;
    TNumEdit *LKorekceA = nullptr, *LKorekceB = nullptr, *EPocPolu = nullptr, *EPrevPom = nullptr;
    QFrame *LKorekceAMark = nullptr, *LKorekceBMark = nullptr; // beside a limit not yet written
    TArrowButton *UpA = nullptr, *DowA = nullptr, *UpB = nullptr, *DowB = nullptr;
    QLabel *LPocPolu = nullptr, *LPrevPom = nullptr, *Label4 = nullptr, *Lm = nullptr,
           *LmH = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel *StatusPanel0 = nullptr, *StatusPanel1 = nullptr, *StatusPanel2 = nullptr,
           *Label3 = nullptr;
    // Between the status and the hint panel while an attached adapter cannot be opened; a click
    // opens the settings dialog, which gives the full advice.
    QLabel* UsbNotice = nullptr;
    // How many changes are not yet written to the regulator; hidden while there are none.
    QLabel* StatusUnwritten = nullptr;
    // Over the right half while no regulator is identified: how to connect one, the connection
    // check and the demo.
    QFrame* Uvod = nullptr;
    QLabel *UvodNadpis = nullptr, *UvodKrok1 = nullptr, *UvodKrok2 = nullptr, *UvodKrok3 = nullptr,
           *UvodKrok4 = nullptr;
    QPushButton *UvodKontrola = nullptr, *UvodDemo = nullptr;
};

// One step of the arrows beside a throttle limit, in milliseconds.
constexpr double kThrottleStep = 0.01;
