// Changes not yet written: from a read on, every setting the user changes (an option group, a
// throttle limit) is marked and counted in the status bar until a write or a read takes it, or a
// connection reset forgets it; and after a write or a factory reset the hint panel says where the
// backup went.

#include "tests/support/cyclefixture.h"

using regsim::Message;

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct TUnwrittenWindow : TCycleFixture {
    TUnwrittenWindow() = default;
    explicit TUnwrittenWindow(regsim::RegulatorData data) : TCycleFixture(true, std::move(data)) {}
    QString ModelFolder() const { return dir.File(QStringLiteral("Data/KVX-40 OPTO")); }
    // The newest backup record, as the hint panel should name it.
    QString NewestBackup() const
    {
        const QDir backups(ModelFolder() + QStringLiteral("/Backup"));
        const QStringList records =
            backups.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name | QDir::Reversed);
        return records.isEmpty() ? QString() : backups.filePath(records.front());
    }
    void Click(int g, int item) { Panel().ItemButton(g, item)->click(); }
};

// What the hint panel says after a step: as before it, where the newest backup went, that the
// write was read back and verified (naming that backup), or that changes came back after a read.
enum class THint { Same, Backup, Verified, Kept };

struct TStep {
    const char* name;
    std::function<void(TUnwrittenWindow&)> act;
    QList<int> markedGroups;
    bool minMarked, maxMarked;
    THint hint;
};

// The window connects and reads the regulator: nothing is marked yet.
const TStep kFirstRead = {"read",
                          [](TUnwrittenWindow& w) {
                              w.Connect();
                              ASSERT_TRUE(w.RunUntilIdle());
                          },
                          {},
                          false,
                          false,
                          THint::Same};

// Each step, then the marks, the count in the status bar and the hint panel.
template <size_t N> void Play(TUnwrittenWindow& fx, const TStep (&steps)[N])
{
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.name);
        const QString hintBefore = fx.form ? fx.form->HintText() : QString();
        step.act(fx);
        ASSERT_FALSE(testing::Test::HasFatalFailure());
        TMainForm& f = *fx.form;
        QList<int> marked;
        for (int g = 0; g < fx.Panel().GroupCount(); ++g) {
            const bool bar = fx.Panel().UnwrittenBar(g)->isVisibleTo(fx.Panel().Group(g));
            const bool bullet = fx.Panel().Group(g)->title().startsWith(QStringLiteral("\u2022 "));
            EXPECT_EQ(bar, bullet) << "group " << g;
            if (bar)
                marked.append(g);
        }
        EXPECT_EQ(marked, step.markedGroups);
        EXPECT_EQ(f.LKorekceAMark->isVisibleTo(f.Panel1), step.minMarked);
        EXPECT_EQ(f.LKorekceBMark->isVisibleTo(f.Panel1), step.maxMarked);
        const int count = int(marked.size()) + int(step.minMarked) + int(step.maxMarked);
        EXPECT_EQ(f.StatusUnwritten->isVisibleTo(f.StatusBar), count > 0);
        if (count > 0) {
            EXPECT_EQ(f.StatusUnwritten->text(),
                      QString::fromUtf8(" Nezapsané změny: %1 ").arg(count));
        }
        const TsmlMsgLangRes& m = f.Messages();
        const QString hints[] = {hintBefore, "|" + m.Msg("str132").arg(fx.NewestBackup()),
                                 "|" + m.Msg("Str560").arg(fx.NewestBackup()),
                                 "|" + m.Msg("Str570").arg(count)};
        EXPECT_EQ(f.HintText(), hints[int(step.hint)]);
    }
}

