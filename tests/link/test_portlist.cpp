// The serial ports the settings dialog offers: device folders of our own holding links to real
// pseudo-terminals, in use or free, under serial and other names.

#include "link/commconnect.h"
#include "link/portlist.h"
#include "tests/support/files.h"
#include "tests/support/ptyfixture.h"
#include "tests/support/readonly.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <vector>

using linktest::PtyPair;

namespace {

// Lists compare as one text per line, so that a failure shows the paths.
std::string Lines(const QStringList& l) { return l.join('\n').toStdString(); }

// A device folder: each name a link to a pseudo-terminal of its own, plus whatever else a test puts
// there; and a sysfs stand-in for the port types.
struct DeviceFolder {
    QTemporaryDir dev, sys, byId;
    std::vector<std::unique_ptr<PtyPair>> ptys;

    QString Add(const QString& name)
    {
        ptys.push_back(std::make_unique<PtyPair>());
        const QString path = dev.filePath(name);
        EXPECT_TRUE(QFile::link(ptys.back()->Path(), path));
        return path;
    }
    void SetType(const QString& name, const QByteArray& type)
    {
        QDir(sys.path()).mkpath(name);
        WriteBytes(sys.filePath(name + "/type"), type);
    }
    TPortListDirs Dirs() const { return {dev.path(), sys.path(), byId.path()}; }
    QString Path(const QString& name) const { return dev.filePath(name); }
};

} // namespace

TEST(PortList, NaturalOrderComparesNumbersByValue)
{
    const QStringList expected = {"rfcomm0", "ttyACM0", "ttyS0",   "ttyS2",    "ttyS02x",
                                  "ttyS10",  "ttyUSB1", "ttyUSB9", "ttyUSB10", "ttyUSB100"};
    QStringList shuffled = expected;
    for (int round = 0; round < 20; ++round) {
        std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());
        std::sort(shuffled.begin(), shuffled.end(), NaturalLess);
        ASSERT_EQ(shuffled, expected);
    }
    // A strict order: a name is never less than itself, and leading zeros still give an order.
    EXPECT_FALSE(NaturalLess("ttyS2", "ttyS2"));
    EXPECT_NE(NaturalLess("ttyS02", "ttyS2"), NaturalLess("ttyS2", "ttyS02"));
}

TEST(PortList, OnlySerialDeviceNamesQualify)
{
    for (const char* yes : {"ttyS0", "ttyS31", "ttyUSB0", "ttyACM12", "ttyAMA0", "rfcomm1"})
        EXPECT_TRUE(IsSerialDeviceName(yes)) << yes;
    for (const char* no : {"tty", "tty0", "tty12", "ttyS", "ttyUSB", "pts", "ptmx", "console",
                           "ttyUSB0.bak", "xttyS0", "ttyprintk"})
        EXPECT_FALSE(IsSerialDeviceName(no)) << no;
}

