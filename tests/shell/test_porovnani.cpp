// "Porovnat se souborem ..." and "Zálohy ..." in the connected window: the rows of the comparison
// and of the backups list, the count and fit lines, loading from either window, when the two menu
// items can be used, and the language of both windows.

#include "tests/support/cyclefixture.h"
#include "tests/support/modal.h"

#include "common/profile.h"
#include "models/backup.h"
#include "models/paramfile.h"
#include "shell/porovnani.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QStringList Column(const QTreeWidget* t, int c)
{
    QStringList texts;
    for (int r = 0; r < t->topLevelItemCount(); ++r)
        texts << t->topLevelItem(r)->text(c);
    return texts;
}

QList<int> MarkedRows(const QTreeWidget* t)
{
    QList<int> rows;
    for (int r = 0; r < t->topLevelItemCount(); ++r)
        if (t->topLevelItem(r)->font(0).bold())
            rows << r;
    return rows;
}

struct TCompareFixture : TCycleFixture {
    QDateTime now{QDate(2025, 3, 14), QTime(9, 26, 53)};

    TMainForm& ConnectAt()
    {
        TMainFormEnv env = Env();
        env.com = &port;
        env.dialogs = &dialogs;
        env.now = [this] { return now; };
        TMainForm& f = StartWith(env);
        return f;
    }
    QString Folder() const { return dir.File(QStringLiteral("Data/KVX-40 OPTO")); }
    QString BackupFolder() const { return Folder() + QStringLiteral("/Backup"); }
    // The panel's own file, as "Uložit jako ..." would write it.
    QStringList PanelLines() { return ParameterFileLines(Panel()); }
    int DifferencesFrom(const QStringList& lines)
    {
        return CountDifferences(CompareWithFile(Panel().Model(), lines));
    }
};

// The demo regulator's panel: three values (rows 0-2), then six option groups (rows 3-8); its file
// has the values, "Data" on line 4 and the group g on line 5 + g.
struct TCompareCase {
    const char* name;
    std::function<void(QStringList&)> edit; // of the panel's own file
    QList<int> differ;                      // marked rows
    const char* count;
    const char* misfit;   // in the line about what does not fit; nullptr: hidden
    QList<int> afterLoad; // rows that still differ once the file is loaded
};
void PrintTo(const TCompareCase& c, std::ostream* os) { *os << c.name; }

const TCompareCase kCompareCases[] = {
    {"Same",
     [](QStringList&) {},
     {},
     "Soubor se ve všech nastaveních shoduje s oknem.",
     nullptr,
     {}},
    {"ValueAndGroup",
     [](QStringList& l) {
         l[1] = "77";
         l[4 + 2] = "0";
     },
     {5},
     "Liší se 1 z 6 nastavení.",
     nullptr,
     {}},
    {"TwoGroupsShort",
     [](QStringList& l) { l = l.mid(0, l.size() - 2); },
     {7, 8},
     "Liší se 2 z 6 nastavení.",
     "počet skupin voleb: v souboru 4, v tomto regulátoru 6",
     {7, 8}},
    {"NoSuchItem",
     [](QStringList& l) { l[4] = "9"; },
     {3},
     "Liší se 1 z 6 nastavení.",
     "skupina 1 (",
     {3}},
};

class Compare : public testing::TestWithParam<TCompareCase> {};

