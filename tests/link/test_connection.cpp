// The open/close state machine, loading, the logging hooks and the failures of opening, on real
// pseudo-terminals and real files.

#include "link/commconnect.h"
#include "tests/support/ptyfixture.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

using linktest::PtyPair;

namespace {

// Records the transitions as the connection's events see them.
struct EventLog {
    QStringList entries;

    void Attach(TComm& comm)
    {
        comm.BeforeOpen = [this](TConnection* c) { Note("BeforeOpen", c); };
        comm.AfterOpen = [this](TConnection* c) { Note("AfterOpen", c); };
        comm.BeforeClose = [this](TConnection* c) { Note("BeforeClose", c); };
        comm.AfterClose = [this](TConnection* c) { Note("AfterClose", c); };
    }
    void Note(const char* what, TConnection* c)
    {
        const auto* comm = static_cast<TComm*>(c);
        entries << QStringLiteral("%1 active=%2 open=%3")
                       .arg(QLatin1String(what))
                       .arg(int(c->Active()))
                       .arg(int(comm->Handle() >= 0));
    }
};

TEST(ConnectionStateTest, OpenAndCloseFireTheirEventsAroundTheTransition)
{
    PtyPair pty;
    TComm comm;
    EventLog log;
    log.Attach(comm);
    comm.SetDeviceName(pty.Path());

    comm.Open();
    EXPECT_EQ(log.entries,
              QStringList({"BeforeOpen active=0 open=0", "AfterOpen active=1 open=1"}));
    log.entries.clear();

    comm.SetActive(true); // already open: nothing happens
    EXPECT_TRUE(log.entries.isEmpty());

    comm.Close();
    EXPECT_EQ(log.entries,
              QStringList({"BeforeClose active=1 open=1", "AfterClose active=0 open=0"}));
    log.entries.clear();

    comm.SetActive(false);
    EXPECT_TRUE(log.entries.isEmpty());
    EXPECT_EQ(comm.Handle(), -1);
}

TEST(ConnectionStateTest, ActiveWhileLoadingOpensOnlyInLoaded)
{
    PtyPair pty;
    TComm comm;
    EventLog log;
    log.Attach(comm);
    comm.BeginLoading();
    comm.SetDeviceName(pty.Path());
    comm.SetActive(true);
    comm.SetActive(false); // a false value while loading does not cancel the remembered true
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(comm.Handle(), -1);
    EXPECT_TRUE(log.entries.isEmpty());

    comm.Loaded();
    EXPECT_TRUE(comm.Active());
    EXPECT_GE(comm.Handle(), 0);
    EXPECT_EQ(log.entries,
              QStringList({"BeforeOpen active=0 open=0", "AfterOpen active=1 open=1"}));

    // Loading without Active leaves the port closed.
    TComm other;
    other.BeginLoading();
    other.Loaded();
    EXPECT_FALSE(other.Active());
}

struct OpenFailure {
    const char* title;
    std::function<QString(const QTemporaryDir&)> device;
    QString operation;
    int code;
};

TEST(ConnectionStateTest, FailedOpenRaisesComErrorAndLeavesNothingOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("notaport")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("data");
    file.close();

    const OpenFailure cases[] = {
        {"regular file", [](const QTemporaryDir& d) { return d.filePath("notaport"); },
         "GetFileType", ENOTTY},
        {"missing device", [](const QTemporaryDir& d) { return d.filePath("ttyNone"); },
         "CreateFile", ENOENT},
        {"empty port name", [](const QTemporaryDir&) { return QStringLiteral("\\\\.\\"); },
         "CreateFile", ENOENT},
        {"unknown port name", [](const QTemporaryDir&) { return QStringLiteral("\\\\.\\COM0"); },
         "CreateFile", ENOENT},
        {"directory", [](const QTemporaryDir& d) { return d.path(); }, "CreateFile", EISDIR},
        {"character device that is no terminal",
         [](const QTemporaryDir&) { return QStringLiteral("/dev/null"); }, "SetCommTimeouts",
         ENOTTY},
    };
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.title);
        // The component's own wake-up descriptor lives as long as it does.
        TComm comm;
        const int fdsBefore = linktest::OpenDescriptorCount();
        QStringList events;
        comm.BeforeOpen = [&](TConnection*) { events << "BeforeOpen"; };
        comm.AfterOpen = [&](TConnection*) { events << "AfterOpen"; };
        comm.SetDeviceName(c.device(dir));
        try {
            comm.Open();
            ADD_FAILURE() << "opened";
        } catch (const EComError& e) {
            EXPECT_EQ(e.Operation(), c.operation);
            EXPECT_EQ(e.Code(), c.code);
            EXPECT_EQ(e.Text(), QStringLiteral("Error %1 %2 in function: %3")
                                    .arg(c.code)
                                    .arg(QString::fromLocal8Bit(strerror(c.code)))
                                    .arg(c.operation));
        }
        EXPECT_FALSE(comm.Active());
        EXPECT_EQ(comm.Handle(), -1);
        EXPECT_EQ(comm.EventThread(), nullptr);
        EXPECT_EQ(events, QStringList({"BeforeOpen"}));
        EXPECT_EQ(linktest::OpenDescriptorCount(), fdsBefore);
    }
}

