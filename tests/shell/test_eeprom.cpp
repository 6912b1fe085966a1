// The EEPROM log download against the simulated regulator, over the COM port and over the USB link,
// on virtual time: what ends up in EEPROM.txt, what goes on the line, and the window's state after.

#include "common/filewriter.h"
#include "tests/support/cyclefixture.h"
#include "tests/support/diskgate.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/readonly.h"
#include "tests/support/simusb.h"

#include <QAction>
#include <QDir>
#include <gtest/gtest.h>
#include <optional>
#include <set>

using regsim::Message;

namespace {

enum class Link { Com, Usb };

struct TEepromFixture : TCycleFixture {
    TSimUsb simUsb{sim};
    Link link;
    std::unique_ptr<TDiskGate> gate;
    std::unique_ptr<TFileWriterThread> thread;

    explicit TEepromFixture(Link l) : link(l)
    {
        if (link == Link::Usb)
            WriteSetup("[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n");
    }
    // The window goes before the writer it uses, and the writer before its gate.
    ~TEepromFixture()
    {
        form.reset();
        thread.reset();
    }
    // The window's disk on a thread of its own, set before ConnectIdle. With held >= 0 the work
    // after the first `held` pieces waits at the gate until the test opens it.
    TFileWriterThread& ThreadWriter(int held = -1)
    {
        thread = std::make_unique<TFileWriterThread>(std::function<void()>{});
        if (held >= 0) {
            gate = std::make_unique<TDiskGate>(held);
            thread->SetBeforeWork([g = gate.get()] { g->Hook(); });
        }
        writer = thread.get();
        return *thread;
    }
    TMainForm& ConnectIdle()
    {
        TMainForm& f = link == Link::Com ? Connect() : Start(&port, &simUsb);
        Cycle().SetTimeSource([] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); });
        EXPECT_TRUE(RunUntilIdle());
        return f;
    }
    void SetLog(std::vector<regsim::Bytes> records)
    {
        regsim::RegulatorData data = sim.Data();
        data.log = std::move(records);
        sim = regsim::Regulator(data); // the port keeps its reference to the same object
    }
    QByteArray LogFile() const { return dir.Read(QStringLiteral("EEPROM.txt")); }
    QString Hint() const { return form->StatusPanel2->text(); }
    // The hint panel once a download has ended: how it ended, then where the file is, and where
    // the log before it was kept.
    QString Ended(const QString& how, const QString& kept = {}) const
    {
        const QString ended = how + QStringLiteral(", soubor ") + dir.File("EEPROM.txt");
        return kept.isEmpty()
                   ? ended
                   : ended + QString::fromUtf8(", předchozí záznam uschován jako ") + kept;
    }
    // Runs until the download has ended one way or another.
    bool RunDownload(int64_t limitMs = 60000)
    {
        return clock.AdvanceUntil([this] { return !State().logPending; }, limitMs);
    }
    QStringList Boxes() const
    {
        QStringList texts;
        for (const TRecordedBox& b : boxes.boxes)
            texts.append(b.text);
        return texts;
    }
};

// The hint panel's texts (the built-in Czech ones) for the ways a download ends.
QString HintComplete(int stored)
{
    return QString::fromUtf8(" EEPROM nactena, uloženo záznamu celkem: %1").arg(stored);
}
QString HintBadCommunication(int stored)
{
    return QString::fromUtf8(" Načítání EEPROM ukončeno chybami komunikace, uloženo záznamů: %1")
        .arg(stored);
}
QString HintSilence(int stored)
{
    return QString::fromUtf8(
               " Načítání EEPROM ukončeno, regulátor přestal odpovídat, uloženo záznamů: %1")
        .arg(stored);
}
QString HintDiskError(int stored)
{
    return QString::fromUtf8(" Načítání EEPROM ukončeno chybou zápisu na disk, uloženo záznamů: %1")
        .arg(stored);
}

// Wrong check bytes on the replies to chosen log requests, counted from 1 over the whole download.
void SpoilLogReplies(regsim::Regulator& sim, std::set<int> which)
{
    auto counter = std::make_shared<int>(0);
    sim.SetObserver([&sim, which, counter](const regsim::Event& e) {
        if (e.message != Message::LogStart && e.message != Message::LogNext &&
            e.message != Message::LogRepeat)
            return;
        if (which.count(++*counter))
            sim.faults().badCheckFrames = 1;
    });
}

const QByteArray kDemoLog = "\r\n"
                            "5 1 2 \r\n"
                            "12 34 127 0 16 8 \r\n"
                            "1 250 251 252 254 85 \r\n";

