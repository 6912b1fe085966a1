// The language components against real language files in a temporary program folder: the reading
// rule, the order and mapping of a form's texts, menus, messages and the owner check.

#include "common/profile.h"
#include "i18n/formlangres.h"
#include "i18n/formlanguage.h"
#include "i18n/menulangres.h"
#include "i18n/msglangres.h"
#include "tests/support/files.h"
#include "tests/support/programdir.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

template <class T> T* Named(QWidget* parent, const char* name)
{
    auto* w = new T(parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A window with one component of each kind the language files can reach.
struct TForm {
    TProgramDir dir;
    QWidget form;
    QLabel* label;
    QPushButton* button;
    QLineEdit* edit;
    QGroupBox* group;
    QComboBox* combo;
    QTabWidget* tabs;
    QLabel* ignored;
    QTimer* timer;
    QDialog* child;
    QLabel* childLabel;
    TsmlFormLangRes* res = nullptr;

    TForm()
    {
        form.setObjectName("Form1");
        form.setWindowTitle("form caption");
        label = Named<QLabel>(&form, "Label1");
        label->setText("label");
        button = Named<QPushButton>(&form, "Button1");
        button->setText("button");
        button->setProperty("hint", "b | button hint");
        edit = Named<QLineEdit>(&form, "Edit1");
        edit->setText("edit");
        auto* inner = new QWidget(&form); // unnamed: its children still belong to the window
        group = Named<QGroupBox>(inner, "sui0");
        group->setTitle("group");
        auto* buttons = new QButtonGroup(group);
        for (int i = 0; i < 2; ++i) {
            auto* item = new QRadioButton(QStringLiteral("item%1").arg(i), group);
            item->setObjectName(QStringLiteral("sui0_item%1").arg(i));
            buttons->addButton(item);
        }
        combo = Named<QComboBox>(&form, "Combo1");
        combo->addItems({"c0", "c1"});
        tabs = Named<QTabWidget>(&form, "Tabs1");
        tabs->addTab(new QWidget, "t0");
        ignored = Named<QLabel>(&form, "Ignored1");
        ignored->setText("ignored");
        // A caption the reading rule would find on any other non-visual component.
        timer = Named<QTimer>(nullptr, "Timer1");
        timer->setProperty("Caption", QStringLiteral("timer"));
        timer->setParent(&form);
        child = new QDialog(&form);
        child->setObjectName("Child");
        childLabel = Named<QLabel>(child, "Label1");
        childLabel->setText("child label");
    }
    TsmlFormLangRes& Res()
    {
        if (!res) {
            res = new TsmlFormLangRes(&form, dir.Path());
            res->SetAutoCreateMode(false);
            res->SetIgnoreEmptyString(true);
            res->SetStringProperties({"Caption", "Hint", "Text"});
            res->SetIgnoreControls({"Ignored1"});
        }
        return *res;
    }
    void Lang(const char* name, const QByteArray& text) const
    {
        dir.Write(QString::fromLatin1(name), text);
    }
};

} // namespace

TEST(FormLangRes, AppliesFontWindowAndEveryOwnedComponentThroughTheMapping)
{
    TForm f;
    f.Lang("Languages/X.ini", "[Form1]\r\n"
                              "Form1_FontName=DejaVu Serif\r\nForm1_FontSize=$0C\r\n"
                              "Form1_Caption=Titel\r\nForm1_Hint=form hint\r\n"
                              "Label1_Caption=Beschriftung\r\nButton1_Caption=Knopf\r\n"
                              "Button1_Hint=k | Knopfhinweis\r\nEdit1_Text=Feld\r\n"
                              "sui0_Caption=Gruppe\r\nsui0_Items[1]=Punkt 1\r\n"
                              "sui0_item0_Caption=WRONG\r\nCombo1_Items[1]=Liste 1\r\n"
                              "Tabs1_Tabs[0]=Reiter\r\nIgnored1_Caption=WRONG\r\n"
                              "Late1_Caption=spaet\r\nTimer1_Caption=WRONG\r\n"
                              "[Child]\r\nLabel1_Caption=WRONG\r\n");
    TsmlFormLangRes& res = f.Res();
    // Made after the component, as the parameter panel's controls are.
    auto* late = Named<QLabel>(&f.form, "Late1");
    late->setText("late");
    res.SetLangFileName("Languages/X.ini");
    EXPECT_EQ(f.form.windowTitle(), "form caption") << "not active yet";
    res.SetActive(true);

    EXPECT_EQ(f.form.font().family(), "DejaVu Serif");
    EXPECT_EQ(f.form.font().pointSize(), 12);
    EXPECT_EQ(f.form.windowTitle(), "Titel");
    EXPECT_EQ(f.form.property("hint").toString(), "form hint");
    EXPECT_EQ(f.label->text(), "Beschriftung");
    EXPECT_EQ(f.button->text(), "Knopf");
    EXPECT_EQ(f.button->property("hint").toString(), "k | Knopfhinweis");
    EXPECT_EQ(f.edit->text(), "Feld");
    EXPECT_EQ(f.group->title(), "Gruppe");
    const auto items = f.group->findChildren<QRadioButton*>();
    EXPECT_EQ(items[0]->text(), "item0") << "a radio group's items are not components";
    EXPECT_EQ(items[1]->text(), "Punkt 1");
    EXPECT_EQ(f.combo->itemText(0), "c0");
    EXPECT_EQ(f.combo->itemText(1), "Liste 1");
    EXPECT_EQ(f.tabs->tabText(0), "Reiter");
    EXPECT_EQ(f.ignored->text(), "ignored");
    EXPECT_EQ(f.timer->property("Caption").toString(), "timer") << "timers are not translated";
    EXPECT_EQ(late->text(), "spaet");
    EXPECT_EQ(f.childLabel->text(), "child label") << "another window has its own component";
    EXPECT_EQ(res.LangFileName(), "X.ini");
    EXPECT_EQ(res.LangFilePath(), f.dir.Path() + "Languages/X.ini");
}

TEST(FormLangRes, ReadingRuleEmptyMissingSwitchAndFreshRead)
{
    TForm f;
    TsmlFormLangRes& res = f.Res();
    res.SetActive(true);
    f.Lang("Languages/A.ini", "[Form1]\r\nLabel1_Caption=A label\r\nButton1_Caption=A button\r\n");
    f.Lang("Languages/B.ini", "[form1]\r\nlabel1_caption=\r\nEdit1_Text=B edit\r\n");
    res.SetLangFileName("Languages/Missing.ini");
    EXPECT_EQ(f.label->text(), "label");
    res.SetLangFileName("Languages/A.ini");
    EXPECT_EQ(f.label->text(), "A label");
    // B has an empty value for the label and no key for the button: both keep A's texts.
    res.SetLangFileName("Languages/B.ini");
    EXPECT_EQ(f.label->text(), "A label");
    EXPECT_EQ(f.button->text(), "A button");
    EXPECT_EQ(f.edit->text(), "B edit");
    // The file is read afresh at every application.
    f.Lang("Languages/B.ini", "[Form1]\r\nLabel1_Caption=B label\r\n");
    res.SetLangFileName("Languages/B.ini");
    EXPECT_EQ(f.label->text(), "B label");
}

TEST(FormLangRes, FormCaptionRuleIsExactAndDefLangIsReadUntilAFileIsChosen)
{
    TForm f;
    f.Lang("DefLang.ini", "[Form1]\r\nForm1_Caption=from DefLang\r\nLabel1_Caption=def\r\n");
    TsmlFormLangRes& res = f.Res();
    res.SetIgnoreFormCaption(true);
    EXPECT_EQ(res.LangFileName(), "DefLang.ini");
    res.SetActive(true);
    EXPECT_EQ(f.label->text(), "def");
    EXPECT_EQ(f.form.windowTitle(), "form caption");
    // Only "Caption" itself is skipped; the property is still found regardless of case.
    res.SetStringProperties({"caption"});
    EXPECT_EQ(f.form.windowTitle(), "from DefLang");
}

TEST(FormLangRes, FontSizeTakesDecimalAndHexadecimal)
{
    const struct {
        const char* text;
        int size;
    } table[] = {{"12", 12},   {"0x0C", 12},      {"0X0c", 12}, {"$0c", 12}, {" 9 ", 9},
                 {"-13", -13}, {"0", 0},          {"", 0},      {"abc", 0},  {"12pt", 0},
                 {"0x", 0},    {"$-5", 0},        {"--5", 0},   {"$", 0},    {"1.5", 0},
                 {"+7", 7},    {"99999999999", 0}};
    for (const auto& row : table)
        EXPECT_EQ(ParseFontSize(QString::fromLatin1(row.text)), row.size) << row.text;
}

TEST(FormLangRes, AutoCreateModeWritesMissingKeysWithTheTextInForce)
{
    TForm f;
    TsmlFormLangRes& res = f.Res();
    res.SetIgnoreControls({});
    res.SetAutoCreateMode(true);
    f.Lang("Languages/T.ini", "[Form1]\r\nEdit1_Text=\r\n");
    res.SetLangFileName("Languages/T.ini");
    res.SetActive(true);
    const QString path = f.dir.File("Languages/T.ini");
    // Only keys that are missing are written; an empty one stays empty, and empty texts are
    // left out while IgnoreEmptyString is set.
    EXPECT_EQ(GetPrivateProfileString("Form1", "Label1_Caption", "?", path), "label");
    EXPECT_EQ(GetPrivateProfileString("Form1", "Button1_Hint", "?", path), "b | button hint");
    EXPECT_EQ(GetPrivateProfileString("Form1", "Edit1_Text", "?", path), "");
    EXPECT_EQ(GetPrivateProfileString("Form1", "Form1_Hint", "?", path), "?");
    EXPECT_EQ(f.label->text(), "label");
}

TEST(LangRes, OwnerMustBeAWindowOrANonVisualContainer)
{
    QWidget window;
    auto* inner = new QLabel(&window);
    QObject container;
    for (QObject* bad : {static_cast<QObject*>(inner), static_cast<QObject*>(nullptr)}) {
        try {
            TsmlFormLangRes res(bad);
            ADD_FAILURE() << "accepted a control as owner";
        } catch (const ELangResError& e) {
            EXPECT_EQ(e.Text(), "Owner must be a Form or a DataModule!");
        }
    }
    EXPECT_TRUE(inner->children().isEmpty());
    EXPECT_NO_THROW(TsmlMenuLangRes res(&window));
    EXPECT_NO_THROW(TsmlMsgLangRes res(&container));
}

TEST(MenuLangRes, TranslatesItemsAndSubItemsButNoSeparatorOrWhatLiesBelowIt)
{
    TProgramDir dir;
    QWidget form;
    form.setObjectName("Form1");
    auto* bar = new QMenuBar(&form);
    QMenu* file = bar->addMenu("Soubor");
    file->setObjectName("Soubor1");
    QAction* open = file->addAction("Otevrit");
    open->setObjectName("Open");
    open->setVisible(false);
    QAction* qtSeparator = file->addSeparator();
    qtSeparator->setObjectName("N1");
    QMenu* dash = file->addMenu("-");
    dash->setObjectName("N2");
    QAction* below = dash->addAction("pod");
    below->setObjectName("Below");
    QMenu* more = file->addMenu("Dalsi");
    more->setObjectName("More");
    QAction* deep = more->addAction("hluboko");
    deep->setObjectName("Deep");
    dir.Write("L.ini", "[Form1]\r\nSoubor1_Caption=File\r\nOpen_Caption=Open\r\nN1_Caption=X\r\n"
                       "N2_Caption=X\r\nBelow_Caption=X\r\nMore_Caption=More\r\n"
                       "Deep_Caption=Deep\r\n");
    TsmlMenuLangRes res(&form, dir.Path());
    res.SetAutoCreateMode(false);
    res.SetActive(true);
    res.SetLangFileName("L.ini");
    EXPECT_EQ(file->title(), "Soubor") << "no menu set yet";
    res.SetMenu(bar);
    EXPECT_EQ(file->title(), "File");
    EXPECT_EQ(open->text(), "Open");
    EXPECT_TRUE(qtSeparator->text().isEmpty());
    EXPECT_EQ(dash->title(), "-");
    EXPECT_EQ(below->text(), "pod");
    EXPECT_EQ(more->title(), "More");
    EXPECT_EQ(deep->text(), "Deep");
    delete bar;
    EXPECT_EQ(res.Menu(), nullptr);
    res.Reapply();
}

TEST(MsgLangRes, ReplacesMessagesUnderTheirKeysAndKeepsWhatTheFileLacks)
{
    TProgramDir dir;
    QWidget form;
    form.setObjectName("MainForm");
    dir.Write("Languages/EN.ini", "[MainForm]\r\nStr1=a = b\r\nstr2=\r\nSTR4=\" Spaced \"\r\n"
                                  "Str5=five\r\n");
    dir.Write("Languages/GE.ini", "[MainForm]\r\nStr1=eins\r\n");
    TsmlMsgLangRes m(&form, dir.Path());
    m.SetAutoCreateMode(false);
    m.SetActive(true);
    m.SetMsgList({"Str1=x=y", "Str2=Chyba", "Str4=c", "Str5"});
    EXPECT_EQ(m.LookupMessage("str1"), "x=y");
    m.SetLangFileName("Languages/EN.ini");
    EXPECT_EQ(m.LookupMessage("str1"), "a = b");
    EXPECT_EQ(m.LookupMessage("str2"), "Chyba");
    EXPECT_EQ(m.LookupMessage("str4"), " Spaced ");
    EXPECT_EQ(m.LookupMessage("str5"), "five");
    m.SetLangFileName("Languages/GE.ini");
    EXPECT_EQ(m.LookupMessage("str1"), "eins");
    EXPECT_EQ(m.LookupMessage("str4"), " Spaced ") << "stays in the previous language";
    // A new list is applied at once.
    m.SetMsgList({"Str1=jedna", "Str2=dva"});
    EXPECT_EQ(m.MsgList(), QStringList({"Str1=eins", "Str2=dva"}));
    EXPECT_FALSE(m.Applying());
}

TEST(LanguageHook, SecondaryWindowTakesTheCurrentLanguageOnActivation)
{
    TProgramDir dir;
    QDialog dialog;
    dialog.setObjectName("Nastaveni");
    dialog.setWindowTitle("Nastaveni . . .");
    auto* label = Named<QLabel>(&dialog, "Label1");
    label->setText("Port");
    dir.Write("Languages/EN.ini", "[Nastaveni]\r\nNastaveni_Caption=Connection\r\n"
                                  "Label1_Caption=Serial port\r\n");
    dir.Write("Languages/GE.ini", "[Nastaveni]\r\nLabel1_Caption=Schnittstelle\r\n");
    QString code = "EN";
    TsmlFormLangRes* res = AttachFormLanguage(&dialog, dir.Path(), [&code] { return code; });
    EXPECT_EQ(res->LangFileName(), "DefLang.ini");
    EXPECT_EQ(label->text(), "Port");
    const auto activate = [&dialog] {
        QEvent e(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&dialog, &e);
    };
    activate();
    EXPECT_EQ(dialog.windowTitle(), "Connection");
    EXPECT_EQ(label->text(), "Serial port");
    code = "GE";
    activate();
    EXPECT_EQ(label->text(), "Schnittstelle");
    EXPECT_EQ(dialog.windowTitle(), "Connection");
    // An unknown code keeps the file the window had.
    code = "ge";
    dir.Write("Languages/GE.ini", "[Nastaveni]\r\nLabel1_Caption=Anschluss\r\n");
    activate();
    EXPECT_EQ(res->LangFileName(), "GE.ini");
    EXPECT_EQ(label->text(), "Schnittstelle");
}
