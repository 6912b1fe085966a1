// Parameter files on real files in a temporary folder, against an in-memory panel.

#include "i18n/msglangres.h"
#include "models/paramfile.h"
#include "tests/support/fake_panel.h"
#include "tests/support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

struct TFilesFixture {
    QTemporaryDir dir;
    TsmlMsgLangRes messages;
    QStringList errors;
    FakePanel panel;
    TParameterFiles files{panel, messages, [this](const QString& t) { errors.append(t); }};

    explicit TFilesFixture(FakePanel p) : panel(std::move(p)) {}
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    std::vector<int> Indices() const
    {
        std::vector<int> v;
        for (const auto& g : panel.groups)
            v.push_back(g.index);
        return v;
    }
};

FakePanel DemoPanel()
{
    FakePanel p(3, {3, 4, 3});
    p.displays = {QStringLiteral("11,8"), QStringLiteral("21"), QString::fromUtf8("20 °C")};
    p.groups[0].index = 1;
    p.groups[1].index = 3;
    p.groups[2].index = -1;
    return p;
}

TEST(ParamFile, SaveWritesWindows1250LinesWithCrLfAndLoadsBack)
{
    TFilesFixture fx(DemoPanel());
    fx.panel.displays[1] = QString::fromUtf8("Měkký – ř");
    const QString path = fx.Path("set.zeq");
    fx.files.SaveParameterFile(path);
    EXPECT_TRUE(fx.errors.isEmpty());
    EXPECT_EQ(ReadBytes(path), QByteArray("11,8\r\nM\xEC"
                                          "kk\xFD \x96 \xF8\r\n20 \xB0"
                                          "C\r\nData\r\n1\r\n3\r\n-1\r\n"));

    TFilesFixture back(FakePanel(3, {3, 4, 3}));
    back.panel.groups[2].index = 0;
    back.files.LoadParameterFile(path);
    EXPECT_TRUE(back.errors.isEmpty());
    EXPECT_EQ(back.panel.displays, fx.panel.displays);
    EXPECT_EQ(back.Indices(), (std::vector<int>{1, 3, -1}));
    back.files.SaveParameterFile(back.Path("again.zeq"));
    EXPECT_EQ(ReadBytes(back.Path("again.zeq")), ReadBytes(path)) << "byte for byte";
}

TEST(ParamFile, APanelWithoutGroupsEndsWithTheMarker)
{
    TFilesFixture fx(FakePanel(2, {}));
    fx.files.SaveParameterFile(fx.Path("a.zeq"));
    EXPECT_EQ(ReadBytes(fx.Path("a.zeq")), "old 0\r\nold 1\r\nData\r\n");
}

// Loading: panel of 2 display entries and groups of 3, 2 and 4 items, each starting at item 0.
struct TLoadCase {
    const char* name;
    QByteArray file;
    QStringList displays;
    std::vector<int> indices;
    QString error; // empty: none
};
void PrintTo(const TLoadCase& c, std::ostream* os) { *os << c.name; }

const QString kStr1 = QStringLiteral("Chyba pri otevírání souboru ");

const TLoadCase kLoads[] = {
    {"CrLf", "a\r\nb\r\nData\r\n2\r\n1\r\n3\r\n", {"a", "b"}, {2, 1, 3}, {}},
    {"LfOnly", "a\nb\nData\n2\n1\n3\n", {"a", "b"}, {2, 1, 3}, {}},
    {"CrOnlyAndNoFinalEnd", "a\rb\rData\r2\r1\r3", {"a", "b"}, {2, 1, 3}, {}},
    {"NulEndsTheText",
     QByteArray("a\r\nb\r\nData\r\n2\r\n") + '\0' + "1\r\n3\r\n",
     {"a", "b"},
     {2, 0, 0},
     {}},
    {"DataAsValueText", "Data\r\nx\r\nData\r\n1\r\n1\r\n1\r\n", {"Data", "x"}, {1, 1, 1}, {}},
    {"LastDataLineIsTheMarker", "a\r\nData\r\n0\r\nData\r\n2\r\n", {"a", "Data"}, {2, 0, 0}, {}},
    {"OutOfRangeKeepsMinusOneClears",
     "a\r\nb\r\nData\r\n5\r\n-1\r\n-2\r\n",
     {"a", "b"},
     {0, -1, 0},
     {}},
    {"SurplusGroupLinesIgnored",
     "a\r\nb\r\nData\r\n1\r\n1\r\n1\r\n2\r\nnot a number\r\n",
     {"a", "b"},
     {1, 1, 1},
     {}},
    {"FewerGroupLines", "a\r\nb\r\nData\r\n2\r\n", {"a", "b"}, {2, 0, 0}, {}},
    {"SurplusValueLinesOfAnotherModel",
     "a\r\nb\r\nc\r\nd\r\nData\r\n1\r\n1\r\n",
     {"a", "b"},
     {1, 1, 0},
     {}},
    // A load that fails changes nothing.
    {"TooFewLines",
     "only\r\nData\r\n1\r\n",
     {"old 0", "old 1"},
     {0, 0, 0},
     kStr1 +
         QStringLiteral(
             "\r\rSoubor je příliš krátký (řádků: 1), panel parametrů jich potřebuje nejméně 2.")},
    {"NotAnInteger",
     "a\r\nb\r\nData\r\n2\r\nx1\r\n3\r\n",
     {"old 0", "old 1"},
     {0, 0, 0},
     kStr1 + QStringLiteral("\r\r\"x1\" na rádku 5 není celé císlo.")},
    // Without the marker it is no parameter file at all.
    {"NoMarkerIsNoParameterFile",
     "a\r\n1\r\n1\r\n",
     {"old 0", "old 1"},
     {0, 0, 0},
     kStr1 + QStringLiteral("\r\rSoubor nemá řádek \"Data\"")},
    {"BinaryGarbage",
     QByteArray("\x89PNG\r\n\x1a\n\x01\x02", 10),
     {"old 0", "old 1"},
     {0, 0, 0},
     kStr1 + QStringLiteral("\r\rSoubor nemá řádek \"Data\"")},
    {"Utf8Text", "\xC5\x99\r\nb\r\nData\r\n", {QString::fromUtf8("ř"), "b"}, {0, 0, 0}, {}},
};

