// The main window's controls: where each sits, its first text and what it calls. The texts are the
// built-in Czech ones; the language components replace them once active.

#include "shell/mainform.h"
#include "shell/mainform_parts.h"

#include "i18n/formcaption.h"
#include "look/keyboard.h"
#include "look/windowlook.h"
#include "models/parampanel.h"
#include "shell/numedit.h"
#include "shell/pictures.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>

using namespace MainFormParts;

namespace {

const QColor kBackground(232, 232, 232);
constexpr int kMenuHeight = 22;
constexpr int kStatusHeight = 19;
constexpr int kBodyHeight = 534;
constexpr int kRightWidth = 483;
constexpr int kDefaultFontPixels = 11; // 8 points at 96 dpi
constexpr int kCaptionColumn = 6;
constexpr int kProgressTop = 65;
constexpr int kProgressHeight = 5;
constexpr int kFirstStartMargin = 24;
constexpr int kFirstStartSpacing = 10;
constexpr int kFirstStartHeadingPixels = 17;
constexpr int kFirstStartButtonHeight = 26;
// The colours of the status bar's notices; each is made as light or dark as its background needs.
const QColor kNoticeRed(0xB0, 0x00, 0x00);
const QColor kUnwrittenBrown(0x8A, 0x4B, 0x00);

} // namespace

namespace MainFormParts {

void FitLabel(QLabel* l, int right, bool keepSize)
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

void FitValue(QLabel* l)
{
    l->setFont(PixelFont(kLabelFontPixels, true));
    FitLabel(l, kLeftWidth - 2, true);
}

} // namespace MainFormParts

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

std::function<void()> TMainForm::WhenIdleGuarded(std::function<void()> fn)
{
    // A transaction or a file dialog waits for the line to be free; its errors are reported.
    return [this, fn = std::move(fn)] { cycle_->WhenLinkIdle([this, fn] { RunGuarded(fn); }); };
}

void TMainForm::BuildWindow()
{
    setWindowTitle(QStringLiteral("KORVALINEX"));
    setFont(PixelFont(kDefaultFontPixels, false));
    // Fixed at its size where the screen has room for it, centred; on a smaller screen the body
    // scrolls between the menu bar and the status bar.
    DressWindow(this, {kBackground, QSize(kClientWidth, kClientHeight),
                       TWindowLook::Place::CentreOnScreen});

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

    auto* body = new QWidget;
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
    // What the scroll boxes hold takes the Tab key and scrolls itself into view; they do not.
    Panel->setFocusPolicy(Qt::NoFocus);
    Body = new QScrollArea(this);
    Body->setObjectName(QStringLiteral("Body"));
    Body->setFrameShape(QFrame::NoFrame);
    Body->setWidgetResizable(false);
    Body->setWidget(body);
    Body->setFocusPolicy(Qt::NoFocus);
    setCentralWidget(Body);
    BuildLeftColumn(Panel1);
    BuildFirstStart(body);
    BuildStatusBar();
    BuildShortcuts();
}

// Top to bottom, in the order the controls were always created (it is their tab order).
void TMainForm::BuildLeftColumn(QWidget* p)
{
    BuildFlags(p);
    Panel2 = AddSeparator(p, "Panel2", 34);
    BuildTransferButtons(p);

    Ln = AddLabel(p, "Ln", QStringLiteral("Název regulátoru : "), kCaptionColumn, 84, true);
    LnH = AddLabel(p, "LnH", kNamePlaceholder, kValueColumn, 84, true);
    Lv = AddLabel(p, "Lv", QStringLiteral("Verze regulátoru : "), kCaptionColumn, 108, true);
    LvH = AddLabel(p, "LvH", kValuePlaceholder, kValueColumn, 108, true);
    La = AddLabel(p, "La", QStringLiteral("Aktualizováno : "), kCaptionColumn, 132, true);
    LaH = AddLabel(p, "LaH", kDatePlaceholder, kValueColumn, 132, true);
    Panel8 = AddSeparator(p, "Panel8", 156);
    for (QLabel* l : {LnH, LvH, LaH})
        MakeFocusableText(l);

    BuildThrottleFields(p);
    Panel6 = AddSeparator(p, "Panel6", 220);
    BuildMotorFields(p);
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
    connect(Button3, &QPushButton::clicked, this, WhenIdleGuarded([this] { Button3Click(); }));

    FitLeftColumn();
}