TEST_P(Compare, MarksTheRowsThatDifferCountsThemAndLoads)
{
    const TCompareCase& c = GetParam();
    TCompareFixture fx;
    TMainForm& f = fx.ConnectAt();
    ASSERT_TRUE(fx.RunUntilIdle());
    const QStringList own = fx.PanelLines();
    QStringList lines = own;
    c.edit(lines);
    const QString path = fx.Folder() + "/other.zeq";
    WriteBytes(path, EncodeParameterFile(lines));
    fx.dialogs.answers = {path};
    bool shown = false;
    WhenShown<TPorovnani>([&](TPorovnani& w) {
        shown = true;
        EXPECT_EQ(w.LV->topLevelItemCount(), 9);
        EXPECT_EQ(Column(w.LV, 1).mid(0, 3), own.mid(0, 3)) << "the window's values";
        EXPECT_EQ(MarkedRows(w.LV), c.differ);
        EXPECT_EQ(w.LPocet->text(), QString::fromUtf8(c.count));
        EXPECT_EQ(w.LNepasuje->isVisibleTo(&w), c.misfit != nullptr);
        if (c.misfit) {
            EXPECT_TRUE(w.LNepasuje->text().contains(QString::fromUtf8(c.misfit)))
                << w.LNepasuje->text().toStdString();
        }
        EXPECT_TRUE(w.LSoubor->text().endsWith(path));
        w.Button1->click();
        EXPECT_FALSE(w.isVisible()) << "loading closes the window";
    });
    f.Porovnat->trigger();

    ASSERT_TRUE(shown);
    ASSERT_EQ(fx.dialogs.requests.size(), 1);
    EXPECT_EQ(fx.dialogs.requests[0].initialDir, fx.Folder());
    EXPECT_EQ(fx.dialogs.requests[0].filter, f.Messages().LookupMessage("str84"));
    QList<int> still;
    const QList<TCompareRow> after = CompareWithFile(fx.Panel().Model(), lines);
    for (int r = 0; r < after.size(); ++r)
        if (after[r].differs)
            still << r;
    EXPECT_EQ(still, c.afterLoad);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled()) << "presence checks run again";
    EXPECT_EQ(fx.Count(regsim::Message::Write), 0) << "loading sends nothing";
}

INSTANTIATE_TEST_SUITE_P(Porovnani, Compare, testing::ValuesIn(kCompareCases),
                         [](const auto& info) { return std::string(info.param.name); });

