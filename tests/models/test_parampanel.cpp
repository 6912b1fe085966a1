#include "models/parampanel.h"

#include "i18n/msglangres.h"
#include "tests/models/modelfixture.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <memory>

namespace {

const QString kStr10 = QStringLiteral("Pro správnou funkci potrebuje aplikace  soubor ");

class Panel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + "/";
        QDir dir(tmp.path());
        ASSERT_TRUE(dir.mkpath("Regulators/CZ") && dir.mkpath("Regulators/EN") &&
                    dir.mkpath("Data"));
        window.resize(802, 608);
        panel1 = new QWidget(&window);
        panel1->setGeometry(0, 22, 317, 534);
        panel = new QScrollArea(&window);
        panel->setFrameShape(QFrame::NoFrame);
        panel->setGeometry(317, 22, 483, 534);
        window.show();
        p = std::make_unique<TParameterPanel>(
            panel1, panel, messages, [this](const QString& t) { shown << t; },
            [this](const QString& t) { errors << t; });
    }

    void WriteModel(const QString& lang, const QString& name, const QStringList& lines)
    {
        WriteLines(ModelFilePath(root, lang, name), lines);
    }
    ModelContext Ctx(const QString& name, const QString& lang = "CZ", bool alternate = false)
    {
        return {root, lang, name, alternate};
    }
    QStringList DataEntries() const
    {
        return QDir(root + "Data").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    QList<QRadioButton*> Items(int g) const
    {
        return p->Group(g)->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    }
    int RunTimeControls() const
    {
        int n = 0;
        for (QLabel* l : panel1->findChildren<QLabel*>())
            n += l->objectName().startsWith("Lab") ? 1 : 0;
        return n + int(panel->findChildren<QGroupBox*>().size());
    }
    // The colour an item is given; a disabled group greys it as the desktop greys any text.
    static QColor TextColour(const QWidget* w)
    {
        return w->palette().color(QPalette::Active, QPalette::WindowText);
    }

    QTemporaryDir tmp;
    QString root;
    QWidget window;
    QWidget* panel1 = nullptr;
    QScrollArea* panel = nullptr;
    TsmlMsgLangRes messages;
    QStringList shown;
    QStringList errors;
    std::unique_ptr<TParameterPanel> p;
};

TEST_F(Panel, ExampleBuildsNamedControlsAndTheParameterFolder)
{
    WriteModel("CZ", "ZQ 40", ExampleModel());
    p->BuildParameterPanel(Ctx("ZQ 40"));

    EXPECT_TRUE(shown.isEmpty());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_FALSE(p->ModelFileMissing());
    EXPECT_TRUE(QFileInfo(root + "Data/ZQ 40").isDir());

    ASSERT_EQ(p->DisplayCount(), 2);
    auto* lab10 = panel1->findChild<QLabel*>("Lab10");
    auto* lab11 = panel1->findChild<QLabel*>("Lab11");
    ASSERT_TRUE(lab10 && lab11);
    EXPECT_EQ(lab10, p->CaptionLabel(0));
    EXPECT_EQ(lab10->text(), "Value X [V]:");
    EXPECT_EQ(lab11->text(), "Value Y:");
    auto* lab21 = panel1->findChild<QLabel*>("Lab21");
    ASSERT_EQ(lab21, p->ValueLabel(1));
    EXPECT_EQ(lab21->text(), "- - - - -");
    EXPECT_EQ(lab21->font().pixelSize(), 13);
    EXPECT_TRUE(lab21->font().bold());
    EXPECT_DOUBLE_EQ(p->Multiplier(1), 0.1);
    EXPECT_EQ(p->Multiplier(2), 0.0);
    EXPECT_EQ(p->MultiplierCount(), 1);

    ASSERT_EQ(p->GroupCount(), 1);
    auto* sui0 = panel->findChild<QGroupBox*>("sui0");
    ASSERT_EQ(sui0, p->Group(0));
    EXPECT_EQ(sui0->title(), "  Option A  ");
    EXPECT_TRUE(sui0->font().bold());
    EXPECT_EQ(sui0->font().pixelSize(), 13);
    EXPECT_FALSE(sui0->isHidden());
    const QList<QRadioButton*> items = Items(0);
    ASSERT_EQ(items.size(), 2);
    const char* texts[] = {"off", "on"};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(items[i]->text(), texts[i]);
        EXPECT_EQ(items[i]->property("hint").toString(), QStringLiteral("| ") + texts[i]);
        EXPECT_TRUE(items[i]->toolTip().isEmpty());
        EXPECT_FALSE(items[i]->font().bold());
        EXPECT_EQ(items[i]->font().pixelSize(), 13);
    }
    EXPECT_EQ(p->ItemCount(0), 2);
    EXPECT_EQ(p->ItemIndex(0), -1);
    EXPECT_TRUE(p->GroupEnabled(0));
}