// Language flags, each picture in a small raised panel.
void TMainForm::BuildFlags(QWidget* p)
{
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
        // The keyboard's way to the flags; a screen reader hears the four as one choice.
        MakePressable(
            image, [this, image] { RunGuarded([&] { Image2Click(image); }); },
            [panel] { return panel->frameShadow() == QFrame::Sunken; });
        *f.panel = panel;
        *f.image = image;
    }
}

// Read and write, each with the progress bar of its transfer below it.
void TMainForm::BuildTransferButtons(QWidget* p)
{
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
    connect(Button1, &QPushButton::clicked, this, WhenIdleGuarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, WhenIdleGuarded([this] { Button2Click(); }));
}

// The throttle range: two edits with their limits and an arrow pair each.
void TMainForm::BuildThrottleFields(QWidget* p)
{
    auto makeThrottle = [&](const char* name, int y, QFrame*& mark) {
        auto* e = new TNumEdit(2, 4, p);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(152, y, 35, 19);
        e->SetValue(0);
        e->setEnabled(false);
        e->OnConvertError = [this](const QString& t) { ShowGeneralError(t); };
        mark = MakeUnwrittenBar(p, QStringLiteral("%1Mark").arg(QLatin1String(name)));
        mark->setGeometry(152 - kUnwrittenBarWidth - 1, y, kUnwrittenBarWidth, 19);
        return e;
    };
    Lkorekcemin =
        AddLabel(p, "Lkorekcemin", QStringLiteral("Plyn min. [ms] : "), kCaptionColumn, 172);
    LKorekceA = makeThrottle("LKorekceA", 170, LKorekceAMark);
    Label1 = AddLabel(p, "Label1", QStringLiteral("(0,70 ms - 1,40 ms)"), 217, 172);
    Lkorekcemax =
        AddLabel(p, "Lkorekcemax", QStringLiteral("Plyn max. [ms] : "), kCaptionColumn, 196);
    LKorekceB = makeThrottle("LKorekceB", 194, LKorekceBMark);
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
        const char* hint; // the arrows have no text: the short part names them
    } arrows[] = {
        {UpA, "UpA", 170, &TMainForm::UpAClick,
         "Plyn min. nahoru | Zvýší spodní mez plynu o 0,01 ms (v poli i klávesa šipka nahoru)."},
        {DowA, "DowA", 179, &TMainForm::DowAClick,
         "Plyn min. dolů | Sníží spodní mez plynu o 0,01 ms (v poli i klávesa šipka dolů)."},
        {UpB, "UpB", 194, &TMainForm::UpBClick,
         "Plyn max. nahoru | Zvýší horní mez plynu o 0,01 ms (v poli i klávesa šipka nahoru)."},
        {DowB, "DowB", 203, &TMainForm::DowBClick,
         "Plyn max. dolů | Sníží horní mez plynu o 0,01 ms (v poli i klávesa šipka dolů)."}};
    for (const auto& a : arrows) {
        a.b->setObjectName(QString::fromLatin1(a.name));
        a.b->setGeometry(189, a.y, 16, 9);
        a.b->setProperty("hint", QString::fromUtf8(a.hint));
        auto click = a.click;
        a.b->OnClick = [this, click] { RunGuarded([&] { (this->*click)(); }); };
        // Holding the arrow performs its click handler once per repeat tick.
        a.b->OnContinuouslyDown = a.b->OnClick;
    }
    LKorekceA->OnExit = [this] { LKorekceAExit(); };
    LKorekceB->OnExit = [this] { LKorekceBExit(); };
    // The Up and Down keys in a field step it as its arrows do.
    LKorekceA->OnStep = [this](int dir) {
        RunGuarded([&] { dir > 0 ? UpAClick() : DowAClick(); });
    };
    LKorekceB->OnStep = [this](int dir) {
        RunGuarded([&] { dir > 0 ? UpBClick() : DowBClick(); });
    };
    Lkorekcemin->setBuddy(LKorekceA);
    Lkorekcemax->setBuddy(LKorekceB);
}

