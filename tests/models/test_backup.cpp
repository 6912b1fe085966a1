// Backups: the write payload rebuilt from a read payload is the one the window would send after
// that read; a write folded into the last read gives that write back; the newest 100 are kept.

#include "models/backup.h"

#include "i18n/msglangres.h"
#include "models/panelmodel.h"
#include "protocol/paramblock.h"
#include "tests/models/modelfixture.h"
#include "tests/support/files.h"

#include <QDir>
#include <ostream>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Case {
    const char* name;
    const char* version;
    const char* payload; // hex
};
// Test output names a case, not its bytes.
[[maybe_unused]] void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Two display entries with multipliers; three groups of 2, 3 and 4 items.
const Case kCases[] = {
    {"AllGroupsChosen", "V.03a", "07 D0 04 4C 0F 00 10 20 02 03 04"},
    {"NoSpeedValueBeforeVersion3", "V.02a", "07 D0 04 4C 10 20 01 01 01"},
    {"ZeroInTheMiddle", "V.03a", "07 D0 04 4C 0F 00 10 20 02 00 04"},
    {"ValueBeyondTheItems", "V.03a", "07 D0 04 4C 0F 00 10 20 05 03 09"},
    {"ExtraBytesGoBackUnchanged", "V.03a", "07 D0 04 4C 0F 00 10 20 02 03 04 7F 00 11"},
    {"FewerOptionsThanGroups", "V.03a", "07 D0 04 4C 0F 00 10 20 02"},
    {"NoOptionsAtAll", "V.03a", "07 D0 04 4C 0F 00"},
};

class Rebuild : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + "/";
        QDir(root).mkpath("Regulators/CZ");
        QDir(root).mkpath("Data");
        WriteLines(
            ModelFilePath(root, "CZ", "M"),
            ModelLines({{"A", "a1", "a2"}, {"B", "b1", "b2", "b3"}, {"C", "1", "2", "3", "4"}},
                       {"U:0,1", "I:0,5"}));
    }
    QTemporaryDir tmp;
    QString root;
    TsmlMsgLangRes messages;
};

TEST_P(Rebuild, EqualsTheWindowsWriteAfterThatRead)
{
    const Case& c = GetParam();
    const QByteArray read = QByteArray::fromHex(c.payload);
    TPanelModel panel(
        messages, [](const QString&) {}, [](const QString&) {});
    panel.BuildParameterPanel({root, "CZ", "M", false});
    ASSERT_FALSE(panel.ModelFileMissing());
    TBlockFields fields = DecodeReadReply(read, c.version, {}, panel, {root, &messages}).fields;
    const QByteArray window = BuildWritePayload(fields, panel);

    const TBlockLayout layout{c.version, 2, {2, 3, 4}};
    const auto image = ImageFromReadPayload(read, layout);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->WritePayload().toHex(' '), window.toHex(' '));

    // After the regulator took a write it holds the written limits and group bytes, and keeps
    // what the write did not cover (groups beyond the active count, measured values).
    panel.SetItemIndex(1, 2);
    fields.throttleMax = 2.1;
    const QByteArray write = BuildWritePayload(fields, panel);
    const QByteArray after = ReadPayloadAfterWrite(read, write, c.version, 2, 3);
    const int active = panel.ActiveOptionCount();
    const int optionsStart = (QString(c.version) == "V.03a" ? 6 : 4) + 2;
    QByteArray expected = read;
    if (expected.size() < optionsStart + active)
        expected.append(QByteArray(optionsStart + active - expected.size(), '\0'));
    expected.replace(0, 4, write.left(4));
    expected.replace(optionsStart, active, write.mid(4, active));
    EXPECT_EQ(after.toHex(' '), expected.toHex(' '));
}

TEST(RebuildRefuses, WhatTheReadDecodingRefuses)
{
    EXPECT_FALSE(ImageFromReadPayload(QByteArray::fromHex("03 E8 02 BC 10 20 01 02"),
                                      TBlockLayout{"Vx", 2, {2, 3, 4}}));
    EXPECT_FALSE(
        ImageFromReadPayload(QByteArray::fromHex("03 E8 02"), TBlockLayout{"V.03a", 2, {2, 3, 4}}));
}

