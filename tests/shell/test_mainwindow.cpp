// The main window's controls, menus, hints and About box as built.

#include "tests/support/shellfixture.h"
#include "tests/support/titlebar.h"

#include "i18n/formcaption.h"
#include "shell/about.h"
#include "shell/application.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/numedit.h"

#include <QAction>
#include <QApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Geometry {
    const char* name;
    int x, y, w, h;
};

// Positions inside the left column, and the right-hand area.
const Geometry kGeometry[] = {
    {"Panel3", 43, 8, 25, 19},       {"Panel4", 111, 8, 25, 19},     {"Panel5", 179, 8, 25, 19},
    {"Panel7", 247, 8, 25, 19},      {"Button1", 3, 46, 150, 21},    {"Button2", 160, 46, 150, 21},
    {"LKorekceA", 152, 170, 35, 19}, {"UpA", 189, 170, 16, 9},       {"DowA", 189, 179, 16, 9},
    {"LKorekceB", 152, 194, 35, 19}, {"EPocPolu", 152, 238, 35, 19}, {"EPrevPom", 160, 264, 27, 19},
    {"Panel1", 0, 0, 317, 534},      {"Panel", 319, 0, 483, 534},    {"PB1", 3, 65, 150, 5},
};

} // namespace

TEST(MainWindow, FixedClientAreaAndLayout)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    EXPECT_EQ(f.size(), QSize(802, 575));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed size";
    EXPECT_EQ(f.suiForm1->Caption(), "KORVALINEX");
    // A desktop's screen has room for it: shown, it keeps its size and layout.
    f.show();
    EXPECT_EQ(f.size(), QSize(802, 575));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed size";
    EXPECT_EQ(f.MainMenu->geometry(), QRect(0, 0, 802, 22)) << "no strip above the menu bar";
    EXPECT_EQ(f.Panel1->mapTo(&f, QPoint(0, 0)), QPoint(0, 22));
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(232, 232, 232));
    for (const Geometry& g : kGeometry) {
        auto* w = f.findChild<QWidget*>(g.name);
        ASSERT_NE(w, nullptr) << g.name;
        EXPECT_EQ(w->geometry(), QRect(g.x, g.y, g.w, g.h)) << g.name;
    }
    EXPECT_EQ(f.LnH->x(), 167);
    EXPECT_EQ(f.LnH->y(), 84);
    EXPECT_EQ(f.LvH->y(), 108);
    EXPECT_EQ(f.LaH->y(), 132);
    EXPECT_EQ(f.LmH->y(), 290);
    EXPECT_EQ(f.LvH->font().pixelSize(), 13);
    EXPECT_LE(f.LnH->x() + f.LnH->sizeHint().width(), 315) << "the placeholder fits the column";
    EXPECT_TRUE(f.LvH->font().bold());
    EXPECT_EQ(f.StatusBar->height(), 19);
    EXPECT_GE(f.StatusPanel0->width(), 65);
    EXPECT_EQ(f.StatusPanel1->width(), 145);
    // A line of text, descenders ("_" of a backup's name) included, fits inside every panel.
    f.StatusPanel2->setText("Záloha uložena: 2026-12-08_01-10-32.txt");
    f.StatusUnwritten->show();
    QApplication::processEvents();
    for (QLabel* panel : {f.StatusPanel0, f.StatusPanel1, f.StatusPanel2, f.StatusUnwritten})
        EXPECT_LE(QFontMetrics(panel->font()).height(), panel->contentsRect().height())
            << panel->objectName().toStdString();
    EXPECT_FALSE(f.Label3->isVisible());
}

