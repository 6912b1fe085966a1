// The simulated regulator against frames worked out by hand: every expected check byte below is
// written out, not computed, so a wrong XOR in the simulator cannot agree with itself.

#include "tools/regsim/regulator.h"

#include <gtest/gtest.h>

using regsim::Bytes;
using regsim::Message;
using regsim::Regulator;

namespace {

const char* const kSmallRegulator = R"(
name = "AB"
version = "V.03a"
date = "1.2.3"
flags = 0x90
throttle-max = 2000
throttle-min = 1100
speed = 0x0F00
display = 76 2A
options = 02 01 03
factory-throttle-max = 1900
factory-throttle-min = 1000
factory-options = 01 01 04
log = 05 01 02
log = 01 FA FE
)";

Regulator Small(const std::string& replace = {}, const std::string& with = {})
{
    std::string text = kSmallRegulator;
    if (!replace.empty())
        text.replace(text.find(replace), replace.size(), with);
    return Regulator(regsim::ParseRegulatorText(text, "test"));
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

const Bytes kWake(10, 0x55);
const Bytes kRead{0xFC, 0x01, 0x02};
const Bytes kPresence{0xFC, 0x01, 0x03};
const Bytes kDefault{0xFC, 0x01, 0x05};
const Bytes kLogStart{0xF9, 0x01, 0x01};
const Bytes kLogNext{0xF9, 0x01, 0x02};
const Bytes kLogRepeat{0xF9, 0x01, 0x03};

// name 16, blank, version 5, blank, date 9, flags
const Bytes kIdent = Cat({{0xFE, 0x21},
                          Text("AB              "),
                          Text(" "),
                          Text("V.03a"),
                          Text(" "),
                          Text("1.2.3    "),
                          {0x90, 0x66}});
const Bytes kReadReply{0xFE, 0x0B, 0x07, 0xD0, 0x04, 0x4C, 0x0F,
                       0x00, 0x76, 0x2A, 0x02, 0x01, 0x03, 0x39};
const Bytes kFactoryReadReply{0xFE, 0x0B, 0x07, 0x6C, 0x03, 0xE8, 0x0F,
                              0x00, 0x76, 0x2A, 0x01, 0x01, 0x04, 0x22};
const Bytes kLog1{0xFE, 0x03, 0x05, 0x01, 0x02, 0xFB};
const Bytes kLog2{0xFE, 0x03, 0x01, 0xFA, 0xFE, 0xF8};
const Bytes kLogEnd{0xFE, 0x01, 0x08, 0xF7};
// Throttle 1500/1024, options 04 03 02.
const Bytes kWrite{0xFE, 0x07, 0x05, 0xDC, 0x04, 0x00, 0x04, 0x03, 0x02, 0x21};

} // namespace

