// korvalinex-cli's commands against the simulated regulator, in process on virtual time: what they
// print, the exit status of each kind of failure, and the backups made before writes and resets.

#include "tests/cli/clifixture.h"

#include "models/backup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using regsim::Message;

class Cli : public ::testing::Test, public TCliFixture {};

const regsim::ParameterBlock kDemoBlock =
    regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo").block;

TEST_F(Cli, ReadPrintsTheDecodedBlock)
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

TEST_F(Cli, ReadAsJsonWithPolesAndRatio)
{
    ASSERT_EQ(RunCli({"read", "--json", "--poles", "14", "--ratio", "4"}), kExitOk);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(Out().toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << Out().toStdString();
    EXPECT_EQ(o["name"].toString(), "KVX-40 OPTO");
    EXPECT_TRUE(o["keepsLog"].toBool());
    EXPECT_EQ(o["throttleMinUs"].toInt(), 1100);
    EXPECT_EQ(o["throttleMaxUs"].toInt(), 2000);
    EXPECT_DOUBLE_EQ(o["throttleMinMs"].toDouble(), 1.1);
    // 1.2e8 / (3840 * 14 * 4), to one decimal.
    EXPECT_EQ(o["maxRpm"].toString(), "558");
    const QJsonArray groups = o["groups"].toArray();
    ASSERT_EQ(groups.size(), 6);
    const int chosen[] = {1, 0, 2, 0, 3, 1};
    for (int g = 0; g < 6; ++g)
        EXPECT_EQ(groups[g].toObject()["index"].toInt(), chosen[g]) << g;
    EXPECT_EQ(o["display"].toArray().size(), 3);
    EXPECT_EQ(o["unassigned"].toString(), "");
}

TEST_F(Cli, ReadSavesAParameterFile)
{
    const QString zeq = dir.File("one.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    EXPECT_EQ(ReadBytes(zeq), QByteArray("11.8\r\n21\r\n20 \xB0"
                                         "C\r\nData\r\n1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n"))
        << ReadBytes(zeq).toStdString();
}

TEST_F(Cli, IdentifyNeedsNoModelFile)
{
    QFile::remove(dir.File("Regulators/CZ/" + kModel + ".ini"));
    ASSERT_EQ(RunCli({"identify"}), kExitOk);
    EXPECT_EQ(Out(), "name: KVX-40 OPTO\nversion: V.03a\ndate: 12.10.26\nlog: yes");
    EXPECT_EQ(sim.Count(Message::Read), 0);
}

// Each failure has its own exit status and a plain message on stderr.
TEST_F(Cli, ExitStatuses)
{
    EXPECT_EQ(RunCli({"read", "--bogus"}), kExitUsage);
    EXPECT_EQ(RunCli({"write"}), kExitUsage);
    EXPECT_EQ(RunCli({"write", "a.zeq", "--throttle-min", "0.5"}), kExitUsage);

    link.failOpen = true;
    EXPECT_EQ(RunCli({"read"}), kExitLinkError);
    EXPECT_TRUE(Err().contains("CreateFile")) << Err().toStdString();
    link.failOpen = false;

    link.failSend = true;
    EXPECT_EQ(RunCli({"read"}), kExitLinkError);
    link.failSend = false;

    sim.faults().silent = true;
    const int64_t before = clock.Now();
    EXPECT_EQ(RunCli({"read", "--timeout", "5"}), kExitNoRegulator);
    EXPECT_EQ(clock.Now() - before, 5000);
    EXPECT_GE(sim.Count(Message::WakeUp), 2); // the cycle kept trying meanwhile
    sim.faults().silent = false;

    QFile::remove(dir.File("Regulators/CZ/" + kModel + ".ini"));
    EXPECT_EQ(RunCli({"read"}), kExitModelMissing);
    EXPECT_TRUE(Err().contains("Regulators/CZ/KVX-40 OPTO.ini")) << Err().toStdString();
}

TEST_F(Cli, RegulatorLostDuringATransaction)
{
    sim.faults().mute = {Message::Write};
    EXPECT_EQ(RunCli({"default"}), kExitOk);
    sim.faults().mute = {Message::Read};
    // The first read after the identification goes unanswered: the watchdog gives up.
    EXPECT_EQ(RunCli({"read"}), kExitNoRegulator);
}

TEST_F(Cli, DefaultBacksUpFirstThenReads)
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
TEST_F(Cli, RestoreWritesTheBackupBack)
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

TEST_F(Cli, WriteWhoseReadBackDiffersFailsTheCheck)
{
    sim.faults().ignoreWrites = true;
    EXPECT_EQ(RunCli({"restore", "x"}), kExitFailure); // no such backup
    ASSERT_EQ(RunCli({"default"}), kExitOk);
    sim.faults().ignoreWrites = true;
    const regsim::ParameterBlock before = sim.Block();
    const QString zeq = dir.File("factory.zeq");
    ASSERT_EQ(RunCli({"read", "-o", zeq}), kExitOk);
    EXPECT_EQ(RunCli({"write", dir.File("none.zeq")}), kExitFailure);
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

TEST_F(Cli, UnwritableBackupStopsTheWriteAndTheReset)
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

TEST_F(Cli, LogWithProgressAndDamagedRecords)
{
    const QString log = dir.File("log.txt");
    const QByteArray whole = "\r\n5 1 2 \r\n12 34 127 0 16 8 \r\n1 250 251 252 254 85 \r\n";
    ASSERT_EQ(RunCli({"log", "-o", log}), kExitOk) << Err().toStdString();
    EXPECT_EQ(ReadBytes(log), whole);
    EXPECT_TRUE(Err().contains(messages.LookupMessage("str113").arg(2))) << Err().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.File("EEPROM.txt")));

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
}

} // namespace