class Load : public testing::TestWithParam<TLoadCase> {};

TEST_P(Load, FillsThePanelAsFarAsTheFileGoes)
{
    const TLoadCase& c = GetParam();
    TFilesFixture fx(FakePanel(2, {3, 2, 4}));
    for (auto& g : fx.panel.groups)
        g.index = 0;
    WriteBytes(fx.Path("in.zeq"), c.file);
    fx.files.LoadParameterFile(fx.Path("in.zeq"));
    EXPECT_EQ(fx.panel.displays, c.displays);
    EXPECT_EQ(fx.Indices(), c.indices);
    EXPECT_EQ(fx.errors, c.error.isEmpty() ? QStringList() : QStringList{c.error});
}

INSTANTIATE_TEST_SUITE_P(ParamFile, Load, testing::ValuesIn(kLoads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParamFile, Group0ChangeRunsItsSwitchOnlyOnARealChange)
{
    TFilesFixture fx(FakePanel(0, {3, 2}));
    fx.panel.groups[0].index = 1;
    int switches = 0;
    fx.panel.onGroup0Changed = [&] { ++switches; };
    WriteBytes(fx.Path("same.zeq"), "Data\r\n1\r\n0\r\n");
    fx.files.LoadParameterFile(fx.Path("same.zeq"));
    EXPECT_EQ(switches, 0);
    WriteBytes(fx.Path("other.zeq"), "Data\r\n2\r\n0\r\n");
    fx.files.LoadParameterFile(fx.Path("other.zeq"));
    EXPECT_EQ(switches, 1);
}

// What cannot be opened, or is too large to be a parameter file, is refused before it is read.
TEST(ParamFile, AFileThatCannotBeOpenedLeavesThePanel)
{
    const QByteArray content = "a\r\nb\r\nc\r\nData\r\n0\r\n2\r\n0\r\n";
    const struct {
        const char* name;
        qint64 size; // -1: no file; -2: a folder
        bool loads;
    } rows[] = {
        {"missing.zeq", -1, false},
        {"folder.zeq", -2, false},
        // 4 MiB, in bytes here so that a limit that moves is seen.
        {"huge.zeq", 4 * 1024 * 1024 + 1, false},
        {"at-limit.zeq", 4 * 1024 * 1024, true}, // a NUL ends the text: the rest is ignored
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TFilesFixture fx(DemoPanel());
        const QString path = fx.Path(row.name);
        if (row.size == -2) {
            ASSERT_TRUE(QDir().mkdir(path));
        } else if (row.size >= 0) {
            WriteSparse(path, content, row.size);
        }
        fx.files.LoadParameterFile(path);
        if (row.loads) {
            EXPECT_TRUE(fx.errors.isEmpty());
            EXPECT_EQ(fx.panel.displays, (QStringList{"a", "b", "c"}));
        } else {
            EXPECT_EQ(fx.errors, QStringList{kStr1 + QLatin1Char('\r') + path + QLatin1Char('.')});
            EXPECT_EQ(fx.panel.displays, DemoPanel().displays);
        }
    }
}

TEST(ParamFile, AFileThatCannotBeCreatedIsReportedWithItsName)
{
    TFilesFixture fx(DemoPanel());
    const QString path = fx.Path("no such folder/a.zeq");
    fx.files.SaveParameterFile(path);
    EXPECT_EQ(fx.errors, QStringList{QStringLiteral("Chyba pri ukládání souboru \r") + path +
                                     QLatin1Char('.')});
}

// A write that fails half-way (here: the file size limit) leaves the previous file whole.
TEST(ParamFile, AFailedSaveLeavesTheOldFileIntact)
{
    TFilesFixture fx(DemoPanel());
    const QString path = fx.Path("kept.zeq");
    WriteBytes(path, "old\r\nData\r\n");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    fx.files.SaveParameterFile(path);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(ReadBytes(path), "old\r\nData\r\n");
    ASSERT_EQ(fx.errors.size(), 1);
    EXPECT_TRUE(fx.errors[0].startsWith(QStringLiteral("Chyba pri ukládání souboru \r\r")))
        << fx.errors[0].toStdString();
    EXPECT_EQ(QDir(fx.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.zeq"})
        << "no temporary file left behind";
}

} // namespace