TEST(MainWindow, InitialStatesBeforeAnyRegulatorAnswers)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    f.show();
    EXPECT_FALSE(f.Button1->isEnabled());
    EXPECT_FALSE(f.Button2->isEnabled());
    EXPECT_FALSE(f.Button3->isEnabled());
    EXPECT_FALSE(f.Open->isEnabled());
    EXPECT_FALSE(f.Saveas->isEnabled());
    EXPECT_FALSE(f.EEPROM1->isVisible());
    EXPECT_FALSE(f.LKorekceA->isEnabled());
    EXPECT_FALSE(f.LKorekceB->isEnabled());
    EXPECT_FALSE(f.Lm->isEnabled());
    EXPECT_FALSE(f.LmH->isEnabled());
    EXPECT_TRUE(f.EPocPolu->isEnabled());
    EXPECT_TRUE(f.EPrevPom->isEnabled());
    for (QAction* a : {f.Setup, f.Konec, f.Help, f.AboutSW})
        EXPECT_TRUE(a->isEnabled() && a->isVisible()) << a->objectName().toStdString();
    EXPECT_EQ(f.LKorekceA->text(), "0.00");
    EXPECT_EQ(f.LnH->text(), "- - - - - - - - - - - - - - - -");
    EXPECT_EQ(f.LvH->text(), "- - - - -");
    EXPECT_EQ(f.LaH->text(), "- - - - - - - - -");
    EXPECT_EQ(f.LmH->text(), "- - - - -");
    EXPECT_EQ(f.PB1->value(), 0);
    EXPECT_EQ(f.PB2->maximum(), 100);
    EXPECT_EQ(f.Cycle().WakeUpTimer().Interval(), 1);
    EXPECT_EQ(f.Cycle().PresenceTimer().Interval(), 2500);
    EXPECT_EQ(f.Cycle().TimeoutTimer().Interval(), 2000);
    EXPECT_EQ(f.Cycle().WatchdogTimer().Interval(), 4000);
    EXPECT_FALSE(f.Cycle().PresenceTimer().Enabled());
    EXPECT_FALSE(f.Cycle().TimeoutTimer().Enabled());
    EXPECT_FALSE(f.Cycle().WatchdogTimer().Enabled());
    EXPECT_EQ(f.Comm1().Baudrate(), br600);
}

TEST(MainWindow, MenusHoldTheirItemsInOrder)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    QStringList file, help;
    for (QAction* a : f.Soubor1->actions())
        file << (a->isSeparator() ? "-" : a->text());
    for (QAction* a : f.Npovda1->actions())
        help << a->text();
    // Each with its Alt letter, the first one its neighbours left free.
    EXPECT_EQ(f.Soubor1->title(), "&Soubor");
    EXPECT_EQ(f.Npovda1->title(), QString::fromUtf8("&Nápověda"));
    EXPECT_EQ(file,
              QStringList({QString::fromUtf8("&Otevřít ..."), QString::fromUtf8("&Uložit jako ..."),
                           QString::fromUtf8("&Porovnat se souborem ..."),
                           QString::fromUtf8("&Zálohy ..."), "&Tisk ...",
                           QString::fromUtf8("U&ložit jako PDF ..."), "-",
                           QString::fromUtf8("&Načíst EEPROM"), QString::fromUtf8("N&astavení"),
                           QString::fromUtf8("Kont&rola připojení ..."), "-", "&Konec"}));
    EXPECT_EQ(help,
              QStringList({QString::fromUtf8("&Nápověda Korvalinex"), "&Informace o programu"}));
    for (QAction* a : f.Soubor1->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
        }
    }
}

TEST(MainWindow, HintPanelShowsTheLongPartOfTheHintUnderTheMouse)
{
    TShellFixture fx;
    fx.dir.Write("Languages/Other.ini", "[About]\r\nLabel6_Hint=Mail | Write to the authors.\r\n");
    TMainForm& f = fx.Start();
    // The About box takes its hints from the language file when it becomes active.
    TAbout about("Other", fx.dir.Path(), &f);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&about, &activate);
    // The mouse moves onto a control (Enter) or off it onto the background behind (Leave only:
    // the parent it is still over gets no Enter).
    struct {
        QWidget* w;
        QEvent::Type move;
        const char* expected;
    } cases[] = {
        {f.Button1, QEvent::Enter, "  Nacíst data z regulátoru."},
        {f.Button1, QEvent::Leave, " "},
        {f.Button3, QEvent::Enter, " Nastavit tovární nastavení regulátoru."},
        {f.Image5, QEvent::Enter, "  Other language"},
        {f.Image5, QEvent::Leave, " "},
        {f.Button3, QEvent::Enter, " Nastavit tovární nastavení regulátoru."},
        {f.LnH, QEvent::Enter, " "},
        {about.Label6, QEvent::Enter, "  Write to the authors."},
        {about.Label6, QEvent::Leave, " "},
    };
    for (const auto& c : cases) {
        QEvent event(c.move);
        QApplication::sendEvent(c.w, &event);
        EXPECT_EQ(f.StatusPanel2->text(), QString::fromUtf8(c.expected))
            << c.w->objectName().toStdString() << (c.move == QEvent::Enter ? " enter" : " leave");
    }
}

