#include "common/errors.h"
#include "i18n/msglangres.h"
#include "protocol/paramblock.h"
#include "tests/support/fake_panel.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

const QString kDash = QStringLiteral("- - - - -");

class LocaleScope {
public:
    LocaleScope(QLocale::Language language, QLocale::Territory territory)
    {
        QLocale::setDefault(QLocale(language, territory));
    }
    ~LocaleScope() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

// A program directory in a temporary folder with optional lookup files.
class BlockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        env_.programDir = dir_.path() + QLatin1Char('/');
    }
    void WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(env_.programDir + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void WriteLookupFiles()
    {
        WriteFile(QStringLiteral("Teplota1.txt"), "T1a\r\nT1b\r\n0\r\n");
        WriteFile(QStringLiteral("Teplota2.txt"), "T2a\nT2b\nT2c"); // LF only, no final break
    }
    QString Path(const char* name) const { return env_.programDir + QString::fromLatin1(name); }
    // Decodes into the fields as the window would show them afterwards.
    DecodeOutcome Decode(const QByteArray& payload)
    {
        DecodeOutcome out = DecodeReadReply(payload, fields_.version, fields_, panel_, env_);
        static_cast<TBlockFields&>(fields_) = out.fields;
        fields_.errors += out.errors;
        return out;
    }

    QTemporaryDir dir_;
    DecodeEnv env_;
    FakeFields fields_;
    FakePanel panel_;
};

TEST_F(BlockTest, ThrottleLimitsAreMicrosecondsHighByteFirst)
{
    const struct {
        const char* payload;
        double max, min;
    } cases[] = {
        {"03E802BC", 1.0, 0.7},
        {"08FC06A4", 2.3, 1.7},
        {"FFFF0000", 65.535, 0},
    };
    for (const auto& c : cases) {
        Decode(Hex(c.payload));
        EXPECT_DOUBLE_EQ(fields_.throttleMax, c.max) << c.payload;
        EXPECT_DOUBLE_EQ(fields_.throttleMin, c.min) << c.payload;
    }
}

TEST_F(BlockTest, VersionDecidesWhetherTheSpeedValueIsPresent)
{
    const struct {
        const char* version;
        bool speed;
        bool notice;
    } cases[] = {
        {"1.03", true, false}, {"1.02", false, false}, {"0.10", true, false},
        {"ab03", true, false}, {"1.00", false, false}, {"V2.3", false, true},
        {"1.3", false, true},  {"", false, true},      {"1.0a", false, true},
        {"1. 3", false, true},
    };
    for (const auto& c : cases) {
        fields_ = FakeFields();
        fields_.version = QString::fromLatin1(c.version);
        panel_ = FakePanel(1);
        panel_.multipliers[0] = 1;
        panel_.multiplierCount = 1;
        const DecodeOutcome out = Decode(Hex("03E802BC03E807"));
        // With the speed value the display entry is byte 6, without it byte 4; without a version
        // number neither is guessed: only the throttle limits are read.
        EXPECT_EQ(panel_.displays[0], c.notice  ? QStringLiteral("old 0")
                                      : c.speed ? QStringLiteral("7")
                                                : QStringLiteral("3"))
            << c.version;
        EXPECT_DOUBLE_EQ(fields_.throttleMax, 1.0) << c.version;
        EXPECT_DOUBLE_EQ(fields_.throttleMin, 0.7) << c.version;
        EXPECT_EQ(fields_.maxRpmEnabled, c.speed) << c.version;
        EXPECT_EQ(fields_.maxRpmText,
                  c.speed ? QStringLiteral("60000") : QStringLiteral("untouched"))
            << c.version;
        EXPECT_EQ(panel_.unassigned, c.notice  ? QByteArray("stale")
                                     : c.speed ? QByteArray()
                                               : Hex("E807"))
            << c.version;
        EXPECT_EQ(panel_.activeCount, c.notice ? -1 : 0) << c.version;
        EXPECT_EQ(out.complete, !c.notice) << c.version;
        ASSERT_EQ(out.notices.size(), c.notice ? 1 : 0) << c.version;
        if (c.notice) {
            EXPECT_EQ(out.notices[0].key, QStringLiteral("str91"));
            EXPECT_EQ(out.notices[0].args, QStringList{QString::fromLatin1(c.version)});
        }
    }
}

