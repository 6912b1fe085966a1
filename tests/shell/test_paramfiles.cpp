// "Otevřít ..." and "Uložit jako ..." in the connected window: the dialogs, the overwrite question,
// the presence timer around them, and the panel after a load.

#include "tests/support/cyclefixture.h"

#include "models/paramfile.h"
#include "tests/support/files.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct TFilesWindow : TCycleFixture {
    using TCycleFixture::TCycleFixture;
    QString Folder() const { return dir.File(QStringLiteral("Data/KVX-40 OPTO")); }
    QString InFolder(const char* name) const
    {
        return Folder() + QLatin1Char('/') + QString::fromLatin1(name);
    }
    // Records whether the presence timer ran while each dialog was up.
    std::vector<bool> presenceDuringDialog;
    void WatchDialogs()
    {
        dialogs.whileShown = [this] {
            presenceDuringDialog.push_back(Cycle().PresenceTimer().Enabled());
        };
    }
};

TEST(ParamFiles, SaveDialogStartsInTheModelFolderAndWritesTheFile)
{
    TFilesWindow fx;
    fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.WatchDialogs();
    fx.dialogs.answers = {fx.InFolder("mine.zeq")};
    fx.form->Saveas->trigger();

    ASSERT_EQ(fx.dialogs.requests.size(), 1);
    const TFileDialogRequest& r = fx.dialogs.requests[0];
    EXPECT_TRUE(fx.dialogs.wasSave[0]);
    EXPECT_EQ(r.initialDir, fx.Folder());
    EXPECT_EQ(r.fileName, fx.InFolder("Noname.zeq"));
    EXPECT_EQ(r.filter, "ZEQ Files [*.zeq]|*.zeq");
    EXPECT_EQ(PlainSuffix(r.defaultExt), "zeq");
    EXPECT_EQ(fx.presenceDuringDialog, std::vector<bool>{false});
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled())
        << "presence checks run again after the dialog";
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    const QByteArray saved = ReadBytes(fx.InFolder("mine.zeq"));
    // The demo regulator's values as the window shows them, then the six chosen items.
    EXPECT_TRUE(saved.endsWith("Data\r\n1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n")) << saved.toStdString();
    EXPECT_EQ(saved.count("\r\n"), 10);
}

struct TOverwriteCase {
    const char* name;
    QList<bool> answers; // to the overwrite question, in order
    QStringList dialog;  // answers of the save dialogs, in order
    int dialogsShown;
    bool replaced;
};
void PrintTo(const TOverwriteCase& c, std::ostream* os) { *os << c.name; }

class Overwrite : public testing::TestWithParam<TOverwriteCase> {};

TEST_P(Overwrite, AsksBeforeReplacingAnExistingFile)
{
    const TOverwriteCase& c = GetParam();
    TFilesWindow fx;
    fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const QString path = fx.InFolder("old.zeq");
    WriteBytes(path, "kept\r\n");
    QStringList answers;
    for (const QString& a : c.dialog)
        answers.append(a.isEmpty() ? QString() : path);
    fx.dialogs.answers = answers;
    int asked = 0;
    // The recording boxes give one answer for all questions; change it after each.
    fx.dialogs.whileShown = [&] {
        if (asked < c.answers.size())
            fx.boxes.answer = c.answers[asked++];
    };
    fx.form->Saveas->trigger();

    EXPECT_EQ(fx.dialogs.requests.size(), c.dialogsShown);
    for (const TFileDialogRequest& r : fx.dialogs.requests)
        EXPECT_EQ(r.fileName, fx.InFolder("Noname.zeq")) << "shown anew with the proposed name";
    ASSERT_EQ(fx.boxes.boxes.size(), c.answers.size());
    for (const TRecordedBox& b : fx.boxes.boxes) {
        EXPECT_EQ(b.caption, QString::fromUtf8("Otázka ..."));
        EXPECT_EQ(b.text, QString::fromUtf8("Soubor již existuje. Nahradit stávající soubor?"));
        EXPECT_EQ(b.buttons, (QStringList{"Ano", "Ne"}));
    }
    EXPECT_EQ(ReadBytes(path) != "kept\r\n", c.replaced);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
}

const TOverwriteCase kOverwrites[] = {
    {"Ano", {true}, {"old"}, 1, true},
    {"NeThenCancel", {false}, {"old", ""}, 2, false},
    {"NeThenAno", {false, true}, {"old", "old"}, 2, true},
};
INSTANTIATE_TEST_SUITE_P(ParamFiles, Overwrite, testing::ValuesIn(kOverwrites),
                         [](const auto& info) { return std::string(info.param.name); });

