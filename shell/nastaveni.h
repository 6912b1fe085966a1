#pragma once
// Module Nastaveni_u: the connection settings dialog. The user picks the link (a serial port or the
// USB adapter); "Nastavit" switches the main window's link mode and port and reopens that link at
// once, and every close stores both in setup.ini. The dialog lives for the whole run and is shown
// modally on demand; while it is the active window, the USB ready check lists the adapters into it.

#include "link/portlist.h"
#include "link/usbdevices.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TFormCaption;
class QTreeWidget;

// What the dialog reads and changes in the main window. The two settings are the main window's own
// fields; the dialog writes them directly, as the protocol reads them before every send.
struct TNastaveniHost {
    QString programDir;          // with a trailing "/": setup.ini is here
    QString* linkMode = nullptr; // "COM" or "USB" (setup.ini key DEVICE)
    QString* portName = nullptr; // setup.ini key COM
    std::function<QString()> languageCode;
    // False when start-up stopped before reading setup.ini: the two fields then hold defaults, not
    // the user's values.
    std::function<bool()> settingsRead;
    std::function<bool()> comActive;        // Comm1 is open
    std::function<void()> openComPort;      // OpenComPort on *portName; throws when it fails
    std::function<void()> closeComPort;     // closes Comm1
    std::function<bool()> usbReadyCheck;    // the main window's UsbReadyCheck
    std::function<void()> linkChosen;       // after "Nastavit" opened the chosen link
    IUsbDeviceSource* usbDevices = nullptr; // null: no adapter can be listed
    // The "str53" box with the "str2" caption; a non-empty detail follows on a line of its own.
    std::function<void(const QString& detail)> showLinkError;
    // Why the attached adapter cannot be opened, in full; empty while there is no such problem.
    std::function<QString()> usbProblemAdvice;
    std::function<void()> openCheck; // the connection check's window
    std::function<QString(const QString& key)> lookupMessage;
    std::function<void(const QString& text)> reportError; // the general error report
    TPortListDirs portDirs;                               // where serial devices are looked for
};

class TNastaveni : public QDialog, public IUsbDeviceList {
    Q_OBJECT
public:
    TNastaveni(TNastaveniHost host, QWidget* parent);

    static constexpr int kClientWidth = 384;
    static constexpr int kClientHeight = 303;

    void FormCreate();
    void FormActivate();
    void CB1Click();
    void LVClick();
    void Button3Click();
    void FormClose();

    // IUsbDeviceList
    bool IsActiveWindow() const override;
    void AddDeviceRow(const QString& label, const QString& serialNo,
                      const QString& description) override;
    void ClearDeviceRows() override;

    // Where the port list looks for serial devices (tests point it at a folder of their own).
    void SetPortDirs(const TPortListDirs& dirs) { host_.portDirs = dirs; }
    // The USB link's adapter list; null lists no adapters.
    void SetUsbDeviceSource(IUsbDeviceSource* source) { host_.usbDevices = source; }

    // The language file that the dialog's texts come from; set on activation from the language
    // code, left as it was for an unknown code.
    QString LanguageFile() const { return languageFile_; }
    // How long the last port list took to build, in milliseconds.
    qint64 LastPortListMs() const { return lastPortListMs_; }

    // Components, by their names in the form.
    TFormCaption* suiForm1 = nullptr; // the caption of the window's frame
    QTabWidget* PC1 = nullptr;
    QWidget *Sheet1 = nullptr, *Sheet2 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* CB1 = nullptr;
    QTreeWidget* LV = nullptr;
    QLabel* LUsbProblem = nullptr;  // below LV while an attached adapter cannot be opened
    QLabel* LPortProblem = nullptr; // below CB1 while the user may open none of the ports there
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr; // the connection check
    QLabel* LNoAdapter = nullptr;   // over the empty USB list
    // The regulator upgrade section: present but inert, nothing is connected to it.
    QCheckBox* CheckBox1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* suiEdit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QProgressBar* suiProgressBar1 = nullptr;
    QPushButton* Button2 = nullptr;
    // Hidden carriers of the translated column titles of LV.
    QLabel *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;

public:
    void done(int r) override;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildLinkTabs();
    void BuildUpgradeSection();
    void Guarded(const std::function<void()>& fn);
    void FillPortList(const TPortList& list);
    void FitComboWidth();
    void ShowUsbProblem();
    void ShowNoAdapter();
    void ShowPortProblem(bool denied);
    void GrowForAdvice();
    // "Nastavit" can be pressed once the page showing has a choice on it: a port or an adapter row.
    void EnableButton3();

    TNastaveniHost host_;
    QString languageFile_;
    qint64 lastPortListMs_ = 0;
    bool activating_ = false;
    bool applied_ = false; // "Nastavit" was pressed during this run
    int adviceGrowth_ = 0; // pixels the pages have grown by to show the advice
    int usbAdviceHeight_ = 0, portAdviceHeight_ = 0; // what each page needs beyond its size
};
