// The connection settings dialog inside a real main window (offscreen): its form, the page and
// lists each activation shows, the button's rules, "Nastavit" for both links, and setup.ini on
// every close. Serial ports are pseudo-terminals in a device folder of the test's own; the USB
// adapters are a simulated link that lists into the dialog as the ready check does.

#include "tests/support/shellfixture.h"

#include "common/profile.h"
#include "shell/nastaveni.h"
#include "tests/support/ptyfixture.h"
#include "tests/support/readonly.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <vector>

namespace {

struct Adapter {
    QString serialNo, description;
};

// The USB link as far as the dialog meets it: the ready check lists the attached adapters into the
// dialog while it is active, else into the table, and opens the first one when it can.
class TFakeUsb final : public IUsbLink, public IUsbDeviceSource {
public:
    QList<Adapter> attached;
    bool openable = false;
    IUsbDeviceList* list = nullptr;

    bool UsbReadyCheck() override
    {
        if (!open_) {
            count_ = attached.size();
            for (int n = 1; n <= count_; ++n) {
                const QString label = QStringLiteral("DEVICE %1").arg(n);
                const Adapter& a = attached[n - 1];
                if (list && list->IsActiveWindow())
                    list->AddDeviceRow(label, a.serialNo, a.description);
                else if (n <= kUsbDeviceTableSize)
                    table_[n - 1] = {label, a.serialNo, a.description};
            }
            open_ = openable && count_ > 0;
        } else if (attached.isEmpty()) {
            open_ = false;
            if (list && list->IsActiveWindow())
                list->ClearDeviceRows();
        }
        return open_;
    }
    void UsbSend(const QByteArray&) override {}
    void UsbReadAsync(int, UsbReplyNeed, UsbReadDone done) override { done({}); }
    void UsbSetDataCharacteristics(int, int, int) override {}
    void UsbClose() override {}

    bool UsbOpen() const override { return open_; }
    void GetFTDeviceCount() override { count_ = attached.size(); }
    int DeviceCount() const override { return count_; }
    const TUsbDeviceTable& DeviceTable() const override { return table_; }

private:
    bool open_ = false;
    int count_ = 0;
    TUsbDeviceTable table_;
};

struct NastaveniTest : ::testing::Test {
    TProgramDir dir;
    VirtualClock clock;
    TRecordingBoxes boxes;
    TFakeUsb usb;
    QTemporaryDir dev, byId;
    std::vector<std::unique_ptr<linktest::PtyPair>> ptys;
    std::unique_ptr<TMainForm> form;
    TNastaveni* dlg = nullptr;

    QString AddPort(const QString& name)
    {
        ptys.push_back(std::make_unique<linktest::PtyPair>());
        const QString path = dev.filePath(name);
        EXPECT_TRUE(QFile::link(ptys.back()->Path(), path));
        return path;
    }
    TMainForm& Start(const QByteArray& setup)
    {
        dir.Write("setup.ini", setup);
        TMainFormEnv env;
        env.programDir = dir.Path();
        env.clock = &clock;
        env.boxes = &boxes;
        env.usb = &usb;
        form = std::make_unique<TMainForm>(env);
        dlg = form->Nastaveni();
        dlg->SetPortDirs({dev.path(), dev.path(), byId.path()});
        dlg->SetUsbDeviceSource(&usb);
        usb.list = dlg;
        return *form;
    }
    // Shows the dialog and waits until it is the active window (each activation lists anew).
    void Activate()
    {
        if (!dlg->isVisible()) {
            form->show();
            QApplication::setActiveWindow(form.get());
            dlg->show();
            QApplication::setActiveWindow(dlg);
        } else {
            // Another window takes the focus for a moment, as a message box does.
            QDialog other(dlg);
            other.show();
            QApplication::setActiveWindow(&other);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            ASSERT_FALSE(dlg->isActiveWindow());
            other.close();
            QApplication::setActiveWindow(dlg);
        }
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    }
    QStringList Ports() const
    {
        QStringList l;
        for (int i = 0; i < dlg->CB1->count(); ++i)
            l << dlg->CB1->itemText(i);
        return l;
    }
    QStringList Rows() const
    {
        QStringList l;
        for (int i = 0; i < dlg->LV->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* it = dlg->LV->topLevelItem(i);
            l << it->text(0) + "|" + it->text(1) + "|" + it->text(2);
        }
        return l;
    }
    void ClickRow(int row)
    {
        const QRect r = dlg->LV->visualItemRect(dlg->LV->topLevelItem(row));
        QTest::mouseClick(dlg->LV->viewport(), Qt::LeftButton, {}, r.center());
    }
    void ClickBesideRows()
    {
        QTest::mouseClick(dlg->LV->viewport(), Qt::LeftButton, {},
                          QPoint(20, dlg->LV->viewport()->height() - 3));
    }
    QString Key(const char* key) const
    {
        return GetPrivateProfileString("SETUP", key, "<missing>", dir.File("setup.ini"));
    }
};

std::string Lines(const QStringList& l) { return l.join('\n').toStdString(); }

} // namespace