TEST_F(BlockTest, MaximumSpeedFromSpeedValuePolesAndRatio)
{
    const struct {
        const char* t;
        const char* poles;
        const char* ratio;
        bool czech;
        const char* shown;
        const char* polesAfter;
        const char* ratioAfter;
    } cases[] = {
        {"03E8", "2", "1", false, "60000", "2", "1"},
        {"FFFF", "2", "1", false, "<915.5", "2", "1"},
        {"0F00", "14", "1", false, "2232.1", "14", "1"},
        {"03E8", "", "", false, "60000", "2", "1"},
        {"03E8", "0", "0", false, "60000", "2", "1"},
        {"03E8", "2", "2,5", false, "24000", "2", "2,5"},
        {"03E8", "7", "1", false, "17142.9", "7", "1"},
        {"03E8", "7", "1", true, "17142,9", "7", "1"},
        {"03E8", "2", "1.5", true, "40000", "2", "1.5"},
        {"FFFF", "2", "1", true, "<915,5", "2", "1"},
        // No division by zero, no conversion error escaping: the value stays unknown.
        {"0000", "2", "1", false, "- - - - -", "2", "1"},
        {"03E8", "00", "1", false, "- - - - -", "00", "1"},
        {"03E8", "2", "0,0", false, "- - - - -", "2", "0,0"},
        {"03E8", "abc", "1", false, "- - - - -", "abc", "1"},
        {"03E8", "2", "1:2", false, "- - - - -", "2", "1:2"},
    };
    for (const auto& c : cases) {
        std::optional<LocaleScope> czech;
        if (c.czech)
            czech.emplace(QLocale::Czech, QLocale::CzechRepublic);
        fields_ = FakeFields();
        fields_.version = QStringLiteral("1.03");
        fields_.poles = QString::fromLatin1(c.poles);
        fields_.ratio = QString::fromLatin1(c.ratio);
        Decode(Hex("03E802BC") + Hex(c.t));
        EXPECT_TRUE(fields_.maxRpmEnabled);
        EXPECT_EQ(fields_.maxRpmText, QString::fromLatin1(c.shown)) << c.t << " " << c.poles;
        EXPECT_EQ(fields_.poles, QString::fromLatin1(c.polesAfter));
        EXPECT_EQ(fields_.ratio, QString::fromLatin1(c.ratioAfter));
    }
}

struct DisplayCase {
    const char* what;
    double m1, m2, m3;
    int count;
    std::vector<int> raws;
    std::vector<const char*> shown;
};

TEST_F(BlockTest, DisplayEntriesScaledOrLookedUp)
{
    WriteLookupFiles();
    const DisplayCase cases[] = {
        {"multiplier", 0.5, 0, 0, 1, {7}, {"3.5"}},
        {"raw 0 with multiplier", 0.5, 0, 0, 1, {0}, {"- - - - -"}},
        {"fifteen digits", 0.1, 0, 0, 1, {3}, {"0.3"}},
        {"two lookups, first file then second", 0, 0, 0, 0, {1, 2}, {"T1a", "T2b"}},
        {"raw 0 keeps the lookup label", 0, 0, 0, 0, {0, 3}, {"old 0", "T2c"}},
        {"lookup line reading 0", 0, 0, 0, 0, {3}, {"- - - - -"}},
        {"multiplier behind a lookup, count 1", 0, 2, 0, 1, {1, 3}, {"T1a", "T2c"}},
        {"multiplier beyond the count", 1, 1, 0, 1, {5, 2}, {"5", "T1b"}},
        {"multiplier 0 counts but looks up", 0, 0.5, 0, 2, {2, 4}, {"T1b", "2"}},
        {"fourth entry always looks up", 2, 2, 2, 3, {1, 2, 3, 1}, {"2", "4", "6", "T1a"}},
        {"later lookups all use the second file", 0, 0, 0, 0, {2, 2, 1}, {"T1b", "T2b", "T2a"}},
    };
    for (const DisplayCase& c : cases) {
        panel_ = FakePanel(static_cast<int>(c.raws.size()));
        panel_.multipliers[0] = c.m1;
        panel_.multipliers[1] = c.m2;
        panel_.multipliers[2] = c.m3;
        panel_.multiplierCount = c.count;
        QByteArray payload = Hex("03E802BC");
        for (int r : c.raws)
            payload.append(static_cast<char>(r));
        const DecodeOutcome out = Decode(payload);
        EXPECT_TRUE(out.notices.isEmpty()) << c.what;
        EXPECT_TRUE(fields_.errors.isEmpty()) << c.what;
        for (size_t i = 0; i < c.shown.size(); ++i)
            EXPECT_EQ(panel_.displays[int(i)], QString::fromUtf8(c.shown[i]))
                << c.what << " #" << i;
    }
}