struct TDownloadCase {
    const char* name;
    std::vector<regsim::Bytes> log;
    std::set<int> spoiled; // log replies with a wrong check byte, counted from 1
    QByteArray file;
    int logRequests;       // start, next and repeat requests together
    bool badCommunication; // ended with the fixed message
};

const TDownloadCase kDownloads[] = {
    {"EndRecordFirst", {{0x08, 0x01}}, {}, "\r\n", 1, false},
    {"OneRecordThenEnd", {{0x05, 0x01, 0x02}}, {}, "\r\n5 1 2 \r\n", 2, false},
    {"EmptyRecordIsALine", {{}, {0x07}}, {}, "\r\n\r\n7 \r\n", 3, false},
    {"DemoLog", {}, {}, kDemoLog, 4, false},
    {"WrongCheckThenGoodRepeatStoredOnce", {}, {2}, kDemoLog, 5, false},
    {"ThreeWrongInDifferentRecordsComplete", {}, {1, 3, 6}, kDemoLog, 7, false},
    {"FourthWrongInARowEndsTheDownload", {}, {2, 3, 4, 5}, "\r\n5 1 2 \r\n", 5, true},
    // Counted over the whole download: the fourth comes after three records were stored.
    {"FourthWrongOverTheDownloadEndsIt", {}, {2, 4, 5, 7}, kDemoLog, 7, true},
    {"FourWrongOnTheFirstRecord", {}, {1, 2, 3, 4}, "\r\n", 4, true},
};

std::string LinkName(Link l) { return l == Link::Com ? "Com" : "Usb"; }
void PrintTo(Link l, std::ostream* os) { *os << LinkName(l); }
void PrintTo(const TDownloadCase& c, std::ostream* os) { *os << c.name; }

class Download : public testing::TestWithParam<std::tuple<Link, TDownloadCase>> {};

TEST_P(Download, StoresTheRecordsAndReturnsToIdle)
{
    const auto& [link, c] = GetParam();
    TEepromFixture fx(link);
    if (!c.log.empty())
        fx.SetLog(c.log);
    TMainForm& f = fx.ConnectIdle();
    ASSERT_TRUE(f.EEPROM1->isVisible() && f.EEPROM1->isEnabled());
    fx.dir.Write(QStringLiteral("EEPROM.txt"), "an older log\r\n");
    SpoilLogReplies(fx.sim, c.spoiled);
    // The complaint is a message like any other: the language file's text wins.
    if (c.badCommunication) {
        fx.dir.Write("Languages/CZ.ini", "[MainForm]\r\nStr210=EEPROM nekomunikuje.\r\n");
        f.Image2Click(f.Image2);
    }

    f.EEPROM1->trigger();
    ASSERT_TRUE(fx.RunDownload());
    fx.ShowPostedBoxes();
    EXPECT_EQ(fx.LogFile(), c.file);
    const int requests =
        fx.Count(Message::LogStart) + fx.Count(Message::LogNext) + fx.Count(Message::LogRepeat);
    EXPECT_EQ(requests, c.logRequests);
    EXPECT_EQ(fx.Count(Message::LogStart), 1);
    EXPECT_EQ(fx.Count(Message::LogRepeat), int(c.spoiled.size()) - (c.badCommunication ? 1 : 0));
    if (c.badCommunication) {
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Plain);
        EXPECT_EQ(fx.boxes.boxes[0].text, "EEPROM nekomunikuje.");
    } else {
        EXPECT_TRUE(fx.boxes.boxes.isEmpty()) << fx.Boxes().join('|').toStdString();
    }
    // Back to connected and idle at once, with presence checks and the buttons.
    EXPECT_TRUE(fx.Idle());
    EXPECT_TRUE(f.EEPROM1->isEnabled());
    EXPECT_FALSE(fx.Cycle().WatchdogTimer().Enabled());
    const int stored = int(c.file.count("\r\n")) - 1;
    const QString kept = "EEPROM_2025-03-14_09-26-53.txt";
    EXPECT_EQ(fx.dir.Read(kept), "an older log\r\n");
    EXPECT_EQ(
        fx.Hint(),
        fx.Ended(c.badCommunication ? HintBadCommunication(stored) : HintComplete(stored), kept));
    const int presence = fx.Count(Message::Presence);
    fx.clock.Advance(5100);
    EXPECT_EQ(fx.Count(Message::Presence), presence + 2);
    EXPECT_TRUE(fx.Connected());
}