INSTANTIATE_TEST_SUITE_P(Payloads, Rebuild, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A program folder whose model "M" has one group and one display entry, with its backup folder.
QString ProgramDirWithModelM(const QTemporaryDir& tmp)
{
    const QString root = tmp.path() + "/";
    QDir(root).mkpath("Regulators/CZ");
    QDir(root).mkpath("Data/M/Backup");
    WriteLines(ModelFilePath(root, "CZ", "M"), ModelLines({{"A", "a1", "a2"}}, {"U:0,1"}));
    return root;
}

TOverwriteContext ContextOfModelM()
{
    TOverwriteContext context;
    context.identity = {"M", "V.02a", "1.1.25", 0};
    context.languageCode = "CZ";
    context.lastReadPayload = QByteArray::fromHex("07 D0 04 4C 10 02");
    return context;
}

TEST(BackupStore, KeepsTheNewestHundredAndNothingElseIsTouched)
{
    QTemporaryDir tmp;
    const QString root = ProgramDirWithModelM(tmp);
    WriteLines(root + "Data/M/Backup/mine.txt", {"the user's own notes"});
    TsmlMsgLangRes messages;
    QDateTime now(QDate(2025, 1, 1), QTime(0, 0, 0));
    QStringList errors;
    TBackupStore store(
        root, messages, [&] { return now; }, [&](const QString& t) { errors << t; });
    TOverwriteContext context = ContextOfModelM();
    const QString first = BackupStem(now);
    for (int i = 0; i < kBackupsKept + 1; ++i) {
        ASSERT_TRUE(store.BeforeOverwrite(context)) << errors.join('\n').toStdString();
        now = now.addSecs(1);
    }
    const QDir folder(root + "Data/M/Backup");
    EXPECT_EQ(folder.entryList({"2025-*.txt"}, QDir::Files).size(), kBackupsKept);
    EXPECT_EQ(folder.entryList({"2025-*.zeq"}, QDir::Files).size(), kBackupsKept);
    EXPECT_FALSE(folder.exists(first + ".txt"));
    EXPECT_FALSE(folder.exists(first + ".zeq"));
    EXPECT_TRUE(folder.exists(BackupStem(now.addSecs(-kBackupsKept)) + ".txt"));
    EXPECT_TRUE(folder.exists("mine.txt"));

    // Nothing read yet: no copy can be made, so the transaction must not run.
    context.lastReadPayload.clear();
    EXPECT_FALSE(store.BeforeOverwrite(context));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(messages.LookupMessage("str131")));
}

// Restore reads a record back; one that has grown past any real record is refused before it is
// read, and every refusal names the file.
TEST(BackupStore, ARecordReadsBackUnlessItIsMissingOrTooLarge)
{
    QTemporaryDir tmp;
    const QString root = ProgramDirWithModelM(tmp);
    TsmlMsgLangRes messages;
    TBackupStore store(
        root, messages, [] { return QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)); },
        [](const QString&) {});
    TOverwriteContext context = ContextOfModelM();
    QString error;
    const std::optional<QString> path = store.Save(context, &error);
    ASSERT_TRUE(path) << error.toStdString();

    const struct {
        qint64 size; // -1: the file is gone
        QString error;
    } rows[] = {
        // 1 MiB, in bytes here so that a limit that moves is seen.
        {1024 * 1024, {}}, // the padding is a line without a key
        {1024 * 1024 + 1, *path + QStringLiteral(": File too large (more than 1048576 bytes)")},
        {-1, *path + QStringLiteral(": No such file or directory")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        if (row.size < 0) {
            ASSERT_TRUE(QFile::remove(*path));
        } else {
            ASSERT_TRUE(QFile::resize(*path, row.size));
        }
        error.clear();
        const std::optional<TBackupRecord> record = LoadBackupRecord(*path, &error);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(record.has_value(), row.error.isEmpty());
    }
}

