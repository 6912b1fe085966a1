#include "common/errors.h"
#include "protocol/frames.h"

#include <gtest/gtest.h>

TEST(Requests, AreTheFixedByteStrings)
{
    EXPECT_EQ(WakeUpPattern(), QByteArray("UUUUUUUUUU"));
    EXPECT_EQ(ReadRequest(), QByteArray::fromHex("FC0102"));
    EXPECT_EQ(PresenceQuery(), QByteArray::fromHex("FC0103"));
    EXPECT_EQ(DefaultRequest(), QByteArray::fromHex("FC0105"));
    EXPECT_EQ(LogStartRequest(), QByteArray::fromHex("F90101"));
    EXPECT_EQ(LogNextRequest(), QByteArray::fromHex("F90102"));
    EXPECT_EQ(LogRepeatRequest(), QByteArray::fromHex("F90103"));
}

TEST(DataFrame, CarriesLengthPayloadAndXorOfEverythingBefore)
{
    const struct {
        const char* payload;
        const char* frame;
    } cases[] = {
        {"", "FE00FE"},
        {"010203", "FE03010203FD"},
        {"FE", "FE01FE01"},
        {"03E802BC0102", "FE0603E802BC0102AE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildDataFrame(QByteArray::fromHex(c.payload)).toHex().toUpper(),
                  QByteArray(c.frame))
            << c.payload;
}

TEST(DataFrame, LongestPayloadFitsAndOneMoreIsRefused)
{
    const QByteArray longest(255, '\x11');
    const QByteArray frame = BuildDataFrame(longest);
    ASSERT_EQ(frame.size(), 258);
    EXPECT_EQ(static_cast<unsigned char>(frame[1]), 255);
    EXPECT_EQ(XorCheck(frame.left(257)), static_cast<unsigned char>(frame[257]));
    EXPECT_THROW(BuildDataFrame(QByteArray(256, '\x11')), EKorvalinexError);
}