TEST(ConnectionStateTest, ComErrorTextForAMissingPort)
{
    TComm comm;
    comm.SetDeviceName(QStringLiteral("/dev/no-such-port"));
    try {
        comm.Open();
        FAIL() << "opened";
    } catch (const EConnectError& e) {
        EXPECT_STREQ(e.what(), "Error 2 No such file or directory in function: CreateFile");
    }
}

TEST(ConnectionStateTest, SecondOpenOfTheSamePortFails)
{
    PtyPair pty;
    TComm first;
    first.SetDeviceName(pty.Path());
    first.Open();
    TComm second;
    second.SetDeviceName(pty.Path());
    try {
        second.Open();
        FAIL() << "opened twice";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Operation(), "CreateFile");
        EXPECT_EQ(e.Code(), EBUSY);
    }
    EXPECT_FALSE(second.Active());
    first.Close();
    EXPECT_NO_THROW(second.Open());
}

TEST(ConnectionStateTest, PropertiesRefusedWhileOpenKeepTheirValue)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.Open();

    const std::pair<const char*, std::function<void()>> refused[] = {
        {"DeviceName", [&] { comm.SetDeviceName("/dev/ttyS9"); }},
        {"ReadBufSize", [&] { comm.SetReadBufSize(1); }},
        {"WriteBufSize", [&] { comm.SetWriteBufSize(1); }},
        {"MonitorEvents", [&] { comm.SetMonitorEvents({evRxChar}); }},
    };
    for (const auto& [name, set] : refused) {
        SCOPED_TRACE(name);
        try {
            set();
            ADD_FAILURE() << "accepted while open";
        } catch (const EConnectError& e) {
            EXPECT_EQ(e.Text(), "Connection is active");
        }
    }
    EXPECT_EQ(comm.DeviceName(), pty.Path());
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.MonitorEvents(), AllCommEvents);

    comm.Close();
    comm.SetReadBufSize(100);
    EXPECT_EQ(comm.ReadBufSize(), 100);
}

// A sink that keeps its lines, and notes how it was opened and closed.
class MemoryLogger : public TLogger {
public:
    ~MemoryLogger() override { DestroyConnection(); }
    QStringList lines;
    QStringList transitions;
    bool failWrite = false;

protected:
    void DoOpen() override { transitions << "open"; }
    void DoClose() override { transitions << "close"; }
    void FormatLine(const QString& logName, uint8_t channel, const QByteArray& text,
                    QString& line) override
    {
        line = QStringLiteral("%1|%2|%3")
                   .arg(logName)
                   .arg(channel)
                   .arg(QString::fromLatin1(text.toHex()));
    }
    void WriteLine(const QString& line) override
    {
        if (failWrite)
            throw EKorvalinexError(QStringLiteral("disk full"));
        lines << line;
    }
};

TEST(LoggerTest, LogsOnlyWhenActiveOrAutoOpenAndRestoresTheState)
{
    MemoryLogger logger;
    logger.Log("n", 1, "a");
    EXPECT_TRUE(logger.lines.isEmpty());
    EXPECT_TRUE(logger.transitions.isEmpty());

    logger.SetAutoOpen(true);
    logger.Log("n", 1, "a");
    EXPECT_EQ(logger.lines, QStringList({"n|1|61"}));
    EXPECT_EQ(logger.transitions, QStringList({"open", "close"}));
    EXPECT_FALSE(logger.Active());

    logger.transitions.clear();
    logger.Open();
    logger.Log("n", 2, "b");
    EXPECT_TRUE(logger.Active());
    EXPECT_EQ(logger.transitions, QStringList({"open"}));
    EXPECT_THROW(logger.SetAutoOpen(false), EConnectError);
    EXPECT_TRUE(logger.AutoOpen());
    logger.Close();

    // A failing sink is closed again all the same.
    logger.transitions.clear();
    logger.failWrite = true;
    EXPECT_THROW(logger.Log("n", 1, "c"), EKorvalinexError);
    EXPECT_FALSE(logger.Active());
    EXPECT_EQ(logger.transitions, QStringList({"open", "close"}));
}

TEST(LoggerTest, AcceptChannelCanRefuseAChannel)
{
    MemoryLogger logger;
    logger.SetAutoOpen(true);
    logger.AcceptChannel = [](TLogger*, const QString& name, uint8_t channel, bool& accept) {
        accept = !(name == "port" && channel == 2);
    };
    logger.Log("port", 2, "x");
    logger.Log("port", 1, "y");
    EXPECT_EQ(logger.lines, QStringList({"port|1|79"}));
}

TEST(LoggerTest, SentAndReceivedBlocksReachTheLoggerOnTheirChannels)
{
    PtyPair pty;
    MemoryLogger logger;
    logger.SetAutoOpen(true);
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetLogger(&logger);
    comm.SetLogName("Comm1");
    comm.SetMonitorEvents({});
    QList<int> formatted;
    comm.OnFormatLog = [&](TLogConnection*, uint8_t channel, QByteArray& text) {
        formatted << channel;
        if (channel == 2)
            text = "<" + text + ">";
    };
    comm.Open();

    EXPECT_EQ(comm.SendString(QByteArray::fromHex("fc0102")), 3);
    pty.Send("\xfa");
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 1; }));
    QByteArray got;
    comm.ReadString(5, got);
    EXPECT_EQ(got, QByteArray("\xfa"));
    EXPECT_EQ(formatted, QList<int>({1, 2}));
    EXPECT_EQ(logger.lines, QStringList({"Comm1|1|fc0102", "Comm1|2|3cfa3e"}));
}

} // namespace