// The question as the user sees it: an information icon, the first button answers yes, the preset
// answer is the one Enter gives, and the old platform's line breaks break lines.
TEST(ParamFiles, TheQuestionBoxHasAnInformationIconAndAnoNe)
{
    const struct {
        const char* choice;
        TDefaultAnswer preset;
        const char* presetText;
    } cases[] = {{"Ano", TDefaultAnswer::Yes, "Ano"},
                 {"Ne", TDefaultAnswer::Yes, "Ano"},
                 {"Ano", TDefaultAnswer::No, "Ne"},
                 {"Ne", TDefaultAnswer::No, "Ne"}};
    for (const auto& c : cases) {
        const QString choice = QString::fromLatin1(c.choice);
        SCOPED_TRACE(c.choice + std::string(" preset ") + c.presetText);
        QWidget parent;
        TQtMessageBoxes boxes(&parent);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title, text, preset;
        QStringList buttons;
        // Runs inside the box's own event loop, and always ends it.
        QTimer::singleShot(0, [&] {
            auto* box = parent.findChild<QMessageBox*>();
            if (!box)
                return;
            icon = box->icon();
            title = box->windowTitle();
            text = box->text();
            preset = box->defaultButton() ? box->defaultButton()->text() : QString();
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                buttons.append(b->text());
                if (b->text() == choice)
                    chosen = b;
            }
            chosen ? chosen->click() : box->reject();
        });
        const bool yes =
            boxes.Ask(QStringLiteral("Otázka ..."), QStringLiteral("Nahradit?\rOpravdu?"),
                      QStringLiteral("Ano"), QStringLiteral("Ne"), c.preset);
        EXPECT_EQ(yes, choice == QLatin1String("Ano"));
        EXPECT_EQ(icon, QMessageBox::Information);
        EXPECT_EQ(title, QStringLiteral("Otázka ..."));
        EXPECT_EQ(text, QStringLiteral("Nahradit?\nOpravdu?"));
        EXPECT_EQ(preset, QString::fromLatin1(c.presetText));
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{"Ano", "Ne"}));
    }
}

TEST(ParamFiles, OpenLoadsThePanelAndGroup0RunsTheMasterSwitch)
{
    TFilesWindow fx;
    fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    TParameterPanel& p = fx.Panel();
    ASSERT_EQ(p.ItemIndex(0), 1);
    ASSERT_TRUE(p.GroupEnabled(3));
    // Group 0 to its first item switches the other groups off.
    WriteBytes(fx.InFolder("off.zeq"), "1\r\n2\r\n3\r\nData\r\n0\r\n-1\r\n9\r\n");
    fx.WatchDialogs();
    fx.dialogs.answers = {fx.InFolder("off.zeq")};
    fx.form->Open->trigger();

    ASSERT_EQ(fx.dialogs.requests.size(), 1);
    EXPECT_FALSE(fx.dialogs.wasSave[0]);
    EXPECT_EQ(fx.dialogs.requests[0].initialDir, fx.Folder());
    EXPECT_EQ(fx.dialogs.requests[0].filter, "Soubory aplikace Korvalinex regulator [*.zeq]|*.zeq");
    EXPECT_EQ(fx.presenceDuringDialog, std::vector<bool>{false});
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
    EXPECT_EQ(p.DisplayText(0), "1");
    EXPECT_EQ(p.DisplayText(2), "3");
    EXPECT_EQ(p.ItemIndex(0), 0);
    EXPECT_EQ(p.ItemIndex(1), -1);
    EXPECT_EQ(p.ItemIndex(2), 2) << "9 is no item of group 2";
    EXPECT_FALSE(p.GroupEnabled(2));
    EXPECT_FALSE(p.GroupEnabled(3));
    ASSERT_EQ(fx.boxes.boxes.size(), 1) << "three groups of six do not fit: asked, and \"Ano\"";
    EXPECT_EQ(fx.Count(regsim::Message::Write), 0) << "loading sends nothing";
}

// A file set against the demo regulator's model (three values; groups of 2, 4, 6, 4, 4 and 2
// items, as read: 1 0 2 0 3 1): one that fits loads without a word; one that does not is loaded
// only on "Ano", and the question says what does not fit.
struct TFitCase {
    const char* name;
    const char* values;     // the value lines, before "Data"
    const char* groupLines; // after it
    const char* misfit;     // the question's middle line; nullptr: no question
    bool answer;
    QList<int> items; // the panel's chosen items afterwards
};
void PrintTo(const TFitCase& c, std::ostream* os) { *os << c.name; }

class Fit : public testing::TestWithParam<TFitCase> {};

