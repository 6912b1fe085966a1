#include "shell/mainform.h"

#include "common/numbers.h"
#include "link/usblink.h"

#include "common/clock.h"
#include "common/errors.h"
#include "common/filewriter.h"
#include "i18n/formcaption.h"
#include "i18n/formlangres.h"
#include "i18n/languages.h"
#include "i18n/menulangres.h"
#include "link/commconnect.h"
#include "link/comport.h"
#include "link/threadwake.h"
#include "models/modelfile.h"
#include "models/paramfile.h"
#include "models/parampanel.h"
#include "shell/about.h"
#include "shell/filedialogs.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/numedit.h"
#include "shell/pictures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QColor kBackground(232, 232, 232);
constexpr int kMenuHeight = 22;
constexpr int kStatusHeight = 19;
constexpr int kBodyHeight = 534;
constexpr int kLeftWidth = 317;
constexpr int kRightWidth = 483;
constexpr int kLabelFontPixels = 13;
constexpr int kDefaultFontPixels = 11; // 8 points at 96 dpi
constexpr int kValueColumn = 167;
constexpr int kCaptionColumn = 6;
constexpr int kProgressTop = 65;
constexpr int kProgressHeight = 5;

// The system sans runs wider than the narrow face the layout was drawn for: a label that would pass
// its right limit gets a smaller size instead of being cut.
void FitLabel(QLabel* l, int right, bool keepSize = false)
{
    QFont f = l->font();
    if (f.pixelSize() < 0)
        f.setPixelSize(QFontInfo(f).pixelSize());
    while (l->x() + l->sizeHint().width() > right && f.pixelSize() > 8) {
        f.setPixelSize(f.pixelSize() - 1);
        l->setFont(f);
    }
    if (!keepSize)
        l->adjustSize();
}

QFont PixelFont(int pixels, bool bold)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A value label of the left column: 13 px bold unless its text needs less to fit the column.
void FitValue(QLabel* l)
{
    l->setFont(PixelFont(kLabelFontPixels, true));
    FitLabel(l, kLeftWidth - 2, true);
}

// Presence queries wait while a modal dialog or the language switch runs, and resume after it, also
// when it ends by an error.
class TPresencePause {
public:
    explicit TPresencePause(ITimer& timer2) : timer_(timer2), running_(timer2.Enabled())
    {
        timer_.Stop();
    }
    ~TPresencePause()
    {
        if (running_)
            timer_.Start();
    }
    TPresencePause(const TPresencePause&) = delete;
    TPresencePause& operator=(const TPresencePause&) = delete;

private:
    ITimer& timer_;
    const bool running_;
};

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
    boxes_->Show(TBoxKind::Error, Msg("str2"), text);
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
    boxes_ = env_.boxes ? env_.boxes : ownBoxes_.get();
    if (!env_.usb) {
        ftErrorBox_ = std::make_unique<TFtErrorBox>(*this);
        auto link = std::make_unique<TUsbLink>(ftErrorBox_.get());
        ownUsbLink_ = link.get();
        // Listed but not ours to open: the most common reason that nothing ever connects.
        link->onPermissionDenied = [this](const QString& detail) {
            SetApplicationHint(Msg("str116").arg(detail));
        };
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
    comm1_->OnRxChar = [this](TCommunicationConnection*, int count) {
        RunGuarded([&] {
            QByteArray bytes;
            comm1_->ReadString(count, bytes);
            cycle_->Comm1RxChar(bytes);
        });
    };
    if (!env_.com)
        ownCom_ = MakeCommPort(*comm1_);
    com_ = env_.com ? env_.com : ownCom_.get();

    BuildWindow();
    CreateLanguageComponents();
    panel_ = std::make_unique<TParameterPanel>(
        Panel1, Panel, smlMsgLangRes1_,
        [this](const QString& text) { boxes_->Show(TBoxKind::Plain, QString(), text); },
        [this](const QString& text) { ShowGeneralError(text); });
    paramFiles_ = std::make_unique<TParameterFiles>(*panel_, smlMsgLangRes1_,
                                                    [this](const QString& t) { ShowError(t); });
    cycle_ = std::make_unique<TConnectionCycle>(*clock_, static_cast<ICycleView&>(*this), *panel_,
                                                smlMsgLangRes1_, *com_, *usb_, env_.programDir);
    // Every write and factory reset first saves the block as last read.
    TimeSource now = env_.now ? env_.now : [] { return QDateTime::currentDateTime(); };
    backups_ = std::make_unique<TBackupStore>(env_.programDir, smlMsgLangRes1_, std::move(now),
                                              [this](const QString& text) { ShowError(text); });
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
    qApp->removeEventFilter(this);
    // No reception may reach the cycle while the window comes apart.
    comm1_->OnRxChar = nullptr;
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

QString TMainForm::Msg(const char* key) const
{
    return smlMsgLangRes1_.LookupMessage(QString::fromLatin1(key));
}

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
    boxes_->Show(TBoxKind::General, QStringLiteral("KORVALINEX"), text);
}

