// Start-up and closing of the main window in a temporary program folder.

#include "tests/support/shellfixture.h"

#include "common/profile.h"
#include "link/commconnect.h"

#include <QDate>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <gtest/gtest.h>

namespace {

const QStringList kDirs = {"Languages",     "Data",          "Help",          "Regulators",
                           "Regulators/CZ", "Regulators/EN", "Regulators/GE", "Regulators/Other"};

QString Key(const TProgramDir& dir, const char* key, const char* def = "<missing>")
{
    return GetPrivateProfileString("SETUP", key, def, dir.File("setup.ini"));
}

bool Lowered(const QFrame* f) { return f->frameShadow() == QFrame::Sunken; }

} // namespace

TEST(StartUp, FirstRunInEmptyFolderCreatesDirectoriesAndUsesDefaults)
{
    TShellFixture fx;
    const QString cwdBefore = QDir::currentPath();
    TMainForm& f = fx.Start();
    for (const QString& d : kDirs)
        EXPECT_TRUE(QFileInfo(fx.dir.File(d)).isDir()) << d.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cwdBefore + "/Regulators/Other") &&
                 cwdBefore + "/" != fx.dir.Path());
    EXPECT_FALSE(fx.dir.Exists("Skins"));

    EXPECT_EQ(f.Settings().com, "COM1");
    EXPECT_EQ(f.Settings().language, "CZ");
    EXPECT_EQ(f.Settings().poles, "2");
    EXPECT_EQ(f.Settings().ratio, "1");
    EXPECT_EQ(f.Settings().device, "USB");
    EXPECT_TRUE(Lowered(f.Panel3));
    EXPECT_FALSE(Lowered(f.Panel4) || Lowered(f.Panel5) || Lowered(f.Panel7));
    EXPECT_EQ(f.HelpFile(), fx.dir.Path() + "Help/HelpCZ.HLP");
    EXPECT_GE(fx.usb.checks, 1) << "the USB link is attempted";
    EXPECT_EQ(f.StatusPanel1->text(), QString::fromUtf8(" Regulátor NEPRIPOJEN "));
    EXPECT_EQ(f.StatusPanel0->text(),
              " " + QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    EXPECT_TRUE(f.Cycle().WakeUpTimer().Enabled());
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    EXPECT_EQ(f.EPocPolu->text(), "2");
    EXPECT_EQ(f.EPrevPom->text(), "1");
}

TEST(StartUp, ExistingDirectoriesAreLeftAsTheyAre)
{
    TShellFixture fx;
    fx.dir.Write("Data/keep.zeq", "mine");
    fx.Start();
    EXPECT_EQ(fx.dir.Read("Data/keep.zeq"), "mine");
}

TEST(StartUp, DirectoryThatCannotBeMadeStopsTheSequenceAndClosingWritesNothing)
{
    TShellFixture fx;
    // "Regulators" is a file: it and everything after it cannot be created.
    fx.dir.Write("Regulators", "not a folder");
    fx.WriteSetup("[SETUP]\r\nLANGUAGE=EN\r\nPOCETP=14\r\n");
    TMainForm& f = fx.Start();
    EXPECT_TRUE(QFileInfo(fx.dir.File("Help")).isDir());
    EXPECT_FALSE(fx.dir.Exists("Regulators/CZ"));
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
    EXPECT_FALSE(f.SettingsRead());
    EXPECT_FALSE(f.Cycle().WakeUpTimer().Enabled());
    EXPECT_EQ(fx.usb.checks, 0) << "no link is opened";
    EXPECT_FALSE(Lowered(f.Panel3) || Lowered(f.Panel4));
    EXPECT_EQ(f.StatusPanel1->text(), "");
    f.close();
    EXPECT_EQ(fx.dir.Read("setup.ini"), "[SETUP]\r\nLANGUAGE=EN\r\nPOCETP=14\r\n");
}

struct LanguageCase {
    const char* stored;
    int lowered; // index of the flag panel, -1 none
    const char* help;
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << '"' << c.stored << '"'; }

// Test names from the stored text: "CZ", "cz" and "" stay apart.
std::string LanguageName(const ::testing::TestParamInfo<LanguageCase>& info)
{
    return *info.param.stored ? info.param.stored : "empty";
}

