// The file writer's thread: work is done in the order handed over, appends that queue up behind a
// slow disk go in one write, a full disk keeps the pieces that fit, and nothing is lost at the end.
#include "common/filewriter.h"

#include "tests/support/diskgate.h"
#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct WriterFixture : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("log"));
    TDiskGate gate;
    TFileWriterThread writer{{}};
    QStringList told;

    void SetUp() override
    {
        WriteBytes(path, "");
        writer.SetBeforeWork([this] { gate.Hook(); });
    }
    IFileWriter::Done Tell(const QString& name)
    {
        return [this, name](bool ok, const QString& reason) {
            told << name + (ok ? QStringLiteral(" ok") : QStringLiteral(" failed: ") + reason);
        };
    }
};

TEST_F(WriterFixture, AppendsHeldUpByTheDiskGoTogetherInOrder)
{
    writer.Append(path, "a\n", Tell("a"));
    ASSERT_TRUE(gate.WaitHeld());
    writer.Append(path, "b\n", Tell("b"));
    writer.Run([this](QString*) { return ReadBytes(path) == "a\nb\n"; }, Tell("job"));
    writer.Append(path, "c\n", Tell("c"));
    writer.Append(path, "d\n", Tell("d"));
    writer.DeliverDone();
    EXPECT_TRUE(told.isEmpty()) << "nothing is told before the disk has answered";
    gate.Open();
    writer.Flush();
    EXPECT_EQ(ReadBytes(path), "a\nb\nc\nd\n");
    EXPECT_EQ(told, QStringList({"a ok", "b ok", "job ok", "c ok", "d ok"}));
    // a (held), b, the job, then c and d in one write: a job keeps its place among the appends.
    EXPECT_EQ(gate.Batches(), 4);
    EXPECT_FALSE(gate.TimedOut());
}

TEST_F(WriterFixture, AFullDiskKeepsThePiecesThatFitAndNothingAfter)
{
    writer.Run([](QString*) { return true; }, Tell("job"));
    ASSERT_TRUE(gate.WaitHeld());
    for (const char* piece : {"aaaa", "bbbb", "cccc", "dd"})
        writer.Append(path, piece, Tell(QString::fromLatin1(piece)));
    {
        TFileSizeLimit full(10);
        gate.Open();
        writer.Flush();
    }
    EXPECT_EQ(ReadBytes(path), "aaaabbbb") << "whole pieces, and no gap after the one that failed";
    ASSERT_EQ(told.size(), 5);
    EXPECT_EQ(told.mid(0, 3), QStringList({"job ok", "aaaa ok", "bbbb ok"}));
    EXPECT_TRUE(told[3].startsWith("cccc failed: ") && told[3].size() > 14)
        << told[3].toStdString();
    EXPECT_TRUE(told[4].startsWith("dd failed: ")) << "dd would fit, but after a gap";
}

// The disk fills while a piece waits for it alone; a shorter piece, handed over meanwhile, goes to
// the disk in a write of its own and would fit. As a piece of the same series it must not go in.
// The writer that writes at once, on the caller's thread, keeps the same rule.
TEST_F(WriterFixture, APieceAfterOneThatFailedIsNotWrittenInItsSeries)
{
    const struct {
        bool series;
        QByteArray file;
        const char* laterTold;
    } cases[] = {
        {true, "", "bb failed: "}, {false, "bb", "bb ok"}, // the gap the series is there to prevent
    };
    for (const bool thread : {true, false})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(thread ? "thread, " : "at once, ") +
                         (c.series ? "one series" : "no series"));
            // A fresh disk and writer for each case: the fixture's gate opens once for good.
            TDiskGate disk;
            TFileWriterThread threadWriter{{}};
            TImmediateFileWriter atOnce;
            IFileWriter& w = thread ? static_cast<IFileWriter&>(threadWriter) : atOnce;
            threadWriter.SetBeforeWork([&disk] { disk.Hook(); });
            WriteBytes(path, "");
            told.clear();
            const auto series = c.series ? std::make_shared<TAppendSeries>() : nullptr;
            {
                // Held at the disk, the thread's second piece comes while the first waits.
                std::unique_ptr<TFileSizeLimit> full;
                if (!thread)
                    full = std::make_unique<TFileSizeLimit>(3);
                w.Append(path, "aaaa", Tell("aaaa"), series);
                if (thread) {
                    ASSERT_TRUE(disk.WaitHeld());
                }
                w.Append(path, "bb", Tell("bb"), series);
                if (thread) {
                    TFileSizeLimit threadFull(3);
                    disk.Open();
                    threadWriter.Flush();
                    EXPECT_EQ(disk.Batches(), 2) << "each piece in a write of its own";
                }
            }
            EXPECT_EQ(ReadBytes(path), c.file);
            ASSERT_EQ(told.size(), 2);
            EXPECT_TRUE(told[0].startsWith("aaaa failed: ")) << told[0].toStdString();
            EXPECT_TRUE(told[1].startsWith(c.laterTold)) << told[1].toStdString();
            if (c.series) {
                EXPECT_EQ(told[1].mid(3), told[0].mid(5)) << "told why the series broke";
            }
        }
}

TEST(FileWriterThread, EverythingHandedOverIsWrittenWhenItEnds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log"));
    WriteBytes(path, "");
    int told = 0;
    QByteArray expected;
    {
        TDiskGate gate(0);
        TFileWriterThread writer({});
        writer.SetBeforeWork([&gate] { gate.Hook(); });
        for (int i = 0; i < 50; ++i) {
            const QByteArray line = QByteArray::number(i) + "\r\n";
            expected += line;
            writer.Append(path, line, [&told](bool, const QString&) { ++told; });
        }
        gate.Open();
    }
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(told, 0) << "the owner is gone: nobody is told";
}

} // namespace
