#include "shell/nastaveni.h"

#include "i18n/formcaption.h"
#include "i18n/formlanguage.h"
#include "i18n/languages.h"

#include "common/profile.h"
#include "look/keyboard.h"
#include "look/windowlook.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QColor kBackground(0xE8, 0xE8, 0xE8);
const QColor kSeparatorRed(204, 0, 0); // colour value 204: red in the low byte
const QColor kAdviceRed(0xB0, 0x00, 0x00);
// The form's places count from the top of the skinned frame's 32-pixel title strip; the desktop's
// own title bar replaces that strip, so everything on the form moves up by it.
constexpr int kFrameStrip = 32;
constexpr int kDefaultFontPixels = 11; // 8 points at 96 dpi
constexpr int kLargeFontPixels = 13;   // 10 points at 96 dpi
constexpr int kSmallestFontPixels = 9;
constexpr int kMargin = 4;
constexpr int kColumnWidths[] = {115, 115, 143};
constexpr int kCheckButtonWidth = 128;

QFont PixelFont(int pixels, bool bold = false)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// The system sans runs wider than the narrow face the form was drawn for: a text that would pass
// its right limit gets a smaller size instead of being cut.
void FitToRight(QWidget* w, int right)
{
    QFont f = w->font();
    if (f.pixelSize() < 0)
        f.setPixelSize(QFontInfo(f).pixelSize());
    while (w->x() + w->sizeHint().width() > right && f.pixelSize() > kSmallestFontPixels) {
        f.setPixelSize(f.pixelSize() - 1);
        w->setFont(f);
    }
    w->resize(std::max(w->width(), std::min(w->sizeHint().width(), right - w->x())), w->height());
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h,
                 int pixels)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(PixelFont(pixels));
    l->setGeometry(x, y, w, h);
    return l;
}

} // namespace

TNastaveni::TNastaveni(TNastaveniHost host, QWidget* parent)
    : QDialog(parent), host_(std::move(host))
{
    BuildForm();
    // The dialog's own form component follows the main window's language on every activation.
    AttachFormLanguage(this, host_.programDir,
                       [this] { return host_.languageCode ? host_.languageCode() : QString(); },
                       {QStringLiteral("Caption"), QStringLiteral("Hint")});
    FormCreate();
}

