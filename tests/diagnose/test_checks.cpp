// The connection check's readings of the machine: one row per finding and its fix, each on a
// machine of its own (a temporary /dev, /proc, /sys and /etc), the FTDI adapters simulated behind
// the FT_* functions; then the same on the real machine with real pseudo-terminals.

#include "diagnose/checks.h"
#include "diagnose/linkwatch.h"
#include "i18n/msglangres.h"
#include "tests/support/fakemachine.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/programdir.h"
#include "tests/support/readonly.h"
#include "tools/regsim/ftsimadapter.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>

namespace {

const QString kPort = QStringLiteral("/dev/ttyUSB0");
const QString kStable = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
const QString kRules = QStringLiteral("/usr/lib/udev/rules.d/");
const QString kAdapterSerial = QStringLiteral("KX000001");

struct Checks {
    TFakeMachine m;
    regsim::FtSimAdapters adapters;
    IFtDriver* previous = FtInstallDriver(&adapters);
    TsmlMsgLangRes messages;
    ~Checks() { FtInstallDriver(previous); }

    // ttyUSB0 in the group dialout; the user in the user database's dialout and in this login's.
    QList<unsigned> Serial(bool inDatabase = true, bool inLogin = true, unsigned mode = 0660)
    {
        m.SerialDevice(QStringLiteral("ttyUSB0"), mode);
        const unsigned dialout = TFakeMachine::FileGroup(m.Host(kPort));
        const unsigned plugdev = TFakeMachine::FileGroup(m.Root());
        m.Groups({{"dialout", dialout, inDatabase ? TFakeMachine::kUser : QString()},
                  {"plugdev", plugdev, QString()}});
        return inLogin ? QList<unsigned>{TFakeMachine::kUid, dialout}
                       : QList<unsigned>{TFakeMachine::kUid};
    }
    // One FTDI adapter, listed by the driver and in sysfs, its node in the group plugdev.
    QList<unsigned> Usb(bool member, unsigned nodeMode = 0660)
    {
        adapters.AddAdapter(kAdapterSerial.toStdString(), "FT232R USB UART", nullptr);
        m.UsbDevice("0403", "6001", kAdapterSerial, 4, nodeMode);
        const unsigned plugdev = TFakeMachine::FileGroup(m.Root());
        m.Groups({{"plugdev", plugdev, member ? TFakeMachine::kUser : QString()}});
        return member ? QList<unsigned>{TFakeMachine::kUid, plugdev}
                      : QList<unsigned>{TFakeMachine::kUid};
    }
    void Rule(const QString& name = QStringLiteral("60-korvalinex-ftdi.rules"))
    {
        m.Write(kRules + name, SourceFile("data/60-korvalinex-ftdi.rules"));
    }
};

struct Row {
    const char* name;
    TCheckedLink link;
    std::function<QList<unsigned>(Checks&)> setup; // builds the machine; the login's groups
    const char* id;
    TVerdict verdict;
    const char* seenKey;
    const char* todoKey = nullptr;
    QString said = {}; // in what was seen or what to do
};

const TCheckedLink kSerial{false, kPort, {}, true};
const TCheckedLink kUsbFirst{true, {}, {}, true};

TEST(CheckMachine, OneFindingAndItsFixPerRow)
{
    using V = TVerdict;
    const Row rows[] = {
        {"the port is there", kSerial, [](Checks& c) { return c.Serial(); }, "port", V::Fine,
         "Str420"},
        {"a stable name leads to it",
         {false, kStable, {}, true},
         [](Checks& c) {
             c.m.Link(kStable, "../../ttyUSB0");
             return c.Serial();
         },
         "port",
         V::Fine,
         "Str421",
         nullptr,
         kPort},
        {"the port has a stable name to choose instead", kSerial,
         [](Checks& c) {
             c.m.Link(kStable, "../../ttyUSB0");
             return c.Serial();
         },
         "port", V::Fine, "Str427", "Str428", kStable},
        {"no port", kSerial, [](Checks&) { return QList<unsigned>{}; }, "port", V::Problem,
         "Str422", "Str423"},
        {"the adapter came back as ttyUSB1: its stable name", kSerial,
         [](Checks& c) {
             c.m.SerialDevice("ttyUSB1");
             c.m.Link(kStable, "../../ttyUSB1");
             return QList<unsigned>{};
         },
         "port", V::Problem, "Str424", "Str425", kStable},
        {"a stable name that is gone is an adapter unplugged",
         {false, kStable, {}, true},
         [](Checks& c) {
             c.m.SerialDevice("ttyUSB1");
             c.m.Link(kStable.left(kStable.size() - 1) + "1", "../../ttyUSB1");
             return QList<unsigned>{};
         },
         "port",
         V::Problem,
         "Str422",
         "Str423"},
        {"a plain file is no port", kSerial,
         [](Checks& c) {
             c.m.Write(kPort, "text");
             return QList<unsigned>{};
         },
         "port", V::Problem, "Str426", "Str423"},
        {"a member of its group may open it", kSerial, [](Checks& c) { return c.Serial(); },
         "permission", V::Fine, "Str430", nullptr, "dialout"},
        {"not in its group", kSerial, [](Checks& c) { return c.Serial(false, false); },
         "permission", V::Problem, "Str436", "Str437", "usermod -aG dialout pilot"},
        {"joined the group, not logged in again", kSerial,
         [](Checks& c) { return c.Serial(true, false); }, "permission", V::Problem, "Str438",
         "Str439"},
        {"not even its group may write", kSerial,
         [](Checks& c) { return c.Serial(false, false, 0600); }, "permission", V::Problem, "Str440",
         "Str441", "crw-------"},
        {"its group is not in /etc/group", kSerial,
         [](Checks& c) {
             c.Serial(false, false);
             c.m.Groups({});
             return QList<unsigned>{TFakeMachine::kUid};
         },
         "permission", V::CannotTell, "Str442", "Str437"},
        {"another program holds it", kSerial,
         [](Checks& c) {
             c.m.Process(4321, "minicom", {"/dev/pts/0", kPort});
             return c.Serial();
         },
         "holder", V::Problem, "Str452", "Str453", "minicom (proces 4321)"},
        {"this program holds it itself", kSerial,
         [](Checks& c) {
             c.m.Process(TFakeMachine::kOwnPid, "korvalinex", {kPort});
             return c.Serial();
         },
         "holder", V::Fine, "Str454"},
        {"a simulator at the far end of a pseudo-terminal is its line",
         {false, "/dev/pts/7", {}, true},
         [](Checks& c) {
             c.m.SerialDevice("pts/7");
             c.m.Process(4321, "regsim", {"/dev/ptmx", "/dev/pts/7"});
             return QList<unsigned>{};
         },
         "holder",
         V::Fine,
         "Str450"},
        {"nobody holds it", kSerial,
         [](Checks& c) {
             c.m.Process(1, "init", {"/dev/null"});
             return c.Serial();
         },
         "holder", V::Fine, "Str450"},
        {"ModemManager tries new ports", kSerial,
         [](Checks& c) {
             c.m.Process(900, "ModemManager");
             return c.Serial();
         },
         "modemmanager", V::CannotTell, "Str461", "Str462", "900"},
        {"no ModemManager", kSerial, [](Checks& c) { return c.Serial(); }, "modemmanager", V::Fine,
         "Str460"},
        {"brltty's rule claims the adapter", kSerial,
         [](Checks& c) {
             c.m.UsbDevice("0403", "6001", "A1B2C3", 5);
             c.m.TtyOnUsb("ttyUSB0", 5);
             c.m.Write(kRules + "85-brltty.rules",
                       "ENV{PRODUCT}==\"403/6001/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"fs\", "
                       "GOTO=\"brltty_usb_run\"\n");
             return c.Serial();
         },
         "brltty", V::Problem, "Str466", "Str467", "0403:6001"},
        {"brltty took the port away", kSerial,
         [](Checks& c) {
             c.m.UsbDevice("1a86", "7523", "", 6);
             c.m.Write("/etc/udev/rules.d/85-brltty.rules",
                       "ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\", RUN+=\"brltty\"\n");
             return QList<unsigned>{};
         },
         "brltty", V::Problem, "Str466", "Str467", "1a86:7523"},
        {"brltty runs, the port is no USB adapter",
         {false, "/dev/ttyS0", {}, true},
         [](Checks& c) {
             c.m.SerialDevice("ttyS0");
             c.m.Process(800, "brltty");
             return QList<unsigned>{};
         },
         "brltty",
         V::CannotTell,
         "Str468",
         "Str467"},
        {"brltty runs and leaves the adapter alone", kSerial,
         [](Checks& c) {
             c.m.UsbDevice("0403", "6001", "A1B2C3", 5);
             c.m.TtyOnUsb("ttyUSB0", 5);
             c.m.Process(800, "brltty");
             return c.Serial();
         },
         "brltty", V::Fine, "Str469"},
        {"who the user is", kSerial, [](Checks& c) { return c.Serial(); }, "user", V::Fine,
         "Str495", nullptr, "pilot"},
        {"no FTDI adapter", kUsbFirst, [](Checks&) { return QList<unsigned>{}; }, "usb-adapter",
         V::Problem, "Str471", "Str472"},
        {"no adapter with that serial number",
         {true, {}, "KX999999", false},
         [](Checks& c) { return c.Usb(true); },
         "usb-adapter",
         V::Problem,
         "Str473",
         "Str474",
         kAdapterSerial},
        {"the adapter lets itself be listed", kUsbFirst, [](Checks& c) { return c.Usb(true); },
         "usb-access", V::Fine, "Str475", nullptr, kAdapterSerial},
        {"the adapter refuses the user", kUsbFirst,
         [](Checks& c) {
             const QList<unsigned> login = c.Usb(false);
             c.adapters.SetPermissionDenied(0, true);
             return login;
         },
         "usb-access", V::Problem, "Str476", "Str477", "permission denied"},
        {"its node is the group plugdev's", kUsbFirst, [](Checks& c) { return c.Usb(false); },
         "usb-permission", V::Problem, "Str436", "Str437", "plugdev"},
        {"another program holds the adapter", kUsbFirst,
         [](Checks& c) {
             c.m.Process(4321, "korvalinex-cli", {"/dev/bus/usb/001/004"});
             return c.Usb(true);
         },
         "holder", V::Problem, "Str452", "Str453", "korvalinex-cli (proces 4321)"},
        {"no udev rule, the adapter refused", kUsbFirst, [](Checks& c) { return c.Usb(false); },
         "udev-rule", V::Problem, "Str488", "Str489", "60-korvalinex-ftdi.rules"},
        {"no udev rule, no adapter", kUsbFirst, [](Checks&) { return QList<unsigned>{}; },
         "udev-rule", V::Problem, "Str488", "Str489"},
        {"no udev rule needed", kUsbFirst, [](Checks& c) { return c.Usb(true); }, "udev-rule",
         V::Fine, "Str486"},
        {"only the old rule", kUsbFirst,
         [](Checks& c) {
             c.Rule("99-korvalinex-ftdi.rules");
             return c.Usb(false);
         },
         "udev-rule", V::Problem, "Str487", "Str489"},
        {"the rule is there", kUsbFirst,
         [](Checks& c) {
             c.Rule();
             return c.Usb(true);
         },
         "udev-rule", V::Fine, "Str485", nullptr, kRules},
        {"plugged in before the rule came", kUsbFirst,
         [](Checks& c) {
             const QList<unsigned> login = c.Usb(false);
             c.m.SetModified("/dev/bus/usb/001/004", QDateTime::currentDateTime().addSecs(-3600));
             c.Rule();
             return login;
         },
         "udev-rule", V::Problem, "Str490", "Str491"},
        {"the rule does not reach a remote login", kUsbFirst,
         [](Checks& c) {
             c.Rule();
             const QList<unsigned> login = c.Usb(false);
             c.m.SetModified("/dev/bus/usb/001/004", QDateTime::currentDateTime().addSecs(3600));
             return login;
         },
         "udev-rule", V::Problem, "Str492", "Str493"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Checks c;
        const QList<unsigned> login = row.setup(c);
        const QList<TFinding> findings = CheckMachine(c.m.Machine(login), row.link, c.messages);
        const auto f = std::find_if(findings.begin(), findings.end(),
                                    [&](const TFinding& f) { return f.id == row.id; });
        ASSERT_NE(f, findings.end()) << row.id;
        EXPECT_EQ(f->verdict, row.verdict);
        EXPECT_EQ(f->seenKey, row.seenKey) << f->seen.toStdString();
        EXPECT_EQ(f->todoKey, QLatin1String(row.todoKey)) << f->todo.toStdString();
        EXPECT_TRUE((f->seen + f->todo).contains(row.said)) << (f->seen + f->todo).toStdString();
        // One finding of each kind, so that a report never says two things of one.
        EXPECT_EQ(std::count_if(findings.begin(), findings.end(),
                                [&](const TFinding& g) { return g.id == f->id; }),
                  1);
    }
}

// The live link, as its taps and the cycle's events showed it: one row per finding.
TEST(LinkFindings, WhatTheLineShowed)
{
    const TsmlMsgLangRes messages;
    TProgramDir dir;
    dir.WriteDemoFiles();
    TRegulatorIdentity demo{"KVX-40 OPTO", "V.03a", "12.10.26", 0x80};
    using Feed = std::function<void(TLinkWatch&, const TLinkObserver&)>;
    const auto sends = [](int n) {
        return [n](TLinkWatch&, const TLinkObserver& tap) {
            tap.opened(0);
            for (int i = 0; i < n; ++i)
                tap.bytes(true, QByteArray("\xFA\xFA", 2));
        };
    };
    const struct {
        const char* name;
        bool usb;
        Feed feed;
        const char* id;
        TVerdict verdict;
        const char* seenKey;
        QString said = {};
    } rows[] = {
        {"not opened yet", false, [](TLinkWatch&, const TLinkObserver&) {}, "link-open",
         TVerdict::CannotTell, "Str514"},
        {"no such port", false, [](TLinkWatch&, const TLinkObserver& tap) { tap.opened(ENOENT); },
         "link-open", TVerdict::Problem, "Str501", messages.Msg("Str515")},
        {"no adapter", true, [](TLinkWatch&, const TLinkObserver& tap) { tap.opened(-1); },
         "link-open", TVerdict::Problem, "Str501", messages.Msg("str141")},
        {"opened, nothing sent yet", false, sends(0), "wake-up", TVerdict::CannotTell, "Str512"},
        {"nothing came back", false, sends(3), "wake-up", TVerdict::Problem, "Str503", "3"},
        {"the cycle's retries do not start the count again", false,
         [&](TLinkWatch& w, const TLinkObserver& tap) {
             sends(2)(w, tap);
             w.TimeoutReset();
             sends(2)(w, tap);
         },
         "wake-up", TVerdict::Problem, "Str503", "4"},
        {"bytes that are no reply", false,
         [&](TLinkWatch& w, const TLinkObserver& tap) {
             sends(2)(w, tap);
             tap.bytes(false, QByteArray("\x55\xAA\x13", 3));
         },
         "wake-up", TVerdict::Problem, "Str505", "55 AA 13"},
        {"the regulator answered", false,
         [&](TLinkWatch& w, const TLinkObserver& tap) {
             sends(2)(w, tap);
             w.Identified({demo, false});
         },
         "answer", TVerdict::Fine, "Str507", "KVX-40 OPTO"},
        {"lost since: the calls count again, its model file is still told", false,
         [&](TLinkWatch& w, const TLinkObserver& tap) {
             sends(2)(w, tap);
             w.Identified({{"KVX-99", "V.01a", "", 0}, true});
             w.RegulatorLost();
             sends(1)(w, tap);
         },
         "model-file", TVerdict::Problem, "Str509", "KVX-99"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TLinkWatch watch;
        row.feed(watch, watch.Observer());
        const QList<TFinding> findings = LinkFindings(
            watch,
            {{row.usb, row.usb ? QString() : "/dev/ttyUSB0", {}, true}, dir.Path(), "CZ", {}},
            messages);
        const auto f = std::find_if(findings.begin(), findings.end(),
                                    [&](const TFinding& f) { return f.id == row.id; });
        ASSERT_NE(f, findings.end());
        EXPECT_EQ(f->verdict, row.verdict);
        EXPECT_EQ(f->seenKey, row.seenKey) << f->seen.toStdString();
        EXPECT_TRUE(f->seen.contains(row.said)) << f->seen.toStdString();
    }
}

// The model definition file, once the regulator has said its name.
TEST(CheckModelFile, ThereMissingOrInAnotherLanguage)
{
    TProgramDir dir;
    const TsmlMsgLangRes messages;
    const QString model = QStringLiteral("KVX-40 OPTO");
    dir.Write("Regulators/EN/" + model + ".ini", "[x]\r\n");
    const struct {
        const char* language;
        TVerdict verdict;
        const char *seenKey, *todoKey;
        QString said;
    } rows[] = {{"EN", TVerdict::Fine, "Str508", "", "Regulators/EN/"},
                {"CZ", TVerdict::Problem, "Str509", "Str511", "EN"}};
    for (const auto& row : rows) {
        const TFinding f = CheckModelFile(dir.Path(), row.language, model, messages);
        EXPECT_EQ(f.verdict, row.verdict) << row.language;
        EXPECT_EQ(f.seenKey, row.seenKey);
        EXPECT_EQ(f.todoKey, row.todoKey);
        EXPECT_TRUE((f.seen + f.todo).contains(row.said)) << f.seen.toStdString();
    }
    EXPECT_EQ(CheckModelFile(dir.Path(), "CZ", "KVX-99", messages).todoKey, "Str510");
}

// On the real machine: a pseudo-terminal whose mode denies the test's unprivileged user, and the
// same held open by another process of the test, which is found by its name. Nothing is changed
// by looking.
TEST(CheckRealMachine, ADeniedPortAndAHeldOne)
{
    const TsmlMsgLangRes messages;
    linktest::PtyPair pty;
    ASSERT_EQ(::chmod(QFile::encodeName(pty.Path()).constData(), 0), 0);
    const TCheckedLink link{false, pty.Path(), {}, false};
    const auto find = [](const QList<TFinding>& findings, const char* id) {
        for (const TFinding& f : findings)
            if (f.id == QLatin1String(id))
                return f;
        return TFinding{};
    };
    TFinding denied;
    {
        TOrdinaryUser user; // the superuser may open anything: the test becomes nobody
        ASSERT_TRUE(user.Ok());
        denied = find(CheckMachine(TMachine(), link, messages), "permission");
    }
    EXPECT_EQ(denied.verdict, TVerdict::Problem);
    EXPECT_EQ(denied.seenKey, "Str440") << denied.seen.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(pty.Path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u) << "the check changed the device";
    ASSERT_EQ(::chmod(QFile::encodeName(pty.Path()).constData(), 0600), 0);

    // The holder is no far end of the line: it does not inherit the test's master.
    ASSERT_EQ(::fcntl(pty.Master(), F_SETFD, FD_CLOEXEC), 0);
    TChildProcess holder;
    ASSERT_TRUE(holder.Launch("/bin/sh", {"-c", "exec sleep 60 3<>" + pty.Path()}));
    // Until the shell has become sleep with the port open.
    const QString proc = QStringLiteral("/proc/%1/").arg(holder.processId());
    QElapsedTimer waited;
    waited.start();
    while (!(QFileInfo(proc + "fd/3").symLinkTarget() == pty.Path() &&
             ReadBytes(proc + "comm").trimmed() == "sleep") &&
           waited.elapsed() < kProcessLimitMs)
        QThread::msleep(5);
    const QList<TFinding> held = CheckMachine(TMachine(), link, messages);
    const TFinding f = find(held, "holder");
    EXPECT_EQ(f.verdict, TVerdict::Problem) << f.seen.toStdString();
    EXPECT_TRUE(f.seen.contains(QStringLiteral("sleep (proces %1)").arg(holder.processId())))
        << f.seen.toStdString();
}

} // namespace