// "Načíst vybrané": the rows that differ have boxes; only the checked settings come into the
// window, each then marked as not written unless the regulator holds it; the others stay as they
// were. The file differs in groups 1, 2 and 5 (rows 4, 5 and 8).
TEST(Porovnani, LoadSelectedTakesOnlyTheCheckedSettings)
{
    const struct {
        const char* name;
        int windowBrake;    // the item the user chose in group 1 before comparing; -1 as read
        int fileBrake;      // group 1's item in the file; -1 as read
        QList<int> checked; // rows
        QList<int> taken;   // groups that now hold the file's item
        QList<int> marked;  // groups marked as not written afterwards
    } rows[] = {
        {"nothing checked: the button does nothing", -1, 3, {}, {}, {}},
        {"one of three", -1, 3, {4}, {1}, {1}},
        {"two of three", -1, 3, {5, 8}, {2, 5}, {2, 5}},
        {"back to what the regulator holds", 2, -1, {4}, {1}, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TCompareFixture fx;
        TMainForm& f = fx.ConnectAt();
        ASSERT_TRUE(fx.RunUntilIdle());
        QStringList lines = fx.PanelLines();
        const QStringList read = lines;
        if (r.fileBrake >= 0)
            lines[4 + 1] = QString::number(r.fileBrake);
        lines[4 + 2] = QString::number((read[4 + 2].toInt() + 1) % 3);
        lines[4 + 5] = QString::number(1 - read[4 + 5].toInt());
        if (r.windowBrake >= 0)
            fx.Panel().SetItemIndex(1, r.windowBrake);
        const QStringList before = fx.PanelLines();
        const QString path = fx.Folder() + "/friend.zeq";
        WriteBytes(path, EncodeParameterFile(lines));
        fx.dialogs.answers = {path};
        WhenShown<TPorovnani>([&](TPorovnani& w) {
            QList<int> checkable;
            for (int row = 0; row < w.LV->topLevelItemCount(); ++row)
                if (w.Checkable(row))
                    checkable << row;
            EXPECT_EQ(checkable, QList<int>({4, 5, 8}));
            EXPECT_FALSE(w.Button3->isEnabled());
            for (const int row : r.checked)
                w.Checkable(row)->setCheckState(0, Qt::Checked);
            EXPECT_EQ(w.Button3->isEnabled(), !r.checked.isEmpty());
            w.Button3->click();
            EXPECT_EQ(w.isVisible(), r.checked.isEmpty());
        });
        f.Porovnat->trigger();
        QList<int> marked;
        for (int g = 0; g < fx.Panel().GroupCount(); ++g) {
            EXPECT_EQ(fx.PanelLines()[4 + g], r.taken.contains(g) ? lines[4 + g] : before[4 + g])
                << "group " << g;
            if (fx.Panel().Model().GroupUnwritten(g))
                marked << g;
        }
        EXPECT_EQ(marked, r.marked);
        EXPECT_EQ(fx.Count(regsim::Message::Write), 0) << "loading sends nothing";
    }
}

TEST(Porovnani, ClosingLeavesThePanelAndAnUnreadableFileGetsTheErrorBoxOnly)
{
    TCompareFixture fx;
    TMainForm& f = fx.ConnectAt();
    ASSERT_TRUE(fx.RunUntilIdle());
    QStringList lines = fx.PanelLines();
    lines[4 + 1] = "3";
    const QString path = fx.Folder() + "/other.zeq";
    WriteBytes(path, EncodeParameterFile(lines));
    const QString gone = fx.Folder() + "/gone.zeq";
    fx.dialogs.answers = {path, gone};
    WhenShown<TPorovnani>([](TPorovnani& w) { w.Button2->click(); });
    f.Porovnat->trigger();
    EXPECT_EQ(fx.DifferencesFrom(lines), 1) << "closed without loading";

    f.Porovnat->trigger();
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(fx.boxes.boxes[0].text,
              QString::fromUtf8("Chyba pri otevírání souboru \r") + gone + QLatin1Char('.'));

    // A parameter file is at most 4 MiB (in bytes here, so that a limit that moves is seen).
    constexpr qint64 kMiB = 1024 * 1024;
    const QString huge = fx.Folder() + "/huge.zeq";
    for (const qint64 size : {4 * kMiB + 1, 4 * kMiB}) {
        WriteSparse(huge, EncodeParameterFile(lines), size);
        fx.dialogs.answers = {huge};
        bool shown = false;
        QTimer::singleShot(0, [&shown] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<TPorovnani*>(w); d && d->isVisible()) {
                    shown = true;
                    d->reject();
                }
        });
        f.Porovnat->trigger();
        QApplication::processEvents(); // the check above, when no window held it
        EXPECT_EQ(shown, size == 4 * kMiB) << size;
    }
    ASSERT_EQ(fx.boxes.boxes.size(), 2);
    EXPECT_EQ(fx.boxes.boxes[1].text,
              QString::fromUtf8("Chyba pri otevírání souboru \r") + huge + QLatin1Char('.'));
}

