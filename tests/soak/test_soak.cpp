// Long runs of what a session does again and again: opening and closing the port, finding the
// regulator and losing it, opening the USB adapter and losing it. Each must leave no thread and no
// descriptor behind; the sanitizer builds run the same tests and report any leak or race.

#include "common/clock.h"
#include "link/commconnect.h"
#include "link/usblink.h"
#include "protocol/cycle.h"
#include "protocol/frames.h"
#include "shell/mainform.h"
#include "tests/link/ptyfixture.h"
#include "tests/support/programdir.h"
#include "tests/support/recorders.h"
#include "tools/regsim/ftsimadapter.h"
#include "tools/regsim/regfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kCycles = 1000;

int CountEntries(const char* path)
{
    DIR* d = opendir(path);
    if (!d)
        return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n;
}

// Threads and open descriptors of this process.
struct TProcessCounts {
    int threads = CountEntries("/proc/self/task");
    int fds = CountEntries("/proc/self/fd");
};

// Runs the event loop until pred holds; only bounds a failure.
bool PumpUntil(const std::function<bool()>& pred, int limitMs = 10000)
{
    QDeadlineTimer deadline(limitMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A joined thread leaves /proc/self/task a moment after join returns.
void ExpectNothingLeftBehind(const TProcessCounts& before)
{
    PumpUntil([&] { return TProcessCounts().threads <= before.threads; }, 5000);
    const TProcessCounts after;
    EXPECT_EQ(after.threads, before.threads) << "threads left behind";
    EXPECT_EQ(after.fds, before.fds) << "descriptors left open";
}

QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

// Plain opens and closes, closes from a handler on the window's thread, and closes from a handler
// on the event thread itself (which leaves that thread to finish on its own).
TEST(Soak, ThousandPortOpensAndCloses)
{
    linktest::PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    std::atomic<int> received{0};
    std::atomic<bool> closeInHandler{false};
    comm.OnRxChar = [&](TCommunicationConnection* c, int count) {
        QByteArray bytes;
        c->ReadString(count, bytes);
        if (closeInHandler)
            comm.Close();
        received += int(bytes.size());
    };
    comm.Open();
    comm.Close();
    const TProcessCounts before;

    for (int i = 0; i < kCycles; ++i) {
        const int kind = i % 3;
        comm.SetDontSynchronize(kind == 2);
        closeInHandler = kind != 0;
        comm.Open();
        ASSERT_TRUE(comm.Active());
        if (kind != 0) {
            const int want = received + 1;
            pty.Send("x");
            ASSERT_TRUE(PumpUntil([&] { return received >= want; })) << "cycle " << i;
        }
        comm.Close();
        ASSERT_FALSE(comm.Active());
    }
    comm.SetDontSynchronize(false);
    comm.Open();
    comm.Close();
    ExpectNothingLeftBehind(before);
}

namespace {

// The regulator simulator in process on the far end of a pseudo-terminal, reached by the window
// through a fixed link name as a USB-serial adapter is through its device name. Pulling the cable
// closes the far end and removes the name; plugging it in makes a new terminal behind the name.
class TPtyRegulator {
public:
    explicit TPtyRegulator(QString linkPath) : link_(std::move(linkPath)) {}
    ~TPtyRegulator() { Unplug(); }

    void Plug()
    {
        pty_ = std::make_unique<linktest::PtyPair>();
        QFile::remove(link_);
        ASSERT_TRUE(QFile::link(pty_->Path(), link_));
    }
    void Unplug()
    {
        QFile::remove(link_);
        pty_.reset();
        sim.LineIdle();
        served = 0;
        delivered = 0;
    }
    bool Plugged() const { return pty_ != nullptr; }
    // Answers whatever the window has sent since the last call.
    void Serve()
    {
        if (!pty_)
            return;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(pty_->Master(), buffer, sizeof buffer)) > 0) {
            const regsim::Bytes reply = sim.Feed(reinterpret_cast<const uint8_t*>(buffer), n);
            if (!reply.empty()) {
                pty_->Send(QByteArray(reinterpret_cast<const char*>(reply.data()),
                                      qsizetype(reply.size())));
                served += int64_t(reply.size());
            }
        }
    }

    regsim::Regulator sim{regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")};
    // Reply bytes written to the line, and bytes the window's port has handed on, on this line.
    int64_t served = 0;
    int64_t delivered = 0;

private:
    QString link_;
    std::unique_ptr<linktest::PtyPair> pty_;
};

struct SoakWindow {
    TProgramDir dir;
    VirtualClock clock;
    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    TPtyRegulator regulator{dir.File("port")};
    std::unique_ptr<TMainForm> form;

    SoakWindow()
    {
        dir.Write("Regulators/CZ/KVX-40 OPTO.ini",
                  SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
        dir.Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
        dir.Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
        dir.Write(
            "setup.ini",
            ("[SETUP]\r\nDEVICE=COM\r\nCOM=" + dir.File("port") + "\r\nLANGUAGE=CZ\r\n").toUtf8());
    }
    void Start()
    {
        TMainFormEnv env;
        env.programDir = dir.Path();
        env.clock = &clock;
        env.boxes = &boxes;
        env.usb = &usb;
        form = std::make_unique<TMainForm>(env);
        auto receive = form->Comm1().OnRxChar;
        form->Comm1().OnRxChar = [this, receive](TCommunicationConnection* c, int count) {
            regulator.delivered += count;
            receive(c, count);
        };
    }
    bool Connected() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
               form->Button1->isEnabled() && form->Cycle().Timer2().Enabled();
    }
    bool Lost() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor NEPRIPOJEN ") &&
               form->Cycle().LinkLost();
    }
    // The line is real, the protocol's time virtual: time moves on only while no reply is on its
    // way through the line and the port, so no reply is late however slow the threads are.
    bool RunUntil(const std::function<bool()>& pred, int64_t limitMs = 60000)
    {
        const int64_t end = clock.Now() + limitMs;
        QDeadlineTimer realLimit(60000);
        while (!pred()) {
            if (clock.Now() >= end || realLimit.hasExpired())
                return false;
            regulator.Serve();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            regulator.Serve();
            if (regulator.Plugged() && regulator.delivered < regulator.served) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
                continue;
            }
            clock.Advance(5);
        }
        return true;
    }
};

} // namespace

