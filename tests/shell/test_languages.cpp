// The language switch of the main window and its secondary windows, and the shipped language
// files measured against every text the program can translate.

#include "tests/support/cyclefixture.h"

#include "common/profile.h"
#include "common/textcodec.h"
#include "i18n/formlangres.h"
#include "i18n/langprops.h"
#include "i18n/languages.h"
#include "i18n/menulangres.h"
#include "models/parampanel.h"
#include "shell/about.h"
#include "shell/filedialogs.h"
#include "shell/kontrola.h"
#include "shell/nastaveni.h"
#include "shell/porovnani.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// Every text of the main window that a language file can reach, by key.
QMap<QString, QString> MainTexts(TMainForm& f)
{
    QMap<QString, QString> texts;
    for (const auto& t : f.FormLangRes().Texts())
        texts.insert(t.first, t.second);
    for (const auto& t : f.MenuLangRes().Texts())
        texts.insert(t.first, t.second);
    for (const QString& line : f.Messages().MsgList())
        texts.insert(line.section('=', 0, 0), line.section('=', 1));
    return texts;
}

void Activate(QWidget* w)
{
    QEvent e(QEvent::WindowActivate);
    QCoreApplication::sendEvent(w, &e);
}

QString Shipped(const QString& name)
{
    return QStringLiteral(KX_SOURCE_DIR "/data/Languages/") + name;
}

} // namespace