// Three backups, the oldest without its parameter file, and a record that cannot be read.
TEST(Zalohy, ListsNewestFirstComparesAndLoadsFromARow)
{
    TCompareFixture fx;
    TMainForm& f = fx.ConnectAt();
    ASSERT_TRUE(fx.RunUntilIdle());
    WhenShown<TZalohy>([](TZalohy& w) {
        EXPECT_EQ(w.LV->topLevelItemCount(), 0);
        EXPECT_TRUE(w.LPrazdne->isVisibleTo(&w));
        EXPECT_FALSE(w.LVynech->isVisibleTo(&w));
        EXPECT_FALSE(w.Button1->isEnabled() || w.Button2->isEnabled());
    });
    f.Zalohy->trigger();

    fx.Panel().SetItemIndex(1, 3);
    f.Button2->click(); // backup A: the block as first read
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.now = fx.now.addSecs(3600);
    f.Button3->click(); // backup B: group 1 holds item 3
    ASSERT_TRUE(fx.RunUntilIdle());
    ASSERT_EQ(fx.boxes.boxes.size(), 1); // the factory settings' question
    fx.boxes.boxes.clear();
    fx.now = fx.now.addSecs(3600);
    fx.Panel().SetItemIndex(2, 2);
    f.Button2->click(); // backup C: the factory block
    ASSERT_TRUE(fx.RunUntilIdle());
    ASSERT_TRUE(QFile::remove(fx.BackupFolder() + "/2025-03-14_09-26-53.zeq"));
    WriteBytes(fx.BackupFolder() + "/2025-03-14_12-00-00.txt", "[BACKUP]\r\nKIND=?\r\n");
    const int written = fx.Count(regsim::Message::Write);
    const QStringList factoryFile =
        DecodeParameterFile(ReadBytes(fx.BackupFolder() + "/2025-03-14_11-26-53.zeq"));

    // From the newest row: the comparison of its file, and a load from there closes both.
    bool compared = false;
    WhenShown<TZalohy>([&](TZalohy& w) {
        EXPECT_EQ(Column(w.LV, 0), QStringList({"2025-03-14 11:26:53", "2025-03-14 10:26:53",
                                                "2025-03-14 09:26:53"}));
        EXPECT_EQ(Column(w.LV, 1),
                  QStringList({QString::fromUtf8("zápis"), QString::fromUtf8("tovární nastavení"),
                               QString::fromUtf8("zápis")}));
        EXPECT_EQ(Column(w.LV, 2), QStringList(3, "KVX-40 OPTO"));
        EXPECT_EQ(Column(w.LV, 3), QStringList(3, "V.03a"));
        for (int r = 0; r < w.Entries().size(); ++r)
            EXPECT_EQ(w.LV->topLevelItem(r)->text(4), w.Entries()[r].record.link);
        EXPECT_EQ(w.LVynech->text(), QString::fromUtf8("Nečitelné zálohy vynechány: 1"));
        EXPECT_TRUE(w.LModel->text().contains("KVX-40 OPTO"));
        EXPECT_EQ(w.LV->currentItem(), w.LV->topLevelItem(0)) << "the newest is selected";
        // The oldest has lost its parameter file: nothing to compare or load.
        w.LV->setCurrentItem(w.LV->topLevelItem(2));
        EXPECT_FALSE(w.Button1->isEnabled() || w.Button2->isEnabled());
        EXPECT_EQ(w.LV->topLevelItem(2)->toolTip(1), f.Messages().LookupMessage("str290"));
        w.LV->setCurrentItem(w.LV->topLevelItem(0));
        WhenShown<TPorovnani>([&](TPorovnani& c) {
            compared = true;
            EXPECT_TRUE(c.LSoubor->text().endsWith("2025-03-14_11-26-53.zeq"));
            // The values are the regulator's, read back after the write: no difference in a
            // setting; group 2 was changed before it.
            EXPECT_EQ(MarkedRows(c.LV), QList<int>({5}));
            c.Button1->click();
        });
        w.Button1->click();
        EXPECT_FALSE(w.isVisible()) << "a load from the comparison closes the list";
    });
    f.Zalohy->trigger();
    ASSERT_TRUE(compared);
    EXPECT_EQ(fx.DifferencesFrom(factoryFile), 0);

    // "Načíst do okna" on the middle row: the block before the factory reset.
    WhenShown<TZalohy>([](TZalohy& w) {
        w.LV->setCurrentItem(w.LV->topLevelItem(1));
        w.Button2->click();
        EXPECT_FALSE(w.isVisible());
    });
    f.Zalohy->trigger();
    EXPECT_EQ(fx.Panel().ItemIndex(1), 3);

    // From the comparison of the newest, the factory block, only group 2: the rest stays.
    WhenShown<TZalohy>([](TZalohy& w) {
        WhenShown<TPorovnani>([](TPorovnani& c) {
            c.Checkable(5)->setCheckState(0, Qt::Checked);
            c.Button3->click();
        });
        w.Button1->click();
        EXPECT_FALSE(w.isVisible());
    });
    f.Zalohy->trigger();
    EXPECT_EQ(fx.Panel().ItemIndex(2), factoryFile[4 + 2].toInt());
    EXPECT_EQ(fx.Panel().ItemIndex(1), 3);
    EXPECT_EQ(fx.Count(regsim::Message::Write), written) << "loading sends nothing";
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

// Both items with "Otevřít ...": together with it while a regulator is identified; the backups and
// the settings sheet only while its panel stands.
TEST(Porovnani, MenuItemsFollowTheIdentifiedRegulatorAndItsPanel)
{
    struct Row {
        const char* name;
        bool withModel, connect, lose;
        bool open, zalohy;
    } rows[] = {
        {"NotConnected", true, false, false, false, false},
        {"Identified", true, true, false, true, true},
        {"NoModelFile", false, true, false, true, false},
        {"RegulatorLost", true, true, true, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TCycleFixture fx(r.withModel);
        TMainForm& f = r.connect ? fx.Connect() : fx.Start();
        if (r.connect) {
            ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return f.Open->isEnabled(); }, 3000));
        }
        if (r.lose) {
            fx.sim.faults().mute.insert(regsim::Message::Presence);
            ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !f.Open->isEnabled(); }, 10000));
        }
        EXPECT_EQ(f.Open->isEnabled(), r.open);
        EXPECT_EQ(f.Porovnat->isEnabled(), r.open);
        EXPECT_EQ(f.Zalohy->isEnabled(), r.zalohy);
        EXPECT_EQ(f.Tisk->isEnabled(), r.zalohy);
        EXPECT_EQ(f.UlozitPdf->isEnabled(), r.zalohy);
    }
}

