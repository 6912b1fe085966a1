// Long runs of what a session does again and again: opening and closing the port, finding the
// regulator and losing it, opening the USB adapter and losing it. Each must leave no thread and no
// descriptor behind; the sanitizer builds run the same tests and report any leak or race.

#include "link/usblink.h"
#include "protocol/cycle.h"
#include "protocol/frames.h"
#include "tests/support/ptyregulator.h"
#include "tools/regsim/ftsimadapter.h"
#include "tools/regsim/regfile.h"

#include <QDeadlineTimer>
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

// A joined thread leaves /proc/self/task a moment after join returns.
void ExpectNothingLeftBehind(const TProcessCounts& before)
{
    PumpUntil([&] { return TProcessCounts().threads <= before.threads; }, 5000);
    const TProcessCounts after;
    EXPECT_EQ(after.threads, before.threads) << "threads left behind";
    EXPECT_EQ(after.fds, before.fds) << "descriptors left open";
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

struct SoakWindow : TPtyWindow {
    SoakWindow() { regulator.SetPieces(0, 0); }
    bool Lost() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor NEPRIPOJEN ") &&
               form->Cycle().LinkLost();
    }
    bool RunUntil(const std::function<bool()>& pred, int64_t limitMs = 60000)
    {
        const int64_t end = clock.Now() + limitMs;
        QDeadlineTimer realLimit(60000);
        while (!pred()) {
            if (clock.Now() >= end || realLimit.hasExpired())
                return false;
            Settle();
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
