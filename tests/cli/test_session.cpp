// korvalinex-cli's commands against the simulated regulator, in process on virtual time, over the
// COM link and over the real USB link with a simulated FTDI adapter: what they print, the exit
// status of each kind of failure, and the backups made before writes and resets.

#include "tests/cli/clifixture.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/readonly.h"

#include "models/backup.h"
#include "models/paramfile.h"
#include "tools/cli/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace {

using regsim::Message;

// Every case runs over both links.
class Cli : public ::testing::TestWithParam<TCliLink>, public TCliFixture {
public:
    Cli() : TCliFixture(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Links, Cli, ::testing::Values(TCliLink::Serial, TCliLink::Usb),
                         [](const ::testing::TestParamInfo<TCliLink>& info) {
                             return LinkName(info.param);
                         });

const regsim::ParameterBlock kDemoBlock =
    regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo").block;

TEST_P(Cli, ReadPrintsTheDecodedBlock)
{
    ASSERT_EQ(RunCli({"read", "--lang", "EN"}), kExitOk) << Err().toStdString();
    const QString text = Out();
    for (const char* line :
         {"name: KVX-40 OPTO", "version: V.03a", "date: 12.10.26", "log: yes",
          "throttle-min: 1.10 ms", "throttle-max: 2.00 ms", "max-rpm: 15625 (poles 2, ratio 1:1)",
          "Voltage [V]: 11.8", "Current [A]: 21", "[Settings range] Extended", "[Brake] Off",
          "[Cell count] 3S", "[Timing] Automatic", "[Start-up] Very fast", "] Reversed"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();
    EXPECT_TRUE(Backups().isEmpty()); // reading replaces nothing
    EXPECT_EQ(sim.Count(Message::Write), 0);
}

// JSON for scripts: numbers as numbers whatever the locale, ids that do not change with the
// language, and the form's version.
TEST_P(Cli, ReadAsJsonWithPolesAndRatio)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    const int status = RunCli({"read", "--json", "--poles", "14", "--ratio", "4"});
    QLocale::setDefault(before);
    ASSERT_EQ(status, kExitOk) << Err().toStdString();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(Out().toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << Out().toStdString();
    EXPECT_EQ(o["schemaVersion"], 1);
    EXPECT_EQ(o["name"].toString(), "KVX-40 OPTO");
    EXPECT_TRUE(o["keepsLog"].toBool());
    EXPECT_EQ(o["throttleMinUs"].toInt(), 1100);
    EXPECT_EQ(o["throttleMaxUs"].toInt(), 2000);
    EXPECT_DOUBLE_EQ(o["throttleMinMs"].toDouble(), 1.1);
    // 1.2e8 / (3840 * 14 * 4), to one decimal.
    EXPECT_EQ(o["maxRpm"], 558);
    EXPECT_EQ(o["poles"], 14);
    EXPECT_EQ(o["ratio"], 4);
    const QJsonArray groups = o["groups"].toArray();
    ASSERT_EQ(groups.size(), 6);
    const int chosen[] = {1, 0, 2, 0, 3, 1};
    const char* ids[] = {"Mode", "Brake", "Cells", "Timing", "Startup", "Direction"};
    for (int g = 0; g < 6; ++g) {
        EXPECT_EQ(groups[g].toObject()["index"].toInt(), chosen[g]) << g;
        EXPECT_EQ(groups[g].toObject()["id"].toString(), ids[g]) << g;
    }
    const QJsonArray display = o["display"].toArray();
    ASSERT_EQ(display.size(), 3);
    EXPECT_EQ(display[0].toObject(), QJsonObject({{"id", "G000"},
                                                  {"caption", QString::fromUtf8("Napětí [V]:")},
                                                  {"value", 11.8},
                                                  {"text", "11.8"}}));
    // A lookup line: the number the window shows, its unit apart.
    EXPECT_EQ(display[2].toObject()["value"], 20);
    EXPECT_EQ(display[2].toObject()["unit"], QString::fromUtf8("°C"));
    EXPECT_EQ(display[2].toObject()["text"], QString::fromUtf8("20 °C"));
    EXPECT_EQ(o["unassigned"].toString(), "");
}

TEST_P(Cli, ReadSavesAParameterFile)
{
    const QString zeq = dir.File("one.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    EXPECT_EQ(ReadBytes(zeq), QByteArray("11.8\r\n21\r\n20 \xB0"
                                         "C\r\nData\r\n1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n"))
        << ReadBytes(zeq).toStdString();
    // "-" is stdout: the file itself is the result.
    ASSERT_EQ(RunCli({"read", "-o", "-"}), kExitOk);
    EXPECT_EQ(outBytes, ReadBytes(zeq));
    EXPECT_EQ(Out(), "");
}

TEST_P(Cli, IdentifyNeedsNoModelFile)
{
    QFile::remove(dir.File("Regulators/CZ/" + kModel + ".ini"));
    ASSERT_EQ(RunCli({"identify"}), kExitOk);
    EXPECT_EQ(Out(), "name: KVX-40 OPTO\nversion: V.03a\ndate: 12.10.26\nlog: yes");
    EXPECT_EQ(sim.Count(Message::Read), 0);
}

// Each failure has its own exit status and a plain message on stderr.
TEST_P(Cli, ExitStatuses)
{
    EXPECT_EQ(RunCli({"read", "--bogus"}), kExitUsage);
    EXPECT_EQ(RunCli({"write"}), kExitUsage);
    EXPECT_EQ(RunCli({"write", "a.zeq", "--throttle-min", "0.5"}), kExitUsage);

    sim.faults().silent = true;
    const int64_t before = clock.Now();
    EXPECT_EQ(RunCli({"read", "--timeout", "5"}), kExitNoRegulator);
    EXPECT_EQ(clock.Now() - before, 5000);
    EXPECT_GE(sim.Count(Message::WakeUp), 2); // the cycle kept trying meanwhile
    EXPECT_TRUE(Err().contains(
        messages.LookupMessage("str133").arg(GetParam() == TCliLink::Usb ? "USB KX000001" : "SIM")))
        << Err().toStdString();
    sim.faults().silent = false;

    // A data folder of one's own gets its Data folder as at the window's start-up; a model folder
    // that cannot be made is that failure, not a missing model file.
    ASSERT_TRUE(QDir(dir.File("Data")).removeRecursively());
    EXPECT_EQ(RunCli({"read"}), kExitOk) << Err().toStdString();
    ASSERT_TRUE(QDir(dir.File("Data/" + kModel)).removeRecursively());
    WriteBytes(dir.File("Data/" + kModel), "a file where the folder belongs");
    EXPECT_EQ(RunCli({"read"}), kExitFailure);
    EXPECT_TRUE(Err().contains("Data/" + kModel)) << Err().toStdString();
    EXPECT_FALSE(Err().contains(messages.LookupMessage("str135").arg(""))) << Err().toStdString();
    QFile::remove(dir.File("Data/" + kModel));

    // A data folder the user cannot write: identify needs nothing of it; read says why it fails.
    ASSERT_TRUE(QDir(dir.File("Data")).removeRecursively());
    {
        TReadOnlyFolder readOnly(dir.Path());
        EXPECT_EQ(RunCli({"identify"}), kExitOk);
        EXPECT_EQ(Err(), "");
        EXPECT_EQ(RunCli({"read"}), kExitFailure);
        EXPECT_TRUE(Err().startsWith(
            messages.LookupMessage("str241").arg(dir.File("Data"), std::strerror(EACCES))))
            << Err().toStdString();
    }

    QFile::remove(dir.File("Regulators/CZ/" + kModel + ".ini"));
    EXPECT_EQ(RunCli({"read"}), kExitModelMissing);
    EXPECT_TRUE(Err().contains("Regulators/CZ/KVX-40 OPTO.ini")) << Err().toStdString();
    // Its texts were made for a box, with carriage returns; JSON gets line feeds.
    const QString json = ErrorJson(kExitModelMissing, session->Errors());
    EXPECT_FALSE(json.contains("\\r")) << json.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(json.toUtf8())["error"]["message"].toString().contains(
        messages.LookupMessage("str30")));
}

// The link itself failing: missing, not to be opened, or gone once the regulator has answered.
// Each row breaks the link its own way on each side; all are link errors, never "no regulator".
TEST_P(Cli, LinkFailures)
{
    using Arrange = std::function<void(Cli&)>;
    struct Row {
        const char* name;
        Arrange serial, usb;
        std::function<QString(Cli&)> says; // on stderr
        int reads = 0;                     // read requests that reached the regulator
        QStringList options = {};          // beside "read --timeout 3"
    };
    const auto says = [](const char* key) {
        return [key](Cli& f) { return f.messages.LookupMessage(key).left(20); };
    };
    FT_HANDLE held = nullptr; // another program's hold on the adapter
    const Row rows[] = {
        {"missing", [](Cli& f) { f.link.failOpen = true; }, [](Cli& f) { f.adapters.Unplug(0); },
         [](Cli& f) {
             return f.GetParam() == TCliLink::Usb ? f.messages.LookupMessage("str141")
                                                  : f.messages.LookupMessage("str235").arg(
                                                        "SIM", f.messages.LookupMessage("Str515"));
         }},
        {"not allowed", nullptr, [](Cli& f) { f.adapters.SetPermissionDenied(0, true); },
         says("str116")},
        {"in use by another program", nullptr, [&held](Cli& f) { f.adapters.Open(0, &held); },
         says("str184")},
        {"gone after the wake-up",
         [](Cli& f) {
             f.sim.SetObserver([&f](const regsim::Event& e) {
                 if (e.message == Message::WakeUp)
                     f.link.failSend = true;
             });
         },
         [](Cli& f) {
             // Pulled out while the identification is on its way back.
             f.sim.SetObserver([&f](const regsim::Event& e) {
                 if (e.message == Message::WakeUp)
                     f.runner.beforeNextRead = [&f] { f.adapters.Unplug(0); };
             });
         },
         [](Cli& f) { return f.messages.LookupMessage("str134").arg(""); }},
        // Over a serial line this is only silence; the adapter's absence tells.
        {"gone while the read is answered", nullptr,
         [](Cli& f) {
             f.sim.SetObserver([&f](const regsim::Event& e) {
                 if (e.message == Message::Read)
                     f.runner.beforeNextRead = [&f] { f.adapters.Unplug(0); };
             });
         },
         [](Cli& f) { return f.messages.LookupMessage("str134").arg(""); }, 1},
        {"no adapter with that serial number",
         nullptr,
         [](Cli&) {},
         [](Cli& f) { return f.messages.LookupMessage("str193").arg("KX999999"); },
         0,
         {"--usb", "KX999999"}},
    };
    // identify fails the same way wherever it gets as far as read does.
    for (const char* command : {"read", "identify"})
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(command) + ": " + row.name);
            const Arrange& arrange = GetParam() == TCliLink::Usb ? row.usb : row.serial;
            if (!arrange || (row.reads > 0 && QString(command) == "identify"))
                continue;
            arrange(*this);
            const int reads = sim.Count(Message::Read);
            EXPECT_EQ(RunCli(QStringList{command, "--timeout", "3"} + row.options), kExitLinkError)
                << Err().toStdString();
            EXPECT_TRUE(Err().contains(row.says(*this))) << Err().toStdString();
            // In the user's words, naming the device; the component's own words only with -v.
            EXPECT_FALSE(Err().contains("in function")) << Err().toStdString();
            if (QString(command) == "read") {
                EXPECT_EQ(sim.Count(Message::Read) - reads, row.reads);
            }
            sim.SetObserver({});
            link.failOpen = link.failSend = false;
            adapters.SetPermissionDenied(0, false);
            if (held)
                adapters.Close(std::exchange(held, nullptr));
            if (!adapters.Plugged(0))
                adapters.Plug(0);
        }
    // Healed, the same command line reads.
    EXPECT_EQ(RunCli({"read"}), kExitOk) << Err().toStdString();
}