void TMainForm::ShowError(const QString& text) { boxes_->Show(TBoxKind::Error, Msg("str2"), text); }

bool TMainForm::AskOverwrite()
{
    return boxes_->Ask(messageDlg_.caption, messageDlg_.text, messageDlg_.button1Caption,
                       messageDlg_.button2Caption);
}

// ---- building the window
// ----------------------------------------------------------------------------

QLabel* TMainForm::AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                            bool bold13)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    if (bold13)
        l->setFont(PixelFont(kLabelFontPixels, true));
    l->adjustSize();
    l->move(x, y);
    return l;
}

QFrame* TMainForm::AddSeparator(QWidget* parent, const char* name, int y)
{
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setFrameStyle(QFrame::Panel | QFrame::Raised);
    f->setLineWidth(1);
    f->setGeometry(5, y, 306, 3);
    return f;
}

void TMainForm::BuildWindow()
{
    setWindowTitle(QStringLiteral("KORVALINEX"));
    setFont(PixelFont(kDefaultFontPixels, false));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);
    setAutoFillBackground(true);

    // The desktop draws the frame and its title bar; the menu bar is the first row of the client
    // area.
    suiForm1 = new TFormCaption(QStringLiteral("KORVALINEX"), this);
    suiForm1->setObjectName(QStringLiteral("suiForm1"));
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setFixedHeight(kMenuHeight);
    MainMenu->setNativeMenuBar(false);
    setMenuBar(MainMenu);
    BuildMenus(MainMenu);

    auto* body = new QWidget(this);
    body->setFixedSize(kClientWidth, kBodyHeight);
    Panel1 = new QFrame(body);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, kLeftWidth, kBodyHeight);
    Panel = new QScrollArea(body);
    Panel->setObjectName(QStringLiteral("Panel"));
    Panel->setFrameShape(QFrame::NoFrame);
    Panel->setGeometry(kClientWidth - kRightWidth, 0, kRightWidth, kBodyHeight);
    Panel->setWidgetResizable(false);
    Panel->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Panel->viewport()->setAutoFillBackground(false);
    setCentralWidget(body);
    BuildLeftColumn(Panel1);
    BuildStatusBar();

    setFixedSize(kClientWidth, kClientHeight);
}