TEST(Soak, ThousandConnectAndLoseCycles)
{
    SoakWindow w;
    w.regulator.Plug();
    w.Start();
    ASSERT_TRUE(w.RunUntil([&] { return w.Connected(); }));
    const TProcessCounts before;

    for (int i = 0; i < kCycles; ++i) {
        w.regulator.Unplug();
        ASSERT_TRUE(w.RunUntil([&] { return w.Lost(); })) << "cycle " << i;
        w.regulator.Plug();
        ASSERT_TRUE(w.RunUntil([&] { return w.Connected(); })) << "cycle " << i;
    }
    ExpectNothingLeftBehind(before);
    // One box per loss, and the regulator found again every time.
    EXPECT_EQ(w.boxes.boxes.size(), size_t(kCycles));
    EXPECT_EQ(w.regulator.sim.Count(regsim::Message::WakeUp), kCycles + 1);
}

// The real link with its worker thread, over a simulated adapter on real time: open, start a
// receive, pull the adapter out (during the receive or after it), notice, close, and the link's
// end; a fresh link each time.
TEST(Soak, ThousandUsbOpenAndUnplugCycles)
{
    regsim::Regulator sim{regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")};
    regsim::FtSimAdapters adapters;
    const int adapter = adapters.AddAdapter("KX000001", "Simulated FT232R", &sim);
    IFtDriver* const previous = FtInstallDriver(&adapters);
    struct Restore {
        IFtDriver* previous;
        ~Restore() { FtInstallDriver(previous); }
    } restore{previous};
    struct NoBox final : IFtErrorBox {
        void ShowFtError(const QString&) override {}
    } box;

    const auto cycle = [&](int i) {
        adapters.Plug(adapter);
        TUsbLink link(&box);
        ASSERT_TRUE(link.UsbReadyCheck()) << "cycle " << i;
        const bool unplugDuringRead = i % 2 == 1;
        bool done = false;
        UsbReadResult result;
        if (!unplugDuringRead)
            link.UsbSend(PresenceQuery());
        // The presence reply is one byte.
        const UsbReplyNeed need = [](const QByteArray& got) { return got.isEmpty() ? 1 : 0; };
        link.UsbReadAsync(64, need, [&](const UsbReadResult& r) {
            result = r;
            done = true;
        });
        if (unplugDuringRead)
            adapters.Unplug(adapter);
        ASSERT_TRUE(PumpUntil([&] { return done; })) << "cycle " << i;
        if (!unplugDuringRead) {
            EXPECT_FALSE(result.bytes.isEmpty()) << "cycle " << i;
            adapters.Unplug(adapter);
        }
        EXPECT_FALSE(link.UsbReadyCheck()) << "cycle " << i;
        link.UsbClose();
    };
    cycle(0);
    const TProcessCounts before;
    for (int i = 1; i <= kCycles; ++i) {
        cycle(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    ExpectNothingLeftBehind(before);
}