TEST(MainWindow, FlagClickSelectsLanguageAndHelpFile)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    QTest::mouseClick(f.Image4, Qt::LeftButton);
    EXPECT_EQ(f.Settings().language, "GE");
    EXPECT_EQ(f.Panel5->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(f.Panel3->frameShadow(), QFrame::Raised);
    EXPECT_EQ(f.HelpFile(), fx.dir.Path() + "Help/HelpGE.HLP");
    QTest::mouseClick(f.Image5, Qt::LeftButton);
    EXPECT_EQ(f.HelpFile(), fx.dir.Path() + "Help/Other.HLP");
}

// The title bars as the window system gets them, with the application set up as the program sets
// it up: each window's own caption, nothing appended. The main window's caption is changed first,
// so that its title bar cannot pass for any name of the program's.
TEST(TitleBars, EachWindowShowsItsOwnCaptionOnly)
{
    struct Restore {
        QString name = QCoreApplication::applicationName();
        QString desktop = QGuiApplication::desktopFileName();
        ~Restore()
        {
            QCoreApplication::setApplicationName(name);
            QGuiApplication::setDesktopFileName(desktop);
        }
    } restore;
    SetUpApplication(*qApp);
    TShellFixture fx;
    TMainForm& f = fx.Start();
    f.show();
    EXPECT_EQ(TitleBarText(&f), "KORVALINEX");
    f.suiForm1->setProperty("caption", QStringLiteral("Translated"));
    EXPECT_EQ(TitleBarText(&f), "Translated") << "the frame's caption is the window's title";
    TNastaveni* dlg = f.Nastaveni();
    dlg->show();
    EXPECT_EQ(TitleBarText(dlg), QString::fromUtf8("Nastavení . . ."));
    EXPECT_EQ(TitleBarText(dlg->Button3), TitleBarText(dlg));
    dlg->hide();

    // The boxes, real ones, read while they are up.
    TQtMessageBoxes boxes(&f);
    const struct {
        const char* what;
        std::function<void()> show;
        QString title;
    } rows[] = {
        {"error", [&] { boxes.Show(TBoxKind::Error, "Chyba !!!", "x"); }, "Chyba !!!"},
        {"plain: the window's", [&] { boxes.Show(TBoxKind::Plain, {}, "x"); }, "Translated"},
        {"general", [&] { boxes.Show(TBoxKind::General, "Chyba !!!", "x"); }, "Chyba !!!"},
        {"question",
         [&] { boxes.Ask(QString::fromUtf8("Otázka ..."), "x", "Ano", "Ne", TDefaultAnswer::No); },
         QString::fromUtf8("Otázka ...")},
    };
    for (const auto& r : rows) {
        QString title;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    title = TitleBarText(box);
                    box->done(0);
                }
        });
        r.show();
        EXPECT_EQ(title, r.title) << r.what;
    }
}