// The motor: pole count and gear ratio, and the maximum speed computed from them.
void TMainForm::BuildMotorFields(QWidget* p)
{
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
    MakeFocusableText(LmH);
    // A field is named by its caption; the caption's Alt letter would reach it.
    LPocPolu->setBuddy(EPocPolu);
    LPrevPom->setBuddy(EPrevPom);
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
    Porovnat = add(Soubor1, "Porovnat", QStringLiteral("Porovnat se souborem ..."),
                   Pictures::MenuIcon::Compare);
    Zalohy = add(Soubor1, "Zalohy", QStringLiteral("Zálohy ..."), Pictures::MenuIcon::Backups);
    Tisk = add(Soubor1, "Tisk", QStringLiteral("Tisk ..."), Pictures::MenuIcon::Print);
    Tisk->setShortcut(QKeySequence::Print);
    UlozitPdf =
        add(Soubor1, "UlozitPdf", QStringLiteral("Uložit jako PDF ..."), Pictures::MenuIcon::Pdf);
    N2 = separator(Soubor1, "N2");
    EEPROM1 = add(Soubor1, "EEPROM1", QStringLiteral("Načíst EEPROM"), Pictures::MenuIcon::Eeprom);
    Setup = add(Soubor1, "Setup", QStringLiteral("Nastavení"), Pictures::MenuIcon::Setup);
    Kontrola = add(Soubor1, "Kontrola", QStringLiteral("Kont&rola připojení ..."),
                   Pictures::MenuIcon::Check);
    N1 = separator(Soubor1, "N1");
    Konec = add(Soubor1, "Konec", QStringLiteral("Konec"), Pictures::MenuIcon::Exit);
    Open->setEnabled(false);
    Saveas->setEnabled(false);
    Porovnat->setEnabled(false);
    Zalohy->setEnabled(false);
    Tisk->setEnabled(false);
    UlozitPdf->setEnabled(false);
    EEPROM1->setVisible(false);

    Npovda1 = bar->addMenu(QStringLiteral("Nápověda"));
    Npovda1->setObjectName(QStringLiteral("Npovda1"));
    Help = add(Npovda1, "Help", QStringLiteral("Nápověda Korvalinex"), Pictures::MenuIcon::Help);
    AboutSW =
        add(Npovda1, "AboutSW", QStringLiteral("Informace o programu"), Pictures::MenuIcon::About);

    // The usual keys of a desktop program; they show beside the items.
    Open->setShortcut(QKeySequence::Open);
    Saveas->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    EEPROM1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    Konec->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Help->setShortcut(QKeySequence::HelpContents);

    connect(Open, &QAction::triggered, this, WhenIdleGuarded([this] { OpenClick(); }));
    connect(Saveas, &QAction::triggered, this, WhenIdleGuarded([this] { SaveasClick(); }));
    connect(Porovnat, &QAction::triggered, this, WhenIdleGuarded([this] { PorovnatClick(); }));
    connect(Zalohy, &QAction::triggered, this, WhenIdleGuarded([this] { ZalohyClick(); }));
    connect(Tisk, &QAction::triggered, this, WhenIdleGuarded([this] { TiskClick(); }));
    connect(UlozitPdf, &QAction::triggered, this, WhenIdleGuarded([this] { UlozitPdfClick(); }));
    connect(EEPROM1, &QAction::triggered, this, WhenIdleGuarded([this] { EEPROM1Click(); }));
    connect(Setup, &QAction::triggered, this, [this] { RunGuarded([this] { SetupClick(); }); });
    connect(Kontrola, &QAction::triggered, this,
            [this] { RunGuarded([this] { KontrolaClick(); }); });
    connect(Konec, &QAction::triggered, this, [this] { RunGuarded([this] { KonecClick(); }); });
    connect(Help, &QAction::triggered, this, [this] { RunGuarded([this] { HelpClick(); }); });
    connect(AboutSW, &QAction::triggered, this, [this] { RunGuarded([this] { AboutSWClick(); }); });
}