void TNastaveni::BuildForm()
{
    setObjectName(QStringLiteral("Nastaveni"));
    setWindowTitle(QStringLiteral("Nastavení . . ."));
    setFont(PixelFont(kDefaultFontPixels));
    setFixedSize(kClientWidth, kClientHeight - kFrameStrip);
    setModal(true);
    DressWindow(this, {kBackground, {}, TWindowLook::Place::CentreOnParent});

    suiForm1 = new TFormCaption(windowTitle(), this);
    suiForm1->setObjectName(QStringLiteral("suiForm1"));
    BuildLinkTabs();

    Button3 = new QPushButton(QStringLiteral("Nastavit"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(0, 155 - kFrameStrip, 382 - kCheckButtonWidth - kMargin, 24);
    // Enter on the focused button presses it, as the keyboard's users expect of a dialog.
    Button3->setAutoDefault(true);
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
    Button4 = new QPushButton(QStringLiteral("Kontrola připojení ..."), this);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setGeometry(382 - kCheckButtonWidth, Button3->y(), kCheckButtonWidth, 24);
    Button4->setAutoDefault(false);
    connect(Button4, &QPushButton::clicked, this, [this] {
        Guarded([this] {
            if (host_.openCheck)
                host_.openCheck();
        });
    });

    BuildUpgradeSection();
}

// The serial port sheet with its list of ports, the USB sheet with its list of adapters.
void TNastaveni::BuildLinkTabs()
{
    PC1 = new QTabWidget(this);
    PC1->setObjectName(QStringLiteral("PC1"));
    PC1->setGeometry(0, 32 - kFrameStrip, 382, 121);
    Sheet1 = new QWidget;
    Sheet1->setObjectName(QStringLiteral("Sheet1"));
    Sheet2 = new QWidget;
    Sheet2->setObjectName(QStringLiteral("Sheet2"));
    PC1->addTab(Sheet1, QStringLiteral("Komunikační port"));
    PC1->addTab(Sheet2, QStringLiteral("USB zařízení"));
    // Enabled, unlike the form it comes from: on Linux a serial device is the usual way to a
    // regulator (the kernel's own driver makes /dev/ttyUSB0 of an FTDI adapter).
    Sheet1->setEnabled(true);

    Label2 = AddLabel(Sheet1, "Label2", QStringLiteral("Komunikační  port :"), 10, 17, 111, 16,
                      kLargeFontPixels);
    CB1 = new QComboBox(Sheet1);
    CB1->setObjectName(QStringLiteral("CB1"));
    CB1->setEditable(false);
    CB1->setGeometry(131, 9, 102, 24);
    FitToRight(Label2, CB1->x() - kMargin);
    connect(CB1, &QComboBox::activated, this, [this] { Guarded([this] { CB1Click(); }); });
    LPortProblem = new QLabel(Sheet1);
    LPortProblem->setObjectName(QStringLiteral("LPortProblem"));
    LPortProblem->setWordWrap(true);
    LPortProblem->setTextInteractionFlags(Qt::TextSelectableByMouse); // the command can be copied
    SetTextColour(LPortProblem, kAdviceRed);
    LPortProblem->setGeometry(Label2->x(), CB1->y() + CB1->height() + kMargin,
                              PC1->width() - 2 * Label2->x(), 0);
    LPortProblem->hide();

    LV = new QTreeWidget(Sheet2);
    LV->setObjectName(QStringLiteral("LV"));
    LV->setColumnCount(3);
    LV->setRootIsDecorated(false);
    LV->setItemsExpandable(false);
    LV->setUniformRowHeights(true);
    LV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LV->setSelectionMode(QAbstractItemView::SingleSelection);
    LV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LV->header()->setStretchLastSection(false);
    LV->header()->setSectionsMovable(false);
    LV->setHeaderLabels({QStringLiteral("Číslo USB zařízení"), QStringLiteral("Sériové číslo"),
                         QStringLiteral("Popis USB zařízení")});
    for (int c = 0; c < 3; ++c)
        LV->setColumnWidth(c, kColumnWidths[c]);
    auto* sheet2Layout = new QVBoxLayout(Sheet2);
    sheet2Layout->setContentsMargins(0, 0, 0, 0);
    sheet2Layout->addWidget(LV, 1);
    LUsbProblem = new QLabel(Sheet2);
    LUsbProblem->setObjectName(QStringLiteral("LUsbProblem"));
    LUsbProblem->setWordWrap(true);
    LUsbProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SetTextColour(LUsbProblem, kAdviceRed);
    LUsbProblem->hide();
    sheet2Layout->addWidget(LUsbProblem);
    LV->viewport()->installEventFilter(this);
    // Said in the list itself, where the adapters would be.
    LNoAdapter = new QLabel(QStringLiteral("Není připojen žádný USB adaptér."), LV->viewport());
    LNoAdapter->setObjectName(QStringLiteral("LNoAdapter"));
    LNoAdapter->setAlignment(Qt::AlignCenter);
    LNoAdapter->setWordWrap(true);
    LNoAdapter->setEnabled(false);
    // Rows chosen with the keyboard count as clicked ones.
    connect(LV, &QTreeWidget::itemSelectionChanged, this,
            [this] { Guarded([this] { LVClick(); }); });
    PC1->setCurrentWidget(Sheet2);
    connect(PC1, &QTabWidget::currentChanged, this, [this] { EnableButton3(); });
}

// The upgrade section: every control disabled or hidden, none with a handler.
void TNastaveni::BuildUpgradeSection()
{
    CheckBox1 = new QCheckBox(QStringLiteral("Zpřístupnit volbu pro upgrade regulátoru"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setFont(PixelFont(kLargeFontPixels));
    CheckBox1->setGeometry(14, 189 - kFrameStrip, 258, 22);
    CheckBox1->setChecked(false);
    CheckBox1->setEnabled(false);
    FitToRight(CheckBox1, kClientWidth - kMargin);
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(11, 211 - kFrameStrip, 356, 1);
    SetFillColour(Panel1, kSeparatorRed);
    Label1 = AddLabel(this, "Label1", QStringLiteral("Cesta k souboru :"), 14, 217 - kFrameStrip,
                      103, 16, kLargeFontPixels);
    FitToRight(Label1, kClientWidth - kMargin);
    Label1->setEnabled(false);
    suiEdit1 = new QLineEdit(this);
    suiEdit1->setObjectName(QStringLiteral("suiEdit1"));
    suiEdit1->setGeometry(14, 235 - kFrameStrip, 265, 19);
    suiEdit1->setEnabled(false);
    Button1 = new QPushButton(QStringLiteral("Najít . . ."), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(286, 235 - kFrameStrip, 80, 19);
    Button1->setEnabled(false);
    Button1->setAutoDefault(false);
    suiProgressBar1 = new QProgressBar(this);
    suiProgressBar1->setObjectName(QStringLiteral("suiProgressBar1"));
    suiProgressBar1->setGeometry(14, 256 - kFrameStrip, 265, 12);
    suiProgressBar1->setRange(0, 100);
    suiProgressBar1->setValue(50);
    suiProgressBar1->setTextVisible(true);
    suiProgressBar1->hide();
    Button2 = new QPushButton(QStringLiteral("Spustit"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(286, 259 - kFrameStrip, 80, 27);
    Button2->setEnabled(false);
    Button2->setAutoDefault(false);

    Label3 = AddLabel(this, "Label3", QStringLiteral("Číslo USB zařízení"), 296, 184 - kFrameStrip,
                      90, 13, kDefaultFontPixels);
    Label4 = AddLabel(this, "Label4", QStringLiteral("Sériové číslo"), 296, 200 - kFrameStrip, 90,
                      13, kDefaultFontPixels);
    Label5 = AddLabel(this, "Label5", QStringLiteral("Popis USB zařízení"), 296, 216 - kFrameStrip,
                      90, 13, kDefaultFontPixels);
    for (QLabel* l : {Label3, Label4, Label5})
        l->hide();
}

void TNastaveni::Guarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        if (host_.reportError)
            host_.reportError(QString::fromStdString(e.what()));
    }
}

void TNastaveni::FormCreate() { Button3->setEnabled(false); }

void TNastaveni::FormActivate()
{
    // A box shown from inside (a failing adapter listing) takes the focus and gives it back; that
    // second activation must not rebuild the lists half-way through this one.
    if (activating_)
        return;
    activating_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{activating_};

    // The form component has already taken this file (it runs first on every activation), so
    // the column titles copied below are in the current language.
    const QString code = host_.languageCode ? host_.languageCode() : QString();
    if (const QString file = LanguageFileOf(code); !file.isEmpty())
        languageFile_ = host_.programDir + file;

    LV->setHeaderLabels({Label3->text(), Label4->text(), Label5->text()});
    // The lists are named after their pages; the fields by their captions (buddies).
    PC1->setAccessibleName(windowTitle());
    LV->setAccessibleName(PC1->tabText(PC1->indexOf(Sheet2)));
    CB1->setAccessibleName(NameOfCaption(Label2->text()));
    suiEdit1->setAccessibleName(NameOfCaption(Label1->text()));
    for (int c = 0; c < 3; ++c)
        LV->setColumnWidth(c, kColumnWidths[c]);

    // No skins here: the dialog keeps the main window's plain look.

    PC1->setCurrentWidget(*host_.linkMode == QLatin1String("COM") ? Sheet1 : Sheet2);

    QElapsedTimer timer;
    timer.start();
    const bool comActive = host_.comActive && host_.comActive();
    const TPortList ports = BuildPortList(host_.portDirs, comActive, *host_.portName);
    lastPortListMs_ = timer.elapsed();
    FillPortList(ports);

    LV->clear();
    if (IUsbDeviceSource* usb = host_.usbDevices) {
        if (!usb->UsbOpen())
            usb->GetFTDeviceCount();
        // The table has ten entries; adapters beyond them have nothing to show.
        const int rows = std::min(usb->DeviceCount(), kUsbDeviceTableSize);
        const TUsbDeviceTable& table = usb->DeviceTable();
        for (int n = 1; n <= rows; ++n) {
            const TUsbDeviceEntry& e = table[n - 1];
            AddDeviceRow(e.label, e.serialNo, e.description);
        }
    }
    ShowUsbProblem();
    ShowNoAdapter();
    // Both lists are new: nothing is chosen on either page.
    EnableButton3();
}

void TNastaveni::ShowNoAdapter()
{
    LNoAdapter->setGeometry(LV->viewport()->rect());
    LNoAdapter->setVisible(LV->topLevelItemCount() == 0);
}

void TNastaveni::FillPortList(const TPortList& list)
{
    CB1->clear();
    for (const TPortEntry& e : list.ports) {
        // A stable name is long and says little of where it leads; the device it leads to now
        // follows it.
        const QString shown = e.target.isEmpty() ? e.path
                                                 : QFileInfo(e.path).fileName() +
                                                       QStringLiteral(" \u2192 ") + e.target;
        CB1->addItem(shown, e.path);
        CB1->setItemData(CB1->count() - 1, e.path, Qt::ToolTipRole);
    }
    // No port is picked until the user picks one, whatever the list holds.
    CB1->setCurrentIndex(-1);
    FitComboWidth();
    ShowPortProblem(list.ports.isEmpty() && list.denied > 0);
}

void TNastaveni::ShowPortProblem(bool denied)
{
    const QString advice =
        denied && host_.lookupMessage ? host_.lookupMessage(QStringLiteral("str200")) : QString();
    LPortProblem->setText(advice);
    LPortProblem->setVisible(!advice.isEmpty());
    portAdviceHeight_ = 0;
    if (!advice.isEmpty()) {
        LPortProblem->resize(LPortProblem->width(),
                             LPortProblem->heightForWidth(LPortProblem->width()));
        // Measured against the page as built, before any advice made it grow.
        const int pageHeight =
            PC1->height() - adviceGrowth_ - PC1->tabBar()->sizeHint().height() - kMargin;
        portAdviceHeight_ = std::max(0, LPortProblem->geometry().bottom() + kMargin - pageHeight);
    }
    GrowForAdvice();
}

void TNastaveni::ShowUsbProblem()
{
    const QString advice = host_.usbProblemAdvice ? host_.usbProblemAdvice() : QString();
    LUsbProblem->setText(advice);
    LUsbProblem->setVisible(!advice.isEmpty());
    // The advice is read whole: the page grows by its height and pushes what lies below it down,
    // so the list keeps its rows.
    usbAdviceHeight_ =
        advice.isEmpty() ? 0 : LUsbProblem->heightForWidth(PC1->width() - 8) + kMargin;
    GrowForAdvice();
}

void TNastaveni::GrowForAdvice()
{
    const int grow = std::max(usbAdviceHeight_, portAdviceHeight_);
    const int delta = grow - adviceGrowth_;
    if (delta == 0)
        return;
    adviceGrowth_ = grow;
    const int below = PC1->geometry().bottom();
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->y() > below)
            w->move(w->x(), w->y() + delta);
    PC1->resize(PC1->width(), PC1->height() + delta);
    setFixedSize(width(), height() + delta);
}

void TNastaveni::FitComboWidth()
{
    // Device paths are longer than the old port names: the list grows to show them whole, as far
    // as the page allows.
    const int room = PC1->width() - CB1->x() - 2 * kMargin;
    CB1->resize(std::clamp(CB1->sizeHint().width(), 102, std::max(102, room)), CB1->height());
    // The open list shows every name whole, however long.
    CB1->view()->setMinimumWidth(CB1->view()->sizeHintForColumn(0) + 2 * kMargin);
}

void TNastaveni::EnableButton3()
{
    Button3->setEnabled(PC1->currentWidget() == Sheet1 ? CB1->currentIndex() >= 0
                                                       : !LV->selectedItems().isEmpty());
}

void TNastaveni::CB1Click() { EnableButton3(); }

void TNastaveni::LVClick() { EnableButton3(); }

void TNastaveni::Button3Click()
{
    applied_ = true;
    const bool com = PC1->currentWidget() == Sheet1;
    *host_.linkMode = com ? QStringLiteral("COM") : QStringLiteral("USB");
    if (com) {
        *host_.portName = CB1->currentData().toString();
        try {
            host_.openComPort();
        } catch (const std::exception&) {
            host_.showLinkError(QString());
            if (host_.closeComPort)
                host_.closeComPort();
            return;
        }
    } else if (host_.usbReadyCheck) {
        // Choosing USB leaves an open COM port alone; the link mode decides which one is used.
        // An adapter that is listed but will not open is worth a box that says why.
        if (!host_.usbReadyCheck()) {
            ShowUsbProblem();
            if (!LUsbProblem->isHidden())
                host_.showLinkError(LUsbProblem->text());
        }
    }
    if (host_.linkChosen)
        host_.linkChosen();
}

void TNastaveni::FormClose()
{
    // Without the user's settings in memory, only a choice made here is worth storing: the defaults
    // would replace what the file holds.
    if (host_.settingsRead && !host_.settingsRead() && !applied_)
        return;
    TProfileFile file(host_.programDir + QStringLiteral("setup.ini"));
    // A file that exists but cannot be read must not be replaced by one holding only these keys.
    bool ok = file.Load();
    if (ok) {
        file.WriteString(QStringLiteral("SETUP"), QStringLiteral("COM"), *host_.portName);
        file.WriteString(QStringLiteral("SETUP"), QStringLiteral("DEVICE"), *host_.linkMode);
        ok = file.Save();
    }
    if (!ok && host_.reportError && host_.lookupMessage)
        host_.reportError(host_.lookupMessage(QStringLiteral("str92"))
                              .arg(QFileInfo(file.Path()).absoluteFilePath()));
}

void TNastaveni::done(int r)
{
    Guarded([this] { FormClose(); });
    QDialog::done(r);
}

bool TNastaveni::IsActiveWindow() const { return isVisible() && isActiveWindow(); }

void TNastaveni::AddDeviceRow(const QString& label, const QString& serialNo,
                              const QString& description)
{
    new QTreeWidgetItem(LV, QStringList{label, serialNo, description});
    ShowNoAdapter();
}

void TNastaveni::ClearDeviceRows()
{
    LV->clear();
    ShowNoAdapter();
    EnableButton3();
}

bool TNastaveni::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        Guarded([this] { FormActivate(); });
    return QDialog::event(e);
}

bool TNastaveni::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == LV->viewport()) {
        if (event->type() == QEvent::Resize)
            LNoAdapter->setGeometry(LV->viewport()->rect());
        // A click beside the rows leaves none selected, as the list views of the old platform did.
        if (event->type() == QEvent::MouseButtonPress &&
            !LV->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid())
            LV->clearSelection();
    }
    return QDialog::eventFilter(watched, event);
}
