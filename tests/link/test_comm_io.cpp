// Bytes over a real pseudo-terminal: reception through the event thread and its hand-off to the
// GUI thread, sending, time-outs, hang-ups and closing while events are in flight.

#include "link/commconnect.h"
#include "link/threadwake.h"
#include "tests/support/ptyfixture.h"

#include <QFile>
#include <QStringList>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/types.h>
#include <thread>

using linktest::PtyPair;

namespace {

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

struct RxRecord {
    int count;
    bool onGui;
    QByteArray bytes;
};

// Reads what each event announces, as the protocol's receive handler does.
void RecordReception(TComm& comm, std::vector<RxRecord>& records)
{
    comm.OnRxChar = [&records](TCommunicationConnection* sender, int count) {
        QByteArray got;
        sender->ReadString(count, got);
        records.push_back({count, linktest::OnGuiThread(), got});
    };
}

QByteArray Joined(const std::vector<RxRecord>& records)
{
    QByteArray all;
    for (const RxRecord& r : records)
        all += r.bytes;
    return all;
}

double EventThreadCpuMs(const TComm& comm)
{
    return linktest::ThreadCpuMs(comm.EventThread()->NativeHandle());
}

// Linux encodes the thread id in its CPU clock id.
pid_t EventThreadId(const TComm& comm)
{
    clockid_t clock{};
    pthread_getcpuclockid(comm.EventThread()->NativeHandle(), &clock);
    return static_cast<pid_t>(~(clock >> 3));
}

// True while the thread sits in a futex wait: for the event thread, waiting for its hand-off.
bool ThreadWaitsOnFutex(pid_t tid)
{
    QFile f(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.readAll().startsWith("202 ");
}

// Waits (bounded) until the thread sits in that futex wait.
bool AwaitFutexWait(pid_t tid)
{
    QElapsedTimer t;
    t.start();
    while (!ThreadWaitsOnFutex(tid) && t.elapsed() < 5000)
        QThread::usleep(200);
    return ThreadWaitsOnFutex(tid);
}

// Serves this thread's wake-ups until one rung now has run. Every wake-up rung before it, a late
// hand-off's included, has run by then: the event loop serves all ready notifiers in one pass.
bool ServeEarlierWakeUps()
{
    bool rung = false;
    TThreadWake marker([&] { rung = true; });
    marker.Ring();
    return PumpUntil([&] { return rung; });
}

// Upper bound for the CPU an idle event thread may use over the measuring window; a thread that
// spins uses about the whole window.
constexpr int kMeasureMs = 300;
constexpr double kIdleCpuMs = 40;

TEST(CommReceiveTest, BytesFromTheFarEndReachOnRxCharOnTheGuiThreadInOrder)
{
    PtyPair pty;
    TComm comm;
    std::vector<RxRecord> records;
    RecordReception(comm, records);
    comm.SetDeviceName(pty.Path());
    comm.SetBaudrate(br600);
    comm.Open();

    const QByteArray all = AllByteValues();
    constexpr int kChunk = 37;
    for (int from = 0; from < all.size(); from += kChunk) {
        pty.Send(all.mid(from, kChunk));
        const qsizetype expected = std::min<qsizetype>(from + kChunk, all.size());
        ASSERT_TRUE(PumpUntil([&] { return Joined(records).size() >= expected; })) << from;
    }
    EXPECT_EQ(Joined(records), all);
    EXPECT_GE(records.size(), size_t((all.size() + kChunk - 1) / kChunk));
    for (const RxRecord& r : records) {
        EXPECT_TRUE(r.onGui);
        EXPECT_GT(r.count, 0);
        EXPECT_EQ(r.bytes.size(), r.count);
    }
}

TEST(CommReceiveTest, HandlersRunOnTheEventThreadWhenNotSynchronized)
{
    PtyPair pty;
    TComm comm;
    std::mutex lock;
    std::vector<RxRecord> records;
    comm.OnRxChar = [&](TCommunicationConnection* sender, int count) {
        QByteArray got;
        sender->ReadString(count, got);
        std::lock_guard<std::mutex> l(lock);
        records.push_back({count, linktest::OnGuiThread(), got});
    };
    comm.SetDontSynchronize(true);
    comm.SetDeviceName(pty.Path());
    comm.Open();
    pty.Send("hello");
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard<std::mutex> l(lock);
        return Joined(records) == "hello";
    }));
    std::lock_guard<std::mutex> l(lock);
    for (const RxRecord& r : records)
        EXPECT_FALSE(r.onGui);
}