void TMainForm::BuildLeftColumn(QWidget* p)
{
    // Language flags, each picture in a small raised panel.
    const struct {
        QFrame** panel;
        QLabel** image;
        const char* panelName;
        const char* imageName;
        int x;
        QPixmap pm;
        const char* hint;
    } flags[] = {
        {&Panel3, &Image2, "Panel3", "Image2", 43, Pictures::CzechFlag(), "Ceština | Ceština"},
        {&Panel4, &Image3, "Panel4", "Image3", 111, Pictures::EnglishFlag(),
         "Anglictina | Anglictina"},
        {&Panel5, &Image4, "Panel5", "Image4", 179, Pictures::GermanFlag(), "Nemcina | Nemcina"},
        {&Panel7, &Image5, "Panel7", "Image5", 247, Pictures::OtherLanguage(),
         "Other language | Other language"},
    };
    for (const auto& f : flags) {
        auto* panel = new QFrame(p);
        panel->setObjectName(QString::fromLatin1(f.panelName));
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setGeometry(f.x, 8, 25, 19);
        auto* image = new QLabel(panel);
        image->setObjectName(QString::fromLatin1(f.imageName));
        image->setPixmap(f.pm);
        image->setAlignment(Qt::AlignCenter);
        image->setGeometry(1, 1, 23, 17);
        image->setProperty("hint", QString::fromUtf8(f.hint));
        image->setCursor(Qt::PointingHandCursor);
        image->installEventFilter(this);
        *f.panel = panel;
        *f.image = image;
    }
    Panel2 = AddSeparator(p, "Panel2", 34);

    Button1 = new QPushButton(Pictures::ReadIcon(), QStringLiteral("Nacíst data"), p);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(3, 46, 150, 21);
    Button1->setProperty("hint",
                         QStringLiteral("Nacíst data z regulátoru | Nacíst data z regulátoru."));
    Button2 = new QPushButton(Pictures::WriteIcon(), QStringLiteral("Zapsat data"), p);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(160, 46, 150, 21);
    Button2->setProperty("hint",
                         QStringLiteral("Zapsat data do regulátoru | Zapsat data do regulátoru."));
    for (QPushButton* b : {Button1, Button2})
        b->setEnabled(false);
    PB1 = new QProgressBar(p);
    PB1->setObjectName(QStringLiteral("PB1"));
    PB2 = new QProgressBar(p);
    PB2->setObjectName(QStringLiteral("PB2"));
    // The bars end where the layout puts them (y 70) but are thinner, so that they cover only the
    // lower edge of the buttons and leave the captions readable in this font.
    PB1->setGeometry(3, kProgressTop, 150, kProgressHeight);
    PB2->setGeometry(160, kProgressTop, 150, kProgressHeight);
    for (QProgressBar* b : {PB1, PB2}) {
        b->setRange(0, 100);
        b->setValue(0);
        b->setTextVisible(false);
    }
    connect(Button1, &QPushButton::clicked, this, [this] {
        cycle_->WhenLinkIdle([this] { RunGuarded([this] { cycle_->Button1Click(); }); });
    });
    connect(Button2, &QPushButton::clicked, this, [this] {
        cycle_->WhenLinkIdle([this] { RunGuarded([this] { cycle_->Button2Click(); }); });
    });

    Ln = AddLabel(p, "Ln", QStringLiteral("Název regulátoru : "), kCaptionColumn, 84, true);
    LnH = AddLabel(p, "LnH", kNamePlaceholder, kValueColumn, 84, true);
    Lv = AddLabel(p, "Lv", QStringLiteral("Verze regulátoru : "), kCaptionColumn, 108, true);
    LvH = AddLabel(p, "LvH", kValuePlaceholder, kValueColumn, 108, true);
    La = AddLabel(p, "La", QStringLiteral("Aktualizováno : "), kCaptionColumn, 132, true);
    LaH = AddLabel(p, "LaH", kDatePlaceholder, kValueColumn, 132, true);
    Panel8 = AddSeparator(p, "Panel8", 156);

    auto makeThrottle = [&](const char* name, int y) {
        auto* e = new TNumEdit(2, 4, p);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(152, y, 35, 19);
        e->SetValue(0);
        e->setEnabled(false);
        e->OnConvertError = [this](const QString& t) { ShowGeneralError(t); };
        return e;
    };
    Lkorekcemin =
        AddLabel(p, "Lkorekcemin", QStringLiteral("Plyn min. [ms] : "), kCaptionColumn, 172);
    LKorekceA = makeThrottle("LKorekceA", 170);
    Label1 = AddLabel(p, "Label1", QStringLiteral("(0,70 ms - 1,40 ms)"), 217, 172);
    Lkorekcemax =
        AddLabel(p, "Lkorekcemax", QStringLiteral("Plyn max. [ms] : "), kCaptionColumn, 196);
    LKorekceB = makeThrottle("LKorekceB", 194);
    Label2 = AddLabel(p, "Label2", QStringLiteral("(1,70 ms - 2,30 ms)"), 217, 196);
    UpA = new TArrowButton(Qt::UpArrow, *clock_, p);
    DowA = new TArrowButton(Qt::DownArrow, *clock_, p);
    UpB = new TArrowButton(Qt::UpArrow, *clock_, p);
    DowB = new TArrowButton(Qt::DownArrow, *clock_, p);
    const struct {
        TArrowButton* b;
        const char* name;
        int y;
        void (TMainForm::*click)();
    } arrows[] = {{UpA, "UpA", 170, &TMainForm::UpAClick},
                  {DowA, "DowA", 179, &TMainForm::DowAClick},
                  {UpB, "UpB", 194, &TMainForm::UpBClick},
                  {DowB, "DowB", 203, &TMainForm::DowBClick}};
    for (const auto& a : arrows) {
        a.b->setObjectName(QString::fromLatin1(a.name));
        a.b->setGeometry(189, a.y, 16, 9);
        auto click = a.click;
        a.b->OnClick = [this, click] { RunGuarded([&] { (this->*click)(); }); };
        // Holding the arrow performs its click handler once per repeat tick.
        a.b->OnContinuouslyDown = a.b->OnClick;
    }
    LKorekceA->OnExit = [this] { LKorekceAExit(); };
    LKorekceB->OnExit = [this] { LKorekceBExit(); };
    Panel6 = AddSeparator(p, "Panel6", 220);

    LPocPolu = AddLabel(p, "LPocPolu", QStringLiteral("Počet pólů : "), kCaptionColumn, 240);
    EPocPolu = new TNumEdit(0, 2, p);
    EPocPolu->setObjectName(QStringLiteral("EPocPolu"));
    EPocPolu->setGeometry(152, 238, 35, 19);
    EPocPolu->setText(QStringLiteral("2"));
    LPrevPom = AddLabel(p, "LPrevPom", QStringLiteral("Převodový poměr : "), kCaptionColumn, 266);
    Label4 = AddLabel(p, "Label4", QStringLiteral("1: "), 142, 265);
    Label4->setFont(PixelFont(16, true));
    Label4->adjustSize();
    EPrevPom = new TNumEdit(1, 4, p);
    EPrevPom->setObjectName(QStringLiteral("EPrevPom"));
    EPrevPom->setGeometry(160, 264, 27, 19);
    EPrevPom->setText(QStringLiteral("0"));
    EPocPolu->OnKeyPress = &TMainForm::EPocPoluKeyPress;
    EPrevPom->OnKeyPress = &TMainForm::EPrevPomKeyPress;
    EPocPolu->OnChange = [this](const QString& t) { EPocPoluChange(t); };
    EPrevPom->OnChange = [this](const QString& t) { EPrevPomChange(t); };
    EPocPolu->OnExit = [this] { EPocPoluExit(); };
    EPrevPom->OnExit = [this] { EPrevPomExit(); };
    for (TNumEdit* e : {EPocPolu, EPrevPom})
        e->OnConvertError = [this](const QString& t) { ShowGeneralError(t); };

    Lm = AddLabel(p, "Lm", QStringLiteral("Max. otácky [ot./min] : "), kCaptionColumn, 290, true);
    LmH = AddLabel(p, "LmH", kValuePlaceholder, kValueColumn, 290, true);
    Lm->setEnabled(false);
    LmH->setEnabled(false);
    Panel9 = AddSeparator(p, "Panel9", 313);

    Image1 = new QLabel(p);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(Pictures::Logo());
    Image1->setGeometry(3, kBodyHeight - 46 - 4, 92, 46);
    Button3 = new QPushButton(QStringLiteral("Default"), p);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(kLeftWidth - 150 - 4, kBodyHeight - 21 - 8, 150, 21);
    Button3->setEnabled(false);
    Button3->setProperty(
        "hint",
        QStringLiteral(
            "Nastavit tovární nastavení regulátoru |Nastavit tovární nastavení regulátoru."));
    connect(Button3, &QPushButton::clicked, this, [this] {
        cycle_->WhenLinkIdle([this] { RunGuarded([this] { cycle_->Button3Click(); }); });
    });

    FitLeftColumn();
}