class StartUpLanguage : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(StartUpLanguage, OnlyExactCodesSelectALanguage)
{
    const LanguageCase c = GetParam();
    TShellFixture fx;
    fx.WriteSetup(QByteArray("[SETUP]\r\nLANGUAGE=") + c.stored + "\r\n");
    TMainForm& f = fx.Start();
    const QFrame* panels[] = {f.Panel3, f.Panel4, f.Panel5, f.Panel7};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Lowered(panels[i]), i == c.lowered) << i;
    EXPECT_EQ(f.HelpFile(), c.lowered < 0 ? QString() : fx.dir.Path() + c.help);
    f.close();
    EXPECT_EQ(Key(fx.dir, "LANGUAGE"), c.stored) << "written back unchanged";
}

INSTANTIATE_TEST_SUITE_P(Codes, StartUpLanguage,
                         ::testing::Values(LanguageCase{"CZ", 0, "Help/HelpCZ.HLP"},
                                           LanguageCase{"EN", 1, "Help/HelpEN.HLP"},
                                           LanguageCase{"GE", 2, "Help/HelpGE.HLP"},
                                           LanguageCase{"Other", 3, "Help/Other.HLP"},
                                           LanguageCase{"cz", -1, ""}, LanguageCase{"DE", -1, ""},
                                           LanguageCase{"", -1, ""}, LanguageCase{"other", -1, ""}),
                         LanguageName);

struct DeviceCase {
    const char* setup;
    bool usbChecked;
    bool errorBox;
    bool timer1;
};

void PrintTo(const DeviceCase& c, std::ostream* os)
{
    *os << '"' << QByteArray(c.setup).replace("\r\n", " ").trimmed().toStdString() << '"';
}

std::string DeviceName(const ::testing::TestParamInfo<DeviceCase>& info)
{
    std::string name;
    for (const char* p = info.param.setup; *p; ++p)
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9'))
            name += *p;
        else if (*p == '=' || *p == '/')
            name += '_';
    return name.empty() ? "no_setup_file" : name;
}

class StartUpLink : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(StartUpLink, LinkModeDecidesWhatIsOpened)
{
    const DeviceCase c = GetParam();
    TShellFixture fx;
    fx.WriteSetup(c.setup);
    TMainForm& f = fx.Start();
    EXPECT_EQ(fx.usb.checks > 0, c.usbChecked);
    EXPECT_EQ(f.Cycle().WakeUpTimer().Enabled(), c.timer1);
    if (c.errorBox) {
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
        EXPECT_EQ(fx.boxes.boxes[0].caption, "Chyba !!!");
        EXPECT_EQ(fx.boxes.boxes[0].text,
                  QString::fromUtf8("Komunikacní zarízení není zapojeno nebo má potíže."));
    } else {
        EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    }
    EXPECT_FALSE(f.Comm1().Active());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StartUpLink,
    ::testing::Values(DeviceCase{"", true, false, true},
                      DeviceCase{"[SETUP]\r\nDEVICE=USB\r\n", true, false, true},
                      DeviceCase{"[SETUP]\r\nDEVICE=\r\n", false, false, true},
                      DeviceCase{"[SETUP]\r\nDEVICE=usb\r\n", false, false, true},
                      DeviceCase{"[SETUP]\r\nDEVICE=COM\r\nCOM=/dev/does-not-exist\r\n", false,
                                 true, false},
                      DeviceCase{"[SETUP]\r\nDEVICE=COM\r\nCOM=\r\n", false, true, false},
                      DeviceCase{"[SETUP]\r\nDEVICE=COM\r\nCOM=COM256\r\n", false, true, false}),
    DeviceName);

TEST(StartUp, PortNameBecomesTheDeviceNameUnchanged)
{
    TShellFixture fx;
    fx.WriteSetup("[SETUP]\r\nDEVICE=COM\r\nCOM=COM12\r\n");
    TMainForm& f = fx.Start();
    EXPECT_EQ(f.Comm1().DeviceName(), "\\\\.\\COM12");
}