TEST(CommReceiveTest, ReadStringTakesWhatIsThereWithoutWaiting)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetMonitorEvents({});
    comm.SetReadTimeout(60000);
    EXPECT_EQ(comm.InQueCount(), -1);
    comm.Open();
    EXPECT_EQ(comm.InQueCount(), 0);

    QByteArray got;
    QElapsedTimer t;
    t.start();
    comm.ReadString(10, got);
    EXPECT_TRUE(got.isEmpty());

    pty.Send("12345");
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 5; }));
    comm.ReadString(100, got);
    EXPECT_EQ(got, "12345");
    comm.ReadString(0, got);
    EXPECT_TRUE(got.isEmpty());
    // Far below the read time-out: nothing waited for the missing bytes.
    EXPECT_LT(t.elapsed(), 30000);

    pty.Send("abcdef");
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 6; }));
    comm.PurgeIn();
    EXPECT_EQ(comm.InQueCount(), 0);

    comm.Close();
    EXPECT_EQ(comm.InQueCount(), -1);
    EXPECT_NO_THROW(comm.PurgeIn());
    EXPECT_NO_THROW(comm.PurgeOut());
    char buf[4];
    try {
        comm.Read(buf, 4);
        ADD_FAILURE() << "read from a closed port";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Operation(), "ReadFile");
    }
    try {
        comm.SendString("x");
        ADD_FAILURE() << "wrote to a closed port";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Operation(), "WriteFile");
    }
}

TEST(CommReceiveTest, HandleEventsFiresInItsOrderAndSkipsRxCharForAnEmptyQueue)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetMonitorEvents({}); // the thread stays out of this; HandleEvents is driven directly
    QStringList fired;
    auto note = [&](const char* name) { return [&fired, name](TCommHandle*) { fired << name; }; };
    comm.OnBreak = note("Break");
    comm.OnCts = note("Cts");
    comm.OnDsr = note("Dsr");
    comm.OnError = [&](TCommHandle*, int errors) {
        fired << QStringLiteral("Error %1").arg(errors);
    };
    comm.OnRing = note("Ring");
    comm.OnRlsd = note("Rlsd");
    comm.OnRxChar = [&](TCommunicationConnection*, int count) {
        fired << QStringLiteral("RxChar %1").arg(count);
    };
    comm.OnRxFlag = note("RxFlag");
    comm.OnTxEmpty = note("TxEmpty");
    comm.Open();

    comm.HandleEvents(0x1FF);
    EXPECT_EQ(fired,
              QStringList({"Break", "Cts", "Dsr", "Error 0", "Ring", "Rlsd", "RxFlag", "TxEmpty"}));

    fired.clear();
    pty.Send("ab");
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 2; }));
    comm.HandleEvents(EV_TXEMPTY | EV_RXCHAR | EV_CTS);
    EXPECT_EQ(fired, QStringList({"Cts", "RxChar 2", "TxEmpty"}));

    // A handler that closes the port ends the round: the rest belongs to a line that is gone.
    fired.clear();
    comm.OnCts = [&](TCommHandle* c) {
        fired << "Cts";
        c->Close();
    };
    comm.HandleEvents(0x1FF);
    EXPECT_EQ(fired, QStringList({"Break", "Cts"}));
}

