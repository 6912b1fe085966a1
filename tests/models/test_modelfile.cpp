#include "models/modelfile.h"

#include "common/errors.h"
#include "common/profile.h"
#include "tests/models/modelfixture.h"

namespace {

class ModelFile : public ::testing::Test {
protected:
    QString Write(const QString& name, const QStringList& lines)
    {
        const QString path = dir.filePath(name);
        WriteLines(path, lines);
        return path;
    }
    QTemporaryDir dir;
};

TEST(ModelPaths, NamesThatCouldLeaveTheirFolderAreUnsafe)
{
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"ZQ-40 A", true},    {"Model.v2", true}, {"Regulátor 3", true}, {"...x", false},
        {"", false},          {".", false},       {"..", false},         {"../Data", false},
        {"a/b", false},       {"/abs", false},    {"a\\b", false},       {"x..y", false},
        {"tab\there", false}, {"nl\n", false},    {"del\x7f", false},    {"\x01", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeModelName(QString::fromUtf8(c.name)), c.safe) << c.name;
}

TEST_F(ModelFile, ExampleGivesOneGroupAndTwoDisplayEntries)
{
    TModelDefinition def;
    ASSERT_TRUE(def.Load(Write("ex.ini", ExampleModel())));
    EXPECT_EQ(def.SectionNames(), QStringList({"S1", "S2"}));
    ASSERT_EQ(def.SectionEntries().size(), 2);
    EXPECT_EQ(def.SectionEntries()[0], QStringList({"A000=Option A", "A001=off", "A002=on"}));
    ASSERT_EQ(def.GroupCount(), 1);
    EXPECT_EQ(def.GroupCaption(0), "  Option A  ");
    EXPECT_EQ(def.GroupItems(0), QStringList({"off", "on"}));

    const QStringList texts = def.DisplayTexts();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(DisplayCaption(texts[0]), "Value X [V]:");
    EXPECT_EQ(DisplayCaption(texts[1]), "Value Y:");

    TMultiplierTable table;
    for (int k = 0; k < texts.size(); ++k)
        table.Derive(k, texts[k], false);
    EXPECT_DOUBLE_EQ(table.Slot(1), 0.1);
    EXPECT_EQ(table.Slot(2), 0.0);
    EXPECT_EQ(table.Count(), 1);
}

TEST_F(ModelFile, ADuplicatedKeyShowsItsFirstValueTwice)
{
    // The section is walked by its key list, each key read by name: as the original program shows
    // such a file.
    TModelDefinition def;
    ASSERT_TRUE(def.Load(Write("dup.ini", {"[S1]", "A000=Title", "A001=off", "a001=on", "A002=x",
                                           "[S2]", "B000=V:1", "b000=W:2"})));
    EXPECT_EQ(def.GroupItems(0), QStringList({"off", "off", "x"}));
    EXPECT_EQ(def.DisplayTexts(), QStringList({"V:1", "V:1"}));
}

TEST_F(ModelFile, KeyLengthShiftsTheText)
{
    TModelDefinition def;
    ASSERT_TRUE(def.Load(Write("keys.ini", {"[D]", "abc=Temp:", "abcd=Temp:", "abcde=Temp:"})));
    const QStringList texts = def.DisplayTexts();
    ASSERT_EQ(texts, QStringList({"emp:", "Temp:", "=Temp:"}));
    EXPECT_EQ(DisplayCaption(texts[2]), "=Temp:");
}

TEST_F(ModelFile, OneSectionMeansDisplayEntriesOnly)
{
    TModelDefinition def;
    ASSERT_TRUE(def.Load(Write("one.ini", {"[Only]", "K000=U [V]:0,5", "K001=T:"})));
    EXPECT_EQ(def.GroupCount(), 0);
    EXPECT_EQ(def.DisplayTexts(), QStringList({"U [V]:0,5", "T:"}));
}

TEST_F(ModelFile, FilesWithoutSectionsCountAsMissing)
{
    TModelDefinition def;
    EXPECT_FALSE(def.Load(Write("nosec.ini", {"; a comment", "K000=Temp:"})));
    EXPECT_TRUE(def.IsEmpty());
    EXPECT_FALSE(def.Load(Write("empty.ini", {})));
    EXPECT_FALSE(def.Load(dir.filePath("absent.ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    EXPECT_FALSE(def.Load(dir.filePath("folder.ini")));
    // A file larger than any model definition is refused before it is read.
    const QString huge = Write("huge.ini", {"[S1]", "A000=Title", "[D]", "K000=Temp:"});
    ASSERT_TRUE(def.Load(huge));
    ASSERT_TRUE(QFile::resize(huge, kProfileFileMaxBytes + 1));
    EXPECT_FALSE(def.Load(huge));
    EXPECT_TRUE(def.IsEmpty());
}

TEST(Multipliers, EntryKinds)
{
    const struct {
        const char* text;
        bool alternate;
        double slot;
        int count;
        const char* caption;
    } cases[] = {
        {"Temp:", false, 0.0, 0, "Temp:"},
        {"U [V]:0,1", false, 0.1, 1, "U [V]:"},
        {"U [V]:0.1", false, 0.1, 1, "U [V]:"},
        {"I [A]:1;2", false, 1.0, 1, "I [A]:"},
        {"I [A]:1;2", true, 2.0, 1, "I [A]:"},
        {"I [A]:0,5;2.5", true, 2.5, 1, "I [A]:"},
        {"X:0", false, 0.0, 1, "X:"}, // counts, yet shows as a lookup entry
        {"2,5", false, 2.5, 1, ""},   // no ":": all of it is the multiplier part
        {"", false, 0.0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(DisplayCaption(text), QString::fromUtf8(c.caption));
        TMultiplierTable table;
        table.Derive(0, text, c.alternate);
        EXPECT_DOUBLE_EQ(table.Slot(1), c.slot);
        EXPECT_EQ(table.Count(), c.count);
    }
}

TEST(Multipliers, BadNumbersFailAndLeaveTheTableAlone)
{
    const char* bad[] = {"Value", "A;B:0,1", "U:abc", "I:1;x", "I:;2", "U:1,000.5", "a:b:0,5"};
    for (const char* text : bad) {
        TMultiplierTable table;
        table.Derive(0, "U:0,2", false);
        EXPECT_THROW(table.Derive(0, QString::fromUtf8(text), false), EConvertError) << text;
        EXPECT_DOUBLE_EQ(table.Slot(1), 0.2) << text;
        EXPECT_EQ(table.Count(), 1) << text;
    }
}

TEST(Multipliers, OnlyTheFirstThreeEntriesHaveSlots)
{
    TMultiplierTable table;
    const QStringList texts = {"A:1", "B:2", "C:3", "D:4", "E:not a number"};
    for (int k = 0; k < texts.size(); ++k)
        table.Derive(k, texts[k], false);
    EXPECT_EQ(table.Slot(1), 1.0);
    EXPECT_EQ(table.Slot(3), 3.0);
    EXPECT_EQ(table.Slot(0), 0.0);
    EXPECT_EQ(table.Slot(4), 0.0);
    EXPECT_EQ(table.Count(), 3);
}

TEST(Multipliers, LookupBeforeMultiplierLeavesCountBelowItsPosition)
{
    TMultiplierTable table;
    table.Derive(0, "T:", false);
    table.Derive(1, "U:0,5", false);
    EXPECT_EQ(table.Slot(1), 0.0);
    EXPECT_DOUBLE_EQ(table.Slot(2), 0.5);
    EXPECT_EQ(table.Count(), 1); // entry 2 lies beyond the count, so it reads as a lookup entry
}

} // namespace