TEST_F(Panel, Geometry)
{
    QStringList display;
    for (int k = 0; k < 9; ++k)
        display << QStringLiteral("E%1:").arg(k);
    WriteModel("CZ", "G",
               ModelLines({{"Four", "a", "b", "c", "d"},
                           {"Five", "a", "b", "c", "d", "e"},
                           {"Seven", "i0", "i1", "i2", "i3", "i4", "i5", "i6"}},
                          display));
    p->BuildParameterPanel(Ctx("G"));
    ASSERT_EQ(p->DisplayCount(), 9);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(p->CaptionLabel(k)->pos(), QPoint(6, 324 + 26 * k)) << k;
        EXPECT_EQ(p->ValueLabel(k)->pos(), QPoint(254, 324 + 26 * k)) << k;
    }
    EXPECT_EQ(p->ValueLabel(8)->y(), 532); // below the 534-pixel column: not visible, no scrolling

    // Top to bottom in group order, inside the viewport with a margin on either side; the
    // nominal heights (45 up to four items, 90 from five) stand where the rows fit in them.
    const int width = panel->viewport()->width();
    EXPECT_EQ(width, 483);
    const int nominal[] = {45, 90, 90};
    int top = 0;
    for (int g = 0; g < 3; ++g) {
        const QRect frame = p->Group(g)->geometry();
        EXPECT_EQ(frame.left(), 4) << g;
        EXPECT_EQ(frame.width(), width - 8) << g;
        EXPECT_EQ(frame.top(), top) << g;
        EXPECT_GE(frame.height(), nominal[g]) << g;
        EXPECT_LE(frame.height(), nominal[g] + 4) << g << ": grows only as far as the rows need";
        top += frame.height();
    }

    // Seven items: two rows of four columns, filled column by column.
    const QRect inner = p->Group(2)->contentsRect();
    const int left = std::max(8, inner.left());
    const int column = (p->Group(2)->width() - 2 * left) / 4;
    const int row = inner.height() / 2;
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(p->ItemButton(2, i)->pos(),
                  QPoint(left + (i / 2) * column, inner.top() + (i % 2) * row))
            << i;
        EXPECT_EQ(p->ItemButton(2, i)->size(), QSize(column, row)) << i;
    }
    // One row: the whole height inside the frame.
    EXPECT_EQ(p->ItemButton(0, 3)->height(), p->Group(0)->contentsRect().height());
}

TEST_F(Panel, GroupsFollowTheViewportWhenItScrolls)
{
    QList<QStringList> groups;
    for (int g = 0; g < 9; ++g)
        groups << QStringList{"T", "a", "b", "c", "d", "e"};
    WriteModel("CZ", "Tall", ModelLines(groups, {"X:"}));
    p->BuildParameterPanel(Ctx("Tall"));
    QCoreApplication::processEvents();

    EXPECT_TRUE(panel->verticalScrollBar()->isVisible());
    const int width = panel->viewport()->width();
    EXPECT_LT(width, 483);
    EXPECT_EQ(p->Group(8)->x(), 4);
    EXPECT_EQ(p->Group(8)->width(), width - 8);
    EXPECT_EQ(panel->widget()->height(), p->Group(8)->geometry().bottom() + 1);
}