TEST(CommReceiveTest, UnreadBytesAreReportedOnceAndDoNotSpinTheThread)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    std::vector<int> counts;
    comm.OnRxChar = [&](TCommunicationConnection*, int count) { counts.push_back(count); };
    comm.Open();

    pty.Send("0123456789");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    const double before = EventThreadCpuMs(comm);
    PumpFor(kMeasureMs);
    EXPECT_LT(EventThreadCpuMs(comm) - before, kIdleCpuMs);
    EXPECT_EQ(counts, std::vector<int>({10}));

    // New bytes are news again; the count is what waits in the queue.
    pty.Send("abcde");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts.back(), 15);
    QByteArray got;
    comm.ReadString(100, got);
    EXPECT_EQ(got, "0123456789abcde");

    // Once drained, the next byte raises an event at once again.
    pty.Send("z");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 3; }));
    EXPECT_EQ(counts.back(), 1);
}

TEST(CommReceiveTest, NoHandlerAssignedDoesNotSpinTheThread)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.Open();
    pty.Send("unread bytes");
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 12; }));
    const double before = EventThreadCpuMs(comm);
    PumpFor(kMeasureMs);
    EXPECT_LT(EventThreadCpuMs(comm) - before, kIdleCpuMs);
}

TEST(CommSendTest, SendStringReachesTheFarEndUnchanged)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetBaudrate(br600);
    int txEmpty = 0;
    comm.OnTxEmpty = [&](TCommHandle*) { ++txEmpty; };
    comm.Open();

    const QByteArray all = AllByteValues();
    EXPECT_EQ(comm.SendString(all), 256);
    EXPECT_EQ(pty.Receive(all.size()), all);
    EXPECT_EQ(comm.SendString(QByteArray::fromHex("fc0102")), 3);
    EXPECT_EQ(pty.Receive(3), QByteArray::fromHex("fc0102"));
    EXPECT_EQ(comm.SendString(QByteArray()), 0);

    // The output queue drained: reported, and only once per write.
    ASSERT_TRUE(PumpUntil([&] { return txEmpty >= 1; }));
    PumpFor(100);
    EXPECT_LE(txEmpty, 2);
}

TEST(CommSendTest, WriteGivesUpAfterItsTimeOut)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetMonitorEvents({});
    comm.SetWriteTimeout(100);
    comm.Open();

    // The far end reads nothing, so the line fills up long before a mebibyte is through.
    const QByteArray big(1 << 20, 'x');
    EXPECT_EQ(comm.SendString(big), 0);

    // After the give-up the port is usable as before.
    pty.Drain();
    EXPECT_EQ(comm.SendString("next"), 4);
    EXPECT_TRUE(pty.Receive(4).endsWith("next"));
}

TEST(CommLineTest, FarEndHangUpIsReportedOnceAndTheThreadSleeps)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    std::vector<std::pair<int, bool>> errors;
    comm.OnError = [&](TCommHandle*, int bits) {
        errors.push_back({bits, linktest::OnGuiThread()});
    };
    int rx = 0;
    comm.OnRxChar = [&](TCommunicationConnection*, int) { ++rx; };
    comm.Open();
    EXPECT_FALSE(comm.HungUp());

    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    EXPECT_TRUE(comm.HungUp());
    EXPECT_EQ(errors.front().first, int(CE_IOE));
    EXPECT_TRUE(errors.front().second);

    const double before = EventThreadCpuMs(comm);
    PumpFor(kMeasureMs);
    EXPECT_LT(EventThreadCpuMs(comm) - before, kIdleCpuMs);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(rx, 0);

    // Reading fails soft, writing says why.
    QByteArray got;
    comm.ReadString(10, got);
    EXPECT_TRUE(got.isEmpty());
    try {
        comm.SendString("x");
        ADD_FAILURE() << "write after hang-up succeeded";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Operation(), "WriteFile");
        EXPECT_EQ(e.Code(), EIO);
    }
    comm.Close();
    EXPECT_FALSE(comm.Active());
    EXPECT_FALSE(comm.HungUp());
}