TEST(Unwritten, MarksFollowReadEditLoadWriteAndReset)
{
    TUnwrittenWindow fx;
    const TStep steps[] = {
        kFirstRead,
        {"brake chosen",
         [](TUnwrittenWindow& w) { w.Click(1, 3); },
         {1},
         false,
         false,
         THint::Same},
        {"lower limit up",
         [](TUnwrittenWindow& w) { w.form->UpAClick(); },
         {1},
         true,
         false,
         THint::Same},
        {"brake back as read",
         [](TUnwrittenWindow& w) { w.Click(1, 0); },
         {},
         true,
         false,
         THint::Same},
        {"file loaded",
         [](TUnwrittenWindow& w) {
             WriteBytes(w.ModelFolder() + QStringLiteral("/two.zeq"),
                        "1\r\n2\r\n3\r\nData\r\n1\r\n0\r\n3\r\n0\r\n3\r\n0\r\n");
             w.dialogs.answers = {w.ModelFolder() + QStringLiteral("/two.zeq")};
             w.form->Open->trigger();
         },
         {2, 5},
         true,
         false,
         THint::Same},
        {"written",
         [](TUnwrittenWindow& w) {
             w.form->Button2->click();
             ASSERT_TRUE(w.RunUntilIdle());
             // The mouse leaves the button for the bare panel: the news stays.
             QEvent leave(QEvent::Leave);
             QApplication::sendEvent(w.form->Button2, &leave);
             EXPECT_EQ(w.sim.Block().options[2], 4) << "the regulator has the change";
         },
         {},
         false,
         false,
         THint::Verified},
        {"changed after the write",
         [](TUnwrittenWindow& w) {
             w.Click(4, 0);
             w.form->DowBClick();
         },
         {4},
         false,
         true,
         THint::Same},
        {"read again, the changes dropped",
         [](TUnwrittenWindow& w) {
             w.boxes.choices = {1};
             w.form->Button1->click();
             ASSERT_TRUE(w.RunUntilIdle());
             EXPECT_EQ(w.Panel().ItemIndex(4), 3) << "the regulator's item is back";
         },
         {},
         false,
         false,
         THint::Same},
        {"changed, then factory settings",
         [](TUnwrittenWindow& w) {
             w.Click(3, 2);
             w.form->Button3->click();
             ASSERT_TRUE(w.RunUntilIdle());
         },
         {},
         false,
         false,
         THint::Backup},
        {"changed, then the regulator lost",
         [](TUnwrittenWindow& w) {
             w.Click(1, w.Panel().ItemIndex(1) == 0 ? 1 : 0);
             w.form->UpBClick();
             w.sim.faults().silent = true;
             ASSERT_TRUE(w.clock.AdvanceUntil([&] { return !w.Connected(); }, 20000));
         },
         {},
         false,
         false,
         THint::Same},
        {"found again: the changes back over the fresh read",
         [](TUnwrittenWindow& w) {
             w.sim.faults().silent = false;
             ASSERT_TRUE(w.RunUntilIdle(30000));
         },
         {1},
         false,
         true,
         THint::Kept},
    };
    Play(fx, steps);
    if (testing::Test::HasFatalFailure())
        return;
    // Asked before the read and the factory settings replaced a change; Enter keeps it.
    ASSERT_EQ(fx.boxes.boxes.size(), 2);
    const TsmlMsgLangRes& m = fx.form->Messages();
    EXPECT_EQ(fx.boxes.boxes[0].text, m.Msg("Str574").arg(2));
    EXPECT_EQ(fx.boxes.boxes[0].buttons.size(), 3);
    EXPECT_EQ(fx.boxes.boxes[0].presetButton, 2);
    EXPECT_EQ(fx.boxes.boxes[1].text,
              m.Msg("Str575").arg("KVX-40 OPTO") + "\r" + m.Msg("Str576").arg(1));
    EXPECT_EQ(fx.boxes.boxes[1].preset, TDefaultAnswer::No);

    // The language switch relabels the panel: the mark stays, and the count follows the language.
    fx.dir.Write("Regulators/EN/KVX-40 OPTO.ini", SourceFile("data/Regulators/EN/KVX-40 OPTO.ini"));
    fx.dir.Write("Languages/EN.ini", SourceFile("data/Languages/EN.ini"));
    fx.Click(1, (fx.Panel().ItemIndex(1) + 1) % 4);
    fx.form->Image2Click(fx.form->Image3);
    EXPECT_TRUE(fx.Panel().Group(1)->title().startsWith(QStringLiteral("\u2022 ")));
    EXPECT_EQ(fx.form->StatusUnwritten->text(),
              QStringLiteral(" Changes not written: %1 ").arg(fx.Panel().Model().UnwrittenCount()));
}

// A regulator whose last option byte is 0: the write carries the groups before it only, so their
// marks clear and the last group's stays.
TEST(Unwritten, AWriteOfFewerGroupsClearsTheirMarksOnly)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.block.options.back() = 0;
    TUnwrittenWindow fx(data);
    const TStep steps[] = {
        kFirstRead,
        // The last group is not in use (no choice, disabled): only a file gives it an item.
        {"a file with another brake and a direction",
         [](TUnwrittenWindow& w) {
             WriteBytes(w.ModelFolder() + QStringLiteral("/dir.zeq"),
                        "1\r\n2\r\n3\r\nData\r\n1\r\n3\r\n2\r\n0\r\n3\r\n1\r\n");
             w.dialogs.answers = {w.ModelFolder() + QStringLiteral("/dir.zeq")};
             w.form->Open->trigger();
         },
         {1, 5},
         false,
         false,
         THint::Same},
        {"written",
         [](TUnwrittenWindow& w) {
             w.form->Button2->click();
             ASSERT_TRUE(w.RunUntilIdle());
             EXPECT_EQ(w.sim.Block().options, regsim::Bytes({2, 4, 3, 1, 4, 0}));
         },
         {5},
         false,
         false,
         THint::Verified},
    };
    Play(fx, steps);
}

} // namespace