TEST_F(BlockTest, ScaledValueUsesTheLocaleSeparator)
{
    LocaleScope czech(QLocale::Czech, QLocale::CzechRepublic);
    panel_ = FakePanel(1);
    panel_.multipliers[0] = 0.5;
    panel_.multiplierCount = 1;
    Decode(Hex("03E802BC07"));
    EXPECT_EQ(panel_.displays[0], QStringLiteral("3,5"));
}

TEST_F(BlockTest, LookupFileInTheCodePageOfCzechWindows)
{
    WriteFile(QStringLiteral("Teplota1.txt"), "studen\xE9\r\nhork\xE9 \xE8\r\n");
    panel_ = FakePanel(1);
    Decode(Hex("03E802BC02"));
    EXPECT_EQ(panel_.displays[0], QStringLiteral("horké č"));
}

TEST_F(BlockTest, ValueBeyondTheLookupFileShowsTheRawValueAndGoesOn)
{
    WriteLookupFiles();
    panel_ = FakePanel(2, {2});
    const DecodeOutcome out = Decode(Hex("03E802BC"
                                         "09"
                                         "01"
                                         "02"
                                         "07"));
    EXPECT_EQ(panel_.displays[0], QStringLiteral("9"));
    EXPECT_EQ(panel_.displays[1], QStringLiteral("T2a"));
    EXPECT_EQ(panel_.groups[0].index, 1);
    EXPECT_EQ(panel_.unassigned, Hex("07"));
    ASSERT_EQ(out.notices.size(), 1);
    EXPECT_EQ(out.notices[0].key, QStringLiteral("str90"));
    EXPECT_EQ(out.notices[0].args, (QStringList{QStringLiteral("9"), Path("Teplota1.txt")}));
}

TEST_F(BlockTest, MissingLookupFileIsReportedAndDecodingGoesOn)
{
    panel_ = FakePanel(3, {2});
    panel_.multipliers[0] = 0;
    const DecodeOutcome out = Decode(Hex("03E802BC"
                                         "01"
                                         "00"
                                         "02"
                                         "02"));
    EXPECT_EQ(fields_.errors, (QStringList{QStringLiteral("Chyba pri otevírání souboru \r") +
                                               Path("Teplota1.txt") + QLatin1Char('.'),
                                           QStringLiteral("Chyba pri otevírání souboru \r") +
                                               Path("Teplota2.txt") + QLatin1Char('.'),
                                           QStringLiteral("Chyba pri otevírání souboru \r") +
                                               Path("Teplota2.txt") + QLatin1Char('.')}));
    EXPECT_EQ(panel_.displays, (QStringList{"old 0", "old 1", "old 2"}));
    EXPECT_EQ(panel_.groups[0].index, 1);
    EXPECT_TRUE(out.notices.isEmpty());
}

// A lookup file far larger than 255 lines can be is refused before it is read, with the box of a
// file that cannot be opened; one at the limit still reads.
TEST_F(BlockTest, ALookupFileOverItsLimitIsReportedLikeOneThatCannotBeOpened)
{
    panel_ = FakePanel(2);
    panel_.multipliers[0] = 0;
    WriteLookupFiles();
    // 1 MiB, in bytes here so that a limit that moves is seen.
    ASSERT_TRUE(QFile::resize(Path("Teplota1.txt"), 1024 * 1024 + 1));
    ASSERT_TRUE(QFile::resize(Path("Teplota2.txt"), 1024 * 1024));
    Decode(Hex("03E802BC"
               "01"
               "02"));
    EXPECT_EQ(fields_.errors, QStringList{QStringLiteral("Chyba pri otevírání souboru \r") +
                                          Path("Teplota1.txt") + QLatin1Char('.')});
    EXPECT_EQ(panel_.displays, (QStringList{"old 0", "T2b"}));
}

