// The whole program path against the simulator as a separate process on a real pseudo-terminal:
// the main window (offscreen, real timers) opens the port by its path, finds the regulator, reads
// it, and writes a changed block, which the simulator records byte by byte.

#include "link/commconnect.h"
#include "models/parampanel.h"
#include "shell/numedit.h"
#include "tests/support/process.h"
#include "tests/support/pump.h"
#include "tests/support/windowrig.h"

#include <QFile>
#include <QRadioButton>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The simulator on a pseudo-terminal behind a link in the program folder, recording what it saw.
struct Simulator : TChildProcess {
    explicit Simulator(const TProgramDir& dir, const QStringList& extra = {})
        : link(dir.File("port")), record(dir.File("record.txt"))
    {
        Launch(QStringLiteral(KX_REGSIM_PROGRAM),
               QStringList{"--file", KX_REGSIM_DEMO_FILE, "--link", link, "--record", record} +
                   extra);
        path = FirstLine();
    }
    QStringList Record() const
    {
        QFile f(record);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QString link, record, path;
};

// The window on real timers and its own writer thread.
struct EndToEnd : ::testing::Test, TWindowRig {
    std::unique_ptr<Simulator> sim;

    ~EndToEnd() override { form.reset(); }
    void Prepare(const QStringList& simArgs = {})
    {
        dir.WriteDemoFiles();
        sim = std::make_unique<Simulator>(dir, simArgs);
        ASSERT_FALSE(sim->path.isEmpty());
        WriteSetup(("[SETUP]\r\nDEVICE=COM\r\nCOM=" + sim->link + "\r\nLANGUAGE=CZ\r\n").toUtf8());
        TMainFormEnv env = Env();
        env.clock = nullptr;
        env.files = nullptr;
        StartWith(env);
    }
    bool Idle() const
    {
        return Connected() && form->Button1->isEnabled() && form->Cycle().PresenceTimer().Enabled();
    }
};

} // namespace

TEST_F(EndToEnd, ConnectReadChangeAndWrite)
{
    Prepare();
    TMainForm& f = *form;
    EXPECT_TRUE(f.Comm1().Active());
    EXPECT_TRUE(boxes.boxes.isEmpty());

    // The port is opened raw at 600 baud, 8N1.
    const int fd = ::open(sim->path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(cfgetispeed(&t), B600);
    EXPECT_EQ(cfgetospeed(&t), B600);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);

    ASSERT_TRUE(PumpUntil([&] { return Idle(); })) << f.StatusPanel1->text().toStdString();
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(f.LKorekceB->text(), "2.00");
    EXPECT_EQ(f.LKorekceA->text(), "1.10");
    EXPECT_EQ(f.ParamPanel().DisplayText(0), "11.8");
    EXPECT_EQ(f.ParamPanel().ItemIndex(2), 2);

    // Change an option (cells: 4S) and a throttle limit, then write.
    f.ParamPanel().ItemButton(2, 3)->click();
    f.UpBClick();
    f.UpBClick();
    f.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return sim->Record().filter("write").size() == 1 && Idle(); }));
    const QStringList writes = sim->Record().filter("write");
    EXPECT_EQ(writes[0], "write ok 07 E4 04 4C 02 01 04 01 04 02");

    // A read brings the regulator's values back, now with the change.
    f.Button1->click();
    ASSERT_TRUE(PumpUntil([&] { return sim->Record().filter("read").size() == 2 && Idle(); }));
    EXPECT_EQ(f.LKorekceB->text(), "2.02");
    EXPECT_EQ(f.ParamPanel().ItemIndex(2), 3);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(EndToEnd, HangUpOfTheRegulatorReturnsTheWindowToNotConnected)
{
    Prepare({"--hangup-after", "3"});
    TMainForm& f = *form;
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    // A few presence queries later the simulator hangs up; two unanswered queries reset the window.
    ASSERT_TRUE(
        PumpUntil([&] { return f.LnH->text() == "- - - - - - - - - - - - - - - -"; }, 30000));
    EXPECT_EQ(f.StatusPanel1->text(), QString::fromUtf8(" Regulátor NEPRIPOJEN "));
    EXPECT_FALSE(f.Button1->isEnabled());
    // Sending on a line that has gone away is a link error, shown once for the loss.
    ASSERT_TRUE(PumpUntil([&] {
        return !f.Cycle().WakeUpTimer().Enabled() && f.Cycle().LinkLost() && !boxes.boxes.isEmpty();
    }));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].text, f.Messages().LookupMessage("str53"));

    // The regulator comes back behind the same port name: the port is reopened and the
    // regulator found again, with no further box.
    sim->waitForFinished(5000);
    sim = std::make_unique<Simulator>(dir);
    ASSERT_FALSE(sim->path.isEmpty());
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 20000));
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST_F(EndToEnd, GarbageAndRepliesInSmallPiecesStillConnect)
{
    // Noise before every reply, and each reply dribbling in three bytes at a time.
    Prepare({"--garbage", "00,13,FA,FB", "--chunk", "3", "--chunk-delay", "5"});
    TMainForm& f = *form;
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(f.ParamPanel().DisplayText(2), QString::fromUtf8("20 °C"));
    f.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return sim->Record().filter("write").size() == 1 && Idle(); }));
    EXPECT_EQ(sim->Record().filter("write")[0], "write ok 07 D0 04 4C 02 01 03 01 04 02");
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