TEST(PortList, ListsOpenableSerialDevicesInNaturalOrderAndLeavesOutPortsInUse)
{
    DeviceFolder f;
    for (const char* name : {"ttyUSB0", "ttyS10", "ttyS2", "ttyUSB1", "ttyACM0", "ttyS4", "console",
                             "ttyAMA0", "ttyACM1"})
        f.Add(name);
    // The serial component has ttyUSB1 open: its lock keeps it out.
    TComm comm;
    comm.SetDeviceName(f.Path("ttyUSB1"));
    comm.Open();
    ASSERT_TRUE(comm.Active());
    // Another program holds ttyACM0 in exclusive mode (the superuser could still open it).
    const int other = ::open(QFile::encodeName(f.Path("ttyACM0")), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    // ... and another one has locked ttyAMA0.
    const int locker = ::open(QFile::encodeName(f.Path("ttyAMA0")), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(locker, 0);
    ASSERT_EQ(flock(locker, LOCK_EX | LOCK_NB), 0);
    // ttyS4 has no UART behind it, ttyS2 has one.
    f.SetType("ttyS4", "0\n");
    f.SetType("ttyS2", "4\n");
    // ttyACM1 cannot be opened: its terminal is locked. (Closing its far end instead would free
    // its number for the next terminal anyone on the machine makes, and the link would work again.)
    int locked = 1;
    ASSERT_EQ(ioctl(f.ptys[8]->Master(), TIOCSPTLCK, &locked), 0);
    // Not devices, or not serial ones.
    WriteBytes(f.Path("ttyUSB7"), "a plain file");
    ASSERT_TRUE(QFile::link(f.Path("nowhere"), f.Path("ttyUSB8")));

    const QStringList expected = {f.Path("ttyS2"), f.Path("ttyS10"), f.Path("ttyUSB0")};
    EXPECT_EQ(Lines(ListSerialPorts(f.Dirs())), Lines(expected));
    // The probe released everything it opened: the ports can be taken at once.
    for (const QString& p : expected)
        EXPECT_TRUE(PortExists(p)) << p.toStdString();

    ::ioctl(other, TIOCNXCL); // as a careful program leaves a port
    ::close(other);
    ::close(locker);
    comm.Close();
    EXPECT_EQ(Lines(ListSerialPorts(f.Dirs())),
              Lines({f.Path("ttyACM0"), f.Path("ttyAMA0"), f.Path("ttyS2"), f.Path("ttyS10"),
                     f.Path("ttyUSB0"), f.Path("ttyUSB1")}));
}

TEST(PortList, TheOpenPortComesLastAndOnce)
{
    DeviceFolder f;
    f.Add("ttyUSB0");
    f.Add("ttyUSB2");
    const QString held = f.Path("ttyUSB1");
    f.Add("ttyUSB1");
    TComm comm;
    comm.SetDeviceName(held);
    comm.Open();
    ASSERT_TRUE(comm.Active());

    const QStringList withOpen = {f.Path("ttyUSB0"), f.Path("ttyUSB2"), held};
    EXPECT_EQ(Lines(BuildPortList(f.Dirs(), true, held).Paths()), Lines(withOpen));
    EXPECT_EQ(Lines(BuildPortList(f.Dirs(), true, held).Paths()), Lines(withOpen));
    // The open port is named as the settings name it, whatever that name looks like.
    EXPECT_EQ(BuildPortList(f.Dirs(), true, "COM3").Paths().last(), "COM3");
    // Closed, the configured port is listed only where the probe finds it.
    comm.Close();
    const QStringList all = {f.Path("ttyUSB0"), f.Path("ttyUSB1"), f.Path("ttyUSB2")};
    EXPECT_EQ(Lines(BuildPortList(f.Dirs(), false, held).Paths()), Lines(all));
    EXPECT_EQ(Lines(BuildPortList(f.Dirs(), false, "COM9").Paths()), Lines(all));
}

// A port outside the device folder (the demo's pseudo-terminal) and the stable names udev keeps
// per adapter: listed whenever they open, open or closed, with the device each stable name leads
// to; a stable name whose device is gone or taken is not.
TEST(PortList, StableNamesAndAConfiguredPortElsewhereAreListedWhileTheyOpen)
{
    DeviceFolder f;
    const QString usb0 = f.Add("ttyUSB0");
    const QString usb1 = f.Add("ttyUSB1");
    const QString stable0 = f.byId.filePath("usb-Maker_Cable_A1-if00-port0");
    const QString stable1 = f.byId.filePath("usb-Maker_Cable_B2-if00-port0");
    ASSERT_TRUE(QFile::link(usb0, stable0));
    ASSERT_TRUE(QFile::link(usb1, stable1));
    ASSERT_TRUE(QFile::link(f.Path("gone"), f.byId.filePath("usb-Maker_Cable_C3-if00-port0")));
    PtyPair elsewhere;
    const QString pty0 = QFileInfo(f.ptys[0]->Path()).canonicalFilePath();
    const QString pty1 = QFileInfo(f.ptys[1]->Path()).canonicalFilePath();
    const TPortEntry plain0{usb0, {}}, plain1{usb1, {}}, byId0{stable0, pty0}, byId1{stable1, pty1},
        other{elsewhere.Path(), {}};

    TComm comm;
    const struct {
        const char* name;
        QString configured, open;
        QList<TPortEntry> expected;
        int denied = 0;
    } cases[] = {
        {"nothing configured", "", "", {plain0, plain1, byId0, byId1}},
        {"a stable name, closed: once", stable1, "", {plain0, plain1, byId0, byId1}},
        {"a stable name, open", stable1, stable1, {plain0, byId0, byId1}},
        {"a port elsewhere, closed", other.path, "", {plain0, plain1, byId0, byId1, other}},
        {"a port elsewhere, open", other.path, other.path, {plain0, plain1, byId0, byId1, other}},
        {"a port elsewhere that is gone", f.Path("gone"), "", {plain0, plain1, byId0, byId1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.open.isEmpty()) {
            comm.SetDeviceName(c.open);
            comm.Open();
            ASSERT_TRUE(comm.Active());
        }
        const TPortList list = BuildPortList(f.Dirs(), comm.Active(), c.configured);
        EXPECT_EQ(Lines(list.Paths()), Lines(TPortList{c.expected, 0}.Paths()));
        EXPECT_EQ(list.ports, c.expected);
        EXPECT_EQ(list.denied, c.denied);
        comm.Close();
    }
    // Without a folder of stable names, none are looked for (not even in the current folder).
    TPortListDirs dirs = f.Dirs();
    dirs.byId.clear();
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(f.byId.path()));
    EXPECT_EQ(BuildPortList(dirs, false, {}).ports, (QList<TPortEntry>{plain0, plain1}));
    QDir::setCurrent(cwd);
}

// Devices the user may not open (not in the dialout group) are counted, not listed.
TEST(PortList, PortsTheUserMayNotOpenAreCounted)
{
    DeviceFolder f;
    f.Add("ttyUSB0");
    const QString free = f.Add("ttyUSB1");
    // The folder is the user's to read, as /dev is; the terminals are root's, and one of them
    // anyone's.
    ASSERT_TRUE(QFile::setPermissions(f.dev.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
    ASSERT_EQ(::chmod(QFile::encodeName(f.ptys[1]->Path()), 0666), 0);
    {
        TOrdinaryUser user;
        ASSERT_TRUE(user.Ok());
        const TPortList list = BuildPortList(f.Dirs(), false, {});
        EXPECT_EQ(Lines(list.Paths()), Lines({free}));
        EXPECT_EQ(list.denied, 1);
        EXPECT_EQ(ProbePort(f.Path("ttyUSB0")), TPortProbe::NoPermission);
        EXPECT_EQ(ProbePort(f.Path("none")), TPortProbe::Missing);
    }
    EXPECT_EQ(BuildPortList(f.Dirs(), false, {}).denied, 0);
}

TEST(PortList, ProbeRefusesNamesThatAreNoTerminal)
{
    QTemporaryDir dir;
    WriteBytes(dir.filePath("file"), "x");
    EXPECT_FALSE(PortExists(dir.filePath("file")));
    EXPECT_FALSE(PortExists(dir.filePath("missing")));
    EXPECT_FALSE(PortExists(QString()));
    EXPECT_FALSE(PortExists(QStringLiteral("/dev/null")));
    EXPECT_FALSE(PortExists(QString("/dev/pt") + QChar(0) + "mx"));
}
