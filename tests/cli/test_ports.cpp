// korvalinex-cli ports: the serial ports that can be opened, from a device folder of our own that
// links to real pseudo-terminals, and the FTDI adapters attached, from the simulated adapters; and
// --usb SERIAL, which picks one of several adapters.

#include "tests/cli/clifixture.h"
#include "tests/support/ptyfixture.h"
#include "tests/support/readonly.h"
#include "tools/cli/ports.h"
#include "tools/cli/runner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace {

struct Ports : ::testing::Test, TCliFixture {
    QTemporaryDir dev, sys;
    std::vector<std::unique_ptr<linktest::PtyPair>> ptys;

    QString Add(const QString& name)
    {
        ptys.push_back(std::make_unique<linktest::PtyPair>());
        const QString path = dev.filePath(name);
        EXPECT_TRUE(QFile::link(ptys.back()->Path(), path));
        return path;
    }
    TPortReport List() const { return ListPorts({dev.path(), sys.path()}); }
};

TEST_F(Ports, OpenableSerialPortsAndAttachedAdaptersAsTextAndJson)
{
    const QString s2 = Add("ttyS2"), usb0 = Add("ttyUSB0"), s10 = Add("ttyS10");
    Add("console"); // not a serial device name
    WriteBytes(dev.filePath("ttyS3"), "a plain file, not a terminal");
    adapters.AddAdapter("KX000002", "Second adapter", nullptr);
    const int gone = adapters.AddAdapter("KX000003", "Unplugged adapter", nullptr);
    adapters.Unplug(gone);

    const TPortReport report = List();
    EXPECT_EQ(PortsText(report, messages),
              QStringList({"serial " + s2, "serial " + s10, "serial " + usb0,
                           "usb KX000001 Simulated FT232R", "usb KX000002 Second adapter"})
                  .join('\n'));

    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(PortsJson(report).toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << PortsJson(report).toStdString();
    EXPECT_EQ(o["serial"].toArray(), QJsonArray({s2, s10, usb0}));
    const QJsonArray usb = o["usb"].toArray();
    ASSERT_EQ(usb.size(), 2);
    EXPECT_EQ(usb[0].toObject()["serialNumber"].toString(), "KX000001");
    EXPECT_EQ(usb[1].toObject()["description"].toString(), "Second adapter");
    EXPECT_EQ(usb[1].toObject()["access"].toString(), "ok");

    // Nothing plugged in: no lines, and empty lists.
    adapters.Unplug(0);
    adapters.Unplug(1);
    for (const QString& path : {s2, usb0, s10})
        QFile::remove(path);
    EXPECT_EQ(PortsText(List(), messages), "");
    EXPECT_EQ(QJsonDocument::fromJson(PortsJson(List()).toUtf8()).object(),
              QJsonObject({{"serial", QJsonArray()},
                           {"serialPorts", QJsonArray()},
                           {"usb", QJsonArray()},
                           {"schemaVersion", 1}}));
}

// A port that is there but does not open is listed with the reason, as an adapter is; stable names
// follow with the device they lead to.
TEST_F(Ports, APortThatDoesNotOpenIsListedWithTheReasonAndStableNamesFollow)
{
    const QString free = Add("ttyUSB0"), held = Add("ttyUSB1"), locked = Add("ttyUSB2");
    QTemporaryDir byId;
    const QString stable = byId.filePath("usb-FTDI_FT232R_A1B2C3-if00-port0");
    ASSERT_TRUE(QFile::link(ptys[0]->Path(), stable));
    // Another program holds ttyUSB1, as the serial component would; ttyUSB2 is the superuser's.
    const int fd = ::open(QFile::encodeName(held).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    for (int i : {0, 1})
        ASSERT_EQ(::chmod(QFile::encodeName(ptys[i]->Path()).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(ptys[2]->Path()).constData(), 0600), 0);
    for (const QString& folder : {dev.path(), byId.path()}) // readable by all, as /dev is
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    QString text, json;
    {
        TOrdinaryUser user;
        ASSERT_TRUE(user.Ok());
        const TPortReport report = ListPorts({dev.path(), sys.path(), byId.path()});
        text = PortsText(report, messages);
        json = PortsJson(report);
    }
    ::close(fd);
    const QString tail = " -> " + QFileInfo(ptys[0]->Path()).canonicalFilePath();
    QStringList lines = {"serial " + free,
                         "serial " + held + " (" + messages.LookupMessage("str191") + ")",
                         "serial " + stable + tail, "usb KX000001 Simulated FT232R"};
    // Only the superuser can hand a port to another user here; a test run by a user owns it.
    lines.insert(2, "serial " + locked +
                        (::geteuid() == 0 ? " (" + messages.LookupMessage("str190") + ")" : ""));
    EXPECT_EQ(text, lines.join('\n'));
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    EXPECT_EQ(o["serial"].toArray(), QJsonArray({free}));
    EXPECT_EQ(o["serialPorts"].toArray()[1].toObject()["access"].toString(), "busy");
    EXPECT_EQ(o["serialPorts"].toArray().last().toObject()["target"].toString(),
              QFileInfo(ptys[0]->Path()).canonicalFilePath());
}

TEST_F(Ports, AnAdapterTheUserMayNotOpenIsListedWithTheReason)
{
    const int denied = adapters.AddAdapter("KX000002", "Locked adapter", nullptr);
    adapters.AddAdapter("KX000003", "Third adapter", nullptr);
    adapters.SetPermissionDenied(denied, true);

    const TPortReport report = List();
    EXPECT_EQ(PortsText(report, messages),
              QStringList({"usb KX000001 Simulated FT232R",
                           "usb KX000002 Locked adapter (" + messages.LookupMessage("str190") + ")",
                           "usb KX000003 Third adapter"})
                  .join('\n'));
    const QJsonArray usb =
        QJsonDocument::fromJson(PortsJson(report).toUtf8()).object()["usb"].toArray();
    QStringList access;
    for (const QJsonValue& a : usb)
        access << a.toObject()["access"].toString();
    EXPECT_EQ(access, QStringList({"ok", "denied", "ok"}));
}

TEST_F(Ports, UsbSerialNumberPicksTheAdapter)
{
    // The same regulator behind both: which adapter carried the traffic tells which was opened.
    const int second = adapters.AddAdapter("KX000002", "Second adapter", &sim);
    struct Row {
        QStringList usb;
        int opened;
    };
    for (const Row& row :
         {Row{{"--usb"}, 0}, Row{{"--usb", "KX000002"}, second}, Row{{"--usb", "KX000001"}, 0}}) {
        SCOPED_TRACE(row.usb.join(' ').toStdString());
        adapters.ClearSent(0);
        adapters.ClearSent(second);
        ASSERT_EQ(RunCli(QStringList{"identify"} + row.usb), kExitOk) << Err().toStdString();
        EXPECT_FALSE(adapters.Sent(row.opened).empty());
        EXPECT_TRUE(adapters.Sent(row.opened == 0 ? second : 0).empty());
    }
}

// The word after --usb is the serial number, unless an option follows or a command would be left
// without its file.
TEST(CliOptions, UsbTakesASerialNumber)
{
    struct Row {
        QStringList args;
        const char* serial;
        const char* file;
    };
    const Row rows[] = {
        {{"read", "--usb"}, "", ""},
        {{"read", "--usb", "--json"}, "", ""},
        {{"read", "--usb", "KX000002", "--json"}, "KX000002", ""},
        {{"write", "--usb", "KX000002", "a.zeq"}, "KX000002", "a.zeq"},
        {{"write", "a.zeq", "--usb", "KX000002"}, "KX000002", "a.zeq"},
        {{"write", "--usb", "a.zeq"}, "", "a.zeq"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const TParsedCommandLine parsed = ParseCliCommandLine(row.args);
        ASSERT_TRUE(parsed.error.Empty()) << parsed.error.key.toStdString();
        EXPECT_TRUE(parsed.options.usb);
        EXPECT_EQ(parsed.options.usbSerial, row.serial);
        EXPECT_EQ(parsed.options.argument, row.file);
    }
    // Both kinds of link, each as often as wanted: the command runs on each in turn.
    EXPECT_EQ(
        ParseCliCommandLine({"read", "--usb", "KX000002", "--port", "COM1", "--usb"}).options.links,
        QList<TLinkArg>({{true, "KX000002"}, {false, "COM1"}, {true, ""}}));
}

// One table of command lines: what each sets, or the complaint it gets.
TEST(CliOptions, CommandLines)
{
    using Check = std::function<void(const TCliOptions&)>;
    struct Row {
        QStringList args;
        const char* error; // "" none
        Check check = {};
    };
    const Row rows[] = {
        {{"read", "--port", "--data", "D"}, "str149"}, // an option is no value
        {{"read", "--port", ""}, "str149"},            // nor is nothing
        {{"read", "--port="}, "str149"},
        {{"read", "--port=/dev/ttyS1", "--timeout=5", "--lang=EN"},
         "",
         [](const TCliOptions& o) {
             EXPECT_EQ(o.links, QList<TLinkArg>({{false, "/dev/ttyS1"}}));
             EXPECT_EQ(o.port, "/dev/ttyS1");
             EXPECT_EQ(o.timeoutSeconds, 5);
             EXPECT_EQ(o.language, "EN");
         }},
        {{"read", "--json=yes"}, "str159"},
        {{"read", "--timeout", "0"}, "str159"},
        {{"read", "--bogus", "--help"},
         "str148",
         [](const TCliOptions& o) { EXPECT_TRUE(o.help); }},
        {{"--help", "--bogus"}, "str160", [](const TCliOptions& o) { EXPECT_TRUE(o.help); }},
        {{"--version"}, "", [](const TCliOptions& o) { EXPECT_TRUE(o.version); }},
        {{"read", "-q"}, "", [](const TCliOptions& o) { EXPECT_EQ(o.verbosity, kQuiet); }},
        {{"read", "-v"}, "", [](const TCliOptions& o) { EXPECT_EQ(o.verbosity, kVerbose); }},
        {{"read", "-vv"}, "", [](const TCliOptions& o) { EXPECT_EQ(o.verbosity, kTrace); }},
        {{"-v", "read", "--verbose"},
         "",
         [](const TCliOptions& o) { EXPECT_EQ(o.verbosity, kTrace); }},
        {{"read", "-o", "-"}, "", [](const TCliOptions& o) { EXPECT_EQ(o.output, "-"); }},
        {{"read", "--output=x.zeq"},
         "",
         [](const TCliOptions& o) { EXPECT_EQ(o.output, "x.zeq"); }},
        {{"write", "a.zeq", "--throttle-min", "-1"},
         "",
         [](const TCliOptions& o) { EXPECT_EQ(o.throttleMin, -1.0); }}, // the session refuses it
        {{"read", "--port", "A", "--port", "B", "-j", "2"},
         "",
         [](const TCliOptions& o) {
             EXPECT_EQ(o.links.size(), 2);
             EXPECT_EQ(o.jobs, 2);
         }},
        {{"read", "--port", "A", "--port", "B", "-o", "x.zeq"}, "str230"},
        {{"ports", "--port", "A"}, "str148"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const TParsedCommandLine parsed = ParseCliCommandLine(row.args);
        EXPECT_EQ(parsed.error.key, row.error);
        if (row.check)
            row.check(parsed.options);
    }
}

// --port names a device the way a user means it.
TEST(CliOptions, PortNamesBecomeDevicePaths)
{
    QTemporaryDir cwd;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    WriteBytes(cwd.filePath("ttyREG"), "");
    const struct {
        const char* name;
        QString path;
    } rows[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"ttyUSB1", "/dev/ttyUSB1"},
        {"COM3", "/dev/ttyS2"},
        {"ttyREG", cwd.filePath("ttyREG")},
        {"sub/tty", cwd.filePath("sub/tty")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CliPortPath(row.name), QDir::cleanPath(row.path)) << row.name;
    QDir::setCurrent(before);
}

} // namespace