TEST_P(Fit, AFileThatDoesNotFitIsLoadedOnlyOnAno)
{
    const TFitCase& c = GetParam();
    TFilesWindow fx;
    fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const QString before = fx.Panel().DisplayText(0);
    WriteBytes(fx.InFolder("other.zeq"), QByteArray(c.values) + "Data\r\n" + c.groupLines);
    fx.boxes.answer = c.answer;
    fx.dialogs.answers = {fx.InFolder("other.zeq")};
    fx.form->Open->trigger();

    if (c.misfit) {
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        const TRecordedBox& b = fx.boxes.boxes[0];
        EXPECT_EQ(b.caption, QString::fromUtf8("Otázka ..."));
        EXPECT_EQ(b.text, QString::fromUtf8("Soubor other.zeq neodpovídá tomuto regulátoru:\r") +
                              QString::fromUtf8(c.misfit) +
                              QString::fromUtf8("\rPřesto ho načíst?"));
        EXPECT_EQ(b.buttons, (QStringList{"Ano", "Ne"}));
        EXPECT_EQ(b.preset, TDefaultAnswer::No);
    } else {
        EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    }
    QList<int> items;
    for (int g = 0; g < fx.Panel().GroupCount(); ++g)
        items.append(fx.Panel().ItemIndex(g));
    EXPECT_EQ(items, c.items);
    const bool loaded = !c.misfit || c.answer;
    EXPECT_EQ(fx.Panel().DisplayText(0), loaded ? QStringLiteral("1") : before);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
}