INSTANTIATE_TEST_SUITE_P(Eeprom, Download,
                         testing::Combine(testing::Values(Link::Com, Link::Usb),
                                          testing::ValuesIn(kDownloads)),
                         [](const auto& info) {
                             return LinkName(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

class EepromLink : public testing::TestWithParam<Link> {};

TEST_P(EepromLink, RefusedWhileAReadIsPending)
{
    TEepromFixture fx(GetParam());
    TMainForm& f = fx.ConnectIdle();
    fx.sim.faults().mute.insert(Message::Read);
    f.Button1->click();
    ASSERT_TRUE(fx.State().readPending);
    fx.Cycle().StartLogDownload();
    EXPECT_EQ(fx.Count(Message::LogStart), 0);
    EXPECT_FALSE(fx.State().logPending);
    EXPECT_FALSE(fx.dir.Exists(QStringLiteral("EEPROM.txt")));
}

TEST_P(EepromLink, SilenceMidDownloadKeepsTheRecordsAndEndsNotConnected)
{
    TEepromFixture fx(GetParam());
    TMainForm& f = fx.ConnectIdle();
    // Silent from the second next request on: two records are stored.
    fx.sim.SetObserver([&fx](const regsim::Event& e) {
        if (e.message == Message::LogNext && fx.Count(Message::LogNext) == 2)
            fx.sim.faults().silent = true;
    });
    const int64_t start = fx.clock.Now();
    f.EEPROM1->trigger();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 2; }, 5000));
    EXPECT_TRUE(fx.State().logPending);
    EXPECT_FALSE(f.EEPROM1->isEnabled());
    EXPECT_FALSE(f.Button1->isEnabled());
    EXPECT_EQ(f.StatusPanel2->text(), QString::fromUtf8(" Nacítám EEPROM, uloženo záznamu: 2"));
    // The status says so once the watchdog gives up, the reset follows.
    ASSERT_TRUE(fx.clock.AdvanceUntil(
        [&] { return f.StatusPanel1->text() == QString::fromUtf8(" Regulátor NEPRIPOJEN "); },
        30000));
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return f.LnH->text() == kNamePlaceholder; }, 3000));
    // Four watchdog ticks of 4 s after the last record, then the 2 s of the time-out reset.
    EXPECT_NEAR(double(fx.clock.Now() - start), 18000, 1000);
    EXPECT_FALSE(fx.State().logPending);
    EXPECT_FALSE(fx.State().busy);
    EXPECT_EQ(f.LnH->text(), kNamePlaceholder);
    EXPECT_EQ(fx.LogFile(), "\r\n5 1 2 \r\n12 34 127 0 16 8 \r\n");
    EXPECT_EQ(fx.Count(Message::LogStart), 1) << "the watchdog does not start it again";
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    EXPECT_EQ(fx.Hint(), fx.Ended(HintSilence(2)));
}

// Three damaged records are all one download may have; the next download may have three again.
TEST_P(EepromLink, EachDownloadCountsItsDamagedRecordsFromNought)
{
    TEepromFixture fx(GetParam());
    TMainForm& f = fx.ConnectIdle();
    for (int download = 1; download <= 2; ++download) {
        SCOPED_TRACE(download);
        SpoilLogReplies(fx.sim, {1, 3, 6});
        f.EEPROM1->trigger();
        ASSERT_TRUE(fx.RunDownload());
        EXPECT_EQ(fx.LogFile(), kDemoLog);
        EXPECT_TRUE(fx.boxes.boxes.isEmpty()) << fx.Boxes().join('|').toStdString();
        EXPECT_EQ(fx.Hint(),
                  fx.Ended(HintComplete(3), download == 1 ? "" : "EEPROM_2025-03-14_09-26-53.txt"));
    }
}