TEST(RegulatorReplies, EachRequestFromAFreshRegulator)
{
    const struct {
        const char* what;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"wake-up", kWake, kIdent},      {"read", kRead, kReadReply},
        {"presence", kPresence, {0xFA}}, {"default", kDefault, {}},
        {"log start", kLogStart, kLog1}, {"write", kWrite, {0xFB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Regulator reg = Small();
        EXPECT_EQ(reg.Feed(c.request), c.reply);
        EXPECT_EQ(reg.UnknownBytes(), 0);
    }
}

TEST(RegulatorReplies, SpeedValueOnlyFromVersionThree)
{
    const Bytes withT = kReadReply;
    const Bytes withoutT{0xFE, 0x09, 0x07, 0xD0, 0x04, 0x4C, 0x76, 0x2A, 0x02, 0x01, 0x03, 0x34};
    const struct {
        const char* version;
        Bytes reply;
    } cases[] = {
        {"\"V.03a\"", withT},   {"\"V.12x\"", withT},  {"\"V.02b\"", withoutT},
        {"\"V.x3\"", withoutT}, {"\"V.3\"", withoutT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Regulator reg = Small("\"V.03a\"", c.version);
        EXPECT_EQ(reg.Feed(kRead), c.reply);
    }
}

// A whole session, cut into three pieces at every pair of offsets, must give the same bytes.
TEST(RegulatorInput, AnyChunkingGivesTheSameReplies)
{
    const Bytes session =
        Cat({kWake, kRead, kPresence, kWrite, kDefault, kRead, kLogStart, kLogRepeat, kLogNext});
    const Bytes expected =
        Cat({kIdent, kReadReply, {0xFA}, {0xFB}, kFactoryReadReply, kLog1, kLog1, kLog2});

    ASSERT_EQ(Small().Feed(session), expected);
    for (size_t i = 0; i <= session.size(); ++i) {
        for (size_t j = i; j <= session.size(); ++j) {
            Regulator reg = Small();
            Bytes out = reg.Feed(session.data(), i);
            const Bytes mid = reg.Feed(session.data() + i, j - i);
            const Bytes end = reg.Feed(session.data() + j, session.size() - j);
            out = Cat({out, mid, end});
            ASSERT_EQ(out, expected) << "cut at " << i << " and " << j;
        }
    }
}

TEST(RegulatorInput, WakeUpNeedsTenConsecutiveBytesOutsideAFrame)
{
    const Bytes nine(9, 0x55);
    const Bytes frameOf55{0xFE, 0x0C, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                          0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0xF2};
    const struct {
        const char* what;
        Bytes input;
        int wakeUps;
        int unknown;
    } cases[] = {
        {"nine", nine, 0, 0}, // still waiting for the tenth
        {"broken run", Cat({nine, {0x00}, kWake}), 1, 10},
        {"twenty", Bytes(20, 0x55), 2, 0},
        {"eleven then a read", Cat({kWake, {0x55}, kRead}), 1, 1},
        {"inside a write frame", frameOf55, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Regulator reg = Small();
        reg.Feed(c.input);
        EXPECT_EQ(reg.Count(Message::WakeUp), c.wakeUps);
        EXPECT_EQ(reg.UnknownBytes(), c.unknown);
    }
}

TEST(RegulatorInput, StrayBytesAreSkippedAndCounted)
{
    const struct {
        const char* what;
        Bytes input;
        Bytes reply;
        int unknown;
    } cases[] = {
        {"doubled prefix", {0xFC, 0xFC, 0x01, 0x03}, {0xFA}, 1},
        {"unknown code", {0xFC, 0x01, 0x07, 0xFC, 0x01, 0x03}, {0xFA}, 3},
        {"log prefix with a command code", {0xF9, 0x01, 0x05}, {}, 3},
        {"noise", {0x00, 0xFA, 0xFB, 0x13}, {}, 4},
        {"code that starts a frame", {0xFC, 0x01, 0xFE, 0x00, 0xFE}, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Regulator reg = Small();
        EXPECT_EQ(reg.Feed(c.input), c.reply);
        EXPECT_EQ(reg.UnknownBytes(), c.unknown);
    }
}

TEST(RegulatorInput, QuietLineDropsAPartialFrame)
{
    Regulator reg = Small();
    reg.Feed(Bytes{0xFE, 0x07, 0x05});
    EXPECT_TRUE(reg.InputPending());
    reg.LineIdle();
    EXPECT_FALSE(reg.InputPending());
    EXPECT_EQ(reg.UnknownBytes(), 3);
    // Without the reset these bytes would be taken as the rest of the write frame.
    EXPECT_EQ(reg.Feed(kPresence), Bytes{0xFA});
}

TEST(RegulatorWrite, StoresWhatWasSent)
{
    using regsim::ParameterBlock;
    const ParameterBlock before{2000, 1100, {0x02, 0x01, 0x03}};
    const ParameterBlock all{1500, 1024, {0x04, 0x03, 0x02}};
    const struct {
        const char* what;
        Bytes frame;
        Bytes reply;
        ParameterBlock after;
    } cases[] = {
        {"all options", kWrite, {0xFB}, all},
        {"first option only",
         {0xFE, 0x05, 0x05, 0xDC, 0x04, 0x00, 0x04, 0x22},
         {0xFB},
         {1500, 1024, {0x04, 0x01, 0x03}}},
        {"more options than the block",
         {0xFE, 0x08, 0x05, 0xDC, 0x04, 0x00, 0x04, 0x03, 0x02, 0x09, 0x27},
         {0xFB},
         all},
        {"too short for the limits", {0xFE, 0x03, 0x05, 0xDC, 0x04, 0x20}, {}, before},
        {"wrong check byte",
         {0xFE, 0x07, 0x05, 0xDC, 0x04, 0x00, 0x04, 0x03, 0x02, 0x22},
         {},
         before},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Regulator reg = Small();
        EXPECT_EQ(reg.Feed(c.frame), c.reply);
        EXPECT_EQ(reg.Block(), c.after);
        ASSERT_EQ(reg.Writes().size(), 1u);
        EXPECT_EQ(reg.Writes()[0].frame, c.frame);
        EXPECT_EQ(reg.Writes()[0].payload, Bytes(c.frame.begin() + 2, c.frame.end() - 1));
        EXPECT_EQ(reg.Writes()[0].stored, c.after != before);
    }
}

TEST(RegulatorWrite, ReadAfterWriteAndDefault)
{
    Regulator reg = Small();
    reg.Feed(kWrite);
    EXPECT_EQ(reg.Feed(kRead), (Bytes{0xFE, 0x0B, 0x05, 0xDC, 0x04, 0x00, 0x0F, 0x00, 0x76, 0x2A,
                                      0x04, 0x03, 0x02, 0x7E}));
    EXPECT_EQ(reg.Feed(kDefault), Bytes{});
    EXPECT_EQ(reg.Feed(kRead), kFactoryReadReply);
}

TEST(RegulatorWrite, WriteEndFaultAnswersFcButStores)
{
    Regulator reg = Small();
    reg.faults().writeEndInsteadOfAck = true;
    EXPECT_EQ(reg.Feed(kWrite), Bytes{0xFC});
    EXPECT_EQ(reg.Block().throttleMax, 1500);
}

TEST(RegulatorLog, RecordsInOrderWithRepeatAndEnd)
{
    const struct {
        Bytes request;
        Bytes reply;
    } steps[] = {
        {kLogRepeat, kLog1}, // before any start: the first record
        {kLogNext, kLog2},     {kLogStart, kLog1},  {kLogRepeat, kLog1},
        {kLogNext, kLog2},     {kLogRepeat, kLog2}, {kLogNext, kLogEnd},
        {kLogRepeat, kLogEnd}, {kLogNext, kLogEnd}, {kLogStart, kLog1},
    };
    Regulator reg = Small();
    int i = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(i++);
        EXPECT_EQ(reg.Feed(s.request), s.reply);
    }
}

TEST(RegulatorFaults, WrongCheckBytesOnTheNextFrames)
{
    Regulator reg = Small();
    reg.faults().badCheckFrames = 2;
    Bytes bad = reg.Feed(kWake);
    ASSERT_EQ(bad.size(), kIdent.size());
    EXPECT_NE(bad.back(), kIdent.back());
    EXPECT_TRUE(std::equal(kIdent.begin(), kIdent.end() - 1, bad.begin()));
    EXPECT_EQ(reg.Feed(kPresence), Bytes{0xFA}); // not a frame: uses up nothing
    bad = reg.Feed(kLogStart);
    EXPECT_NE(bad.back(), kLog1.back());
    EXPECT_EQ(reg.Feed(kLogRepeat), kLog1);

    reg.faults().badCheckAlways = true;
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(reg.Feed(kRead).back(), kReadReply.back());
}

TEST(RegulatorFaults, SilenceAndMutedKinds)
{
    Regulator silent = Small();
    silent.faults().silent = true;
    EXPECT_EQ(silent.Feed(Cat({kWake, kRead, kPresence, kWrite, kLogStart})), Bytes{});
    EXPECT_EQ(silent.Block().throttleMax, 1500); // the write still arrived
    EXPECT_EQ(silent.Messages(), 5);

    Regulator mute = Small();
    mute.faults().mute = {Message::Presence};
    EXPECT_EQ(mute.Feed(Cat({kPresence, kRead})), kReadReply);
}

TEST(RegulatorFaults, GarbageAndPiecesReachTheSink)
{
    Regulator reg = Small();
    reg.faults().garbage = {0x00, 0x13};
    reg.faults().chunkSize = 5;
    std::vector<Bytes> pieces;
    reg.SetSink([&](const Bytes& p) { pieces.push_back(p); });

    const Bytes out = reg.Feed(Cat({kRead, kPresence}));
    EXPECT_EQ(out, Cat({{0x00, 0x13}, kReadReply, {0x00, 0x13, 0xFA}}));
    const std::vector<Bytes> expected = {
        {0x00, 0x13},
        {0xFE, 0x0B, 0x07, 0xD0, 0x04},
        {0x4C, 0x0F, 0x00, 0x76, 0x2A},
        {0x02, 0x01, 0x03, 0x39},
        {0x00, 0x13},
        {0xFA},
    };
    EXPECT_EQ(pieces, expected);
}

TEST(RegulatorFaults, HangUpAfterMessages)
{
    Regulator reg = Small();
    reg.faults().hangUpAfter = 2;
    EXPECT_EQ(reg.Feed(Cat({kWake, kDefault, kRead})), kIdent);
    EXPECT_TRUE(reg.HungUp());
    EXPECT_EQ(reg.Feed(kPresence), Bytes{});
    EXPECT_EQ(reg.Count(Message::Read), 0);
}

TEST(RegulatorFaults, StallHoldsRepliesAndSendsThemAllWithTheNext)
{
    Regulator reg = Small();
    reg.faults().stall = true;
    EXPECT_EQ(reg.Feed(Cat({kWake, kWake, kPresence})), Bytes{});
    EXPECT_EQ(reg.Count(Message::WakeUp), 2) << "heard, only not answered";
    reg.faults().stall = false;
    EXPECT_EQ(reg.Feed(kRead), Cat({kIdent, kIdent, {0xFA}, kReadReply}));
    EXPECT_EQ(reg.Feed(kRead), kReadReply) << "held replies go out once";
}
