// Parameter files set against the panel of a regulator definition: what does not fit, and which
// settings differ.

#include "i18n/msglangres.h"
#include "models/modelfile.h"
#include "models/panelmodel.h"
#include "models/paramcompare.h"
#include "tests/models/modelfixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Two values and groups of 3, 2 and 4 items; the panel holds 11,8 / 20 and items 1, 0, 3.
struct TPanelRig {
    QTemporaryDir tmp;
    TsmlMsgLangRes messages;
    QStringList complaints;
    TPanelModel panel{messages, [this](const QString& t) { complaints << t; },
                      [this](const QString& t) { complaints << t; }};

    TPanelRig()
    {
        const QString root = tmp.path() + "/";
        QDir(root).mkpath("Regulators/CZ");
        QDir(root).mkpath("Data/M");
        WriteLines(ModelFilePath(root, "CZ", "M"), ModelLines({{"Brzda", "vyp", "slabá", "silná"},
                                                               {"Směr", "vpřed", "vzad"},
                                                               {"Start", "1", "2", "3", "4"}},
                                                              {"Napětí [V]:0,1", "Teplota:"}));
        panel.BuildParameterPanel({root, "CZ", "M", false});
        panel.SetDisplayText(0, "11,8");
        panel.SetDisplayText(1, "20");
        for (const int g : {0, 1, 2})
            panel.SetItemIndex(g, QList<int>{1, 0, 3}[g]);
    }
};

TEST(ParameterFit, NamesWhatDoesNotFitTheRegulator)
{
    TPanelRig rig;
    ASSERT_EQ(rig.panel.GroupCount(), 3) << rig.complaints.join("|").toStdString();
    const struct {
        const char* name;
        QStringList file;
        QStringList problems;
    } rows[] = {
        {"fits", {"1", "2", "Data", "0", "1", "-1"}, {}},
        {"the panel's own file", {"11,8", "20", "Data", "1", "0", "3"}, {}},
        {"a value that reads Data", {"Data", "2", "Data", "0", "1", "0"}, {}},
        {"fewer values",
         {"1", "Data", "0", "1", "0"},
         {"počet hodnot: v souboru 1, v tomto regulátoru 2"}},
        {"more groups",
         {"1", "2", "Data", "0", "1", "0", "2"},
         {"počet skupin voleb: v souboru 4, v tomto regulátoru 3"}},
        {"fewer groups, one out of range",
         {"1", "2", "Data", "3"},
         {"počet skupin voleb: v souboru 1, v tomto regulátoru 3",
          "skupina 1 (Brzda) nemá položku 4"}},
        {"last item and beyond",
         {"1", "2", "Data", "2", "2", "4"},
         {"skupina 2 (Směr) nemá položku 3", "skupina 3 (Start) nemá položku 5"}},
        {"not a number, below none",
         {"1", "2", "Data", " x ", "-2", "0"},
         {"skupina 1 (Brzda): \"x\" není číslo položky",
          "skupina 2 (Směr): \"-2\" není číslo položky"}},
        {"no marker", {"1", "2", "0", "1", "0"}, {"soubor nemá řádek \"Data\""}},
        {"empty", {}, {"soubor nemá řádek \"Data\""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TParameterFit fit = CheckParameterFit(rig.panel, row.file, rig.messages);
        EXPECT_EQ(fit.problems, row.problems);
        EXPECT_EQ(fit.Fits(), row.problems.isEmpty());
    }
    const TParameterFit many{{"a", "b", "c", "d"}};
    EXPECT_EQ(many.Summary(), "a; b; c; …");
    EXPECT_EQ(many.Summary(4), "a; b; c; d");
}

TEST(ParameterCompare, ShowsEverySettingAsTheUserReadsIt)
{
    TPanelRig rig;
    using K = TCompareRow::Kind;
    const struct {
        const char* name;
        QStringList file;
        // caption, panel, file, differs; one per row (the values are reported, never differ)
        QList<std::tuple<K, QString, QString, QString, bool>> rows;
    } cases[] = {
        {"the same",
         {"11,8", "20", "Data", "1", "0", "3"},
         {{K::Value, "Napětí [V]", "11,8", "11,8", false},
          {K::Value, "Teplota", "20", "20", false},
          {K::Group, "Brzda", "slabá", "slabá", false},
          {K::Group, "Směr", "vpřed", "vpřed", false},
          {K::Group, "Start", "4", "4", false}}},
        {"differs, short, out of range",
         {"12,0", "Data", " 2", "9"},
         {{K::Value, "Napětí [V]", "11,8", "12,0", false},
          {K::Value, "Teplota", "20", "", false},
          {K::Group, "Brzda", "slabá", "silná", true},
          {K::Group, "Směr", "vpřed", "9", true},
          {K::Group, "Start", "4", "", true}}},
        {"none chosen in the file, blanks around a line",
         {"11,8", "20", "Data", "-1", " 0 ", "3", "7"},
         {{K::Value, "Napětí [V]", "11,8", "11,8", false},
          {K::Value, "Teplota", "20", "20", false},
          {K::Group, "Brzda", "slabá", "", true},
          {K::Group, "Směr", "vpřed", "vpřed", false},
          {K::Group, "Start", "4", "4", false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<TCompareRow> rows = CompareWithFile(rig.panel, c.file);
        ASSERT_EQ(rows.size(), c.rows.size());
        int differing = 0;
        for (int i = 0; i < rows.size(); ++i) {
            const auto& [kind, caption, mine, theirs, differs] = c.rows[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(rows[i].kind, kind);
            EXPECT_EQ(rows[i].caption, caption);
            EXPECT_EQ(rows[i].panelText, mine);
            EXPECT_EQ(rows[i].fileText, theirs);
            EXPECT_EQ(rows[i].differs, differs);
            differing += differs;
        }
        EXPECT_EQ(CountDifferences(rows), differing);
        EXPECT_EQ(CountSettings(rows), 3);
    }
}

} // namespace