// The menu item "Nápověda Korvalinex": which page goes to the viewer, and what the user is told
// when none can be shown.
TEST(MainWindow, HelpOpensThePageOfTheLanguageOrSaysWhyNot)
{
    const char* noLanguage = "Nápoveda není k dispozici, dokud není vybrán jazyk.";
    const char* notFound = "Soubor nápovedy %1 nebyl nalezen.";
    const char* noViewer = "Nápovědu se nepodařilo otevřít: v systému není program, který by ji "
                           "zobrazil. Otevřete soubor %1 ve webovém prohlížeči.";
    struct {
        const char* name;
        const char* language; // LANGUAGE in setup.ini
        QStringList files;    // in the program folder
        bool viewerFails;
        const char* opened; // handed to the viewer; "" none
        const char* box;    // the box's text, %1 the page; nullptr none
    } cases[] = {
        {"NoLanguage", "cz", {"Help/HelpCZ.html"}, false, "", noLanguage},
        {"Html", "CZ", {"Help/HelpCZ.html", "Help/HelpCZ.pdf"}, false, "Help/HelpCZ.html", nullptr},
        {"PdfWithoutHtml",
         "EN",
         {"Help/HelpEN.pdf", "Help/HelpEN.HLP"},
         false,
         "Help/HelpEN.pdf",
         nullptr},
        {"OldHelpFileOnly", "Other", {"Help/Other.HLP"}, false, "", notFound},
        {"OtherLanguagesPageNotAnother", "GE", {"Help/HelpEN.html"}, false, "", notFound},
        {"NoViewer", "GE", {"Help/HelpGE.html"}, true, "Help/HelpGE.html", noViewer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TShellFixture fx;
        fx.WriteSetup(QByteArray("[SETUP]\r\nLANGUAGE=") + c.language + "\r\n");
        for (const QString& file : c.files)
            fx.dir.Write(file, "<html></html>");
        fx.viewerFails = c.viewerFails;
        TMainForm& f = fx.Start();
        f.Help->trigger();
        EXPECT_EQ(fx.opened, *c.opened ? QList<QUrl>{QUrl::fromLocalFile(fx.dir.File(c.opened))}
                                       : QList<QUrl>{});
        if (!c.box) {
            EXPECT_TRUE(fx.boxes.boxes.isEmpty());
            continue;
        }
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        const TRecordedBox& box = fx.boxes.boxes[0];
        const QString page = fx.dir.File(QStringLiteral("Help/%1.html")
                                             .arg(c.language == QLatin1String("Other")
                                                      ? QStringLiteral("Other")
                                                      : QStringLiteral("Help") + c.language));
        const QString text = QString::fromUtf8(c.box);
        EXPECT_EQ(box.text, text.contains("%1") ? text.arg(page) : text);
        EXPECT_EQ(box.kind, c.viewerFails ? TBoxKind::Error : TBoxKind::Plain);
        EXPECT_EQ(box.caption, c.viewerFails ? "Chyba !!!" : "");
    }
}

TEST(AboutBox, EightLinesFrameAndLanguageFile)
{
    QWidget owner;
    TAbout about("Other", "/opt/k/", &owner);
    EXPECT_EQ(about.size(), QSize(394, 298));
    EXPECT_TRUE(about.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(about.windowTitle(), "Informace o programu ...");
    EXPECT_EQ(about.Label7->text(), "KORVALINEX v. 1.0.9");
    EXPECT_EQ(about.Label7->font().pixelSize(), 19);
    // 16 pixels high, less when the line would not fit the box.
    EXPECT_LE(about.Label3->font().pixelSize(), 16);
    EXPECT_GE(about.Label3->font().pixelSize(), 14);
    EXPECT_LE(about.Label3->sizeHint().width(), 394 - 24);
    EXPECT_EQ(about.Label4->font().pixelSize(), 13);
    EXPECT_TRUE(about.Label6->font().bold());
    EXPECT_EQ(about.Panel1->size(), QSize(351, 1));
    EXPECT_EQ(about.Panel1->palette().color(QPalette::Window), QColor(204, 0, 0));
    EXPECT_EQ(about.LanguageFile(), "/opt/k/Languages/Other.ini");
    EXPECT_EQ(TAbout("cz", "/opt/k/", &owner).LanguageFile(), "");

    // Each of the eight lines is whole in the system font: not cut at its ends nor in height.
    about.show();
    for (QLabel* l : {about.Label7, about.Label1, about.Label2, about.Label3, about.Label4,
                      about.Label5, about.Label6}) {
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width())
            << l->objectName().toStdString();
        EXPECT_GE(l->height(), l->sizeHint().height()) << l->objectName().toStdString();
        EXPECT_TRUE(about.rect().contains(l->geometry())) << l->objectName().toStdString();
    }
    EXPECT_TRUE(about.rect().contains(about.Image1->geometry()));

    // The frame is drawn along the very edge.
    const QImage img = about.grab().toImage();
    for (QPoint p : {QPoint(0, 0), QPoint(393, 0), QPoint(393, 297), QPoint(0, 297), QPoint(200, 0),
                     QPoint(0, 150)})
        EXPECT_EQ(img.pixelColor(p), QColor(Qt::black)) << p.x() << "," << p.y();
}

TEST(AboutBox, AClickOnAnyPartClosesIt)
{
    QWidget owner;
    for (int which = 0; which < 3; ++which) {
        TAbout about("CZ", "/opt/k/", &owner);
        about.show();
        QWidget* target = which == 0   ? static_cast<QWidget*>(&about)
                          : which == 1 ? static_cast<QWidget*>(about.Label5)
                                       : static_cast<QWidget*>(about.Image1);
        QTest::mouseClick(target, Qt::LeftButton);
        EXPECT_EQ(about.result(), QDialog::Accepted) << which;
        EXPECT_FALSE(about.isVisible()) << which;
    }
}