TEST(CommCloseTest, ClosingFromInsideTheReceiveHandler)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    int calls = 0;
    comm.OnRxChar = [&](TCommunicationConnection* sender, int) {
        ++calls;
        sender->Close();
    };
    comm.Open();
    pty.Send("a");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(comm.EventThread(), nullptr);

    // The port opens again and receives as before.
    std::vector<RxRecord> records;
    RecordReception(comm, records);
    comm.Open();
    pty.Send("b");
    ASSERT_TRUE(PumpUntil([&] { return Joined(records) == "b"; }));
}

TEST(CommCloseTest, ClosingFromInsideAHandlerOnTheEventThread)
{
    PtyPair pty;
    auto comm = std::make_unique<TComm>();
    comm->SetDeviceName(pty.Path());
    comm->SetDontSynchronize(true);
    std::atomic<int> calls{0};
    comm->OnRxChar = [&](TCommunicationConnection* sender, int) {
        sender->Close();
        ++calls;
    };
    comm->Open();
    pty.Send("a");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    EXPECT_FALSE(comm->Active());
    comm.reset(); // waits for the thread that closed itself to finish its round
}

TEST(CommCloseTest, ClosingWhileAHandOffWaitsReturnsAndVoidsTheLateCall)
{
    PtyPair ptyA;
    PtyPair ptyB;
    TComm a;
    TComm b;
    a.SetDeviceName(ptyA.Path());
    b.SetDeviceName(ptyB.Path());
    int bCalls = 0;
    b.OnRxChar = [&](TCommunicationConnection*, int) { ++bCalls; };
    std::atomic<bool> closedB{false};
    a.OnRxChar = [&](TCommunicationConnection*, int) {
        // B's thread has rung this (busy) GUI thread and waits for its hand-off.
        const pid_t bThread = EventThreadId(b);
        ptyB.Send("b");
        EXPECT_TRUE(AwaitFutexWait(bThread));
        b.Close();
        closedB = true;
    };
    // A close that waited for the hand-off it is to void would never return.
    std::mutex m;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> l(m);
        if (!finished.wait_for(l, std::chrono::seconds(30), [&] { return done; }) && !closedB) {
            std::fprintf(stderr, "closing during a hand-off deadlocked\n");
            std::abort();
        }
    });
    a.Open();
    b.Open();
    ptyA.Send("a");
    const bool closed = PumpUntil([&] { return bool(closedB); });
    {
        std::lock_guard<std::mutex> l(m);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    ASSERT_TRUE(closed);
    ASSERT_TRUE(ServeEarlierWakeUps()); // B's late call has come, and done nothing
    EXPECT_EQ(bCalls, 0);
    EXPECT_FALSE(b.Active());
    EXPECT_TRUE(a.Active());
}

TEST(CommCloseTest, DestroyingAnOpenPortClosesItEvenWithAnEventInFlight)
{
    PtyPair pty;
    auto comm = std::make_unique<TComm>();
    comm->SetDeviceName(pty.Path());
    int calls = 0;
    comm->OnRxChar = [&](TCommunicationConnection*, int) { ++calls; };
    QStringList closeEvents;
    comm->BeforeClose = [&](TConnection*) { closeEvents << "BeforeClose"; };
    comm->AfterClose = [&](TConnection*) { closeEvents << "AfterClose"; };
    comm->Open();
    pty.Send("x");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    // The unread "x" stays; "y" is news, rung to this thread, which does not serve it yet.
    pty.Send("y");
    EXPECT_TRUE(AwaitFutexWait(EventThreadId(*comm)));
    comm.reset();
    ASSERT_TRUE(ServeEarlierWakeUps());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(closeEvents.isEmpty());

    // The line and its exclusive claim went with the component.
    pollfd p{pty.Master(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    TComm next;
    next.SetDeviceName(pty.Path());
    EXPECT_NO_THROW(next.Open());
}

} // namespace
