// The settings dialog against the simulator as a separate process: the configured port does not
// exist, so start-up fails; the simulator's port is picked in the dialog, "Nastavit" opens it, and
// the program finds and reads the regulator over it. setup.ini then holds the port.

#include "shell/mainform.h"
#include "shell/nastaveni.h"
#include "tests/support/programdir.h"
#include "tests/support/recorders.h"

#include "common/clock.h"
#include "common/profile.h"
#include "link/commconnect.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

bool WaitUntil(const std::function<bool()>& pred, int limitMs = 15000)
{
    QDeadlineTimer deadline(limitMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(NastaveniEndToEnd, PickingTheSimulatorsPortConnectsAndIsStored)
{
    TProgramDir dir;
    QTemporaryDir dev;
    dir.Write("Regulators/CZ/KVX-40 OPTO.ini", SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
    dir.Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
    dir.Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
    const QString port = dev.filePath("ttyUSB0");
    QProcess sim;
    sim.start(QStringLiteral(KX_REGSIM_PROGRAM),
              {"--file", KX_REGSIM_DEMO_FILE, "--link", port, "--exit-on-stdin-eof"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(port); }, 5000));
    dir.Write("setup.ini", "[SETUP]\r\nDEVICE=COM\r\nCOM=" + dev.filePath("gone").toUtf8() +
                               "\r\nLANGUAGE=CZ\r\nPOCETP=6\r\n");

    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    TMainFormEnv env;
    env.programDir = dir.Path();
    env.boxes = &boxes;
    env.usb = &usb;
    auto form = std::make_unique<TMainForm>(env);
    ASSERT_EQ(boxes.boxes.size(), 1); // the configured port is not there
    EXPECT_FALSE(form->Comm1().Active());
    EXPECT_FALSE(form->Cycle().Timer1().Enabled());

    TNastaveni* dlg = form->Nastaveni();
    dlg->SetPortDirs({dev.path(), dev.path()});
    form->show();
    dlg->show();
    QApplication::setActiveWindow(dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    EXPECT_EQ(dlg->PC1->currentWidget(), dlg->Sheet1);
    ASSERT_EQ(dlg->CB1->count(), 1);
    QTest::keyClick(dlg->CB1, Qt::Key_Down);
    ASSERT_TRUE(dlg->Button3->isEnabled());
    dlg->Button3->click();
    EXPECT_TRUE(form->Comm1().Active());
    dlg->close();

    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
               form->Button1->isEnabled();
    })) << form->StatusPanel1->text().toStdString();
    EXPECT_EQ(form->LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(boxes.boxes.size(), 1);
    const QString setup = dir.File("setup.ini");
    EXPECT_EQ(GetPrivateProfileString("SETUP", "COM", "", setup), port);
    EXPECT_EQ(GetPrivateProfileString("SETUP", "DEVICE", "", setup), "COM");
    EXPECT_EQ(GetPrivateProfileString("SETUP", "POCETP", "", setup), "6");

    form.reset();
    sim.closeWriteChannel();
    sim.terminate();
    sim.waitForFinished(5000);
}