// What a run ends with comes from what the regulator and the line did, never from how a message
// reads: a language file whose every message reads alike, and a regulator named like the
// placeholder, give each command line the exit status and JSON it has with the shipped texts.
TEST_P(Cli, OutcomesDoNotHangOnHowTheTextsRead)
{
    using Arrange = std::function<void(TCliFixture&)>;
    struct Row {
        const char* name;
        QStringList args;
        Arrange arrange = {};
    };
    const Row rows[] = {
        {"identify", {"identify", "--json"}},
        {"read", {"read", "--json"}},
        {"default", {"default", "--json"}},
        {"write", {"write", "same.zeq", "--throttle-max", "2.10", "--json"}},
        {"log", {"log", "-o", "log.txt"}},
        {"no model file",
         {"read"},
         [](TCliFixture& f) {
             QFile::remove(
                 f.dir.File("Regulators/CZ/" + QString::fromStdString(f.sim.Data().name) + ".ini"));
         }},
        {"silent regulator",
         {"read", "--timeout", "3"},
         [](TCliFixture& f) { f.sim.faults().silent = true; }},
        {"regulator lost", {"read"}, [](TCliFixture& f) { f.sim.faults().mute = {Message::Read}; }},
        {"line gone after the wake-up",
         {"read", "--timeout", "3"},
         [](TCliFixture& f) {
             f.sim.SetObserver([&f](const regsim::Event& e) {
                 if (e.message != Message::WakeUp)
                     return;
                 if (f.linkKind == TCliLink::Usb)
                     f.runner.beforeNextRead = [&f] { f.adapters.Unplug(0); };
                 else
                     f.link.failSend = true;
             });
         }},
        {"damaged log",
         {"log", "-o", "log.txt"},
         [](TCliFixture& f) {
             f.sim.SetObserver([&f](const regsim::Event& e) {
                 f.sim.faults().badCheckAlways =
                     e.message == Message::LogNext || e.message == Message::LogRepeat;
             });
         }},
    };
    QStringList alike = {"[MainForm]"};
    for (const QString& line : TsmlMsgLangRes::BuiltInMessages())
        alike << line.left(line.indexOf('=')) + "=The same text %1 %2 %3 %4";

    for (const QString& name : {kModel, QString("- - - - - - - -")}) {
        regsim::RegulatorData data =
            regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
        data.name = name.toStdString();
        // One run of every row with the shipped texts, one with texts that all read alike.
        std::vector<std::pair<int, QString>> outcomes[2];
        for (int alikeTexts = 0; alikeTexts < 2; ++alikeTexts) {
            TCliFixture f(GetParam(), data);
            const auto writeModel = [&] {
                f.dir.Write("Regulators/CZ/" + name + ".ini",
                            SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
            };
            writeModel();
            QDir().mkpath(f.dir.File("Data/" + name));
            f.dir.Write("Languages/CZ.ini", alike.join("\r\n").toLatin1());
            const TCliMessages texts({f.dir.Path()}, "CZ");
            if (alikeTexts)
                f.language = &texts.Messages();
            ASSERT_EQ(f.RunCli({"read", "-o", f.dir.File("same.zeq")}), kExitOk);
            for (const Row& row : rows) {
                if (row.arrange)
                    row.arrange(f);
                QStringList args = row.args;
                for (QString& arg : args)
                    if (arg.endsWith(".zeq") || arg.endsWith(".txt"))
                        arg = f.dir.File(arg);
                const int status = f.RunCli(args);
                outcomes[alikeTexts].emplace_back(status, status == kExitOk ? f.Out() : QString());
                f.sim.SetObserver({});
                f.sim.faults() = regsim::Faults{};
                f.link.failSend = false;
                if (!f.adapters.Plugged(0))
                    f.adapters.Plug(0);
                writeModel();
            }
        }
        for (size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(name.toStdString() + ": " + rows[i].name);
            EXPECT_EQ(outcomes[1][i].first, outcomes[0][i].first);
            EXPECT_EQ(outcomes[1][i].second, outcomes[0][i].second);
        }
        // The shipped texts' outcomes are the ones these command lines have always had.
        const int expected[] = {
            kExitOk,           kExitOk,          kExitOk,          kExitOk,        kExitOk,
            kExitModelMissing, kExitNoRegulator, kExitNoRegulator, kExitLinkError, kExitLinkError};
        for (size_t i = 0; i < std::size(rows); ++i)
            EXPECT_EQ(outcomes[0][i].first, expected[i]) << rows[i].name;
    }
}

TEST_P(Cli, RegulatorLostDuringATransaction)
{
    sim.faults().mute = {Message::Write};
    EXPECT_EQ(RunCli({"default"}), kExitOk);
    sim.faults().mute = {Message::Read};
    // The first read after the identification goes unanswered: the watchdog gives up.
    EXPECT_EQ(RunCli({"read"}), kExitNoRegulator);
}

TEST_P(Cli, DefaultBacksUpFirstThenReads)
{
    ASSERT_EQ(RunCli({"default", "--lang", "EN"}), kExitOk) << Err().toStdString();
    EXPECT_EQ(sim.Count(Message::Default), 1);
    EXPECT_EQ(sim.Block(), sim.Data().factory);
    EXPECT_TRUE(Out().contains("throttle-max: 1.90 ms")) << Out().toStdString();
    ASSERT_EQ(Backups(), QStringList{"2025-03-14_09-26-53.txt"});
    ASSERT_EQ(Backups("zeq"), QStringList{"2025-03-14_09-26-53.zeq"});
    QString error;
    const auto record = LoadBackupRecord(BackupDir() + "/" + Backups()[0], &error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_EQ(record->kind, TOverwriteContext::Kind::FactoryReset);
    EXPECT_EQ(record->identity.name, kModel);
    EXPECT_EQ(record->languageCode, "EN");
    EXPECT_EQ(record->writePayload.toHex(' '), "07 d0 04 4c 02 01 03 01 04 02");
    EXPECT_TRUE(Err().contains(Backups()[0])) << Err().toStdString();
}

// A backup written back restores the regulator's block byte for byte, and the restore itself is
// backed up first.
TEST_P(Cli, RestoreWritesTheBackupBack)
{
    ASSERT_EQ(RunCli({"default"}), kExitOk);
    ASSERT_NE(sim.Block(), kDemoBlock);
    const QString backup = BackupDir() + "/" + Backups()[0];
    now = now.addSecs(60);

    ASSERT_EQ(RunCli({"restore", backup}), kExitOk) << Err().toStdString();
    EXPECT_EQ(sim.Block(), kDemoBlock);
    ASSERT_FALSE(sim.Writes().empty());
    const regsim::Bytes& sent = sim.Writes().back().payload;
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(sent.data()), int(sent.size())).toHex(' '),
              "07 d0 04 4c 02 01 03 01 04 02");
    EXPECT_EQ(Backups().size(), 2);

    // Restoring onto another model is refused before anything is sent.
    const int writes = sim.Count(Message::Write);
    QString text = QString::fromLatin1(ReadBytes(backup));
    WriteBytes(dir.File("other.txt"), text.replace("KVX-40 OPTO", "KVX-60").toLatin1());
    EXPECT_EQ(RunCli({"restore", dir.File("other.txt")}), kExitFailure);
    // A damaged backup is refused too: its write payload no longer follows from the read.
    text = QString::fromLatin1(ReadBytes(backup));
    WriteBytes(dir.File("damaged.txt"), text.replace("READ=07 D0", "READ=07 D1").toLatin1());
    EXPECT_EQ(RunCli({"restore", dir.File("damaged.txt")}), kExitFailure);
    EXPECT_TRUE(Err().contains("WRITE")) << Err().toStdString();
    EXPECT_EQ(sim.Count(Message::Write), writes);
}

