// The window saves the block as last read before every write and factory reset, and a backup that
// cannot be written stops the transaction with its reason.

#include "tests/support/cyclefixture.h"

#include "common/filewriter.h"
#include "models/backup.h"
#include "shell/porovnani.h"
#include "tests/support/diskgate.h"
#include "tests/support/modal.h"

#include <QDir>
#include <QTreeWidget>

namespace {

struct Backups : ::testing::Test, TCycleFixture {
    QDateTime now{QDate(2025, 3, 14), QTime(9, 26, 53)};

    TMainForm& ConnectAt()
    {
        TMainFormEnv env = Env();
        env.com = &port;
        env.now = [this] { return now; };
        if (writer)
            env.files = writer;
        TMainForm& f = StartWith(env);
        return f;
    }
    QString Folder() const { return dir.File("Data/KVX-40 OPTO/Backup"); }
    QStringList Files() const { return QDir(Folder()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(Backups, OneBeforeEachWriteAndReset)
{
    TMainForm& f = ConnectAt();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(Files().isEmpty());

    // The user's change after the read is not the regulator's setting: the backup holds the read.
    Panel().SetItemIndex(1, 3);
    f.Button2->click();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(sim.Block().options[1], 4);
    EXPECT_EQ(Files(), QStringList({"2025-03-14_09-26-53.txt", "2025-03-14_09-26-53.zeq"}));
    QString error;
    auto record = LoadBackupRecord(Folder() + "/2025-03-14_09-26-53.txt", &error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_EQ(record->writePayload.toHex(' '), "07 d0 04 4c 02 01 03 01 04 02");
    EXPECT_EQ(record->kind, TOverwriteContext::Kind::Write);
    EXPECT_EQ(record->link, "SIM"); // the configured port
    EXPECT_TRUE(ReadBytes(Folder() + "/2025-03-14_09-26-53.zeq")
                    .endsWith("Data\r\n1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n"));

    f.Button3->click();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(sim.Block(), sim.Data().factory);
    // Within the same second: a counter keeps both.
    EXPECT_EQ(Files().size(), 4);
    record = LoadBackupRecord(Folder() + "/2025-03-14_09-26-53_002.txt", &error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_EQ(record->kind, TOverwriteContext::Kind::FactoryReset);
    EXPECT_EQ(record->writePayload.toHex(' '), "07 d0 04 4c 02 04 03 01 04 02");
    ASSERT_EQ(boxes.boxes.size(), 1) << "the factory settings are asked for";
    EXPECT_EQ(boxes.boxes[0].preset, TDefaultAnswer::No);
}

// Settings made, then the factory's put in their place: the backup taken before the reset brings
// every one back, throttle limits included. Its comparison shows the limits, and can take one.
TEST_F(Backups, ABackupIsRestoredWhole)
{
    TMainForm& f = ConnectAt();
    ASSERT_TRUE(RunUntilIdle());
    Panel().SetItemIndex(1, 3);
    f.LKorekceA->SetValue(1.2);
    f.LKorekceB->SetValue(2.1);
    f.Button2->click();
    ASSERT_TRUE(RunUntilIdle());
    const regsim::ParameterBlock mine = sim.Block();
    const QString minText = f.LKorekceA->text(), maxText = f.LKorekceB->text();
    f.Button3->click();
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(sim.Block(), sim.Data().factory);
    ASSERT_NE(f.LKorekceA->text(), minText);

    WhenShown<TZalohy>([&](TZalohy& w) {
        WhenShown<TPorovnani>([&](TPorovnani& c) {
            ASSERT_EQ(c.LV->topLevelItemCount(), 11);
            QTreeWidgetItem* min = c.LV->topLevelItem(9);
            EXPECT_EQ(min->text(0), "Plyn min. [ms]");
            EXPECT_EQ(min->text(2), minText);
            EXPECT_EQ(c.LV->topLevelItem(10)->text(2), maxText);
            min->setCheckState(0, Qt::Checked);
            c.Button3->click();
        });
        w.Button1->click();
    });
    f.Zalohy->trigger();
    EXPECT_EQ(f.LKorekceA->text(), minText) << "taken alone";
    EXPECT_NE(f.LKorekceB->text(), maxText);
    EXPECT_NE(Panel().ItemIndex(1), 3);

    WhenShown<TZalohy>([](TZalohy& w) { w.Button2->click(); });
    f.Zalohy->trigger();
    EXPECT_EQ(f.LKorekceB->text(), maxText);
    f.Button2->click();
    ASSERT_TRUE(RunUntilIdle());
    f.Button1->click();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(sim.Block(), mine);
    EXPECT_EQ(f.LKorekceA->text(), minText);
    EXPECT_EQ(f.LKorekceB->text(), maxText);
    EXPECT_EQ(Panel().Model().UnwrittenCount(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1) << "the factory settings' question only";
    EXPECT_EQ(boxes.boxes[0].preset, TDefaultAnswer::No);
}

TEST_F(Backups, UnwritableFolderStopsTheWriteAndSaysWhy)
{
    TMainForm& f = ConnectAt();
    ASSERT_TRUE(RunUntilIdle());
    WriteBytes(Folder(), "not a folder");
    Panel().SetItemIndex(1, 3);
    f.Button2->click();
    f.Button3->click();
    clock.Advance(5000);
    EXPECT_EQ(sim.Count(regsim::Message::Write), 0);
    EXPECT_EQ(sim.Count(regsim::Message::Default), 0);
    ASSERT_EQ(boxes.boxes.size(), 3); // the write's refusal, the question, the reset's refusal
    EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(f.Messages().LookupMessage("str130").left(30)))
        << boxes.boxes[0].text.toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.contains(Folder())) << boxes.boxes[0].text.toStdString();
    // Nothing is left half-done: the window is idle and the user's choice is still there.
    EXPECT_TRUE(RunUntilIdle(3000));
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_EQ(Panel().ItemIndex(1), 3);
}

// The backup goes to the disk while the pause before the write frame runs. However long the disk
// takes, nothing goes to the regulator before the copy is there, and one that fails late still
// stops the transaction.
struct TSlowDiskCase {
    const char* name;
    bool factory;
    bool fails;
};
void PrintTo(const TSlowDiskCase& c, std::ostream* os) { *os << c.name; }

struct SlowDisk : Backups, ::testing::WithParamInterface<TSlowDiskCase> {};

TEST_P(SlowDisk, NothingGoesOutBeforeTheBackupIsWritten)
{
    const TSlowDiskCase& c = GetParam();
    TDiskGate gate;
    TFileWriterThread slow({});
    slow.SetBeforeWork([&gate] { gate.Hook(); });
    writer = &slow;
    TMainForm& f = ConnectAt();
    ASSERT_TRUE(RunUntilIdle());
    if (c.fails)
        WriteBytes(Folder(), "not a folder");
    const regsim::Message overwrite = c.factory ? regsim::Message::Default : regsim::Message::Write;
    (c.factory ? f.Button3 : f.Button2)->click();
    ASSERT_TRUE(gate.WaitHeld());
    clock.Advance(1000); // well past the pause before the write frame
    EXPECT_EQ(sim.Count(overwrite), 0);
    EXPECT_FALSE(f.Button1->isEnabled()) << "busy while the disk works";
    gate.Open();
    slow.Flush();
    if (c.fails) {
        EXPECT_TRUE(Idle()) << "back at once, nothing half-done";
        clock.Advance(3000);
        EXPECT_EQ(sim.Count(overwrite), 0);
        ASSERT_EQ(boxes.boxes.size(), c.factory ? 2 : 1); // the factory settings' question
        EXPECT_TRUE(boxes.boxes.back().text.contains(Folder()))
            << boxes.boxes.back().text.toStdString();
    } else {
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(sim.Count(overwrite), 1);
        EXPECT_EQ(Files().size(), 2);
        EXPECT_EQ(boxes.boxes.size(), c.factory ? 1 : 0);
    }
    EXPECT_FALSE(gate.TimedOut());
    form.reset(); // before the writer it uses
}

INSTANTIATE_TEST_SUITE_P(Backups, SlowDisk,
                         ::testing::Values(TSlowDiskCase{"Write", false, false},
                                           TSlowDiskCase{"WriteBackupFails", false, true},
                                           TSlowDiskCase{"FactoryReset", true, false},
                                           TSlowDiskCase{"FactoryResetBackupFails", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