// Before a download replaces the log, the log there is kept beside it under the moment's name; one
// that cannot be kept is not replaced, and nothing is asked of the regulator.
TEST(Eeprom, TheEarlierLogIsKeptOrNothingIsReplaced)
{
    const QByteArray older = "\r\n9 9 9 9 9 \r\n";
    const struct {
        const char* name;
        const char* taken; // a file already there
        rlim_t fullAt;     // bytes a file may have; 0 no limit
        bool readOnly;
        const char* kept; // nullptr: nothing could be kept
    } rows[] = {
        {"under the moment's name", "", 0, false, "EEPROM_2025-03-14_09-26-53.txt"},
        {"a counter when the name is taken", "EEPROM_2025-03-14_09-26-53.txt", 0, false,
         "EEPROM_2025-03-14_09-26-53_002.txt"},
        {"a full disk", "", 8, false, nullptr},
        {"a read-only folder", "", 0, true, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TEepromFixture fx(Link::Com);
        TMainForm& f = fx.ConnectIdle();
        fx.dir.Write("EEPROM.txt", older);
        if (*r.taken)
            fx.dir.Write(r.taken, "mine");
        {
            std::optional<TFileSizeLimit> full;
            std::optional<TReadOnlyFolder> readOnly;
            if (r.fullAt)
                full.emplace(r.fullAt);
            if (r.readOnly)
                readOnly.emplace(fx.dir.Path());
            f.EEPROM1->trigger();
        }
        ASSERT_TRUE(fx.RunDownload());
        fx.ShowPostedBoxes();
        if (r.kept) {
            EXPECT_EQ(fx.dir.Read(r.kept), older);
            EXPECT_EQ(fx.LogFile(), kDemoLog);
            EXPECT_EQ(fx.Hint(), fx.Ended(HintComplete(3), r.kept));
            EXPECT_TRUE(fx.boxes.boxes.isEmpty()) << fx.Boxes().join('|').toStdString();
            continue;
        }
        EXPECT_EQ(fx.LogFile(), older) << "not overwritten";
        EXPECT_EQ(fx.Count(Message::LogStart), 0);
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        EXPECT_TRUE(fx.boxes.boxes[0].text.startsWith(
            QString::fromUtf8("Předchozí záznam EEPROM ") + fx.dir.File("EEPROM.txt")))
            << fx.boxes.boxes[0].text.toStdString();
        EXPECT_TRUE(fx.Idle());
    }
}

TEST_P(EepromLink, ALogFileThatCannotBeStartedLeavesTheWindowIdle)
{
    TEepromFixture fx(GetParam());
    TMainForm& f = fx.ConnectIdle();
    QDir().mkpath(fx.dir.File(QStringLiteral("EEPROM.txt"))); // a folder in its place
    f.EEPROM1->trigger();
    fx.ShowPostedBoxes();
    EXPECT_EQ(fx.Count(Message::LogStart), 0);
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
    EXPECT_TRUE(fx.boxes.boxes[0].text.contains(QStringLiteral("EEPROM.txt")));
    EXPECT_TRUE(fx.Idle());
}

INSTANTIATE_TEST_SUITE_P(Eeprom, EepromLink, testing::Values(Link::Com, Link::Usb),
                         [](const auto& info) { return LinkName(info.param); });

TEST(Eeprom, ComRecordsAdvanceOnePerReceptionWithProgressInTheHintPanel)
{
    TEepromFixture fx(Link::Com);
    TMainForm& f = fx.ConnectIdle();
    f.EEPROM1->trigger();
    EXPECT_EQ(fx.LogFile(), "\r\n") << "the first line is written when the download starts";
    EXPECT_TRUE(fx.Cycle().WatchdogTimer().Enabled());
    EXPECT_FALSE(fx.Cycle().PresenceTimer().Enabled()) << "no presence queries during the download";
    EXPECT_EQ(f.StatusPanel2->text(), QString::fromUtf8(" Nacítám EEPROM, uloženo záznamu: 0"));
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 1; }, 2000));
    EXPECT_EQ(fx.LogFile(), "\r\n5 1 2 \r\n");
    EXPECT_EQ(f.StatusPanel2->text(), QString::fromUtf8(" Nacítám EEPROM, uloženo záznamu: 1"));
    ASSERT_TRUE(fx.RunDownload());
    EXPECT_EQ(fx.LogFile(), kDemoLog);
}

// The file removed before the first record is stored, or after it: the user is told, no record
// is asked for after that, and the disk error stays the reason the download ended when the
// watchdog ends it.
TEST(Eeprom, ALogFileRemovedMidDownloadIsReportedAndTheWatchdogEndsIt)
{
    for (const int storedFirst : {0, 1}) {
        SCOPED_TRACE(storedFirst ? "after the first record" : "before the first record");
        TEepromFixture fx(Link::Com);
        TMainForm& f = fx.ConnectIdle();
        f.EEPROM1->trigger();
        ASSERT_TRUE(
            fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == storedFirst; }, 2000));
        QFile::remove(fx.dir.File(QStringLiteral("EEPROM.txt")));
        ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.boxes.boxes.isEmpty(); }, 2000));
        EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
        EXPECT_EQ(fx.Count(Message::LogNext), storedFirst)
            << "no next request after a record was lost";
        EXPECT_FALSE(fx.dir.Exists(QStringLiteral("EEPROM.txt"))) << "not started anew half-way";
        ASSERT_TRUE(fx.RunDownload(30000));
        EXPECT_EQ(f.LnH->text(), kNamePlaceholder);
        EXPECT_EQ(fx.Hint(), fx.Ended(HintDiskError(storedFirst)));
    }
}