// Each window speaks the language chosen with the flags when it is shown: captions from its own
// section, the other texts from the messages.
TEST(Porovnani, BothWindowsSpeakTheCurrentLanguage)
{
    const struct {
        QLabel* TMainForm::*flag;
        const char* menu;
        const char* title;
        const char* header;
        const char* load;
        const char* backupsTitle;
        const char* compareButton;
    } langs[] = {
        {&TMainForm::Image3, "&Compare with file ...", "Compare with file", "Setting",
         "Load into the window", "Backups", "Compare ..."},
        {&TMainForm::Image4, "&Mit Datei vergleichen ...", "Vergleich mit Datei", "Einstellung",
         "In das Fenster laden", "Backups", "Vergleichen ..."},
        {&TMainForm::Image2, "&Porovnat se souborem ...", "Porovnání se souborem", "Nastavení",
         "Načíst do okna", "Zálohy", "Porovnat ..."},
    };
    TCompareFixture fx;
    TMainForm& f = fx.ConnectAt();
    ASSERT_TRUE(fx.RunUntilIdle());
    for (const char* lang : {"CZ.ini", "EN.ini", "GE.ini"})
        fx.dir.Write(QStringLiteral("Languages/") + lang,
                     SourceFile(QStringLiteral("data/Languages/") + lang));
    const QString path = fx.Folder() + "/same.zeq";
    WriteBytes(path, EncodeParameterFile(fx.PanelLines()));
    for (const auto& l : langs) {
        SCOPED_TRACE(l.title);
        f.Image2Click(f.*l.flag);
        EXPECT_EQ(f.Porovnat->text(), QString::fromUtf8(l.menu));
        fx.dialogs.answers = {path};
        WhenShown<TPorovnani>([&](TPorovnani& w) {
            EXPECT_EQ(w.windowTitle(), QString::fromUtf8(l.title));
            EXPECT_EQ(w.LV->headerItem()->text(0), QString::fromUtf8(l.header));
            EXPECT_EQ(w.LPocet->text(), f.Messages().LookupMessage("str276"));
            EXPECT_EQ(w.Button1->text(), QString::fromUtf8(l.load));
        });
        f.Porovnat->trigger();
        WhenShown<TZalohy>([&](TZalohy& w) {
            EXPECT_EQ(w.windowTitle(), QString::fromUtf8(l.backupsTitle));
            EXPECT_EQ(w.Button1->text(), QString::fromUtf8(l.compareButton));
        });
        f.Zalohy->trigger();
    }
}

} // namespace