// The list of a model's backups: newest first (a counter orders those of one second), each with
// its record and the parameter file beside it; a record that cannot be read is left out and said.
TEST(BackupStore, ListsTheModelsBackupsNewestFirst)
{
    QTemporaryDir tmp;
    const QString root = ProgramDirWithModelM(tmp);
    TsmlMsgLangRes messages;
    QDateTime now(QDate(2025, 1, 1), QTime(10, 0, 0));
    TBackupStore store(
        root, messages, [&] { return now; }, [](const QString&) {});
    TOverwriteContext context = ContextOfModelM();
    QString error;
    for (const int seconds : {0, 0, 5}) {
        now = now.addSecs(seconds);
        context.kind =
            seconds ? TOverwriteContext::Kind::FactoryReset : TOverwriteContext::Kind::Write;
        ASSERT_TRUE(store.Save(context, &error)) << error.toStdString();
    }
    const QString folder = root + "Data/M/Backup/";
    WriteLines(folder + "2024-12-31_23-59-59.txt", {"not a record"});
    WriteLines(folder + "notes.txt", {"the user's own"});
    ASSERT_TRUE(QFile::remove(folder + "2025-01-01_10-00-00.zeq"));

    QStringList unreadable;
    const QList<TBackupEntry> list = ListBackups(root, "M", &unreadable);
    QStringList names, zeqs;
    for (const TBackupEntry& e : list) {
        names << QFileInfo(e.recordPath).fileName();
        zeqs << QFileInfo(e.parameterPath).fileName();
    }
    EXPECT_EQ(names, QStringList({"2025-01-01_10-00-05.txt", "2025-01-01_10-00-00_002.txt",
                                  "2025-01-01_10-00-00.txt"}));
    EXPECT_EQ(zeqs, QStringList({"2025-01-01_10-00-05.zeq", "2025-01-01_10-00-00_002.zeq", ""}));
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].record.kind, TOverwriteContext::Kind::FactoryReset);
    EXPECT_EQ(list[0].record.taken, QDateTime(QDate(2025, 1, 1), QTime(10, 0, 5)));
    EXPECT_EQ(list[2].record.identity.version, "V.02a");
    ASSERT_EQ(unreadable.size(), 1);
    EXPECT_TRUE(unreadable[0].contains("2024-12-31_23-59-59.txt")) << unreadable[0].toStdString();
    EXPECT_TRUE(ListBackups(root, "nobody").isEmpty());
}

// Writers on several links at once in one data folder, all within the same second: each claims a
// name of its own, so every backup stays, each saying whose it is. A record from before the link
// was kept still loads.
TEST(BackupStore, ParallelWritersKeepEveryBackup)
{
    QTemporaryDir tmp;
    const QString root = ProgramDirWithModelM(tmp);
    constexpr int kWriters = 8, kEach = 4;
    std::vector<std::vector<QString>> saved(kWriters);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            TsmlMsgLangRes messages;
            TBackupStore store(
                root, messages, [] { return QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)); },
                [](const QString&) {});
            store.SetLink(w % 2 ? UsbBackupLink(QString("KX%1").arg(w))
                                : QString("/dev/ttyUSB%1").arg(w));
            for (int i = 0; i < kEach; ++i) {
                QString reason;
                const std::optional<QString> path = store.Save(ContextOfModelM(), &reason);
                saved[w].push_back(path ? *path : "failed: " + reason);
            }
        });
    for (std::thread& t : threads)
        t.join();
    std::set<QString> distinct;
    for (int w = 0; w < kWriters; ++w)
        for (const QString& path : saved[w]) {
            ASSERT_FALSE(path.startsWith("failed")) << path.toStdString();
            distinct.insert(path);
            QString error;
            const std::optional<TBackupRecord> record = LoadBackupRecord(path, &error);
            ASSERT_TRUE(record) << error.toStdString();
            EXPECT_EQ(record->link,
                      w % 2 ? QString("USB KX%1").arg(w) : QString("/dev/ttyUSB%1").arg(w));
        }
    EXPECT_EQ(distinct.size(), size_t(kWriters * kEach));
    const QDir folder(root + "Data/M/Backup");
    EXPECT_EQ(folder.entryList({"*.txt"}, QDir::Files).size(), kWriters * kEach);
    EXPECT_EQ(folder.entryList({"*.zeq"}, QDir::Files).size(), kWriters * kEach);

    QByteArray old = ReadBytes(*distinct.begin());
    old.replace(old.indexOf("LINK="),
                old.indexOf("\r\n", old.indexOf("LINK=")) + 2 - old.indexOf("LINK="), "");
    WriteBytes(root + "old.txt", old);
    QString error;
    const std::optional<TBackupRecord> record = LoadBackupRecord(root + "old.txt", &error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_EQ(record->link, "");
}

} // namespace