TEST(LanguageSwitch, EnglishWithoutItsFileLowersTheFlagAndKeepsEveryText)
{
    TShellFixture fx;
    fx.WriteSetup("[SETUP]\r\nLANGUAGE=CZ\r\n");
    fx.dir.Write("Languages/CZ.ini", SourceFile("data/Languages/CZ.ini"));
    TMainForm& f = fx.Start();
    ASSERT_EQ(f.Button1->text(), QString::fromUtf8("Načíst data"));
    const auto before = MainTexts(f);
    f.Image2Click(f.Image3);
    EXPECT_EQ(f.Panel4->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(f.Panel3->frameShadow(), QFrame::Raised);
    EXPECT_EQ(f.Settings().language, "EN");
    EXPECT_EQ(f.HelpFile(), fx.dir.Path() + "Help/HelpEN.HLP");
    EXPECT_EQ(MainTexts(f), before) << "the texts stay in the previous language, not built-in";
    EXPECT_EQ(f.FormLangRes().LangFileName(), "EN.ini");
    EXPECT_EQ(f.MenuLangRes().LangFileName(), "EN.ini");
    EXPECT_EQ(f.Messages().LangFileName(), "EN.ini");
}

TEST(LanguageSwitch, AppliesTheThreeComponentsAndSkipsTheWindowsOwnCaption)
{
    TShellFixture fx;
    fx.dir.Write("Languages/GE.ini",
                 "[MainForm]\r\nMainForm_Caption=WRONG\r\nsuiForm1_Caption=Titel\r\n"
                 "Button1_Caption=Lesen\r\nButton1_Hint=Lesen | Liest.\r\nSoubor1_Caption=Datei\r\n"
                 "Open_Caption=Oeffnen\r\nN1_Caption=WRONG\r\nStr4=\" Getrennt \"\r\n"
                 "Str53=a=b\r\nMessageDlg_Button1Caption=Ja\r\nMessageDlg_Text=Ersetzen?\r\n"
                 "EPocPolu_Text=14\r\nEPrevPom_Text=\r\n");
    fx.WriteSetup("[SETUP]\r\nPOCETP=6\r\nPREVOD=3.5\r\n");
    TMainForm& f = fx.Start();
    ASSERT_EQ(f.Settings().poles, "6");
    f.Image2Click(f.Image4);
    EXPECT_EQ(f.windowTitle(), "Titel")
        << "the frame's caption is the title, never MainForm_Caption";
    const QObject* frame = f.findChild<QObject*>("suiForm1");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(FindStringProperty(const_cast<QObject*>(frame), "Caption")->get(), "Titel");
    EXPECT_EQ(f.Button1->text(), "Lesen");
    EXPECT_EQ(f.Button1->property("hint").toString(), "Lesen | Liest.");
    EXPECT_EQ(f.Soubor1->title(), "&Datei");
    EXPECT_EQ(f.Open->text(), "&Oeffnen");
    EXPECT_TRUE(f.N1->isSeparator() && f.N1->text().isEmpty());
    EXPECT_EQ(f.Messages().LookupMessage("str4"), " Getrennt ");
    EXPECT_EQ(f.Messages().LookupMessage("str53"), "a=b");
    EXPECT_EQ(f.MessageDlg().button1Caption, "Ja");
    EXPECT_EQ(f.MessageDlg().text, "Ersetzen?");
    EXPECT_EQ(f.MessageDlg().button2Caption, "Ne");
    // The pole count follows the file, and with it the setting; an empty value changes nothing.
    EXPECT_EQ(f.EPocPolu->text(), "14");
    EXPECT_EQ(f.Settings().poles, "14");
    EXPECT_EQ(f.Settings().ratio, "3.5");
    // The connection state speaks the new language too.
    EXPECT_EQ(f.StatusPanel1->text(), " Getrennt ");

    // The same flag again reads the file afresh.
    fx.dir.Write("Languages/GE.ini", "[MainForm]\r\nButton1_Caption=Daten lesen\r\n");
    f.Image2Click(f.Image4);
    EXPECT_EQ(f.Button1->text(), "Daten lesen");
    EXPECT_EQ(f.Soubor1->title(), "&Datei");
}

TEST(LanguageSwitch, ANameInLnHCaptionIsTakenForARegulator)
{
    TShellFixture fx;
    fx.dir.Write("Languages/EN.ini", "[MainForm]\r\nLnH_Caption=NO SUCH ESC\r\n");
    TMainForm& f = fx.Start();
    f.Image2Click(f.Image3);
    EXPECT_EQ(f.LnH->text(), "NO SUCH ESC");
    ASSERT_FALSE(fx.boxes.boxes.isEmpty()) << "relabelling looked for the model file";
    EXPECT_TRUE(fx.boxes.boxes.back().text.contains("NO SUCH ESC.ini"));
}

TEST(LanguageSwitch, RelabelsTheConnectedPanelFromTheNewLanguageAndKeepsPresenceChecks)
{
    TCycleFixture fx;
    fx.dir.Write("Regulators/EN/KVX-40 OPTO.ini", SourceFile("data/Regulators/EN/KVX-40 OPTO.ini"));
    fx.dir.Write("Languages/EN.ini", "[MainForm]\r\nButton1_Caption=Read settings\r\n"
                                     "sui0_Caption=WRONG\r\nLab10_Caption=WRONG\r\n");
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const int selected = fx.Panel().ItemIndex(1);
    f.Image2Click(f.Image3);
    EXPECT_EQ(f.Button1->text(), "Read settings");
    EXPECT_EQ(fx.Panel().Group(0)->title().trimmed(), "Settings range") << "the model file wins";
    EXPECT_EQ(fx.Panel().CaptionLabel(0)->text().left(7), "Voltage");
    EXPECT_EQ(fx.Panel().ItemIndex(1), selected);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

TEST(LanguageSwitch, AboutBoxSpeaksTheLanguageOfEachShowing)
{
    TShellFixture fx;
    fx.dir.Write("Languages/EN.ini", SourceFile("data/Languages/EN.ini"));
    fx.dir.Write("Languages/Other.ini", "[About]\r\nLabel5_Caption=Autre\r\n");
    TMainForm& f = fx.Start();
    {
        TAbout about("EN", fx.dir.Path(), &f);
        EXPECT_EQ(about.Label5->text(),
                  QString::fromUtf8("Program pro Korvalinex napsala softwarová dílna Vlnka"));
        Activate(&about);
        EXPECT_EQ(about.Label5->text(),
                  "Software for Korvalinex written by the Vlnka software studio");
        EXPECT_EQ(about.windowTitle(), "About Korvalinex ...");
        EXPECT_EQ(about.Label7->text(), "KORVALINEX v. 1.0.9");
    }
    TAbout other("Other", fx.dir.Path(), &f);
    Activate(&other);
    EXPECT_EQ(other.Label5->text(), "Autre");
}

// Every text the program can look up or apply, taken from the windows as built and the message
// table, must have a value in the Czech, English and German files, and the template must name it.
// Keys whose "text" is a value (what the regulator or the user put there) must not be in any
// shipped file: applying them would overwrite that value at every language selection.
TEST(ShippedLanguageFiles, CoverEveryTextOfEveryWindowAndMessage)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    TAbout about("EN", fx.dir.Path(), &f);
    // The comparison and the backups list are the window's children: their components are found
    // with the window's own.
    const TCompareHost host{
        fx.dir.Path(), "CZ", &f.ParamPanel().Model(), &f.Messages(), {}, {}, {}, {}};
    TPorovnani compare(host, QString(), {}, &f);
    TZalohy backups(host, "KVX-40 OPTO", &f);
    TKontrola check({fx.dir.Path(), "CZ", &f.Messages(), {}, [](const QString&) {}}, &f);
    const QStringList valueStems = {"LnH",          "LvH",          "LaH",          "LmH",
                                    "LKorekceA",    "LKorekceB",    "EPocPolu",     "EPrevPom",
                                    "StatusPanel0", "StatusPanel1", "StatusPanel2", "Label3"};
    struct Key {
        QString section, key, builtIn;
    };
    QList<Key> keys;
    QList<Key> valueKeys;
    QList<TsmlFormLangRes*> forms = f.findChildren<TsmlFormLangRes*>();
    forms += about.findChildren<TsmlFormLangRes*>();
    for (TsmlFormLangRes* res : forms) {
        for (const auto& t : res->Texts()) {
            const QString stem = t.first.section('_', 0, 0);
            // The About box's version line comes from the program.
            const bool value = (res->Section() == "MainForm" && valueStems.contains(stem)) ||
                               (res->Section() == "About" && stem == "Label7");
            if (value)
                valueKeys.append({res->Section(), t.first, t.second});
            else if (!t.second.trimmed().isEmpty())
                keys.append({res->Section(), t.first, t.second});
        }
    }
    for (const auto& t : f.MenuLangRes().Texts())
        keys.append({"MainForm", t.first, t.second});
    for (const QString& line : f.Messages().MsgList())
        keys.append({"MainForm", line.section('=', 0, 0), line.section('=', 1)});
    ASSERT_GT(keys.size(), 60);

    const QString missing = QString(QChar(0xFFFF));
    const QRegularExpression placeholders("%\\d");
    for (const char* lang : {"CZ.ini", "EN.ini", "GE.ini", "Other.ini"}) {
        const QString path = Shipped(lang);
        ASSERT_TRUE(QFileInfo(path).isFile()) << lang;
        const QByteArray bytes = ReadBytes(path);
        EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << lang << ": CR LF line ends";
        // Windows-1250, not UTF-8: every file has accented letters, so UTF-8 would decode cleanly.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8.decode(bytes);
        EXPECT_TRUE(utf8.hasError()) << lang << " is not in Windows-1250";
        for (const Key& k : keys) {
            const QString v = GetPrivateProfileString(k.section, k.key, missing, path);
            EXPECT_NE(v, missing) << lang << ": " << k.section.toStdString() << "/"
                                  << k.key.toStdString();
            if (QLatin1String(lang) == QLatin1String("Other.ini") || v == missing)
                continue;
            EXPECT_FALSE(v.isEmpty()) << lang << ": " << k.key.toStdString();
            // Messages that others are appended to keep their blanks; placeholders stay.
            if (k.key.startsWith("Str")) {
                EXPECT_EQ(v.startsWith(' '), k.builtIn.startsWith(' '))
                    << lang << ": " << k.key.toStdString();
                EXPECT_EQ(v.endsWith(' '), k.builtIn.endsWith(' '))
                    << lang << ": " << k.key.toStdString();
            }
            QStringList want, got;
            for (const auto& m : placeholders.globalMatch(k.builtIn))
                want << m.captured();
            for (const auto& m : placeholders.globalMatch(v))
                got << m.captured();
            want.sort();
            got.sort();
            EXPECT_EQ(got, want) << lang << ": " << k.key.toStdString();
            // A file filter keeps its patterns ("|*.zeq"); other texts may hold a "|" of their own.
            if (k.builtIn.contains("|*.") && k.key.startsWith("Str")) {
                EXPECT_EQ(v.section('|', 1), k.builtIn.section('|', 1)) << lang << ": filter";
            }
        }
        for (const Key& k : valueKeys)
            EXPECT_EQ(GetPrivateProfileString(k.section, k.key, missing, path), missing)
                << lang << ": " << k.key.toStdString() << " would overwrite a value";
    }
}

// Every page the help menu can open ships for each language, is in that language, and speaks of
// the program as it is: the names below are the same in every language.
TEST(ShippedHelpPages, OneForEveryLanguageInItsLanguage)
{
    const char* htmlLanguage[kLanguageCount] = {"cs", "en", "de", "en"};
    // Words each language's glossary (the head of its language file) has retired for another.
    const QStringList retired[kLanguageCount] = {
        {"soubor modelu", "soubory modelů", "souborů modelů"},
        {"regulator", "model file", "parameter file"},
        {"Sicherung", "Modelldatei", "Logdaten"},
        {"regulator", "model file", "parameter file"}};
    const char* mentioned[] = {"Data/&lt;",
                               "/Backup/",
                               "100",
                               "korvalinex-cli",
                               "korvalinex --demo",
                               ".local/share/korvalinex",
                               "shipped.sha256",
                               "/dev/serial/by-id",
                               "dialout",
                               "60-korvalinex-ftdi.rules",
                               "0403",
                               "korvalinex-cli diff",
                               "--dry-run",
                               "--if-different",
                               "--force",
                               "--jobs",
                               "-vv",
                               "--version",
                               "man korvalinex-cli",
                               "korvalinex-cli doctor",
                               "korvalinex-cli sheet",
                               "--only",
                               "--each"};
    ASSERT_TRUE(QFileInfo::exists(QStringLiteral(KX_SOURCE_DIR "/data/60-korvalinex-ftdi.rules")));
    for (int i = 0; i < kLanguageCount; ++i) {
        const QString page =
            HelpPageCandidates(QStringLiteral(KX_SOURCE_DIR "/data/") + kLanguages[i].helpFile)
                .first();
        ASSERT_TRUE(QFileInfo(page).isFile()) << page.toStdString();
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8.decode(ReadBytes(page));
        EXPECT_FALSE(utf8.hasError()) << page.toStdString() << " is not UTF-8";
        EXPECT_TRUE(text.contains(QStringLiteral("<html lang=\"%1\">").arg(htmlLanguage[i])))
            << page.toStdString();
        for (const char* name : mentioned)
            EXPECT_TRUE(text.contains(QLatin1String(name))) << page.toStdString() << ": " << name;
        for (const QString& word : retired[i])
            EXPECT_FALSE(text.contains(word)) << page.toStdString() << ": " << word.toStdString();
    }
}

// The settings dialog, built and activated in each shipped language: every caption it can
// translate has a text in the file, the dialog shows that text, and outside Czech it is no longer
// the built-in Czech one.
TEST(ShippedLanguageFiles, TranslateEveryCaptionOfTheSettingsDialog)
{
    for (const char* lang : {"CZ", "EN", "GE", "Other"}) {
        SCOPED_TRACE(lang);
        TShellFixture fx;
        const QString file = QString::fromLatin1(lang) + ".ini";
        fx.dir.Write("Languages/" + file, ReadBytes(Shipped(file)));
        fx.WriteSetup(QByteArray("[SETUP]\r\nLANGUAGE=") + lang + "\r\n");
        TMainForm& f = fx.Start();
        TNastaveni* dlg = f.Nastaveni();
        auto* res = dlg->findChild<TsmlFormLangRes*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_NE(res, nullptr);
        QList<QPair<QString, QString>> builtIn;
        for (const auto& t : res->Texts())
            if (!t.second.trimmed().isEmpty())
                builtIn.append(t);
        ASSERT_GE(builtIn.size(), 12);
        Activate(dlg);
        QMap<QString, QString> shown;
        for (const auto& t : res->Texts())
            shown.insert(t.first, t.second);
        const QString missing = QString(QChar(0xFFFF));
        for (const auto& [key, czech] : builtIn) {
            SCOPED_TRACE(key.toStdString());
            const QString v = GetPrivateProfileString("Nastaveni", key, missing, Shipped(file));
            EXPECT_NE(v, missing);
            if (v == missing)
                continue;
            EXPECT_FALSE(v.trimmed().isEmpty());
            EXPECT_EQ(shown.value(key), v);
            if (QLatin1String(lang) != QLatin1String("CZ")) {
                EXPECT_NE(v, czech) << "untranslated";
            }
        }
        EXPECT_EQ(dlg->windowTitle(), shown.value("suiForm1_Caption"));
        EXPECT_EQ(dlg->LV->headerItem()->text(2), dlg->Label5->text());
    }
}

// Names and the Czech language's own name are Czech in every language; anything else with a letter
// only Czech has was left untranslated.
TEST(ShippedLanguageFiles, EnglishAndGermanHoldNoCzechText)
{
    const QStringList czechOnPurpose = {"MainForm/Image2_Hint", "About/Label1_Caption"};
    const QRegularExpression czech(QString::fromUtf8("[ěščřžůďťňĚŠČŘŽŮĎŤŇ]"));
    for (const char* lang : {"CZ.ini", "EN.ini", "GE.ini", "Other.ini"}) {
        QString section;
        QSet<QString> keys;
        for (const QString& line : DecodeText(ReadBytes(Shipped(lang))).split("\r\n")) {
            if (line.startsWith('['))
                section = line.mid(1).section(']', 0, 0);
            if (line.startsWith(';') || !line.contains('='))
                continue;
            const QString key = section + '/' + line.section('=', 0, 0);
            // A second line of a key is never read: only the first counts.
            EXPECT_FALSE(keys.contains(key)) << lang << ": " << key.toStdString() << " twice";
            keys.insert(key);
            EXPECT_TRUE(QLatin1String(lang) == QLatin1String("CZ.ini") ||
                        czechOnPurpose.contains(key) || !line.section('=', 1).contains(czech))
                << lang << ": " << line.toStdString();
        }
        EXPECT_GT(keys.size(), 100) << lang;
    }
}

// Qt's own texts follow the flags: the buttons of a message box, the menu of a text field and the
// program's file dialog, which is Qt's own so that it can.
TEST(QtTexts, FollowTheLanguageOfTheFlags)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + '/';
    for (const char* qm : {"qtbase_cs.qm", "qtbase_de.qm"})
        if (!QFileInfo::exists(folder + qm))
            GTEST_SKIP() << "Qt's translations are not installed (Debian: qt6-translations-l10n): "
                         << (folder + qm).toStdString();
    TShellFixture fx;
    TMainForm& f = fx.Start();
    TQtFileDialogs dialogs(&f);
    const struct {
        QLabel* flag;
        const char* otherIni; // written before the click when not null
        const char* locale;
        const char *cancel, *undo, *open;
    } rows[] = {
        {f.Image2, nullptr, "cs", "Zrušit", "&Zpět", "Otevřít"},
        {f.Image3, nullptr, "en", "Cancel", "&Undo", "Open"},
        {f.Image4, nullptr, "de", "Abbrechen", "&Rückgängig", "Öffnen"},
        {f.Image5, "[MainForm]\r\nStr2=Error\r\n", "", "Cancel", "&Undo", "Open"},
        {f.Image5, "[MainForm]\r\nMainForm_QtLocale=de\r\n", "de", "Abbrechen", "&Rückgängig",
         "Öffnen"},
        {f.Image5, "[MainForm]\r\nMainForm_QtLocale=xx\r\n", "", "Cancel", "&Undo", "Open"},
        {f.Image2, nullptr, "cs", "Zrušit", "&Zpět", "Otevřít"},
    };
    for (const auto& row : rows) {
        if (row.otherIni)
            fx.dir.Write("Languages/Other.ini", row.otherIni);
        f.Image2Click(row.flag);
        SCOPED_TRACE(f.Settings().language.toStdString() + " " + row.locale);
        EXPECT_EQ(f.QtTextsLocale(), row.locale);
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8(row.cancel));
        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        EXPECT_EQ(menu->actions().value(0)->text().section('\t', 0, 0),
                  QString::fromUtf8(row.undo));

        bool qtOwn = false;
        QString open, cancel, filter;
        int placesWidth = 0, placesNeed = -1;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dlg = qobject_cast<QFileDialog*>(modal)) {
                qtOwn = dlg->testOption(QFileDialog::DontUseNativeDialog);
                if (auto* types = dlg->findChild<QComboBox*>("fileTypeCombo"))
                    filter = types->currentText();
                if (auto* buttons = dlg->findChild<QDialogButtonBox*>()) {
                    open = buttons->button(QDialogButtonBox::Open)->text();
                    cancel = buttons->button(QDialogButtonBox::Cancel)->text();
                }
                // The list of places shows its names ("Počítač") whole.
                if (auto* places = dlg->findChild<QAbstractItemView*>("sidebar")) {
                    placesWidth = places->viewport()->width();
                    placesNeed = places->sizeHintForColumn(0);
                }
            }
            if (modal)
                modal->close();
        });
        EXPECT_EQ(dialogs.OpenDlg({fx.dir.Path(), QString(), "Soubory [*.zeq]|*.zeq", "zeq"}), "");
        EXPECT_TRUE(qtOwn) << "the desktop's dialog would not follow the flags";
        // The description names its pattern already: Qt's copy of it is not added.
        EXPECT_EQ(filter, "Soubory [*.zeq]");
        EXPECT_GE(placesWidth, placesNeed);
        EXPECT_EQ(open, QString::fromUtf8(row.open));
        EXPECT_EQ(cancel, QString::fromUtf8(row.cancel));
    }
}