TEST_P(Cli, WriteWhoseReadBackDiffersFailsTheCheck)
{
    sim.faults().ignoreWrites = true;
    EXPECT_EQ(RunCli({"restore", "x"}), kExitFailure); // no such backup
    ASSERT_EQ(RunCli({"default"}), kExitOk);
    sim.faults().ignoreWrites = true;
    const regsim::ParameterBlock before = sim.Block();
    const QString zeq = dir.File("factory.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    // A file that cannot be used: one line naming it and saying why, no carriage returns, and the
    // adapter is not opened for it. Forced past the fit check, which would refuse the bad line.
    WriteBytes(dir.File("bad.zeq"), "11.8\r\n21\r\n20\r\nData\r\nx\r\n");
    const struct {
        QString file, reason;
    } bad[] = {
        {dir.File("none.zeq"), "No such file or directory"},
        {dir.File("bad.zeq"), messages.LookupMessage("str112").arg("x").arg(5)},
    };
    for (const auto& row : bad) {
        EXPECT_EQ(RunCli({"write", row.file, "--force"}), kExitFailure);
        EXPECT_EQ(err, QStringList{messages.LookupMessage("str236").arg(row.file, row.reason)});
    }
    EXPECT_EQ(RunCli({"write", zeq, "--throttle-max", "2.10"}), kExitCheckFailed);
    EXPECT_EQ(sim.Block(), before);
    EXPECT_EQ(sim.Count(Message::Write), 1);
    EXPECT_TRUE(Err().contains("08 34 03 E8")) << Err().toStdString();

    sim.faults().ignoreWrites = false;
    EXPECT_EQ(RunCli({"write", zeq, "--throttle-max", "2.10"}), kExitOk) << Err().toStdString();
    EXPECT_EQ(sim.Block().throttleMax, 2100);

    // The file decides the options, as when the window loads it: the demo's own set goes back.
    WriteBytes(zeq,
               "- - - - -\r\n- - - - -\r\n- - - - -\r\nData\r\n1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n");
    EXPECT_EQ(RunCli({"write", zeq}), kExitOk) << Err().toStdString();
    EXPECT_EQ(sim.Block().options, kDemoBlock.options);
}

TEST_P(Cli, UnwritableBackupStopsTheWriteAndTheReset)
{
    const QString zeq = dir.File("demo.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    WriteBytes(BackupDir(), "a file where the folder belongs");
    EXPECT_EQ(RunCli({"write", zeq, "--throttle-max", "2.10"}), kExitBackupFailed);
    EXPECT_EQ(RunCli({"default"}), kExitBackupFailed);
    EXPECT_TRUE(Err().contains(messages.LookupMessage("str130").left(20))) << Err().toStdString();
    EXPECT_EQ(sim.Count(Message::Write), 0);
    EXPECT_EQ(sim.Count(Message::Default), 0);
    EXPECT_EQ(sim.Block(), kDemoBlock);
}

// --timeout bounds the whole run. A write or reset that went out but was not confirmed is in
// doubt: said so, with the backup to restore from, under a status of its own.
TEST_P(Cli, TimeoutBoundsTheRunAndAnUnconfirmedWriteIsInDoubt)
{
    const QString zeq = dir.File("demo.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    struct Row {
        const char* name;
        Message from; // the regulator falls silent to these once it has seen this
        std::set<Message> mute;
        QStringList args;
        int status;
    };
    const Row rows[] = {
        {"write unanswered",
         Message::WakeUp,
         {Message::Write},
         {"write", zeq, "--throttle-max", "2.10"},
         kExitInDoubt},
        {"restore unanswered",
         Message::WakeUp,
         {Message::Write},
         {"restore", "BACKUP"},
         kExitInDoubt},
        {"read after the reset unanswered",
         Message::Default,
         {Message::Read},
         {"default"},
         kExitInDoubt},
        {"read unanswered", Message::WakeUp, {Message::Read}, {"read"}, kExitNoRegulator},
        {"silent", Message::WakeUp, {Message::WakeUp}, {"identify"}, kExitNoRegulator},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QStringList args = row.args;
        if (args.contains("BACKUP"))
            args.replace(args.indexOf("BACKUP"), BackupDir() + "/" + Backups().constFirst());
        sim.faults().mute = row.from == Message::WakeUp ? row.mute : std::set<Message>{};
        sim.SetObserver([&](const regsim::Event& e) {
            if (e.message == row.from)
                sim.faults().mute = row.mute;
        });
        const int64_t before = clock.Now();
        const int writes = sim.Count(Message::Write) + sim.Count(Message::Default);
        EXPECT_EQ(RunCli(args + QStringList{"--timeout", "3"}), row.status) << Err().toStdString();
        EXPECT_LE(clock.Now() - before, 3000);
        if (row.status == kExitInDoubt) {
            EXPECT_EQ(sim.Count(Message::Write) + sim.Count(Message::Default), writes + 1);
            EXPECT_TRUE(Err().contains(
                messages.LookupMessage("str231").arg(BackupDir() + "/" + Backups().constLast())))
                << Err().toStdString();
        }
        sim.SetObserver({});
        sim.faults().mute.clear();
        now = now.addSecs(1);
    }
}

// Ctrl-C: before anything is sent the run just ends; once a write is out it is in doubt.
TEST_P(Cli, InterruptSaysWhetherAWriteMayHaveHappened)
{
    const QString zeq = dir.File("demo.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    const struct {
        Message at;
        int status;
        int writes;
    } rows[] = {{Message::WakeUp, kExitInterrupted, 0},
                {Message::Read, kExitInterrupted, 0},
                {Message::Write, kExitInDoubt, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.at));
        IClock::Token interrupt;
        sim.SetObserver([&](const regsim::Event& e) {
            if (e.message == row.at && !interrupt)
                interrupt = clock.After(0, [this] { session->Interrupt(); });
        });
        const int writes = sim.Count(Message::Write);
        EXPECT_EQ(RunCli({"write", zeq}), row.status) << Err().toStdString();
        sim.SetObserver({});
        EXPECT_EQ(sim.Count(Message::Write) - writes, row.writes);
        EXPECT_TRUE(
            Err().contains(messages.LookupMessage(row.writes ? "str231" : "str232").left(20)))
            << Err().toStdString();
    }
}

TEST_P(Cli, LogWithProgressAndDamagedRecords)
{
    const QString log = dir.File("log.txt");
    const QByteArray whole = "\r\n5 1 2 \r\n12 34 127 0 16 8 \r\n1 250 251 252 254 85 \r\n";
    ASSERT_EQ(RunCli({"log", "-o", log}), kExitOk) << Err().toStdString();
    EXPECT_EQ(ReadBytes(log), whole);
    EXPECT_TRUE(Err().contains(messages.LookupMessage("str113").arg(2))) << Err().toStdString();
    EXPECT_TRUE(Err().trimmed().endsWith(log)) << "the last line names the file";
    EXPECT_FALSE(QFileInfo::exists(dir.File("EEPROM.txt")));
    ASSERT_EQ(RunCli({"log", "-o", "-", "-q"}), kExitOk);
    EXPECT_EQ(outBytes, whole);
    EXPECT_EQ(Err(), ""); // -q: no progress
    ASSERT_EQ(RunCli({"log", "-o", "-"}), kExitOk);
    EXPECT_TRUE(Err().trimmed().endsWith(" -")) << "names stdout, not the file it passed through";

    // Damaged records are asked for again and stored once.
    sim.faults().badCheckFrames = 3;
    ASSERT_EQ(RunCli({"log", "-o", log}), kExitOk) << Err().toStdString();
    EXPECT_EQ(ReadBytes(log), whole);

    // Four in one download end it; what came before stays in the file.
    sim.faults().badCheckFrames = 0;
    sim.faults().badCheckAlways = true;
    int status = -1;
    // The identification and the read are frames too: let them through, then damage the log.
    sim.SetObserver([&](const regsim::Event& e) {
        sim.faults().badCheckAlways =
            e.message == Message::LogNext || e.message == Message::LogRepeat;
    });
    status = RunCli({"log", "-o", log});
    sim.SetObserver({});
    EXPECT_EQ(status, kExitLinkError);
    EXPECT_TRUE(Err().contains(QString::fromUtf8("Špatná komunikace s EEPROM.")))
        << Err().toStdString();
    EXPECT_EQ(ReadBytes(log), "\r\n5 1 2 \r\n");
    EXPECT_EQ(RunCli({"log"}), kExitUsage);

    // A disk that takes the first record only: a file error, the regulator not blamed.
    sim.faults().badCheckAlways = false;
    QFile::remove(log);
    {
        TFileSizeLimit full(12);
        status = RunCli({"log", "-o", log});
    }
    EXPECT_EQ(status, kExitFailure) << Err().toStdString();
    EXPECT_FALSE(Err().contains(messages.LookupMessage("str133").left(20))) << Err().toStdString();
    EXPECT_EQ(ReadBytes(log), "\r\n5 1 2 \r\n");
}

// A regulator that keeps no log is not asked for one: the tool says so instead.
TEST(CliLog, ARegulatorThatKeepsNoLogIsToldSo)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.flags = 0x00;
    TCliFixture f(TCliLink::Serial, data);
    EXPECT_EQ(f.RunCli({"log", "-o", "-"}), kExitFailure);
    EXPECT_EQ(f.Err(), f.messages.LookupMessage("Str527").arg(TCliFixture::kModel));
    EXPECT_TRUE(f.outBytes.isEmpty());
    EXPECT_EQ(f.sim.Count(Message::LogStart), 0);
}

} // namespace