TEST(StartUp, MotorFieldsShowStoredTextsUnchangedAndCloseWritesThemBack)
{
    const struct {
        const char* poles;
        const char* ratio;
    } rows[] = {{"0", "2,5"}, {"", "2,5"}, {"14", "1"}, {"123", "12,345"}, {"0099", "100.25"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.poles);
        TShellFixture fx;
        const QByteArray setup =
            QByteArray("[SETUP]\r\nPOCETP=") + row.poles + "\r\nPREVOD=" + row.ratio + "\r\n";
        fx.WriteSetup(setup);
        TMainForm& f = fx.Start();
        // Longer than the fields let the user type, and still not cut.
        EXPECT_EQ(f.EPocPolu->text(), row.poles);
        EXPECT_EQ(f.Settings().poles, row.poles);
        EXPECT_EQ(f.EPrevPom->text(), row.ratio);
        EXPECT_EQ(f.Settings().ratio, row.ratio);
        f.close();
        EXPECT_EQ(fx.dir.Read("setup.ini"), setup + "LANGUAGE=CZ\r\n");
    }
}

TEST(Closing, WritesExactlyTheThreeKeysAndKeepsEverythingElse)
{
    TShellFixture fx;
    fx.WriteSetup("; mine\r\n[SETUP]\r\nCOM=COM3\r\nDEVICE=COM\r\nLANGUAGE=GE\r\nPOCETP=4\r\n"
                  "PREVOD=1\r\nEXTRA=x\r\n[OTHER]\r\nA=1\r\n");
    TMainForm& f = fx.Start();
    f.EPocPolu->setText("12");
    f.EPrevPom->setText("3.5");
    EXPECT_EQ(f.Settings().poles, "12") << "every change of the text is copied at once";
    EXPECT_EQ(f.Settings().ratio, "3.5");
    f.close();
    EXPECT_EQ(fx.dir.Read("setup.ini"),
              "; mine\r\n[SETUP]\r\nCOM=COM3\r\nDEVICE=COM\r\nLANGUAGE=GE\r\nPOCETP=12\r\n"
              "PREVOD=3.5\r\nEXTRA=x\r\n[OTHER]\r\nA=1\r\n");
}

TEST(Closing, WithoutSetupFileCreatesItWithTheThreeKeysOnly)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    f.close();
    EXPECT_EQ(Key(fx.dir, "LANGUAGE"), "CZ");
    EXPECT_EQ(Key(fx.dir, "POCETP"), "2");
    EXPECT_EQ(Key(fx.dir, "PREVOD"), "1");
    EXPECT_EQ(Key(fx.dir, "COM"), "<missing>");
    EXPECT_EQ(Key(fx.dir, "DEVICE"), "<missing>");
}

TEST(Closing, FailedWriteIsReportedWithTheFullPath)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    // setup.ini cannot be written when a folder stands in its place.
    QDir().mkdir(fx.dir.File("setup.ini"));
    f.close();
    ASSERT_FALSE(fx.boxes.boxes.isEmpty());
    EXPECT_EQ(fx.boxes.boxes.back().text,
              "Soubor " + QFileInfo(fx.dir.File("setup.ini")).absoluteFilePath() +
                  " nelze zapsat.");
    EXPECT_TRUE(QFileInfo(fx.dir.File("setup.ini")).isDir());
}

TEST(Closing, ClosesAnOpenAdapterInAnyLinkMode)
{
    class OpenUsb final : public IUsbLink {
    public:
        bool UsbReadyCheck() override { return true; }
        void UsbSend(const QByteArray&) override {}
        void UsbReadAsync(int, UsbReplyNeed, UsbReadDone done) override { done({}); }
        void UsbSetDataCharacteristics(int, int, int) override {}
        void UsbClose() override { ++closes; }
        int closes = 0;
    } usb;
    TProgramDir dir;
    dir.Write("setup.ini", "[SETUP]\r\nDEVICE=COM\r\nCOM=/dev/does-not-exist\r\n");
    VirtualClock clock;
    TRecordingBoxes boxes;
    TMainFormEnv env{dir.Path(), &clock, &boxes, &usb, nullptr};
    TMainForm f(env);
    f.close();
    EXPECT_EQ(usb.closes, 1);
}

TEST(Closing, KonecClosesTheWindowAndWritesTheKeys)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    f.show();
    f.EPocPolu->setText("6");
    f.Konec->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(Key(fx.dir, "POCETP"), "6");
    EXPECT_EQ(Key(fx.dir, "LANGUAGE"), "CZ");
}