TEST_F(NastaveniTest, FormHasEveryControlWhereTheLayoutPutsIt)
{
    Start("[SETUP]\r\nDEVICE=USB\r\n");
    EXPECT_EQ(dlg->windowTitle(), "Nastavení . . .");
    EXPECT_EQ(dlg->size(), QSize(384, 303 - 32))
        << "the desktop's title bar replaces the 32-pixel strip";
    EXPECT_EQ(dlg->palette().color(QPalette::Window), QColor(0xE8, 0xE8, 0xE8));
    EXPECT_FALSE(dlg->isVisible()); // created hidden with the main window
    EXPECT_EQ(dlg->parentWidget(), form.get());

    const struct {
        QWidget* w;
        QString text;
        QRect place; // an empty size: only the position is fixed
        bool enabled, shown;
    } rows[] = {
        {dlg->PC1, {}, {0, 0, 382, 121}, true, true},
        {dlg->Label2, "Komunikační  port :", {10, 17, 0, 0}, true, true},
        {dlg->CB1, {}, {131, 9, 0, 24}, true, true},
        {dlg->Button3, "Nastavit", {0, 123, 250, 24}, false, true},
        {dlg->Button4,
         QString::fromUtf8("Kontrola připojení ..."),
         {254, 123, 128, 24},
         true,
         true},
        {dlg->CheckBox1, "Zpřístupnit volbu pro upgrade regulátoru", {14, 157, 0, 22}, false, true},
        {dlg->Panel1, {}, {11, 179, 356, 1}, true, true},
        {dlg->Label1, "Cesta k souboru :", {14, 185, 0, 16}, false, true},
        {dlg->suiEdit1, {}, {14, 203, 265, 19}, false, true},
        {dlg->Button1, "Najít . . .", {286, 203, 80, 19}, false, true},
        {dlg->suiProgressBar1, {}, {14, 224, 265, 12}, true, false},
        {dlg->Button2, "Spustit", {286, 227, 80, 27}, false, true},
        {dlg->Label3, "Číslo USB zařízení", {296, 152, 0, 0}, true, false},
        {dlg->Label4, "Sériové číslo", {296, 168, 0, 0}, true, false},
        {dlg->Label5, "Popis USB zařízení", {296, 184, 0, 0}, true, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.w->objectName().toStdString());
        EXPECT_EQ(r.w->pos(), r.place.topLeft());
        if (r.place.width() > 0) {
            EXPECT_EQ(r.w->width(), r.place.width());
        }
        if (r.place.height() > 0) {
            EXPECT_EQ(r.w->height(), r.place.height());
        }
        EXPECT_EQ(r.w->isEnabled(), r.enabled);
        EXPECT_EQ(!r.w->isHidden(), r.shown);
        if (auto* b = qobject_cast<QAbstractButton*>(r.w)) {
            EXPECT_EQ(b->text(), r.text);
        }
        if (auto* l = qobject_cast<QLabel*>(r.w)) {
            EXPECT_EQ(l->text(), r.text);
        }
        // Nothing shown is cut: the text fits the control and the control fits the dialog.
        if (r.shown) {
            EXPECT_LE(r.w->mapTo(dlg, QPoint(r.w->width(), 0)).x(), dlg->width());
        }
        if (r.shown && !r.text.isEmpty()) {
            EXPECT_GE(r.w->width(), r.w->sizeHint().width());
        }
    }
    EXPECT_GE(dlg->CB1->width(), 102);
    EXPECT_LE(dlg->Label2->x() + dlg->Label2->width(), dlg->CB1->x());
    EXPECT_FALSE(dlg->CheckBox1->isChecked());
    EXPECT_EQ(dlg->suiProgressBar1->value(), 50);
    EXPECT_TRUE(dlg->suiProgressBar1->isTextVisible());
    EXPECT_EQ(dlg->PC1->tabText(0), "Komunikační port");
    EXPECT_EQ(dlg->PC1->tabText(1), "USB zařízení");
    EXPECT_TRUE(dlg->Sheet1->isEnabled());
    EXPECT_EQ(dlg->PC1->currentWidget(), dlg->Sheet2);
    EXPECT_EQ(dlg->LV->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(dlg->LV->editTriggers(), QAbstractItemView::NoEditTriggers);
    const int widths[] = {115, 115, 143};
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(dlg->LV->columnWidth(c), widths[c]);
}

TEST_F(NastaveniTest, EachActivationShowsThePageOfTheLinkModeAndTakesTheLanguage)
{
    const struct {
        const char* device;
        const char* language;
        bool comPage;
        const char* languageFile;
    } cases[] = {
        {"COM", "EN", true, "Languages/EN.ini"},
        {"USB", "CZ", false, "Languages/CZ.ini"},
        {"usb", "Other", false, "Languages/Other.ini"},
        {"", "cz", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        dlg = nullptr;
        form.reset();
        Start(QByteArray("[SETUP]\r\nCOM=") + dev.filePath("none").toUtf8() +
              "\r\nDEVICE=" + c.device + "\r\nLANGUAGE=" + c.language + "\r\n");
        // The titles come from the hidden labels, which carry the translated texts.
        dlg->Label4->setText("Serial number");
        Activate();
        EXPECT_EQ(dlg->PC1->currentWidget(), c.comPage ? dlg->Sheet1 : dlg->Sheet2);
        EXPECT_EQ(dlg->LanguageFile(), *c.languageFile ? dir.File(c.languageFile) : QString());
        EXPECT_EQ(dlg->LV->headerItem()->text(1), "Serial number");
        EXPECT_EQ(dlg->LV->headerItem()->text(0), "Číslo USB zařízení");
        dlg->close();
    }
}

// The button waits for a choice on the page showing, made with the mouse or the keyboard; every
// activation lists anew and so starts without one.
TEST_F(NastaveniTest, ButtonFollowsTheChoiceOnThePageShowing)
{
    AddPort("ttyUSB0");
    usb.attached = {{"FT1", "Regulator cable"}, {"FT2", "Spare cable"}};
    Start("[SETUP]\r\nDEVICE=USB\r\n");
    Activate();
    EXPECT_FALSE(dlg->Button3->isEnabled());
    ASSERT_EQ(Rows().size(), 2);

    ClickRow(0);
    EXPECT_TRUE(dlg->Button3->isEnabled());
    ClickBesideRows();
    EXPECT_TRUE(dlg->LV->selectedItems().isEmpty());
    EXPECT_FALSE(dlg->Button3->isEnabled());
    QTest::keyClick(dlg->LV, Qt::Key_Down);
    EXPECT_EQ(dlg->LV->selectedItems().size(), 1);
    EXPECT_TRUE(dlg->Button3->isEnabled()) << "a row chosen with the arrow keys";

    // The serial page has no port picked yet, whatever was chosen on the other.
    dlg->PC1->setCurrentWidget(dlg->Sheet1);
    EXPECT_FALSE(dlg->Button3->isEnabled());
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    EXPECT_EQ(dlg->CB1->currentText(), dev.filePath("ttyUSB0"));
    EXPECT_TRUE(dlg->Button3->isEnabled());

    // Focus away and back, and closed and shown again: nothing is chosen in the new lists.
    Activate();
    EXPECT_TRUE(dlg->CB1->currentText().isEmpty());
    EXPECT_FALSE(dlg->Button3->isEnabled());
    dlg->PC1->setCurrentWidget(dlg->Sheet1);
    EXPECT_FALSE(dlg->Button3->isEnabled());
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    ASSERT_TRUE(dlg->Button3->isEnabled());
    dlg->close();
    Activate();
    EXPECT_FALSE(dlg->Button3->isEnabled());
    dlg->PC1->setCurrentWidget(dlg->Sheet2);
    EXPECT_FALSE(dlg->Button3->isEnabled());

    // With no adapter attached the list is empty and nothing can be chosen.
    usb.attached.clear();
    Activate();
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(dlg->Button3->isEnabled());
}

TEST_F(NastaveniTest, OpenPortIsListedOnceAtTheEndOnEveryActivation)
{
    AddPort("ttyS10");
    AddPort("ttyS2");
    const QString held = AddPort("ttyACM0");
    usb.attached = {{"FT1", "Cable"}};
    Start("[SETUP]\r\nDEVICE=COM\r\nCOM=" + held.toUtf8() + "\r\n");
    ASSERT_TRUE(form->Comm1().Active());
    const QStringList expected = {dev.filePath("ttyS2"), dev.filePath("ttyS10"), held};
    for (int round = 0; round < 3; ++round) {
        Activate();
        EXPECT_EQ(Lines(Ports()), Lines(expected));
        EXPECT_EQ(Rows().size(), 1);
        EXPECT_TRUE(dlg->CB1->currentText().isEmpty());
        EXPECT_FALSE(dlg->Button3->isEnabled()) << "nothing is picked in the new list";
        QTest::keyClick(dlg->CB1, Qt::Key_Down);
        EXPECT_TRUE(dlg->Button3->isEnabled());
    }
    EXPECT_LT(dlg->LastPortListMs(), 1000);

    // Choosing USB leaves the COM port open: the link mode alone picks the transport.
    dlg->PC1->setCurrentWidget(dlg->Sheet2);
    ClickRow(0);
    dlg->Button3->click();
    EXPECT_EQ(form->Settings().device, "USB");
    EXPECT_TRUE(form->Comm1().Active());
}

TEST_F(NastaveniTest, APortThatWillNotOpenGivesTheBoxAndKeepsTheChoice)
{
    const QString port = AddPort("ttyUSB0");
    Start("[SETUP]\r\nDEVICE=USB\r\nCOM=COM1\r\nLANGUAGE=CZ\r\n");
    Activate();
    dlg->PC1->setCurrentWidget(dlg->Sheet1);
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    ASSERT_TRUE(dlg->Button3->isEnabled());
    ASSERT_TRUE(QFile::remove(port)); // unplugged before "Nastavit"
    dlg->Button3->click();

    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].text, "Komunikacní zarízení není zapojeno nebo má potíže.");
    EXPECT_EQ(boxes.boxes[0].caption, "Chyba !!!");
    EXPECT_EQ(form->Settings().device, "COM");
    EXPECT_EQ(form->Settings().com, port);
    EXPECT_FALSE(form->Comm1().Active());
    dlg->close();
    EXPECT_EQ(Key("DEVICE"), "COM");
    EXPECT_EQ(Key("COM"), port);
}