namespace {

// write --each: five regulators come and go on one link, the third keeps its old settings; each
// gets its line, its backup and its record row, none is served twice while it stays, and Ctrl-C
// ends the line with the count.
TEST_P(Cli, EachServesRegulatorsInTurnUntilInterrupted)
{
    const QString zeq = dir.File("master.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    QStringList lines = DecodeParameterFile(ReadBytes(zeq));
    lines[4 + 1] = "3"; // a hard brake
    WriteBytes(zeq, EncodeParameterFile(lines));
    const QString record = dir.File("line.csv");
    auto waiting = [this] { return int(err.count(messages.Msg("str338"))); };

    sim.faults().silent = true; // nothing on the line yet
    ASSERT_TRUE(StartCli({"write", zeq, "--each", "--record", record}));
    const int results[] = {kExitOk, kExitOk, kExitCheckFailed, kExitOk, kExitOk};
    for (int n = 0; n < 5; ++n) {
        SCOPED_TRACE(n + 1);
        clock.Advance(20'000);
        EXPECT_EQ(out.size(), n) << "no result without a regulator";
        now = now.addSecs(60);
        // Another one comes, as the demo regulator left the factory.
        sim = regsim::Regulator(regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"));
        sim.faults().ignoreWrites = results[n] == kExitCheckFailed;
        ASSERT_TRUE(clock.AdvanceUntil([&] { return out.size() > n; }, kPatienceMs));
        EXPECT_TRUE(
            out[n].startsWith(QStringLiteral("%1. KVX-40 OPTO V.03a: %2;")
                                  .arg(n + 1)
                                  .arg(results[n] == kExitOk ? QStringLiteral("ok")
                                                             : QStringLiteral("checkFailed (6)"))))
            << out[n].toStdString();
        clock.Advance(30'000);
        EXPECT_EQ(out.size(), n + 1) << "served once while it stays";
        EXPECT_EQ(sim.Count(Message::Write), 1);
        EXPECT_EQ(waiting(), n + 1);
        sim.faults().silent = true; // it goes
        ASSERT_TRUE(clock.AdvanceUntil([&] { return waiting() == n + 2; }, kPatienceMs));
    }
    session->Interrupt();
    EXPECT_TRUE(session->Finished());
    EXPECT_EQ(session->Status(), kExitSomeFailed);
    EXPECT_EQ(out.last(), messages.Msg("str337").arg(4).arg(1).arg(0));
    EndCli();
    EXPECT_EQ(Backups().size(), 5);
    const QStringList rows = QString::fromUtf8(ReadBytes(record)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 6) << rows.join('\n').toStdString();
    EXPECT_TRUE(rows[0].startsWith("time,link,name"));
    EXPECT_TRUE(rows[3].contains(",checkFailed,6,")) << rows[3].toStdString();
    EXPECT_TRUE(rows[5].endsWith(BackupDir() + "/" + Backups().last())) << rows[5].toStdString();
}

} // namespace
