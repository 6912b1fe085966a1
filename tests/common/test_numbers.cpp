#include "common/errors.h"
#include "common/numbers.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

// Switches the default locale for one test and puts the pinned one back.
class LocaleScope {
public:
    explicit LocaleScope(QLocale::Language language, QLocale::Territory territory)
    {
        QLocale::setDefault(QLocale(language, territory));
    }
    ~LocaleScope() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST(HexByte, TwoUppercaseDigitsForAByte)
{
    const struct {
        int v;
        const char* text;
    } cases[] = {{0, "00"},   {5, "05"},    {10, "0A"},       {171, "AB"},
                 {255, "FF"}, {256, "100"}, {0xBEEF, "BEEF"}, {-1, "FFFFFFFF"}};
    for (const auto& c : cases)
        EXPECT_EQ(HexByte(c.v), QString::fromLatin1(c.text)) << c.v;
}

TEST(HexToInt, ReadsHexadecimalDigitsOfEitherCase)
{
    const struct {
        const char* text;
        qint64 value;
    } cases[] = {{"0", 0},       {"FF", 255},     {"ff", 255},
                 {"03E8", 1000}, {"FFFF", 65535}, {"7FFFFFFFFFFFFFFF", 0x7FFFFFFFFFFFFFFF}};
    for (const auto& c : cases)
        EXPECT_EQ(HexToInt(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(HexToInt, RefusesWhatIsNotAPlainHexNumber)
{
    for (const char* text :
         {"", "G1", "0x10", "-1", "+1", " 1", "1 ", "1.0", "8000000000000000", "10000000000000000"})
        EXPECT_THROW(HexToInt(QString::fromLatin1(text)), EConvertError) << text;
}

TEST(HexToInt, ReadsWhatHexByteWrites)
{
    for (int hi : {0x00, 0x03, 0x7F, 0xFF})
        for (int lo : {0x00, 0xE8, 0xFF})
            EXPECT_EQ(HexToInt(HexByte(hi) + HexByte(lo)), hi * 256 + lo);
}

struct FloatCase {
    const char* text;
    double value;
};

TEST(TextToFloat, AcceptsCommaOrPointWhateverTheLocale)
{
    const FloatCase cases[] = {
        {"2", 2},         {"0,1", 0.1},   {"0.1", 0.1}, {"1,5", 1.5},  {"1.5", 1.5},
        {"-2,25", -2.25}, {" 3.5 ", 3.5}, {"\t7\t", 7}, {"1e3", 1000}, {"0", 0},
        {"00", 0},        {"0,0", 0},     {"1,", 1},    {",5", 0.5},
    };
    for (auto [language, territory] : {std::pair{QLocale::English, QLocale::UnitedStates},
                                       std::pair{QLocale::Czech, QLocale::CzechRepublic}}) {
        LocaleScope scope(language, territory);
        for (const auto& c : cases)
            EXPECT_DOUBLE_EQ(TextToFloat(QString::fromLatin1(c.text)), c.value)
                << c.text << " in " << QLocale().name().toStdString();
    }
}

TEST(TextToFloat, RefusesTextsThatAreNoNumber)
{
    for (auto [language, territory] : {std::pair{QLocale::English, QLocale::UnitedStates},
                                       std::pair{QLocale::Czech, QLocale::CzechRepublic}}) {
        LocaleScope scope(language, territory);
        // Only the first separator is taken as the decimal one, so a second one is an error;
        // group separators would make "1,000" locale dependent.
        for (const char* text : {"", " ", "abc", "1,2,3", "1.000,5", "1,000.5", "2 5", "1e999",
                                 "inf", "nan", "0x10", "1;5"})
            EXPECT_THROW(TextToFloat(QString::fromLatin1(text)), EConvertError)
                << text << " in " << QLocale().name().toStdString();
    }
}

TEST(TextToFloat, ErrorNamesTheText)
{
    try {
        TextToFloat(QStringLiteral("x1"));
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Text(), QStringLiteral("'x1' is not a valid floating point value"));
    }
}

TEST(RoundDecimals, TiesGoToTheEvenNeighbour)
{
    const struct {
        int d;
        double x;
        double expected;
    } cases[] = {
        {0, 2.5, 2},       {0, 3.5, 4},          {0, -2.5, -2},          {0, 2.4999, 2},
        {0, 1050.0, 1050}, {1, 915.5413, 915.5}, {1, 2232.1428, 2232.1}, {1, 0.25, 0.2},
        {1, 0.75, 0.8},    {2, 0.125, 0.12},     {3, 1.05, 1.05},        {1, 60000, 60000},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(RoundDecimals(c.d, c.x), c.expected) << c.d << " " << c.x;
}

TEST(FloatToText, ShortestTextUpToFifteenDigits)
{
    const struct {
        double x;
        const char* en;
        const char* cs;
    } cases[] = {
        {60000, "60000", "60000"},
        {915.5, "915.5", "915,5"},
        {3.5, "3.5", "3,5"},
        {0.1 * 3, "0.3", "0,3"},
        {-2.25, "-2.25", "-2,25"},
        {0, "0", "0"},
        {-0.0, "0", "0"},
        {1.0 / 3, "0.333333333333333", "0,333333333333333"},
        {123456789012345.0, "123456789012345", "123456789012345"},
        {0.0001, "0.0001", "0,0001"},
        {1e15, "1E+15", "1E+15"},
        {2.5e-5, "2.5E-05", "2,5E-05"},
        {255 * 0.1, "25.5", "25,5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FloatToText(c.x), QString::fromLatin1(c.en)) << c.en;
        LocaleScope scope(QLocale::Czech, QLocale::CzechRepublic);
        EXPECT_EQ(FloatToText(c.x), QString::fromLatin1(c.cs)) << c.cs;
    }
}

} // namespace