// The right half before a regulator is found: a few lines on connecting one, and the two ways on
// when none is at hand.
void TMainForm::BuildFirstStart(QWidget* body)
{
    Uvod = new QFrame(body);
    Uvod->setObjectName(QStringLiteral("Uvod"));
    Uvod->setGeometry(Panel->geometry());
    auto* layout = new QVBoxLayout(Uvod);
    layout->setContentsMargins(kFirstStartMargin, kFirstStartMargin, kFirstStartMargin,
                               kFirstStartMargin);
    layout->setSpacing(kFirstStartSpacing);
    const auto line = [this](const char* name, const QString& text, bool heading = false) {
        auto* l = new QLabel(text, Uvod);
        l->setObjectName(QString::fromLatin1(name));
        l->setWordWrap(true);
        l->setFont(PixelFont(heading ? kFirstStartHeadingPixels : kLabelFontPixels, heading));
        return l;
    };
    UvodNadpis = line("UvodNadpis", QStringLiteral("Regulátor není připojen"), true);
    UvodKrok1 = line("UvodKrok1", QStringLiteral("1. Připojte regulátor k počítači přes USB "
                                                 "adaptér FTDI nebo přes sériový port."));
    UvodKrok2 =
        line("UvodKrok2",
             QStringLiteral("2. Připojte k regulátoru akumulátor: bez napájení neodpovídá."));
    UvodKrok3 =
        line("UvodKrok3",
             QStringLiteral("3. V nabídce Soubor zvolte Nastavení, vyberte USB adaptér nebo "
                            "sériový port a stiskněte Nastavit. Regulátor se pak najde sám "
                            "během několika sekund."));
    UvodKrok4 = line("UvodKrok4",
                     QStringLiteral("Nenajde-li se, kontrola připojení řekne proč. Bez regulátoru "
                                    "si program můžete vyzkoušet na simulovaném regulátoru."));
    for (QLabel* l : {UvodNadpis, UvodKrok1, UvodKrok2, UvodKrok3, UvodKrok4})
        layout->addWidget(l);
    auto* buttons = new QHBoxLayout;
    UvodKontrola = new QPushButton(QStringLiteral("Zkontrolovat připojení"), Uvod);
    UvodKontrola->setObjectName(QStringLiteral("UvodKontrola"));
    UvodDemo = new QPushButton(QStringLiteral("Vyzkoušet bez regulátoru"), Uvod);
    UvodDemo->setObjectName(QStringLiteral("UvodDemo"));
    for (QPushButton* b : {UvodKontrola, UvodDemo}) {
        b->setFont(PixelFont(kLabelFontPixels, false));
        b->setMinimumHeight(kFirstStartButtonHeight);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(UvodKontrola, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { KontrolaClick(); }); });
    connect(UvodDemo, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { UvodDemoClick(); }); });
}

// Keys for the transfers beside the buttons' own Space and Enter: F5 reads, as it refreshes
// elsewhere; F9 writes; the factory settings take Ctrl+Shift+R, so that no stray key restores them.
// None of them is taken by the usual desktops. F10 opens the first menu, as on most desktops.
void TMainForm::BuildShortcuts()
{
    const struct {
        QPushButton* button;
        QKeySequence keys;
    } transfers[] = {{Button1, QKeySequence(Qt::Key_F5)},
                     {Button2, QKeySequence(Qt::Key_F9)},
                     {Button3, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)}};
    for (const auto& t : transfers) {
        auto* key = new QAction(this);
        key->setShortcut(t.keys);
        addAction(key);
        QPushButton* button = t.button;
        button->setProperty(kKeysProperty, t.keys);
        connect(key, &QAction::triggered, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    }
    auto* menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, MainMenu,
            [this] { MainMenu->setActiveAction(Soubor1->menuAction()); });
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
        // The bar is as low as the old window's; a pixel less keeps the descenders
        // ("_" in a backup's name) inside the panel.
        QFont font = l->font();
        font.setPixelSize(QFontInfo(font).pixelSize() - 1);
        l->setFont(font);
        l->setMinimumWidth(width);
        if (stretch == 0)
            l->setFixedWidth(width);
        StatusBar->addWidget(l, stretch);
        return l;
    };
    StatusPanel0 = panel("StatusPanel0", 65, 0);
    StatusPanel1 = panel("StatusPanel1", 145, 0);
    UsbNotice = panel("UsbNotice", 0, 0);
    UsbNotice->setCursor(Qt::PointingHandCursor);
    MakePressable(UsbNotice, [this] { RunGuarded([this] { SetupClick(); }); });
    UsbNotice->hide();
    StatusUnwritten = panel("StatusUnwritten", 0, 0);
    StatusUnwritten->hide();
    const QColor colours[] = {kNoticeRed, kUnwrittenBrown};
    for (int i = 0; i < 2; ++i) {
        QLabel* notice = i == 0 ? UsbNotice : StatusUnwritten;
        QFont bold = notice->font();
        bold.setBold(true);
        notice->setFont(bold);
        SetTextColour(notice, colours[i]);
    }
    StatusPanel2 = panel("StatusPanel2", 50, 1);
    // Filled with the reply buffer for inspection; never shown.
    Label3 = new QLabel(StatusBar);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->hide();
    setStatusBar(StatusBar);
}