const char kThree[] = "1\r\n2\r\n3\r\n";
const TFitCase kFits[] = {
    {"Fits", kThree, "0\r\n3\r\n5\r\n-1\r\n2\r\n0\r\n", nullptr, false, {0, 3, 5, -1, 2, 0}},
    {"FiveGroupsAno",
     kThree,
     "0\r\n3\r\n5\r\n1\r\n2\r\n",
     "Počet skupin voleb: v souboru 5, v tomto regulátoru 6",
     true,
     {0, 3, 5, 1, 2, 1}},
    {"FiveGroupsNe",
     kThree,
     "0\r\n3\r\n5\r\n1\r\n2\r\n",
     "Počet skupin voleb: v souboru 5, v tomto regulátoru 6",
     false,
     {1, 0, 2, 0, 3, 1}},
    {"NoItemNe",
     kThree,
     "0\r\n3\r\n6\r\n1\r\n2\r\n0\r\n",
     "Skupina 3 (Počet článků) nemá položku 7",
     false,
     {1, 0, 2, 0, 3, 1}},
    {"TwoProblemsAno",
     kThree,
     "0\r\n3\r\n6\r\n1\r\n2\r\n",
     "Počet skupin voleb: v souboru 5, v tomto regulátoru 6; skupina 3 (Počet článků) nemá položku "
     "7",
     true,
     {0, 3, 2, 1, 2, 1}},
    {"FourValuesNe",
     "1\r\n2\r\n3\r\n4\r\n",
     "0\r\n3\r\n5\r\n-1\r\n2\r\n0\r\n",
     "Počet hodnot: v souboru 4, v tomto regulátoru 3",
     false,
     {1, 0, 2, 0, 3, 1}},
};
INSTANTIATE_TEST_SUITE_P(ParamFiles, Fit, testing::ValuesIn(kFits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParamFiles, CancelledOpenLoadsNothingAndRestartsThePresenceTimerOnlyIfItRan)
{
    TFilesWindow fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const QString before = fx.Panel().DisplayText(0);
    const int item = fx.Panel().ItemIndex(0);
    f.Open->trigger();
    EXPECT_EQ(fx.dialogs.requests.size(), 1);
    EXPECT_TRUE(fx.boxes.boxes.isEmpty()) << "a cancelled dialog shows no box";
    EXPECT_EQ(fx.Panel().DisplayText(0), before) << "and loads nothing";
    EXPECT_EQ(fx.Panel().ItemIndex(0), item);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
    fx.Cycle().PresenceTimer().Stop();
    f.Open->trigger();
    EXPECT_FALSE(fx.Cycle().PresenceTimer().Enabled());
}

// A file that is not there, or larger than a parameter file may be (4 MiB, written in bytes here so
// that a limit that moves is seen), gets the error box; one at the limit loads.
TEST(ParamFiles, AFileThatCannotBeOpenedIsReportedInTheErrorBox)
{
    constexpr qint64 kMiB = 1024 * 1024;
    const struct {
        const char* name;
        qint64 size; // -1: no file
    } rows[] = {{"gone.zeq", -1}, {"huge.zeq", 4 * kMiB + 1}, {"at-limit.zeq", 4 * kMiB}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TFilesWindow fx;
        fx.Connect();
        ASSERT_TRUE(fx.RunUntilIdle());
        const QString path = fx.InFolder(row.name);
        QStringList lines = ParameterFileLines(fx.Panel());
        lines[0] = "1.5";
        if (row.size >= 0)
            WriteSparse(path, EncodeParameterFile(lines), row.size);
        fx.dialogs.answers = {path};
        fx.form->OpenClick();
        EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
        if (row.size == 4 * kMiB) {
            EXPECT_TRUE(fx.boxes.boxes.isEmpty());
            EXPECT_EQ(fx.Panel().DisplayText(0), "1.5");
            continue;
        }
        ASSERT_EQ(fx.boxes.boxes.size(), 1);
        EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
        EXPECT_EQ(fx.boxes.boxes[0].caption, "Chyba !!!");
        EXPECT_EQ(fx.boxes.boxes[0].text,
                  QString::fromUtf8("Chyba pri otevírání souboru \r") + path + QLatin1Char('.'));
        EXPECT_NE(fx.Panel().DisplayText(0), "1.5");
    }
}

// What cannot be loaded whole is refused with the error box, before any question, and leaves the
// window as it was: values, groups, throttle fields, the marks of changes not yet written. Values
// that did load are the file's, grey and saying so, until the next read.
TEST(ParamFiles, ALoadIsAllOrNothingAndItsValuesAreTheFilesUntilTheNextRead)
{
    const struct {
        const char* name;
        QByteArray file;
        const char* refused; // the box's reason; nullptr: loaded
    } rows[] = {
        {"text", "hello world\r\nno settings here\r\n", "Soubor nemá řádek \"Data\""},
        {"binary",
         QByteArray("\xff\xd8\xff\xe0\r\n\x01"
                    "Data",
                    11),
         "Soubor nemá řádek \"Data\""},
        {"values short of the marker", "7\r\nData\r\n", "Soubor je příliš krátký (řádků: 1)"},
        {"a group line not a number", "7\r\n8\r\n9\r\nData\r\n0\r\nx\r\n", "\"x\" na rádku 6"},
        {"fits", "7\r\n8\r\n9\r\nData\r\n0\r\n3\r\n5\r\n-1\r\n2\r\n0\r\n", nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TFilesWindow fx;
        TMainForm& f = fx.Connect();
        ASSERT_TRUE(fx.RunUntilIdle());
        fx.Panel().SetItemIndex(1, 3);
        f.LKorekceA->SetValue(1.25);
        const QStringList before = ParameterFileLines(fx.Panel());
        const QString throttle = f.LKorekceA->text();
        const int unwritten = fx.Panel().Model().UnwrittenCount();
        const QColor text = fx.Panel().ValueLabel(0)->palette().color(QPalette::WindowText);
        WriteBytes(fx.InFolder("in.zeq"), r.file);
        fx.dialogs.answers = {fx.InFolder("in.zeq")};
        f.Open->trigger();
        QLabel* value = fx.Panel().ValueLabel(0);
        if (r.refused) {
            ASSERT_EQ(fx.boxes.boxes.size(), 1);
            EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
            EXPECT_TRUE(fx.boxes.boxes[0].text.contains(QString::fromUtf8(r.refused)))
                << fx.boxes.boxes[0].text.toStdString();
            EXPECT_EQ(ParameterFileLines(fx.Panel()), before);
            EXPECT_EQ(f.LKorekceA->text(), throttle);
            EXPECT_EQ(fx.Panel().Model().UnwrittenCount(), unwritten);
            EXPECT_TRUE(value->toolTip().isEmpty());
            continue;
        }
        EXPECT_TRUE(fx.boxes.boxes.isEmpty());
        EXPECT_EQ(value->text(), "7");
        EXPECT_TRUE(value->toolTip().contains(fx.InFolder("in.zeq")))
            << value->toolTip().toStdString();
        EXPECT_EQ(value->accessibleDescription(), value->toolTip());
        EXPECT_NE(value->palette().color(QPalette::WindowText), text);
        fx.boxes.choices = {1}; // the file's changes dropped for the regulator's settings
        f.Button1->click();
        ASSERT_TRUE(fx.RunUntilIdle());
        EXPECT_TRUE(value->toolTip().isEmpty());
        EXPECT_EQ(value->palette().color(QPalette::WindowText), text);
    }
}

TEST(ParamFiles, WithoutAPanelNeitherDialogOpens)
{
    TFilesWindow fx(false); // no model definition file for the regulator
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return f.Open->isEnabled(); }, 3000));
    fx.boxes.boxes.clear();
    f.Open->trigger();
    f.Saveas->trigger();
    EXPECT_TRUE(fx.dialogs.requests.isEmpty());
    ASSERT_EQ(fx.boxes.boxes.size(), 2);
    EXPECT_TRUE(
        fx.boxes.boxes[0].text.contains(QStringLiteral("chybí definiční soubor regulátoru")));
}

} // namespace