// What the user sees as one box: the caption, then the frame with every item inside it, and the
// frame inside the panel with the same margin left and right, also beside a scroll bar.
TEST_F(Panel, EveryGroupEnclosesItsItemsInsideThePanel)
{
    QStringList demo;
    {
        QFile file(QStringLiteral(KX_SOURCE_DIR "/data/Regulators/CZ/KVX-40 OPTO.ini"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        file.copy(ModelFilePath(root, "CZ", "Demo"));
    }
    QStringList longGroup{"Long"};
    for (int i = 0; i < 23; ++i)
        longGroup << QStringLiteral("Choice number %1").arg(i);
    QList<QStringList> tall{{"One", "a"}, longGroup};
    for (int g = 0; g < 6; ++g)
        tall << QStringList{"T", "a", "b", "c", "d", "e"};
    WriteModel("CZ", "LongGroup", ModelLines(tall, {"X:"}));

    for (const QString model : {"Demo", "LongGroup"}) {
        SCOPED_TRACE(model.toStdString());
        p->ClearParameterPanel();
        p->BuildParameterPanel(Ctx(model));
        QCoreApplication::processEvents();
        ASSERT_TRUE(shown.isEmpty() && errors.isEmpty());
        ASSERT_GT(p->GroupCount(), 0);
        const QRect viewport(QPoint(0, 0), panel->viewport()->size());
        int bottom = 0;
        for (int g = 0; g < p->GroupCount(); ++g) {
            QGroupBox* box = p->Group(g);
            const QRect frame = box->geometry();
            EXPECT_EQ(frame.left() - viewport.left(), viewport.right() - frame.right()) << g;
            EXPECT_GT(frame.left(), 0) << g;
            EXPECT_GE(frame.top(), bottom) << g << ": groups do not overlap";
            bottom = frame.bottom() + 1;
            const QRect inner = box->contentsRect();
            EXPECT_GT(inner.top(), QFontMetrics(box->font()).height() / 2)
                << g << ": the items start below the caption and the frame's top line";
            QRect previous;
            for (QRadioButton* item : Items(g)) {
                EXPECT_TRUE(inner.contains(item->geometry()))
                    << g << " " << item->text().toStdString();
                EXPECT_GE(item->height(), item->sizeHint().height()) << g;
                EXPECT_FALSE(previous.intersects(item->geometry())) << g;
                previous = item->geometry();
            }
        }
    }
}

TEST_F(Panel, MissingFileShowsTheMessageAndBuildsNothing)
{
    p->BuildParameterPanel(Ctx("ZQ 99"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], kStr10 + " ZQ 99.ini\r" + messages.LookupMessage("str30"));
    EXPECT_TRUE(p->ModelFileMissing());
    EXPECT_EQ(RunTimeControls(), 0);
    EXPECT_TRUE(DataEntries().isEmpty());

    // A file without sections is no better than none.
    WriteModel("CZ", "Blank", {"; nothing here"});
    p->BuildParameterPanel(Ctx("Blank"));
    EXPECT_EQ(shown.size(), 2);
    EXPECT_TRUE(p->ModelFileMissing());
    EXPECT_TRUE(DataEntries().isEmpty());

    WriteModel("CZ", "ZQ 99", ExampleModel());
    p->BuildParameterPanel(Ctx("ZQ 99"));
    EXPECT_FALSE(p->ModelFileMissing());
}

TEST_F(Panel, UnsafeModelNamesReachNoFileAndCreateNothing)
{
    // A definition waiting one level up: "../evil" would find it.
    WriteLines(root + "Regulators/evil.ini", ExampleModel());
    const QStringList before = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QString names[] = {"../evil", "..", ".", "", "a/b", "a\\b", "bad\x01name", "x\x7f"};
    int expectedMessages = 0;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        p->BuildParameterPanel(Ctx(name));
        ASSERT_EQ(shown.size(), ++expectedMessages);
        EXPECT_EQ(shown.last(), kStr10 + " " + name + ".ini\r" + messages.LookupMessage("str30"));
        EXPECT_TRUE(p->ModelFileMissing());
        EXPECT_EQ(RunTimeControls(), 0);
    }
    EXPECT_TRUE(DataEntries().isEmpty());
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Panel, ParameterFolderThatCannotBeMadeIsReported)
{
    WriteModel("CZ", "ZQ", ExampleModel());
    ASSERT_TRUE(QDir(root + "Data").removeRecursively());
    p->BuildParameterPanel(Ctx("ZQ"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("No such file or directory")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(root + "Data/ZQ"));
    EXPECT_FALSE(QFileInfo::exists(root + "Data"));
    EXPECT_EQ(RunTimeControls(), 0);
    EXPECT_TRUE(p->ModelFileMissing()); // no read may follow into an empty panel
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(Panel, BadNumberStopsTheBuildAtThatEntry)
{
    WriteModel("CZ", "Bad", ModelLines({{"Mode", "a", "b"}}, {"A:0,5", "B:x", "C:"}));
    p->BuildParameterPanel(Ctx("Bad"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "'x' is not a valid floating point value");
    ASSERT_TRUE(p->CaptionLabel(0) && p->CaptionLabel(1));
    EXPECT_EQ(p->CaptionLabel(0)->text(), "A:");
    EXPECT_EQ(p->CaptionLabel(2), nullptr);
    EXPECT_EQ(p->DisplayCount(), 0);
    EXPECT_EQ(p->GroupCount(), 0);
    EXPECT_TRUE(p->ModelFileMissing());

    // What the stopped build left goes with the next clear.
    p->ClearParameterPanel();
    EXPECT_EQ(RunTimeControls(), 0);
    EXPECT_EQ(p->MultiplierCount(), 0);
}

TEST_F(Panel, EveryBuildStartsFromNothing)
{
    // The resets skip the clear while the model is flagged missing, as a stopped build leaves it:
    // three failed identifications in a row, then the file is mended.
    WriteModel("CZ", "M", ModelLines({{"Mode", "a", "b"}}, {"A:0,5", "B:x", "C:"}));
    for (int i = 0; i < 3; ++i)
        p->BuildParameterPanel(Ctx("M"));
    EXPECT_EQ(panel1->findChildren<QLabel*>("Lab10").size(), 1);
    WriteModel("CZ", "M", ModelLines({{"Mode", "a", "b"}}, {"A:0,5", "B:2", "C:"}));
    p->BuildParameterPanel(Ctx("M"));
    ASSERT_FALSE(p->ModelFileMissing());
    EXPECT_EQ(RunTimeControls(), 3 + 3 + 1);
    const QList<QLabel*> captions = panel1->findChildren<QLabel*>("Lab11");
    ASSERT_EQ(captions.size(), 1);
    EXPECT_EQ(captions[0], p->CaptionLabel(1));
    EXPECT_EQ(captions[0]->text(), "B:");
}

class PanelRelabel : public Panel {
protected:
    void SetUp() override
    {
        Panel::SetUp();
        WriteModel("CZ", "ZQ",
                   ModelLines({{"Režim", "vyp", "zap"}, {"Brzda", "slabá", "střední", "silná"}},
                              {"Napětí [V]:0,1", "Proud [A]:0,5;1", "Teplota:"}));
        p->BuildParameterPanel(Ctx("ZQ", "CZ", true));
        ASSERT_FALSE(p->ModelFileMissing());
        p->SetDisplayText(0, "12.3");
        p->SetItemIndex(1, 2);
        p->SetItemColours(1, 2);
        p->SetGroupEnabled(1, false);
    }
    void ExpectStateKept()
    {
        EXPECT_EQ(p->DisplayText(0), "12.3");
        EXPECT_EQ(p->DisplayText(1), "- - - - -");
        EXPECT_EQ(p->ItemIndex(1), 2);
        EXPECT_EQ(p->ItemIndex(0), -1);
        EXPECT_EQ(TextColour(p->ItemButton(1, 2)), QColor(0, 0, 255));
        EXPECT_EQ(TextColour(p->ItemButton(1, 0)), QColor(0, 0, 0));
        EXPECT_FALSE(p->GroupEnabled(1));
        EXPECT_TRUE(p->GroupEnabled(0));
    }
};

TEST_F(PanelRelabel, ReplacesCaptionsAndKeepsValuesSelectionsColoursAndStates)
{
    WriteModel("EN", "ZQ",
               ModelLines({{"Mode", "off", "on"}, {"Brake", "soft", "medium", "hard"}},
                          {"Voltage [V]:0,1", "Current [A]:0,5;1", "Temperature:"}));
    ASSERT_EQ(p->MultiplierCount(), 2);
    for (int round = 0; round < 2; ++round) {
        p->RelabelParameterPanel(Ctx("ZQ", "EN", true));
        EXPECT_EQ(p->MultiplierCount(), 2) << round;
    }
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_DOUBLE_EQ(p->Multiplier(1), 0.1);
    EXPECT_EQ(p->Multiplier(2), 1.0);
    EXPECT_EQ(p->CaptionLabel(0)->text(), "Voltage [V]:");
    EXPECT_EQ(p->CaptionLabel(2)->text(), "Temperature:");
    EXPECT_EQ(p->Group(0)->title(), "  Mode  ");
    EXPECT_EQ(p->Group(1)->title(), "  Brake  ");
    EXPECT_EQ(p->ItemButton(1, 2)->text(), "hard");
    EXPECT_EQ(p->ItemButton(1, 2)->property("hint").toString(), "| hard");
    ExpectStateKept();
}

TEST_F(PanelRelabel, MissingFileKeepsThePanelAndOmitsTheBlank)
{
    p->RelabelParameterPanel(Ctx("ZQ", "GE", true));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], kStr10 + "ZQ.ini\r" + messages.LookupMessage("str30"));
    EXPECT_FALSE(p->ModelFileMissing());
    EXPECT_EQ(p->CaptionLabel(0)->text(), "Napětí [V]:");
    EXPECT_EQ(p->Group(1)->title(), "  Brzda  ");
    EXPECT_EQ(p->MultiplierCount(), 2);
    ExpectStateKept();
}

TEST_F(PanelRelabel, OtherCountsRelabelWhatExistsByPosition)
{
    // One group more and one item more, one display entry fewer and the second group's title only.
    WriteModel("EN", "ZQ",
               ModelLines({{"Mode", "off", "on", "auto"}, {"Brake"}, {"Extra", "x"}},
                          {"Voltage [V]:0,2"}));
    p->RelabelParameterPanel(Ctx("ZQ", "EN", true));
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(p->GroupCount(), 2);
    EXPECT_EQ(p->ItemCount(0), 2);
    EXPECT_EQ(p->ItemButton(0, 1)->text(), "on");
    EXPECT_EQ(p->Group(1)->title(), "  Brake  ");
    EXPECT_EQ(p->ItemButton(1, 0)->text(), "slabá");
    EXPECT_EQ(p->DisplayCount(), 3);
    EXPECT_EQ(p->CaptionLabel(0)->text(), "Voltage [V]:");
    EXPECT_EQ(p->CaptionLabel(1)->text(), "Proud [A]:");
    // The entry the file does not describe keeps its scaling.
    EXPECT_DOUBLE_EQ(p->Multiplier(1), 0.2);
    EXPECT_EQ(p->Multiplier(2), 1.0);
    EXPECT_EQ(p->MultiplierCount(), 2);
    EXPECT_EQ(panel->findChildren<QGroupBox*>().size(), 2);
    ExpectStateKept();
}

TEST_F(PanelRelabel, BadNumberInTheNewFileChangesNothing)
{
    WriteModel("EN", "ZQ", ModelLines({{"Mode", "off", "on"}}, {"Voltage [V]:0,1", "Current:abc"}));
    p->RelabelParameterPanel(Ctx("ZQ", "EN", true));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(p->CaptionLabel(0)->text(), "Napětí [V]:");
    EXPECT_EQ(p->Group(0)->title(), "  Režim  ");
    EXPECT_EQ(p->Multiplier(2), 1.0);
    EXPECT_EQ(p->MultiplierCount(), 2);
}

TEST_F(Panel, ClearRemovesEveryControlAndTheMultipliers)
{
    WriteModel("CZ", "A", ModelLines({{"M", "a", "b"}, {"N", "c"}}, {"U:0,5", "I:2", "P:3"}));
    p->BuildParameterPanel(Ctx("A"));
    p->SetActiveOptionCount(2);
    p->SetUnassignedBytes("\x01\x02");
    ASSERT_EQ(p->MultiplierCount(), 3);
    ASSERT_EQ(RunTimeControls(), 8);

    p->ClearParameterPanel();
    EXPECT_EQ(RunTimeControls(), 0);
    EXPECT_EQ(panel->findChildren<QRadioButton*>().size(), 0);
    EXPECT_EQ(p->DisplayCount(), 0);
    EXPECT_EQ(p->GroupCount(), 0);
    EXPECT_EQ(p->MultiplierCount(), 0);
    for (int slot = 1; slot <= 3; ++slot)
        EXPECT_EQ(p->Multiplier(slot), 0.0) << slot;
    EXPECT_TRUE(p->Definition().IsEmpty());
    EXPECT_EQ(p->ActiveOptionCount(), 0);
    EXPECT_TRUE(p->UnassignedBytes().isEmpty());

    // A model with lookup entries there shows them as such after another had multipliers.
    WriteModel("CZ", "B", ModelLines({}, {"T1:", "T2:"}));
    p->BuildParameterPanel(Ctx("B"));
    EXPECT_EQ(p->Multiplier(1), 0.0);
    EXPECT_EQ(p->MultiplierCount(), 0);
    EXPECT_EQ(p->GroupCount(), 0);
}

TEST_F(Panel, ItemIndexAndColours)
{
    WriteModel("CZ", "A", ModelLines({{"M", "a", "b", "c"}}, {}));
    p->BuildParameterPanel(Ctx("A"));
    p->SetItemIndex(0, 2);
    EXPECT_EQ(p->ItemIndex(0), 2);
    EXPECT_TRUE(p->ItemButton(0, 2)->isChecked());
    p->SetItemIndex(0, 3);  // beyond the items
    p->SetItemIndex(0, -2); // not an index
    EXPECT_EQ(p->ItemIndex(0), 2);
    p->SetItemIndex(0, -1);
    EXPECT_EQ(p->ItemIndex(0), -1);
    EXPECT_FALSE(p->ItemButton(0, 2)->isChecked());
    p->SetItemIndex(0, 0);
    EXPECT_EQ(p->ItemIndex(0), 0);

    p->SetItemColours(0, 1);
    const QColor blue(0, 0, 255), black(0, 0, 0);
    for (int i = 0; i < 3; ++i) {
        const QColor want = i == 1 ? blue : black;
        EXPECT_EQ(TextColour(p->ItemButton(0, i)), want) << i;
    }
    p->SetItemColours(0, -1);
    EXPECT_EQ(TextColour(p->ItemButton(0, 1)), black);
    // Out-of-range groups are ignored rather than crashing a decoding.
    p->SetItemIndex(7, 0);
    p->SetItemColours(7, 0);
    EXPECT_EQ(p->ItemIndex(7), -1);
    EXPECT_FALSE(p->GroupEnabled(7));
}

class MasterSwitch : public Panel {
protected:
    void SetUp() override
    {
        Panel::SetUp();
        QList<QStringList> groups;
        for (int g = 0; g < 8; ++g)
            groups << QStringList{"T", "first", "second", "third"};
        WriteModel("CZ", "Eight", ModelLines(groups, {"X:"}));
        p->BuildParameterPanel(Ctx("Eight"));
        ASSERT_EQ(p->GroupCount(), 8);
        p->SetActiveOptionCount(5);
    }
    QString Enabled() const
    {
        QString s;
        for (int g = 0; g < p->GroupCount(); ++g)
            s += p->GroupEnabled(g) ? '1' : '0';
        return s;
    }
    void EnableAll()
    {
        for (int g = 0; g < p->GroupCount(); ++g)
            p->SetGroupEnabled(g, true);
    }
};

TEST_F(MasterSwitch, RunsOnEveryDifferentChoiceOfGroupZero)
{
    EXPECT_EQ(Enabled(), "11111111");
    p->SetItemIndex(0, 1);
    EXPECT_EQ(Enabled(), "11111000");

    p->SetItemIndex(0, 0);
    EXPECT_EQ(Enabled(), "11000000");

    EnableAll();
    p->SetItemIndex(0, 0); // the same item again
    EXPECT_EQ(Enabled(), "11111111");
    p->SetItemIndex(0, -1); // clearing
    EXPECT_EQ(Enabled(), "11111111");
    p->SetItemIndex(0, 0); // from nothing chosen is a change
    EXPECT_EQ(Enabled(), "11000000");

    // Other groups have no handler.
    EnableAll();
    p->SetItemIndex(1, 0);
    EXPECT_EQ(Enabled(), "11111111");
}

TEST_F(MasterSwitch, ActiveCountBeyondTheGroupsIsBounded)
{
    p->SetActiveOptionCount(20);
    p->SetItemIndex(0, 2);
    EXPECT_EQ(Enabled(), "11111111");
    p->SetActiveOptionCount(0);
    p->SetItemIndex(0, 1);
    EXPECT_EQ(Enabled(), "11000000");
}

TEST_F(MasterSwitch, UserClickSpaceAndEnter)
{
    // A click lands on the button's indicator, as a user's would.
    const auto click = [](QRadioButton* b) {
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    };
    click(p->ItemButton(0, 2));
    EXPECT_EQ(p->ItemIndex(0), 2);
    EXPECT_EQ(Enabled(), "11111000");

    EnableAll();
    click(p->ItemButton(0, 2)); // already chosen
    EXPECT_EQ(Enabled(), "11111111");

    QTest::keyClick(p->ItemButton(0, 0), Qt::Key_Space);
    EXPECT_EQ(p->ItemIndex(0), 0);
    EXPECT_EQ(Enabled(), "11000000");

    QTest::keyClick(p->ItemButton(0, 1), Qt::Key_Return);
    EXPECT_EQ(p->ItemIndex(0), 1);
    EXPECT_EQ(Enabled(), "11111000");
}

} // namespace