// Captions of every language must fit the column: each label starts again from its own size and
// shrinks only as far as its text needs.
void TMainForm::FitLeftColumn()
{
    for (QLabel* l : {Ln, Lv, La, Lm})
        l->setFont(PixelFont(kLabelFontPixels, true));
    for (QLabel* l : {Lkorekcemin, Lkorekcemax, LPocPolu, LPrevPom, Label1, Label2})
        l->setFont(QFont());
    for (QLabel* l : {Ln, Lv, La, Lm, Lkorekcemin, Lkorekcemax, LPocPolu, LPrevPom})
        FitLabel(l, l == LPrevPom ? 140 : l->y() > 160 && l->y() < 290 ? 150 : kValueColumn - 2);
    for (QLabel* l : {Label1, Label2})
        FitLabel(l, kLeftWidth - 2);
    // Value labels keep their width as texts change.
    for (QLabel* l : {LnH, LvH, LaH, LmH}) {
        l->resize(kLeftWidth - kValueColumn - 2, l->height());
        FitValue(l);
    }
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
}

void TMainForm::BuildMenus(QMenuBar* bar)
{
    Soubor1 = bar->addMenu(QStringLiteral("Soubor"));
    Soubor1->setObjectName(QStringLiteral("Soubor1"));
    auto add = [this](QMenu* menu, const char* name, const QString& caption,
                      Pictures::MenuIcon icon) {
        QAction* a = menu->addAction(Pictures::MenuIconLazy(icon), caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        QAction* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    Open = add(Soubor1, "Open", QStringLiteral("Otevřít ..."), Pictures::MenuIcon::Open);
    Saveas = add(Soubor1, "Saveas", QStringLiteral("Uložit jako ..."), Pictures::MenuIcon::Save);
    N2 = separator(Soubor1, "N2");
    EEPROM1 = add(Soubor1, "EEPROM1", QStringLiteral("Načíst EEPROM"), Pictures::MenuIcon::Eeprom);
    Setup = add(Soubor1, "Setup", QStringLiteral("Nastavení"), Pictures::MenuIcon::Setup);
    N1 = separator(Soubor1, "N1");
    Konec = add(Soubor1, "Konec", QStringLiteral("Konec"), Pictures::MenuIcon::Exit);
    Open->setEnabled(false);
    Saveas->setEnabled(false);
    EEPROM1->setVisible(false);

    Npovda1 = bar->addMenu(QStringLiteral("Nápověda"));
    Npovda1->setObjectName(QStringLiteral("Npovda1"));
    Help = add(Npovda1, "Help", QStringLiteral("Nápověda Korvalinex"), Pictures::MenuIcon::Help);
    AboutSW =
        add(Npovda1, "AboutSW", QStringLiteral("Informace o programu"), Pictures::MenuIcon::About);

    connect(Open, &QAction::triggered, this,
            [this] { cycle_->WhenLinkIdle([this] { RunGuarded([this] { OpenClick(); }); }); });
    connect(Saveas, &QAction::triggered, this,
            [this] { cycle_->WhenLinkIdle([this] { RunGuarded([this] { SaveasClick(); }); }); });
    connect(EEPROM1, &QAction::triggered, this, [this] {
        cycle_->WhenLinkIdle([this] { RunGuarded([this] { cycle_->EEPROM1Click(); }); });
    });
    connect(Setup, &QAction::triggered, this, [this] { RunGuarded([this] { SetupClick(); }); });
    connect(Konec, &QAction::triggered, this, [this] { RunGuarded([this] { KonecClick(); }); });
    connect(Help, &QAction::triggered, this, [this] { RunGuarded([this] { HelpClick(); }); });
    connect(AboutSW, &QAction::triggered, this, [this] { RunGuarded([this] { AboutSWClick(); }); });
}

void TMainForm::BuildStatusBar()
{
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setFixedHeight(kStatusHeight);
    StatusBar->setSizeGripEnabled(false);
    auto panel = [this](const char* name, int width, int stretch) {
        auto* l = new QLabel(StatusBar);
        l->setObjectName(QString::fromLatin1(name));
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setMinimumWidth(width);
        if (stretch == 0)
            l->setFixedWidth(width);
        StatusBar->addWidget(l, stretch);
        return l;
    };
    StatusPanel0 = panel("StatusPanel0", 65, 0);
    StatusPanel1 = panel("StatusPanel1", 145, 0);
    StatusPanel2 = panel("StatusPanel2", 50, 1);
    // Filled with the reply buffer for inspection; never shown.
    Label3 = new QLabel(StatusBar);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->hide();
    setStatusBar(StatusBar);
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
    ShowStatus(Msg("str4"));

    try {
        if (settings_.device == QLatin1String("COM"))
            OpenComPort();
        else if (settings_.device == QLatin1String("USB"))
            usb_->UsbReadyCheck();
    } catch (const std::exception&) {
        ShowError(Msg("str53"));
        return;
    }
    cycle_->StartConnecting();
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
    host.showLinkError = [this] { ShowError(Msg("str53")); };
    host.lookupMessage = [this](const QString& key) { return smlMsgLangRes1_.LookupMessage(key); };
    host.reportError = [this](const QString& text) { ShowGeneralError(text); };
    // The window's own adapter link lists into the dialog while it is active; a link that tests
    // supply may offer the same through the interfaces.
    host.usbDevices = ownUsbLink_ ? ownUsbLink_ : dynamic_cast<IUsbDeviceSource*>(usb_);
    nastaveni_ = new TNastaveni(std::move(host), this);
    if (ownUsbLink_)
        ownUsbLink_->SetDeviceList(nastaveni_);
}

void TMainForm::ResumeConnecting()
{
    // Start-up could not open the configured port, so no attempts were started; a link chosen in
    // the settings dialog starts them, as a working link does at start-up. A running cycle goes on.
    TConnectionCycle& c = *cycle_;
    if (!c.Timer1().Enabled() && !c.Timer2().Enabled() && !c.Timer3().Enabled() &&
        !c.Timer4().Enabled() && !c.State().busy)
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
        ShowGeneralError(Msg("str92").arg(path));
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    RunGuarded([this] { FormClose(); });
    qApp->removeEventFilter(this);
    e->accept();
}

void TMainForm::KonecClick()
{
    close();
    QApplication::quit();
}

TNastaveni* TMainForm::Nastaveni()
{
    if (!nastaveni_)
        CreateNastaveni();
    return nastaveni_;
}

void TMainForm::SetupClick() { Nastaveni()->exec(); }

void TMainForm::HelpClick()
{
    if (helpFile_.isEmpty()) {
        boxes_->Show(TBoxKind::Plain, QString(), Msg("str94"));
        return;
    }
    // The help files of the old platform have no viewer here: an .html or .pdf of the same name
    // beside it is opened instead.
    const QFileInfo info(helpFile_);
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
    for (const QString& candidate :
         {base + QStringLiteral(".html"), base + QStringLiteral(".pdf"), helpFile_}) {
        if (QFileInfo(candidate).isFile() && candidate != helpFile_) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(candidate));
            return;
        }
    }
    boxes_->Show(TBoxKind::Plain, QString(), Msg("str93").arg(helpFile_));
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

void TMainForm::SelectLanguage(int index)
{
    QFrame* panels[] = {Panel3, Panel4, Panel5, Panel7};
    for (QFrame* p : panels)
        p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panels[index]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // No presence query may run while the texts and the panel are being replaced.
    const TPresencePause pause(cycle_->Timer2());

    const TLanguage& language = kLanguages[index];
    settings_.language = QLatin1String(language.code);
    const QString languageFile = QLatin1String(language.languageFile);
    smlFormLangRes1_->SetLangFileName(languageFile);
    smlMenuLangRes1_->SetLangFileName(languageFile);
    smlMsgLangRes1_.SetLangFileName(languageFile);
    helpFile_ = env_.programDir + QLatin1String(language.helpFile);
    FitLeftColumn();

    // The hint handler is registered again, as the old application object required.
    qApp->removeEventFilter(this);
    qApp->installEventFilter(this);

    if (LnH->text() != kNamePlaceholder && !panel_->ModelFileMissing())
        panel_->RelabelParameterPanel(ModelContext{env_.programDir, settings_.language, LnH->text(),
                                                   cycle_->AlternateScale()});
}

// ---- parameter files
// ------------------------------------------------------------------------------------

void TMainForm::OpenClick()
{
    if (!ParameterPanelExists(*panel_)) {
        ShowError(Msg("str110"));
        return;
    }
    // No presence query may run while the modal dialog is open.
    const TPresencePause pause(cycle_->Timer2());
    const QString folder = ParameterFolder(env_.programDir, LnH->text());
    RunGuarded([&] {
        const QString name = dialogs_->OpenDlg(
            TFileDialogRequest{folder, QString(), Msg("str84"), QStringLiteral("*.zeq")});
        if (!name.isEmpty())
            LoadParameterFile(name);
    });
}

void TMainForm::SaveasClick()
{
    if (!ParameterPanelExists(*panel_)) {
        ShowError(Msg("str110"));
        return;
    }
    const TPresencePause pause(cycle_->Timer2());
    const QString folder = ParameterFolder(env_.programDir, LnH->text());
    RunGuarded([&] {
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
    paramFiles_->LoadParameterFile(fileName);
}

bool TMainForm::SaveParameterFile(const QString& fileName)
{
    if (QFileInfo::exists(fileName) && !AskOverwrite())
        return false;
    paramFiles_->SaveParameterFile(fileName);
    return true;
}

// ---- hints
// --------------------------------------------------------------------------------------------

void TMainForm::SetApplicationHint(const QString& hint)
{
    hint_ = hint;
    StatusPanel2->setText(QLatin1Char(' ') + LongHint(hint));
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
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
        if (hint != hint_)
            SetApplicationHint(hint);
    }
    return QMainWindow::eventFilter(watched, event);
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

// ---- the window as the cycle sees it
// --------------------------------------------------------------------

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
}