namespace {

// How a write ends, as the user learns it: read back and verified; read back and found different;
// its acknowledgement lost or its line gone, each said in one box naming the backup from before
// it, which the window loads once the regulator is back if the user says so.
struct TWriteEnd {
    const char* name;
    std::function<void(TUnwrittenWindow&)> fault; // after the click, before the frame goes out
    QList<int> answers;                           // to the doubt box
    const char* caption;                          // of the one box; nullptr: none
    QStringList says;                             // what the box says, in order
    const char* hint;                             // with the backup or the count as %1
    bool changeHeld;                              // the regulator holds the change
    bool changeShown;                             // the window shows the change, marked unless held
};

TEST(Unwritten, AWriteEndsVerifiedOrSaidWithItsBackup)
{
    const TsmlMsgLangRes m;
    const auto muteWrite = [](TUnwrittenWindow& w) { w.sim.faults().mute = {Message::Write}; };
    const TWriteEnd rows[] = {
        {"verified", {}, {}, nullptr, {}, "Str560", true, true},
        {"acknowledged, not stored",
         [](TUnwrittenWindow& w) { w.sim.faults().ignoreWrites = true; },
         {},
         "Str564",
         {m.Msg("Str565"), m.Msg("Str561").arg("Brzda", "Měkká", "Vypnuta"), m.Msg("Str568")},
         "Str564",
         false,
         false},
        {"stored, the acknowledgement lost, the backup loaded on return",
         muteWrite,
         {0},
         "Str566",
         {m.Msg("Str567"), m.Msg("Str568"), m.Msg("Str581")},
         "Str566",
         true,
         false},
        {"the line gone before the frame, the change kept for the return",
         [](TUnwrittenWindow& w) { w.port.lineGone = true; },
         {1},
         "Str566",
         {m.Msg("str53"), m.Msg("Str567"), m.Msg("Str568")},
         "Str570",
         false,
         true},
    };
    for (const TWriteEnd& row : rows) {
        SCOPED_TRACE(row.name);
        TUnwrittenWindow fx;
        TMainForm& f = fx.Connect();
        ASSERT_TRUE(fx.RunUntilIdle());
        const int read = fx.Panel().ItemIndex(1);
        const int changed = (read + 1) % fx.Panel().ItemCount(1);
        fx.Click(1, changed);
        fx.boxes.choices = row.answers;
        f.Button2->click();
        if (row.fault)
            row.fault(fx);
        ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Idle() && !f.WriteUnchecked(); }, 40000));
        fx.ShowPostedBoxes();
        const QString backup = fx.NewestBackup();
        ASSERT_EQ(fx.boxes.boxes.size(), row.caption ? 1 : 0);
        if (row.caption) {
            EXPECT_EQ(fx.boxes.boxes[0].caption, m.Msg(row.caption));
            QString text = fx.boxes.boxes[0].text;
            for (const QString& part : row.says) {
                const QString said = part.contains("%1") ? part.arg(backup) : part;
                const qsizetype at = text.indexOf(said);
                EXPECT_GE(at, 0) << said.toStdString() << " in " << text.toStdString();
                text = text.mid(at + said.size());
            }
        }
        const QString hint = m.Msg(row.hint);
        EXPECT_EQ(f.HintText(), "|" + (row.hint == QLatin1String("Str570") ? hint.arg(1)
                                       : hint.contains("%1")               ? hint.arg(backup)
                                                                           : hint));
        EXPECT_EQ(fx.sim.Block().options[1] == changed + 1, row.changeHeld);
        EXPECT_EQ(fx.Panel().ItemIndex(1) == changed, row.changeShown);
        EXPECT_EQ(fx.Panel().Model().GroupUnwritten(1), row.changeShown != row.changeHeld);
    }
}

// Closing the window with changes not written asks: write them (and close once they are read back
// and verified), drop them, or stay; Enter stays.
TEST(Unwritten, ClosingWithChangesAsksFirst)
{
    const struct {
        const char* name;
        QList<int> answers;
        bool closed;
        int writes;
    } rows[] = {
        {"Enter: cancel", {}, false, 0},
        {"discard", {1}, true, 0},
        {"write, then close", {0}, true, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TUnwrittenWindow fx;
        TMainForm& f = fx.Connect();
        ASSERT_TRUE(fx.RunUntilIdle());
        f.show();
        f.UpAClick();
        fx.boxes.choices = row.answers;
        EXPECT_EQ(f.close(), row.closed && row.writes == 0);
        fx.clock.AdvanceUntil([&] { return !f.isVisible(); }, 3000);
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        EXPECT_EQ(fx.boxes.boxes[0].presetButton, 2);
        EXPECT_EQ(f.isVisible(), !row.closed);
        EXPECT_EQ(fx.Count(Message::Write), row.writes);
    }
}

} // namespace