// The disk stands still from the first record on: the window goes on asking for records at the
// line's pace and is idle at the end; the file catches up once the disk answers.
TEST(Eeprom, AStuckDiskHoldsUpNeitherTheWindowNorTheLine)
{
    TEepromFixture fx(Link::Com);
    TFileWriterThread& writer = fx.ThreadWriter(1); // the new file is written, the records wait
    TDiskGate& gate = *fx.gate;
    TMainForm& f = fx.ConnectIdle();
    f.EEPROM1->trigger();
    writer.Flush();
    EXPECT_EQ(fx.Count(Message::LogStart), 1);
    ASSERT_TRUE(fx.RunDownload());
    ASSERT_TRUE(gate.WaitHeld());
    EXPECT_EQ(fx.Count(Message::LogNext), 3);
    EXPECT_TRUE(fx.Idle());
    EXPECT_EQ(fx.Hint(), fx.Ended(QString::fromUtf8(
                             " EEPROM načtena, disk ještě zapisuje, uloženo záznamů: 0 z 3")));
    EXPECT_EQ(fx.LogFile(), "\r\n") << "the disk has written nothing yet";
    gate.Open();
    writer.Flush();
    EXPECT_EQ(fx.LogFile(), kDemoLog);
    EXPECT_EQ(fx.Hint(), fx.Ended(HintComplete(3)));
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    EXPECT_FALSE(gate.TimedOut());
}

// The file vanishes while the records are on their way to it: the user hears of it when the disk
// answers, and no record is asked for after that.
TEST(Eeprom, AWriteThatFailsLateIsReportedAndEndsTheRequests)
{
    TEepromFixture fx(Link::Com);
    TFileWriterThread& writer = fx.ThreadWriter();
    TMainForm& f = fx.ConnectIdle();
    f.EEPROM1->trigger();
    writer.Flush();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 1; }, 2000));
    writer.Flush();
    EXPECT_EQ(fx.LogFile(), "\r\n5 1 2 \r\n");
    QFile::remove(fx.dir.File(QStringLiteral("EEPROM.txt")));
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 2; }, 2000));
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    writer.Flush();
    fx.ShowPostedBoxes();
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
    EXPECT_TRUE(fx.boxes.boxes[0].text.contains(QStringLiteral("EEPROM.txt")));
    EXPECT_EQ(fx.Hint(), fx.Ended(HintDiskError(1))) << "the record that failed is not counted";
    ASSERT_TRUE(fx.RunDownload(30000));
    writer.Flush();
    EXPECT_EQ(fx.Hint(), fx.Ended(HintDiskError(1)))
        << "the watchdog's end does not hide the disk error";
    EXPECT_EQ(fx.Count(Message::LogNext), 2) << "none after the failure was known";
    EXPECT_EQ(fx.boxes.boxes.size(), 1) << "told once";
    EXPECT_FALSE(fx.dir.Exists(QStringLiteral("EEPROM.txt"))) << "not started anew half-way";
    EXPECT_EQ(f.LnH->text(), kNamePlaceholder) << "ended by the watchdog";
}

// The disk fills while a long record waits for it; the short one after it arrives before the
// failure is known and would still fit. The file keeps the records before the failure, no more.
TEST(Eeprom, ARecordAfterOneTheDiskRefusedIsNotStored)
{
    TEepromFixture fx(Link::Com);
    fx.SetLog({{0x05, 0x01, 0x02}, regsim::Bytes(10, 0xC8), {0x07}});
    // The new file and the first record are written; the long one waits.
    TFileWriterThread& writer = fx.ThreadWriter(2);
    TDiskGate& gate = *fx.gate;
    TMainForm& f = fx.ConnectIdle();
    f.EEPROM1->trigger();
    writer.Flush();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 1; }, 2000));
    writer.Flush();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 2; }, 2000));
    ASSERT_TRUE(gate.WaitHeld());
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::LogNext) == 3; }, 2000));
    {
        TFileSizeLimit full(20); // the 10 bytes written, then room for the short record only
        gate.Open();
        writer.Flush();
    }
    ASSERT_TRUE(fx.RunDownload(30000));
    writer.Flush();
    EXPECT_EQ(fx.LogFile(), "\r\n5 1 2 \r\n");
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
    EXPECT_EQ(fx.Hint(), fx.Ended(HintDiskError(1)));
    EXPECT_TRUE(f.EEPROM1->isEnabled()) << "the end record came: the window is idle";
    EXPECT_FALSE(gate.TimedOut());
}

} // namespace
