// The settings dialog against the simulator as a separate process: the configured port does not
// exist, so start-up fails; the simulator's port is picked in the dialog, "Nastavit" opens it, and
// the program finds and reads the regulator over it. setup.ini then holds the port.

#include "common/profile.h"
#include "link/commconnect.h"
#include "shell/nastaveni.h"
#include "tests/support/process.h"
#include "tests/support/pump.h"
#include "tests/support/windowrig.h"

#include <QComboBox>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(NastaveniEndToEnd, PickingTheSimulatorsPortConnectsAndIsStored)
{
    TWindowRig rig;
    const TProgramDir& dir = rig.dir;
    QTemporaryDir dev;
    dir.WriteDemoFiles();
    const QString port = dev.filePath("ttyUSB0");
    TChildProcess sim;
    ASSERT_TRUE(sim.Launch(QStringLiteral(KX_REGSIM_PROGRAM),
                           {"--file", KX_REGSIM_DEMO_FILE, "--link", port, "--exit-on-stdin-eof"}));
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(port); }));
    rig.WriteSetup("[SETUP]\r\nDEVICE=COM\r\nCOM=" + dev.filePath("gone").toUtf8() +
                   "\r\nLANGUAGE=CZ\r\nPOCETP=6\r\n");

    // Real timers and the window's own writer thread.
    TMainFormEnv env = rig.Env();
    env.clock = nullptr;
    env.files = nullptr;
    TMainForm* const form = &rig.StartWith(env);
    const TRecordingBoxes& boxes = rig.boxes;
    ASSERT_EQ(boxes.boxes.size(), 1); // the configured port is not there
    EXPECT_FALSE(form->Comm1().Active());
    EXPECT_FALSE(form->Cycle().WakeUpTimer().Enabled());

    TNastaveni* dlg = form->Nastaveni();
    dlg->SetPortDirs({dev.path(), dev.path(), QString()}); // no stable names
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

    EXPECT_TRUE(PumpUntil([&] {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
               form->Button1->isEnabled();
    })) << form->StatusPanel1->text().toStdString();
    EXPECT_EQ(form->LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(boxes.boxes.size(), 1);
    const QString setup = dir.File("setup.ini");
    EXPECT_EQ(GetPrivateProfileString("SETUP", "COM", "", setup), port);
    EXPECT_EQ(GetPrivateProfileString("SETUP", "DEVICE", "", setup), "COM");
    EXPECT_EQ(GetPrivateProfileString("SETUP", "POCETP", "", setup), "6");

    rig.form.reset();
}
