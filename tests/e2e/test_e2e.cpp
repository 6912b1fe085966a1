// The whole program path against the simulator as a separate process on a real pseudo-terminal:
// the main window (offscreen, real timers) opens the port by its path, finds the regulator, reads
// it, and writes a changed block, which the simulator records byte by byte.

#include "common/clock.h"
#include "link/commconnect.h"
#include "models/parampanel.h"
#include "shell/mainform.h"
#include "shell/numedit.h"
#include "tests/support/programdir.h"
#include "tests/support/recorders.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Runs the event loop until pred holds; real I/O and real timers are involved, so the limit is
// generous and only bounds a failure.
bool WaitFor(const std::function<bool()>& pred, int limitMs = 15000)
{
    QDeadlineTimer deadline(limitMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class Simulator {
public:
    explicit Simulator(const TProgramDir& dir, const QStringList& extra = {})
    {
        record = dir.File("record.txt");
        link = dir.File("port");
        process.setProgram(QStringLiteral(KX_REGSIM_PROGRAM));
        process.setArguments(
            QStringList{"--file", KX_REGSIM_DEMO_FILE, "--link", link, "--record", record} + extra);
        process.start();
        process.waitForStarted(5000);
        WaitFor([&] { return process.canReadLine() || process.state() != QProcess::Running; },
                5000);
        path = QString::fromUtf8(process.readLine()).trimmed();
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QStringList Record() const
    {
        QFile f(record);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QProcess process;
    QString path, link, record;
};

struct EndToEnd : ::testing::Test {
    TProgramDir dir;
    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<TMainForm> form;

    void Start()
    {
        TMainFormEnv env;
        env.programDir = dir.Path();
        env.boxes = &boxes;
        env.usb = &usb;
        form = std::make_unique<TMainForm>(env);
    }
    void Prepare(const QStringList& simArgs = {})
    {
        dir.Write("Regulators/CZ/KVX-40 OPTO.ini",
                  SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
        dir.Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
        dir.Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
        sim = std::make_unique<Simulator>(dir, simArgs);
        ASSERT_FALSE(sim->path.isEmpty());
        dir.Write("setup.ini",
                  ("[SETUP]\r\nDEVICE=COM\r\nCOM=" + sim->link + "\r\nLANGUAGE=CZ\r\n").toUtf8());
        Start();
    }
    bool Idle() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
               form->Button1->isEnabled() && form->Cycle().Timer2().Enabled();
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

    ASSERT_TRUE(WaitFor([&] { return Idle(); })) << f.StatusPanel1->text().toStdString();
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
    ASSERT_TRUE(WaitFor([&] { return sim->Record().filter("write").size() == 1 && Idle(); }));
    const QStringList writes = sim->Record().filter("write");
    EXPECT_EQ(writes[0], "write ok 07 E4 04 4C 02 01 04 01 04 02");

    // A read brings the regulator's values back, now with the change.
    f.Button1->click();
    ASSERT_TRUE(WaitFor([&] { return sim->Record().filter("read").size() == 2 && Idle(); }));
    EXPECT_EQ(f.LKorekceB->text(), "2.02");
    EXPECT_EQ(f.ParamPanel().ItemIndex(2), 3);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(EndToEnd, HangUpOfTheRegulatorReturnsTheWindowToNotConnected)
{
    Prepare({"--hangup-after", "3"});
    TMainForm& f = *form;
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    // A few presence queries later the simulator hangs up; two unanswered queries reset the window.
    ASSERT_TRUE(WaitFor(
        [&] { return f.StatusPanel1->text() == QString::fromUtf8(" Regulátor NEPRIPOJEN "); },
        30000));
    EXPECT_EQ(f.LnH->text(), "- - - - - - - - - - - - - - - -");
    EXPECT_FALSE(f.Button1->isEnabled());
    // Sending on a line that has gone away is a link error, shown once for the loss.
    ASSERT_TRUE(WaitFor([&] { return !f.Cycle().Timer1().Enabled() && f.Cycle().LinkLost(); }));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].text, f.Messages().LookupMessage("str53"));

    // The regulator comes back behind the same port name: the port is reopened and the
    // regulator found again, with no further box.
    sim->process.waitForFinished(5000);
    sim = std::make_unique<Simulator>(dir);
    ASSERT_FALSE(sim->path.isEmpty());
    ASSERT_TRUE(WaitFor([&] { return Idle(); }, 20000));
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST_F(EndToEnd, GarbageAndRepliesInSmallPiecesStillConnect)
{
    // Noise before every reply, and each reply dribbling in three bytes at a time.
    Prepare({"--garbage", "00,13,FA,FB", "--chunk", "3", "--chunk-delay", "5"});
    TMainForm& f = *form;
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(f.ParamPanel().DisplayText(2), QString::fromUtf8("20 °C"));
    f.Button2->click();
    ASSERT_TRUE(WaitFor([&] { return sim->Record().filter("write").size() == 1 && Idle(); }));
    EXPECT_EQ(sim->Record().filter("write")[0], "write ok 07 D0 04 4C 02 01 03 01 04 02");
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