TEST_F(BlockTest, MissingLookupFileMessageComesFromTheCurrentLanguage)
{
    TsmlMsgLangRes messages;
    messages.SetMsgList({QStringLiteral("Str1=Error opening file ")});
    env_.messages = &messages;
    panel_ = FakePanel(1);
    Decode(Hex("03E802BC01"));
    EXPECT_EQ(fields_.errors,
              QStringList{QStringLiteral("Error opening file \r") + Path("Teplota1.txt") + "."});
}

TEST_F(BlockTest, ShortPayloadDecodesWhatIsThere)
{
    panel_ = FakePanel(3, {2});
    panel_.multipliers[0] = panel_.multipliers[1] = panel_.multipliers[2] = 1;
    panel_.multiplierCount = 3;
    panel_.groups[0].index = 0;
    Decode(Hex("03E802BC05"));
    EXPECT_EQ(panel_.displays, (QStringList{"5", "old 1", "old 2"}));
    EXPECT_EQ(panel_.groups[0].index, 0);
    EXPECT_EQ(panel_.activeCount, 0);
    EXPECT_EQ(panel_.unassigned, QByteArray());

    fields_ = FakeFields();
    fields_.throttleMin = 9;
    const DecodeOutcome half = Decode(Hex("03E8"));
    EXPECT_DOUBLE_EQ(fields_.throttleMax, 1.0);
    EXPECT_DOUBLE_EQ(fields_.throttleMin, 9);
    // Only what was read may be set in the window: it may hold a value the user typed.
    EXPECT_TRUE(half.throttleMaxRead);
    EXPECT_FALSE(half.throttleMinRead);

    fields_.version = QStringLiteral("1.03");
    Decode(Hex("03E802BC03"));
    EXPECT_TRUE(fields_.maxRpmEnabled);
    EXPECT_EQ(fields_.maxRpmText, kDash);

    EXPECT_NO_THROW(Decode(QByteArray()));
}

struct OptionCase {
    const char* what;
    std::vector<int> items;
    std::vector<int> preset;
    const char* values;
    std::vector<int> index;
    std::vector<int> blue; // -2: colours not touched
    int active;
    const char* unassigned;
};

TEST_F(BlockTest, OptionValuesSelectAndColourTheGroups)
{
    const OptionCase cases[] = {
        {"mixed",
         {3, 2, 3, 4},
         {-1, 0, 1, -1},
         "020005010908",
         {1, -1, 1, 0},
         {1, -1, -1, 0},
         3,
         "0908"},
        {"fewer values than groups", {2, 2, 2}, {-1, 1, 1}, "01", {0, 1, 1}, {0, -2, -2}, 1, ""},
        {"zero is no choice and not active", {2, 2}, {1, 1}, "0000", {-1, -1}, {-1, -1}, 0, ""},
        {"last item", {3}, {-1}, "03", {2}, {2}, 1, ""},
        {"many items", {12, 12}, {-1, -1}, "0C05", {11, 4}, {11, 4}, 2, ""},
        {"group without items", {0, 0}, {-1, -1}, "0100", {-1, -1}, {-1, -1}, 1, ""},
        {"no groups", {}, {}, "0102", {}, {}, 0, "0102"},
    };
    for (const OptionCase& c : cases) {
        panel_ = FakePanel(0, c.items);
        for (size_t g = 0; g < c.preset.size(); ++g)
            panel_.groups[g].index = c.preset[g];
        Decode(Hex("03E802BC") + Hex(c.values));
        for (size_t g = 0; g < c.items.size(); ++g) {
            EXPECT_EQ(panel_.groups[g].index, c.index[g]) << c.what << " group " << g;
            EXPECT_EQ(panel_.groups[g].blue, c.blue[g]) << c.what << " group " << g;
        }
        EXPECT_EQ(panel_.activeCount, c.active) << c.what;
        EXPECT_EQ(panel_.unassigned, Hex(c.unassigned)) << c.what;
    }
}