// A port that opens can always be picked again: the configured one wherever it lies (the demo's
// pseudo-terminal), open or closed, and the stable names of the adapters, shown with the device
// each leads to.
TEST_F(NastaveniTest, AClosedPortElsewhereAndStableNamesCanBePicked)
{
    linktest::PtyPair demo;
    const QString usb0 = AddPort("ttyUSB0");
    const QString stable = byId.filePath("usb-Maker_Cable_A1-if00-port0");
    ASSERT_TRUE(QFile::link(usb0, stable));
    Start("[SETUP]\r\nDEVICE=COM\r\nCOM=" + demo.Path().toUtf8() + "\r\n");
    ASSERT_TRUE(form->Comm1().Active());
    const QString target = QFileInfo(usb0).canonicalFilePath();
    const QStringList shown = {usb0, QString::fromUtf8("usb-Maker_Cable_A1-if00-port0 → ") + target,
                               demo.Path()};
    Activate();
    EXPECT_EQ(Lines(Ports()), Lines(shown));
    form->Comm1().Close();
    Activate();
    EXPECT_EQ(Lines(Ports()), Lines(shown)) << "closed, it is still listed: it opens";
    QTest::keyClick(dlg->CB1, Qt::Key_End);
    dlg->Button3->click();
    EXPECT_TRUE(form->Comm1().Active());
    EXPECT_EQ(form->Settings().com, demo.Path());

    // The stable name is what is stored, and what is listed, open, the next time.
    Activate();
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    EXPECT_EQ(dlg->CB1->itemData(dlg->CB1->currentIndex(), Qt::ToolTipRole), stable);
    dlg->Button3->click();
    EXPECT_TRUE(form->Comm1().Active());
    EXPECT_EQ(form->Settings().com, stable);
    Activate();
    EXPECT_EQ(Lines(Ports()), Lines({shown[1]})) << "the open one; the demo's is not configured";
    dlg->close();
    EXPECT_EQ(Key("COM"), stable);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

// Ports there that the user may not open: the page says why the list is empty and what to do.
TEST_F(NastaveniTest, AnEmptyListForWantOfPermissionSaysHowToGetIt)
{
    AddPort("ttyUSB0");
    ASSERT_EQ(::chmod(QFile::encodeName(dev.path()), 0755), 0); // readable by all, as /dev is
    Start("[SETUP]\r\nDEVICE=COM\r\nCOM=" + dev.filePath("none").toUtf8() + "\r\n");
    {
        TOrdinaryUser user;
        ASSERT_TRUE(user.Ok());
        Activate();
        EXPECT_TRUE(Ports().isEmpty());
        EXPECT_FALSE(dlg->LPortProblem->isHidden());
        EXPECT_EQ(dlg->LPortProblem->text(), form->Messages().LookupMessage("str200"));
        EXPECT_TRUE(dlg->LPortProblem->text().contains("sudo usermod -aG dialout $USER"));
        EXPECT_LE(dlg->LPortProblem->geometry().bottom(), dlg->Sheet1->height())
            << "the advice is read whole";
        EXPECT_GE(dlg->LPortProblem->height(),
                  dlg->LPortProblem->heightForWidth(dlg->LPortProblem->width()));
        EXPECT_FALSE(dlg->Button3->isEnabled());
    }
    Activate();
    EXPECT_EQ(Ports().size(), 1);
    EXPECT_TRUE(dlg->LPortProblem->isHidden());
    EXPECT_EQ(dlg->size(), QSize(384, 303 - 32)) << "the dialog is back to its size";
}

TEST_F(NastaveniTest, UsbRowsFromTheTableAndFromChecksWhileTheDialogIsActive)
{
    usb.attached = {{"FT01", "USB Serial A"}, {"FT02", "USB Serial B"}};
    Start("[SETUP]\r\nDEVICE=USB\r\n"); // start-up lists both into the table, opens none
    const QStringList both = {"DEVICE 1|FT01|USB Serial A", "DEVICE 2|FT02|USB Serial B"};
    Activate();
    EXPECT_EQ(Lines(Rows()), Lines(both));
    EXPECT_TRUE(dlg->LNoAdapter->isHidden());

    // "Nastavit" checks again while the dialog is active: its rows follow those already there.
    ClickRow(1);
    dlg->Button3->click();
    EXPECT_EQ(Lines(Rows()), Lines(both + both));
    EXPECT_EQ(form->Settings().device, "USB");

    // An adapter attached since the last listing raises the count; its entry was never filled.
    usb.attached.append(Adapter{"FT03", "USB Serial C"});
    Activate();
    EXPECT_EQ(Lines(Rows()), Lines(both + QStringList{"||"}));

    // Once an adapter is open the count is not asked for again.
    usb.openable = true;
    ClickRow(0);
    dlg->Button3->click();
    ASSERT_TRUE(usb.UsbOpen());
    EXPECT_EQ(Rows().size(), 6);
    usb.attached.removeLast();
    Activate();
    EXPECT_EQ(Rows().size(), 3);

    // The open adapter goes away: the check empties the list.
    usb.attached.clear();
    ClickRow(0);
    dlg->Button3->click();
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(dlg->Button3->isEnabled()) << "no row left to choose";
    EXPECT_FALSE(dlg->LNoAdapter->isHidden()) << "the empty list says so";
    EXPECT_EQ(dlg->LNoAdapter->text(), QString::fromUtf8("Není připojen žádný USB adaptér."));

    // More adapters than the table holds: the table's ten are shown.
    usb.openable = false;
    for (int i = 0; i < 12; ++i)
        usb.attached.append(Adapter{QString("S%1").arg(i), "D"});
    dlg->hide();
    usb.UsbReadyCheck();
    Activate();
    ASSERT_EQ(Rows().size(), 10);
    EXPECT_EQ(Rows().last(), "DEVICE 10|S9|D");
}

TEST_F(NastaveniTest, EveryCloseWritesBothKeysAndNothingElse)
{
    const QByteArray before = "; settings\r\n[OTHER]\r\nCOM=keep\r\n\r\n[SETUP]\r\nLANGUAGE=EN\r\n"
                              "POCETP=4\r\n\r\n[LAST]\r\nX=1\r\n";
    Start(before);
    Activate();
    dlg->close();
    EXPECT_EQ(dir.Read("setup.ini"),
              "; settings\r\n[OTHER]\r\nCOM=keep\r\n\r\n[SETUP]\r\nLANGUAGE=EN\r\nPOCETP=4\r\n"
              "COM=COM1\r\nDEVICE=USB\r\n\r\n[LAST]\r\nX=1\r\n");

    // Again, with the file gone meanwhile and the choice changed: every close writes.
    QFile::remove(dir.File("setup.ini"));
    const QString port = AddPort("ttyUSB3");
    Activate();
    dlg->PC1->setCurrentWidget(dlg->Sheet1);
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    dlg->Button3->setFocus();
    QTest::keyClick(dlg->Button3, Qt::Key_Return); // Enter presses the focused button
    EXPECT_TRUE(form->Comm1().Active());
    QTest::keyClick(dlg, Qt::Key_Escape); // closed without the window's close button
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dir.Read("setup.ini"), "[SETUP]\r\nCOM=" + port.toUtf8() + "\r\nDEVICE=COM\r\n");
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