TEST_F(BlockTest, GroupsVisitedFromTheLastAndGroupZeroSeesTheFullCount)
{
    panel_ = FakePanel(0, {2, 2, 2, 2});
    int countSeenByGroup0 = -1;
    panel_.onGroup0Changed = [&] { countSeenByGroup0 = panel_.activeCount; };
    Decode(Hex("03E802BC"
               "02010102"));
    EXPECT_EQ(panel_.selectionOrder, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(countSeenByGroup0, 4);
}

TEST_F(BlockTest, WriteRoundsThrottleLimitsTiesToEven)
{
    const struct {
        double max, min;
        const char* head;
    } cases[] = {
        {1.0, 0.7, "03E802BC"},       {1.05, 0.7, "041A02BC"},      {2.3, 1.7, "08FC06A4"},
        {0.0025, 0.0015, "00020002"}, {0.0045, 0.0005, "00040000"}, {70, -1, "FFFF0000"},
        {NAN, INFINITY, "0000FFFF"},
    };
    for (const auto& c : cases) {
        fields_.throttleMax = c.max;
        fields_.throttleMin = c.min;
        panel_ = FakePanel();
        panel_.activeCount = 0;
        panel_.unassigned.clear();
        EXPECT_EQ(BuildWritePayload(fields_, panel_).toHex().toUpper(), QByteArray(c.head))
            << c.max << " " << c.min;
    }
}

TEST_F(BlockTest, WriteSendsBackActiveGroupsThenUnassignedBytes)
{
    panel_ = FakePanel(1, {3, 3, 3});
    Decode(Hex("03E802BC"
               "11"
               "0201030707"));
    panel_.SetItemIndex(1, 2);
    EXPECT_EQ(BuildWritePayload(fields_, panel_), Hex("03E802BC"
                                                      "020303"
                                                      "0707"));

    // Only the groups that reported a value: a trailing zero shortens the block.
    Decode(Hex("03E802BC"
               "11"
               "020100"));
    EXPECT_EQ(BuildWritePayload(fields_, panel_), Hex("03E802BC"
                                                      "0201"));

    // A group cleared by the user goes back as 0; one that does not exist too.
    panel_.SetItemIndex(1, -1);
    panel_.activeCount = 4;
    EXPECT_EQ(BuildWritePayload(fields_, panel_), Hex("03E802BC"
                                                      "02000000"));
}

TEST_F(BlockTest, WriteRefusesAnItemThatDoesNotFitAByte)
{
    panel_ = FakePanel(0, {300});
    panel_.activeCount = 1;
    panel_.unassigned.clear();
    panel_.groups[0].index = 255;
    EXPECT_THROW(BuildWritePayload(fields_, panel_), EKorvalinexError);
    panel_.groups[0].index = 254;
    EXPECT_EQ(BuildWritePayload(fields_, panel_).right(1), Hex("FF"));
}

// Whatever the regulator sends and however the model is laid out, decoding ends normally.
TEST_F(BlockTest, ArbitraryRepliesNeverThrow)
{
    WriteLookupFiles();
    std::mt19937 rng(7);
    const char* versions[] = {"1.03", "1.02", "", "x", "9999", "1.0\xC3\xA9"};
    for (int round = 0; round < 3000; ++round) {
        fields_ = FakeFields();
        fields_.version = QString::fromUtf8(versions[rng() % 6]);
        fields_.poles = QString::number(static_cast<int>(rng() % 3));
        panel_ = FakePanel(static_cast<int>(rng() % 6), std::vector<int>(rng() % 5, 3));
        panel_.multipliers[0] = (rng() % 3) * 0.5;
        panel_.multipliers[1] = (rng() % 3) * 0.5;
        panel_.multiplierCount = static_cast<int>(rng() % 5) - 1;
        QByteArray payload(static_cast<int>(rng() % 20), '\0');
        for (char& b : payload)
            b = static_cast<char>(rng());
        ASSERT_NO_THROW(Decode(payload)) << round;
        ASSERT_NO_THROW(BuildWritePayload(fields_, panel_)) << round;
    }
}

} // namespace
